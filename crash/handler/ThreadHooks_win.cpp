// Threads started through the platform's thread-creation functions: the
// program's own import table is redirected to wrappers that run the thread
// procedure inside a guard, so that an exception escaping it is reported and
// can continue (the thread ends, the process goes on).
#include <cstring>
#include <new>

#include "crash/handler/CrashReporter.h"
#include "crash/handler/HandlerInternal.h"
#include "toolkit/Guard.h"

namespace {

using CreateThreadFn = decltype(&::CreateThread);
using CreateRemoteThreadFn = decltype(&::CreateRemoteThread);
using CreateRemoteThreadExFn = decltype(&::CreateRemoteThreadEx);
using QueueUserWorkItemFn = decltype(&::QueueUserWorkItem);

CreateThreadFn g_createThread = &::CreateThread;
CreateRemoteThreadFn g_createRemoteThread = &::CreateRemoteThread;
CreateRemoteThreadExFn g_createRemoteThreadEx = &::CreateRemoteThreadEx;
QueueUserWorkItemFn g_queueUserWorkItem = &::QueueUserWorkItem;

struct ThreadStart {
  LPTHREAD_START_ROUTINE proc;
  void* param;
};

DWORD WINAPI GuardedThreadStart(void* param) {
  const ThreadStart start = *static_cast<ThreadStart*>(param);
  delete static_cast<ThreadStart*>(param);
  GuaranteeOverflowStack();
  std::exception_ptr error;
  DWORD result = 0;
  {
    FaultGuardScope guard;
    try {
      result = start.proc(start.param);
    } catch (...) {
      error = std::current_exception();
    }
  }
  if (error) {
    ReportException(error, Interception::ThreadProc, true);
    result = 1;
  }
  return result;
}

ThreadStart* Wrap(LPTHREAD_START_ROUTINE proc, void* param) {
  return proc ? new (std::nothrow) ThreadStart{proc, param} : nullptr;
}

HANDLE WINAPI HookedCreateThread(LPSECURITY_ATTRIBUTES security, SIZE_T stack, LPTHREAD_START_ROUTINE proc,
                                 LPVOID param, DWORD flags, LPDWORD id) {
  ThreadStart* start = Wrap(proc, param);
  if (!start) return g_createThread(security, stack, proc, param, flags, id);
  HANDLE thread = g_createThread(security, stack, &GuardedThreadStart, start, flags, id);
  if (!thread) delete start;
  return thread;
}

bool IsOwnProcess(HANDLE process) {
  return process == GetCurrentProcess() || GetProcessId(process) == GetCurrentProcessId();
}

HANDLE WINAPI HookedCreateRemoteThread(HANDLE process, LPSECURITY_ATTRIBUTES security, SIZE_T stack,
                                       LPTHREAD_START_ROUTINE proc, LPVOID param, DWORD flags, LPDWORD id) {
  // A procedure in another process is not ours to wrap.
  ThreadStart* start = IsOwnProcess(process) ? Wrap(proc, param) : nullptr;
  if (!start) return g_createRemoteThread(process, security, stack, proc, param, flags, id);
  HANDLE thread = g_createRemoteThread(process, security, stack, &GuardedThreadStart, start, flags, id);
  if (!thread) delete start;
  return thread;
}

HANDLE WINAPI HookedCreateRemoteThreadEx(HANDLE process, LPSECURITY_ATTRIBUTES security, SIZE_T stack,
                                         LPTHREAD_START_ROUTINE proc, LPVOID param, DWORD flags,
                                         LPPROC_THREAD_ATTRIBUTE_LIST attributes, LPDWORD id) {
  ThreadStart* start = IsOwnProcess(process) ? Wrap(proc, param) : nullptr;
  if (!start) return g_createRemoteThreadEx(process, security, stack, proc, param, flags, attributes, id);
  HANDLE thread =
      g_createRemoteThreadEx(process, security, stack, &GuardedThreadStart, start, flags, attributes, id);
  if (!thread) delete start;
  return thread;
}

BOOL WINAPI HookedQueueUserWorkItem(LPTHREAD_START_ROUTINE proc, PVOID param, ULONG flags) {
  ThreadStart* start = Wrap(proc, param);
  if (!start) return g_queueUserWorkItem(proc, param, flags);
  const BOOL queued = g_queueUserWorkItem(&GuardedThreadStart, start, flags);
  if (!queued) delete start;
  return queued;
}

struct Hook {
  const char* name;
  void* replacement;
  void** original;
};

void PatchSlot(void** slot, void* value) {
  DWORD old = 0;
  if (!VirtualProtect(slot, sizeof(void*), PAGE_READWRITE, &old)) return;
  *slot = value;
  VirtualProtect(slot, sizeof(void*), old, &old);
}

bool IsKernelDll(const char* name) {
  return lstrcmpiA(name, "kernel32.dll") == 0 || lstrcmpiA(name, "kernelbase.dll") == 0 ||
         _strnicmp(name, "api-ms-win-core-processthreads", 30) == 0 ||
         _strnicmp(name, "api-ms-win-core-threadpool", 26) == 0;
}

}  // namespace

void InstallThreadHooks() {
  Hook hooks[] = {
      {"CreateThread", reinterpret_cast<void*>(&HookedCreateThread), reinterpret_cast<void**>(&g_createThread)},
      {"CreateRemoteThread", reinterpret_cast<void*>(&HookedCreateRemoteThread),
       reinterpret_cast<void**>(&g_createRemoteThread)},
      {"CreateRemoteThreadEx", reinterpret_cast<void*>(&HookedCreateRemoteThreadEx),
       reinterpret_cast<void**>(&g_createRemoteThreadEx)},
      {"QueueUserWorkItem", reinterpret_cast<void*>(&HookedQueueUserWorkItem),
       reinterpret_cast<void**>(&g_queueUserWorkItem)},
  };
  auto* base = reinterpret_cast<unsigned char*>(GetModuleHandleA(nullptr));
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (!dir.VirtualAddress) return;
  for (auto* import = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); import->Name;
       ++import) {
    if (!IsKernelDll(reinterpret_cast<const char*>(base + import->Name))) continue;
    if (!import->OriginalFirstThunk) continue;  // no name table: nothing to match by
    auto* names = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + import->OriginalFirstThunk);
    auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + import->FirstThunk);
    for (; names->u1.AddressOfData; ++names, ++slots) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      const auto* byName = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
      for (Hook& hook : hooks) {
        if (std::strcmp(reinterpret_cast<const char*>(byName->Name), hook.name) != 0) continue;
        void** slot = reinterpret_cast<void**>(&slots->u1.Function);
        *hook.original = *slot;  // what the loader bound, forwarders resolved
        PatchSlot(slot, hook.replacement);
      }
    }
  }
}
