// Which exceptions are reported, and how: the filter an exception class
// falls under, the texts of an exception and its inner exceptions, and the
// frames that stand for a redirected fault. Portable; called on the handling
// thread (IsAbort on the raising thread too).
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <utility>
#include <vector>

#include "crash/handler/CrashReport.h"
#include "crash/report/ReportSettings.h"

// True when `name` is an item of a class list ("A, B;C|D": items split at
// ',', ';' or '|', blanks around an item ignored). Whole items only.
bool ClassListContains(const std::string& list, const std::string& name);

// The F1 settings when the class is listed in F1Classes, else F2 for
// F2Classes, else the general (Gn) ones.
ReportFilter ChooseFilter(const ReportSettings& settings, const std::string& className);

// True when the assistant this filter sends with (its own, else SendAssis)
// has the screenshot page: a screenshot is only of use then.
bool AssistantShowsScreenshot(const ReportSettings& settings, const ReportFilter& filter);

// EAbort, the silent abort, is never reported.
bool IsAbort(const std::exception_ptr& error);

// Class name and message of an exception of our own model, a standard
// exception or anything else.
void DescribeException(const std::exception_ptr& error, std::string& className, std::string& message);

// Class name and message of each nested exception, outermost first (at most 16).
std::vector<std::pair<std::string, std::string>> InnerExceptionsOf(const std::exception_ptr& error);

// A redirected fault is thrown from a call that the fault seems to make
// (its return address is the fault address + 1). Its stack is unwound and
// reused by the time it is reported, so the frames from the fault on are
// taken from that throw's record: the fault, then the frames above that
// call. Empty when the throw's frames hold no such call.
std::vector<std::uint64_t> FramesFromFault(const std::vector<std::uint64_t>& throwFrames, std::uint64_t fault);
