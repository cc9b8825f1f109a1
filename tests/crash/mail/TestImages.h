// Synthetic screenshots shared by the palette tests and the PNG fixture.
#pragma once

#include <cstdint>
#include <vector>

#include "crash/mail/Palette.h"

struct TestImage {
  std::vector<std::uint8_t> bytes;
  PixelView view;
};

inline void PutPixel(TestImage& image, std::size_t x, std::size_t y, std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  std::uint8_t* p = image.bytes.data() + y * image.view.stride +
                    x * (image.view.format == PixelFormat::Bgr24 ? 3 : 4);
  p[0] = b;
  p[1] = g;
  p[2] = r;
  if (image.view.format == PixelFormat::Bgra32)
    p[3] = static_cast<std::uint8_t>(x * 7 + y);  // junk: the fourth byte means nothing
}

inline TestImage MakeImage(std::size_t width, std::size_t height, PixelFormat format) {
  TestImage image;
  image.view.format = format;
  image.view.width = width;
  image.view.height = height;
  const std::size_t rowBytes = width * (format == PixelFormat::Bgr24 ? 3 : 4);
  image.view.stride = (rowBytes + 3) & ~std::size_t{3};
  image.bytes.assign(image.view.stride * height, 0xEE);  // padding junk too
  image.view.pixels = image.bytes.data();
  return image;
}

inline Rgb PixelAt(const PixelView& view, std::size_t x, std::size_t y) {
  const std::uint8_t* p = view.pixels + y * view.stride + x * (view.format == PixelFormat::Bgr24 ? 3 : 4);
  Rgb rgb;
  rgb.red = p[2];
  rgb.green = p[1];
  rgb.blue = p[0];
  return rgb;
}

// A window-like picture with exactly `colours` colours (at most 256): a
// background, "text" strokes and a ramp of the rest.
inline TestImage MakeFewColourImage(std::size_t width, std::size_t height, PixelFormat format, unsigned colours) {
  TestImage image = MakeImage(width, height, format);
  for (std::size_t y = 0; y < height; ++y) {
    for (std::size_t x = 0; x < width; ++x) {
      const unsigned c = static_cast<unsigned>((x / 2 + y * 3) % colours);
      PutPixel(image, x, y, static_cast<std::uint8_t>(c), static_cast<std::uint8_t>(255 - c),
               static_cast<std::uint8_t>(c * 37));
    }
  }
  return image;
}

// Flat white, black and title-bar blue areas beside a red/green gradient
// (blue fixed at 128) that has thousands of colours.
inline TestImage MakeManyColourImage(std::size_t width, std::size_t height, PixelFormat format) {
  TestImage image = MakeImage(width, height, format);
  for (std::size_t y = 0; y < height; ++y) {
    for (std::size_t x = 0; x < width; ++x) {
      if (y < height / 8)
        PutPixel(image, x, y, 0, 84, 227);
      else if (x < width / 3)
        PutPixel(image, x, y, (x + y) % 5 == 0 ? 0 : 255, (x + y) % 5 == 0 ? 0 : 255, (x + y) % 5 == 0 ? 0 : 255);
      else
        PutPixel(image, x, y, static_cast<std::uint8_t>(x * 255 / width), static_cast<std::uint8_t>(y * 255 / height),
                 128);
    }
  }
  return image;
}
