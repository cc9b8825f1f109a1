// Tray icon: one icon with a tooltip in the notification area; the shell's
// callbacks for it arrive on a hidden window of its own and become events.
// Main thread only.
#pragma once

#include <memory>
#include <string>

#include "support/Delegate.h"
#include "support/ScopedHandle.h"
#include "support/Win32.h"
#include "toolkit/Component.h"

class THiddenWindow;

enum TShiftStateFlag { ssShift = 1, ssAlt = 2, ssCtrl = 4, ssLeft = 8, ssRight = 16, ssMiddle = 32 };
using TShiftState = unsigned;
enum TMouseButton { mbLeft, mbRight, mbMiddle };

using TMouseEvent = Event<void(TObject* Sender, TMouseButton Button, TShiftState Shift, int X, int Y)>;
using TMouseMoveEvent = Event<void(TObject* Sender, TShiftState Shift, int X, int Y)>;

// The icon's own callback message on its hidden window.
inline constexpr UINT kTrayIconCallback = 0x0401;
// Class name of the tray icon's hidden window, so tests can find it.
inline constexpr char kTrayIconWindowClass[] = "QEXTrayIconWindow";

class TTrayIcon : public TComponent {
 public:
  explicit TTrayIcon(TComponent* owner);
  ~TTrayIcon() override;

  bool Active() const { return active_; }
  void SetActive(bool active);
  bool ShowDesigning() const { return showDesigning_; }
  void SetShowDesigning(bool show) { showDesigning_ = show; }  // no effect at run time
  HICON Icon() const { return icon_.Get(); }
  // Copies the image into the component's own icon, at the size the
  // notification area asks for at the primary screen's dpi when the icon
  // came from a resource. Set once, it never changes with the dpi.
  void SetIcon(HICON icon);
  const std::string& ToolTip() const { return toolTip_; }
  // Cut to 62 characters.
  void SetToolTip(const std::string& toolTip);
  HWND WindowHandle() const;
  const NOTIFYICONDATAA& IconRecord() const { return iconData_; }

  TNotifyEvent OnClick;
  TNotifyEvent OnDblClick;
  TMouseEvent OnRightClick;
  TMouseMoveEvent OnMouseMove;

  // The shell call; a test may replace it before the icon is shown.
  using ShellNotify = BOOL(WINAPI*)(DWORD message, PNOTIFYICONDATAA data);
  static ShellNotify& NotifyFunction();

 private:
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void FillIconData();
  bool AddIcon();
  bool ModifyIcon();
  bool DeleteIcon();
  bool Notify(DWORD message);

  NOTIFYICONDATAA iconData_ = {};
  ScopedIcon icon_;
  std::string toolTip_;
  std::unique_ptr<THiddenWindow> window_;
  bool active_ = false;
  bool showDesigning_ = false;
};
