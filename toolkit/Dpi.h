// Dots per inch of the system and of a window. The per-monitor functions
// come with Windows 10 (version 1607); they are bound at run time, and on
// older systems, where the program is system-aware, the system's dots per
// inch stand for every window. Any thread.
#pragma once

#include "support/Win32.h"
#include "toolkit/DpiScale.h"

// The run-time bound functions; a slot is null where the system lacks it.
struct TDpiFunctions {
  // Our target version is older than these: the platform headers declare
  // them only for newer ones, so their types are written out here.
  using GetDpiForWindowFn = UINT(WINAPI*)(HWND window);
  using AdjustWindowRectExForDpiFn = BOOL(WINAPI*)(RECT* rect, DWORD style, BOOL menu, DWORD exStyle, UINT dpi);
  using GetSystemMetricsForDpiFn = int(WINAPI*)(int index, UINT dpi);
  using SetDialogDpiChangeBehaviorFn = decltype(&::SetDialogDpiChangeBehavior);

  GetDpiForWindowFn getDpiForWindow = nullptr;
  AdjustWindowRectExForDpiFn adjustWindowRectExForDpi = nullptr;
  GetSystemMetricsForDpiFn getSystemMetricsForDpi = nullptr;
  SetDialogDpiChangeBehaviorFn setDialogDpiChangeBehavior = nullptr;
};
const TDpiFunctions& DpiFunctions();

// Makes the process draw at each monitor's own scale: per monitor v2 where
// the system offers it, else v1, else the system's scale (before Windows
// 10). Called once at start, before the first window.
void DeclareDpiAwareness();

// The dots per inch of the primary screen, as the system gives them to
// this process.
int SystemDpi();
// The window's: that of its monitor for a per-monitor-aware process.
int WindowDpi(HWND window);
// Outer minus client size of a window of that style without a menu, at dpi.
TSize FrameSize(DWORD style, DWORD exStyle, int dpi);
// A system metric (icon sizes, check-box size) at dpi.
int SystemMetricForDpi(int index, int dpi);
// The new dpi a WM_DPICHANGED carries, 0 when it carries none we can use
// (anyone may send the message).
int DpiChangeOf(WPARAM wParam, LPARAM lParam);
// Moves the window into the rectangle a WM_DPICHANGED suggests. Its WM_SIZE
// comes at once, so the window's own dpi and fonts are to be the new ones by
// then.
void TakeSuggestedRect(HWND window, const RECT& suggested);
inline void TakeSuggestedRect(HWND window, LPARAM lParam) {
  TakeSuggestedRect(window, *reinterpret_cast<const RECT*>(lParam));
}
// The program's icon resource at the size the platform asks for at dpi
// (SM_CXICON or SM_CXSMICON), or null when the program has none. The
// caller owns it.
HICON LoadAppIconForDpi(int sizeMetric, int dpi);
