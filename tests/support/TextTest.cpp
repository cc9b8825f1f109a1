#include <gtest/gtest.h>

#include "support/Text.h"

namespace {

TEST(ChooseText, PicksByCondition) {
  EXPECT_EQ(ChooseText(true, "a", "b"), "a");
  EXPECT_EQ(ChooseText(false, "a", "b"), "b");
}

TEST(TracePrefix, TwoDigitFieldsWithTheRegionalSeparatorAndOneBlank) {
  EXPECT_EQ(FormatTracePrefix(14, 3, 9, ":"), "14:03:09 ");
  EXPECT_EQ(FormatTracePrefix(9, 5, 7, ":"), "09:05:07 ");
  EXPECT_EQ(FormatTracePrefix(0, 0, 0, ""), "000000 ");
  EXPECT_EQ(FormatTracePrefix(23, 59, 59, "."), "23.59.59 ");
}

TEST(FormatText, FormatsWithoutGroupingAndGrowsPastAnyFixedBuffer) {
  EXPECT_EQ(FormatText("%d", 1234567), "1234567");
  const std::string longText(5000, 'x');
  EXPECT_EQ(FormatText("%s!", longText.c_str()), longText + "!");
  EXPECT_EQ(FormatText("%s", ""), "");
}

TEST(SameTextAscii, FoldsOnlyAsciiLettersAndNeedsEqualLength) {
  EXPECT_TRUE(SameTextAscii("qex propre controller", "QEX PROPRE CONTROLLER"));
  EXPECT_FALSE(SameTextAscii("MRV-4000 ", "MRV-4000"));
  EXPECT_FALSE(SameTextAscii("\xE4", "\xC4"));  // no folding beyond ASCII
  EXPECT_TRUE(SameTextAscii("", ""));
}

using Lines = std::vector<std::string>;

TEST(SplitLines, BreaksAtCrLfCrOrLfAndAFinalBreakOpensNoEmptyLine) {
  EXPECT_EQ(SplitLines("a\r\nb\rc\nd"), (Lines{"a", "b", "c", "d"}));
  EXPECT_EQ(SplitLines("a\r\n"), (Lines{"a"}));
  EXPECT_EQ(SplitLines("a\n\n"), (Lines{"a", ""}));
  // LF CR is two breaks, not one.
  EXPECT_EQ(SplitLines("a\n\rb"), (Lines{"a", "", "b"}));
  EXPECT_EQ(SplitLines("\r\n\r\nx"), (Lines{"", "", "x"}));
}

TEST(SplitLines, AnEmptyTextIsOneEmptyLineAndABreakAloneToo) {
  EXPECT_EQ(SplitLines(""), (Lines{""}));
  EXPECT_EQ(SplitLines("\r\n"), (Lines{""}));
  EXPECT_EQ(SplitLines("\r"), (Lines{""}));
}

TEST(SplitLines, KeepsNulAndHighBytesInsideALine) {
  const std::string text("a\0b\xE4\r\nc", 7);
  EXPECT_EQ(SplitLines(text), (Lines{std::string("a\0b\xE4", 4), "c"}));
}

}  // namespace
