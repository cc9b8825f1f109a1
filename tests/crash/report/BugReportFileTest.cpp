#include <gtest/gtest.h>

#include <filesystem>

#include "ReportFixtures.h"
#include "crash/report/BugReportFile.h"

namespace {

namespace fs = std::filesystem;

// Each test works on a real file in a folder of its own; the save runs over
// the file's bytes as the Win32 side runs it over a mapping.
class BugReportFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    folder_ = fs::path(::testing::TempDir()) / (std::string("qex-bugreport-") + info->name());
    fs::remove_all(folder_);
    fs::create_directories(folder_);
    path_ = (folder_ / "bugreport.txt").string();
  }
  void TearDown() override { fs::remove_all(folder_); }

  BugReportSaveResult Save(const std::string& report, const BugReportSaveOptions& options = {}) {
    MemoryReportFile file(ReadFileBytes(path_));
    BugReportSaveResult result = SaveReportToFile(file, report, options);
    WriteFileBytes(path_, file.Text());
    return result;
  }
  std::string Content() const { return ReadFileBytes(path_); }

  fs::path folder_;
  std::string path_;
};

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

TEST_F(BugReportFileTest, FirstSaveWritesTheReportAndABlankLine) {
  const std::string report = MakeReport();
  const BugReportSaveResult result = Save(report);
  EXPECT_TRUE(result.saved);
  EXPECT_FALSE(result.duplicate);
  EXPECT_EQ(Content(), report + "\r\n\r\n");
}

TEST_F(BugReportFileTest, TheSameFaultThreeTimesIsStoredOnceWithCountThree) {
  const std::string other = MakeReport(ReportShape{"$aaaaaaaa, $bbbbbbbb, $cccccccc"});
  Save(other);
  for (int second = 1; second <= 3; ++second) {
    ReportShape shape;
    shape.second = second;
    shape.crc = second == 3 ? "$1a2b3c4d, $5e6f7a8b, $00000000" : shape.crc;  // the third CRC does not count
    const BugReportSaveResult result = Save(MakeReport(shape));
    EXPECT_EQ(result.duplicate, second > 1);
    EXPECT_EQ(result.count, static_cast<std::uint64_t>(second));
  }
  const std::string content = Content();
  EXPECT_EQ(CountOf(content, "callstack crc"), 2u);
  EXPECT_EQ(content.rfind(other + "\r\n\r\n", 0), 0u) << "the other fault stays first";
  // The stored copy is the newest, at the end, with "count" right after "callstack crc".
  ReportShape last;
  last.second = 3;
  last.crc = "$1a2b3c4d, $5e6f7a8b, $00000000";
  const std::string expected = InsertHeaderLine(MakeReport(last), "callstack crc", "count", "3") + "\r\n\r\n";
  EXPECT_TRUE(EndsWith(content, expected));
  const std::size_t crc_line = content.find("callstack crc", other.size());
  EXPECT_EQ(content.compare(content.find("\r\n", crc_line) + 2, 6, "count "), 0);
  EXPECT_EQ(HeaderField(content.substr(other.size() + 4), "count"), "3");
}

TEST_F(BugReportFileTest, ADifferentSecondCrcIsNoDuplicate) {
  Save(MakeReport());
  const BugReportSaveResult result = Save(MakeReport(ReportShape{"$1a2b3c4d, $00000001, $9c0d1e2f"}));
  EXPECT_FALSE(result.duplicate);
  EXPECT_EQ(CountOf(Content(), "\r\ncount "), 0u);
  EXPECT_EQ(CountOf(Content(), "callstack crc"), 2u);
}

TEST_F(BugReportFileTest, OtherProgramClassOrVersionIsNoDuplicate) {
  Save(MakeReport());
  ReportShape shape;
  shape.exception_class = "EConvertError";
  EXPECT_FALSE(Save(MakeReport(shape)).duplicate);
  shape = ReportShape();
  shape.version = "1.0.0.1";
  EXPECT_FALSE(Save(MakeReport(shape)).duplicate);
  shape = ReportShape();
  shape.executable = "Other.exe";
  EXPECT_FALSE(Save(MakeReport(shape)).duplicate);
  // Without a version the file times decide.
  shape = ReportShape();
  shape.version = "";
  EXPECT_FALSE(Save(MakeReport(shape)).duplicate);
  EXPECT_TRUE(Save(MakeReport(shape)).duplicate);
  shape.exec_time = "2025-01-01 00:00\r\n";
  EXPECT_FALSE(Save(MakeReport(shape)).duplicate);
}

TEST_F(BugReportFileTest, APendingCrcIsNeverADuplicate) {
  ReportShape shape;
  shape.crc = "will be calculated soon";
  Save(MakeReport(shape));
  EXPECT_FALSE(Save(MakeReport(shape)).duplicate);
  EXPECT_EQ(CountOf(Content(), "date/time    "), 2u);
  EXPECT_EQ(DuplicateKey(MakeReport(shape), {}), "");
  EXPECT_EQ(DuplicateKey(MakeReport(), {}), "$1a2b3c4d, $5e6f7a8b");
}

TEST_F(BugReportFileTest, OverTheLimitTheOldestWholeReportsGoUntilUnder75000) {
  std::string expected_tail;
  std::vector<std::string> reports;
  for (int i = 0; i < 40; ++i) {
    ReportShape shape;
    shape.crc = FormatCallstackCrc(static_cast<std::uint32_t>(i), 1, 2);
    shape.filler = 2900;
    reports.push_back(MakeReport(shape));
  }
  std::size_t size = 0;
  std::size_t i = 0;
  while (size <= 100000) {
    EXPECT_EQ(Save(reports[i]).dropped, 0u);
    size = Content().size();
    ++i;
  }
  const BugReportSaveResult result = Save(reports[i]);
  EXPECT_GT(result.dropped, 0u);
  const std::string content = Content();
  const std::size_t remaining_old = content.size() - reports[i].size() - 4;
  EXPECT_LT(remaining_old, 75000u);
  // No more than needed went: one more old report would have fitted under 75000.
  EXPECT_GE(remaining_old + reports[0].size() + 4, 75000u);
  // Whole reports only: the file starts at a report and every report is intact.
  EXPECT_EQ(content.rfind("date/time", 0), 0u);
  for (std::size_t k = 0; k <= i; ++k) {
    const bool kept = content.find(reports[k] + "\r\n\r\n") != std::string::npos;
    EXPECT_EQ(kept, content.find(FormatCallstackCrc(static_cast<std::uint32_t>(k), 1, 2)) != std::string::npos);
  }
  EXPECT_TRUE(EndsWith(content, reports[i] + "\r\n\r\n"));
}

TEST_F(BugReportFileTest, ASingleLargerReportStays) {
  ReportShape big;
  big.filler = 120000;
  Save(MakeReport(big));
  const BugReportSaveResult result = Save(MakeReport(ReportShape{"$00000009, $00000008, $00000007"}));
  EXPECT_EQ(result.dropped, 0u);
  EXPECT_EQ(Content(), MakeReport(big) + "\r\n\r\n" + MakeReport(ReportShape{"$00000009, $00000008, $00000007"}) +
                           "\r\n\r\n");
}

TEST_F(BugReportFileTest, WithoutAppendingTheFileHoldsOnlyTheNewReport) {
  Save(MakeReport(ReportShape{"$00000009, $00000008, $00000007"}));
  BugReportSaveOptions options;
  options.append = false;
  Save(MakeReport(), options);
  EXPECT_EQ(Content(), MakeReport() + "\r\n\r\n");
}

TEST_F(BugReportFileTest, DamagedFilesNeverLoseTheNewReport) {
  const std::string report = MakeReport();
  const std::string stored = MakeReport(ReportShape{"$1a2b3c4d, $5e6f7a8b, $11111111"});
  const std::string damaged[] = {
      stored.substr(0, stored.size() / 2),                                  // truncated
      std::string("\xff\xfe\x00garbage\x80\x81", 12) + stored,              // not UTF-8 in front
      stored.substr(0, 40) + "\xc3\x28" + stored.substr(40) + "\r\n\r\n",   // not UTF-8 inside
      "callstack crc: $1a2b3c4d, $5e6f7a8b, $1\r\n\r\n",                    // a key without a report
      "error details:\r\ndate/time: $1a2b3c4d, $5e6f7a8b\r\n",              // "date/time" in a value
  };
  for (const std::string& bytes : damaged) {
    WriteFileBytes(path_, bytes);
    // A truncated copy of the same fault may still count; anything else
    // stays in front of the new report, separated by a blank line.
    const BugReportSaveResult result = Save(report);
    EXPECT_TRUE(result.saved);
    const std::string written = result.written + "\r\n\r\n";
    const std::string content = Content();
    EXPECT_TRUE(content == written || EndsWith(content, "\r\n\r\n" + written)) << content;
    // And it is found again next time.
    const BugReportSaveResult again = Save(report);
    EXPECT_TRUE(again.duplicate);
    EXPECT_EQ(again.count, result.count + 1);
    EXPECT_TRUE(EndsWith(Content(), InsertHeaderLine(report, "callstack crc", "count", std::to_string(again.count)) +
                                        "\r\n\r\n"));
    EXPECT_EQ(CountOf(Content(), "callstack crc"), CountOf(content, "callstack crc"));
  }
}

TEST_F(BugReportFileTest, AKeyInASectionOfAnotherReportIsNoDuplicate) {
  // A stored report that quotes the key in a section but has another crc.
  const std::string stored = RenderReportText(
      ReportHeader(ReportShape{"$99999999, $99999999, $99999999"}), {{"error details", "seen: $1a2b3c4d, $5e6f7a8b"}});
  WriteFileBytes(path_, stored + "\r\n\r\n");
  EXPECT_FALSE(Save(MakeReport()).duplicate);
  EXPECT_EQ(Content().rfind(stored + "\r\n\r\n", 0), 0u);
}

TEST_F(BugReportFileTest, ABadCountCountsAsOne) {
  WriteFileBytes(path_, InsertHeaderLine(MakeReport(), "callstack crc", "count", "lots") + "\r\n\r\n");
  EXPECT_EQ(Save(MakeReport()).count, 2u);
}

TEST_F(BugReportFileTest, InvalidUtf8InTheNewReportIsReplaced) {
  ReportShape shape;
  shape.executable = "bad\xff.exe";
  const BugReportSaveResult result = Save(MakeReport(shape));
  EXPECT_EQ(HeaderField(Content(), "executable"), "bad\xEF\xBF\xBD.exe");
  EXPECT_EQ(result.written + "\r\n\r\n", Content());
}

class FailingGrowth : public MemoryReportFile {
 public:
  using MemoryReportFile::MemoryReportFile;
  bool Resize(std::size_t size) override { return size <= Size() && MemoryReportFile::Resize(size); }
};

TEST(BugReportFileBuffer, AFileThatCannotGrowStaysUntouched) {
  const std::string stored = MakeReport() + "\r\n\r\n";
  FailingGrowth file(stored);
  const BugReportSaveResult result = SaveReportToFile(file, MakeReport(), {});
  EXPECT_FALSE(result.saved);
  EXPECT_EQ(file.Text(), stored);
}

TEST(BugReportPath, RelativeNamesFollowTheExecutable) {
  const std::string exe = "C:\\Program Files\\QEX\\QEXJoystick.exe";
  EXPECT_EQ(ResolveBugReportPath("bugreport.txt", exe), "C:\\Program Files\\QEX\\bugreport.txt");
  EXPECT_EQ(ResolveBugReportPath("\\logs\\bugreport.txt", exe), "C:\\logs\\bugreport.txt");
  EXPECT_EQ(ResolveBugReportPath("logs\\.\\..\\..\\bug.txt", exe), "C:\\Program Files\\bug.txt");
  EXPECT_EQ(ResolveBugReportPath("D:\\x\\bug.txt", exe), "D:\\x\\bug.txt");
  EXPECT_EQ(ResolveBugReportPath("..\\..\\..\\..\\bug.txt", exe), "C:\\bug.txt");
  EXPECT_EQ(ResolveBugReportPath("bug.txt", "\\\\srv\\share\\app\\a.exe"), "\\\\srv\\share\\app\\bug.txt");
  EXPECT_EQ(FallbackBugReportPath("bugreport.txt", "C:\\Users\\op\\AppData\\Roaming", exe),
            "C:\\Users\\op\\AppData\\Roaming\\QEXJoystick\\bugreport.txt");
  EXPECT_EQ(FallbackBugReportPath("logs\\bugreport.txt", "C:\\Users\\op\\AppData\\Roaming", exe), "");
}

}  // namespace
