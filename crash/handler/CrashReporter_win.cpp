// Installation, the interception points that end the process, and shutdown.
// The hand-off to the handling thread is in HandOff_win.cpp, the processing
// of one exception in ProcessException_win.cpp.
#include "crash/handler/CrashReporter.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <mutex>

#include "crash/collect/BugReportCollector.h"
#include "crash/handler/HardwareFaults.h"
#include "crash/handler/ReporterState.h"
#include "support/Debugs.h"
#include "support/TextCodec.h"
#include "toolkit/Application.h"
#include "toolkit/Thread.h"

Reporter gReporter;

namespace {

constexpr char kSettingsResource[] = "REPORTSETTINGS";

LONG WINAPI UnhandledFilter(EXCEPTION_POINTERS* info) {
  const EXCEPTION_RECORD* record = info->ExceptionRecord;
  // The C++ run time raises its throws as structured exceptions and expects
  // an unhandled one to be continued, so that it can call std::terminate
  // (reported there, with the exception).
  if ((record->ExceptionCode & 0x00FFFFFF) == 0x00474343 && (record->ExceptionCode >> 24) <= 0x22)
    return EXCEPTION_CONTINUE_EXECUTION;
  // Too little stack is left to build anything on: the handling thread
  // builds the exception from a static copy.
  if (record->ExceptionCode == fault_code::kStackOverflow && GetCurrentThreadId() != gReporter.threadId)
    HandOverStackOverflow(*record, *info->ContextRecord);
  ReportException(FaultException(*record, *info->ContextRecord), Interception::UnhandledFilter, false);
  TerminateProcess(GetCurrentProcess(), 1);
  return EXCEPTION_EXECUTE_HANDLER;
}

void OnTerminate() {
  std::exception_ptr error = std::current_exception();
  if (!error) error = std::make_exception_ptr(Exception("Abnormal program termination"));
  ReportException(error, Interception::Terminate, false);
  TerminateProcess(GetCurrentProcess(), 1);
  ExitProcess(1);
}

bool LoadSettings() {
  HRSRC resource = FindResourceA(nullptr, kSettingsResource, MAKEINTRESOURCEA(10));  // RT_RCDATA
  std::string error;
  try {
    if (!resource) throw EReportSettingsError("Internal error: Invalid settings resource (resource not found).");
    HGLOBAL loaded = LoadResource(nullptr, resource);
    const void* data = loaded ? LockResource(loaded) : nullptr;
    if (!data) throw EReportSettingsError("Internal error: Invalid settings resource (resource not loaded).");
    gReporter.settings = new ReportSettings(ReportSettings::Parse(data, SizeofResource(nullptr, resource)));
    return true;
  } catch (const Exception& e) {
    error = e.Message();
  } catch (const std::exception& e) {
    error = e.what();
  }
  MessageBoxW(nullptr, WidenCp936(error).c_str(), WidenCp936(ExecutableName()).c_str(), MB_OK | MB_ICONERROR);
  return false;
}

// Stack the platform keeps back for the handling of a stack overflow on the
// program's threads: the raising thread only queues a request and waits,
// the report is built on the handling thread's own stack.
constexpr ULONG kStackGuarantee = 32 * 1024;

// At process end, and at log-off before the session ends the process: how
// long an open box's report may take to close and be saved.
constexpr DWORD kFinishReportMs = 5000;

bool CreateHandOff() {
  gReporter.wake.Reset(CreateEventA(nullptr, FALSE, FALSE, nullptr));
  gReporter.idle.Reset(CreateEventA(nullptr, TRUE, TRUE, nullptr));
  gReporter.overflowDone.Reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  gReporter.waitSlot = TlsAlloc();
  return gReporter.wake && gReporter.idle && gReporter.waitSlot != TLS_OUT_OF_INDEXES;
}

BOOL CALLBACK CloseThreadWindow(HWND window, LPARAM) {
  // A window disabled by a modal one over it (the box under the send
  // assistant) closes after that one.
  if (IsWindowVisible(window) && IsWindowEnabled(window)) PostMessageW(window, WM_CLOSE, 0, 0);
  return TRUE;
}

}  // namespace

std::exception_ptr FaultException(const EXCEPTION_RECORD& record, const CONTEXT& context) {
  FaultRecord fault;
  fault.code = record.ExceptionCode;
  fault.address = reinterpret_cast<ULONG_PTR>(record.ExceptionAddress);
  fault.pointer_digits = static_cast<int>(sizeof(void*) * 2);
  if (fault.code == fault_code::kAccessViolation && record.NumberParameters >= 2) {
    fault.has_access = true;
    fault.access = static_cast<std::uint32_t>(record.ExceptionInformation[0]);
    fault.target = record.ExceptionInformation[1];
  }
  fault.module = ModuleFileNameOf(record.ExceptionAddress);
  auto bytes = std::make_shared<std::vector<unsigned char>>(reinterpret_cast<const unsigned char*>(&context),
                                                            reinterpret_cast<const unsigned char*>(&context) +
                                                                sizeof(CONTEXT));
  return MakeFaultException(fault, std::move(bytes));
}

bool StartHandlingThread() {
  DWORD id = 0;
  ScopedKernelHandle thread(CreateThread(nullptr, 0, &HandlingThreadProc, nullptr, CREATE_SUSPENDED, &id));
  if (!thread) return false;
  SetThreadPriority(thread.Get(), THREAD_PRIORITY_HIGHEST);
  gReporter.threadId = id;
  ResumeThread(thread.Get());
  gReporter.thread = std::move(thread);
  return true;
}

bool FinishOpenReport(DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  for (;;) {
    if (WaitForSingleObject(gReporter.idle.Get(), 0) == WAIT_OBJECT_0) return true;
    const DWORD elapsed = GetTickCount() - start;
    if (elapsed >= timeoutMs) return false;
    // Every round: a closed assistant leaves the box to close next, and a
    // replacement handling thread has a new id.
    EnumThreadWindows(gReporter.threadId, &CloseThreadWindow, 0);
    WaitForSingleObject(gReporter.idle.Get(), std::min<DWORD>(200, timeoutMs - elapsed));
  }
}

bool InstallCrashReporting() {
  if (gReporter.active) return true;
  if (!LoadSettings()) return false;
  if (!gReporter.settings->IsOn("Enabled")) return false;

  // Symbols and window classes now: the crash path initialises nothing.
  PrepareBugReports();
  gReporter.restarted = TakeOverFromOldInstance(gReporter.history);
  gReporter.reserve.reserve(8);
  ReserveMemory();

  if (!CreateHandOff() || !StartHandlingThread()) return false;
  gReporter.active = true;

  GuaranteeOverflowStack();
  if (Application) {
    Application->SetExceptionHook(
        [](std::exception_ptr error) { ReportException(error, Interception::Dispatch, true); });
    // The session ends the process once every window has answered: an open
    // box's report is saved before that.
    Application->SetEndSessionHook([] {
      if (gReporter.active && !FinishOpenReport(kFinishReportMs))
        Trace("crash reporting: the open report was not finished before the session ended");
    });
  }
  TThread::SetExceptionHook(
      [](std::exception_ptr error) { ReportException(error, Interception::ThreadObject, true); });
  InstallThreadHooks();
  InstallFaultRedirection();
  SetUnhandledExceptionFilter(&UnhandledFilter);
  std::set_terminate(&OnTerminate);
  std::atexit(&ShutdownCrashReporting);
  return true;
}

bool CrashReportingActive() { return gReporter.active; }

void ShutdownCrashReporting() {
  if (!gReporter.active.exchange(false)) return;
  if (GetCurrentThreadId() == gReporter.threadId) return;
  // The handling thread stops after the current job. A box still open is
  // closed as its title-bar close would, so that the report is saved (per
  // AutoSave) before the process ends. The thread is never terminated: in
  // the middle of the save that left a zero-filled tail in the file, and
  // holding the heap's lock it could hang the exit.
  gReporter.stopping = true;
  SetEvent(gReporter.wake.Get());
  if (!FinishOpenReport(kFinishReportMs)) {
    Trace("crash reporting: the open report was not finished before the program ended");
    return;
  }
  WaitForSingleObject(gReporter.thread.Get(), 500);
}

void AddCrashExceptionHandler(const TCrashExceptionEvent& handler) {
  std::lock_guard<CriticalSection> hold(gReporter.stateLock);
  gReporter.exceptionHandlers.push_back(handler);
}

void AddCrashActionHandler(const TCrashActionEvent& handler) {
  std::lock_guard<CriticalSection> hold(gReporter.stateLock);
  gReporter.actionHandlers.push_back(handler);
}

bool IsRestartedInstance() { return gReporter.restarted; }

ExceptionTimeHistory CurrentExceptionHistory() {
  std::lock_guard<CriticalSection> hold(gReporter.stateLock);
  return gReporter.history;
}

const ReportSettings& CrashReportSettings() { return *gReporter.settings; }

unsigned long HandlingThreadId() { return gReporter.threadId; }

void GuaranteeOverflowStack() {
  ULONG size = kStackGuarantee;  // receives the earlier guarantee
  SetThreadStackGuarantee(&size);
}
