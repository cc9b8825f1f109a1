#include "crash/collect/PleaseWaitBox_win.h"

#include "crash/collect/CollectInternal.h"

namespace {

const wchar_t kClassName[] = L"QEXPleaseWait";
constexpr int kWidth = 300, kHeight = 100;

}  // namespace

bool PleaseWaitBox::RegisterWindowClass() {
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = &PleaseWaitBox::WindowProc;
  wc.hInstance = ::GetModuleHandleW(nullptr);
  wc.hCursor = ::LoadCursorW(nullptr, MAKEINTRESOURCEW(32514));  // IDC_WAIT
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kClassName;
  return ::RegisterClassExW(&wc) != 0 || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

PleaseWaitBox::PleaseWaitBox(const std::string& title, const std::string& text) : text_(WideFromUtf8(text)) {
  if (!RegisterWindowClass()) return;
  const int x = (::GetSystemMetrics(SM_CXSCREEN) - kWidth) / 2;
  const int y = (::GetSystemMetrics(SM_CYSCREEN) - kHeight) / 2;
  window_ = ::CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW | WS_EX_DLGMODALFRAME, kClassName,
                              WideFromUtf8(title).c_str(), WS_POPUP | WS_CAPTION, x, y, kWidth, kHeight, nullptr,
                              nullptr, ::GetModuleHandleW(nullptr), this);
  if (!window_) return;
  ::ShowWindow(window_, SW_SHOWNOACTIVATE);
  ::UpdateWindow(window_);
}

PleaseWaitBox::~PleaseWaitBox() {
  if (window_) ::DestroyWindow(window_);
}

void PleaseWaitBox::ProcessMessages() {
  if (!window_) return;
  MSG msg;
  while (::PeekMessageW(&msg, window_, 0, 0, PM_REMOVE)) {
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
}

LRESULT CALLBACK PleaseWaitBox::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<PleaseWaitBox*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  if (message == WM_NCDESTROY) ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
  if (!self || message == WM_NCCREATE || message == WM_NCDESTROY)
    return ::DefWindowProcW(window, message, wParam, lParam);
  return self->HandleMessage(message, wParam, lParam);
}

LRESULT PleaseWaitBox::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = ::BeginPaint(window_, &ps);
      RECT client;
      ::GetClientRect(window_, &client);
      ::SetBkMode(dc, TRANSPARENT);
      HGDIOBJ old = ::SelectObject(dc, ::GetStockObject(DEFAULT_GUI_FONT));
      ::DrawTextW(dc, text_.c_str(), static_cast<int>(text_.size()), &client,
                  DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
      ::SelectObject(dc, old);
      ::EndPaint(window_, &ps);
      return 0;
    }
    case WM_CLOSE:
      return 0;  // closes when the report is complete, not before
    default:
      return ::DefWindowProcW(window_, message, wParam, lParam);
  }
}
