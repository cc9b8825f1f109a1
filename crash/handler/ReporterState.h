// The crash reporter's own state and the job a raising thread hands to the
// handling thread. Shared by the files of crash/handler only.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <string>
#include <vector>

#include "crash/handler/CrashReport.h"
#include "crash/handler/FurtherExceptions.h"
#include "crash/handler/HandlerInternal.h"
#include "crash/handler/RequestQueue.h"
#include "crash/report/ExceptionHistory.h"
#include "support/CriticalSection.h"
#include "support/ScopedHandle.h"

// One exception's request data. Both the raising thread and the handling
// thread hold a reference: the main thread may stop waiting early (WM_QUIT)
// while the box is still open, so whichever lets go last frees it.
struct Job {
  std::atomic<long> references{2};
  std::exception_ptr error;
  Interception point = Interception::Dispatch;
  bool canContinue = true;
  DWORD threadId = 0;
  const void* codeAddress = nullptr;
  const void* stackPointer = nullptr;
  const void* framePointer = nullptr;
  // The raising thread's frames at the throw of a C++ exception.
  std::vector<std::uint64_t> raisingFrames;
  ScopedKernelHandle done;
  // Raised by the same thread while it waited for this report.
  FurtherExceptions further;
  // Handed over through the stack-overflow slot, not queued.
  bool stackOverflow = false;
};
static_assert(std::atomic<long>::is_always_lock_free, "the job's count is touched on the crash path");

// Drops one reference; the last one frees the job.
void ReleaseJob(Job* job);

// Everything the installation sets up; lives for the whole process.
struct Reporter {
  // Read by any raising thread; set at installation, cleared at shutdown.
  std::atomic<bool> active{false};
  ReportSettings* settings = nullptr;
  // Requests wait here; `wake` (auto-reset) tells the handling thread. The
  // lock is held only to copy one request in or out, never across a wait.
  CriticalSection queueLock;
  BoundedQueue<HandlingRequest, 32> queue;
  ScopedKernelHandle wake;
  // Requests refused because the queue was full (their threads went on
  // unreported); told in the next report.
  std::atomic<std::uint32_t> refused{0};
  // Set at process end: the handling thread stops after the current job.
  std::atomic<bool> stopping{false};
  // The handling thread. A replacement takes over when crash reporting's
  // own processing fails beyond recovery on it (ContainHandlingFailure).
  ScopedKernelHandle thread;
  std::atomic<DWORD> threadId{0};
  // The job being processed, null between jobs; `idle` (manual-reset) is
  // set while there is none.
  std::atomic<Job*> current{nullptr};
  ScopedKernelHandle idle;
  // Per-thread slot: the job the thread waits for, null while it waits for
  // none.
  DWORD waitSlot = 0xFFFFFFFF;  // TLS_OUT_OF_INDEXES
  // A stack overflow waits here until its report is handled (manual-reset).
  ScopedKernelHandle overflowDone;
  CriticalSection stateLock;   // history, counter, handlers, reserve
  ExceptionTimeHistory history;
  bool restarted = false;
  std::uint64_t exceptionCount = 0;
  std::vector<TCrashExceptionEvent> exceptionHandlers;
  std::vector<TCrashActionEvent> actionHandlers;
  std::vector<void*> reserve;
  std::string tempFolder;
  // Send and completion threads of earlier exceptions that may still run:
  // they are crash reporting's own and never listed in a report. Handling
  // thread only.
  struct OwnThread {
    ScopedKernelHandle handle;
    DWORD id;
  };
  std::vector<OwnThread> ownThreads;
};
static_assert(std::atomic<bool>::is_always_lock_free, "the active flag is read on the crash path");

extern Reporter gReporter;

// Address space and memory held back for the handling (see ReleaseReserve).
void ReserveMemory();

// The exception object of a structured exception (class by its code).
std::exception_ptr FaultException(const EXCEPTION_RECORD& record, const CONTEXT& context);

// A stack overflow: the record and context go into a static slot that the
// handling thread takes, since the overflowing thread has only the stack
// the platform keeps back for it. Waits; ends the process with code 1 when
// handling ends without doing so.
[[noreturn]] void HandOverStackOverflow(const EXCEPTION_RECORD& record, const CONTEXT& context);

// Queues one request and wakes the handling thread; false at once when the
// queue is full. Never waits.
bool QueueRequest(const HandlingRequest& request);

// Starts a handling thread (at installation, and as the replacement of one
// that failed); false when none could be started.
bool StartHandlingThread();
// Takes requests off the queue until stopped, and processes each.
DWORD WINAPI HandlingThreadProc(void*);
// Releases the thread that waits for the job and drops the handling
// thread's reference.
void FinishJob(Job* job);

// One exception's whole processing; swallows crash reporting's own failures.
void ProcessGuarded(Job& job);

// The handling thread failed where no exception could be thrown (a fault in
// code outside the program, std::terminate): saves the current report as far
// as it got, releases its raising thread, starts a replacement handling
// thread and ends the failed one. Never returns.
[[noreturn]] void ContainHandlingFailure(const char* what);

// Closes the box and any window of the handling thread, as the title-bar
// close does, and waits at most `timeoutMs` until the current job is
// finished (saved per AutoSave). True when it finished.
bool FinishOpenReport(DWORD timeoutMs);

// Name of the executable file, with its extension.
std::string ExecutableName();
