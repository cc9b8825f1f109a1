#include "support/Debugs.h"

#include <cstdarg>

#include "support/Text.h"
#include "support/Win32.h"

namespace {

std::string TimeSeparator() {
  char separator[8] = {};
  // The user's regional time separator; an empty setting gives no separator.
  if (GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_STIME, separator, sizeof separator) == 0)
    return ":";
  return separator;
}

}  // namespace

void Trace(const std::string& text) {
  SYSTEMTIME now;
  GetLocalTime(&now);
  const std::string line = FormatTracePrefix(now.wHour, now.wMinute, now.wSecond, TimeSeparator()) + text;
  OutputDebugStringA(line.c_str());
}

void TraceFmt(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string text = FormatTextV(format, args);
  va_end(args);
  Trace(text);
}
