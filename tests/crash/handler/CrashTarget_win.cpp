// A program that raises exceptions on purpose, for the crash-reporting tests:
//   crash_handler_target.exe <scenario> <log file> [-min]
// It logs what it sees to the log file (one line per event) and runs a
// 100 ms timer on a hidden window, so the tests can tell from outside that
// the message loop is alive. WM_APP + 2 posted to its window logs "event".
// Scenarios that fail inside crash reporting itself or around it:
//   storm         a 20 ms timer throws on every tick, the first box stays open
//   handler-av    the program's exception handler writes through null
//   handler-foreign-av  the same inside a system DLL, for the first exception
//   handover-av   a thread object hands over a call that writes through null
//   av-stack      a fault below a marker on the stack
//   overflow      a handler that recurses until the stack is exhausted
#include <cstdio>
#include <exception>
#include <string>

#include "crash/handler/CrashReporter.h"
#include "support/Exceptions.h"
#include "support/ScopedHandle.h"
#include "support/Win32.h"
#include "toolkit/Application.h"
#include "toolkit/HiddenWindow.h"
#include "toolkit/Thread.h"

namespace {

constexpr UINT kRaise = WM_APP + 1;
constexpr UINT kEvent = WM_APP + 2;
constexpr UINT_PTR kStormTimer = 2;

std::string g_scenario;
std::string g_log;
HANDLE g_go = nullptr;  // releases the two racing threads at once
HWND g_window = nullptr;
std::exception_ptr g_handedOver;  // thrown on the worker, raised again on the main thread

void Log(const std::string& line) {
  const ScopedFile file(CreateFileA(g_log.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return;
  const std::string text = std::to_string(GetCurrentProcessId()) + " " + line + "\r\n";
  DWORD written = 0;
  WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

// A thread that runs on by itself (started through the program's own import
// table, as the hooks expect): its handle is not needed.
void StartThread(LPTHREAD_START_ROUTINE body, void* parameter) {
  const ScopedKernelHandle thread(CreateThread(nullptr, 0, body, parameter, 0, nullptr));
}

// Kept out of line: the bug report's call stack names it.
__attribute__((noipa)) void WriteThroughNull(volatile int* target) { *target = 1; }  // fault site

// A write through null inside a system DLL: no exception can be thrown there.
void FillNullInSystemDll() {
  using MemsetFn = void* (*)(void*, int, size_t);
  const auto fill = reinterpret_cast<MemsetFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("msvcrt.dll"), "memset")));
  if (fill) fill(nullptr, 1, 64);
}

void OnException(void*, CrashReport& report) {
  Log("exception n=" + std::to_string(report.Number) + " class=" + report.ExceptionClass +
      " context=" + (report.Context ? "yes" : "no") + " continue=" + (report.CanContinue ? "1" : "0") +
      " message=" + report.ExceptionMessage);
  if (g_scenario == "handler-av") WriteThroughNull(nullptr);
  if (g_scenario == "handler-foreign-av" && report.Number == 1) FillNullInSystemDll();
}

class TFailingThread : public TThread {
 public:
  TFailingThread() : TThread(false) {}

 protected:
  void Execute() override { throw EOSError("thread object failure"); }
};

DWORD WINAPI RawThread(void*) { throw ERegistryException("raw thread failure"); }

DWORD WINAPI RacingThread(void* param) {
  WaitForSingleObject(g_go, INFINITE);
  throw EConvertError(std::string("racing thread ") + static_cast<const char*>(param));
}

DWORD WINAPI AbortThread(void*) { throw EAbort("silent"); }

__attribute__((noinline)) void ThrowOnWorker() {
  throw EConvertError("thrown on the worker");  // throw site: worker
}

// Hands its exception to the main thread, as a synchronized call does.
DWORD WINAPI HandingOverThread(void*) {
  try {
    ThrowOnWorker();
  } catch (...) {
    g_handedOver = std::current_exception();
  }
  PostMessageA(g_window, WM_APP + 1, 0, 0);
  return 0;
}

// A throw of the main thread's own that is caught before the handed-over
// one is raised there.
__attribute__((noinline)) void ThrowAndCatchOnMain() {
  try {
    throw EConvertError("caught on the main thread");
  } catch (const EConvertError&) {
  }
}

// Hands a call that writes through null over to the main thread; logs what
// comes back and lets it escape to crash reporting.
class THandingOverFault : public TThread {
 public:
  THandingOverFault() : TThread(false) {}

 protected:
  void Execute() override {
    try {
      Synchronize([] { WriteThroughNull(nullptr); });
      Log("worker got nothing");
    } catch (const Exception& e) {
      Log(std::string("worker got ") + e.ClassName());
      throw;
    }
  }
};

// A marker on the stack just above the fault: the report's stack dump must
// show it although the stack was unwound and reused before the report.
__attribute__((noinline)) void FaultBelowMarkedStack() {
  alignas(16) volatile char marker[32];
  const char text[] = "QEXSTACKMARKER01QEXSTACKMARKER02";
  for (int i = 0; i < 32; ++i) marker[i] = text[i];
  WriteThroughNull(nullptr);
  if (marker[0] != 'Q') Log("marker changed");
}

// Each call takes a page of stack, until there is none.
volatile int g_depthLimit = 1 << 30;
__attribute__((noinline)) int Recurse(int depth) {
  if (depth >= g_depthLimit) return depth;
  volatile char page[4096];
  page[0] = static_cast<char>(depth);
  return Recurse(depth + 1) + page[0];
}

// Out of line: the report of a throw names it.
__attribute__((noinline)) void Raise() {
  if (g_scenario == "throw" || g_scenario == "restart" || g_scenario == "close" || g_scenario == "handler-av" ||
      g_scenario == "handler-foreign-av") {
    throw EConvertError("'abc' is not a valid integer value");  // throw site: raise
  } else if (g_scenario == "av") {
    WriteThroughNull(nullptr);
  } else if (g_scenario == "av-stack") {
    FaultBelowMarkedStack();
  } else if (g_scenario == "overflow") {
    Log("depth " + std::to_string(Recurse(0)));
  } else if (g_scenario == "div") {
    volatile int zero = 0;
    volatile int result = 10 / zero;
    (void)result;
  } else if (g_scenario == "abort") {
    StartThread(&AbortThread, nullptr);
    throw EAbort("silent");
  } else if (g_scenario == "handover") {
    ThrowAndCatchOnMain();
    std::rethrow_exception(g_handedOver);
  }
}

LRESULT HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_TIMER:
      if (wParam == kStormTimer) throw EConvertError("storm");
      Log("tick");
      return 0;
    case kRaise:
      Log("raising");
      Raise();
      Log("raised nothing");
      return 0;
    case kEvent:
      Log("event");
      return 0;
    case WM_CLOSE:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 3;
  g_scenario = argv[1];
  g_log = argv[2];

  TApplication application;
  application.Initialize();
  InstallCrashReporting();
  AddCrashExceptionHandler(TCrashExceptionEvent::FromFunction(&OnException, nullptr));
  Log(std::string("start restarted=") + (IsRestartedInstance() ? "1" : "0") +
      " history0=" + std::to_string(CurrentExceptionHistory().At(0)) + " cmdline=" + GetCommandLineA());

  if (g_scenario == "abort-fatal") throw EAbort("silent at the end");
  if (g_scenario == "fatal") throw EOSError("escaped main");
  if (g_scenario == "fatal-av") *static_cast<volatile int*>(nullptr) = 2;

  HWND handle = nullptr;
  THiddenWindow window([&handle](UINT message, WPARAM wParam, LPARAM lParam) {
    return HandleMessage(handle, message, wParam, lParam);
  });
  handle = window.Handle();
  g_window = handle;
  SetTimer(handle, 1, 100, nullptr);

  TThread* threadObject = nullptr;
  if (g_scenario == "thread-object") {
    threadObject = new TFailingThread;
  } else if (g_scenario == "handover-av") {
    threadObject = new THandingOverFault;
  } else if (g_scenario == "storm") {
    SetTimer(handle, kStormTimer, 20, nullptr);
  } else if (g_scenario == "raw-thread") {
    StartThread(&RawThread, nullptr);
  } else if (g_scenario == "two-threads") {
    g_go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    static char first[] = "one", second[] = "two";
    StartThread(&RacingThread, first);
    StartThread(&RacingThread, second);
    Sleep(100);
    SetEvent(g_go);
  } else if (g_scenario == "handover") {
    StartThread(&HandingOverThread, nullptr);
  } else {
    PostMessageA(handle, kRaise, 0, 0);
  }
  Log("running");
  application.Run();
  Log("stopped");
  delete threadObject;
  return 0;
}
