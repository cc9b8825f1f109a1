// Platform texts and small queries shared by the collect files.
#include "crash/collect/CollectInternal.h"
#include "support/Registry.h"

std::wstring ModulePathW(HMODULE module) {
  // Long paths: grow until the name fits.
  std::wstring path(MAX_PATH, L'\0');
  while (true) {
    const DWORD n = ::GetModuleFileNameW(module, &path[0], static_cast<DWORD>(path.size()));
    if (n == 0) return std::wstring();
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    if (path.size() >= 32768) return std::wstring();
    path.resize(path.size() * 2);
  }
}

std::wstring ExecutablePathW() { return ModulePathW(nullptr); }

std::string FileNameOf(const std::string& path) {
  const std::size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

HMODULE ModuleOf(const void* address) {
  HMODULE module = nullptr;
  if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<LPCWSTR>(address), &module))
    return nullptr;
  return module;
}

std::string RegistryText(HKEY root, const wchar_t* key, const wchar_t* name) {
  const std::optional<std::wstring> value = RegReadText(root, key, name ? name : L"");
  return value ? Utf8FromWide(*value) : std::string();
}

char LocaleDecimalSeparator() {
  wchar_t buffer[8] = {};
  if (::GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, buffer, 8) == 2 && buffer[0] > 0 && buffer[0] < 0x80)
    return static_cast<char>(buffer[0]);
  return '.';
}

LocalTime CurrentLocalTime() {
  SYSTEMTIME st;
  ::GetLocalTime(&st);
  LocalTime t;
  t.year = st.wYear;
  t.month = st.wMonth;
  t.day = st.wDay;
  t.hour = st.wHour;
  t.minute = st.wMinute;
  t.second = st.wSecond;
  t.millisecond = st.wMilliseconds;
  return t;
}
