#include "toolkit/TrayIcons.h"

#include <cstring>

#include "support/TextCodec.h"
#include "toolkit/Dpi.h"
#include "toolkit/HiddenWindow.h"

namespace {

constexpr std::size_t kMaxToolTip = 62;
// The shell's notification-icon record in its first form (88 bytes on the
// 32-bit build); the platform header gives the size for the target.
constexpr DWORD kIconRecordSize = NOTIFYICONDATAA_V1_SIZE;

const UINT g_taskbarCreated = RegisterWindowMessageA("TaskbarCreated");

BOOL WINAPI ShellNotifyDefault(DWORD message, PNOTIFYICONDATAA data) {
  if (GetACP() == 936) return Shell_NotifyIconA(message, data);
  // The tooltip is a code-page-936 text: on any other ANSI code page the
  // 8-bit call would garble it, so the same record goes out in wide form.
  NOTIFYICONDATAW wide = {};
  wide.cbSize = NOTIFYICONDATAW_V1_SIZE;
  wide.hWnd = data->hWnd;
  wide.uID = data->uID;
  wide.uFlags = data->uFlags;
  wide.uCallbackMessage = data->uCallbackMessage;
  wide.hIcon = data->hIcon;
  const std::wstring tip = WidenCp936(std::string(data->szTip, strnlen(data->szTip, sizeof data->szTip)));
  lstrcpynW(wide.szTip, tip.c_str(), 64);
  return Shell_NotifyIconW(message, &wide);
}

}  // namespace

TTrayIcon::ShellNotify& TTrayIcon::NotifyFunction() {
  static ShellNotify function = &ShellNotifyDefault;
  return function;
}

TTrayIcon::TTrayIcon(TComponent* owner) : TComponent(owner) {
  window_ = std::make_unique<THiddenWindow>(
      [this](UINT message, WPARAM wParam, LPARAM lParam) { return HandleMessage(message, wParam, lParam); });
  // The hidden windows share one class; the text tells this one apart, for tests.
  SetWindowTextA(window_->Handle(), kTrayIconWindowClass);
}

TTrayIcon::~TTrayIcon() {
  if (active_) DeleteIcon();
}

HWND TTrayIcon::WindowHandle() const { return window_->Handle(); }

void TTrayIcon::SetActive(bool active) {
  if (active == active_) return;
  active_ = active;
  if (active) AddIcon();
  else DeleteIcon();
}

namespace {

// The notification area shows small icons at the primary screen's scale
// (24 pixels at 150 %). An icon loaded from a resource is copied from the
// image of that size there, not shrunk or enlarged from another one.
HICON CopyForTray(HICON icon) {
  const int size = SystemMetricForDpi(SM_CXSMICON, SystemDpi());
  if (HANDLE copy = CopyImage(icon, IMAGE_ICON, size, size, LR_COPYFROMRESOURCE)) return static_cast<HICON>(copy);
  return CopyIcon(icon);  // made in memory: no other image to choose
}

}  // namespace

void TTrayIcon::SetIcon(HICON icon) {
  if (icon == icon_.Get()) return;  // the component's own icon changes nothing
  icon_.Reset(icon ? CopyForTray(icon) : nullptr);
  ModifyIcon();
}

void TTrayIcon::SetToolTip(const std::string& toolTip) {
  toolTip_ = toolTip.size() > kMaxToolTip ? toolTip.substr(0, kMaxToolTip) : toolTip;
  ModifyIcon();
}

void TTrayIcon::FillIconData() {
  std::memset(&iconData_, 0, sizeof iconData_);
  iconData_.cbSize = kIconRecordSize;
  iconData_.hWnd = window_->Handle();
  iconData_.uID = 0;
  iconData_.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  iconData_.uCallbackMessage = kTrayIconCallback;
  iconData_.hIcon = icon_.Get();
  lstrcpynA(iconData_.szTip, toolTip_.c_str(), 64);
}

bool TTrayIcon::Notify(DWORD message) { return NotifyFunction()(message, &iconData_) != FALSE; }

bool TTrayIcon::AddIcon() {
  FillIconData();
  return Notify(NIM_ADD);
}

bool TTrayIcon::ModifyIcon() {
  FillIconData();
  if (!active_) return true;
  return Notify(NIM_MODIFY);
}

bool TTrayIcon::DeleteIcon() { return Notify(NIM_DELETE); }  // the record as it stands

LRESULT TTrayIcon::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kTrayIconCallback) {
    POINT p = {};
    GetCursorPos(&p);
    switch (static_cast<UINT>(lParam)) {
      case WM_MOUSEMOVE:
        if (OnMouseMove) {
          const unsigned keys = LOWORD(wParam);
          TShiftState shift = 0;
          if (keys & MK_SHIFT) shift |= ssShift;
          if (keys & MK_CONTROL) shift |= ssCtrl;
          if (keys & MK_LBUTTON) shift |= ssLeft;
          if (keys & MK_RBUTTON) shift |= ssRight;
          if (keys & MK_MBUTTON) shift |= ssMiddle;
          if (GetKeyState(VK_MENU) < 0) shift |= ssAlt;
          OnMouseMove(this, shift, p.x, p.y);
        }
        break;
      case WM_LBUTTONUP:
        if (OnClick) OnClick(this);
        break;
      case WM_LBUTTONDBLCLK:
        if (OnDblClick) OnDblClick(this);
        break;
      case WM_RBUTTONUP:
        if (OnRightClick) OnRightClick(this, mbRight, 0, p.x, p.y);
        break;
      default:
        break;
    }
    return 0;
  }
  if (message == g_taskbarCreated && g_taskbarCreated != 0) {
    if (active_) AddIcon();
    return 0;
  }
  return window_->Default(message, wParam, lParam);
}
