// Scaling a form's layout from its description, which gives positions,
// sizes and font heights in pixels at 96 dots per inch, to the dots per inch
// of the monitor its window is on. No platform call: built and tested
// natively.
#pragma once

#include "toolkit/DescriptionValues.h"

// The dots per inch the descriptions are written for.
inline constexpr int kDesignDpi = 96;

// value * dpi / 96, rounded half away from zero.
int ScaleToDpi(int value, int dpi);

// A dots-per-inch value another program may hand us (WM_DPICHANGED carries
// it in a message anyone can send): false for 0 and for the absurd.
bool IsUsableDpi(long dpi);

struct TBounds {
  int left = 0, top = 0, width = 0, height = 0;
  int Right() const { return left + width; }
  int Bottom() const { return top + height; }
};

// The edges are scaled rather than the width and height, so controls that
// touch in the description touch at every scale and never overlap.
TBounds ScaleBounds(const TBounds& design, int dpi);

// The character height scaled; never below one pixel.
TFont ScaleFont(const TFont& design, int dpi);

struct TSize {
  int width = 0, height = 0;
};

// A form's outer size at dpi: the description gives the outer size at 96
// dpi, frame included. The client part scales; the frame is the platform's
// at each dpi (frame96 and frameAtDpi: outer minus client).
TSize ScaleOuterSize(const TSize& outer96, const TSize& frame96, const TSize& frameAtDpi, int dpi);

// The pictures come at 100, 150 and 200 percent. The smallest that is at
// least as large as dpi asks, else the largest: shrinking a larger one
// loses less than enlarging a smaller one.
int PictureScaleFor(int dpi);
