// Writes screenshot PNGs for an independent decoder to check. For each case
// NAME in the output folder: NAME.png, NAME.source.rgb (the input pixels) and
// NAME.reduced.rgb (the palette-reduced pixels), both as RGB bytes, rows
// top-down; the list of cases with sizes and colour counts goes to stdout.
#include <cstdio>
#include <string>

#include "crash/mail/Png.h"
#include "crash/mail/TestImages.h"

namespace {

bool WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file)
    return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && ok;
}

bool WriteCase(const std::string& folder, const std::string& name, const TestImage& image) {
  const PalettedImage reduced = ReduceToPalette(image.view);
  std::vector<std::uint8_t> source, out;
  for (std::size_t y = 0; y < image.view.height; ++y) {
    for (std::size_t x = 0; x < image.view.width; ++x) {
      const Rgb s = PixelAt(image.view, x, y);
      const Rgb r = reduced.palette[reduced.indices[y * reduced.width + x]];
      source.insert(source.end(), {s.red, s.green, s.blue});
      out.insert(out.end(), {r.red, r.green, r.blue});
    }
  }
  const std::vector<std::uint8_t> png = WriteScreenshotPng(image.view);
  if (png.empty())
    return false;
  const std::string base = folder + "/" + name;
  if (!WriteFile(base + ".png", png) || !WriteFile(base + ".source.rgb", source) ||
      !WriteFile(base + ".reduced.rgb", out))
    return false;
  std::printf("%s %zu %zu %zu\n", name.c_str(), image.view.width, image.view.height, reduced.palette.size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s output-folder\n", argv[0]);
    return 2;
  }
  const std::string folder = argv[1];
  const bool ok = WriteCase(folder, "one-pixel", MakeFewColourImage(1, 1, PixelFormat::Bgra32, 1)) &&
                  WriteCase(folder, "two-colours-bgr", MakeFewColourImage(37, 5, PixelFormat::Bgr24, 2)) &&
                  WriteCase(folder, "full-palette-bgr", MakeFewColourImage(301, 97, PixelFormat::Bgr24, 256)) &&
                  WriteCase(folder, "full-palette-bgra", MakeFewColourImage(128, 128, PixelFormat::Bgra32, 256)) &&
                  WriteCase(folder, "many-colours-bgra", MakeManyColourImage(640, 400, PixelFormat::Bgra32)) &&
                  WriteCase(folder, "many-colours-bgr", MakeManyColourImage(333, 211, PixelFormat::Bgr24));
  return ok ? 0 : 1;
}
