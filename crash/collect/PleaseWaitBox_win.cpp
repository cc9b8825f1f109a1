#include "crash/collect/PleaseWaitBox_win.h"

#include "crash/collect/CollectInternal.h"
#include "support/WindowProc.h"

namespace {

const wchar_t kClassName[] = L"QEXPleaseWait";
// Pixels at 96 dpi: shown at the screen's, like the text's font.
constexpr int kWidth = 300, kHeight = 100;

int Px(int designPixels) {
  const int dpi = ::GetDeviceCaps(ScopedWindowDc(nullptr).Get(), LOGPIXELSY);
  return dpi > 0 ? ::MulDiv(designPixels, dpi, 96) : designPixels;
}

}  // namespace

bool PleaseWaitBox::RegisterWindowClass() {
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = &WindowProcFor<PleaseWaitBox>;
  wc.hInstance = ::GetModuleHandleW(nullptr);
  wc.hCursor = ::LoadCursorW(nullptr, MAKEINTRESOURCEW(32514));  // IDC_WAIT
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kClassName;
  return ::RegisterClassExW(&wc) != 0 || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

PleaseWaitBox::PleaseWaitBox(const std::string& title, const std::string& text) : text_(WideFromUtf8(text)) {
  if (!RegisterWindowClass()) return;
  const int width = Px(kWidth), height = Px(kHeight);
  const int x = (::GetSystemMetrics(SM_CXSCREEN) - width) / 2;
  const int y = (::GetSystemMetrics(SM_CYSCREEN) - height) / 2;
  window_.Reset(::CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW | WS_EX_DLGMODALFRAME, kClassName,
                                  WideFromUtf8(title).c_str(), WS_POPUP | WS_CAPTION, x, y, width, height, nullptr,
                                  nullptr, ::GetModuleHandleW(nullptr), this));
  if (!window_) return;
  ::ShowWindow(window_.Get(), SW_SHOWNOACTIVATE);
  ::UpdateWindow(window_.Get());
}

PleaseWaitBox::~PleaseWaitBox() = default;

void PleaseWaitBox::ProcessMessages() {
  if (!window_) return;
  MSG msg;
  while (::PeekMessageW(&msg, window_.Get(), 0, 0, PM_REMOVE)) {
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
}

LRESULT PleaseWaitBox::HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = ::BeginPaint(window, &ps);
      RECT client;
      ::GetClientRect(window, &client);
      ::SetBkMode(dc, TRANSPARENT);
      HGDIOBJ old = ::SelectObject(dc, ::GetStockObject(DEFAULT_GUI_FONT));
      ::DrawTextW(dc, text_.c_str(), static_cast<int>(text_.size()), &client,
                  DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
      ::SelectObject(dc, old);
      ::EndPaint(window, &ps);
      return 0;
    }
    case WM_CLOSE:
      return 0;  // closes when the report is complete, not before
    default:
      return ::DefWindowProcW(window, message, wParam, lParam);
  }
}
