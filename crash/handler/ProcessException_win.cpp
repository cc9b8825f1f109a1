// The processing of one exception on the handling thread: the report record,
// the handlers, the screenshot and the bug report, the box, and what follows
// it (continue, restart or close).
#include <atomic>
#include <ctime>
#include <memory>
#include <mutex>
#include <vector>

#include "crash/box/ReportBox.h"
#include "crash/collect/BugReportCollector.h"
#include "crash/handler/CrashReporter.h"
#include "crash/handler/HardwareFaults.h"
#include "crash/handler/ReportFilters.h"
#include "crash/handler/ReportPlaceholders.h"
#include "crash/handler/ReporterState.h"
#include "crash/report/BugReportFile.h"
#include "crash/report/PathText.h"
#include "support/Debugs.h"
#include "support/TextCodec.h"
#include "toolkit/Thread.h"

namespace {

std::int64_t NowSeconds() { return static_cast<std::int64_t>(std::time(nullptr)); }

void EmptyTempFolder() {
  if (gReporter.tempFolder.empty()) {
    char temp[MAX_PATH + 1] = {};
    if (!GetTempPathA(MAX_PATH, temp)) return;
    gReporter.tempFolder = std::string(temp) + WithoutExtension(ExecutableName()) + "-crash-" +
                           std::to_string(GetCurrentProcessId()) + "\\";
  }
  CreateDirectoryA(gReporter.tempFolder.c_str(), nullptr);
  WIN32_FIND_DATAA found;
  ScopedFindHandle search(FindFirstFileA((gReporter.tempFolder + "*").c_str(), &found));
  if (!search) return;
  do {
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    const std::string file = gReporter.tempFolder + found.cFileName;
    SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(file.c_str());
  } while (FindNextFileA(search.Get(), &found));
}

// The id is kept beside the handle: a handle opened for waiting only gives
// no id (GetThreadId needs the query right), and a thread id of 0 would
// leave the thread to be suspended and listed in the next report.
void KeepOwnThread(std::uint32_t id) {
  if (!id) return;
  ScopedKernelHandle thread(OpenThread(SYNCHRONIZE | THREAD_QUERY_LIMITED_INFORMATION, FALSE, id));
  if (thread && WaitForSingleObject(thread.Get(), 0) == WAIT_TIMEOUT)
    gReporter.ownThreads.push_back({std::move(thread), id});
}

// The handling thread and the threads of earlier exceptions still running.
std::vector<std::uint32_t> OwnThreadIds() {
  std::vector<std::uint32_t> ids = {gReporter.threadId};
  std::vector<Reporter::OwnThread> running;
  for (Reporter::OwnThread& thread : gReporter.ownThreads) {
    if (WaitForSingleObject(thread.handle.Get(), 0) != WAIT_TIMEOUT) continue;
    ids.push_back(thread.id);
    running.push_back(std::move(thread));
  }
  gReporter.ownThreads.swap(running);
  return ids;
}

ExceptionTimeHistory HistoryNow() {
  std::lock_guard<CriticalSection> hold(gReporter.stateLock);
  return gReporter.history;
}

// True when a handler cancelled the built-in action.
bool FireAction(CrashReport& report, int action) {
  std::vector<TCrashActionEvent> handlers;
  {
    std::lock_guard<CriticalSection> hold(gReporter.stateLock);
    handlers = gReporter.actionHandlers;
  }
  bool handled = false;
  for (const TCrashActionEvent& handler : handlers) {
    try {
      handler(report, action, handled);
    } catch (...) {
    }
  }
  return handled;
}

// One exception's processing: its record, the bug report being built and
// the last send started from the box.
struct Handling {
  Handling(CrashReport& r, Job& j) : report(r), job(j) {}
  CrashReport& report;
  Job& job;
  std::unique_ptr<BugReportJob> bugReport;
  std::shared_ptr<SendJob> send;
  std::shared_ptr<Screenshot> screenshot;
};

bool ReportSentOk(const Handling& h) { return h.send && h.send->Sent(); }

// The processing under way on the handling thread, for ContainHandlingFailure.
Handling* g_current = nullptr;

// What came while the box was open: exceptions the raising thread raised
// again while it waited, and requests of other threads the full queue refused.
void AddFurtherExceptions(Handling& h) {
  FurtherExceptions& further = h.job.further;
  // Later ones would be told nowhere: they get a report of their own.
  further.Close();
  if (!h.bugReport) return;
  BugReport& report = h.bugReport->Report();
  if (further.Count()) {
    report.SetHeaderField(kFurtherExceptionsTitle, further.CountText());
    report.SetSection(kFurtherExceptionsTitle, further.SectionText());
  }
  if (const std::uint32_t refused = gReporter.refused.exchange(0))
    report.SetHeaderField("not reported", std::to_string(refused));
}

// Before continue, restart and close.
void FinalAutoStep(Handling& h, bool wait) {
  CrashReport& report = h.report;
  const ReportSettings& s = report.Settings;
  // Restart and close wait for a background send anyway; waiting first
  // tells whether it succeeded, so a sent report is not saved as well.
  if (wait && h.send) h.send->Wait();
  report.ReportSent = ReportSentOk(h);
  const bool saveWanted =
      h.bugReport && s.IsOn("AutoSave") && (!s.IsOn("AutoSaveIfNotSent") || !report.ReportSent);
  if (saveWanted && !h.bugReport->Complete()) WaitForCompletion(*h.bugReport, true);
  if (h.bugReport) report.ReportComplete = h.bugReport->Complete();
  AddFurtherExceptions(h);
  if (saveWanted && !h.bugReport->Saved() && !FireAction(report, caSave)) {
    if (SaveBugReport(*h.bugReport, s)) {
      report.ReportSaved = true;
      FireAction(report, caSaved);
    }
  }
}

[[noreturn]] void CloseProcess(Handling& h) {
  FinalAutoStep(h, true);
  TerminateProcess(GetCurrentProcess(), 1);
  ExitProcess(1);
}

[[noreturn]] void Restart(Handling& h) {
  FinalAutoStep(h, true);
  RestartProcess(HistoryNow());
}

ExceptionInfo MakeExceptionInfo(const CrashReport& report, const Job& job) {
  ExceptionInfo info;
  info.exceptionClass = report.ExceptionClass;
  info.exceptionMessage = report.ExceptionMessage;
  info.codeAddress = report.CodeAddress;
  info.threadId = report.ThreadId;
  info.context = report.Context;
  info.raisingFrames = report.Context ? FramesFromFault(job.raisingFrames, report.CodeAddress) : job.raisingFrames;
  info.stackPointer = report.StackPointer;
  info.stackCopy = report.StackCopy;
  info.framePointer = report.FramePointer;
  info.time = report.Time;
  info.number = report.Number;
  for (const auto& inner : report.InnerExceptions) info.innerExceptions.push_back({inner.first, inner.second});
  info.mainThreadId = MainThreadID();
  return info;
}

// 1. The temporary folder starts empty for every exception.
void EmptyTempFolderQuietly() {
  try {
    EmptyTempFolder();
  } catch (...) {
  }
}

// 2. The report record: what was raised, where, and the filter it falls under.
void FillRecord(CrashReport& report, const Job& job) {
  report.Error = job.error;
  report.ThreadId = job.threadId;
  report.CanContinue = job.canContinue;
  report.Point = job.point;
  report.Time = CurrentLocalTime();
  report.StackPointer = reinterpret_cast<ULONG_PTR>(job.stackPointer);
  report.FramePointer = reinterpret_cast<ULONG_PTR>(job.framePointer);
  report.CodeAddress = reinterpret_cast<ULONG_PTR>(job.codeAddress);
  DescribeException(job.error, report.ExceptionClass, report.ExceptionMessage);
  try {
    std::rethrow_exception(job.error);
  } catch (const EExternal& fault) {
    report.Context = fault.Context() ? std::make_shared<const std::vector<unsigned char>>(*fault.Context())
                                     : nullptr;
    if (fault.Record().address) report.CodeAddress = fault.Record().address;
    report.StackCopy = fault.Record().stack;
  } catch (...) {
  }
  report.Module = ModuleFileNameOf(reinterpret_cast<const void*>(static_cast<ULONG_PTR>(report.CodeAddress)));
  report.InnerExceptions = InnerExceptionsOf(job.error);
  report.Filter = ChooseFilter(report.Settings, report.ExceptionClass);
  report.BugReportWanted = !report.Filter.noBugReport;
}

// 3. The history moves down; the counter rises. Returns the exception
// handlers registered by now.
std::vector<TCrashExceptionEvent> CountException(CrashReport& report) {
  std::lock_guard<CriticalSection> hold(gReporter.stateLock);
  gReporter.history.Record(NowSeconds());
  report.Number = ++gReporter.exceptionCount;
  return gReporter.exceptionHandlers;
}

// 4. The exception handlers.
void FireExceptionHandlers(CrashReport& report, const std::vector<TCrashExceptionEvent>& handlers) {
  if (report.Filter.noHandlers) return;
  for (const TCrashExceptionEvent& handler : handlers) {
    try {
      handler(report);
    } catch (...) {
    }
  }
}

// 6. The screenshot before any box covers the screen, then the bug report.
void StartEvidence(Handling& h) {
  CrashReport& report = h.report;
  if (!report.Filter.noScreenshot && report.Filter.showConfig != 4 &&
      AssistantShowsScreenshot(report.Settings, report.Filter))
    h.screenshot = CaptureScreen();
  if (report.BugReportWanted) {
    // The raising thread waits for this thread, which is never suspended.
    h.bugReport = StartBugReport(MakeExceptionInfo(report, h.job), report.Settings, OwnThreadIds());
  }
}

// Waits for the report before the box shows it, while it is incomplete.
std::function<void()> CompletionWait(Handling& h) {
  if (!h.bugReport || h.bugReport->Complete()) return nullptr;
  BugReportJob* pending = h.bugReport.get();
  return [pending] { WaitForCompletion(*pending, true); };
}

BoxOptions MakeBoxOptions(Handling& h) {
  CrashReport& report = h.report;
  const ReportSettings& s = report.Settings;
  BoxOptions options;
  options.placeholders = PlaceholdersFor(report);
  options.exceptionClass = report.ExceptionClass;
  options.exceptionMessage = report.ExceptionMessage;
  options.canContinue = report.CanContinue;
  options.showConfig = report.Filter.showConfig;
  options.screenshot = h.screenshot;
  std::string temp = gReporter.tempFolder;
  while (!temp.empty() && temp.back() == '\\') temp.pop_back();
  options.tempFolder = ToWide(temp, CodePage::Ansi);  // from GetTempPathA
  const std::string exePath = ExecutablePathUtf8();
  const std::string fileName = ExpandPlaceholders(s.Text("BugRepFile"), options.placeholders);
  if (!exePath.empty() && !fileName.empty())
    options.bugReportFile = WideFromUtf8(ResolveBugReportPath(fileName, exePath));
  options.reportSaved = h.bugReport && h.bugReport->Saved();
  options.waitForCompleteReport = CompletionWait(h);
  // The box fires every action itself, continue, restart and close too.
  options.onAction = [&report](int action) { return FireAction(report, action); };
  return options;
}

// 8. The box, reopened expanded ("show bug report", "&Details") until a
// choice. False when the filter shows no box.
bool ShowBox(Handling& h, BoxChoice& choice) {
  CrashReport& report = h.report;
  if (report.Filter.showConfig == 4) return false;
  // The plain box (F1 exceptions) still needs a report to show "&Details".
  std::unique_ptr<BugReport> empty;
  if (!h.bugReport) empty = std::make_unique<BugReport>(ReportLockFactory());
  BugReport& shown = h.bugReport ? h.bugReport->Report() : *empty;

  BoxOptions options = MakeBoxOptions(h);
  BoxResult result = ShowReportBox(shown, report.Settings, options);
  while (result.reopenExpanded) {
    options.reopened = true;
    options.showConfig = 0;
    options.waitForCompleteReport = CompletionWait(h);
    std::shared_ptr<SendJob> earlier = result.send;
    result = ShowReportBox(shown, report.Settings, options);
    if (!result.send) result.send = earlier;
  }
  h.send = result.send;
  report.ReportSent = result.ReportSent();
  choice = result.choice;
  return true;
}

void KeepOwnThreads(const Handling& h) {
  if (h.send) KeepOwnThread(h.send->ThreadId());
  if (h.bugReport) KeepOwnThread(h.bugReport->CompletionThreadId());
}

// 9. After the box: go on, restart or close.
void FinishAfterBox(Handling& h, bool decided, BoxChoice choice) {
  // A background send goes on after the box; a hung completion may too.
  KeepOwnThreads(h);

  if (decided && choice == BoxChoice::Restart) Restart(h);
  if (decided && choice == BoxChoice::Close) CloseProcess(h);
  if (h.report.CanContinue) {
    FinalAutoStep(h, false);
    return;
  }
  const ReportSettings& s = h.report.Settings;
  if (DecideAfterBox(false, s.Number("AutoRestart"), s.Number("AutoClose"), HistoryNow(), NowSeconds()) ==
      AfterBox::Restart)
    Restart(h);
  CloseProcess(h);
}

void ProcessSteps(Handling& h) {
  CrashReport& report = h.report;
  const Job& job = h.job;
  EmptyTempFolderQuietly();
  FillRecord(report, job);
  FireExceptionHandlers(report, CountException(report));
  // 5. PauseThreads is off in these settings: no thread objects are paused.
  StartEvidence(h);
  // 7. AutoSend and AutoClip are off: no completion callback is needed.
  BoxChoice choice = BoxChoice::Continue;
  const bool decided = ShowBox(h, choice);
  FinishAfterBox(h, decided, choice);
}

// Clears g_current however processing ends.
struct CurrentHandling {
  explicit CurrentHandling(Handling& h) { g_current = &h; }
  ~CurrentHandling() { g_current = nullptr; }
  CurrentHandling(const CurrentHandling&) = delete;
  CurrentHandling& operator=(const CurrentHandling&) = delete;
};

// After crash reporting's own failure: the report saved as far as it got,
// per AutoSave and AutoSaveIfNotSent. When the failure came before the bug
// report was started, it is started now; the raising thread still waits.
void SaveAsFarAsItGot(Handling& h) {
  const ReportSettings& s = h.report.Settings;
  if (!s.IsOn("AutoSave") || (s.IsOn("AutoSaveIfNotSent") && ReportSentOk(h))) return;
  if (h.report.ThreadId == 0) FillRecord(h.report, h.job);
  if (!h.bugReport && h.report.BugReportWanted)
    h.bugReport = StartBugReport(MakeExceptionInfo(h.report, h.job), s, OwnThreadIds());
  if (!h.bugReport || h.bugReport->Saved()) return;
  if (!h.bugReport->Complete()) WaitForCompletion(*h.bugReport, false);
  AddFurtherExceptions(h);
  if (SaveBugReport(*h.bugReport, s)) h.report.ReportSaved = true;
}

void SaveAfterFailure(Handling& h) {
  try {
    SaveAsFarAsItGot(h);
    if (h.report.ReportSaved) return;
  } catch (...) {
  }
  Trace("crash reporting: the report of the failed handling was not saved");
}

void Process(Job& job) {
  CrashReport report(*gReporter.settings);
  Handling h(report, job);
  CurrentHandling current(h);
  try {
    ProcessSteps(h);
  } catch (...) {
    // A failure of crash reporting's own (a handler, the box, the
    // assistant, the save): what there is of the report is saved and the
    // program goes on or ends as the exception itself would have made it.
    // The raising thread, released after this, ends the process for an
    // exception that cannot continue.
    Trace("crash reporting failed while handling an exception");
    KeepOwnThreads(h);
    SaveAfterFailure(h);
  }
}

}  // namespace

void ProcessGuarded(Job& job) {
  try {
    Process(job);
  } catch (...) {
    // Crash reporting's own failure: the raising thread is released.
  }
}

[[noreturn]] void ContainHandlingFailure(const char* what) {
  // A second failure while this one is contained skips the saving.
  static std::atomic<bool> containing{false};
  TraceFmt("crash reporting failed while handling an exception: %s", what);
  Job* job = gReporter.current.exchange(nullptr);
  if (!containing.exchange(true)) {
    if (g_current) SaveAfterFailure(*g_current);
  } else {
    Trace("crash reporting: the report of the failed handling was given up");
  }
  g_current = nullptr;
  // Its raising thread goes on, or ends as the exception would have made it.
  if (job) FinishJob(job);
  SetEvent(gReporter.idle.Get());
  containing = false;
  // The queue needs a thread to serve it; this one's state is not to be
  // trusted any more, and ending it takes its windows (the box) with it.
  if (!StartHandlingThread()) Trace("crash reporting: no handling thread any more");
  ExitThread(1);
}
