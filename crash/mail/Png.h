// PNG files of the screenshot that goes with a mailed bug report.
#pragma once

#include <cstdint>
#include <vector>

#include "crash/mail/Palette.h"

// An 8-bit palette PNG (colour type 3, no interlace, filter "none" on every
// row, which suits palette indices). Empty when the image is empty, larger
// than the format allows, inconsistent, or compression fails.
std::vector<std::uint8_t> EncodePalettePng(const PalettedImage& image);

// The screenshot's file content: the pixels reduced to a palette, then encoded.
std::vector<std::uint8_t> WriteScreenshotPng(const PixelView& image);
