#include "support/Utils.h"

#include <cstring>
#include <vector>

#include "support/Exceptions.h"
#include "support/ScopedHandle.h"

namespace {

constexpr UINT kChineseCodePage = 936;
constexpr REGSAM kFullAccess = KEY_ALL_ACCESS;  // 0xF003F

std::string KeyPathFromRoot(const std::string& key) {
  return (!key.empty() && key[0] == '\\') ? key.substr(1) : key;
}

ScopedRegKey OpenKey(HKEY root, const std::string& key, bool create) {
  HKEY handle = nullptr;
  const std::string path = KeyPathFromRoot(key);
  LONG status;
  if (create) {
    status = RegCreateKeyExA(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, kFullAccess,
                             nullptr, &handle, nullptr);
  } else {
    status = RegOpenKeyExA(root, path.c_str(), 0, kFullAccess, &handle);
  }
  return ScopedRegKey(status == ERROR_SUCCESS ? handle : nullptr);
}

std::string ReadStringValue(HKEY key, const std::string& name) {
  DWORD type = 0, size = 0;
  LONG status = RegQueryValueExA(key, name.c_str(), nullptr, &type, nullptr, &size);
  if (status == ERROR_FILE_NOT_FOUND || (status == ERROR_SUCCESS && size == 0)) return std::string();
  if (status != ERROR_SUCCESS) throw ERegistryException("Failed to get data for '" + name + "'");
  if (type != REG_SZ && type != REG_EXPAND_SZ)
    throw ERegistryException("Invalid data type for '" + name + "'");
  std::vector<char> data(size + 1, '\0');
  status = RegQueryValueExA(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size);
  if (status != ERROR_SUCCESS) throw ERegistryException("Failed to get data for '" + name + "'");
  return std::string(data.data());  // up to the first zero byte
}

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
  ScopedRegKey handle = OpenKey(root, key, true);
  if (!handle) return false;
  const LONG status = RegSetValueExA(handle.Get(), name.c_str(), 0, REG_SZ,
                                     reinterpret_cast<const BYTE*>(text.c_str()),
                                     static_cast<DWORD>(text.size() + 1));
  if (status != ERROR_SUCCESS) throw ERegistryException("Failed to set data for '" + name + "'");
  return true;
}

std::string RegReadString(HKEY root, const std::string& key, const std::string& name) {
  ScopedRegKey handle = OpenKey(root, key, false);
  if (!handle) return std::string();
  try {
    return ReadStringValue(handle.Get(), name);
  } catch (const Exception&) {
    return std::string();  // callers rely on getting no exception
  }
}

bool RegRemoveValue(HKEY root, const std::string& key, const std::string& name) {
  ScopedRegKey handle = OpenKey(root, key, true);
  if (!handle) return false;
  RegDeleteValueA(handle.Get(), name.c_str());  // a missing value is no failure
  return true;
}

std::wstring WidenCp936(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int length = MultiByteToWideChar(kChineseCodePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(kChineseCodePage, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
  return wide;
}

std::string NarrowCp936(const std::wstring& text) {
  if (text.empty()) return std::string();
  const int length = WideCharToMultiByte(kChineseCodePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
  std::string narrow(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(kChineseCodePage, 0, text.data(), static_cast<int>(text.size()), &narrow[0], length, nullptr,
                      nullptr);
  return narrow;
}

int ShowMessageBox(HWND owner, const std::string& text, const std::string& caption, unsigned flags) {
  return MessageBoxW(owner, WidenCp936(text).c_str(), WidenCp936(caption).c_str(), flags);
}

void ShowErrorBox(HWND owner, const std::string& text, const std::string& caption) {
  ShowMessageBox(owner, text, caption, MB_ICONERROR | MB_OK);
}
