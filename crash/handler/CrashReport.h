// The record of one reported exception, and the events through which code
// can watch exceptions and the actions of the report box.
//
// A CrashReport is built and used on the crash reporter's handling thread
// only; handlers are called there.
#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "crash/report/HeaderFields.h"
#include "crash/report/ReportSettings.h"
#include "support/Delegate.h"

// Where an exception was intercepted; the code travels in the handling
// request.
enum class Interception : std::uint32_t {
  Dispatch = 1,         // escaped a message handler
  ThreadObject = 2,     // escaped TThread::Execute
  ThreadProc = 3,       // escaped a thread procedure started through the platform
  UnhandledFilter = 4,  // reached the process's unhandled-exception filter
  Terminate = 5,        // the run time could not go on (std::terminate)
};

enum class ReportKind { Exception, Freeze };

// Action codes passed to the action handlers.
enum CrashAction : int {
  caSend = 0, caSave = 1, caPrint = 2,
  caSendAssistantDone = 3, caSaveAssistantDone = 4, caPrintAssistantDone = 5,
  caSent = 6, caSaved = 7, caPrinted = 8,
  caShowBugReport = 9, caHelp = 10,
  caContinue = 11, caRestart = 12, caClose = 13,
};

// The filter an exception falls under: F1, F2 or the general one.
struct ReportFilter {
  int index = 0;  // 1, 2, or 0 for the general settings
  bool noBugReport = false;
  bool noScreenshot = false;
  bool noHandlers = false;
  bool noSuspend = false;
  int showConfig = 0;  // 0 full box, 2/3 plain box, 4 nothing
  std::string assistant;
};

struct CrashReport {
  explicit CrashReport(const ReportSettings& settings) : Settings(settings) {}

  std::string ExceptionClass;
  std::string ExceptionMessage;
  std::uint64_t CodeAddress = 0;
  std::string Module;  // file name of the module holding CodeAddress
  std::uint32_t ThreadId = 0;
  // The platform's processor context at the fault, as bytes; null when the
  // exception is not a structured one.
  std::shared_ptr<const std::vector<unsigned char>> Context;
  // The stack at the fault's stack pointer, copied at the fault (empty
  // when the stack was still intact when the fault was reported).
  std::vector<unsigned char> StackCopy;
  std::uint64_t StackPointer = 0;
  std::uint64_t FramePointer = 0;
  LocalTime Time;
  ReportKind Kind = ReportKind::Exception;
  bool CanContinue = false;
  Interception Point = Interception::Dispatch;
  std::uint64_t Number = 0;  // exception counter of the process, from 1

  bool BugReportWanted = false;
  bool ReportComplete = false;
  bool ReportSaved = false;
  bool ReportSent = false;

  // Inner exceptions of the raising thread (nested exceptions), outermost first.
  std::vector<std::pair<std::string, std::string>> InnerExceptions;

  ReportFilter Filter;
  // This exception's own copy: the flow may change ShowBtnVis, AutoShowBugRep,
  // FocusedBtn, AutoContinue, AutoRestart and AutoClose for it alone.
  ReportSettings Settings;

  std::exception_ptr Error;
};

// Called for each exception before the box (unless the filter says
// NoHandlers).
using TCrashExceptionEvent = Event<void(CrashReport& Report)>;
// Called for each action; setting Handled cancels the built-in action.
using TCrashActionEvent = Event<void(CrashReport& Report, int Action, bool& Handled)>;
