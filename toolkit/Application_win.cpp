#include "toolkit/Application.h"

#include "support/Exceptions.h"
#include "support/Utils.h"
#include "toolkit/Controls.h"
#include "toolkit/Guard.h"
#include "toolkit/Thread.h"

TApplication* Application = nullptr;

namespace {

constexpr char kApplicationClass[] = "QEXApplication";
constexpr UINT kWakeMainThread = WM_APP + 0x100;

// Allocated while the program starts, before any other thread runs.
const DWORD g_faultGuardSlot = TlsAlloc();

}  // namespace

FaultGuardFrame* CurrentFaultGuard() noexcept {
  if (g_faultGuardSlot == TLS_OUT_OF_INDEXES) return nullptr;
  return static_cast<FaultGuardFrame*>(TlsGetValue(g_faultGuardSlot));
}

FaultGuardScope::FaultGuardScope() noexcept {
  frame_.outer = CurrentFaultGuard();
  if (g_faultGuardSlot != TLS_OUT_OF_INDEXES) TlsSetValue(g_faultGuardSlot, &frame_);
}

FaultGuardScope::~FaultGuardScope() {
  if (g_faultGuardSlot != TLS_OUT_OF_INDEXES) TlsSetValue(g_faultGuardSlot, frame_.outer);
}

void HandleEscapedException(std::exception_ptr error) noexcept {
  try {
    if (Application) {
      Application->HandleException(error);
      return;
    }
  } catch (...) {
    // The central handler itself failed: nothing sensible is left to do.
  }
  OutputDebugStringA("unhandled exception outside the application");
}

std::string ExceptionClassName(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const Exception& e) {
    return e.ClassName();
  } catch (const std::exception&) {
    return "std::exception";
  } catch (...) {
    return "unknown exception";
  }
}

std::string ExceptionMessage(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "unknown exception";
  }
}

TApplication::TApplication() : TComponent(nullptr) { Application = this; }

TApplication::~TApplication() {
  BeginDestroy();
  DestroyComponents();
  SetSynchronizeWakeWindow(nullptr, WM_NULL);
  handle_.Reset();
  if (Application == this) Application = nullptr;
}

void TApplication::Initialize() {
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_STANDARD_CLASSES | ICC_TAB_CLASSES};
  InitCommonControlsEx(&controls);
  icon_ = LoadIconA(GetModuleHandleA(nullptr), "MAINICON");
  if (!icon_) icon_ = LoadIconA(nullptr, IDI_APPLICATION);

  WNDCLASSA wc = {};
  wc.lpfnWndProc = &WindowProcFor<TApplication>;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.hIcon = icon_;
  wc.lpszClassName = kApplicationClass;
  RegisterClassA(&wc);
  // A hidden tool window: it receives the thread hand-over wake-ups and owns
  // nothing visible; the main form itself carries the taskbar button.
  // The window procedure takes the handle into handle_ with the first message.
  CreateWindowExA(WS_EX_TOOLWINDOW, kApplicationClass, "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                  GetModuleHandleA(nullptr), this);
  SetSynchronizeWakeWindow(Handle(), kWakeMainThread);
}

void TApplication::SetTitle(const std::string& title) {
  title_ = title;
  if (handle_) SetWindowTextW(Handle(), WidenCp936(title).c_str());
}

void TApplication::CreateForm(TForm* form) {
  if (!mainForm_) mainForm_ = form;
}

void TApplication::Minimize() {
  // The flag alone is no proof: another program may have shown the form
  // again meanwhile, and then it must go to the tray once more.
  if (minimized_ && !(mainForm_ && mainForm_->Visible())) return;
  minimized_ = true;
  if (OnMinimize) {
    OnMinimize(this);
  } else if (mainForm_ && mainForm_->Handle()) {
    ShowWindow(mainForm_->Handle(), SW_MINIMIZE);
  }
}

void TApplication::Restore() {
  // Also when the form was minimised behind the flag's back.
  const HWND form = mainForm_ ? mainForm_->Handle() : nullptr;
  if (!minimized_ && !(form && IsIconic(form))) return;
  minimized_ = false;
  ShowTaskbarWindow(true);
  if (!form) return;
  // A hidden form only records the state and shows in it; a visible one
  // (shown again by another program) is restored at once.
  const bool hidden = !mainForm_->Visible();
  mainForm_->SetWindowState(wsNormal);
  if (hidden) mainForm_->Show();
}

void TApplication::BringToFront() {
  if (!mainForm_ || !mainForm_->Handle()) return;
  HWND window = GetLastActivePopup(mainForm_->Handle());
  if (window && IsWindowVisible(window) && IsWindowEnabled(window)) SetForegroundWindow(window);
}

void TApplication::ShowTaskbarWindow(bool show) {
  // The taskbar button belongs to the main form (WS_EX_APPWINDOW): it goes
  // with the form's visibility, so hiding it means keeping the form hidden.
  if (!show && mainForm_ && mainForm_->Handle() && IsWindowVisible(mainForm_->Handle()))
    ShowWindow(mainForm_->Handle(), SW_HIDE);
}

void TApplication::Terminate() {
  terminated_ = true;
  PostQuitMessage(0);
}

bool TApplication::ProcessMessage() {
  MSG msg;
  if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) return false;
  if (msg.message == WM_QUIT) {
    terminated_ = true;
    return true;
  }
  HWND form = mainForm_ ? mainForm_->Handle() : nullptr;
  if (!(form && IsDialogMessageW(form, &msg))) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return true;
}

void TApplication::ProcessMessages() {
  while (ProcessMessage()) {
  }
}

void TApplication::Run() {
  if (mainForm_ && !minimized_) mainForm_->Show();
  while (!terminated_) {
    CheckSynchronize();
    if (!ProcessMessage()) {
      if (terminated_) break;
      WaitMessage();
    }
  }
}

void TApplication::HandleException(std::exception_ptr error) {
  if (!error) return;
  try {
    std::rethrow_exception(error);
  } catch (const EAbort&) {
    return;  // a silent abort is never shown
  } catch (...) {
  }
  if (exceptionHook_) {
    exceptionHook_(error);
  } else {
    ShowException(error);
  }
}

void TApplication::ShowException(std::exception_ptr error) {
  if (exceptionHook_) {
    // Crash reporting shows its own box instead of the plain one.
    exceptionHook_(error);
    return;
  }
  std::string message = ExceptionMessage(error);
  if (!message.empty() && message.back() != '.') message += '.';
  HWND owner = mainForm_ ? mainForm_->Handle() : nullptr;
  MessageBoxW(owner, WidenCp936(message).c_str(), WidenCp936(title_).c_str(), MB_OK | MB_ICONSTOP);
}

LRESULT TApplication::HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) handle_.Reset(window);
  if (message == WM_NCDESTROY) handle_.Release();  // gone: nothing left to close
  if (message == kWakeMainThread) {
    // CheckSynchronize keeps each hand-over's exception for its caller;
    // the guard is for anything else.
    return GuardedDispatch<LRESULT>(0, [] {
      CheckSynchronize();
      return 0;
    });
  }
  if (message == WM_ENDSESSION && wParam && endSessionHook_) {
    GuardedDispatch<LRESULT>(0, [this] {
      endSessionHook_();
      return 0;
    });
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}
