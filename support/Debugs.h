// Debug trace: one time-stamped line per call to the debugger output.
// Always on; callable from any thread. The caller never waits for a viewer:
// lines go out in the order of the calls from a thread of their own, through
// a bounded queue (when it is full, lines are dropped and their number is
// traced in their place). Exit waits a little for the queued lines.
#pragma once

#include <string>

void Trace(const std::string& text);
void TraceFmt(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
