// Small text helpers of the support unit that need no platform call.
#pragma once

#include <cstdarg>
#include <string>
#include <vector>

inline std::string ChooseText(bool condition, const std::string& a, const std::string& b) {
  return condition ? a : b;
}

// printf-like formatting into a std::string.
std::string FormatText(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
std::string FormatTextV(const char* format, va_list args);

// "hh:nn:ss " with the given time separator between the fields (the user's
// regional setting; it may be empty).
std::string FormatTracePrefix(int hour, int minute, int second, const std::string& separator);

// ASCII-only case folding comparison with equal lengths (no locale).
bool SameTextAscii(const std::string& a, const std::string& b);

// The lines of a text broken at CR LF, CR or LF; a final line break ends the
// last line instead of opening an empty one. An empty text is one empty line.
std::vector<std::string> SplitLines(const std::string& text);
