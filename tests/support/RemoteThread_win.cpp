#include "RemoteThread_win.h"

#include <cstring>

#include "WineTestSupport_win.h"
#include "support/ScopedHandle.h"

namespace testing_support {

namespace {

std::wstring FileNameOf(const std::string& path) {
  const char* slash = std::strrchr(path.c_str(), '\\');
  return FromUtf8(slash ? slash + 1 : path.c_str());
}

}  // namespace

ULONG_PTR RemoteModuleBase(DWORD pid, const std::wstring& name) {
  const ScopedFile snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, pid));
  if (!snapshot) return 0;
  MODULEENTRY32W entry = {};
  entry.dwSize = sizeof entry;
  for (BOOL more = Module32FirstW(snapshot.Get(), &entry); more; more = Module32NextW(snapshot.Get(), &entry))
    if (_wcsicmp(entry.szModule, name.c_str()) == 0) return reinterpret_cast<ULONG_PTR>(entry.modBaseAddr);
  return 0;
}

long RunRemoteThread(HANDLE process, ULONG_PTR start, void* argument) {
  const ScopedKernelHandle thread(CreateRemoteThread(
      process, nullptr, 0, reinterpret_cast<LPTHREAD_START_ROUTINE>(start), argument, 0, nullptr));
  if (!thread) return -1;
  if (WaitForSingleObject(thread.Get(), static_cast<DWORD>(Scaled(30000))) != WAIT_OBJECT_0) return -1;
  DWORD code = 0;
  GetExitCodeThread(thread.Get(), &code);
  return static_cast<long>(code);
}

ULONG_PTR RemoteExport(DWORD pid, const std::string& file, const char* name) {
  const ScopedModule local(LoadLibraryA(file.c_str()));
  if (!local) return 0;
  const auto here = reinterpret_cast<ULONG_PTR>(GetProcAddress(local.Get(), name));
  char path[MAX_PATH] = {};
  GetModuleFileNameA(local.Get(), path, MAX_PATH);
  const ULONG_PTR there = RemoteModuleBase(pid, FileNameOf(path));
  if (!here || !there) return 0;
  return there + (here - reinterpret_cast<ULONG_PTR>(local.Get()));
}

bool LoadIntoProcess(HANDLE process, DWORD pid, const std::string& dll) {
  const ULONG_PTR loadLibrary = RemoteExport(pid, "kernel32.dll", "LoadLibraryW");
  if (!loadLibrary) return false;
  const std::wstring path = FromUtf8(dll);
  const SIZE_T bytes = (path.size() + 1) * sizeof(wchar_t);
  void* remote = VirtualAllocEx(process, nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  if (!remote) return false;
  const bool written = WriteProcessMemory(process, remote, path.c_str(), bytes, nullptr) != FALSE;
  // The thread's exit code holds only the low half of a 64-bit module handle:
  // the module list says whether it loaded.
  if (written) RunRemoteThread(process, loadLibrary, remote);
  VirtualFreeEx(process, remote, 0, MEM_RELEASE);
  return written && RemoteModuleBase(pid, FileNameOf(dll)) != 0;
}

long CloseAgentLinkSocket(HANDLE process, DWORD pid, std::uint16_t port) {
  const std::string closer = PathFromEnv("QEX_LINK_SOCKET_CLOSER_DLL");
  if (closer.empty() || !LoadIntoProcess(process, pid, closer)) return -1;
  const ULONG_PTR entry = RemoteExport(pid, closer, "CloseLinkSocket");
  if (!entry) return -1;
  return RunRemoteThread(process, entry, reinterpret_cast<void*>(static_cast<ULONG_PTR>(port)));
}

}  // namespace testing_support
