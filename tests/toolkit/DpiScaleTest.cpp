// Scaling a description's layout to a display's dots per inch, and the
// agent's own description checked against it.
#include <gtest/gtest.h>

#include <fstream>
#include <limits>
#include <set>
#include <sstream>

#include "toolkit/DpiScale.h"
#include "toolkit/WindowDescription.h"

namespace {

TEST(DpiScale, ValuesScaleInProportionRoundedHalfAwayFromZero) {
  EXPECT_EQ(ScaleToDpi(17, 96), 17);
  EXPECT_EQ(ScaleToDpi(17, 144), 26);  // 25.5
  EXPECT_EQ(ScaleToDpi(17, 192), 34);
  EXPECT_EQ(ScaleToDpi(499, 120), 624);  // 623.75
  EXPECT_EQ(ScaleToDpi(-17, 144), -26);
  EXPECT_EQ(ScaleToDpi(0, 288), 0);
  // A description's numbers have up to nine digits: at ten times the scale
  // they no longer fit and stop at the largest.
  EXPECT_EQ(ScaleToDpi(999999999, 960), std::numeric_limits<int>::max());
  EXPECT_EQ(ScaleToDpi(-999999999, 960), std::numeric_limits<int>::min());
}

TEST(DpiScale, OnlyPlausibleDotsPerInchAreTakenFromAMessage) {
  EXPECT_FALSE(IsUsableDpi(0));
  EXPECT_FALSE(IsUsableDpi(-96));
  EXPECT_FALSE(IsUsableDpi(65535));
  EXPECT_TRUE(IsUsableDpi(96));
  EXPECT_TRUE(IsUsableDpi(144));
  EXPECT_TRUE(IsUsableDpi(480));
}

TEST(DpiScale, ABoxKeepsItsSizeWithinAPixelOfTheExactScale) {
  const TBounds design{165, 58, 138, 17};
  for (int dpi = 48; dpi <= 960; ++dpi) {
    const TBounds scaled = ScaleBounds(design, dpi);
    EXPECT_NEAR(scaled.width, 138.0 * dpi / 96, 1.0) << dpi;
    EXPECT_NEAR(scaled.height, 17.0 * dpi / 96, 1.0) << dpi;
    EXPECT_EQ(scaled.left, ScaleToDpi(165, dpi));
  }
  const TBounds at150 = ScaleBounds(design, 144);
  EXPECT_EQ(at150.left, 248);   // 247.5
  EXPECT_EQ(at150.top, 87);
  EXPECT_EQ(at150.width, 207);  // right edge 454.5 -> 455
  EXPECT_EQ(at150.height, 26);  // bottom 112.5 -> 113
}

TEST(DpiScale, BoxesThatTouchStillTouchAtEveryScale) {
  // The console picture ends where the arrows begin; scaling the widths
  // instead of the edges would make them overlap at 125 %.
  const TBounds console{14, 50, 130, 58}, arrows{144, 64, 161, 41};
  for (int dpi = 48; dpi <= 960; ++dpi) {
    EXPECT_EQ(ScaleBounds(console, dpi).Right(), ScaleBounds(arrows, dpi).left) << dpi;
  }
}

TEST(DpiScale, FontsScaleAndNeverVanish) {
  TFont design;
  design.name = "face";
  design.height = 12;
  design.color = MakeColor(91, 91, 91);
  const TFont scaled = ScaleFont(design, 144);
  EXPECT_EQ(scaled.height, 18);
  EXPECT_EQ(scaled.name, "face");
  EXPECT_EQ(scaled.color, design.color);
  EXPECT_EQ(ScaleFont(design, 192).height, 24);
  design.height = 1;
  EXPECT_EQ(ScaleFont(design, 48).height, 1);
}

TEST(DpiScale, TheClientPartOfTheOuterSizeScalesAndTheFrameIsThePlatforms) {
  // 499 x 213 with a 6 x 25 frame at 96 dpi: a 493 x 188 client.
  const TSize outer = ScaleOuterSize(TSize{499, 213}, TSize{6, 25}, TSize{8, 36}, 144);
  EXPECT_EQ(outer.width, 740 + 8);
  EXPECT_EQ(outer.height, 282 + 36);
  const TSize same = ScaleOuterSize(TSize{499, 213}, TSize{6, 25}, TSize{6, 25}, 96);
  EXPECT_EQ(same.width, 499);
  EXPECT_EQ(same.height, 213);
  // A frame larger than the whole leaves no negative client.
  const TSize tiny = ScaleOuterSize(TSize{4, 4}, TSize{6, 25}, TSize{9, 36}, 144);
  EXPECT_EQ(tiny.width, 9);
  EXPECT_EQ(tiny.height, 36);
}

TEST(DpiScale, ThePictureIsTheSmallestThatNeedsNoEnlarging) {
  EXPECT_EQ(PictureScaleFor(72), 100);
  EXPECT_EQ(PictureScaleFor(96), 100);
  EXPECT_EQ(PictureScaleFor(120), 150);
  EXPECT_EQ(PictureScaleFor(144), 150);
  EXPECT_EQ(PictureScaleFor(168), 200);
  EXPECT_EQ(PictureScaleFor(192), 200);
  EXPECT_EQ(PictureScaleFor(288), 200);
}

DescItem AgentDescription() {
  std::ifstream file(QEX_SOURCE_DIR "/app/frmMains.desc");
  std::stringstream text;
  text << file.rdbuf();
  return ParseWindowDescription(text.str());
}

TEST(AgentDescription, EveryControlHasItsOwnId) {
  const DescItem form = AgentDescription();
  std::set<std::int64_t> ids;
  int controls = 0;
  for (const DescItem& item : form.children) {
    if (!item.Find("Left")) continue;
    ++controls;
    const DescProperty* id = item.Find("Id");
    ASSERT_NE(id, nullptr) << item.name;
    ASSERT_EQ(id->First().kind, DescValue::Integer) << item.name;
    EXPECT_GE(id->First().number, 1) << item.name;
    EXPECT_LE(id->First().number, 0xFFFF) << item.name;
    EXPECT_TRUE(ids.insert(id->First().number).second) << item.name << " shares its id";
  }
  EXPECT_EQ(controls, 13);
}

TEST(AgentDescription, ControlsApartInTheDescriptionStayApartAtEveryScale) {
  const DescItem form = AgentDescription();
  std::vector<std::pair<std::string, TBounds>> boxes;
  for (const DescItem& item : form.children) {
    if (!item.Find("Left")) continue;
    auto number = [&](const char* key) { return static_cast<int>(item.Find(key)->First().number); };
    boxes.push_back({item.name, TBounds{number("Left"), number("Top"), number("Width"), number("Height")}});
  }
  auto apart = [](const TBounds& a, const TBounds& b) {
    return a.Right() <= b.left || b.Right() <= a.left || a.Bottom() <= b.top || b.Bottom() <= a.top;
  };
  for (std::size_t i = 0; i < boxes.size(); ++i)
    for (std::size_t j = i + 1; j < boxes.size(); ++j) {
      if (!apart(boxes[i].second, boxes[j].second)) continue;
      for (int dpi = 48; dpi <= 480; ++dpi)
        ASSERT_TRUE(apart(ScaleBounds(boxes[i].second, dpi), ScaleBounds(boxes[j].second, dpi)))
            << boxes[i].first << " and " << boxes[j].first << " at " << dpi;
    }
}

}  // namespace
