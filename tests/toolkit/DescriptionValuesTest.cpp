#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "toolkit/DescriptionValues.h"

namespace {

// The properties of a one-item description, each on its own line from line 2.
DescItem Item(const std::string& properties) {
  return ParseWindowDescription("form f {\n" + properties + "}\n");
}

// The message of the DescriptionError that reading throws, or "" when none.
template <class Read>
std::string ErrorOf(Read&& read) {
  try {
    read();
  } catch (const DescriptionError& e) {
    return e.what();
  }
  return "";
}

TEST(DescriptionValues, BooleansAreTrueOrFalseAndNothingElse) {
  const DescItem item = Item("A = true\nB = false\nC = yes\nD = 1\n");
  EXPECT_TRUE(DescBool(item.properties[0]));
  EXPECT_FALSE(DescBool(item.properties[1]));
  EXPECT_EQ(ErrorOf([&] { DescBool(item.properties[2]); }), "line 4: expected true or false");
  EXPECT_NE(ErrorOf([&] { DescBool(item.properties[3]); }), "");
}

TEST(DescriptionValues, NumbersAreReadAtTheirPlaceInAList) {
  const DescItem item = Item("A = -499\nB = \"x\", 12\nC = \"12\"\n");
  EXPECT_EQ(DescInt(item.properties[0]), -499);
  EXPECT_EQ(DescInt(item.properties[1], 1), 12);
  EXPECT_EQ(ErrorOf([&] { DescInt(item.properties[1]); }), "line 3: expected a number");
  EXPECT_EQ(ErrorOf([&] { DescInt(item.properties[1], 2); }), "line 3: expected a number");
  EXPECT_EQ(ErrorOf([&] { DescInt(item.properties[2]); }), "line 4: expected a number");
  const DescProperty empty{"Width", {}, 9};  // a property built by hand, not parsed
  EXPECT_EQ(ErrorOf([&] { DescInt(empty); }), "line 9: expected a number");
}

TEST(DescriptionValues, ColoursTurnFromRedGreenBlueIntoThePlatformsOrder) {
  const DescItem item = Item("A = #123456\nB = 255\nC = clRed\nD = \"#FFFFFF\"\n");
  EXPECT_EQ(DescColor(item.properties[0]), 0x563412u);
  EXPECT_EQ(DescColor(item.properties[0]), MakeColor(0x12, 0x34, 0x56));
  EXPECT_EQ(DescColor(item.properties[1]), MakeColor(0, 0, 255));
  // A name or a text used to come out black without a word.
  EXPECT_EQ(ErrorOf([&] { DescColor(item.properties[2]); }), "line 4: expected a colour #RRGGBB");
  EXPECT_NE(ErrorOf([&] { DescColor(item.properties[3]); }), "");
}

TEST(DescriptionValues, AFontReplacesOnlyWhatItGives) {
  TFont base;
  base.name = "base";
  base.height = 20;
  base.color = MakeColor(1, 2, 3);
  const DescItem item =
      Item("A = \"face\"\nB = \"face\", 12\nC = \"face\", 12, #5B5B5B\nD = face, 12\nE = \"face\", big\n");
  const TFont a = DescFont(item.properties[0], base);
  EXPECT_EQ(a.name, "face");
  EXPECT_EQ(a.height, 20);
  EXPECT_EQ(a.color, base.color);
  const TFont b = DescFont(item.properties[1], base);
  EXPECT_EQ(b.height, 12);
  EXPECT_EQ(b.color, base.color);
  const TFont c = DescFont(item.properties[2], base);
  EXPECT_EQ(c.color, MakeColor(0x5B, 0x5B, 0x5B));
  EXPECT_EQ(ErrorOf([&] { DescFont(item.properties[3], base); }), "line 5: expected Font = \"face\", height");
  EXPECT_EQ(ErrorOf([&] { DescFont(item.properties[4], base); }), "line 6: expected a number");
}

TEST(DescriptionValues, AlignmentAndBorderIconsReadTheirNames) {
  const DescItem item = Item("A = Center\nB = Right\nC = Left\nD = Centre\n"
                             "E = SystemMenu, Minimize\nF = Maximize, Help\n");
  EXPECT_EQ(DescAlignment(item.properties[0]), TAlignment::Center);
  EXPECT_EQ(DescAlignment(item.properties[1]), TAlignment::Right);
  EXPECT_EQ(DescAlignment(item.properties[2]), TAlignment::Left);
  EXPECT_EQ(DescAlignment(item.properties[3]), TAlignment::Left);
  EXPECT_EQ(DescBorderIcons(item.properties[4]), biSystemMenu | biMinimize);
  EXPECT_EQ(DescBorderIcons(item.properties[5]), static_cast<unsigned>(biMaximize));
}

// Every typed property of the shipped window reads without an error.
TEST(DescriptionValues, TheAgentsOwnDescriptionReads) {
  std::ifstream file(QEX_SOURCE_DIR "/app/frmMains.desc");
  ASSERT_TRUE(file) << "app/frmMains.desc";
  std::stringstream text;
  text << file.rdbuf();
  const DescItem form = ParseWindowDescription(text.str());
  int read = 0;
  auto readAll = [&](const DescItem& item) {
    for (const DescProperty& p : item.properties) {
      if (p.key == "Visible" || p.key == "Transparent" || p.key == "Stretch" || p.key == "Checked" ||
          p.key == "Enabled" || p.key == "TabStop") {
        DescBool(p);
      } else if (p.key == "Left" || p.key == "Top" || p.key == "Width" || p.key == "Height" ||
                 p.key == "TabOrder" || p.key == "Interval") {
        DescInt(p);
      } else if (p.key == "Color" || p.key == "FontColor") {
        DescColor(p);
      } else if (p.key == "Font") {
        DescFont(p, TFont());
      } else if (p.key == "Alignment") {
        DescAlignment(p);
      } else {
        continue;
      }
      ++read;
    }
  };
  readAll(form);
  for (const DescItem& child : form.children) readAll(child);
  EXPECT_GT(read, 40);
}

}  // namespace
