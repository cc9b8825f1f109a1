#include "hid/PnPBuffers.h"

#include <gtest/gtest.h>

#include "hid/PlatformVersion.h"

namespace {

TEST(PnPBuffers, TextStopsAtTheFirstZeroOrTheEnd) {
  const char buffer[] = {'H', 'I', 'D', 0, 'x', 'y'};
  EXPECT_EQ(PropertyText(buffer, sizeof buffer), "HID");
  EXPECT_EQ(PropertyText(buffer, 2), "HI");
  const char empty[4] = {};
  EXPECT_EQ(PropertyText(empty, sizeof empty), "");
}

TEST(PnPBuffers, RawNumberPropertiesReadAsTextUpToTheirFirstZeroByte) {
  const char address[4] = {0x41, 0x42, 0x00, 0x00};  // the number 0x4241
  EXPECT_EQ(PropertyText(address, sizeof address), "AB");
}

TEST(PnPBuffers, TextListEndsAtAnEmptyTextOrTheBufferEnd) {
  const char list[] = "HID\\VID_0483\0HID_DEVICE\0\0ignored\0";
  EXPECT_EQ(PropertyTextList(list, sizeof list), (std::vector<std::string>{"HID\\VID_0483", "HID_DEVICE"}));
  const char unterminated[] = {'a', 0, 'b', 'c'};
  EXPECT_EQ(PropertyTextList(unterminated, sizeof unterminated), (std::vector<std::string>{"a", "bc"}));
  const char none[8] = {};
  EXPECT_TRUE(PropertyTextList(none, sizeof none).empty());
}

TEST(PnPBuffers, NumberIsTheLittleEndianWord) {
  const unsigned char bytes[4] = {0x84, 0x00, 0x01, 0x00};
  EXPECT_EQ(PropertyNumber(bytes), 0x00010084u);
}

TEST(PlatformVersionRules, InputOutputReportFunctionsNeedNtFiveAndMinorOne) {
  EXPECT_TRUE(WantsInputOutputReportFunctions({2, 5, 1}));
  EXPECT_TRUE(WantsInputOutputReportFunctions({2, 6, 1}));
  EXPECT_FALSE(WantsInputOutputReportFunctions({2, 10, 0}));
  EXPECT_FALSE(WantsInputOutputReportFunctions({2, 5, 0}));
  EXPECT_FALSE(WantsInputOutputReportFunctions({1, 4, 10}));
  EXPECT_TRUE(WantsExtendedReportFunctions({2, 10, 0}));
  EXPECT_TRUE(WantsExtendedReportFunctions({2, 5, 0}));
  EXPECT_FALSE(WantsExtendedReportFunctions({2, 4, 0}));
  EXPECT_FALSE(WantsExtendedReportFunctions({1, 4, 90}));
}

}  // namespace
