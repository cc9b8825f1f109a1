#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>
#include <set>
#include <string>

#include "crash/mail/Png.h"
#include "crash/mail/TestImages.h"

namespace {

Rgb Reduced(const PalettedImage& image, std::size_t x, std::size_t y) {
  return image.palette.at(image.indices.at(y * image.width + x));
}

}  // namespace

TEST(ReduceToPalette, KeepsUpTo256ColoursExactly) {
  for (PixelFormat format : {PixelFormat::Bgr24, PixelFormat::Bgra32}) {
    const TestImage image = MakeFewColourImage(157, 61, format, 256);
    const PalettedImage reduced = ReduceToPalette(image.view);
    ASSERT_EQ(reduced.palette.size(), 256u);
    ASSERT_EQ(reduced.indices.size(), 157u * 61u);
    std::set<std::uint32_t> distinct;
    for (const Rgb& c : reduced.palette)
      distinct.insert((c.red << 16) | (c.green << 8) | c.blue);
    EXPECT_EQ(distinct.size(), 256u);
    for (std::size_t y = 0; y < 61; ++y)
      for (std::size_t x = 0; x < 157; ++x)
        ASSERT_EQ(Reduced(reduced, x, y), PixelAt(image.view, x, y)) << x << "," << y;
  }
}

TEST(ReduceToPalette, ExactPaletteIsInOrderOfFirstAppearance) {
  TestImage image = MakeImage(3, 2, PixelFormat::Bgr24);
  PutPixel(image, 0, 0, 9, 9, 9);
  PutPixel(image, 1, 0, 1, 2, 3);
  PutPixel(image, 2, 0, 9, 9, 9);
  PutPixel(image, 0, 1, 200, 0, 0);
  PutPixel(image, 1, 1, 1, 2, 3);
  PutPixel(image, 2, 1, 200, 0, 0);
  const PalettedImage reduced = ReduceToPalette(image.view);
  ASSERT_EQ(reduced.palette.size(), 3u);
  EXPECT_EQ(reduced.palette[0], (Rgb{9, 9, 9}));
  EXPECT_EQ(reduced.palette[1], (Rgb{1, 2, 3}));
  EXPECT_EQ(reduced.palette[2], (Rgb{200, 0, 0}));
  EXPECT_EQ(reduced.indices, (std::vector<std::uint8_t>{0, 1, 0, 2, 1, 2}));
}

TEST(ReduceToPalette, ManyColoursKeepFlatAreasExactAndGradientsClose) {
  const TestImage image = MakeManyColourImage(320, 240, PixelFormat::Bgra32);
  const PalettedImage reduced = ReduceToPalette(image.view);
  ASSERT_GT(reduced.palette.size(), 200u);
  ASSERT_LE(reduced.palette.size(), 256u);
  ASSERT_EQ(reduced.indices.size(), 320u * 240u);

  double error = 0;
  std::size_t gradientPixels = 0;
  for (std::size_t y = 0; y < 240; ++y) {
    for (std::size_t x = 0; x < 320; ++x) {
      const Rgb source = PixelAt(image.view, x, y);
      const Rgb out = Reduced(reduced, x, y);
      if (y < 30 || x < 320 / 3) {
        ASSERT_EQ(out, source) << "flat colour changed at " << x << "," << y;
      } else {
        error += std::abs(out.red - source.red) + std::abs(out.green - source.green) +
                 std::abs(out.blue - source.blue);
        ++gradientPixels;
      }
    }
  }
  EXPECT_LT(error / (3.0 * static_cast<double>(gradientPixels)), 6.0);
}

TEST(ReduceToPalette, EmptyImageGivesEmptyResultAndNoPng) {
  PixelView empty;
  const PalettedImage reduced = ReduceToPalette(empty);
  EXPECT_TRUE(reduced.palette.empty());
  EXPECT_TRUE(reduced.indices.empty());
  EXPECT_TRUE(WriteScreenshotPng(empty).empty());
}

namespace {

std::uint32_t ReadUint32(const std::vector<std::uint8_t>& bytes, std::size_t at) {
  return (std::uint32_t{bytes.at(at)} << 24) | (std::uint32_t{bytes.at(at + 1)} << 16) |
         (std::uint32_t{bytes.at(at + 2)} << 8) | bytes.at(at + 3);
}

// Bitwise CRC-32 as the PNG format defines it, independent of zlib's tables.
std::uint32_t ReferenceCrc(const std::uint8_t* data, std::size_t size) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < size; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit)
      crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return crc ^ 0xFFFFFFFFu;
}

struct Chunk {
  std::string type;
  std::vector<std::uint8_t> data;
};

std::vector<Chunk> ReadChunks(const std::vector<std::uint8_t>& png) {
  static const std::uint8_t kSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  EXPECT_GE(png.size(), 8u);
  EXPECT_TRUE(std::equal(kSignature, kSignature + 8, png.begin()));
  std::vector<Chunk> chunks;
  for (std::size_t at = 8; at < png.size();) {
    const std::uint32_t length = ReadUint32(png, at);
    Chunk chunk;
    chunk.type.assign(png.begin() + static_cast<std::ptrdiff_t>(at + 4), png.begin() + static_cast<std::ptrdiff_t>(at + 8));
    chunk.data.assign(png.begin() + static_cast<std::ptrdiff_t>(at + 8),
                      png.begin() + static_cast<std::ptrdiff_t>(at + 8 + length));
    EXPECT_EQ(ReadUint32(png, at + 8 + length), ReferenceCrc(png.data() + at + 4, length + 4)) << chunk.type;
    chunks.push_back(chunk);
    at += 12 + length;
  }
  return chunks;
}

}  // namespace

TEST(PalettePng, ChunksCrcsAndRowsAreWellFormed) {
  const TestImage image = MakeManyColourImage(97, 33, PixelFormat::Bgr24);
  const PalettedImage reduced = ReduceToPalette(image.view);
  const std::vector<std::uint8_t> png = EncodePalettePng(reduced);
  const std::vector<Chunk> chunks = ReadChunks(png);
  ASSERT_EQ(chunks.size(), 4u);
  EXPECT_EQ(chunks[0].type, "IHDR");
  EXPECT_EQ(chunks[1].type, "PLTE");
  EXPECT_EQ(chunks[2].type, "IDAT");
  EXPECT_EQ(chunks[3].type, "IEND");
  EXPECT_TRUE(chunks[3].data.empty());

  ASSERT_EQ(chunks[0].data.size(), 13u);
  EXPECT_EQ(ReadUint32(chunks[0].data, 0), 97u);
  EXPECT_EQ(ReadUint32(chunks[0].data, 4), 33u);
  EXPECT_EQ(chunks[0].data[8], 8);   // bit depth
  EXPECT_EQ(chunks[0].data[9], 3);   // palette
  EXPECT_EQ(chunks[0].data[12], 0);  // no interlace

  ASSERT_EQ(chunks[1].data.size(), reduced.palette.size() * 3);
  for (std::size_t i = 0; i < reduced.palette.size(); ++i) {
    EXPECT_EQ(chunks[1].data[i * 3], reduced.palette[i].red);
    EXPECT_EQ(chunks[1].data[i * 3 + 2], reduced.palette[i].blue);
  }

  std::vector<std::uint8_t> rows((97 + 1) * 33);
  uLongf rowsSize = static_cast<uLongf>(rows.size());
  ASSERT_EQ(uncompress(rows.data(), &rowsSize, chunks[2].data.data(), static_cast<uLong>(chunks[2].data.size())),
            Z_OK);
  ASSERT_EQ(rowsSize, rows.size());
  for (std::size_t y = 0; y < 33; ++y) {
    EXPECT_EQ(rows[y * 98], 0) << "filter type of row " << y;
    for (std::size_t x = 0; x < 97; ++x)
      ASSERT_EQ(rows[y * 98 + 1 + x], reduced.indices[y * 97 + x]);
  }
}

TEST(PalettePng, RefusesInconsistentImages) {
  PalettedImage image;
  image.width = 2;
  image.height = 2;
  image.palette = {Rgb{1, 2, 3}};
  image.indices = {0, 0, 0, 0};
  EXPECT_FALSE(EncodePalettePng(image).empty());

  PalettedImage badIndex = image;
  badIndex.indices[3] = 1;
  EXPECT_TRUE(EncodePalettePng(badIndex).empty());

  PalettedImage shortRows = image;
  shortRows.indices.pop_back();
  EXPECT_TRUE(EncodePalettePng(shortRows).empty());

  PalettedImage noPalette = image;
  noPalette.palette.clear();
  EXPECT_TRUE(EncodePalettePng(noPalette).empty());

  PalettedImage tooBig = image;
  tooBig.width = std::size_t{1} << 31;
  EXPECT_TRUE(EncodePalettePng(tooBig).empty());
}
