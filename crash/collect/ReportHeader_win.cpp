// The report header: every field from its own query, in order. A query that
// fails leaves its field out and never stops the others.
#include <algorithm>
#include <functional>

#include "crash/collect/CollectFormat.h"
#include "crash/collect/CollectInternal.h"
#include "crash/report/HeaderFields.h"
#include "support/Utils.h"

namespace {

using namespace header_field;

// Runs one field's query; anything it throws just leaves the field out.
void Guarded(Fields& fields, const char* name, const std::function<std::string()>& query) {
  try {
    fields.emplace_back(name, query());
  } catch (...) {
    fields.emplace_back(name, std::string());
  }
}

LocalTime FromSystemTime(const SYSTEMTIME& st) {
  LocalTime t;
  t.year = st.wYear, t.month = st.wMonth, t.day = st.wDay;
  t.hour = st.wHour, t.minute = st.wMinute, t.second = st.wSecond, t.millisecond = st.wMilliseconds;
  return t;
}

std::uint64_t FileTimeValue(const FILETIME& ft) {
  return (static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

std::string ComputerName() {
  wchar_t buffer[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
  if (!::GetComputerNameW(buffer, &size)) return std::string();
  return Utf8FromWide(buffer, size);
}

std::string WtsClientName() {
  if (!::GetSystemMetrics(SM_REMOTESESSION)) return std::string();
  // Bound at run time: only remote sessions need the library.
  HMODULE library = ::LoadLibraryExW(L"wtsapi32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (!library) return std::string();
  ScopedModule owner(library);
  auto query = reinterpret_cast<decltype(&::WTSQuerySessionInformationW)>(
      ::GetProcAddress(library, "WTSQuerySessionInformationW"));
  auto release = reinterpret_cast<decltype(&::WTSFreeMemory)>(::GetProcAddress(library, "WTSFreeMemory"));
  if (!query || !release) return std::string();
  LPWSTR name = nullptr;
  DWORD bytes = 0;
  if (!query(WTS_CURRENT_SERVER_HANDLE, WTS_CURRENT_SESSION, WTSClientName, &name, &bytes) || !name)
    return std::string();
  std::string text = Utf8FromWide(name, wcslen(name));
  release(name);
  return text;
}

bool IsAdministrator() {
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  PSID admins = nullptr;
  if (!::AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                  &admins))
    return false;
  BOOL member = FALSE;
  if (!::CheckTokenMembership(nullptr, admins, &member)) member = FALSE;
  ::FreeSid(admins);
  return member != FALSE;
}

std::string UserName() {
  wchar_t buffer[257];
  DWORD size = 257;
  if (!::GetUserNameW(buffer, &size) || size == 0) return std::string();
  return FormatUserName(Utf8FromWide(buffer, size - 1), IsAdministrator());
}

const wchar_t kCurrentVersionKey[] = L"Software\\Microsoft\\Windows NT\\CurrentVersion";

std::string RegisteredOwner() {
  const std::string owner = RegistryText(HKEY_LOCAL_MACHINE, kCurrentVersionKey, L"RegisteredOwner");
  if (owner.empty()) return std::string();
  return FormatRegisteredOwner(owner, RegistryText(HKEY_LOCAL_MACHINE, kCurrentVersionKey, L"RegisteredOrganization"));
}

}  // namespace

std::string OperatingSystemText() {
  // GetVersionEx reports what the manifest claims; the kernel's own call
  // reports the real version.
  using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
  auto getVersion = reinterpret_cast<RtlGetVersionFn>(
      ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion"));
  OSVERSIONINFOEXW v = {};
  v.dwOSVersionInfoSize = sizeof v;
  if (!getVersion || getVersion(reinterpret_cast<OSVERSIONINFOW*>(&v)) != 0) return std::string();
  std::string name = RegistryText(HKEY_LOCAL_MACHINE, kCurrentVersionKey, L"ProductName");
  if (name.empty()) name = "Windows";
  name += " " + std::to_string(v.dwMajorVersion) + "." + std::to_string(v.dwMinorVersion);
  const std::string servicePack = Utf8FromWide(v.szCSDVersion, wcsnlen(v.szCSDVersion, 128));
  if (!servicePack.empty()) name += " " + servicePack;
  return FormatOperatingSystem(name, v.dwBuildNumber);
}

namespace {

std::string SystemLanguage() {
  wchar_t buffer[128];
  const int n = ::GetLocaleInfoW(::GetSystemDefaultLCID(), LOCALE_SENGLANGUAGE, buffer, 128);
  return n > 1 ? Utf8FromWide(buffer, static_cast<std::size_t>(n - 1)) : std::string();
}

std::string SystemUpTime() {
  LARGE_INTEGER counter, frequency;
  if (!::QueryPerformanceCounter(&counter) || !::QueryPerformanceFrequency(&frequency) || frequency.QuadPart <= 0)
    return std::string();
  return FormatDuration(static_cast<std::uint64_t>(counter.QuadPart / frequency.QuadPart));
}

std::string ProgramUpTime() {
  FILETIME created, exited, kernel, user, now;
  if (!::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user)) return std::string();
  ::GetSystemTimeAsFileTime(&now);
  const std::uint64_t start = FileTimeValue(created), end = FileTimeValue(now);
  return FormatProgramUpTime(end > start ? (end - start) / 10000 : 0);
}

std::pair<std::string, std::string> Processor() {
  std::vector<std::string> names;
  for (int i = 0; i < 16; ++i) {
    const std::wstring key = L"Hardware\\Description\\System\\CentralProcessor\\" + std::to_wstring(i);
    std::string name = RegistryText(HKEY_LOCAL_MACHINE, key.c_str(), L"ProcessorNameString");
    if (name.empty()) break;
    names.push_back(std::move(name));
  }
  return ProcessorField(names);
}

std::string PhysicalMemory() {
  MEMORYSTATUSEX status = {};
  status.dwLength = sizeof status;
  if (!::GlobalMemoryStatusEx(&status)) return std::string();
  return FormatPhysicalMemory(status.ullAvailPhys, status.ullTotalPhys);
}

// "C:\" or "\\server\share\" of a path.
std::wstring RootOf(const std::wstring& path) {
  if (path.size() >= 3 && path[1] == L':') return path.substr(0, 2) + L"\\";
  if (path.compare(0, 2, L"\\\\") == 0) {
    std::size_t server = path.find(L'\\', 2);
    if (server == std::wstring::npos) return std::wstring();
    std::size_t share = path.find(L'\\', server + 1);
    return (share == std::wstring::npos ? path : path.substr(0, share)) + L"\\";
  }
  return std::wstring();
}

bool FreeBytes(const std::wstring& root, std::uint64_t* bytes) {
  ULARGE_INTEGER available, total, free;
  if (root.empty() || !::GetDiskFreeSpaceExW(root.c_str(), &available, &total, &free)) return false;
  *bytes = free.QuadPart;
  return true;
}

std::string FreeDiskSpace() {
  wchar_t system[MAX_PATH];
  const UINT n = ::GetSystemDirectoryW(system, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return std::string();
  const std::wstring systemRoot = RootOf(system);
  const std::wstring exeRoot = RootOf(ExecutablePathW());
  std::uint64_t systemFree = 0, exeFree = 0;
  if (!FreeBytes(systemRoot, &systemFree)) return std::string();
  const bool other = !exeRoot.empty() && ::lstrcmpiW(systemRoot.c_str(), exeRoot.c_str()) != 0 &&
                     FreeBytes(exeRoot, &exeFree);
  return FormatFreeDiskSpace(systemFree, other, exeFree, LocaleDecimalSeparator());
}

std::string DisplayMode() {
  const ScopedWindowDc screen(nullptr);
  if (!screen) return std::string();
  const int width = ::GetDeviceCaps(screen.Get(), HORZRES), height = ::GetDeviceCaps(screen.Get(), VERTRES);
  const int bits = ::GetDeviceCaps(screen.Get(), BITSPIXEL) * ::GetDeviceCaps(screen.Get(), PLANES);
  if (width <= 0 || height <= 0) return std::string();
  return FormatDisplayMode(width, height, bits);
}

// One pass over the address space: committed memory outside loaded images,
// and the largest free range.
struct MemoryMap {
  std::uint64_t allocated = 0;
  std::uint64_t largestFree = 0;
  bool ok = false;
};

MemoryMap ScanAddressSpace() {
  MemoryMap map;
  SYSTEM_INFO si;
  ::GetSystemInfo(&si);
  auto at = reinterpret_cast<std::uintptr_t>(si.lpMinimumApplicationAddress);
  const auto end = reinterpret_cast<std::uintptr_t>(si.lpMaximumApplicationAddress);
  MEMORY_BASIC_INFORMATION mbi;
  while (at < end && ::VirtualQuery(reinterpret_cast<void*>(at), &mbi, sizeof mbi) == sizeof mbi) {
    if (mbi.State == MEM_COMMIT && mbi.Type != MEM_IMAGE) map.allocated += mbi.RegionSize;
    if (mbi.State == MEM_FREE) map.largestFree = std::max<std::uint64_t>(map.largestFree, mbi.RegionSize);
    const std::uintptr_t next = reinterpret_cast<std::uintptr_t>(mbi.BaseAddress) + mbi.RegionSize;
    if (next <= at) break;
    at = next;
    map.ok = true;
  }
  return map;
}

std::string CommandLine() {
  const wchar_t* line = ::GetCommandLineW();
  if (!line) return std::string();
  const std::wstring text(line);
  return CommandLineHasArguments(text) ? Utf8FromWide(text) : std::string();
}

std::string FileDateTime(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return std::string();
  FILETIME local;
  SYSTEMTIME st;
  if (!::FileTimeToLocalFileTime(&data.ftLastWriteTime, &local) || !::FileTimeToSystemTime(&local, &st))
    return std::string();
  return FormatFileDateTime(FromSystemTime(st));
}

}  // namespace

void BuildReportHeader(BugReport& report, const ExceptionInfo& info, const ReportSettings& settings) {
  Fields fields;
  const std::wstring exePath = ExecutablePathW();
  HMODULE ownModule = ModuleOf(reinterpret_cast<const void*>(&BuildReportHeader));
  const bool otherModule = ownModule && ownModule != ::GetModuleHandleW(nullptr);
  const std::wstring describedPath = otherModule ? ModulePathW(ownModule) : exePath;

  Guarded(fields, kDateTime, [&] { return FormatReportDateTime(info.time); });
  Guarded(fields, kComputerName, ComputerName);
  Guarded(fields, kWtsClientName, WtsClientName);
  Guarded(fields, kUserName, UserName);
  Guarded(fields, kRegisteredOwner, RegisteredOwner);
  Guarded(fields, kOperatingSystem, OperatingSystemText);
  Guarded(fields, kSystemLanguage, SystemLanguage);
  Guarded(fields, kSystemUpTime, SystemUpTime);
  Guarded(fields, kProgramUpTime, ProgramUpTime);
  try {
    fields.push_back(Processor());
  } catch (...) {
  }
  Guarded(fields, kPhysicalMemory, PhysicalMemory);
  Guarded(fields, kFreeDiskSpace, FreeDiskSpace);
  Guarded(fields, kDisplayMode, DisplayMode);
  Guarded(fields, kProcessId, [] { return FormatHexId(::GetCurrentProcessId()); });
  MemoryMap memory;
  try {
    memory = ScanAddressSpace();
  } catch (...) {
  }
  const char decimal = LocaleDecimalSeparator();
  Guarded(fields, kAllocatedMemory, [&] { return memory.ok ? FormatSize(memory.allocated, decimal) : std::string(); });
  Guarded(fields, kLargestFreeBlock,
          [&] { return memory.ok ? FormatSize(memory.largestFree, decimal) : std::string(); });
  Guarded(fields, kCommandLine, CommandLine);
  Guarded(fields, kExecutable, [&] { return FileNameOf(Utf8FromWide(exePath)); });
  Guarded(fields, kCurrentModule, [&] { return otherModule ? FileNameOf(Utf8FromWide(describedPath)) : std::string(); });
  Guarded(fields, otherModule ? kModuleDateTime : kExecDateTime, [&] { return FileDateTime(describedPath); });
  Guarded(fields, kVersion, [] { return Utf8FromAnsi(GetOwnFileVersion()); });
  Guarded(fields, kCompiledWith, ToolChainName);
  Guarded(fields, kExwatchVersion, [] { return std::string(kExwatchVersionText); });
  Guarded(fields, kCallstackCrc, [] { return std::string(kCallstackCrcPending); });
  Guarded(fields, kExceptionNumber, [&] { return std::to_string(info.number); });
  Guarded(fields, kExceptionClass, [&] { return info.isFreeze ? std::string() : info.exceptionClass; });
  Guarded(fields, kExceptionMessage, [&] {
    return info.isFreeze ? settings.Text("FrozenMsg") : ExceptionMessageField(info.exceptionClass, info.exceptionMessage);
  });

  FieldList& header = report.Header();
  for (const Field& field : fields) header.Set(field.first, field.second);
  // Fields added later (the send assistant's) stand directly ahead of
  // "callstack crc", whichever fields were left out.
  header.SetInsertionIndexBefore(kCallstackCrc);
}
