#include "crash/collect/PleaseWaitBox_win.h"

#include "crash/collect/CollectInternal.h"
#include "support/WindowProc.h"
#include "toolkit/Dpi.h"
#include "toolkit/Fonts.h"

namespace {

const wchar_t kClassName[] = L"QEXPleaseWait";
constexpr DWORD kStyle = WS_POPUP | WS_CAPTION;
constexpr DWORD kExStyle = WS_EX_TOPMOST | WS_EX_TOOLWINDOW | WS_EX_DLGMODALFRAME;
// Pixels at 96 dpi, frame included: 8 points of the dialog face.
constexpr int kWidth = 300, kHeight = 100, kTextHeight = 11;

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
  // Sized once it exists: only then does it have a dpi of its own.
  window_.Reset(::CreateWindowExW(kExStyle, kClassName, WideFromUtf8(title).c_str(), kStyle, 0, 0, 0, 0, nullptr,
                                  nullptr, ::GetModuleHandleW(nullptr), this));
  if (!window_) return;
  dpi_ = WindowDpi(window_.Get());
  MakeFont();
  const TSize size = ScaleOuterSize(TSize{kWidth, kHeight}, FrameSize(kStyle, kExStyle, kDesignDpi),
                                    FrameSize(kStyle, kExStyle, dpi_), dpi_);
  const int x = (::GetSystemMetrics(SM_CXSCREEN) - size.width) / 2;
  const int y = (::GetSystemMetrics(SM_CYSCREEN) - size.height) / 2;
  ::SetWindowPos(window_.Get(), nullptr, x, y, size.width, size.height, SWP_NOZORDER | SWP_NOACTIVATE);
  ::ShowWindow(window_.Get(), SW_SHOWNOACTIVATE);
  ::UpdateWindow(window_.Get());
}

PleaseWaitBox::~PleaseWaitBox() = default;

void PleaseWaitBox::MakeFont() {
  // Also from the window procedure, which lets nothing escape: without a
  // font of our own the stock one draws the text.
  try {
    TFont font;
    font.name = "MS Shell Dlg";
    font.height = ScaleToDpi(kTextHeight, dpi_);
    font_ = CreateFontFor(font);
  } catch (...) {
  }
}

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
      HGDIOBJ old = ::SelectObject(dc, font_ ? font_.Get() : ::GetStockObject(DEFAULT_GUI_FONT));
      ::DrawTextW(dc, text_.c_str(), static_cast<int>(text_.size()), &client,
                  DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
      ::SelectObject(dc, old);
      ::EndPaint(window, &ps);
      return 0;
    }
    case WM_CLOSE:
      return 0;  // closes when the report is complete, not before
    case WM_DPICHANGED: {
      // Drawn only in WM_PAINT, so the font can go at once.
      const int dpi = DpiChangeOf(wParam, lParam);
      if (!dpi) return 0;
      dpi_ = dpi;
      MakeFont();
      TakeSuggestedRect(window, lParam);
      ::InvalidateRect(window, nullptr, TRUE);
      return 0;
    }
    default:
      return ::DefWindowProcW(window, message, wParam, lParam);
  }
}
