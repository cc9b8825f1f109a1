// Bug reports built by a real failing program (crash_collect_target), copied
// into a folder of its own and run there; the test reads the bug-report file
// it leaves.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>

#include "WineTestSupport_win.h"
#include "crash/ReportLines.h"
#include "crash/report/BugReportFile.h"
#include "crash/report/ReportText.h"
#include "support/ScopedHandle.h"

using namespace testing_support;
namespace rl = report_lines;

namespace {


std::string AppDataFolder() {
  char path[MAX_PATH];
  if (FAILED(SHGetFolderPathA(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path))) return std::string();
  return path;
}

// The target copied under its own name into a fresh folder.
class TargetRun {
 public:
  explicit TargetRun(const std::string& exeBase) : exeBase_(exeBase) {
    exe_ = dir_.Path() + "\\" + exeBase + ".exe";
    copied_ = CopyFileA(PathFromEnv("QEX_COLLECT_TARGET_EXE").c_str(), exe_.c_str(), FALSE) != FALSE;
  }
  ~TargetRun() {
    // The fallback folder is named after the executable: ours alone.
    const std::string appData = AppDataFolder() + "\\" + exeBase_;
    DeleteFileA((appData + "\\bugreport.txt").c_str());
    RemoveDirectoryA(appData.c_str());
  }
  bool Copied() const { return copied_; }
  std::string ExeName() const { return exeBase_ + ".exe"; }
  long Run(const std::string& mode) {
    ChildProcess child;
    if (!child.Start(exe_, mode, dir_.Path())) return -100;
    return child.Wait(120000);
  }
  std::string File(const std::string& name) const { return dir_.Path() + "\\" + name; }
  std::string FallbackFile() const { return AppDataFolder() + "\\" + exeBase_ + "\\bugreport.txt"; }
  std::string ThreadId(const std::string& key) const {
    std::istringstream lines(ReadWholeFile(File("threads.txt")));
    std::string line;
    while (std::getline(lines, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.compare(0, key.size() + 1, key + "=") == 0) return line.substr(key.size() + 1);
    }
    return std::string();
  }

 private:
  TempDir dir_;
  std::string exeBase_, exe_;
  bool copied_ = false;
};

std::string UniqueName(const char* base) { return std::string(base) + "_" + std::to_string(GetCurrentProcessId()); }

// The single report of a file (without the blank line after it).
std::string OnlyReport(const std::string& file) {
  EXPECT_GE(file.size(), 4u);
  EXPECT_EQ(file.substr(file.size() - 4), "\r\n\r\n");
  return file.substr(0, file.size() - 4);
}

// The target's own function at its marked line on top of the main thread.
void ExpectTopFrame(const std::string& report, const std::string& exeName, const std::string& function,
                    const std::string& marker) {
  rl::ExpectTopFrame(report, function, exeName, "tests/crash/collect/CollectTarget_win.cpp",
                     rl::SourceLineOf(PathFromEnv("QEX_COLLECT_TARGET_SOURCE"), marker));
}

void KeepSample(const std::string& report) {
  const char* path = std::getenv("QEX_COLLECT_SAMPLE");
  if (path && *path) WriteWholeFile(ToWindowsPath(path), report);
}

}  // namespace

TEST(BugReportCollect, CppExceptionReportHasHeaderAndNamedCallStacks) {
  TargetRun run(UniqueName("collect_cpp"));
  ASSERT_TRUE(run.Copied());
  ASSERT_EQ(run.Run("cpp"), 0);
  const std::string report = OnlyReport(ReadWholeFile(run.File("bugreport.txt")));

  // Every field Wine can provide. Left out by design: "wts client name"
  // (a local session), "current module" (the reporter lives in the
  // executable) and "registered owner" (a fresh prefix may have none).
  for (const char* name :
       {"date/time", "computer name", "user name", "operating system", "system language", "system up time",
        "program up time", "physical memory", "free disk space", "display mode", "process id", "allocated memory",
        "largest free block", "command line", "executable", "exec. date/time", "version", "compiled with",
        "Exwatch version", "callstack crc", "exception number", "exception class", "exception message"}) {
    std::string value;
    EXPECT_TRUE(ReadHeaderField(report, name, &value)) << name;
    EXPECT_FALSE(value.empty()) << name;
  }
  EXPECT_FALSE(HeaderField(report, "processor").empty() && HeaderField(report, "processors").empty());
  EXPECT_EQ(HeaderField(report, "exception class"), "std::runtime_error");
  EXPECT_EQ(HeaderField(report, "exception message"), "collect target failure");
  EXPECT_EQ(HeaderField(report, "Exwatch version"), "4.0.9");
  EXPECT_EQ(HeaderField(report, "version"), "1.2.3.4");
  EXPECT_EQ(HeaderField(report, "process id").substr(0, 1), "$");
  EXPECT_NE(HeaderField(report, "compiled with").find("GCC"), std::string::npos);
  EXPECT_NE(HeaderField(report, "compiled with").find("MinGW-w64"), std::string::npos);
  EXPECT_TRUE(IsCompleteCallstackCrc(HeaderField(report, "callstack crc"))) << HeaderField(report, "callstack crc");
  // The line break after the file time became one trailing blank.
  const std::string exec = HeaderField(report, "exec. date/time");
  ASSERT_EQ(exec.size(), 17u) << exec;
  EXPECT_EQ(exec.back(), ' ');
  EXPECT_EQ(report.find(">> will be calculated soon"), std::string::npos);

  // The raising (main) thread, from the throw: the target's own functions
  // with source file and line.
  std::string main;
  ASSERT_TRUE(ReadSection(report, "main thread ($" + run.ThreadId("main") + ")", &main)) << report;
  for (const char* function : {"FailDeepInside(int)", "ThrowFromInnerFunction()", "RunCppException()", "main"})
    EXPECT_NE(main.find(function), std::string::npos) << function << "\n" << main;
  ExpectTopFrame(report, run.ExeName(), "(anonymous namespace)::FailDeepInside(int)", "// throw site");
  // The named worker is listed with its wait; the skipped one is not.
  std::string worker;
  EXPECT_TRUE(ReadSection(report, "collect worker ($" + run.ThreadId("worker") + ")", &worker)) << report;
  EXPECT_NE(worker.find("WorkerThreadWaits"), std::string::npos) << worker;
  EXPECT_EQ(report.find("$" + run.ThreadId("skipped") + ")"), std::string::npos);
  EXPECT_EQ(report.find("thread $" + run.ThreadId("skipped")), std::string::npos);
  EXPECT_EQ(report.find("SkippedThreadWaits"), std::string::npos);

  for (const char* section : {"modules", "processes", "hardware", "disassembling"}) {
    std::string content;
    EXPECT_TRUE(ReadSection(report, section, &content)) << section;
  }
  // A throw is no processor fault: no context, so no registers.
  EXPECT_FALSE(ReadSection(report, "cpu registers", nullptr));
  std::string modules;
  ReadSection(report, "modules", &modules);
  EXPECT_NE(modules.find("ntdll.dll"), std::string::npos);
  // No blank line inside the report.
  EXPECT_EQ(report.find("\r\n\r\n\r\n"), std::string::npos);
}

TEST(BugReportCollect, SameAccessViolationTwiceIsCountedOnce) {
  TargetRun run(UniqueName("collect_av"));
  ASSERT_TRUE(run.Copied());
  ASSERT_EQ(run.Run("av"), 3);
  const std::string first = OnlyReport(ReadWholeFile(run.File("bugreport.txt")));
  EXPECT_EQ(HeaderField(first, "exception class"), "EAccessViolation");
  EXPECT_FALSE(HeaderField(first, "count").size());

  std::string main, registers, dump, disassembly;
  ASSERT_TRUE(ReadSection(first, "main thread ($" + run.ThreadId("main") + ")", &main)) << first;
  EXPECT_NE(main.find("WriteThroughNull(int)"), std::string::npos) << main;
  EXPECT_NE(main.find("CallThatFaults()"), std::string::npos) << main;
  // The faulting frame is the first line.
  ExpectTopFrame(first, run.ExeName(), "(anonymous namespace)::WriteThroughNull(int)", "// fault site");
  ASSERT_TRUE(ReadSection(first, "cpu registers", &registers));
  EXPECT_NE(registers.find(sizeof(void*) == 8 ? "RIP" : "EIP"), std::string::npos);
  EXPECT_NE(registers.find("EFL"), std::string::npos);
  ASSERT_TRUE(ReadSection(first, "stack dump", &dump));
  EXPECT_GE(std::count(dump.begin(), dump.end(), '\n'), 8);
  ASSERT_TRUE(ReadSection(first, "disassembling", &disassembly));
  EXPECT_NE(disassembly.find("> "), std::string::npos) << disassembly;
  EXPECT_NE(disassembly.find("mov"), std::string::npos) << disassembly;
  KeepSample(first);

  ASSERT_EQ(run.Run("av"), 3);
  const std::string file = ReadWholeFile(run.File("bugreport.txt"));
  const std::string second = OnlyReport(file);
  EXPECT_EQ(second.find("\r\n\r\ndate/time"), std::string::npos) << "the stored copy was not cut out";
  EXPECT_EQ(HeaderField(second, "count"), "2");
  // Directly after "callstack crc".
  const std::size_t crc = second.find("callstack crc");
  const std::size_t next = second.find("\r\n", crc) + 2;
  EXPECT_EQ(second.compare(next, 5, "count"), 0);
  EXPECT_NE(HeaderField(first, "date/time"), HeaderField(second, "date/time"));
}

TEST(BugReportCollect, LockedFileSendsTheReportToAppData) {
  TargetRun run(UniqueName("collect_locked"));
  ASSERT_TRUE(run.Copied());
  ScopedFile lock(CreateFileA(run.File("bugreport.txt").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(lock);
  EXPECT_EQ(run.Run("av"), 3);
  lock.Reset();
  EXPECT_EQ(ReadWholeFile(run.File("bugreport.txt")), "");
  const std::string report = OnlyReport(ReadWholeFile(run.FallbackFile()));
  EXPECT_EQ(HeaderField(report, "exception class"), "EAccessViolation");
  EXPECT_EQ(ReadWholeFile(run.File("saved.txt")), run.FallbackFile());
}

// A reader holding the file (a viewer, a test polling it) when the save
// comes: the save waits for it instead of going to the fallback file.
TEST(BugReportCollect, AFileHeldByAReaderForAMomentStillGetsTheReport) {
  TargetRun run(UniqueName("collect_held"));
  ASSERT_TRUE(run.Copied());
  DebugOutputReader viewer;
  ASSERT_TRUE(viewer.Ok());
  ScopedFile reader(CreateFileA(run.File("bugreport.txt").c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(reader);
  ChildProcess child;
  ASSERT_TRUE(child.Start(run.File(run.ExeName()), "av", run.File("")));
  ASSERT_GE(viewer.WaitForLine("the bug-report file is in use, waiting: " + run.File("bugreport.txt"), 60000), 0);
  reader.Reset();
  EXPECT_EQ(child.Wait(120000), 3);
  EXPECT_EQ(HeaderField(OnlyReport(ReadWholeFile(run.File("bugreport.txt"))), "exception class"), "EAccessViolation");
  EXPECT_EQ(ReadWholeFile(run.File("saved.txt")), run.File("bugreport.txt"));
  EXPECT_EQ(GetFileAttributesA(run.FallbackFile().c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(BugReportCollect, UncreatableFileSendsTheReportToAppData) {
  TargetRun run(UniqueName("collect_nofile"));
  ASSERT_TRUE(run.Copied());
  // A folder where the file should be: it can be neither opened nor created.
  ASSERT_TRUE(CreateDirectoryA(run.File("bugreport.txt").c_str(), nullptr));
  EXPECT_EQ(run.Run("cpp"), 0);
  EXPECT_EQ(HeaderField(OnlyReport(ReadWholeFile(run.FallbackFile())), "exception class"), "std::runtime_error");
  RemoveDirectoryA(run.File("bugreport.txt").c_str());
}

TEST(BugReportCollect, DamagedFileKeepsItsBytesAndGetsTheNewReport) {
  TargetRun run(UniqueName("collect_damaged"));
  ASSERT_TRUE(run.Copied());
  // Not UTF-8, a truncated report with "date/time" inside a value, and a
  // key-like text that matches nothing.
  std::string damaged = "\xff\xfe\x80garbage\r\ndate/time : 2020-01-01, x date/time\r\ncallstack crc : $";
  for (int i = 0; i < 300; ++i) damaged += static_cast<char>((i * 37) & 0xff);
  WriteWholeFile(run.File("bugreport.txt"), damaged);
  EXPECT_EQ(run.Run("av"), 3);
  const std::string file = ReadWholeFile(run.File("bugreport.txt"));
  ASSERT_GT(file.size(), damaged.size());
  EXPECT_EQ(file.compare(0, damaged.size(), damaged), 0);
  const std::size_t start = file.find("\r\n\r\ndate/time", damaged.size() - 4);
  ASSERT_NE(start, std::string::npos);
  const std::string report = file.substr(start + 4, file.size() - start - 8);
  EXPECT_EQ(HeaderField(report, "exception class"), "EAccessViolation");
  EXPECT_EQ(file.substr(file.size() - 4), "\r\n\r\n");
}
