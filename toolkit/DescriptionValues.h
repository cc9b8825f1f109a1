// Typed readings of window-description properties, shared by the form and
// its controls: booleans, numbers, colours, fonts, alignment, border icons.
// A value of the wrong kind throws DescriptionError naming the property's
// line, so a broken description fails while the form is built, not later on
// the screen.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "toolkit/WindowDescription.h"

// A colour as the platform takes it: 0x00BBGGRR.
using TColor = std::uint32_t;
constexpr TColor MakeColor(unsigned red, unsigned green, unsigned blue) {
  return (red & 0xFF) | (green & 0xFF) << 8 | (blue & 0xFF) << 16;
}

struct TFont {
  std::string name = "MS Sans Serif";  // code page 936
  int height = 11;                     // character height in pixels
  TColor color = MakeColor(0, 0, 0);
};

enum class TAlignment { Left, Center, Right };

enum TBorderIcon : unsigned { biSystemMenu = 1, biMinimize = 2, biMaximize = 4 };

// true or false.
bool DescBool(const DescProperty& property);
// The integer at index.
int DescInt(const DescProperty& property, std::size_t index = 0);
// #RRGGBB (or an integer 0xRRGGBB) at index, as a platform colour.
TColor DescColor(const DescProperty& property, std::size_t index = 0);
// Font = "face"[, height[, #colour]]: what is given replaces base's.
TFont DescFont(const DescProperty& property, const TFont& base);
// Center or Right; anything else is Left.
TAlignment DescAlignment(const DescProperty& property);
// BorderIcons = SystemMenu, Minimize, Maximize (any of them; others ignored).
unsigned DescBorderIcons(const DescProperty& property);
