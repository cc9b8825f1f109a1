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
  PROCESS_INFORMATION started = {};
  if (CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr, &startup,
                     &started)) {
    const ScopedProcessInformation process(started);
    ScopedKernelHandle block(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                                sizeof(RestartBlock), BlockName(process.processId).c_str()));
    if (block) {
      ScopedMappedView mapped(MapViewOfFile(block.Get(), FILE_MAP_WRITE, 0, 0, 0));
      if (auto* view = static_cast<RestartBlock*>(const_cast<void*>(mapped.Get()))) {
        HANDLE duplicate = nullptr;
        DuplicateHandle(GetCurrentProcess(), block.Get(), process.process.Get(), &duplicate, 0, FALSE,
                        DUPLICATE_SAME_ACCESS);
        view->oldProcessId = GetCurrentProcessId();
        view->blockHandle = static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(duplicate));
        history.ToBytes(view->history);
      }
    }
    ResumeThread(process.thread.Get());
  }
  // Also when no new instance could be made.
  TerminateProcess(GetCurrentProcess(), 2);
  ExitProcess(2);
}

bool TakeOverFromOldInstance(ExceptionTimeHistory& history) {
  ScopedKernelHandle block(OpenFileMappingA(FILE_MAP_READ, FALSE, BlockName(GetCurrentProcessId()).c_str()));
  if (!block) return false;
  RestartBlock copy = {};
  {
    const ScopedMappedView view(MapViewOfFile(block.Get(), FILE_MAP_READ, 0, 0, 0));
    if (!view) return false;
    std::memcpy(&copy, view.Get(), sizeof copy);
  }
  // The old instance's copy of the block's handle, made for us to close.
  ScopedKernelHandle(reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(copy.blockHandle)));
  ScopedKernelHandle old(OpenProcess(SYNCHRONIZE, FALSE, copy.oldProcessId));
  if (old) WaitForSingleObject(old.Get(), INFINITE);
  history = ExceptionTimeHistory::FromBytes(copy.history);
  return true;
}
