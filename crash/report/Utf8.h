// UTF-8 checks for texts that come from outside (the bug-report file) and
// widths for the report's column padding.
#pragma once

#include <cstddef>
#include <string>

// Strict: no overlong forms, no surrogates, nothing above U+10FFFF.
bool IsValidUtf8(const char* data, std::size_t size);
inline bool IsValidUtf8(const std::string& text) { return IsValidUtf8(text.data(), text.size()); }

// Every byte that does not start a valid sequence becomes U+FFFD, so a report
// written to the file always reads back.
std::string SanitizeUtf8(const std::string& text);

// Number of code points of a valid text (column widths of the report).
std::size_t Utf8Length(const std::string& text);

// Appends the UTF-16 (little-endian) bytes of a UTF-8 text, as the callstack
// CRCs hash names.
std::string Utf8ToUtf16leBytes(const std::string& text);
