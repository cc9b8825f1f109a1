#include "support/Utils.h"

#include <cstring>
#include <vector>

#include "support/Exceptions.h"
#include "support/Registry.h"
#include "support/ScopedHandle.h"

namespace {

constexpr REGSAM kFullAccess = KEY_ALL_ACCESS;  // 0xF003F

std::wstring AnsiWide(const std::string& text) { return ToWide(text, CodePage::Ansi); }

}  // namespace

std::string GetModulePath() {
  char path[MAX_PATH + 1] = {};
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (length == 0) return std::string();
  // A path cut to the buffer comes back with the buffer's full length and
  // its terminating zero counted in; the text ends at the first zero.
  return std::string(path, strnlen(path, length < MAX_PATH ? length : MAX_PATH));
}

std::string GetFileVersion(const std::string& path) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
  if (size == 0) return std::string();
  std::vector<char> block(size + 1, '\0');
  if (!GetFileVersionInfoA(path.c_str(), 0, size, block.data())) return std::string();

  void* translation = nullptr;
  UINT translationLength = 0;
  if (!VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", &translation, &translationLength) ||
      translationLength < sizeof(DWORD))
    return std::string();
  const DWORD entry = *static_cast<const DWORD*>(translation);
  char query[64];
  wsprintfA(query, "\\StringFileInfo\\%04X%04X\\FileVersion", LOWORD(entry), HIWORD(entry));

  void* value = nullptr;
  UINT valueLength = 0;
  if (!VerQueryValueA(block.data(), query, &value, &valueLength) || value == nullptr) return std::string();
  // Copied through a 256-byte buffer: a longer string is cut to 255 characters.
  char copy[256] = {};
  lstrcpynA(copy, static_cast<const char*>(value), sizeof copy);
  return copy;
}

std::string GetOwnFileVersion() { return GetFileVersion(GetModulePath()); }

bool RegWriteString(HKEY root, const std::string& key, const std::string& name, const std::string& text) {
  switch (RegWriteText(root, AnsiWide(key), AnsiWide(name), AnsiWide(text), kFullAccess)) {
    case RegWriteResult::NoKey:
      return false;
    case RegWriteResult::Refused:
      throw ERegistryException("Failed to set data for '" + name + "'");
    case RegWriteResult::Written:
      break;
  }
  return true;
}

std::string RegReadString(HKEY root, const std::string& key, const std::string& name) {
  const std::optional<std::wstring> text = RegReadText(root, AnsiWide(key), AnsiWide(name), kFullAccess);
  return text ? FromWide(*text, CodePage::Ansi) : std::string();
}

bool RegRemoveValue(HKEY root, const std::string& key, const std::string& name) {
  return RegDeleteValueIn(root, AnsiWide(key), AnsiWide(name), kFullAccess);
}

int ShowMessageBox(HWND owner, const std::string& text, const std::string& caption, unsigned flags) {
  return MessageBoxW(owner, WidenCp936(text).c_str(), WidenCp936(caption).c_str(), flags);
}

void ShowErrorBox(HWND owner, const std::string& text, const std::string& caption) {
  ShowMessageBox(owner, text, caption, MB_ICONERROR | MB_OK);
}
