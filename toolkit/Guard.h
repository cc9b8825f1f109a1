// The guard every window procedure of the program runs its handler in: an
// exception that escapes a handler must never unwind into the platform's code
// (on the 32-bit build that ends the process), so it goes to the
// application's central handler and the message loop goes on.
#pragma once

#include <exception>

// Hands the exception being handled (inside a catch block) to the central
// handler. Defined by the application object.
void HandleEscapedException(std::exception_ptr error) noexcept;

// While a guarded body runs, the thread carries a frame of it in its own
// list. Crash reporting turns a hardware fault raised inside such a body into
// a C++ exception thrown at the fault, which unwinds into the guard like any
// other exception; outside every guard a fault is fatal. Each frame lives on
// the stack of its guard, so its address bounds the frames it guards.
struct FaultGuardFrame {
  FaultGuardFrame* outer;
};

// The innermost guard frame of the calling thread, or null. Safe inside an
// exception handler: it allocates nothing and takes no lock.
FaultGuardFrame* CurrentFaultGuard() noexcept;

class FaultGuardScope {
 public:
  FaultGuardScope() noexcept;
  ~FaultGuardScope();
  FaultGuardScope(const FaultGuardScope&) = delete;
  FaultGuardScope& operator=(const FaultGuardScope&) = delete;

 private:
  FaultGuardFrame frame_;
};

template <class Result, class Body>
Result GuardedDispatch(Result fallback, Body&& body) noexcept {
  std::exception_ptr error;
  {
    // The guard ends before the central handler runs: a fault inside crash
    // reporting itself must not be sent back into this catch block.
    FaultGuardScope guard;
    try {
      return body();
    } catch (...) {
      error = std::current_exception();
    }
  }
  HandleEscapedException(error);
  return fallback;
}
