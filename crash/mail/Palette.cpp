#include "crash/mail/Palette.h"

#include <algorithm>
#include <array>

namespace {

constexpr std::size_t kMaxColours = 256;

// Histogram cells: 6 bits per channel keep close shades of one interface
// colour together while staying small enough to cut quickly.
constexpr unsigned kCellBits = 6;
constexpr unsigned kCellShift = 8 - kCellBits;
constexpr std::size_t kCellCount = std::size_t{1} << (3 * kCellBits);

std::uint32_t PackRgb(const std::uint8_t* pixel) {
  return (std::uint32_t{pixel[2]} << 16) | (std::uint32_t{pixel[1]} << 8) | pixel[0];
}

Rgb UnpackRgb(std::uint32_t packed) {
  Rgb rgb;
  rgb.red = static_cast<std::uint8_t>(packed >> 16);
  rgb.green = static_cast<std::uint8_t>(packed >> 8);
  rgb.blue = static_cast<std::uint8_t>(packed);
  return rgb;
}

std::size_t BytesPerPixel(PixelFormat format) {
  return format == PixelFormat::Bgr24 ? 3 : 4;
}

template <typename Visit>
void ForEachPixel(const PixelView& image, Visit visit) {
  const std::size_t step = BytesPerPixel(image.format);
  for (std::size_t y = 0; y < image.height; ++y) {
    const std::uint8_t* pixel = image.pixels + y * image.stride;
    for (std::size_t x = 0; x < image.width; ++x, pixel += step) {
      if (!visit(PackRgb(pixel)))
        return;
    }
  }
}

// Tries the exact palette: fails as soon as a 257th colour shows up.
bool ReduceExactly(const PixelView& image, PalettedImage& out) {
  constexpr std::size_t kSlots = 1024;  // power of two, well above 256
  constexpr std::uint32_t kEmpty = 0xFFFFFFFFu;
  std::array<std::uint32_t, kSlots> keys;
  std::array<std::uint8_t, kSlots> values{};
  keys.fill(kEmpty);

  std::uint32_t lastColour = kEmpty;
  std::uint8_t lastIndex = 0;
  bool fits = true;
  ForEachPixel(image, [&](std::uint32_t colour) {
    if (colour != lastColour) {
      std::size_t slot = (colour * 2654435761u) & (kSlots - 1);
      while (keys[slot] != kEmpty && keys[slot] != colour)
        slot = (slot + 1) & (kSlots - 1);
      if (keys[slot] == kEmpty) {
        if (out.palette.size() == kMaxColours) {
          fits = false;
          return false;
        }
        keys[slot] = colour;
        values[slot] = static_cast<std::uint8_t>(out.palette.size());
        out.palette.push_back(UnpackRgb(colour));
      }
      lastColour = colour;
      lastIndex = values[slot];
    }
    out.indices.push_back(lastIndex);
    return true;
  });
  return fits;
}

std::size_t CellOf(std::uint32_t colour) {
  const std::uint32_t red = (colour >> 16) & 0xFF, green = (colour >> 8) & 0xFF, blue = colour & 0xFF;
  return ((red >> kCellShift) << (2 * kCellBits)) | ((green >> kCellShift) << kCellBits) | (blue >> kCellShift);
}

unsigned CellChannel(std::size_t cell, int channel) {
  return static_cast<unsigned>(cell >> ((2 - channel) * kCellBits)) & ((1u << kCellBits) - 1);
}

struct Cell {
  std::uint64_t count = 0;
  std::uint64_t sum[3] = {0, 0, 0};  // red, green, blue
};

struct Box {
  std::size_t begin = 0, end = 0;  // range of occupied cells
  std::uint64_t count = 0;
  int widestChannel = 0;
  unsigned widestRange = 0;
};

void Measure(Box& box, const std::vector<std::uint32_t>& occupied, const std::vector<Cell>& cells) {
  unsigned low[3] = {255, 255, 255}, high[3] = {0, 0, 0};
  box.count = 0;
  for (std::size_t i = box.begin; i < box.end; ++i) {
    box.count += cells[occupied[i]].count;
    for (int c = 0; c < 3; ++c) {
      const unsigned v = CellChannel(occupied[i], c);
      low[c] = std::min(low[c], v);
      high[c] = std::max(high[c], v);
    }
  }
  box.widestChannel = 0;
  box.widestRange = 0;
  for (int c = 0; c < 3; ++c) {
    if (high[c] - low[c] > box.widestRange) {
      box.widestRange = high[c] - low[c];
      box.widestChannel = c;
    }
  }
}

Rgb MeanColour(const Cell& cell) {
  auto mean = [&](int c) { return static_cast<std::uint8_t>((cell.sum[c] + cell.count / 2) / cell.count); };
  Rgb rgb;
  rgb.red = mean(0);
  rgb.green = mean(1);
  rgb.blue = mean(2);
  return rgb;
}

std::uint32_t Distance(const Rgb& a, const Rgb& b) {
  const int dr = a.red - b.red, dg = a.green - b.green, db = a.blue - b.blue;
  return static_cast<std::uint32_t>(dr * dr + dg * dg + db * db);
}

void ReduceByMedianCut(const PixelView& image, PalettedImage& out) {
  std::vector<Cell> cells(kCellCount);
  ForEachPixel(image, [&](std::uint32_t colour) {
    Cell& cell = cells[CellOf(colour)];
    ++cell.count;
    cell.sum[0] += (colour >> 16) & 0xFF;
    cell.sum[1] += (colour >> 8) & 0xFF;
    cell.sum[2] += colour & 0xFF;
    return true;
  });

  std::vector<std::uint32_t> occupied;
  for (std::size_t i = 0; i < kCellCount; ++i) {
    if (cells[i].count != 0)
      occupied.push_back(static_cast<std::uint32_t>(i));
  }

  std::vector<Box> boxes(1);
  boxes[0].end = occupied.size();
  Measure(boxes[0], occupied, cells);
  while (boxes.size() < kMaxColours) {
    // Cut the box that is both crowded and wide; a single cell cannot be cut.
    std::size_t best = boxes.size();
    std::uint64_t bestScore = 0;
    for (std::size_t i = 0; i < boxes.size(); ++i) {
      if (boxes[i].end - boxes[i].begin < 2 || boxes[i].widestRange == 0)
        continue;
      const std::uint64_t score = boxes[i].count * boxes[i].widestRange;
      if (score > bestScore) {
        bestScore = score;
        best = i;
      }
    }
    if (best == boxes.size())
      break;

    Box& box = boxes[best];
    const int channel = box.widestChannel;
    std::sort(occupied.begin() + static_cast<std::ptrdiff_t>(box.begin),
              occupied.begin() + static_cast<std::ptrdiff_t>(box.end), [&](std::uint32_t a, std::uint32_t b) {
                const unsigned va = CellChannel(a, channel), vb = CellChannel(b, channel);
                return va != vb ? va < vb : a < b;
              });
    // Weighted median; both halves keep at least one cell.
    std::uint64_t running = 0;
    std::size_t split = box.begin + 1;
    for (std::size_t i = box.begin; i + 1 < box.end; ++i) {
      running += cells[occupied[i]].count;
      split = i + 1;
      if (running * 2 >= box.count)
        break;
    }
    Box upper;
    upper.begin = split;
    upper.end = box.end;
    box.end = split;
    Measure(box, occupied, cells);
    Measure(upper, occupied, cells);
    boxes.push_back(upper);
  }

  for (const Box& box : boxes) {
    Cell total;
    for (std::size_t i = box.begin; i < box.end; ++i) {
      const Cell& cell = cells[occupied[i]];
      total.count += cell.count;
      for (int c = 0; c < 3; ++c)
        total.sum[c] += cell.sum[c];
    }
    out.palette.push_back(MeanColour(total));
  }

  // Each cell maps to the entry nearest its own mean, which can be a better
  // fit than the entry of the box it was cut into.
  std::vector<std::uint8_t> lookup(kCellCount, 0);
  for (std::uint32_t cell : occupied) {
    const Rgb mean = MeanColour(cells[cell]);
    std::uint32_t bestDistance = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < out.palette.size(); ++i) {
      const std::uint32_t d = Distance(mean, out.palette[i]);
      if (d < bestDistance) {
        bestDistance = d;
        lookup[cell] = static_cast<std::uint8_t>(i);
      }
    }
  }
  ForEachPixel(image, [&](std::uint32_t colour) {
    out.indices.push_back(lookup[CellOf(colour)]);
    return true;
  });
}

}  // namespace

PalettedImage ReduceToPalette(const PixelView& image) {
  PalettedImage out;
  out.width = image.width;
  out.height = image.height;
  if (image.pixels == nullptr || image.width == 0 || image.height == 0)
    return out;
  out.indices.reserve(image.width * image.height);
  if (ReduceExactly(image, out))
    return out;
  out.palette.clear();
  out.indices.clear();
  ReduceByMedianCut(image, out);
  return out;
}
