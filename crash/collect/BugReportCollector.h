// Building the bug report of one exception on the Win32 side: the header at
// once, the sections on a completion thread, and saving into the bug-report
// file.
//
// Threads and lifetimes:
// - StartBugReport runs on the thread that handles the exception (the
//   crash reporter's handling thread, or the raising thread itself). It
//   gathers the header, enters every section with ">> will be calculated
//   soon" and starts the completion thread (above-normal priority), which
//   fills the sections one by one and then "callstack crc". Every update
//   regenerates the text and notifies the report's listeners on the
//   completion thread.
// - The raising thread must stay blocked (or be the calling thread) until the
//   report is complete: its stack is read from the context in ExceptionInfo.
//   Other threads are suspended one at a time, walked and resumed; nothing is
//   allocated while one is suspended. The completion thread and every id in
//   `skipThreadIds` (the crash reporter's own threads, which the caller
//   knows) are never suspended or listed.
// - The BugReportJob owns the report. Destroying it waits for the completion
//   thread; a thread that hangs (a walk stuck in a lock) is given up after a
//   few seconds and keeps the shared state alive until it ends.
// - WaitForCompletion may be called from any thread but the completion
//   thread; with the please-wait box it creates a small window on the calling
//   thread and processes only that window's messages, every 50 ms.
// - SaveBugReport takes the report's current text (call it after
//   WaitForCompletion); the file is opened without sharing for the whole
//   read-modify-write, so saves from several threads never interleave.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "crash/report/BugReport.h"
#include "crash/report/HeaderFields.h"
#include "crash/report/Lock.h"

class ReportSettings;

struct InnerExceptionInfo {
  std::string className;
  std::string message;
};

// What the interception point knows of the exception.
struct ExceptionInfo {
  std::string exceptionClass;    // empty for a freeze
  std::string exceptionMessage;  // a freeze shows FrozenMsg instead
  bool isFreeze = false;
  std::uint64_t codeAddress = 0;
  std::uint32_t threadId = 0;    // the raising thread
  // The platform's CONTEXT of the raising thread, as bytes (a structured
  // exception's fault context, or one captured at the throw). Without one
  // the raising thread is walked from the raise point: `framePointer`
  // (32-bit build) or, when it is not the calling thread, from where it
  // waits; the calling thread is walked from here.
  std::shared_ptr<const std::vector<unsigned char>> context;
  // The raising thread's code addresses, newest first, recorded at the
  // throw while its stack was intact (ThrowFrames.h). A C++ exception is
  // caught after its frames are unwound, so its stack can only be walked at
  // the throw; when set, these frames stand for the raising thread and the
  // context serves the register, stack dump and disassembly sections only.
  std::vector<std::uint64_t> raisingFrames;
  // The stack from the context's stack pointer up, copied at the fault;
  // the stack dump shows it instead of the live stack, which the raising
  // thread has reused when the fault could continue. Empty: the live stack.
  std::vector<unsigned char> stackCopy;
  std::uint64_t stackPointer = 0;
  std::uint64_t framePointer = 0;
  LocalTime time;                // local time of the exception
  std::uint64_t number = 1;      // exception counter of the process
  std::vector<InnerExceptionInfo> innerExceptions;  // outermost first
  std::uint32_t mainThreadId = 0;  // 0: the oldest thread of the process
};

class BugReportJob {
 public:
  struct State;
  explicit BugReportJob(std::shared_ptr<State> state);
  ~BugReportJob();
  BugReportJob(const BugReportJob&) = delete;
  BugReportJob& operator=(const BugReportJob&) = delete;

  BugReport& Report();
  // True once every section and "callstack crc" are filled.
  bool Complete() const;
  // Set by SaveBugReport(BugReportJob&, ...) on success.
  bool Saved() const;
  void MarkSaved();
  // The completion thread, 0 when the report was completed on the caller.
  std::uint32_t CompletionThreadId() const;

  State& Internal() { return *state_; }

 private:
  std::shared_ptr<State> state_;
};

// Start-up: loads the program's symbol table and registers the please-wait
// box's window class, so the crash path runs no first-use initialisation.
// Main thread, once; calling it again does nothing.
void PrepareBugReports();

// The locks of reports built here (critical sections).
ILockFactory& ReportLockFactory();

// Builds the header now and starts completing the sections. When the
// completion thread cannot be started, completes the report on the calling
// thread (with the please-wait box when PlWaitBox is on) before returning.
// Never throws; a field whose query fails is left out.
std::unique_ptr<BugReportJob> StartBugReport(const ExceptionInfo& info, const ReportSettings& settings,
                                             const std::vector<std::uint32_t>& skipThreadIds);

// Waits until the report is complete. With `showPleaseWait` and PlWaitBox on,
// the please-wait box is shown meanwhile and the completion thread runs at
// the highest priority. True when complete.
bool WaitForCompletion(BugReportJob& job, bool showPleaseWait);

// Saves the report's text into the bug-report file (BugRepFile beside the
// executable, else under the per-user application-data folder); false when
// neither place could be opened or written. `savedPath` receives the file
// that was written (UTF-8).
bool SaveBugReport(const BugReport& report, const ReportSettings& settings, std::string* savedPath = nullptr);
// The same, marking the job saved on success (the automatic save).
bool SaveBugReport(BugReportJob& job, const ReportSettings& settings, std::string* savedPath = nullptr);

// Walks the calling thread's stack from `context` (a CONTEXT of this thread
// whose stack is still intact, e.g. a first-chance exception's in a
// vectored handler). Nothing but the returned vector is allocated.
std::vector<std::uint64_t> CaptureStackFrames(const void* context);

// The "operating system" text of a report: name, version and build; empty
// when the platform does not say.
std::string OperatingSystemText();

// Local time now, with milliseconds (the "date/time" of a report).
LocalTime CurrentLocalTime();
