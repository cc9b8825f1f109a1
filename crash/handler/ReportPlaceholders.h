// The program's own names and the placeholder values of one exception.
// Handling thread.
#pragma once

#include <string>

#include "crash/handler/CrashReport.h"
#include "crash/report/Placeholders.h"

// Full path of the executable, as UTF-8.
std::string ExecutablePathUtf8();

PlaceholderValues PlaceholdersFor(const CrashReport& report);
