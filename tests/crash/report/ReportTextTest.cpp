#include <gtest/gtest.h>

#include "ReportFixtures.h"
#include "crash/report/ReportText.h"

namespace {

TEST(ReportText, HeaderNamesArePaddedToTheLongestPlusOne) {
  const std::string text = RenderReportText({{"date/time", "a"}, {"exception message", "b"}}, {});
  EXPECT_EQ(text, "date/time         : a\r\nexception message : b");
}

TEST(ReportText, HeaderValuesAreFoldedOntoOneLine) {
  const std::string text =
      RenderReportText({{"exec. date/time", "2024-05-06 07:08\r\n"}, {"user name", "op  <admin>"},
                        {"exception message", "line one\r\nline two\rthree\nfour   five"}},
                       {});
  EXPECT_EQ(HeaderField(text, "exec. date/time"), "2024-05-06 07:08 ");
  EXPECT_EQ(HeaderField(text, "user name"), "op <admin>");
  EXPECT_EQ(HeaderField(text, "exception message"), "line one line two three four five");
  EXPECT_EQ(text.find("\r\n\r\n"), std::string::npos);
}

TEST(ReportText, SectionLinesAreTrimmedAndEmptyLinesBecomeDots) {
  const std::string text = RenderReportText({{"date/time", "x"}},
                                            {{"stack dump", "first   \r\n\r\n   \nlast\r\n"}, {"titled: already", "z"}});
  EXPECT_EQ(text, "date/time : x\r\n\r\nstack dump:\r\nfirst\r\n.\r\n.\r\nlast\r\n\r\ntitled: already\r\nz");
  EXPECT_NE(text.substr(text.size() - 2), "\r\n");
}

TEST(ReportText, NoThreeLineBreaksInARowInsideAReport) {
  const std::string text = MakeReport(ReportShape{}) + RenderReportText({{"a", "b"}}, {{"s", "\r\n\r\n\r\n"}});
  EXPECT_EQ(text.find("\r\n\r\n\r\n"), std::string::npos);
  EXPECT_EQ(text.find("\n\n"), std::string::npos);
}

TEST(ReportText, FieldsAndSectionsReadBack) {
  const std::string text = RenderReportText(
      {{"date/time", "2024-05-06, 10:11:09, 7ms"}, {"version", "1.0"}, {"callstack crc", "$00000001, $00000002, $00000003"}},
      {{"main thread ($1f4)", "00401234 a.exe\r\n00405678 b.exe"}, {"main", "short title"}, {"cpu registers", "eax = 1"}});
  EXPECT_EQ(HeaderField(text, "date/time"), "2024-05-06, 10:11:09, 7ms");
  EXPECT_EQ(HeaderField(text, "callstack crc"), "$00000001, $00000002, $00000003");
  std::string value;
  EXPECT_FALSE(ReadHeaderField(text, "count", &value));
  // A header name is matched whole, not as a prefix.
  EXPECT_FALSE(ReadHeaderField(text, "date", &value));

  std::string content;
  ASSERT_TRUE(ReadSection(text, "main thread ($1f4)", &content));
  EXPECT_EQ(content, "00401234 a.exe\r\n00405678 b.exe");
  ASSERT_TRUE(ReadSection(text, "main", &content));
  EXPECT_EQ(content, "short title");
  ASSERT_TRUE(ReadSection(text, "cpu registers", &content));
  EXPECT_EQ(content, "eax = 1");
  EXPECT_FALSE(ReadSection(text, "stack dump", &content));
}

TEST(ReportText, SectionLinesAreNotReadAsHeaderFields) {
  const std::string text = RenderReportText({{"date/time", "x"}}, {{"error details", "count: 7"}});
  std::string value;
  EXPECT_FALSE(ReadHeaderField(text, "count", &value));
}

TEST(ReportText, InsertedLineIsPaddedLikeItsNeighbour) {
  const std::string text = MakeReport();
  const std::string with_count = InsertHeaderLine(text, "callstack crc", "count", "2");
  const std::size_t crc_line = with_count.find("callstack crc");
  const std::size_t count_line = with_count.find("\r\ncount", crc_line);
  ASSERT_NE(count_line, std::string::npos);
  EXPECT_EQ(with_count.find("\r\n", crc_line), count_line);
  EXPECT_EQ(with_count.find(": ", count_line) - count_line - 2, with_count.find(": ", crc_line) - crc_line);
  EXPECT_EQ(HeaderField(with_count, "count"), "2");
  // Again: the value is replaced, not added twice.
  const std::string again = InsertHeaderLine(with_count, "callstack crc", "count", "3");
  EXPECT_EQ(CountOf(again, "\r\ncount "), 1u);
  EXPECT_EQ(HeaderField(again, "count"), "3");
  EXPECT_EQ(again.size(), with_count.size());
}

}  // namespace
