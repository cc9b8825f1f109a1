#include "toolkit/DpiScale.h"

#include <algorithm>
#include <cstdint>
#include <limits>

int ScaleToDpi(int value, int dpi) {
  const std::int64_t product = static_cast<std::int64_t>(value) * dpi;
  const std::int64_t half = kDesignDpi / 2;
  const std::int64_t scaled = product >= 0 ? (product + half) / kDesignDpi : -((-product + half) / kDesignDpi);
  return static_cast<int>(std::clamp<std::int64_t>(scaled, std::numeric_limits<int>::min(),
                                                   std::numeric_limits<int>::max()));
}

bool IsUsableDpi(long dpi) { return dpi >= 48 && dpi <= 960; }

TBounds ScaleBounds(const TBounds& design, int dpi) {
  TBounds scaled;
  scaled.left = ScaleToDpi(design.left, dpi);
  scaled.top = ScaleToDpi(design.top, dpi);
  scaled.width = ScaleToDpi(design.Right(), dpi) - scaled.left;
  scaled.height = ScaleToDpi(design.Bottom(), dpi) - scaled.top;
  return scaled;
}

TFont ScaleFont(const TFont& design, int dpi) {
  TFont scaled = design;
  scaled.height = std::max(1, ScaleToDpi(design.height, dpi));
  return scaled;
}

TSize ScaleOuterSize(const TSize& outer96, const TSize& frame96, const TSize& frameAtDpi, int dpi) {
  TSize outer;
  outer.width = ScaleToDpi(std::max(0, outer96.width - frame96.width), dpi) + frameAtDpi.width;
  outer.height = ScaleToDpi(std::max(0, outer96.height - frame96.height), dpi) + frameAtDpi.height;
  return outer;
}

int PictureScaleFor(int dpi) {
  for (int scale : {100, 150, 200})
    if (scale * kDesignDpi >= dpi * 100) return scale;
  return 200;
}
