// Installation, the interception points that end the process, and shutdown.
// The hand-off to the handling thread is in HandOff_win.cpp, the processing
// of one exception in ProcessException_win.cpp.
#include "crash/handler/CrashReporter.h"

#include <cstdlib>
#include <memory>
#include <mutex>

#include "crash/collect/BugReportCollector.h"
#include "crash/handler/HardwareFaults.h"
#include "crash/handler/ReporterState.h"
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
  FaultRecord fault;
  fault.code = record->ExceptionCode;
  fault.address = reinterpret_cast<ULONG_PTR>(record->ExceptionAddress);
  fault.pointer_digits = static_cast<int>(sizeof(void*) * 2);
  if (fault.code == fault_code::kAccessViolation && record->NumberParameters >= 2) {
    fault.has_access = true;
    fault.access = static_cast<std::uint32_t>(record->ExceptionInformation[0]);
    fault.target = record->ExceptionInformation[1];
  }
  fault.module = ModuleFileNameOf(record->ExceptionAddress);
  auto context = std::make_shared<std::vector<unsigned char>>(
      reinterpret_cast<const unsigned char*>(info->ContextRecord),
      reinterpret_cast<const unsigned char*>(info->ContextRecord) + sizeof(CONTEXT));
  ReportException(MakeFaultException(fault, std::move(context)), Interception::UnhandledFilter, false);
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

bool StartHandlingThread() {
  HANDLE read = nullptr, write = nullptr;
  if (!CreatePipe(&read, &write, nullptr, 0)) return false;
  gReporter.pipeRead.Reset(read);
  gReporter.pipeWrite.Reset(write);
  gReporter.thread.Reset(
      CreateThread(nullptr, 0, &HandlingThreadProc, nullptr, CREATE_SUSPENDED, &gReporter.threadId));
  if (!gReporter.thread) {
    gReporter.pipeRead.Reset();
    gReporter.pipeWrite.Reset();
    return false;
  }
  SetThreadPriority(gReporter.thread.Get(), THREAD_PRIORITY_HIGHEST);
  ResumeThread(gReporter.thread.Get());
  return true;
}

}  // namespace

bool InstallCrashReporting() {
  if (gReporter.active) return true;
  if (!LoadSettings()) return false;
  if (!gReporter.settings->IsOn("Enabled")) return false;

  // Symbols and window classes now: the crash path initialises nothing.
  PrepareBugReports();
  gReporter.restarted = TakeOverFromOldInstance(gReporter.history);
  gReporter.reserve.reserve(8);
  ReserveMemory();

  if (!StartHandlingThread()) return false;
  gReporter.active = true;

  if (Application) {
    Application->SetExceptionHook(
        [](std::exception_ptr error) { ReportException(error, Interception::Dispatch, true); });
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
  if (GetCurrentThreadId() != gReporter.threadId) {
    HandlingRequest stop = {};
    WriteRequest(stop);
    const bool ended = WaitForSingleObject(gReporter.thread.Get(), 500) == WAIT_OBJECT_0;
    // Closing the pipe ends a read that still waits.
    gReporter.pipeWrite.Reset();
    gReporter.pipeRead.Reset();
    if (!ended && WaitForSingleObject(gReporter.thread.Get(), 50) != WAIT_OBJECT_0)
      TerminateThread(gReporter.thread.Get(), 0);
  }
  gReporter.thread.Reset();
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
