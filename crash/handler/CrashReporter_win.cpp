// Installation, the hand-off to the handling thread and the processing of
// one exception.
//
// A raising thread writes a fixed request into an anonymous pipe and waits
// for the request's event; the one handling thread reads the requests in
// turn, so boxes come one after the other. The request's data (the
// exception, the event) sits in a job that both threads hold a reference
// to: the main thread may stop waiting early (WM_QUIT) while the box is
// still open.
#include "crash/handler/CrashReporter.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>
#include <vector>

#include "crash/box/AssistantForms.h"
#include "crash/box/ReportBox.h"
#include "crash/collect/BugReportCollector.h"
#include "crash/collect/ThrowFrames.h"
#include "crash/handler/HandlerInternal.h"
#include "crash/handler/HardwareFaults.h"
#include "crash/report/BugReportFile.h"
#include "crash/report/Placeholders.h"
#include "support/ScopedHandle.h"
#include "support/Utils.h"
#include "toolkit/Application.h"
#include "toolkit/Guard.h"
#include "toolkit/Thread.h"

namespace {

constexpr char kSettingsResource[] = "REPORTSETTINGS";

struct Job {
  volatile LONG references = 2;  // raising thread and handling thread
  std::exception_ptr error;
  Interception point = Interception::Dispatch;
  bool canContinue = true;
  DWORD threadId = 0;
  const void* codeAddress = nullptr;
  const void* stackPointer = nullptr;
  const void* framePointer = nullptr;
  // The raising thread's frames at the throw of a C++ exception.
  std::vector<std::uint64_t> raisingFrames;
  ScopedKernelHandle done;
};

void Release(Job* job) {
  if (InterlockedDecrement(&job->references) == 0) delete job;
}

// Everything the installation sets up; lives for the whole process.
struct Reporter {
  bool active = false;
  ReportSettings* settings = nullptr;
  HANDLE pipeRead = nullptr;
  HANDLE pipeWrite = nullptr;
  HANDLE thread = nullptr;
  DWORD threadId = 0;
  CRITICAL_SECTION writeLock;
  CRITICAL_SECTION stateLock;  // history, counter, handlers, reserve
  ExceptionTimeHistory history;
  bool restarted = false;
  std::uint64_t exceptionCount = 0;
  std::vector<TCrashExceptionEvent> exceptionHandlers;
  std::vector<TCrashActionEvent> actionHandlers;
  std::vector<void*> reserve;
  std::string tempFolder;
  // Send and completion threads of earlier exceptions that may still run:
  // they are crash reporting's own and never listed in a report.
  std::vector<HANDLE> ownThreads;
};

Reporter g;

// ---- memory reserve -------------------------------------------------------

void ReserveMemory() {
  EnterCriticalSection(&g.stateLock);
  if (g.reserve.empty()) {
    for (int i = 0; i < 4; ++i)
      if (void* p = VirtualAlloc(nullptr, 4 << 20, MEM_RESERVE, PAGE_NOACCESS)) g.reserve.push_back(p);
    for (int i = 0; i < 4; ++i)
      if (void* p = VirtualAlloc(nullptr, 512 << 10, MEM_RESERVE | MEM_COMMIT, PAGE_NOACCESS))
        g.reserve.push_back(p);
  }
  LeaveCriticalSection(&g.stateLock);
}

void ReleaseReserve() {
  EnterCriticalSection(&g.stateLock);
  for (void* p : g.reserve) VirtualFree(p, 0, MEM_RELEASE);
  g.reserve.clear();  // keeps its capacity: no allocation here
  LeaveCriticalSection(&g.stateLock);
}

// ---- exception texts ------------------------------------------------------

bool IsAbort(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const EAbort&) {
    return true;
  } catch (...) {
  }
  return false;
}

void Describe(const std::exception_ptr& error, std::string& className, std::string& message) {
  try {
    std::rethrow_exception(error);
  } catch (const Exception& e) {
    className = e.ClassName();
    message = e.Message();
  } catch (const std::exception& e) {
    className = "std::exception";
    message = e.what();
  } catch (...) {
    className = "Exception";
    message = "unknown exception";
  }
}

void CollectInner(const std::exception_ptr& error, CrashReport& report) {
  std::exception_ptr current = error;
  for (int depth = 0; current && depth < 16; ++depth) {
    std::exception_ptr inner;
    try {
      std::rethrow_exception(current);
    } catch (const std::nested_exception& nested) {
      inner = nested.nested_ptr();
    } catch (...) {
    }
    if (!inner) break;
    std::string className, message;
    Describe(inner, className, message);
    report.InnerExceptions.emplace_back(className, message);
    current = inner;
  }
}

// ---- small platform helpers ----------------------------------------------

std::string ExecutableName() {
  char path[MAX_PATH + 1] = {};
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string text(path, length);
  const std::size_t slash = text.find_last_of("\\/");
  return slash == std::string::npos ? text : text.substr(slash + 1);
}

std::string WithoutExtension(const std::string& name) {
  const std::size_t dot = name.find_last_of('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

void EmptyTempFolder() {
  if (g.tempFolder.empty()) {
    char temp[MAX_PATH + 1] = {};
    if (!GetTempPathA(MAX_PATH, temp)) return;
    g.tempFolder = std::string(temp) + WithoutExtension(ExecutableName()) + "-crash-" +
                   std::to_string(GetCurrentProcessId()) + "\\";
  }
  CreateDirectoryA(g.tempFolder.c_str(), nullptr);
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((g.tempFolder + "*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    const std::string file = g.tempFolder + found.cFileName;
    SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(file.c_str());
  } while (FindNextFileA(search, &found));
  FindClose(search);
}

bool ListContains(const std::string& list, const std::string& name) {
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t end = list.find_first_of(",;|", start);
    if (end == std::string::npos) end = list.size();
    std::string item = list.substr(start, end - start);
    while (!item.empty() && item.front() == ' ') item.erase(item.begin());
    while (!item.empty() && item.back() == ' ') item.pop_back();
    if (!item.empty() && item == name) return true;
    start = end + 1;
  }
  return false;
}

ReportFilter ChooseFilter(const ReportSettings& s, const std::string& className) {
  ReportFilter filter;
  const char* prefix = "Gn";
  if (ListContains(s.Text("F1Classes"), className)) {
    prefix = "F1";
    filter.index = 1;
  } else if (ListContains(s.Text("F2Classes"), className)) {
    prefix = "F2";
    filter.index = 2;
  }
  const std::string p = prefix;
  filter.noBugReport = s.IsOn(p + "NoBugRep");
  filter.noScreenshot = s.IsOn(p + "NoScrShot");
  filter.noHandlers = s.IsOn(p + "NoHandlers");
  filter.noSuspend = s.IsOn(p + "NoSuspend");
  filter.showConfig = static_cast<int>(s.Number(p + "ShowCfg"));
  filter.assistant = s.Text(p + "Assis");
  return filter;
}

std::int64_t NowSeconds() { return static_cast<std::int64_t>(std::time(nullptr)); }

// Handling thread only.
void KeepOwnThread(std::uint32_t id) {
  if (!id) return;
  HANDLE thread = OpenThread(SYNCHRONIZE, FALSE, id);
  if (!thread) return;
  if (WaitForSingleObject(thread, 0) == WAIT_TIMEOUT) g.ownThreads.push_back(thread);
  else CloseHandle(thread);
}

// The handling thread and the threads of earlier exceptions still running.
std::vector<std::uint32_t> OwnThreadIds() {
  std::vector<std::uint32_t> ids = {g.threadId};
  std::vector<HANDLE> running;
  for (HANDLE thread : g.ownThreads) {
    if (WaitForSingleObject(thread, 0) == WAIT_TIMEOUT) {
      running.push_back(thread);
      ids.push_back(GetThreadId(thread));
    } else {
      CloseHandle(thread);
    }
  }
  g.ownThreads.swap(running);
  return ids;
}

// ---- processing on the handling thread -----------------------------------

// True when a handler cancelled the built-in action.
bool FireAction(CrashReport& report, int action) {
  std::vector<TCrashActionEvent> handlers;
  EnterCriticalSection(&g.stateLock);
  handlers = g.actionHandlers;
  LeaveCriticalSection(&g.stateLock);
  bool handled = false;
  for (const TCrashActionEvent& handler : handlers) {
    try {
      handler(report, action, handled);
    } catch (...) {
    }
  }
  return handled;
}

// One exception's processing: its record, the bug report being built and
// the last send started from the box.
struct Handling {
  explicit Handling(CrashReport& r) : report(r) {}
  CrashReport& report;
  std::unique_ptr<BugReportJob> bugReport;
  std::shared_ptr<SendJob> send;
};

bool ReportSentOk(const Handling& h) { return h.send && h.send->Sent(); }

// Before continue, restart and close.
void FinalAutoStep(Handling& h, bool wait) {
  CrashReport& report = h.report;
  const ReportSettings& s = report.Settings;
  // Restart and close wait for a background send anyway; waiting first
  // tells whether it succeeded, so a sent report is not saved as well.
  if (wait && h.send) h.send->Wait();
  report.ReportSent = ReportSentOk(h);
  const bool saveWanted =
      h.bugReport && s.IsOn("AutoSave") && (!s.IsOn("AutoSaveIfNotSent") || !report.ReportSent);
  if (saveWanted && !h.bugReport->Complete()) WaitForCompletion(*h.bugReport, true);
  if (h.bugReport) report.ReportComplete = h.bugReport->Complete();
  if (saveWanted && !h.bugReport->Saved() && !FireAction(report, caSave)) {
    if (SaveBugReport(*h.bugReport, s)) {
      report.ReportSaved = true;
      FireAction(report, caSaved);
    }
  }
}

[[noreturn]] void CloseProcess(Handling& h) {
  FinalAutoStep(h, true);
  TerminateProcess(GetCurrentProcess(), 1);
  ExitProcess(1);
}

[[noreturn]] void Restart(Handling& h) {
  FinalAutoStep(h, true);
  EnterCriticalSection(&g.stateLock);
  const ExceptionTimeHistory history = g.history;
  LeaveCriticalSection(&g.stateLock);
  RestartProcess(history);
}

std::string Utf8(const wchar_t* text) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) return std::string();
  std::string out(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], size, nullptr, nullptr);
  out.resize(static_cast<std::size_t>(size - 1));
  return out;
}

std::wstring Wide(const std::string& text, UINT codePage) {
  if (text.empty()) return std::wstring();
  const int length = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length > 0 ? length : 0), L'\0');
  if (length > 0) MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
  return wide;
}

std::string ExecutablePathUtf8() {
  wchar_t path[MAX_PATH + 1] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  return Utf8(path);
}

PlaceholderValues Placeholders(const CrashReport& report) {
  PlaceholderValues values;
  const std::string exePath = ExecutablePathUtf8();
  values.app_name = exePath.substr(exePath.find_last_of("\\/") + 1);
  values.mod_name = report.Module;
  // No version is set in the settings: the file versions, else "?".
  values.app_version = ChooseVersionText(std::string(), GetOwnFileVersion(), "?");
  HMODULE module = nullptr;
  char modulePath[MAX_PATH + 1] = {};
  if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         reinterpret_cast<LPCSTR>(static_cast<ULONG_PTR>(report.CodeAddress)), &module) &&
      GetModuleFileNameA(module, modulePath, MAX_PATH))
    values.mod_version = ChooseVersionText(std::string(), GetFileVersion(modulePath), "?");
  else
    values.mod_version = "?";
  values.os = OperatingSystemText();
  values.except_class = report.ExceptionClass;
  values.except_msg = report.ExceptionMessage;
  values.now = CurrentLocalTime();
  char computer[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = sizeof computer;
  if (GetComputerNameA(computer, &size)) values.computer_name = computer;
  wchar_t folder[MAX_PATH];
  if (SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder)))
    values.user_app_data = Utf8(folder);
  if (SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder)))
    values.common_app_data = Utf8(folder);
  if (SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_DESKTOPDIRECTORY, nullptr, SHGFP_TYPE_CURRENT, folder)))
    values.desktop = Utf8(folder);
  return values;
}

// The screenshot is only of use when the send assistant shows it.
bool AssistantShowsScreenshot(const CrashReport& report) {
  const ReportSettings& s = report.Settings;
  const std::string wanted = report.Filter.assistant.empty() ? s.Text("SendAssis") : report.Filter.assistant;
  for (const char* slot : {"Assistant1", "Assistant2", "Assistant3"}) {
    TNVAssistant assistant;
    if (!ParseAssistant(s.Text(slot), &assistant) || assistant.name != wanted) continue;
    for (const std::string& page : assistant.pages)
      if (page == "ScrShotForm") return true;
  }
  return false;
}

ExceptionInfo MakeExceptionInfo(const CrashReport& report, const Job& job) {
  ExceptionInfo info;
  info.exceptionClass = report.ExceptionClass;
  info.exceptionMessage = report.ExceptionMessage;
  info.codeAddress = report.CodeAddress;
  info.threadId = report.ThreadId;
  info.context = report.Context;
  if (!report.Context) {
    info.raisingFrames = job.raisingFrames;
  } else if (!job.raisingFrames.empty()) {
    // A redirected fault is thrown from a call that the fault seems to
    // make (its return address is the fault address + 1). Its stack is
    // unwound and reused by the time it is reported, so the frames from the
    // fault on are taken from that throw's record.
    const std::uint64_t fault = report.CodeAddress;
    const auto call = std::find(job.raisingFrames.begin() + 1, job.raisingFrames.end(), fault + 1);
    if (call != job.raisingFrames.end()) {
      info.raisingFrames.push_back(fault);
      info.raisingFrames.insert(info.raisingFrames.end(), call + 1, job.raisingFrames.end());
    }
  }
  info.stackPointer = report.StackPointer;
  info.framePointer = report.FramePointer;
  info.time = report.Time;
  info.number = report.Number;
  for (const auto& inner : report.InnerExceptions) info.innerExceptions.push_back({inner.first, inner.second});
  info.mainThreadId = MainThreadID();
  return info;
}

void Process(Job& job) {
  CrashReport report(*g.settings);
  Handling h(report);
  report.Error = job.error;
  report.ThreadId = job.threadId;
  report.CanContinue = job.canContinue;
  report.Point = job.point;
  report.Time = CurrentLocalTime();
  report.StackPointer = reinterpret_cast<ULONG_PTR>(job.stackPointer);
  report.FramePointer = reinterpret_cast<ULONG_PTR>(job.framePointer);
  report.CodeAddress = reinterpret_cast<ULONG_PTR>(job.codeAddress);

  // 1. The temporary folder starts empty for every exception.
  try {
    EmptyTempFolder();
  } catch (...) {
  }

  // 2. The report record.
  Describe(job.error, report.ExceptionClass, report.ExceptionMessage);
  try {
    std::rethrow_exception(job.error);
  } catch (const EExternal& fault) {
    report.Context = fault.Context() ? std::make_shared<const std::vector<unsigned char>>(*fault.Context())
                                     : nullptr;
    if (fault.Record().address) report.CodeAddress = fault.Record().address;
  } catch (...) {
  }
  report.Module = ModuleFileNameOf(reinterpret_cast<const void*>(static_cast<ULONG_PTR>(report.CodeAddress)));
  CollectInner(job.error, report);
  report.Filter = ChooseFilter(report.Settings, report.ExceptionClass);
  report.BugReportWanted = !report.Filter.noBugReport;

  // 3. The history moves down; the counter rises.
  EnterCriticalSection(&g.stateLock);
  g.history.Record(NowSeconds());
  report.Number = ++g.exceptionCount;
  std::vector<TCrashExceptionEvent> handlers = g.exceptionHandlers;
  LeaveCriticalSection(&g.stateLock);

  // 4. Exception handlers.
  if (!report.Filter.noHandlers) {
    for (const TCrashExceptionEvent& handler : handlers) {
      try {
        handler(report);
      } catch (...) {
      }
    }
  }

  // 5. PauseThreads is off in these settings: no thread objects are paused.
  // 6. The screenshot before any box covers the screen, then the bug report.
  const ReportSettings& s = report.Settings;
  std::shared_ptr<Screenshot> screenshot;
  if (!report.Filter.noScreenshot && report.Filter.showConfig != 4 && AssistantShowsScreenshot(report))
    screenshot = CaptureScreen();
  if (report.BugReportWanted) {
    // The raising thread waits for this thread, which is never suspended.
    h.bugReport = StartBugReport(MakeExceptionInfo(report, job), s, OwnThreadIds());
  }
  // 7. AutoSend and AutoClip are off: no completion callback is needed.

  // 8. The box.
  BoxChoice choice = BoxChoice::Continue;
  bool decided = false;
  if (report.Filter.showConfig != 4) {
    // The plain box (F1 exceptions) still needs a report to show "&Details".
    std::unique_ptr<BugReport> empty;
    if (!h.bugReport) empty = std::make_unique<BugReport>(ReportLockFactory());
    BugReport& shown = h.bugReport ? h.bugReport->Report() : *empty;

    BoxOptions options;
    options.placeholders = Placeholders(report);
    options.exceptionClass = report.ExceptionClass;
    options.exceptionMessage = report.ExceptionMessage;
    options.canContinue = report.CanContinue;
    options.showConfig = report.Filter.showConfig;
    options.screenshot = screenshot;
    std::string temp = g.tempFolder;
    while (!temp.empty() && temp.back() == '\\') temp.pop_back();
    options.tempFolder = Wide(temp, CP_ACP);  // from GetTempPathA
    const std::string exePath = ExecutablePathUtf8();
    const std::string fileName = ExpandPlaceholders(s.Text("BugRepFile"), options.placeholders);
    if (!exePath.empty() && !fileName.empty())
      options.bugReportFile = Wide(ResolveBugReportPath(fileName, exePath), CP_UTF8);
    options.reportSaved = h.bugReport && h.bugReport->Saved();
    if (h.bugReport && !h.bugReport->Complete()) {
      BugReportJob* pending = h.bugReport.get();
      options.waitForCompleteReport = [pending] { WaitForCompletion(*pending, true); };
    }
    // The box fires every action itself, continue, restart and close too.
    options.onAction = [&report](int action) { return FireAction(report, action); };

    BoxResult result = ShowReportBox(shown, s, options);
    // Reopened expanded ("show bug report", "&Details") until a choice.
    while (result.reopenExpanded) {
      options.reopened = true;
      options.showConfig = 0;
      options.waitForCompleteReport = nullptr;
      if (h.bugReport && !h.bugReport->Complete()) {
        BugReportJob* pending = h.bugReport.get();
        options.waitForCompleteReport = [pending] { WaitForCompletion(*pending, true); };
      }
      std::shared_ptr<SendJob> earlier = result.send;
      result = ShowReportBox(shown, s, options);
      if (!result.send) result.send = earlier;
    }
    h.send = result.send;
    report.ReportSent = result.ReportSent();
    choice = result.choice;
    decided = true;
  }

  // A background send goes on after the box; a hung completion may too.
  if (h.send) KeepOwnThread(h.send->ThreadId());
  if (h.bugReport) KeepOwnThread(h.bugReport->CompletionThreadId());

  // 9. After the box.
  if (decided && choice == BoxChoice::Restart) Restart(h);
  if (decided && choice == BoxChoice::Close) CloseProcess(h);
  if (report.CanContinue) {
    FinalAutoStep(h, false);
    return;
  }
  EnterCriticalSection(&g.stateLock);
  const ExceptionTimeHistory history = g.history;
  LeaveCriticalSection(&g.stateLock);
  if (DecideAfterBox(false, s.Number("AutoRestart"), s.Number("AutoClose"), history, NowSeconds()) ==
      AfterBox::Restart)
    Restart(h);
  CloseProcess(h);
}

void ProcessGuarded(Job& job) {
  try {
    Process(job);
  } catch (...) {
    // Crash reporting's own failure: the raising thread is released.
  }
}

DWORD WINAPI HandlingThreadProc(void*) {
  for (;;) {
    HandlingRequest request;
    DWORD read = 0;
    if (!ReadFile(g.pipeRead, &request, sizeof request, &read, nullptr)) break;
    if (read != sizeof request) continue;
    if (!request.event) break;
    Job* job = static_cast<Job*>(request.exceptionObject);
    ProcessGuarded(*job);
    ReserveMemory();
    SetEvent(request.event);
    // A thread blocked in a message wait wakes up for this.
    PostThreadMessageA(request.threadId, WM_NULL, 0, 0);
    Release(job);
  }
  return 0;
}

// The main thread keeps its windows, timers and sockets going while it waits.
void WaitPumping(HANDLE event) {
  for (;;) {
    const DWORD r = MsgWaitForMultipleObjects(1, &event, FALSE, INFINITE, QS_ALLINPUT);
    if (r != WAIT_OBJECT_0 + 1) return;  // the event, or a failed wait
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        PostQuitMessage(static_cast<int>(msg.wParam));
        return;
      }
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
      if (WaitForSingleObject(event, 0) == WAIT_OBJECT_0) return;
    }
    CheckSynchronize();
  }
}

bool WriteRequest(const HandlingRequest& request) {
  EnterCriticalSection(&g.writeLock);
  DWORD written = 0;
  const BOOL ok = WriteFile(g.pipeWrite, &request, sizeof request, &written, nullptr);
  LeaveCriticalSection(&g.writeLock);
  return ok && written == sizeof request;
}

// ---- the interception points ----------------------------------------------

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
    g.settings = new ReportSettings(ReportSettings::Parse(data, SizeofResource(nullptr, resource)));
    return true;
  } catch (const Exception& e) {
    error = e.Message();
  } catch (const std::exception& e) {
    error = e.what();
  }
  MessageBoxW(nullptr, WidenText(error).c_str(), WidenText(ExecutableName()).c_str(), MB_OK | MB_ICONERROR);
  return false;
}

}  // namespace

std::wstring WidenText(const std::string& text) {
  if (text.empty()) return std::wstring();
  // The program's own texts are code page 936; ASCII passes unchanged.
  const int length = MultiByteToWideChar(936, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length > 0 ? length : 0), L'\0');
  if (length > 0) MultiByteToWideChar(936, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
  return wide;
}

void ReportException(std::exception_ptr error, Interception point, bool canContinue) {
  if (!error) return;
  if (!g.active) {
    if (canContinue) return;
    TerminateProcess(GetCurrentProcess(), 1);
  }
  // Never again for the handling thread's own exceptions.
  if (GetCurrentThreadId() == g.threadId) {
    if (!canContinue) TerminateProcess(GetCurrentProcess(), 1);
    return;
  }
  if (IsAbort(error)) {
    if (!canContinue) TerminateProcess(GetCurrentProcess(), 1);
    return;
  }
  // Address space and memory for the handling, even after an out-of-memory failure.
  ReleaseReserve();

  Job* job = new (std::nothrow) Job;
  if (!job) {
    if (!canContinue) TerminateProcess(GetCurrentProcess(), 1);
    return;
  }
  job->error = error;
  job->point = point;
  job->canContinue = canContinue;
  job->threadId = GetCurrentThreadId();
  job->codeAddress = __builtin_return_address(0);
  job->framePointer = __builtin_frame_address(0);
  job->stackPointer = &job;
  // The frames of the throw that made this exception, on whichever thread
  // it was thrown; its code address is the throw site.
  std::uint64_t frames[128];
  const std::size_t thrown =
      FindThrowFrames(ThrownObjectOf(error), error.__cxa_exception_type(), frames, sizeof frames / sizeof frames[0]);
  if (thrown) {
    job->raisingFrames.assign(frames, frames + thrown);
    job->codeAddress = reinterpret_cast<const void*>(static_cast<std::uintptr_t>(frames[0]));
  }
  job->done.Reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));

  bool handedOff = false;
  if (job->done) {
    HandlingRequest request = {};
    request.event = job->done.Get();
    request.threadId = job->threadId;
    request.kind = 0;
    request.exceptionObject = job;
    request.codeAddress = const_cast<void*>(job->codeAddress);
    request.canContinue = canContinue;
    request.stackPointer = const_cast<void*>(job->stackPointer);
    request.framePointer = const_cast<void*>(job->framePointer);
    request.threadState.lastError = GetLastError();
    request.threadState.guardDepth = CurrentFaultGuard() ? 1 : 0;
    request.interceptionCode = static_cast<DWORD>(point);
    handedOff = WriteRequest(request);
  }
  if (handedOff) {
    // Only for an exception that can go on: after one that cannot, the main
    // thread's state is not fit to run handlers in.
    if (canContinue && GetCurrentThreadId() == MainThreadID() && !g.settings->IsOn("PauseThreads")) {
      WaitPumping(job->done.Get());
    } else {
      WaitForSingleObject(job->done.Get(), INFINITE);
    }
  } else {
    // No event, or the handling thread is gone: handle it here.
    InterlockedDecrement(&job->references);
    ProcessGuarded(*job);
    ReserveMemory();
  }
  Release(job);
  // Processing itself failed for an exception that cannot go on.
  if (!canContinue) TerminateProcess(GetCurrentProcess(), 1);
}

bool InstallCrashReporting() {
  if (g.active) return true;
  InitializeCriticalSection(&g.writeLock);
  InitializeCriticalSection(&g.stateLock);
  if (!LoadSettings()) return false;
  if (!g.settings->IsOn("Enabled")) return false;

  // Symbols and window classes now: the crash path initialises nothing.
  PrepareBugReports();
  g.restarted = TakeOverFromOldInstance(g.history);
  g.reserve.reserve(8);
  ReserveMemory();

  if (!CreatePipe(&g.pipeRead, &g.pipeWrite, nullptr, 0)) return false;
  g.thread = CreateThread(nullptr, 0, &HandlingThreadProc, nullptr, CREATE_SUSPENDED, &g.threadId);
  if (!g.thread) {
    CloseHandle(g.pipeRead);
    CloseHandle(g.pipeWrite);
    return false;
  }
  SetThreadPriority(g.thread, THREAD_PRIORITY_HIGHEST);
  ResumeThread(g.thread);
  g.active = true;

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

bool CrashReportingActive() { return g.active; }

void ShutdownCrashReporting() {
  if (!g.active) return;
  g.active = false;
  if (GetCurrentThreadId() != g.threadId) {
    HandlingRequest stop = {};
    WriteRequest(stop);
    if (WaitForSingleObject(g.thread, 500) != WAIT_OBJECT_0) {
      CloseHandle(g.pipeWrite);
      CloseHandle(g.pipeRead);
      g.pipeWrite = g.pipeRead = nullptr;
      if (WaitForSingleObject(g.thread, 50) != WAIT_OBJECT_0) TerminateThread(g.thread, 0);
    } else {
      CloseHandle(g.pipeWrite);
      CloseHandle(g.pipeRead);
    }
  }
  CloseHandle(g.thread);
}

void AddCrashExceptionHandler(const TCrashExceptionEvent& handler) {
  EnterCriticalSection(&g.stateLock);
  g.exceptionHandlers.push_back(handler);
  LeaveCriticalSection(&g.stateLock);
}

void AddCrashActionHandler(const TCrashActionEvent& handler) {
  EnterCriticalSection(&g.stateLock);
  g.actionHandlers.push_back(handler);
  LeaveCriticalSection(&g.stateLock);
}

bool IsRestartedInstance() { return g.restarted; }

ExceptionTimeHistory CurrentExceptionHistory() {
  EnterCriticalSection(&g.stateLock);
  const ExceptionTimeHistory history = g.history;
  LeaveCriticalSection(&g.stateLock);
  return history;
}

const ReportSettings& CrashReportSettings() { return *g.settings; }

unsigned long HandlingThreadId() { return g.threadId; }
