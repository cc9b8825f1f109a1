// Pieces shared by the Win32 files of the report box. Not for use outside
// crash/box.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "crash/box/ReportBox.h"
#include "support/ScopedHandle.h"
#include "support/TextCodec.h"
#include "support/WindowProc.h"
#include "support/Win32.h"
#include "toolkit/Dpi.h"

// "Tahoma" 8 points ("MS Sans Serif" when Tahoma is missing), "Courier New"
// for report text, "Small Fonts" for the small print, at the dots per inch of
// the window that shows them. A window moved to a monitor of another scale
// makes a new set, hands it to its controls, and only then lets the old set
// go (a control must never hold a deleted font).
struct BoxFonts {
  ScopedGdiObject text, bold, report, small;
  BoxFonts() = default;
  explicit BoxFonts(int dpi);
};

// The layouts' numbers are pixels at 96 dpi, shown at the window's dpi.
inline int ScaledPx(int designPixels, int dpi) { return ScaleToDpi(designPixels, dpi); }

// Small icons of the buttons, drawn with GDI into a 16 x 16 design square
// shown `size` pixels wide.
enum class ButtonIcon { Send, Save, Print, Show, Continue, CannotContinue, Restart, Close, None };
void DrawButtonIcon(HDC dc, ButtonIcon icon, int left, int top, int size, bool enabled);
// The box's large icon (a 32 x 32 design shown `size` pixels wide): a red
// warning disc.
void DrawLargeErrorIcon(HDC dc, int left, int top, int size);

// A flat owner-drawn button (WM_DRAWITEM of a BS_OWNERDRAW button), its icon
// and text spacing at dpi.
void DrawFlatButton(const DRAWITEMSTRUCT& item, ButtonIcon icon, bool isDefault, HFONT font, int dpi);

// Registers a window class once (the procedure of the first call wins).
void RegisterBoxClass(const wchar_t* name, WNDPROC proc, HBRUSH background);

// Child control with a font.
HWND AddChild(HWND parent, const wchar_t* cls, const std::wstring& text, DWORD style, DWORD exStyle, int id,
              int x, int y, int w, int h, HFONT font);

// Runs messages until `done` holds; keys go through `keyFilter` first (true:
// handled), then the dialog navigation of `window`.
void RunModalLoop(HWND window, const std::function<bool()>& done,
                  const std::function<bool(const MSG&)>& keyFilter);

// The assistant: true when it finished; the outputs are applied to the
// report, `sender` is the contact, `attachScreenshot` the screenshot page's
// decision (false without that page).
struct AssistantResult {
  bool finished = false;
  std::string sender;
  bool attachScreenshot = false;
  std::shared_ptr<Screenshot> screenshot;  // as the user left it (edited or not)
};
AssistantResult RunSendAssistant(HWND owner, BugReport& report, const ReportSettings& settings,
                                 const BoxOptions& options);

// Bitmap files for the image editor.
bool SaveScreenshotBmp(const Screenshot& shot, const std::wstring& path);
std::shared_ptr<Screenshot> LoadScreenshotBmp(const std::wstring& path);
// A device-dependent bitmap of the screenshot for drawing.
HBITMAP ScreenshotBitmap(const Screenshot& shot);

// Wraps a window procedure body: the handling thread never reports its own
// exceptions, so one that escapes is swallowed and the message handled.
template <class Body>
LRESULT GuardedWindowCall(Body&& body) noexcept {
  try {
    return body();
  } catch (...) {
    return 0;
  }
}
