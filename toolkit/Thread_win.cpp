#include "toolkit/Thread.h"

#include <deque>
#include <mutex>

#include "support/CriticalSection.h"
#include "support/Exceptions.h"
#include "toolkit/Guard.h"

namespace {

// One pending hand-over; the calling thread waits on `done`.
struct SyncRequest {
  const std::function<void()>* call;
  std::exception_ptr error;
  HANDLE done;
};

CriticalSection& SyncLock() {
  static CriticalSection lock;
  return lock;
}

std::deque<SyncRequest*>& SyncQueue() {
  static std::deque<SyncRequest*> queue;
  return queue;
}

HWND g_wakeWindow = nullptr;
UINT g_wakeMessage = WM_NULL;
const DWORD g_mainThreadId = GetCurrentThreadId();  // set while the program starts
TThread::ExceptionHook& ThreadHook() {
  static TThread::ExceptionHook hook;
  return hook;
}

}  // namespace

DWORD MainThreadID() { return g_mainThreadId; }

void SetSynchronizeWakeWindow(HWND window, UINT message) {
  g_wakeWindow = window;
  g_wakeMessage = message;
}

bool CheckSynchronize() {
  if (GetCurrentThreadId() != g_mainThreadId) return false;
  bool ran = false;
  for (;;) {
    SyncRequest* request = nullptr;
    {
      std::lock_guard<CriticalSection> hold(SyncLock());
      if (!SyncQueue().empty()) {
        request = SyncQueue().front();
        SyncQueue().pop_front();
      }
    }
    if (!request) return ran;
    try {
      // Under the same fault guard as a message handler: a hardware fault
      // in the hand-over becomes an exception its calling thread receives,
      // wherever the loop called this from.
      FaultGuardScope guard;
      (*request->call)();
    } catch (...) {
      request->error = std::current_exception();
    }
    SetEvent(request->done);
    ran = true;
  }
}

void TThread::SetExceptionHook(ExceptionHook hook) { ThreadHook() = std::move(hook); }

TThread::TThread(bool createSuspended) {
  handle_.Reset(CreateThread(nullptr, 0, &TThread::ThreadProc, this, CREATE_SUSPENDED, &threadId_));
  if (handle_ && !createSuspended) Start();
}

TThread::~TThread() {
  if (handle_) {
    if (!finished_) {
      Terminate();
      if (!started_) Start();
      WaitFor();
    }
  }
}

void TThread::Start() {
  if (handle_ && !started_) {
    started_ = true;
    ResumeThread(handle_.Get());
  }
}

DWORD TThread::WaitFor() {
  if (!handle_) return 0;
  if (GetCurrentThreadId() == g_mainThreadId) {
    // Keep carrying out hand-overs: the thread may be inside Synchronize.
    for (;;) {
      CheckSynchronize();
      const HANDLE thread = handle_.Get();
      const DWORD r = MsgWaitForMultipleObjects(1, &thread, FALSE, 50, 0);
      if (r == WAIT_OBJECT_0) break;
      if (r == WAIT_FAILED) break;
    }
  } else {
    WaitForSingleObject(handle_.Get(), INFINITE);
  }
  CheckSynchronize();
  DWORD code = 0;
  GetExitCodeThread(handle_.Get(), &code);
  return code;
}

void TThread::Synchronize(const std::function<void()>& call) {
  if (GetCurrentThreadId() == g_mainThreadId) {
    call();
    return;
  }
  // One event for all of this thread's hand-overs (only the thread itself
  // calls this, one at a time): creating and closing one per call cost two
  // wineserver round trips per console report.
  if (!syncDone_) syncDone_.Reset(CreateEventA(nullptr, FALSE, FALSE, nullptr));
  // Without the event the wait below would return at once and leave the
  // request, on this stack, in the main thread's queue.
  if (!syncDone_) throw EOSError("CreateEvent failed for the hand-over to the main thread");
  SyncRequest request{&call, nullptr, syncDone_.Get()};
  {
    std::lock_guard<CriticalSection> hold(SyncLock());
    SyncQueue().push_back(&request);
  }
  if (g_wakeWindow) PostMessageA(g_wakeWindow, g_wakeMessage, 0, 0);
  WaitForSingleObject(request.done, INFINITE);
  if (request.error) std::rethrow_exception(request.error);
}

DWORD WINAPI TThread::ThreadProc(void* param) {
  auto* self = static_cast<TThread*>(param);
  {
    // A hardware fault in Execute unwinds into the catch below as well.
    FaultGuardScope guard;
    try {
      self->Execute();
    } catch (...) {
      self->fatal_ = std::current_exception();
    }
  }
  if (self->fatal_ && ThreadHook()) ThreadHook()(self->fatal_);
  self->finished_ = true;
  return 0;
}
