// Crash reporting: catches every exception that nothing in the program
// handles, on any thread, and hands it to one handling thread, which shows
// the report box and then lets the program go on, restarts it or ends it.
//
// InstallCrashReporting runs once on the main thread, early in start-up and
// before the main window exists. From then on these paths reach the handling
// thread: exceptions escaping message handlers (the application's central
// handler and its show-exception routine), TThread bodies, thread procedures
// started through CreateThread, CreateRemoteThread(Ex) and QueueUserWorkItem
// in the program's own code, hardware faults inside guarded bodies, the
// process's unhandled-exception filter and std::terminate.
#pragma once

#include <exception>

#include "crash/handler/CrashReport.h"
#include "crash/report/ExceptionHistory.h"

// Reads the settings block, starts the handling thread and installs every
// hook. False when crash reporting stays inactive (disabled, or a settings
// block that does not parse, which is shown in a box).
bool InstallCrashReporting();
bool CrashReportingActive();

// Closes a box still open, so that its report is saved, and lets the
// handling thread end; waits a bounded time (registered to run at process
// end as well).
void ShutdownCrashReporting();

// Hands an exception to the handling thread and waits until it has been
// handled. Returns when the program is to go on; with canContinue false it
// never returns (the process restarts or ends). Any thread. A thread that
// already waits for its own report (the main thread dispatches messages
// meanwhile) only counts the exception into that report and returns at once;
// so does a thread whose request finds the queue full.
void ReportException(std::exception_ptr error, Interception point, bool canContinue);

// Handlers are called on the handling thread. Register them at start-up.
void AddCrashExceptionHandler(const TCrashExceptionEvent& handler);
void AddCrashActionHandler(const TCrashActionEvent& handler);

// True when this instance was started by "restart application".
bool IsRestartedInstance();
// The exception-time history (inherited by a restarted instance).
ExceptionTimeHistory CurrentExceptionHistory();
// The settings read at start-up; only valid while active.
const ReportSettings& CrashReportSettings();
// Id of the handling thread (0 when inactive).
unsigned long HandlingThreadId();
