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

}  // namespace
