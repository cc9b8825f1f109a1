// Restart: the new instance is created suspended, gets an 88-byte named block
// with the old process id, the block's handle duplicated into it (which keeps
// the block alive after the old process is gone) and the exception-time
// history, and is resumed; the old one ends at once with exit code 2.
#include <cstring>
#include <string>
#include <vector>

#include "crash/handler/HandlerInternal.h"
#include "support/ScopedHandle.h"

namespace {

constexpr char kBlockPrefix[] = "QEXCrashRestart.";

struct RestartBlock {
  DWORD oldProcessId;
  DWORD blockHandle;  // in the new process; handles fit in 32 bits on both builds
  unsigned char history[ExceptionTimeHistory::kByteSize];
};
static_assert(sizeof(RestartBlock) == 88, "the restart block is 88 bytes");

std::string BlockName(DWORD processId) { return kBlockPrefix + std::to_string(processId); }

}  // namespace

void RestartProcess(const ExceptionTimeHistory& history) {
  const char* commandLine = GetCommandLineA();
  std::vector<char> line(commandLine, commandLine + std::strlen(commandLine) + 1);
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr, &startup,
                     &process)) {
    ScopedKernelHandle processHandle(process.hProcess);
    ScopedKernelHandle threadHandle(process.hThread);
    ScopedKernelHandle block(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                                sizeof(RestartBlock), BlockName(process.dwProcessId).c_str()));
    if (block) {
      if (auto* view = static_cast<RestartBlock*>(MapViewOfFile(block.Get(), FILE_MAP_WRITE, 0, 0, 0))) {
        HANDLE duplicate = nullptr;
        DuplicateHandle(GetCurrentProcess(), block.Get(), process.hProcess, &duplicate, 0, FALSE,
                        DUPLICATE_SAME_ACCESS);
        view->oldProcessId = GetCurrentProcessId();
        view->blockHandle = static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(duplicate));
        history.ToBytes(view->history);
        UnmapViewOfFile(view);
      }
    }
    ResumeThread(process.hThread);
  }
  // Also when no new instance could be made.
  TerminateProcess(GetCurrentProcess(), 2);
  ExitProcess(2);
}

bool TakeOverFromOldInstance(ExceptionTimeHistory& history) {
  ScopedKernelHandle block(OpenFileMappingA(FILE_MAP_READ, FALSE, BlockName(GetCurrentProcessId()).c_str()));
  if (!block) return false;
  RestartBlock copy = {};
  if (auto* view = static_cast<const RestartBlock*>(MapViewOfFile(block.Get(), FILE_MAP_READ, 0, 0, 0))) {
    std::memcpy(&copy, view, sizeof copy);
    UnmapViewOfFile(view);
  } else {
    return false;
  }
  if (copy.blockHandle) CloseHandle(reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(copy.blockHandle)));
  ScopedKernelHandle old(OpenProcess(SYNCHRONIZE, FALSE, copy.oldProcessId));
  if (old) WaitForSingleObject(old.Get(), INFINITE);
  history = ExceptionTimeHistory::FromBytes(copy.history);
  return true;
}
