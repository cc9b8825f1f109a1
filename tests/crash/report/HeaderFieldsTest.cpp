#include <gtest/gtest.h>

#include "crash/report/HeaderFields.h"

namespace {

TEST(HeaderFields, TwentySevenNamesInOrder) {
  const auto& order = HeaderFieldOrder();
  ASSERT_EQ(order.size(), 27u);
  EXPECT_EQ(order.front(), "date/time");
  EXPECT_EQ(order[2], "wts client name");
  EXPECT_EQ(order[19], "exec. date/time");
  EXPECT_EQ(order[22], "Exwatch version");
  EXPECT_EQ(order[23], "callstack crc");
  EXPECT_EQ(order.back(), "exception message");
}

TEST(HeaderFields, DurationTextUsesTheTwoLargestUnits) {
  EXPECT_EQ(FormatDuration(1), "1 second ");
  EXPECT_EQ(FormatDuration(59), "59 seconds ");
  EXPECT_EQ(FormatDuration(61), "1 minute 1 second ");
  EXPECT_EQ(FormatDuration(120), "2 minutes ");
  EXPECT_EQ(FormatDuration(3600 + 59), "1 hour ");  // seconds are below the two units
  EXPECT_EQ(FormatDuration(2 * 3600 + 5 * 60 + 7), "2 hours 5 minutes ");
  EXPECT_EQ(FormatDuration(86400 + 3 * 3600 + 59 * 60), "1 day 3 hours ");
  EXPECT_EQ(FormatDuration(3 * 86400 + 1800), "3 days ");
  EXPECT_EQ(FormatProgramUpTime(0), "0 milliseconds");
  EXPECT_EQ(FormatProgramUpTime(999), "999 milliseconds");
  EXPECT_EQ(FormatProgramUpTime(1500), "1 second ");
}

TEST(HeaderFields, SizeText) {
  EXPECT_EQ(FormatSize(0), "0 Bytes");
  EXPECT_EQ(FormatSize(1023), "1023 Bytes");
  EXPECT_EQ(FormatSize(1024), "1.00 KB");
  EXPECT_EQ(FormatSize(1536, ','), "1,50 KB");
  EXPECT_EQ(FormatSize(1024 * 1024 - 1), "1024.00 KB");
  EXPECT_EQ(FormatSize(5 * 1024 * 1024 + 1024 * 1024 / 4), "5.25 MB");
  EXPECT_EQ(FormatSize(3ull * 1024 * 1024 * 1024), "3.00 GB");
  EXPECT_EQ(FormatSize(5000ull * 1024 * 1024 * 1024), "5000.00 GB");
}

TEST(HeaderFields, ValueFormats) {
  LocalTime t;
  t.year = 2024, t.month = 3, t.day = 5, t.hour = 7, t.minute = 8, t.second = 9, t.millisecond = 45;
  EXPECT_EQ(FormatReportDateTime(t), "2024-03-05, 07:08:09, 45ms");
  t.millisecond = 0;
  EXPECT_EQ(FormatTime(t), "07:08:09, 0ms");
  EXPECT_EQ(FormatFileDateTime(t), "2024-03-05 07:08\r\n");
  EXPECT_EQ(FormatUserName("op", true), "op  <admin>");
  EXPECT_EQ(FormatUserName("op", false), "op");
  EXPECT_EQ(FormatRegisteredOwner("Owner", ""), "Owner");
  EXPECT_EQ(FormatRegisteredOwner("Owner", "QEX"), "Owner / QEX");
  EXPECT_EQ(FormatOperatingSystem("Windows 10 (10.0)", 19045), "Windows 10 (10.0) build 19045");
  EXPECT_EQ(FormatPhysicalMemory(1536ull * 1024 * 1024 + 600 * 1024, 4096ull * 1024 * 1024),
            "1537/4096 MB (free/total)");
  EXPECT_EQ(FormatDisplayMode(1920, 1080, 32), "1920x1080, 32 bit");
  EXPECT_EQ(FormatHexId(0x1F4), "$1f4");
  EXPECT_EQ(FormatFreeDiskSpace(2048, false, 0), "2.00 KB");
  EXPECT_EQ(FormatFreeDiskSpace(2048, true, 100), "2.00 KB 100 Bytes");
  EXPECT_EQ(FormatCallstackCrc(0x1, 0xABCDEF01, 0xFFFFFFFF), "$00000001, $abcdef01, $ffffffff");
  EXPECT_EQ(FormatCallstackCrc(0, 0, 0).size(), 31u);
  EXPECT_EQ(ExceptionMessageField("EAbort", "EAbort"), "");
  EXPECT_EQ(ExceptionMessageField("EAbort", "stop"), "stop");
  EXPECT_EQ(ChooseVersionText("", "", "?"), "?");
  EXPECT_EQ(ChooseVersionText("", "1.2", "?"), "1.2");
  EXPECT_EQ(ChooseVersionText("2.0", "1.2", "?"), "2.0");
}

TEST(HeaderFields, ProcessorNameAndCount) {
  EXPECT_EQ(ProcessorField({"Intel(R)  Core(TM)   i5  "}), std::make_pair(std::string("processor"), std::string("Intel(R) Core(TM) i5")));
  const auto many = ProcessorField(std::vector<std::string>(20, "AMD Ryzen"));
  EXPECT_EQ(many.first, "processors");
  EXPECT_EQ(many.second, "16x AMD Ryzen");
  EXPECT_EQ(ProcessorField({"AMD", "AMD", "", "AMD"}).second, "2x AMD");
  EXPECT_EQ(ProcessorField({}).second, "");
}

}  // namespace
