#include "toolkit/PictureScale.h"

#include <algorithm>
#include <cmath>

namespace {

// How much of each source pixel along one axis falls into each target
// pixel: for target i, the source interval [i * from / to, (i + 1) * from / to).
struct Span {
  int first = 0;
  std::vector<double> weights;  // of source pixels first, first + 1, ...
};

std::vector<Span> Spans(int from, int to) {
  std::vector<Span> spans(static_cast<std::size_t>(to));
  const double step = static_cast<double>(from) / to;
  for (int i = 0; i < to; ++i) {
    const double begin = i * step, end = (i + 1) * step;
    Span& span = spans[static_cast<std::size_t>(i)];
    span.first = static_cast<int>(std::floor(begin));
    for (int s = span.first; s < from && s < end; ++s) {
      const double covered = std::min<double>(end, s + 1) - std::max<double>(begin, s);
      span.weights.push_back(covered / step);
    }
  }
  return spans;
}

}  // namespace

std::vector<std::uint32_t> ScaleKeyedPicture(const std::vector<std::uint32_t>& source, int width, int height,
                                             std::uint32_t key, int targetWidth, int targetHeight) {
  std::vector<std::uint32_t> target;
  if (width <= 0 || height <= 0 || targetWidth <= 0 || targetHeight <= 0 ||
      source.size() < static_cast<std::size_t>(width) * static_cast<std::size_t>(height))
    return target;
  key &= 0xFFFFFF;
  const std::vector<Span> columns = Spans(width, targetWidth), rows = Spans(height, targetHeight);
  target.resize(static_cast<std::size_t>(targetWidth) * static_cast<std::size_t>(targetHeight));
  for (int y = 0; y < targetHeight; ++y) {
    const Span& row = rows[static_cast<std::size_t>(y)];
    for (int x = 0; x < targetWidth; ++x) {
      const Span& column = columns[static_cast<std::size_t>(x)];
      double red = 0, green = 0, blue = 0, alpha = 0;
      for (std::size_t j = 0; j < row.weights.size(); ++j) {
        const std::size_t line = static_cast<std::size_t>(row.first + static_cast<int>(j)) * width;
        for (std::size_t i = 0; i < column.weights.size(); ++i) {
          const std::uint32_t pixel = source[line + static_cast<std::size_t>(column.first) + i] & 0xFFFFFF;
          if (pixel == key) continue;
          const double weight = row.weights[j] * column.weights[i];
          red += weight * (pixel >> 16 & 0xFF);
          green += weight * (pixel >> 8 & 0xFF);
          blue += weight * (pixel & 0xFF);
          alpha += weight;
        }
      }
      auto byte = [](double v) { return static_cast<std::uint32_t>(std::clamp(std::lround(v), 0L, 255L)); };
      // Premultiplied: the colour sums are already weighted by coverage.
      target[static_cast<std::size_t>(y) * targetWidth + x] =
          byte(alpha * 255) << 24 | byte(red) << 16 | byte(green) << 8 | byte(blue);
    }
  }
  return target;
}
