// Pieces of crash reporting's Win32 side shared between its files. Not for
// use outside crash/handler.
#pragma once

#include <string>

#include "crash/handler/CrashReport.h"
#include "crash/report/ExceptionHistory.h"
#include "support/Win32.h"

// The raising thread's per-thread state carried in a request.
struct RaisingThreadState {
  DWORD lastError;
  DWORD guardDepth;
  DWORD reserved[18];
};
static_assert(sizeof(RaisingThreadState) == 80, "per-thread state block is 80 bytes");

// One handling request, queued whole for the handling thread.
struct HandlingRequest {
  HANDLE event;
  DWORD threadId;
  DWORD kind;             // 0 exception, 1 freeze
  void* exceptionObject;  // the request's job (shared with the raising thread)
  void* codeAddress;
  BOOL canContinue;
  void* stackPointer;
  void* framePointer;
  CONTEXT* context;
  RaisingThreadState threadState;
  char** consoleText;
  DWORD interceptionCode;
  ULONG_PTR value1;
  ULONG_PTR value2;
  const char* extraMessage;
  DWORD extraMessageLength;
  void* innerException;
};
#if defined(__i386__)
static_assert(sizeof(HandlingRequest) == 144, "the handling request is 144 bytes on the 32-bit build");
#endif

// Hardware faults inside guarded bodies become exceptions at the fault.
void InstallFaultRedirection();
// Our own image's address range (faults are redirected only inside it).
bool IsInOwnImage(const void* address);
std::string ModuleFileNameOf(const void* address);

// Thread-creation functions of the program's own import table.
void InstallThreadHooks();

// Keeps stack back on the calling thread for the handling of its stack
// overflow (the program's threads: the main thread and every thread started
// through the hooks).
void GuaranteeOverflowStack();

// Restart: a new suspended instance with the same command line, the history
// handed over, then exit code 2. Never returns.
[[noreturn]] void RestartProcess(const ExceptionTimeHistory& history);
// At start: inherits the history when this is a restarted instance.
bool TakeOverFromOldInstance(ExceptionTimeHistory& history);
