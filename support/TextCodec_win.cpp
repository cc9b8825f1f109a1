#include "support/TextCodec.h"

#include <climits>
#include <cwchar>

#include "support/Win32.h"

std::wstring ToWide(const char* text, std::size_t length, CodePage from) {
  if (!text || length == 0 || length > INT_MAX) return std::wstring();
  const UINT codePage = static_cast<UINT>(from);
  const int size = MultiByteToWideChar(codePage, 0, text, static_cast<int>(length), nullptr, 0);
  if (size <= 0) return std::wstring();
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  if (MultiByteToWideChar(codePage, 0, text, static_cast<int>(length), &wide[0], size) != size) return std::wstring();
  return wide;
}

std::wstring ToWide(const std::string& text, CodePage from) { return ToWide(text.data(), text.size(), from); }

std::string FromWide(const wchar_t* text, std::size_t length, CodePage to) {
  if (!text || length == 0 || length > INT_MAX) return std::string();
  const UINT codePage = static_cast<UINT>(to);
  const int size = WideCharToMultiByte(codePage, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
  if (size <= 0) return std::string();
  std::string narrow(static_cast<std::size_t>(size), '\0');
  if (WideCharToMultiByte(codePage, 0, text, static_cast<int>(length), &narrow[0], size, nullptr, nullptr) != size)
    return std::string();
  return narrow;
}

std::string FromWide(const std::wstring& text, CodePage to) { return FromWide(text.data(), text.size(), to); }

std::string FromWide(const wchar_t* text, CodePage to) {
  return text ? FromWide(text, std::wcslen(text), to) : std::string();
}
