#include "crash/handler/FurtherExceptions.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

namespace {

LocalTime At(int second) {
  LocalTime time;
  time.year = 2026;
  time.month = 12;
  time.day = 8;
  time.hour = 20;
  time.minute = 30;
  time.second = second;
  time.millisecond = 7;
  return time;
}

}  // namespace

TEST(FurtherExceptions, NoneGivesNoFieldAndNoSection) {
  FurtherExceptions further;
  EXPECT_EQ(further.Count(), 0u);
  EXPECT_EQ(further.CountText(), "");
  EXPECT_EQ(further.SectionText(), "");
}

TEST(FurtherExceptions, KeepsTheFirstFewAndCountsTheRest) {
  FurtherExceptions further;
  for (int i = 0; i < 12; ++i) further.Add(At(i), "EConvertError", "tick " + std::to_string(i));
  EXPECT_EQ(further.CountText(), "12");
  EXPECT_EQ(further.SectionText(),
            "2026-12-08, 20:30:00, 7ms  EConvertError: tick 0\r\n"
            "2026-12-08, 20:30:01, 7ms  EConvertError: tick 1\r\n"
            "2026-12-08, 20:30:02, 7ms  EConvertError: tick 2\r\n"
            "2026-12-08, 20:30:03, 7ms  EConvertError: tick 3\r\n"
            "2026-12-08, 20:30:04, 7ms  EConvertError: tick 4\r\n"
            "and 7 more");
}

TEST(FurtherExceptions, MessageEqualToTheClassOrEmptyIsLeftOutAndLongTextsAreCut) {
  FurtherExceptions further;
  further.Add(At(1), "EAbort", "EAbort");
  further.Add(At(2), "EOSError", "");
  further.Add(At(3), std::string(500, 'C'), std::string(5000, 'm'));
  const std::string text = further.SectionText();
  EXPECT_NE(text.find("20:30:01, 7ms  EAbort\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("20:30:02, 7ms  EOSError\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find(std::string(63, 'C') + ": " + std::string(255, 'm')), std::string::npos);
  EXPECT_EQ(text.find(std::string(64, 'C')), std::string::npos);
  EXPECT_EQ(text.find(std::string(256, 'm')), std::string::npos);
}

// The waiting thread adds while the handling thread renders the report.
TEST(FurtherExceptions, ReadingWhileTheWaitingThreadAddsSeesOnlyWholeEntries) {
  FurtherExceptions further;
  std::thread adder([&] {
    for (int i = 0; i < 2000; ++i) further.Add(At(i % 60), "EConvertError", "storm");
  });
  for (int i = 0; i < 200; ++i) {
    const std::string text = further.SectionText();
    std::size_t from = 0;
    while (from < text.size()) {
      const std::size_t end = text.find("\r\n", from);
      const std::string line = text.substr(from, end == std::string::npos ? std::string::npos : end - from);
      EXPECT_TRUE(line.find("EConvertError: storm") != std::string::npos || line.rfind("and ", 0) == 0) << line;
      if (end == std::string::npos) break;
      from = end + 2;
    }
  }
  adder.join();
  EXPECT_EQ(further.Count(), 2000u);
}

// The report takes the count while the waiting thread may still add: every
// exception is either in the count it took or refused, never both or neither.
TEST(FurtherExceptions, AfterCloseAddRefusesAndNothingFallsBetween) {
  FurtherExceptions further;
  int accepted = 0, refused = 0;
  std::thread adder([&] {
    for (int i = 0; i < 20000; ++i) (further.Add(At(0), "EConvertError", "storm") ? accepted : refused)++;
  });
  while (further.Count() < 100) std::this_thread::yield();
  further.Close();
  const std::uint32_t taken = further.Count();
  adder.join();
  EXPECT_EQ(taken, static_cast<std::uint32_t>(accepted));
  EXPECT_EQ(accepted + refused, 20000);
  EXPECT_FALSE(further.Add(At(1), "EConvertError", "late"));
  EXPECT_EQ(further.Count(), taken);
}
