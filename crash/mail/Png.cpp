#include "crash/mail/Png.h"

#include <zlib.h>

#include <algorithm>

namespace {

using Bytes = std::vector<std::uint8_t>;

void PutUint32(Bytes& out, std::uint32_t value) {
  out.push_back(static_cast<std::uint8_t>(value >> 24));
  out.push_back(static_cast<std::uint8_t>(value >> 16));
  out.push_back(static_cast<std::uint8_t>(value >> 8));
  out.push_back(static_cast<std::uint8_t>(value));
}

// Length, type, data, then the CRC over type and data.
void PutChunk(Bytes& out, const char type[4], const Bytes& data) {
  PutUint32(out, static_cast<std::uint32_t>(data.size()));
  const std::size_t typeAt = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data.begin(), data.end());
  uLong crc = crc32(0L, Z_NULL, 0);
  // crc32 takes a uInt length; chunks here stay far below 4 GB, but feed in
  // pieces anyway so the type stays honest on every target.
  const std::uint8_t* from = out.data() + typeAt;
  std::size_t left = out.size() - typeAt;
  while (left > 0) {
    const uInt piece = static_cast<uInt>(std::min<std::size_t>(left, 1u << 30));
    crc = crc32(crc, from, piece);
    from += piece;
    left -= piece;
  }
  PutUint32(out, static_cast<std::uint32_t>(crc));
}

bool Deflate(const Bytes& raw, Bytes& compressed) {
  z_stream stream{};
  if (deflateInit(&stream, Z_BEST_COMPRESSION) != Z_OK)
    return false;
  compressed.resize(deflateBound(&stream, static_cast<uLong>(raw.size())));
  stream.next_in = const_cast<Bytef*>(raw.data());
  stream.avail_in = static_cast<uInt>(raw.size());
  stream.next_out = compressed.data();
  stream.avail_out = static_cast<uInt>(compressed.size());
  const int status = deflate(&stream, Z_FINISH);
  const std::size_t written = stream.total_out;
  deflateEnd(&stream);
  if (status != Z_STREAM_END)
    return false;
  compressed.resize(written);
  return true;
}

}  // namespace

std::vector<std::uint8_t> EncodePalettePng(const PalettedImage& image) {
  // PNG dimensions are at most 2^31 - 1; zlib's single-call lengths are
  // 32-bit; 1 GB of filtered rows keeps deflateBound well inside them.
  constexpr std::size_t kMaxDimension = 0x7FFFFFFF;
  constexpr std::size_t kMaxRaw = std::size_t{1} << 30;
  if (image.width == 0 || image.height == 0 || image.width > kMaxDimension || image.height > kMaxDimension)
    return {};
  if (image.palette.empty() || image.palette.size() > 256)
    return {};
  if (image.width + 1 > kMaxRaw / image.height || image.indices.size() / image.height != image.width ||
      image.indices.size() % image.height != 0)
    return {};
  for (std::uint8_t index : image.indices) {
    if (index >= image.palette.size())
      return {};
  }

  Bytes raw;
  raw.reserve((image.width + 1) * image.height);
  for (std::size_t y = 0; y < image.height; ++y) {
    raw.push_back(0);  // filter type: none
    const auto row = image.indices.begin() + static_cast<std::ptrdiff_t>(y * image.width);
    raw.insert(raw.end(), row, row + static_cast<std::ptrdiff_t>(image.width));
  }
  Bytes compressed;
  if (!Deflate(raw, compressed))
    return {};

  Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  Bytes header;
  PutUint32(header, static_cast<std::uint32_t>(image.width));
  PutUint32(header, static_cast<std::uint32_t>(image.height));
  header.push_back(8);  // bit depth
  header.push_back(3);  // colour type: palette
  header.push_back(0);  // compression: deflate
  header.push_back(0);  // filter method: adaptive
  header.push_back(0);  // no interlace
  PutChunk(png, "IHDR", header);

  Bytes palette;
  for (const Rgb& colour : image.palette) {
    palette.push_back(colour.red);
    palette.push_back(colour.green);
    palette.push_back(colour.blue);
  }
  PutChunk(png, "PLTE", palette);
  PutChunk(png, "IDAT", compressed);
  PutChunk(png, "IEND", Bytes());
  return png;
}

std::vector<std::uint8_t> WriteScreenshotPng(const PixelView& image) {
  return EncodePalettePng(ReduceToPalette(image));
}
