#include "toolkit/Dpi.h"

namespace {

template <class F>
F Bind(HMODULE module, const char* name) {
  return module ? reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
}

}  // namespace

const TDpiFunctions& DpiFunctions() {
  static const TDpiFunctions functions = [] {
    TDpiFunctions f;
    // user32 is loaded for the life of every windowed process.
    const HMODULE user32 = GetModuleHandleW(L"user32.dll");
    f.getDpiForWindow = Bind<TDpiFunctions::GetDpiForWindowFn>(user32, "GetDpiForWindow");
    f.adjustWindowRectExForDpi = Bind<TDpiFunctions::AdjustWindowRectExForDpiFn>(user32, "AdjustWindowRectExForDpi");
    f.getSystemMetricsForDpi = Bind<TDpiFunctions::GetSystemMetricsForDpiFn>(user32, "GetSystemMetricsForDpi");
    f.setDialogDpiChangeBehavior =
        Bind<TDpiFunctions::SetDialogDpiChangeBehaviorFn>(user32, "SetDialogDpiChangeBehavior");
    return f;
  }();
  return functions;
}

void DeclareDpiAwareness() {
  using SetContextFn = BOOL(WINAPI*)(HANDLE context);
  const auto setContext =
      Bind<SetContextFn>(GetModuleHandleW(L"user32.dll"), "SetProcessDpiAwarenessContext");
  // DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2 (-4), then _PER_MONITOR_AWARE
  // (-3): the platform headers of our target version do not declare them.
  if (setContext && (setContext(reinterpret_cast<HANDLE>(-4)) || setContext(reinterpret_cast<HANDLE>(-3)))) return;
  SetProcessDPIAware();
}

int SystemDpi() {
  const HDC screen = GetDC(nullptr);
  const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : kDesignDpi;
  if (screen) ReleaseDC(nullptr, screen);
  return IsUsableDpi(dpi) ? dpi : kDesignDpi;
}

int WindowDpi(HWND window) {
  if (window && DpiFunctions().getDpiForWindow) {
    const UINT dpi = DpiFunctions().getDpiForWindow(window);
    if (IsUsableDpi(static_cast<long>(dpi))) return static_cast<int>(dpi);
  }
  return SystemDpi();
}

TSize FrameSize(DWORD style, DWORD exStyle, int dpi) {
  RECT r = {0, 0, 100, 100};
  int scaleFrom = dpi;
  if (!DpiFunctions().adjustWindowRectExForDpi ||
      !DpiFunctions().adjustWindowRectExForDpi(&r, style, FALSE, exStyle, static_cast<UINT>(dpi))) {
    // Only the system's frame is known: taken in proportion.
    r = {0, 0, 100, 100};
    AdjustWindowRectEx(&r, style, FALSE, exStyle);
    scaleFrom = SystemDpi();
  }
  TSize frame;
  frame.width = MulDiv((r.right - r.left) - 100, dpi, scaleFrom);
  frame.height = MulDiv((r.bottom - r.top) - 100, dpi, scaleFrom);
  return frame;
}

int SystemMetricForDpi(int index, int dpi) {
  if (DpiFunctions().getSystemMetricsForDpi)
    return DpiFunctions().getSystemMetricsForDpi(index, static_cast<UINT>(dpi));
  return MulDiv(GetSystemMetrics(index), dpi, SystemDpi());
}

HICON LoadAppIconForDpi(int sizeMetric, int dpi) {
  const int size = SystemMetricForDpi(sizeMetric, dpi);
  // Not shared: the platform picks the image of that size from the icon
  // resource, and the caller destroys the copy it owns.
  return static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), L"MAINICON", IMAGE_ICON, size, size, 0));
}

int DpiChangeOf(WPARAM wParam, LPARAM lParam) {
  const int dpi = LOWORD(wParam);
  return lParam && IsUsableDpi(dpi) ? dpi : 0;
}

void TakeSuggestedRect(HWND window, const RECT& suggested) {
  SetWindowPos(window, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
               suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
}
