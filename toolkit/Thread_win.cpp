#include "toolkit/Thread.h"

#include <deque>

#include "toolkit/Guard.h"

namespace {

// One pending hand-over; the calling thread waits on `done`.
struct SyncRequest {
  const std::function<void()>* call;
  std::exception_ptr error;
  HANDLE done;
};

CRITICAL_SECTION& SyncLock() {
  static CRITICAL_SECTION lock;
  static bool initialised = [] {
    InitializeCriticalSection(&lock);
    return true;
  }();
  (void)initialised;
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
    EnterCriticalSection(&SyncLock());
    SyncRequest* request = nullptr;
    if (!SyncQueue().empty()) {
      request = SyncQueue().front();
      SyncQueue().pop_front();
    }
    LeaveCriticalSection(&SyncLock());
    if (!request) return ran;
    try {
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
  handle_ = CreateThread(nullptr, 0, &TThread::ThreadProc, this, CREATE_SUSPENDED, &threadId_);
  if (handle_ && !createSuspended) Start();
}

TThread::~TThread() {
  if (handle_) {
    if (!finished_) {
      Terminate();
      if (!started_) Start();
      WaitFor();
    }
    CloseHandle(handle_);
  }
  if (syncDone_) CloseHandle(syncDone_);
}

void TThread::Start() {
  if (handle_ && !started_) {
    started_ = true;
    ResumeThread(handle_);
  }
}

DWORD TThread::WaitFor() {
  if (!handle_) return 0;
  if (GetCurrentThreadId() == g_mainThreadId) {
    // Keep carrying out hand-overs: the thread may be inside Synchronize.
    for (;;) {
      CheckSynchronize();
      const DWORD r = MsgWaitForMultipleObjects(1, &handle_, FALSE, 50, 0);
      if (r == WAIT_OBJECT_0) break;
      if (r == WAIT_FAILED) break;
    }
  } else {
    WaitForSingleObject(handle_, INFINITE);
  }
  CheckSynchronize();
  DWORD code = 0;
  GetExitCodeThread(handle_, &code);
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
  if (!syncDone_) syncDone_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  SyncRequest request{&call, nullptr, syncDone_};
  EnterCriticalSection(&SyncLock());
  SyncQueue().push_back(&request);
  LeaveCriticalSection(&SyncLock());
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
