// Resizing a picture whose background is a key colour, for pictures that
// are drawn at another size than their bitmap's: every target pixel takes
// the area-weighted average of the source pixels it covers, the key colour
// counting as transparent. The result carries premultiplied alpha, for
// AlphaBlend, so the edges blend into whatever lies beneath. No platform
// call: built and tested natively.
#pragma once

#include <cstdint>
#include <vector>

// Pixels as 32-bit values in the platform's DIB order: 0xAARRGGBB, rows top
// down. The source's alpha bytes are ignored; a pixel whose colour (the low
// 24 bits) is `key` is transparent. Empty when a size is not positive or
// the source is smaller than width * height.
std::vector<std::uint32_t> ScaleKeyedPicture(const std::vector<std::uint32_t>& source, int width, int height,
                                             std::uint32_t key, int targetWidth, int targetHeight);
