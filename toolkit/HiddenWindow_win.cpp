#include "toolkit/HiddenWindow.h"

#include "toolkit/Guard.h"

namespace {

ATOM RegisterHiddenClass() {
  static ATOM atom = [] {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = DefWindowProcA;  // replaced per window below
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = kHiddenWindowClass;
    return RegisterClassA(&wc);
  }();
  return atom;
}

}  // namespace

THiddenWindow::THiddenWindow(Handler handler) : handler_(std::move(handler)) {
  RegisterHiddenClass();
  handle_ = CreateWindowExA(WS_EX_TOOLWINDOW, kHiddenWindowClass, "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                            GetModuleHandleA(nullptr), nullptr);
  if (handle_) {
    SetWindowLongPtrA(handle_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    SetWindowLongPtrA(handle_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&THiddenWindow::WindowProc));
  }
}

THiddenWindow::~THiddenWindow() {
  if (handle_) {
    // Detach first: messages sent while the window goes must not reach a
    // half-destroyed owner.
    SetWindowLongPtrA(handle_, GWLP_USERDATA, 0);
    DestroyWindow(handle_);
  }
}

LRESULT CALLBACK THiddenWindow::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<THiddenWindow*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (!self || !self->handler_) return DefWindowProcA(hwnd, message, wParam, lParam);
  return GuardedDispatch<LRESULT>(0, [&] { return self->handler_(message, wParam, lParam); });
}
