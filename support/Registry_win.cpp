#include "support/Registry.h"

#include <cwchar>

#include "support/ScopedHandle.h"

namespace {

std::wstring RelativePath(const std::wstring& key) {
  return (!key.empty() && key[0] == L'\\') ? key.substr(1) : key;
}

const wchar_t* ValueName(const std::wstring& name) { return name.empty() ? nullptr : name.c_str(); }

ScopedRegKey OpenKey(HKEY root, const std::wstring& key, REGSAM access, bool create) {
  HKEY handle = nullptr;
  const std::wstring path = RelativePath(key);
  const LONG status = create ? RegCreateKeyExW(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, access,
                                               nullptr, &handle, nullptr)
                             : RegOpenKeyExW(root, path.c_str(), 0, access, &handle);
  return ScopedRegKey(status == ERROR_SUCCESS ? handle : nullptr);
}

}  // namespace

std::optional<std::wstring> RegReadText(HKEY root, const std::wstring& key, const std::wstring& name,
                                        REGSAM access) {
  const ScopedRegKey opened = OpenKey(root, key, access, false);
  if (!opened) return std::nullopt;
  // The value may grow between the size query and the read: ask again.
  for (int attempt = 0; attempt < 4; ++attempt) {
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(opened.Get(), ValueName(name), nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
      return std::nullopt;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return std::nullopt;
    // One spare character: a stored text need not end with a zero.
    std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
    DWORD capacity = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    const LONG status =
        RegQueryValueExW(opened.Get(), ValueName(name), nullptr, &type, reinterpret_cast<BYTE*>(&text[0]), &capacity);
    if (status == ERROR_MORE_DATA) continue;
    if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return std::nullopt;
    text.resize(wcsnlen(text.c_str(), capacity / sizeof(wchar_t)));
    return text;
  }
  return std::nullopt;
}

RegWriteResult RegWriteText(HKEY root, const std::wstring& key, const std::wstring& name, const std::wstring& text,
                            REGSAM access) {
  const ScopedRegKey opened = OpenKey(root, key, access, true);
  if (!opened) return RegWriteResult::NoKey;
  const LONG status = RegSetValueExW(opened.Get(), ValueName(name), 0, REG_SZ,
                                     reinterpret_cast<const BYTE*>(text.c_str()),
                                     static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
  return status == ERROR_SUCCESS ? RegWriteResult::Written : RegWriteResult::Refused;
}

bool RegDeleteValueIn(HKEY root, const std::wstring& key, const std::wstring& name, REGSAM access) {
  const ScopedRegKey opened = OpenKey(root, key, access, true);
  if (!opened) return false;
  RegDeleteValueW(opened.Get(), ValueName(name));
  return true;
}
