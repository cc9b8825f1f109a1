// Thread objects: a platform thread running Execute(), with a synchronous
// hand-over to the main thread (Synchronize), which blocks the calling thread
// until the main thread has run the call.
//
// The main thread carries out pending hand-overs from its message loop and
// while it waits in WaitFor, so a thread that is synchronizing can always
// finish and be stopped.
#pragma once

#include <atomic>
#include <exception>
#include <functional>

#include "support/ScopedHandle.h"
#include "support/Win32.h"

class TThread {
 public:
  explicit TThread(bool createSuspended);
  virtual ~TThread();
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;

  void Start();  // resumes a thread created suspended
  void Terminate() { terminated_ = true; }
  // Waits for the thread to end; on the main thread it keeps carrying out
  // hand-overs meanwhile. Returns the thread's exit code.
  DWORD WaitFor();

  HANDLE Handle() const { return handle_.Get(); }
  DWORD ThreadID() const { return threadId_; }
  bool Finished() const { return finished_; }

  // An exception that escaped Execute (set when the thread body's exception
  // hook has not taken it).
  std::exception_ptr FatalException() const { return fatal_; }

  // Runs an escaped Execute exception through crash reporting; set once at
  // start-up. Returns after the report.
  using ExceptionHook = std::function<void(std::exception_ptr)>;
  static void SetExceptionHook(ExceptionHook hook);

 protected:
  virtual void Execute() = 0;
  bool Terminated() const { return terminated_; }
  // Runs call on the main thread and waits for it to return; an exception
  // it throws is re-thrown here. Called on the main thread, it runs at once.
  // Throws EOSError, without running call, when the platform gives no event
  // to wait on.
  void Synchronize(const std::function<void()>& call);

 private:
  static DWORD WINAPI ThreadProc(void* self);

  ScopedKernelHandle handle_;
  ScopedKernelHandle syncDone_;  // auto-reset: the main thread ran a hand-over
  DWORD threadId_ = 0;
  // Set on one thread, read on the other.
  std::atomic<bool> terminated_{false};
  std::atomic<bool> finished_{false};
  bool started_ = false;
  std::exception_ptr fatal_;
};

// Main thread: carries out every pending hand-over; true when any ran. Each
// runs under the fault guard of a message handler: a hardware fault in it
// reaches its caller in Synchronize as an exception, like a thrown one.
bool CheckSynchronize();
// Set by the application: posted to when a hand-over waits, so the main
// thread's loop wakes up and calls CheckSynchronize.
void SetSynchronizeWakeWindow(HWND window, UINT message);
DWORD MainThreadID();
