// A program that fails on purpose and builds its bug report through the
// collect entry points, catching the fault itself (the frames recorded at
// the throw, the unhandled-exception filter for the access violation). Run from its own folder by crash_collect_test.
//
//   crash_collect_target cpp   throws std::runtime_error, reports, exit 0
//   crash_collect_target av    writes through a null pointer, reports, exit 3
//   crash_collect_target wait  shows the please-wait box, aware of each
//                              monitor's scale as the agent is, for 60 s
// Exit 1: the report was not saved; 2: it did not complete.
// Beside itself it writes "threads.txt" (the ids of its threads) and
// "saved.txt" (where the report went).
#include <cxxabi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <typeinfo>
#include <vector>

#include "crash/collect/BugReportCollector.h"
#include "crash/collect/PleaseWaitBox_win.h"
#include "crash/collect/ThrowFrames.h"
#include "crash/handler/HardwareFaults.h"
#include "crash/report/ReportSettings.h"
#include "support/Win32.h"
#include "toolkit/Dpi.h"

namespace {

ReportSettings* g_settings = nullptr;
DWORD g_skippedThread = 0;
std::string OwnFolder() {
  char path[MAX_PATH];
  const DWORD n = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string text(path, n);
  return text.substr(0, text.find_last_of('\\') + 1);
}

void WriteBeside(const char* name, const std::string& text) {
  FILE* f = std::fopen((OwnFolder() + name).c_str(), "wb");
  if (!f) return;
  std::fwrite(text.data(), 1, text.size(), f);
  std::fclose(f);
}

ReportSettings LoadSettings() {
  HRSRC resource = ::FindResourceA(nullptr, "REPORTSETTINGS", MAKEINTRESOURCEA(10));
  HGLOBAL loaded = resource ? ::LoadResource(nullptr, resource) : nullptr;
  const void* bytes = loaded ? ::LockResource(loaded) : nullptr;
  if (!bytes) std::exit(10);
  return ReportSettings::Parse(bytes, ::SizeofResource(nullptr, resource));
}

void NameThread(HANDLE thread, const wchar_t* name) {
  using SetThreadDescriptionFn = HRESULT(WINAPI*)(HANDLE, PCWSTR);
  auto set = reinterpret_cast<SetThreadDescriptionFn>(
      ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "SetThreadDescription"));
  if (set) set(thread, name);
}

__attribute__((noinline)) DWORD WINAPI WorkerThreadWaits(void*) {
  for (;;) ::Sleep(1000);
}

__attribute__((noinline)) DWORD WINAPI SkippedThreadWaits(void*) {
  for (;;) ::Sleep(1000);
}

void StartThreads() {
  DWORD worker = 0;
  HANDLE w = ::CreateThread(nullptr, 0, &WorkerThreadWaits, nullptr, 0, &worker);
  NameThread(w, L"collect worker");
  ::CreateThread(nullptr, 0, &SkippedThreadWaits, nullptr, 0, &g_skippedThread);
  char text[128];
  std::snprintf(text, sizeof text, "worker=%lx\r\nskipped=%lx\r\nmain=%lx\r\n", worker, g_skippedThread,
                ::GetCurrentThreadId());
  WriteBeside("threads.txt", text);
  ::Sleep(50);  // let both reach their wait
}

int ReportAndSave(ExceptionInfo info) {
  info.time = CurrentLocalTime();
  info.threadId = ::GetCurrentThreadId();
  info.mainThreadId = ::GetCurrentThreadId();
  std::unique_ptr<BugReportJob> job = StartBugReport(info, *g_settings, {g_skippedThread});
  const bool complete = WaitForCompletion(*job, true);
  std::string path;
  const bool saved = SaveBugReport(*job, *g_settings, &path);
  WriteBeside("saved.txt", path);
  if (!complete) return 2;
  return saved ? 0 : 1;
}

// ---- the C++ exception

__attribute__((noinline)) void FailDeepInside(int depth) {
  if (depth > 0) {
    FailDeepInside(depth - 1);
    return;
  }
  throw std::runtime_error("collect target failure");  // throw site
}

__attribute__((noinline)) void ThrowFromInnerFunction() { FailDeepInside(2); }

std::string Demangled(const char* name) {
  int status = 0;
  char* text = abi::__cxa_demangle(name, nullptr, nullptr, &status);
  std::string out = status == 0 && text ? text : name;
  std::free(text);
  return out;
}

__attribute__((noinline)) int RunCppException() {
  try {
    ThrowFromInnerFunction();
  } catch (const std::exception& e) {
    ExceptionInfo info;
    info.exceptionClass = Demangled(typeid(e).name());
    info.exceptionMessage = e.what();
    // No processor context: the throw is no processor fault. The frames
    // and the code address are those recorded at the throw.
    const std::exception_ptr error = std::current_exception();
    std::uint64_t frames[128];
    const std::size_t n = FindThrowFrames(ThrownObjectOf(error), error.__cxa_exception_type(), frames, 128);
    info.raisingFrames.assign(frames, frames + n);
    if (n) info.codeAddress = frames[0];
    return ReportAndSave(info);
  }
  return 4;
}

// ---- the access violation

LONG WINAPI ReportUnhandledFault(EXCEPTION_POINTERS* pointers) {
  const EXCEPTION_RECORD& record = *pointers->ExceptionRecord;
  FaultRecord fault;
  fault.code = record.ExceptionCode;
  fault.address = reinterpret_cast<std::uintptr_t>(record.ExceptionAddress);
  fault.module = "crash_collect_target.exe";
  fault.pointer_digits = sizeof(void*) * 2;
  if (record.ExceptionCode == EXCEPTION_ACCESS_VIOLATION && record.NumberParameters >= 2) {
    fault.has_access = true;
    fault.access = static_cast<std::uint32_t>(record.ExceptionInformation[0]);
    fault.target = record.ExceptionInformation[1];
  }
  ExceptionInfo info;
  info.exceptionClass = FaultClassName(fault);
  info.exceptionMessage = FaultMessage(fault);
  info.codeAddress = fault.address;
  const auto* bytes = reinterpret_cast<const unsigned char*>(pointers->ContextRecord);
  info.context = std::make_shared<std::vector<unsigned char>>(bytes, bytes + sizeof(CONTEXT));
  const int result = ReportAndSave(info);
  ::ExitProcess(result == 0 ? 3 : static_cast<UINT>(result));
}

volatile int* g_nowhere = nullptr;

__attribute__((noinline)) void WriteThroughNull(int value) { *g_nowhere = value; }  // fault site

// The faulting store comes before any frame of its own (the compiler sees
// the null pointer): the caller is found from the top of the stack.
__attribute__((noinline)) void CallThatFaults() { WriteThroughNull(42); }

// The box as a wait for a slow report shows it, held long enough to look at.
int ShowPleaseWait() {
  DeclareDpiAwareness();
  PleaseWaitBox box(g_settings->Text("PlWaitTitle"), g_settings->Text("PlWaitText"));
  if (!box.Window()) return 7;
  const ULONGLONG end = ::GetTickCount64() + 60000;
  while (::GetTickCount64() < end) {
    box.ProcessMessages();
    ::Sleep(20);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  ReportSettings settings = LoadSettings();
  g_settings = &settings;
  PrepareBugReports();
  StartThreads();
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "cpp") return RunCppException();
  if (mode == "wait") return ShowPleaseWait();
  if (mode == "av") {
    ::SetUnhandledExceptionFilter(&ReportUnhandledFault);
    CallThatFaults();
    return 5;
  }
  return 6;
}
