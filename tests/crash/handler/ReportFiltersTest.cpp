#include <gtest/gtest.h>

#include <stdexcept>

#include "crash/handler/ReportFilters.h"
#include "crash/report/ReportFixtures.h"

namespace {

ReportSettings Shipped() {
  const std::string block = ReadFileBytes(QEX_REPORT_SETTINGS_FILE);
  return ReportSettings::Parse(block.data(), block.size());
}

QEX_DECLARE_EXCEPTION(EDBEditError, Exception);
QEX_DECLARE_EXCEPTION(EOtherError, Exception);

TEST(ClassList, MatchesWholeItemsBetweenAnySeparator) {
  EXPECT_TRUE(ClassListContains("EDBEditError", "EDBEditError"));
  EXPECT_TRUE(ClassListContains("EA, EDBEditError;EB|EC", "EDBEditError"));
  EXPECT_TRUE(ClassListContains("EA;EB|EC", "EC"));
  EXPECT_TRUE(ClassListContains("  EA  ,EB", "EA"));
  EXPECT_FALSE(ClassListContains("EDBEditError", "EDBEdit"));
  EXPECT_FALSE(ClassListContains("EDBEdit", "EDBEditError"));
  EXPECT_FALSE(ClassListContains("E A", "EA"));
  EXPECT_FALSE(ClassListContains("", "EA"));
  EXPECT_FALSE(ClassListContains(",;|", ""));
  EXPECT_FALSE(ClassListContains("ea", "EA"));
}

TEST(ReportFilter, ShippedSettingsGiveF1ClassesThePlainBoxWithoutReport) {
  const ReportSettings s = Shipped();
  const ReportFilter f1 = ChooseFilter(s, "EDBEditError");
  EXPECT_EQ(f1.index, 1);
  EXPECT_TRUE(f1.noBugReport && f1.noScreenshot && f1.noHandlers && f1.noSuspend);
  EXPECT_EQ(f1.showConfig, 3);
  EXPECT_EQ(f1.assistant, "");

  const ReportFilter general = ChooseFilter(s, "EAccessViolation");
  EXPECT_EQ(general.index, 0);
  EXPECT_FALSE(general.noBugReport || general.noScreenshot || general.noHandlers || general.noSuspend);
  EXPECT_EQ(general.showConfig, 0);
}

TEST(ReportFilter, F1ComesBeforeF2AndF2BeforeTheGeneralSettings) {
  ReportSettings s = Shipped();
  s.SetText("F1Classes", "EOne|EBoth");
  s.SetText("F2Classes", "ETwo, EBoth");
  s.SetNumber("F2ShowCfg", 4);
  s.SetOn("F2NoHandlers", true);
  s.SetText("F2Assis", "SaveAssistant");
  s.SetNumber("GnShowCfg", 2);
  EXPECT_EQ(ChooseFilter(s, "EBoth").index, 1);
  const ReportFilter two = ChooseFilter(s, "ETwo");
  EXPECT_EQ(two.index, 2);
  EXPECT_EQ(two.showConfig, 4);
  EXPECT_TRUE(two.noHandlers);
  EXPECT_FALSE(two.noBugReport);
  EXPECT_EQ(two.assistant, "SaveAssistant");
  EXPECT_EQ(ChooseFilter(s, "EThree").showConfig, 2);
}

TEST(ReportFilter, ScreenshotOnlyWhenTheSendingAssistantHasItsPage) {
  ReportSettings s = Shipped();
  ReportFilter filter = ChooseFilter(s, "EAccessViolation");
  EXPECT_TRUE(AssistantShowsScreenshot(s, filter));  // SendAssistant has ScrShotForm
  filter.assistant = "SaveAssistant";
  EXPECT_FALSE(AssistantShowsScreenshot(s, filter));
  filter.assistant = "NoSuchAssistant";
  EXPECT_FALSE(AssistantShowsScreenshot(s, filter));
  filter.assistant.clear();
  s.SetText("SendAssis", "PrintAssistant");
  EXPECT_FALSE(AssistantShowsScreenshot(s, filter));
  s.SetText("Assistant3", "PrintAssistant|Print Assistant|ScrShotForm");
  EXPECT_TRUE(AssistantShowsScreenshot(s, filter));
}

TEST(ExceptionTexts, NameOurClassesStandardOnesAndAnythingElse) {
  std::string className, message;
  DescribeException(std::make_exception_ptr(EDBEditError("bad field")), className, message);
  EXPECT_EQ(className, "EDBEditError");
  EXPECT_EQ(message, "bad field");
  DescribeException(std::make_exception_ptr(std::runtime_error("boom")), className, message);
  EXPECT_EQ(className, "std::exception");
  EXPECT_EQ(message, "boom");
  DescribeException(std::make_exception_ptr(42), className, message);
  EXPECT_EQ(className, "Exception");
  EXPECT_EQ(message, "unknown exception");
}

TEST(ExceptionTexts, OnlyEAbortIsTheSilentAbort) {
  EXPECT_TRUE(IsAbort(std::make_exception_ptr(EAbort("quiet"))));
  EXPECT_FALSE(IsAbort(std::make_exception_ptr(EOtherError("loud"))));
  EXPECT_FALSE(IsAbort(std::make_exception_ptr(7)));
}

std::exception_ptr Nested(int depth) {
  try {
    if (depth == 0) throw EOtherError("innermost");
    try {
      std::rethrow_exception(Nested(depth - 1));
    } catch (...) {
      std::throw_with_nested(EOtherError("level " + std::to_string(depth)));
    }
  } catch (...) {
    return std::current_exception();
  }
  return nullptr;
}

TEST(ExceptionTexts, InnerExceptionsOutermostFirstAndAtMostSixteen) {
  const auto inners = InnerExceptionsOf(Nested(2));
  ASSERT_EQ(inners.size(), 2u);
  EXPECT_EQ(inners[0].second, "level 1");
  EXPECT_EQ(inners[1].second, "innermost");
  EXPECT_EQ(inners[1].first, "EOtherError");
  EXPECT_TRUE(InnerExceptionsOf(std::make_exception_ptr(EOtherError("alone"))).empty());
  EXPECT_EQ(InnerExceptionsOf(Nested(40)).size(), 16u);
}

TEST(FaultFrames, StartAtTheFaultAndGoOnAboveItsSeemingCall) {
  // The throw's frames: the thrower's own, then the call the fault seems to
  // make (fault + 1), then the callers of the faulting function.
  const std::vector<std::uint64_t> thrown = {0x5000, 0x5100, 0x1235, 0x2000, 0x3000};
  EXPECT_EQ(FramesFromFault(thrown, 0x1234), (std::vector<std::uint64_t>{0x1234, 0x2000, 0x3000}));
  // The seeming call is looked for after the first frame only.
  EXPECT_TRUE(FramesFromFault({0x1235, 0x2000}, 0x1234).empty());
  EXPECT_TRUE(FramesFromFault({0x5000, 0x2000}, 0x1234).empty());
  EXPECT_TRUE(FramesFromFault({}, 0x1234).empty());
}

}  // namespace
