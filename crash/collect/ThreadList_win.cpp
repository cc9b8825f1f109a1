// The threads of the own process and their names.
#include "crash/collect/CollectInternal.h"

std::vector<std::uint32_t> ProcessThreadIds() {
  std::vector<std::uint32_t> ids;
  HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return ids;
  ScopedFile owner(snapshot);
  THREADENTRY32 entry = {};
  entry.dwSize = sizeof entry;
  const DWORD self = ::GetCurrentProcessId();
  for (BOOL more = ::Thread32First(snapshot, &entry); more; more = ::Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID == self) ids.push_back(entry.th32ThreadID);
    entry.dwSize = sizeof entry;
  }
  return ids;
}

std::uint32_t OldestThreadId(const std::vector<std::uint32_t>& threadIds) {
  std::uint32_t oldest = 0;
  ULONGLONG oldestTime = ~0ull;
  for (std::uint32_t id : threadIds) {
    HANDLE opened = ::OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, id);
    if (!opened) continue;
    ScopedKernelHandle thread(opened);
    FILETIME created, exited, kernel, user;
    if (!::GetThreadTimes(opened, &created, &exited, &kernel, &user)) continue;
    const ULONGLONG time = (static_cast<ULONGLONG>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
    if (time < oldestTime) oldestTime = time, oldest = id;
  }
  return oldest;
}

std::string ThreadName(std::uint32_t threadId) {
  // Thread descriptions came with Windows 10; bound at run time.
  using GetThreadDescriptionFn = HRESULT(WINAPI*)(HANDLE, PWSTR*);
  static const auto getDescription = reinterpret_cast<GetThreadDescriptionFn>(
      ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "GetThreadDescription"));
  if (!getDescription) return std::string();
  HANDLE opened = ::OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, threadId);
  if (!opened) return std::string();
  ScopedKernelHandle thread(opened);
  PWSTR description = nullptr;
  if (FAILED(getDescription(opened, &description)) || !description) return std::string();
  const ScopedLocalMemory owned(description);
  return Utf8FromWide(description, wcslen(description));
}
