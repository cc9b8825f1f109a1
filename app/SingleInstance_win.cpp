#include "app/SingleInstance.h"

#include <cstdint>
#include <cstdio>
#include <string>

#include "app/frmMains.h"
#include "toolkit/HiddenWindow.h"

// Written by the first instance once its window exists; sized the same for
// both builds, since a 32-bit and a 64-bit agent may meet in one log-on.
struct TSingleInstance::Block {
  std::uint32_t processId;
  std::uint32_t reserved;
  std::uint64_t window;  // the hidden window that takes show requests
};

namespace {

constexpr char kShowMessage[] = "QEXJoystickAgent.ShowWindow";
// A restarted instance waits this long for the one it replaces.
constexpr DWORD kRestartWaitMs = 5000;
// A start at the same moment as the first: its window may still be coming.
constexpr DWORD kWindowWaitMs = 1000;

// "Local\" keeps the name inside the session; the log-on id of the token
// keeps another user's log-on in the same session apart.
std::string BlockName() {
  std::string name = "Local\\QEXJoystickAgent";
  HANDLE token = nullptr;
  if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
    const ScopedKernelHandle owner(token);
    TOKEN_STATISTICS statistics = {};
    DWORD size = 0;
    if (GetTokenInformation(token, TokenStatistics, &statistics, sizeof statistics, &size)) {
      char logon[32];
      std::snprintf(logon, sizeof logon, ".%08lX%08lX", static_cast<unsigned long>(statistics.AuthenticationId.HighPart),
                    static_cast<unsigned long>(statistics.AuthenticationId.LowPart));
      name += logon;
    }
  }
  return name;
}

UINT ShowMessage() {
  static const UINT message = RegisterWindowMessageA(kShowMessage);
  return message;
}

}  // namespace

TSingleInstance::TSingleInstance(bool restarted) {
  const std::string name = BlockName();
  const ULONGLONG giveUpAt = GetTickCount64() + (restarted ? kRestartWaitMs : 0);
  for (;;) {
    FBlock.Reset(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(Block), name.c_str()));
    // Without a block at all the agent cannot tell: it runs.
    FFirst = !FBlock || GetLastError() != ERROR_ALREADY_EXISTS;
    if (FFirst || GetTickCount64() >= giveUpAt) break;
    FBlock.Reset();
    Sleep(100);
  }
  if (FBlock) FView.Reset(MapViewOfFile(FBlock.Get(), FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, sizeof(Block)));
}

TSingleInstance::~TSingleInstance() = default;

TSingleInstance::Block* TSingleInstance::View() const {
  return static_cast<Block*>(const_cast<void*>(FView.Get()));
}

void TSingleInstance::Serve(TfrmMain* form) {
  Block* block = View();
  if (!FFirst || !block) return;
  FShowWindow = std::make_unique<THiddenWindow>([this, form](UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == ShowMessage()) {
      form->TrayIconClick(form);
      return LRESULT{0};
    }
    return DefWindowProcA(FShowWindow ? FShowWindow->Handle() : nullptr, message, wParam, lParam);
  });
  block->processId = GetCurrentProcessId();
  InterlockedExchange64(reinterpret_cast<volatile LONG64*>(&block->window),
                        static_cast<LONG64>(reinterpret_cast<UINT_PTR>(FShowWindow->Handle())));
}

void TSingleInstance::ShowRunningAgent() const {
  const Block* block = View();
  if (FFirst || !block) return;
  const ULONGLONG giveUpAt = GetTickCount64() + kWindowWaitMs;
  std::uint64_t announced = 0;
  while ((announced = static_cast<std::uint64_t>(InterlockedCompareExchange64(
              reinterpret_cast<volatile LONG64*>(const_cast<std::uint64_t*>(&block->window)), 0, 0))) == 0 &&
         GetTickCount64() < giveUpAt)
    Sleep(50);
  const HWND window = reinterpret_cast<HWND>(static_cast<UINT_PTR>(announced));
  DWORD owner = 0;
  if (!window || !GetWindowThreadProcessId(window, &owner) || owner != block->processId) return;
  // We are the program the user just started: hand our right to the
  // foreground on, so that the running agent may come to the front.
  AllowSetForegroundWindow(owner);
  PostMessageA(window, ShowMessage(), 0, 0);
}
