// The crash reporter's own state and the job a raising thread hands to the
// handling thread. Shared by the files of crash/handler only.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <string>
#include <vector>

#include "crash/handler/CrashReport.h"
#include "crash/handler/HandlerInternal.h"
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
};
static_assert(std::atomic<long>::is_always_lock_free, "the job's count is touched on the crash path");

// Drops one reference; the last one frees the job.
void ReleaseJob(Job* job);

// Everything the installation sets up; lives for the whole process.
struct Reporter {
  // Read by any raising thread; set at installation, cleared at shutdown.
  std::atomic<bool> active{false};
  ReportSettings* settings = nullptr;
  ScopedKernelHandle pipeRead;
  ScopedKernelHandle pipeWrite;
  ScopedKernelHandle thread;
  DWORD threadId = 0;
  CriticalSection writeLock;   // one request into the pipe at a time
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
  std::vector<ScopedKernelHandle> ownThreads;
};
static_assert(std::atomic<bool>::is_always_lock_free, "the active flag is read on the crash path");

extern Reporter gReporter;

// Address space and memory held back for the handling (see ReleaseReserve).
void ReserveMemory();

// Writes one request whole into the pipe; false when that failed.
bool WriteRequest(const HandlingRequest& request);

// Reads requests until an all-zero one, and processes each.
DWORD WINAPI HandlingThreadProc(void*);

// One exception's whole processing; swallows crash reporting's own failures.
void ProcessGuarded(Job& job);

// Name of the executable file, with its extension.
std::string ExecutableName();
