#include "toolkit/HiddenWindow.h"

#include "toolkit/Guard.h"

namespace {

void RegisterHiddenClass() {
  static const ATOM atom = [] {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = &WindowProcFor<THiddenWindow>;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = kHiddenWindowClass;
    return RegisterClassA(&wc);
  }();
  (void)atom;
}

}  // namespace

THiddenWindow::THiddenWindow(Handler handler) : handler_(std::move(handler)) {
  RegisterHiddenClass();
  // The window procedure takes the handle into handle_ with the first message.
  CreateWindowExA(WS_EX_TOOLWINDOW, kHiddenWindowClass, "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                  GetModuleHandleA(nullptr), this);
  created_ = true;
}

THiddenWindow::~THiddenWindow() {
  if (handle_) {
    // Detach first: messages sent while the window goes must not reach a
    // half-destroyed owner.
    DetachWindowOwner(Handle());
    handle_.Reset();
  }
}

LRESULT THiddenWindow::HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) handle_.Reset(window);
  if (message == WM_NCDESTROY) {
    handle_.Release();  // gone without the destructor: nothing left to close
    return DefWindowProcA(window, message, wParam, lParam);
  }
  if (!created_ || !handler_) return DefWindowProcA(window, message, wParam, lParam);
  return GuardedDispatch<LRESULT>(0, [&] { return handler_(message, wParam, lParam); });
}
