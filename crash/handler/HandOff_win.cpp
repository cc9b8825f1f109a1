// The hand-off: a raising thread writes a fixed request into an anonymous
// pipe and waits for the request's event; the one handling thread reads the
// requests in turn, so boxes come one after the other.
#include <mutex>
#include <new>

#include "crash/collect/ThrowFrames.h"
#include "crash/handler/CrashReporter.h"
#include "crash/handler/ReportFilters.h"
#include "crash/handler/ReporterState.h"
#include "toolkit/Guard.h"
#include "toolkit/Thread.h"

void ReleaseJob(Job* job) {
  if (--job->references == 0) delete job;
}

void ReserveMemory() {
  std::lock_guard<CriticalSection> hold(gReporter.stateLock);
  if (!gReporter.reserve.empty()) return;
  for (int i = 0; i < 4; ++i)
    if (void* p = VirtualAlloc(nullptr, 4 << 20, MEM_RESERVE, PAGE_NOACCESS)) gReporter.reserve.push_back(p);
  for (int i = 0; i < 4; ++i)
    if (void* p = VirtualAlloc(nullptr, 512 << 10, MEM_RESERVE | MEM_COMMIT, PAGE_NOACCESS))
      gReporter.reserve.push_back(p);
}

namespace {

// Address space and memory for the handling, even after an out-of-memory failure.
void ReleaseReserve() {
  std::lock_guard<CriticalSection> hold(gReporter.stateLock);
  for (void* p : gReporter.reserve) VirtualFree(p, 0, MEM_RELEASE);
  gReporter.reserve.clear();  // keeps its capacity: no allocation here
}

// The main thread keeps its windows, timers and sockets going while it waits.
void WaitPumping(HANDLE event) {
  for (;;) {
    const DWORD r = MsgWaitForMultipleObjects(1, &event, FALSE, INFINITE, QS_ALLINPUT);
    if (r != WAIT_OBJECT_0 + 1) return;  // the event, or a failed wait
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        PostQuitMessage(static_cast<int>(msg.wParam));
        return;
      }
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
      if (WaitForSingleObject(event, 0) == WAIT_OBJECT_0) return;
    }
    CheckSynchronize();
  }
}

// The job of one exception, filled on the raising thread with where it was
// raised; null when there is no memory for it.
Job* NewJob(const std::exception_ptr& error, Interception point, bool canContinue, const void* codeAddress,
            const void* framePointer, const void* stackPointer) {
  Job* job = new (std::nothrow) Job;
  if (!job) return nullptr;
  job->error = error;
  job->point = point;
  job->canContinue = canContinue;
  job->threadId = GetCurrentThreadId();
  job->codeAddress = codeAddress;
  job->framePointer = framePointer;
  job->stackPointer = stackPointer;
  // The frames of the throw that made this exception, on whichever thread
  // it was thrown; its code address is the throw site.
  std::uint64_t frames[128];
  const std::size_t thrown =
      FindThrowFrames(ThrownObjectOf(error), error.__cxa_exception_type(), frames, sizeof frames / sizeof frames[0]);
  if (thrown) {
    job->raisingFrames.assign(frames, frames + thrown);
    job->codeAddress = reinterpret_cast<const void*>(static_cast<std::uintptr_t>(frames[0]));
  }
  job->done.Reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  return job;
}

// True when the handling thread took the job.
bool HandOff(Job& job, Interception point) {
  if (!job.done) return false;
  HandlingRequest request = {};
  request.event = job.done.Get();
  request.threadId = job.threadId;
  request.kind = 0;
  request.exceptionObject = &job;
  request.codeAddress = const_cast<void*>(job.codeAddress);
  request.canContinue = job.canContinue;
  request.stackPointer = const_cast<void*>(job.stackPointer);
  request.framePointer = const_cast<void*>(job.framePointer);
  request.threadState.lastError = GetLastError();
  request.threadState.guardDepth = CurrentFaultGuard() ? 1 : 0;
  request.interceptionCode = static_cast<DWORD>(point);
  return WriteRequest(request);
}

}  // namespace

bool WriteRequest(const HandlingRequest& request) {
  std::lock_guard<CriticalSection> hold(gReporter.writeLock);
  DWORD written = 0;
  const BOOL ok = WriteFile(gReporter.pipeWrite.Get(), &request, sizeof request, &written, nullptr);
  return ok && written == sizeof request;
}

DWORD WINAPI HandlingThreadProc(void*) {
  for (;;) {
    HandlingRequest request;
    DWORD read = 0;
    if (!ReadFile(gReporter.pipeRead.Get(), &request, sizeof request, &read, nullptr)) break;
    if (read != sizeof request) continue;
    if (!request.event) break;
    Job* job = static_cast<Job*>(request.exceptionObject);
    ProcessGuarded(*job);
    ReserveMemory();
    SetEvent(request.event);
    // A thread blocked in a message wait wakes up for this.
    PostThreadMessageA(request.threadId, WM_NULL, 0, 0);
    ReleaseJob(job);
  }
  return 0;
}

void ReportException(std::exception_ptr error, Interception point, bool canContinue) {
  if (!error) return;
  if (!gReporter.active) {
    if (canContinue) return;
    TerminateProcess(GetCurrentProcess(), 1);
  }
  // Never again for the handling thread's own exceptions.
  if (GetCurrentThreadId() == gReporter.threadId) {
    if (!canContinue) TerminateProcess(GetCurrentProcess(), 1);
    return;
  }
  if (IsAbort(error)) {
    if (!canContinue) TerminateProcess(GetCurrentProcess(), 1);
    return;
  }
  ReleaseReserve();

  Job* job = nullptr;
  job = NewJob(error, point, canContinue, __builtin_return_address(0), __builtin_frame_address(0), &job);
  if (!job) {
    if (!canContinue) TerminateProcess(GetCurrentProcess(), 1);
    return;
  }
  if (HandOff(*job, point)) {
    // Only for an exception that can go on: after one that cannot, the main
    // thread's state is not fit to run handlers in.
    if (canContinue && GetCurrentThreadId() == MainThreadID() && !gReporter.settings->IsOn("PauseThreads")) {
      WaitPumping(job->done.Get());
    } else {
      WaitForSingleObject(job->done.Get(), INFINITE);
    }
  } else {
    // No event, or the handling thread is gone: handle it here.
    --job->references;
    ProcessGuarded(*job);
    ReserveMemory();
  }
  ReleaseJob(job);
  // Processing itself failed for an exception that cannot go on.
  if (!canContinue) TerminateProcess(GetCurrentProcess(), 1);
}
