// Debug trace: one time-stamped line per call to the debugger output.
// Always on; callable from any thread (no state).
#pragma once

#include <string>

void Trace(const std::string& text);
void TraceFmt(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
