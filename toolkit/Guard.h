// The guard every window procedure of the program runs its handler in: an
// exception that escapes a handler must never unwind into the platform's code
// (on the 32-bit build that ends the process), so it goes to the
// application's central handler and the message loop goes on.
#pragma once

#include <exception>

// Hands the exception being handled (inside a catch block) to the central
// handler. Defined by the application object.
void HandleEscapedException(std::exception_ptr error) noexcept;

template <class Result, class Body>
Result GuardedDispatch(Result fallback, Body&& body) noexcept {
  try {
    return body();
  } catch (...) {
    HandleEscapedException(std::current_exception());
    return fallback;
  }
}
