// The one place where texts change encoding. The program's own texts (the
// window description, messages) are code page 936; the platform's wide calls
// take UTF-16; bug reports and mail are UTF-8; older platform calls answer in
// the user's ANSI code page. A text that does not convert comes back empty;
// bytes that are not valid in the source code page become U+FFFD, as the
// platform converts them.
#pragma once

#include <cstddef>
#include <string>

enum class CodePage : unsigned {
  Ansi = 0,        // the user's ANSI code page (CP_ACP)
  Chinese = 936,   // the program's own texts
  Utf8 = 65001,    // CP_UTF8
};

std::wstring ToWide(const char* text, std::size_t length, CodePage from);
std::wstring ToWide(const std::string& text, CodePage from);
std::string FromWide(const wchar_t* text, std::size_t length, CodePage to);
std::string FromWide(const std::wstring& text, CodePage to);
// A zero-terminated wide text, as the platform hands them out.
std::string FromWide(const wchar_t* text, CodePage to);

inline std::wstring WidenCp936(const std::string& text) { return ToWide(text, CodePage::Chinese); }
inline std::string NarrowCp936(const std::wstring& text) { return FromWide(text, CodePage::Chinese); }
inline std::wstring WideFromUtf8(const std::string& text) { return ToWide(text, CodePage::Utf8); }
inline std::string Utf8FromWide(const std::wstring& text) { return FromWide(text, CodePage::Utf8); }
inline std::string Utf8FromWide(const wchar_t* text, std::size_t length) {
  return FromWide(text, length, CodePage::Utf8);
}
inline std::string Utf8FromAnsi(const std::string& text) {
  return Utf8FromWide(ToWide(text, CodePage::Ansi));
}
inline std::string Utf8FromCp936(const std::string& text) {
  return Utf8FromWide(ToWide(text, CodePage::Chinese));
}
