// Crash reporting end to end: a target program raises on purpose; the test
// finds its report box, reads it, presses its buttons and watches the
// program's log, exit code and restarted instance from outside.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "crash/ReportLines.h"
#include "support/WineTestSupport_win.h"

using namespace testing_support;
namespace rl = report_lines;

namespace {

// The report box: buttons at 300 + their index (continue 4, restart 5,
// close 6), the message, and the report text of the expanded box.
constexpr wchar_t kBoxClass[] = L"QEXReportBox";
constexpr int kContinueId = 304, kRestartId = 305, kCloseId = 306;
constexpr int kMessageId = 320, kReportTextId = 322;
constexpr UINT kEvent = WM_APP + 2;

std::string TargetPath() { return PathFromEnv("QEX_CRASH_TARGET_EXE"); }

// The raising main thread's top frame: `function` at the marked line.
void ExpectTopFrame(const std::string& report, const std::string& function, const std::string& marker) {
  rl::ExpectTopFrame(report, function, "crash_handler_target.exe", "tests/crash/handler/CrashTarget_win.cpp",
                     rl::SourceLineOf(PathFromEnv("QEX_CRASH_TARGET_SOURCE"), marker));
}

class Target {
 public:
  explicit Target(const std::string& scenario, const std::string& extra = std::string()) {
    log_ = dir_.Path() + "\\target.log";
    started_ = process_.Start(TargetPath(), scenario + " \"" + log_ + "\"" + (extra.empty() ? "" : " " + extra));
  }
  bool Started() const { return started_; }
  ChildProcess& Process() { return process_; }
  DWORD Pid() { return process_.Pid(); }
  const std::string& LogPath() const { return log_; }

  // Log lines (without the pid) of one process; pid 0: of this one.
  std::vector<std::string> Lines(DWORD pid = 0) const {
    if (!pid) pid = const_cast<Target*>(this)->Pid();
    std::ifstream in(log_);
    std::vector<std::string> lines;
    const std::string prefix = std::to_string(pid) + " ";
    for (std::string line; std::getline(in, line);) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.compare(0, prefix.size(), prefix) == 0) lines.push_back(line.substr(prefix.size()));
    }
    return lines;
  }
  std::size_t Count(const std::string& start, DWORD pid = 0) const {
    const auto lines = Lines(pid);
    return static_cast<std::size_t>(std::count_if(
        lines.begin(), lines.end(), [&](const std::string& l) { return l.compare(0, start.size(), start) == 0; }));
  }
  std::string First(const std::string& start, DWORD pid = 0) const {
    for (const std::string& l : Lines(pid))
      if (l.compare(0, start.size(), start) == 0) return l;
    return std::string();
  }
  bool WaitForLines(const std::string& start, std::size_t count, int timeoutMs, DWORD pid = 0) const {
    return WaitUntil([&] { return Count(start, pid) >= count; }, timeoutMs);
  }
  // The log without its timer ticks, one line each: what a failure shows.
  std::string Events() const {
    std::string events;
    for (const std::string& l : Lines())
      if (l != "tick") events += l + "\n";
    return events;
  }
  // Posts WM_APP + 2 to the target's hidden windows: it logs "event".
  void PostEvent() {
    for (HWND w : ProcessWindows(Pid(), L"QEXHiddenWindow")) PostMessageW(w, kEvent, 0, 0);
  }

 private:
  TempDir dir_;
  std::string log_;
  ChildProcess process_;
  bool started_ = false;
};

std::vector<HWND> Boxes(DWORD pid) { return ProcessWindows(pid, kBoxClass); }

HWND WaitForBox(DWORD pid, int timeoutMs = 15000) {
  HWND box = nullptr;
  WaitUntil(
      [&] {
        const auto boxes = Boxes(pid);
        box = boxes.empty() ? nullptr : boxes.front();
        return box != nullptr && IsWindowVisible(box);
      },
      timeoutMs);
  return box;
}

// The process's top-level windows, a line each: class, and whether shown.
std::string Windows(DWORD pid) {
  std::string list;
  for (HWND w : ProcessWindows(pid)) list += ToUtf8(ClassName(w)) + (IsWindowVisible(w) ? " shown\n" : " hidden\n");
  return list;
}

std::string Text(HWND box, int id) { return ToUtf8(WindowText(GetDlgItem(box, id))); }

std::string Field(const std::string& text, const std::string& name) { return ReportField(text, name); }

std::string LongText(HWND window) { return ToUtf8(WindowText(window)); }

// "class: message" as the expanded box's general tab shows it.
// Waits a little for the text to be filled in.
std::string ShownException(HWND box) {
  std::string shown;
  WaitUntil(
      [&] {
        // The header is complete when two reads in a row agree.
        const std::string header = LongText(GetDlgItem(box, kReportTextId));
        const std::string now = Field(header, "exception class") + ": " + Field(header, "exception message");
        const bool settled = now.size() > 2 && now == shown;
        shown = now;
        return settled;
      },
      5000);
  return shown;
}

void Press(HWND box, int id) {
  HWND button = GetDlgItem(box, id);
  ASSERT_NE(button, nullptr);
  PostMessageW(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
}

bool BoxGone(HWND box, int timeoutMs = 5000) {
  return WaitUntil([&] { return !IsWindow(box); }, timeoutMs);
}

// Timer ticks go on: at least three more within a generous window.
bool TicksGoOn(const Target& target) {
  const std::size_t before = target.Count("tick");
  return target.WaitForLines("tick", before + 3, 5000);
}

void ContinueAndCheckAlive(Target& target, HWND box) {
  ASSERT_TRUE(IsWindowEnabled(GetDlgItem(box, kContinueId)));
  Press(box, kContinueId);
  ASSERT_TRUE(BoxGone(box));
  EXPECT_TRUE(TicksGoOn(target));
  target.PostEvent();
  EXPECT_TRUE(target.WaitForLines("event", 1, 5000));
}

std::string BugReportFile() {
  const std::string exe = TargetPath();
  return exe.substr(0, exe.find_last_of("\\/") + 1) + "bugreport.txt";
}

// The newest saved report of that exception class in the bug-report file
// (the file is opened without sharing while a save runs).
std::string LastSavedReport(const std::string& exceptionClass) {
  std::string report;
  WaitUntil(
      [&] {
        const std::string text = ReadWholeFile(BugReportFile());
        const std::size_t at = text.find("exception class    : " + exceptionClass);
        if (at == std::string::npos) return false;
        const std::size_t start = text.rfind("date/time", at);
        report = text.substr(start == std::string::npos ? 0 : start);
        return true;
      },
      15000);
  return report;
}

}  // namespace

TEST(CrashHandler, HandlerExceptionShowsBoxTimersRunAndLoopGoesOnAfterContinue) {
  DeleteFileA(BugReportFile().c_str());
  Target target("throw");
  ASSERT_TRUE(target.Started());
  HWND box = WaitForBox(target.Pid());
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(ToUtf8(WindowText(box)), "crash_handler_target.exe");
  EXPECT_EQ(Text(box, kMessageId), "An error occurred in the application.");
  EXPECT_EQ(ShownException(box), "EConvertError: 'abc' is not a valid integer value");
  EXPECT_EQ(ToUtf8(WindowText(GetDlgItem(box, kContinueId))), "continue application");
  EXPECT_EQ(ToUtf8(WindowText(GetDlgItem(box, kRestartId))), "restart application");
  EXPECT_EQ(ToUtf8(WindowText(GetDlgItem(box, kCloseId))), "close application");
  // The main thread keeps its timers going while the box is open.
  EXPECT_TRUE(TicksGoOn(target));
  EXPECT_EQ(Boxes(target.Pid()).size(), 1u);

  ContinueAndCheckAlive(target, box);
  EXPECT_EQ(target.First("exception"), "exception n=1 class=EConvertError context=no continue=1 "
                                       "message='abc' is not a valid integer value");
  EXPECT_EQ(target.Count("raised nothing"), 0u);  // the handler did not go on past the throw
  EXPECT_EQ(target.Process().Close(10000), 0);
  const std::string report = LastSavedReport("EConvertError");
  ASSERT_FALSE(report.empty()) << "not saved";
  // The raising thread's stack as it was at the throw, though it was
  // reported after unwinding.
  ExpectTopFrame(report, "(anonymous namespace)::Raise()", "throw site: raise");
}

TEST(CrashHandler, ExceptionHandedToTheMainThreadShowsTheFramesOfItsThrowOnTheWorker) {
  DeleteFileA(BugReportFile().c_str());
  Target target("handover");
  ASSERT_TRUE(target.Started());
  HWND box = WaitForBox(target.Pid());
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(ShownException(box), "EConvertError: thrown on the worker");
  ContinueAndCheckAlive(target, box);
  EXPECT_EQ(target.Process().Close(10000), 0);
  const std::string report = LastSavedReport("EConvertError");
  ASSERT_FALSE(report.empty()) << "not saved";
  // Reported on the main thread, with the worker's throw on top and
  // nothing of the main thread's own earlier, caught throw.
  ExpectTopFrame(report, "(anonymous namespace)::ThrowOnWorker()", "throw site: worker");
  EXPECT_EQ(report.find("ThrowAndCatchOnMain"), std::string::npos);
}

TEST(CrashHandler, HardwareFaultsInHandlersAreReportedWithContextAndContinue) {
  struct Case {
    const char* scenario;
    const char* cls;
    const char* message;
  } cases[] = {{"av", "EAccessViolation", "Access violation at address "}, {"div", "EDivByZero", "Division by zero"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.scenario);
    Target target(c.scenario);
    ASSERT_TRUE(target.Started());
    HWND box = WaitForBox(target.Pid());
    ASSERT_NE(box, nullptr);
    const std::string shown = ShownException(box);
    EXPECT_EQ(shown.rfind(std::string(c.cls) + ": " + c.message, 0), 0u) << shown;
    const std::string line = target.First("exception");
    EXPECT_EQ(line.rfind(std::string("exception n=1 class=") + c.cls + " context=yes continue=1", 0), 0u) << line;
    if (std::string(c.scenario) == "av") {
      // Addresses as wide as the target's pointers.
      const std::string nowhere(sizeof(void*) * 2, '0');
      EXPECT_NE(line.find("in module 'crash_handler_target.exe'. Write of address " + nowhere), std::string::npos)
          << line;
    }
    ContinueAndCheckAlive(target, box);
    EXPECT_EQ(target.Count("raised nothing"), 0u);
    EXPECT_EQ(target.Process().Close(10000), 0);
  }
}

TEST(CrashHandler, ExceptionsEscapingThreadObjectsAndRawThreadProceduresAreReported) {
  struct Case {
    const char* scenario;
    const char* expected;
  } cases[] = {
      {"thread-object", "exception n=1 class=EOSError context=no continue=1 message=thread object failure"},
      {"raw-thread", "exception n=1 class=ERegistryException context=no continue=1 message=raw thread failure"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.scenario);
    Target target(c.scenario);
    ASSERT_TRUE(target.Started());
    HWND box = WaitForBox(target.Pid());
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(target.First("exception"), c.expected);
    ContinueAndCheckAlive(target, box);
    EXPECT_EQ(target.Process().Close(10000), 0);
  }
}

TEST(CrashHandler, TwoThreadsRaisingAtOnceGetTwoBoxesOneAfterTheOther) {
  Target target("two-threads");
  ASSERT_TRUE(target.Started());
  std::size_t most = 0;
  std::vector<std::string> shown;
  HWND last = nullptr;
  ASSERT_TRUE(WaitUntil(
      [&] {
        const auto boxes = Boxes(target.Pid());
        most = std::max(most, boxes.size());
        for (HWND box : boxes) {
          if (box == last || !IsWindowVisible(box)) continue;
          // Give a second box the chance to appear beside this one.
          Pause(300);
          most = std::max(most, Boxes(target.Pid()).size());
          shown.push_back(ShownException(box));
          last = box;
          Press(box, kContinueId);
        }
        return shown.size() == 2;
      },
      20000, 10));
  EXPECT_EQ(most, 1u);
  std::sort(shown.begin(), shown.end());
  EXPECT_EQ(shown[0], "EConvertError: racing thread one");
  EXPECT_EQ(shown[1], "EConvertError: racing thread two");
  EXPECT_TRUE(target.WaitForLines("exception n=2", 1, 5000));
  EXPECT_TRUE(WaitUntil([&] { return Boxes(target.Pid()).empty(); }, 5000));
  EXPECT_EQ(target.Process().Close(10000), 0);
}

TEST(CrashHandler, AbortIsNeverReportedAndEndsWithCodeOneWhereItCannotContinue) {
  {
    Target target("abort");
    ASSERT_TRUE(target.Started());
    ASSERT_TRUE(target.WaitForLines("raising", 1, 10000));
    EXPECT_TRUE(TicksGoOn(target));
    Pause(500);
    EXPECT_TRUE(Boxes(target.Pid()).empty());
    EXPECT_EQ(target.Count("exception"), 0u);
    EXPECT_EQ(target.Process().Close(10000), 0);
  }
  {
    Target target("abort-fatal");
    ASSERT_TRUE(target.Started());
    EXPECT_EQ(target.Process().Wait(15000), 1);
    EXPECT_EQ(target.Count("exception"), 0u);
  }
}

TEST(CrashHandler, CloseApplicationEndsWithExitCodeOne) {
  Target target("close");
  ASSERT_TRUE(target.Started());
  HWND box = WaitForBox(target.Pid());
  ASSERT_NE(box, nullptr);
  Press(box, kCloseId);
  EXPECT_EQ(target.Process().Wait(10000), 1);
  EXPECT_EQ(target.Count("stopped"), 0u);  // no finalization ran
}

TEST(CrashHandler, RestartApplicationEndsWithTwoAndStartsTheSameCommandLineWithTheHistory) {
  Target target("restart", "-min");
  ASSERT_TRUE(target.Started());
  const DWORD oldPid = target.Pid();
  ASSERT_TRUE(target.WaitForLines("start", 1, 10000));
  const std::string oldStart = target.First("start");
  EXPECT_NE(oldStart.find("restarted=0 history0=0 "), std::string::npos) << oldStart;
  HWND box = WaitForBox(oldPid);
  ASSERT_NE(box, nullptr);
  Press(box, kRestartId);
  EXPECT_EQ(target.Process().Wait(10000), 2);

  // The new instance logs under its own id.
  DWORD newPid = 0;
  ASSERT_TRUE(WaitUntil(
      [&] {
        std::ifstream in(target.LogPath());
        for (std::string line; std::getline(in, line);) {
          std::istringstream fields(line);
          DWORD pid = 0;
          std::string word;
          fields >> pid >> word;
          if (pid != oldPid && word == "start") newPid = pid;
        }
        return newPid != 0;
      },
      15000));
  HANDLE restarted = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE, FALSE, newPid);
  ASSERT_NE(restarted, nullptr);
  // Whatever fails below, the new instance does not outlive the test.
  struct Reaper {
    HANDLE process;
    ~Reaper() {
      if (WaitForSingleObject(process, 0) == WAIT_TIMEOUT) TerminateProcess(process, 99);
      CloseHandle(process);
    }
  } reaper{restarted};
  const std::string newStart = target.First("start", newPid);
  EXPECT_NE(newStart.find("restarted=1 history0="), std::string::npos) << newStart;
  EXPECT_EQ(newStart.find("history0=0 "), std::string::npos) << newStart;  // inherited
  const std::string oldLine = oldStart.substr(oldStart.find("cmdline="));
  EXPECT_EQ(newStart.substr(newStart.find("cmdline=")), oldLine);
  EXPECT_NE(oldLine.find(" -min"), std::string::npos);

  // It raises again; close it.
  HWND second = WaitForBox(newPid);
  ASSERT_NE(second, nullptr);
  Press(second, kCloseId);
  EXPECT_EQ(WaitForSingleObject(restarted, 10000), WAIT_OBJECT_0);
  DWORD code = 0;
  GetExitCodeProcess(restarted, &code);
  EXPECT_EQ(code, 1u);
}

TEST(CrashHandler, ReportedFaultIsSavedBesideTheProgramAndTheSameFaultAgainCountsTwo) {
  const std::string file = BugReportFile();
  DeleteFileA(file.c_str());
  const auto contents = [&] { return ReadWholeFile(file); };
  for (int round = 1; round <= 2; ++round) {
    SCOPED_TRACE(round);
    Target target("av");
    ASSERT_TRUE(target.Started());
    HWND box = WaitForBox(target.Pid());
    ASSERT_NE(box, nullptr);
    ContinueAndCheckAlive(target, box);
    // Saved at the end of handling, once the report is complete.
    std::string text;
    EXPECT_TRUE(WaitUntil(
        [&] {
          text = contents();
          return round == 1 ? !text.empty() : Field(text, "count") == "2";
        },
        15000));
    EXPECT_EQ(Field(text, "exception class"), "EAccessViolation");
    EXPECT_NE(text.find("WriteThroughNull"), std::string::npos) << text.substr(0, 4000);
    EXPECT_NE(text.find("CrashTarget_win.cpp"), std::string::npos);
    EXPECT_EQ(Field(text, "count"), round == 1 ? "" : "2");
    ExpectTopFrame(text, "(anonymous namespace)::WriteThroughNull(int volatile*)", "fault site");
    // Below it the frames that led there, down to main, though the fault's
    // stack was unwound and reused before it was reported.
    const std::string stack = rl::Section(text, "main thread (");
    EXPECT_NE(stack.find("TApplication::Run()"), std::string::npos) << stack;
    EXPECT_NE(stack.find(" main\r\n"), std::string::npos) << stack;
    EXPECT_EQ(target.Process().Close(10000), 0);
  }
}

TEST(CrashHandler, ExceptionsThatCannotContinueShowContinueDisabled) {
  struct Case {
    const char* scenario;
    const char* start;
  } cases[] = {{"fatal", "EOSError: escaped main"}, {"fatal-av", "EAccessViolation: Access violation at address "}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.scenario);
    Target target(c.scenario);
    ASSERT_TRUE(target.Started());
    HWND box = WaitForBox(target.Pid());
    ASSERT_NE(box, nullptr);
    const std::string shown = ShownException(box);
    EXPECT_EQ(shown.rfind(c.start, 0), 0u) << shown;
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(box, kContinueId)));
    EXPECT_NE(target.First("exception").find("continue=0"), std::string::npos);
    // Pressing the disabled button does nothing; closing the box closes.
    Press(box, kContinueId);
    Pause(300);
    EXPECT_TRUE(IsWindow(box));
    PostMessageW(box, WM_CLOSE, 0, 0);
    EXPECT_EQ(target.Process().Wait(10000), 1);
  }
}

namespace {

// The saved report whose header has `field`, newest first; empty when none.
std::string SavedReportWith(const std::string& field, int timeoutMs) {
  std::string report;
  WaitUntil(
      [&] {
        const std::string text = ReadWholeFile(BugReportFile());
        const std::size_t at = text.rfind("\r\n" + field + " ");
        if (at == std::string::npos) return false;
        const std::size_t start = text.rfind("date/time", at);
        const std::size_t end = text.find("\r\ndate/time", at);
        report = text.substr(start == std::string::npos ? 0 : start,
                             end == std::string::npos ? std::string::npos : end - start);
        return true;
      },
      timeoutMs);
  return report;
}

// The process answers: a posted message is handled within a short while.
bool Answers(Target& target) {
  const std::size_t before = target.Count("event");
  target.PostEvent();
  return target.WaitForLines("event", before + 1, 5000);
}

}  // namespace

// A handler that fails on every tick while the first box is open: the
// thread's other timers keep their pace, no second box opens, and the report
// counts what came meanwhile.
TEST(CrashHandlerStorm, RepeatedExceptionsWhileTheBoxIsOpenAreCountedAndTheLoopKeepsItsPace) {
  DeleteFileA(BugReportFile().c_str());
  Target target("storm");
  ASSERT_TRUE(target.Started());
  HWND box = WaitForBox(target.Pid());
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(ShownException(box), "EConvertError: storm");

  const std::size_t ticksBefore = target.Count("tick");
  const DWORD start = GetTickCount();
  std::size_t mostBoxes = 0;
  int silent = 0;
  while (GetTickCount() - start < 60000) {
    Sleep(2000);
    mostBoxes = std::max(mostBoxes, Boxes(target.Pid()).size());
    if (!Answers(target)) ++silent;
  }
  const DWORD elapsed = GetTickCount() - start;
  const std::size_t ticks = target.Count("tick") - ticksBefore;
  const std::size_t expected = elapsed / 100;
  std::printf("storm: %zu of %zu ticks of the 100 ms timer in %lu ms with the box open\n", ticks, expected,
              static_cast<unsigned long>(elapsed));
  EXPECT_GE(ticks * 10, expected * 9);
  EXPECT_EQ(mostBoxes, 1u);
  EXPECT_EQ(silent, 0);
  EXPECT_TRUE(IsWindow(box));

  Press(box, kContinueId);
  ASSERT_TRUE(BoxGone(box, 10000));
  const std::string report = SavedReportWith("further exceptions", 20000);
  ASSERT_FALSE(report.empty()) << "no report counts the further exceptions";
  const long further = std::atol(Field(report, "further exceptions").c_str());
  std::printf("storm: the report counts %ld further exceptions\n", further);
  // The 20 ms timer ticks at least as often as the 100 ms one.
  EXPECT_GE(static_cast<std::size_t>(further), ticks);
  EXPECT_EQ(Field(report, "exception message"), "storm");
  const std::string listed = rl::Section(report, "further exceptions");
  EXPECT_NE(listed.find("EConvertError: storm"), std::string::npos) << listed;
  EXPECT_NE(listed.find(" more"), std::string::npos) << listed;
  // The storm goes on after Continue: the next exception gets a box of its own.
  EXPECT_NE(WaitForBox(target.Pid()), nullptr);
  EXPECT_EQ(target.Process().Close(15000), 0);
}

TEST(CrashHandlerContainment, ExceptionHandlerWritingThroughNullLeavesTheProgramRunningAndTheReportSaved) {
  DeleteFileA(BugReportFile().c_str());
  Target target("handler-av");
  ASSERT_TRUE(target.Started());
  HWND box = WaitForBox(target.Pid());
  ASSERT_NE(box, nullptr) << "the handler's fault stopped the handling";
  EXPECT_EQ(ShownException(box), "EConvertError: 'abc' is not a valid integer value");
  ContinueAndCheckAlive(target, box);
  EXPECT_FALSE(LastSavedReport("EConvertError").empty()) << "not saved";
  EXPECT_EQ(target.Process().Close(10000), 0);
}

// A fault inside a system DLL cannot become an exception: the handling is
// given up, the report saved as far as it got, and a new handling thread
// serves the next exception.
TEST(CrashHandlerContainment, FaultOutsideTheProgramOnTheHandlingThreadSavesTheReportAndReleasesTheThread) {
  DeleteFileA(BugReportFile().c_str());
  Target target("handler-foreign-av");
  ASSERT_TRUE(target.Started());
  ASSERT_TRUE(target.WaitForLines("exception n=1", 1, 15000));
  EXPECT_FALSE(LastSavedReport("EConvertError").empty()) << "not saved";
  EXPECT_TRUE(TicksGoOn(target));
  EXPECT_TRUE(Answers(target));
  EXPECT_TRUE(Boxes(target.Pid()).empty());
  EXPECT_EQ(target.Count("raised nothing"), 0u);

  for (HWND w : ProcessWindows(target.Pid(), L"QEXHiddenWindow")) PostMessageW(w, WM_APP + 1, 0, 0);
  HWND box = WaitForBox(target.Pid());
  ASSERT_NE(box, nullptr) << "no handling after the failure";
  EXPECT_TRUE(target.WaitForLines("exception n=2", 1, 5000));
  ContinueAndCheckAlive(target, box);
  EXPECT_EQ(target.Process().Close(10000), 0);
}

// The program is asked to close while the box is open: the report is saved
// before the process ends.
TEST(CrashHandlerClosing, CloseWhileTheBoxIsOpenSavesTheReportAndEnds) {
  DeleteFileA(BugReportFile().c_str());
  Target target("throw");
  ASSERT_TRUE(target.Started());
  HWND box = WaitForBox(target.Pid());
  ASSERT_NE(box, nullptr);
  ShownException(box);
  // Only the program's own window: the box is not told.
  for (HWND w : ProcessWindows(target.Pid(), L"QEXHiddenWindow")) PostMessageW(w, WM_CLOSE, 0, 0);
  EXPECT_EQ(target.Process().Wait(10000), 0);
  const std::string text = ReadWholeFile(BugReportFile());
  EXPECT_EQ(Field(text, "exception class"), "EConvertError") << "not saved";
  EXPECT_EQ(text.find(std::string(1, '\0')), std::string::npos);
}

TEST(CrashHandlerClosing, EndOfSessionWhileTheBoxIsOpenSavesTheReportFirst) {
  DeleteFileA(BugReportFile().c_str());
  Target target("throw");
  ASSERT_TRUE(target.Started());
  HWND box = WaitForBox(target.Pid());
  ASSERT_NE(box, nullptr);
  ShownException(box);
  const auto apps = ProcessWindows(target.Pid(), L"QEXApplication");
  ASSERT_EQ(apps.size(), 1u);
  DWORD_PTR answer = 0;
  SendMessageTimeoutW(apps[0], WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_BLOCK, Scaled(10000), &answer);
  ASSERT_NE(SendMessageTimeoutW(apps[0], WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_BLOCK, Scaled(10000), &answer),
            0);
  // Saved by the time the window answered: the platform ends the process then.
  EXPECT_EQ(Field(ReadWholeFile(BugReportFile()), "exception class"), "EConvertError") << "not saved";
  target.Process().Kill();
}

TEST(CrashHandlerContainment, HandOverWritingThroughNullReachesTheWorkerAndCanContinue) {
  Target target("handover-av");
  ASSERT_TRUE(target.Started());
  HWND box = WaitForBox(target.Pid());
  ASSERT_NE(box, nullptr);
  const std::string shown = ShownException(box);
  EXPECT_EQ(shown.rfind("EAccessViolation: Access violation at address ", 0), 0u) << shown;
  EXPECT_EQ(target.First("worker got"), "worker got EAccessViolation");
  ContinueAndCheckAlive(target, box);
  EXPECT_EQ(target.Process().Close(10000), 0);
}

TEST(CrashHandlerContainment, StackDumpOfAFaultThatCanContinueShowsTheStackAsItWasAtTheFault) {
  DeleteFileA(BugReportFile().c_str());
  Target target("av-stack");
  ASSERT_TRUE(target.Started());
  HWND box = WaitForBox(target.Pid());
  ASSERT_NE(box, nullptr);
  ContinueAndCheckAlive(target, box);
  const std::string report = LastSavedReport("EAccessViolation");
  ASSERT_FALSE(report.empty()) << "not saved";
  // The character column of each line, joined: the marker may start
  // anywhere in a line.
  const std::string dump = rl::Section(report, "stack dump");
  std::string chars;
  std::istringstream lines(dump);
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() > 16) chars += line.substr(line.size() - 16);
  }
  EXPECT_NE(chars.find("QEXSTACKMARKER01QEXSTACKMARKER02"), std::string::npos) << dump;
  EXPECT_EQ(target.Process().Close(10000), 0);
}

TEST(CrashHandlerContainment, StackOverflowIsReportedAndCannotContinue) {
  DeleteFileA(BugReportFile().c_str());
  Target target("overflow");
  ASSERT_TRUE(target.Started());
  HWND box = WaitForBox(target.Pid());
  ASSERT_NE(box, nullptr);
  const std::string shown = ShownException(box);
  EXPECT_EQ(shown.rfind("EStackOverflow: ", 0), 0u) << shown;
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(box, kContinueId)));
  Press(box, kCloseId);
  EXPECT_EQ(target.Process().Wait(15000), 1);
  EXPECT_EQ(Field(LastSavedReport("EStackOverflow"), "exception class"), "EStackOverflow");
}

namespace {

std::wstring SystemFile(const wchar_t* name) {
  wchar_t folder[MAX_PATH] = {};
  GetSystemDirectoryW(folder, MAX_PATH);
  return std::wstring(folder) + L"\\" + name;
}

// The mapi32.dll double in the system folder for one test, the original
// put back afterwards.
class MapiDouble {
 public:
  MapiDouble() : path_(SystemFile(L"mapi32.dll")) {
    backedUp_ = CopyFileW(path_.c_str(), (path_ + L".qexsave").c_str(), FALSE) != FALSE;
    installed_ = CopyFileW(FromUtf8(PathFromEnv("QEX_MAPI_DOUBLE_DLL")).c_str(), path_.c_str(), FALSE) != FALSE;
  }
  ~MapiDouble() {
    if (backedUp_ && CopyFileW((path_ + L".qexsave").c_str(), path_.c_str(), FALSE))
      DeleteFileW((path_ + L".qexsave").c_str());
  }
  bool Installed() const { return installed_; }

 private:
  std::wstring path_;
  bool backedUp_ = false;
  bool installed_ = false;
};

void Click(HWND window, int id) {
  PostMessageW(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(window, id)));
}

// Contact, details and screenshot pages of the send assistant, each with
// "Continue" (400); items from 410.
bool CompleteSendAssistant(DWORD pid) {
  HWND assistant = nullptr;
  const bool shown = WaitUntil(
      [&] {
        for (HWND w : ProcessWindows(pid, L"QEXSendAssistant"))
          if (IsWindowVisible(w)) assistant = w;
        return assistant != nullptr;
      },
      15000);
  if (!shown) return false;
  const auto title = [&] { return ToUtf8(WindowText(GetDlgItem(assistant, 403))); };
  const auto next = [&](const char* page) {
    if (!WaitUntil([&] { return IsWindowEnabled(GetDlgItem(assistant, 400)) != FALSE; }, 5000)) return false;
    Click(assistant, 400);
    return page == nullptr || WaitUntil([&] { return title() == page; }, 5000);
  };
  DWORD_PTR unused = 0;
  SendMessageTimeoutW(GetDlgItem(assistant, 413), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"tess@example.org"),
                      SMTO_ABORTIFHUNG, 5000, &unused);
  if (!next("Error Details")) return false;
  for (wchar_t c : std::wstring(L"sent while it raised")) PostMessageW(GetDlgItem(assistant, 411), WM_CHAR, c, 1);
  if (!next("Screenshot Configuration") || !next(nullptr)) return false;
  return WaitUntil([&] { return !IsWindow(assistant); }, 10000);
}

}  // namespace

// Crash reporting's own send thread, still in the mail client at the next
// exception, is neither suspended nor listed in that report.
TEST(CrashHandlerOwnThreads, SendStillRunningAtTheNextExceptionIsNotListed) {
  MapiDouble mapi;
  ASSERT_TRUE(mapi.Installed());
  TempDir dir;
  const std::string mapiLog = dir.Path() + "\\mapi.log";
  SetEnvironmentVariableA("QEX_MAPI_LOG", mapiLog.c_str());
  SetEnvironmentVariableA("QEX_MAPI_HOLD_MS", std::to_string(Scaled(60000)).c_str());
  DeleteFileA(BugReportFile().c_str());
  Target target("throw");
  SetEnvironmentVariableA("QEX_MAPI_HOLD_MS", nullptr);
  ASSERT_TRUE(target.Started());
  HWND box = WaitForBox(target.Pid());
  ASSERT_NE(box, nullptr);
  Click(box, 300);  // send bug report
  ASSERT_TRUE(CompleteSendAssistant(target.Pid()));
  std::string sendThread;
  ASSERT_TRUE(WaitUntil([&] { return !(sendThread = ReadWholeFile(mapiLog + ".thread")).empty(); }, 15000));
  Press(box, kContinueId);
  ASSERT_TRUE(BoxGone(box));
  // Saved: the first report takes no more exceptions, so the next one gets a
  // box of its own.
  ASSERT_TRUE(WaitUntil(
      [&] { return ReadWholeFile(BugReportFile()).find("exception number   : 1") != std::string::npos; }, 15000));

  for (HWND w : ProcessWindows(target.Pid(), L"QEXHiddenWindow")) PostMessageW(w, WM_APP + 1, 0, 0);
  HWND second = WaitForBox(target.Pid());
  ASSERT_NE(second, nullptr) << target.Events();
  Press(second, kContinueId);
  ASSERT_TRUE(BoxGone(second));
  // The second report, last in the file. Raised from the message loop it has
  // the first one's stack: the first copy is cut out and it counts 2. Raised
  // while the main thread still waited for the first report's end, its stack
  // differs and both stay.
  std::string report;
  ASSERT_TRUE(WaitUntil(
      [&] {
        const std::string text = ReadWholeFile(BugReportFile());
        const std::string number = "exception number   : ";
        const bool twoReports = text.find(number) != text.rfind(number);
        if (!twoReports && text.find(number + "2") == std::string::npos) return false;
        const std::size_t start = text.rfind("\ndate/time");
        report = text.substr(start == std::string::npos ? 0 : start + 1);
        return true;
      },
      20000))
      << target.Events() << Windows(target.Pid()) << ReadWholeFile(BugReportFile()).substr(0, 600);
  char hex[16];
  std::snprintf(hex, sizeof hex, "%lx", std::strtoul(sendThread.c_str(), nullptr, 10));
  std::string lower = report;
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
  EXPECT_EQ(lower.find(std::string("($") + hex + ")"), std::string::npos) << report;
  EXPECT_EQ(lower.find(std::string("\r\n\r\nthread $") + hex + ":"), std::string::npos) << report;
  target.Process().Kill();
}
