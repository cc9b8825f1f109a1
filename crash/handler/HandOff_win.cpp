// The hand-off: a raising thread queues a fixed request and waits for the
// request's event; the one handling thread takes the requests in turn, so
// boxes come one after the other. Queueing never waits: a full queue refuses
// the request and the raising thread goes on. A thread that raises again
// while it waits for its own report (the main thread dispatches its messages
// meanwhile) counts the new exception into that report instead of nesting a
// second wait and a second box.
#include <atomic>
#include <cstring>
#include <mutex>
#include <new>

#include "crash/collect/BugReportCollector.h"
#include "crash/collect/ThrowFrames.h"
#include "crash/handler/CrashReporter.h"
#include "crash/handler/ReportFilters.h"
#include "crash/handler/ReporterState.h"
#include "support/Debugs.h"
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

Job* WaitingJob() {
  if (gReporter.waitSlot == TLS_OUT_OF_INDEXES) return nullptr;
  return static_cast<Job*>(TlsGetValue(gReporter.waitSlot));
}

// Marks the calling thread as waiting for its report while it lives. A wait
// inside the wait for a report that takes no more exceptions puts the outer
// one back at its end.
class WaitingFor {
 public:
  explicit WaitingFor(Job* job) : outer_(WaitingJob()) {
    if (gReporter.waitSlot != TLS_OUT_OF_INDEXES) TlsSetValue(gReporter.waitSlot, job);
  }
  ~WaitingFor() {
    if (gReporter.waitSlot != TLS_OUT_OF_INDEXES) TlsSetValue(gReporter.waitSlot, outer_);
  }
  WaitingFor(const WaitingFor&) = delete;
  WaitingFor& operator=(const WaitingFor&) = delete;

 private:
  Job* outer_;
};

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

HandlingRequest RequestFor(const Job& job, Interception point) {
  HandlingRequest request = {};
  request.event = job.done.Get();
  request.threadId = job.threadId;
  request.kind = 0;
  request.exceptionObject = const_cast<Job*>(&job);
  request.codeAddress = const_cast<void*>(job.codeAddress);
  request.canContinue = job.canContinue;
  request.stackPointer = const_cast<void*>(job.stackPointer);
  request.framePointer = const_cast<void*>(job.framePointer);
  request.threadState.lastError = GetLastError();
  request.threadState.guardDepth = CurrentFaultGuard() ? 1 : 0;
  request.interceptionCode = static_cast<DWORD>(point);
  return request;
}

// False when the job's report takes no more exceptions.
bool CountFurther(Job& job, const std::exception_ptr& error) {
  std::string className, message;
  try {
    DescribeException(error, className, message);
  } catch (...) {
  }
  return job.further.Add(CurrentLocalTime(), className, message);
}

// One stack overflow at a time; a second overflowing thread waits with the
// first, and the process ends after the first report.
struct alignas(16) OverflowSlot {
  CONTEXT context;
  EXCEPTION_RECORD record;
  DWORD threadId;
  std::atomic<DWORD> state;  // 0 free, 1 being filled, 2 waiting for the handling thread, 3 taken
};
OverflowSlot g_overflow;

// On the handling thread: the stack overflow handed over, if any, as a job
// that cannot continue.
Job* TakeStackOverflow() {
  DWORD waiting = 2;
  if (!g_overflow.state.compare_exchange_strong(waiting, 3)) return nullptr;
  Job* job = new (std::nothrow) Job;
  if (!job) {
    SetEvent(gReporter.overflowDone.Get());  // the thread ends the process unreported
    return nullptr;
  }
  job->references = 1;  // nobody waits on the job itself
  job->stackOverflow = true;
  job->error = FaultException(g_overflow.record, g_overflow.context);
  job->point = Interception::UnhandledFilter;
  job->canContinue = false;
  job->threadId = g_overflow.threadId;
  job->codeAddress = g_overflow.record.ExceptionAddress;
  job->done.Reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  return job;
}

void TraceRefused(const std::exception_ptr& error) {
  try {
    std::string className, message;
    DescribeException(error, className, message);
    TraceFmt("crash reporting: %u requests wait already, %s not reported: %s",
             static_cast<unsigned>(gReporter.queue.capacity()), className.c_str(), message.c_str());
  } catch (...) {
  }
}

}  // namespace

bool QueueRequest(const HandlingRequest& request) {
  {
    std::lock_guard<CriticalSection> hold(gReporter.queueLock);
    if (!gReporter.queue.Push(request)) return false;
  }
  SetEvent(gReporter.wake.Get());
  return true;
}

void FinishJob(Job* job) {
  SetEvent(job->done.Get());
  // A thread blocked in a message wait wakes up for this.
  PostThreadMessageA(job->threadId, WM_NULL, 0, 0);
  ReleaseJob(job);
}

DWORD WINAPI HandlingThreadProc(void*) {
  // A fault in crash reporting's own code becomes an exception that the
  // guards of its processing catch, like one in a message handler.
  FaultGuardScope guard;
  while (!gReporter.stopping) {
    Job* job = TakeStackOverflow();
    if (!job) {
      HandlingRequest request;
      bool taken = false;
      {
        std::lock_guard<CriticalSection> hold(gReporter.queueLock);
        taken = gReporter.queue.Pop(request);
      }
      if (!taken) {
        WaitForSingleObject(gReporter.wake.Get(), INFINITE);
        continue;
      }
      job = static_cast<Job*>(request.exceptionObject);
    }
    ResetEvent(gReporter.idle.Get());
    gReporter.current = job;
    ProcessGuarded(*job);
    ReserveMemory();
    gReporter.current = nullptr;
    const bool overflow = job->stackOverflow;
    FinishJob(job);
    if (overflow) SetEvent(gReporter.overflowDone.Get());
    SetEvent(gReporter.idle.Get());
  }
  return 0;
}

void HandOverStackOverflow(const EXCEPTION_RECORD& record, const CONTEXT& context) {
  if (!gReporter.active) TerminateProcess(GetCurrentProcess(), 1);
  DWORD free = 0;
  if (g_overflow.state.compare_exchange_strong(free, 1)) {
    std::memcpy(&g_overflow.context, &context, sizeof(CONTEXT));
    std::memcpy(&g_overflow.record, &record, sizeof(EXCEPTION_RECORD));
    g_overflow.record.ExceptionRecord = nullptr;
    g_overflow.threadId = GetCurrentThreadId();
    g_overflow.state = 2;
    SetEvent(gReporter.wake.Get());
  }
  WaitForSingleObject(gReporter.overflowDone.Get(), INFINITE);
  TerminateProcess(GetCurrentProcess(), 1);
  ExitProcess(1);
}

void ReportException(std::exception_ptr error, Interception point, bool canContinue) {
  if (!error) return;
  if (!gReporter.active) {
    if (canContinue) return;
    TerminateProcess(GetCurrentProcess(), 1);
  }
  // Never again for the handling thread's own exceptions.
  if (GetCurrentThreadId() == gReporter.threadId) {
    if (!canContinue) ContainHandlingFailure("an exception that cannot continue");
    return;
  }
  if (IsAbort(error)) {
    if (!canContinue) TerminateProcess(GetCurrentProcess(), 1);
    return;
  }
  Job* waiting = WaitingJob();
  if (waiting && CountFurther(*waiting, error)) {
    if (canContinue) return;
    // This thread cannot go on: it ends once its report is handled.
    WaitForSingleObject(waiting->done.Get(), INFINITE);
    TerminateProcess(GetCurrentProcess(), 1);
  }
  // The report waited for is past taking further exceptions (its box has
  // closed): this one is queued behind it for a report of its own.
  ReleaseReserve();

  Job* job = nullptr;
  job = NewJob(error, point, canContinue, __builtin_return_address(0), __builtin_frame_address(0), &job);
  if (!job) {
    if (!canContinue) TerminateProcess(GetCurrentProcess(), 1);
    return;
  }
  const bool queued = job->done && QueueRequest(RequestFor(*job, point));
  if (queued) {
    WaitingFor waiting(job);
    // Only for an exception that can go on: after one that cannot, the main
    // thread's state is not fit to run handlers in.
    if (canContinue && GetCurrentThreadId() == MainThreadID() && !gReporter.settings->IsOn("PauseThreads")) {
      WaitPumping(job->done.Get());
    } else {
      WaitForSingleObject(job->done.Get(), INFINITE);
    }
    ReleaseJob(job);
  } else if (job->done && canContinue) {
    // The queue is full: counted, told in the next report, not waited for.
    ++gReporter.refused;
    TraceRefused(error);
    ReleaseJob(job);
    ReleaseJob(job);
    ReserveMemory();
    return;
  } else {
    // No event, or no room for an exception that cannot go on: handle it here.
    --job->references;
    ProcessGuarded(*job);
    ReserveMemory();
    ReleaseJob(job);
  }
  // Processing itself failed for an exception that cannot go on.
  if (!canContinue) TerminateProcess(GetCurrentProcess(), 1);
}
