// Colour reduction of a screenshot to an 8-bit palette.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

enum class PixelFormat {
  Bgr24,   // 3 bytes per pixel: blue, green, red
  Bgra32,  // 4 bytes per pixel: blue, green, red, unused
};

// A view of caller-owned pixels, rows top-down, `stride` bytes apart (device
// independent bitmaps pad rows to four bytes).
struct PixelView {
  const std::uint8_t* pixels = nullptr;
  std::size_t width = 0;
  std::size_t height = 0;
  std::size_t stride = 0;
  PixelFormat format = PixelFormat::Bgra32;
};

struct Rgb {
  std::uint8_t red = 0;
  std::uint8_t green = 0;
  std::uint8_t blue = 0;
  bool operator==(const Rgb& other) const {
    return red == other.red && green == other.green && blue == other.blue;
  }
  bool operator!=(const Rgb& other) const { return !(*this == other); }
};

struct PalettedImage {
  std::size_t width = 0;
  std::size_t height = 0;
  std::vector<Rgb> palette;             // 1 to 256 entries (empty for an empty image)
  std::vector<std::uint8_t> indices;    // width * height, rows top-down
};

// An image with at most 256 colours keeps them exactly (palette in order of
// first appearance). Otherwise a median cut over a 6-bit-per-channel
// histogram picks the palette, each entry the mean of the exact colours it
// stands for, and each pixel takes the nearest entry; no dithering, so flat
// areas and text stay clean.
PalettedImage ReduceToPalette(const PixelView& image);
