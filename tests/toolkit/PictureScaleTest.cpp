// Resizing keyed pictures with an area filter into premultiplied alpha.
#include <gtest/gtest.h>

#include "toolkit/PictureScale.h"

namespace {

constexpr std::uint32_t kKey = 0xFF00FF;
constexpr std::uint32_t kBlue = 0x2878D2;

std::uint32_t Alpha(std::uint32_t p) { return p >> 24; }
std::uint32_t Red(std::uint32_t p) { return p >> 16 & 0xFF; }
std::uint32_t Green(std::uint32_t p) { return p >> 8 & 0xFF; }
std::uint32_t Blue(std::uint32_t p) { return p & 0xFF; }

TEST(PictureScale, AnOpaquePictureKeepsItsColourAtAnySize) {
  const std::vector<std::uint32_t> source(6 * 4, kBlue);
  for (const auto& size : {std::pair<int, int>{6, 4}, {9, 6}, {4, 3}, {13, 1}}) {
    const auto scaled = ScaleKeyedPicture(source, 6, 4, kKey, size.first, size.second);
    ASSERT_EQ(scaled.size(), static_cast<std::size_t>(size.first * size.second));
    for (std::uint32_t p : scaled) EXPECT_EQ(p, 0xFF000000 | kBlue);
  }
}

TEST(PictureScale, TheKeyColourBecomesTransparentWhateverItsAlphaByte) {
  const std::vector<std::uint32_t> source(4, 0x12000000 | kKey);
  for (std::uint32_t p : ScaleKeyedPicture(source, 2, 2, kKey, 3, 3)) EXPECT_EQ(p, 0u);
}

TEST(PictureScale, HalvingAveragesEachBlockWithItsCoverage) {
  // One opaque white pixel of four: a quarter covered, a quarter white,
  // premultiplied.
  const std::vector<std::uint32_t> source = {0xFFFFFF, kKey, kKey, kKey};
  const auto scaled = ScaleKeyedPicture(source, 2, 2, kKey, 1, 1);
  ASSERT_EQ(scaled.size(), 1u);
  EXPECT_EQ(Alpha(scaled[0]), 64u);
  EXPECT_EQ(Red(scaled[0]), 64u);
  EXPECT_EQ(Green(scaled[0]), 64u);
  EXPECT_EQ(Blue(scaled[0]), 64u);
}

TEST(PictureScale, AnEdgeBlendsAndNoColourExceedsItsAlpha) {
  // A blue bar over the key, enlarged by 1.5 and shrunk by 0.7: the edge
  // pixels are partly covered, and never tinted by the key colour.
  std::vector<std::uint32_t> source(10 * 10, kKey);
  for (int y = 3; y < 7; ++y)
    for (int x = 0; x < 10; ++x) source[y * 10 + x] = kBlue;
  for (int size : {15, 7}) {
    const auto scaled = ScaleKeyedPicture(source, 10, 10, kKey, size, size);
    bool partial = false;
    for (std::uint32_t p : scaled) {
      EXPECT_LE(Red(p), Alpha(p));
      EXPECT_LE(Green(p), Alpha(p));
      EXPECT_LE(Blue(p), Alpha(p));
      if (Alpha(p) > 0 && Alpha(p) < 255) {
        partial = true;
        // Unpremultiplied, it is the bar's own blue.
        EXPECT_NEAR(Blue(p) * 255.0 / Alpha(p), 0xD2, 3);
        EXPECT_NEAR(Red(p) * 255.0 / Alpha(p), 0x28, 3);
      }
    }
    EXPECT_TRUE(partial) << size;
  }
}

TEST(PictureScale, ANonsenseSizeOrAShortSourceGivesNothing) {
  const std::vector<std::uint32_t> source(4, kBlue);
  EXPECT_TRUE(ScaleKeyedPicture(source, 2, 2, kKey, 0, 5).empty());
  EXPECT_TRUE(ScaleKeyedPicture(source, 2, -2, kKey, 5, 5).empty());
  EXPECT_TRUE(ScaleKeyedPicture(source, 3, 2, kKey, 5, 5).empty());
}

}  // namespace
