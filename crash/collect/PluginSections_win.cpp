// The "modules", "processes" and "hardware" sections.
#include <algorithm>

#include "crash/collect/CollectFormat.h"
#include "crash/collect/CollectInternal.h"

namespace {

constexpr int kPointerDigits = sizeof(void*) * 2;

std::string FixedFileVersion(const std::wstring& path) {
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &ignored);
  if (size == 0 || size > (1u << 20)) return std::string();
  std::vector<unsigned char> data(size);
  if (!::GetFileVersionInfoW(path.c_str(), 0, size, data.data())) return std::string();
  VS_FIXEDFILEINFO* info = nullptr;
  UINT length = 0;
  if (!::VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&info), &length) || !info ||
      length < sizeof *info)
    return std::string();
  return std::to_string(HIWORD(info->dwFileVersionMS)) + "." + std::to_string(LOWORD(info->dwFileVersionMS)) + "." +
         std::to_string(HIWORD(info->dwFileVersionLS)) + "." + std::to_string(LOWORD(info->dwFileVersionLS));
}

}  // namespace

std::string ModulesSection() {
  HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return std::string();
  ScopedFile owner(snapshot);
  struct Module {
    std::uintptr_t base;
    std::uint32_t size;
    std::wstring path;
  };
  std::vector<Module> modules;
  MODULEENTRY32W entry = {};
  entry.dwSize = sizeof entry;
  for (BOOL more = ::Module32FirstW(snapshot, &entry); more; more = ::Module32NextW(snapshot, &entry)) {
    modules.push_back({reinterpret_cast<std::uintptr_t>(entry.modBaseAddr), entry.modBaseSize, entry.szExePath});
    entry.dwSize = sizeof entry;
  }
  std::sort(modules.begin(), modules.end(), [](const Module& a, const Module& b) { return a.base < b.base; });
  std::vector<Row> rows;
  for (const Module& m : modules) {
    std::string version = FixedFileVersion(m.path);
    rows.push_back({HexAddress(m.base, kPointerDigits), HexAddress(m.size, 8), version.empty() ? "-" : version,
                    Utf8FromWide(m.path)});
  }
  return RenderColumns(rows);
}

namespace {

std::string PriorityOf(DWORD pid, LONG basePriority) {
  HANDLE opened = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (opened) {
    ScopedKernelHandle process(opened);
    switch (::GetPriorityClass(opened)) {
      case IDLE_PRIORITY_CLASS: return PriorityClassName(4);
      case BELOW_NORMAL_PRIORITY_CLASS: return PriorityClassName(6);
      case NORMAL_PRIORITY_CLASS: return PriorityClassName(8);
      case ABOVE_NORMAL_PRIORITY_CLASS: return PriorityClassName(10);
      case HIGH_PRIORITY_CLASS: return PriorityClassName(13);
      case REALTIME_PRIORITY_CLASS: return PriorityClassName(24);
      default: break;
    }
  }
  return PriorityClassName(static_cast<int>(basePriority));
}

std::wstring ProcessPath(DWORD pid, const wchar_t* exeFile) {
  HANDLE opened = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (opened) {
    ScopedKernelHandle process(opened);
    wchar_t path[MAX_PATH * 2];
    DWORD size = MAX_PATH * 2;
    if (::QueryFullProcessImageNameW(opened, 0, path, &size) && size > 0) return std::wstring(path, size);
  }
  return exeFile;
}

}  // namespace

std::string ProcessesSection() {
  HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return std::string();
  ScopedFile owner(snapshot);
  std::vector<Row> rows;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof entry;
  for (BOOL more = ::Process32FirstW(snapshot, &entry); more; more = ::Process32NextW(snapshot, &entry)) {
    rows.push_back({FormatHexId(entry.th32ProcessID), PriorityOf(entry.th32ProcessID, entry.pcPriClassBase),
                    Utf8FromWide(ProcessPath(entry.th32ProcessID, entry.szExeFile))});
    entry.dwSize = sizeof entry;
  }
  return RenderColumns(rows);
}

namespace {

// The device-setup functions, bound at run time from the system folder: the
// agent's own HID layer binds the same library that way, and a process
// without it must still get its report.
struct SetupApiFunctions {
  decltype(&::SetupDiGetClassDevsW) getClassDevs = nullptr;
  decltype(&::SetupDiEnumDeviceInfo) enumDeviceInfo = nullptr;
  decltype(&::SetupDiGetDeviceRegistryPropertyW) getProperty = nullptr;
  decltype(&::SetupDiDestroyDeviceInfoList) destroyList = nullptr;
};

template <class F>
bool Bind(HMODULE library, const char* name, F& slot) {
  slot = reinterpret_cast<F>(::GetProcAddress(library, name));
  return slot != nullptr;
}

std::string DeviceProperty(const SetupApiFunctions& api, HDEVINFO list, SP_DEVINFO_DATA& device, DWORD property) {
  wchar_t buffer[512];
  DWORD type = 0, size = 0;
  if (!api.getProperty(list, &device, property, &type, reinterpret_cast<BYTE*>(buffer), sizeof buffer - sizeof(wchar_t),
                       &size) ||
      type != REG_SZ)
    return std::string();
  buffer[std::min<std::size_t>(size / sizeof(wchar_t), 511)] = L'\0';
  return Utf8FromWide(buffer, wcslen(buffer));
}

}  // namespace

std::string HardwareSection() {
  HMODULE library = ::LoadLibraryExW(L"setupapi.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (!library) return std::string();
  ScopedModule owner(library);
  SetupApiFunctions api;
  if (!Bind(library, "SetupDiGetClassDevsW", api.getClassDevs) ||
      !Bind(library, "SetupDiEnumDeviceInfo", api.enumDeviceInfo) ||
      !Bind(library, "SetupDiGetDeviceRegistryPropertyW", api.getProperty) ||
      !Bind(library, "SetupDiDestroyDeviceInfoList", api.destroyList))
    return std::string();
  HDEVINFO list = api.getClassDevs(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES | DIGCF_PRESENT);
  if (list == INVALID_HANDLE_VALUE) return std::string();
  std::vector<Row> rows;
  SP_DEVINFO_DATA device = {};
  device.cbSize = sizeof device;
  for (DWORD i = 0; i < 4096 && api.enumDeviceInfo(list, i, &device); ++i) {
    std::string className = DeviceProperty(api, list, device, SPDRP_CLASS);
    std::string description = DeviceProperty(api, list, device, SPDRP_FRIENDLYNAME);
    if (description.empty()) description = DeviceProperty(api, list, device, SPDRP_DEVICEDESC);
    const std::string driver = DeviceProperty(api, list, device, SPDRP_DRIVER);
    std::string provider, version, date;
    if (!driver.empty()) {
      const std::wstring key = L"System\\CurrentControlSet\\Control\\Class\\" + WideFromUtf8(driver);
      provider = RegistryText(HKEY_LOCAL_MACHINE, key.c_str(), L"ProviderName");
      version = RegistryText(HKEY_LOCAL_MACHINE, key.c_str(), L"DriverVersion");
      date = RegistryText(HKEY_LOCAL_MACHINE, key.c_str(), L"DriverDate");
    }
    if (className.empty() && description.empty()) continue;
    rows.push_back({className.empty() ? "-" : className, description.empty() ? "-" : description,
                    provider.empty() ? "-" : provider, version.empty() ? "-" : version, date.empty() ? "-" : date});
    device.cbSize = sizeof device;
  }
  api.destroyList(list);
  std::stable_sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) { return a[0] < b[0]; });
  if (rows.empty()) return "no devices listed";
  rows.insert(rows.begin(), Row{"class", "description", "driver provider", "version", "date"});
  return RenderColumns(rows);
}
