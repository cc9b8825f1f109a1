// A program with crash reporting installed whose two message handlers raise
// exceptions made with std::make_exception_ptr, never thrown by a throw
// expression, as code that keeps an error and raises it later does.
//   crash_box_raise_target     WM_APP + 1: the first handler raises,
//                              WM_APP + 2: the second,
//                              WM_APP + 3: a thrown exception raised again
//                              after 32 others it outlived,
//                              WM_CLOSE ends it.
#include <exception>
#include <string>
#include <vector>

#include "crash/handler/CrashReporter.h"
#include "support/Exceptions.h"
#include "support/Win32.h"
#include "toolkit/Application.h"
#include "toolkit/HiddenWindow.h"

namespace {

__attribute__((noinline)) void RaiseInFirstHandler() {
  std::rethrow_exception(std::make_exception_ptr(EConvertError("'first' is not a valid integer value")));
}

__attribute__((noinline)) void RaiseInSecondHandler() {
  std::rethrow_exception(std::make_exception_ptr(EConvertError("'second' is not a valid integer value")));
}

// So many exceptions alive at once that the throw record of the one raised
// is overwritten: the report walks the thread where it waits.
__attribute__((noinline)) void RaiseAfterManyOthers() {
  std::exception_ptr kept;
  try {
    throw EConvertError("'third' is not a valid integer value");
  } catch (...) {
    kept = std::current_exception();
  }
  std::vector<std::exception_ptr> alive;
  for (int i = 0; i < 32; ++i) {
    try {
      throw EOSError("alive " + std::to_string(i));
    } catch (...) {
      alive.push_back(std::current_exception());
    }
  }
  std::rethrow_exception(kept);
}

}  // namespace

int main() {
  TApplication application;
  application.Initialize();
  InstallCrashReporting();
  HWND handle = nullptr;
  THiddenWindow window([&handle](UINT message, WPARAM wParam, LPARAM lParam) -> LRESULT {
    switch (message) {
      case WM_APP + 1:
        RaiseInFirstHandler();
        return 0;
      case WM_APP + 2:
        RaiseInSecondHandler();
        return 0;
      case WM_APP + 3:
        RaiseAfterManyOthers();
        return 0;
      case WM_CLOSE:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(handle, message, wParam, lParam);
  });
  handle = window.Handle();
  application.Run();
  return 0;
}
