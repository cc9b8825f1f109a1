// The form at run time: its window, showing and hiding, and its messages.
#include "support/TextCodec.h"
#include "toolkit/Application.h"
#include "toolkit/Controls.h"
#include "toolkit/Dpi.h"
#include "toolkit/Guard.h"

namespace {

// Declared by the platform headers only for targets newer than ours.
constexpr UINT kGetDpiScaledSize = 0x02E4;  // WM_GETDPISCALEDSIZE

}  // namespace

TForm::TForm(TComponent* owner) : TComponent(owner) {}

TForm::~TForm() {
  BeginDestroy();
  // Components go while the window still exists: their teardown may still
  // call back into the form's handlers, which read the controls.
  DestroyComponents();
  if (handle_) {
    // Detached first: the messages of its destruction must not reach a form
    // whose derived part is gone already.
    DetachWindowOwner(Handle());
    handle_.Reset();
  }
}

void TForm::SetCaption(const std::string& caption) {
  caption_ = caption;
  if (handle_) SetWindowTextW(Handle(), WidenCp936(caption).c_str());
}

void TForm::Show() {
  if (!handle_) return;
  ShowWindow(Handle(), windowState_ == wsMinimized ? SW_SHOWMINIMIZED : SW_SHOWNORMAL);
  if (!shownOnce_) {
    shownOnce_ = true;
    UpdateWindow(Handle());
  }
}

void TForm::Hide() {
  if (handle_) ShowWindow(Handle(), SW_HIDE);
}

bool TForm::Visible() const { return handle_ && IsWindowVisible(Handle()); }

void TForm::SetWindowState(TWindowState state) {
  windowState_ = state;
  // A hidden form only records the state; it takes effect when shown.
  if (Visible()) ShowWindow(Handle(), state == wsMinimized ? SW_MINIMIZE : SW_RESTORE);
}

void TForm::Close() {
  if (handle_) PostMessageW(Handle(), WM_CLOSE, 0, 0);
}

void TForm::PaintPicturesBeneath(const TControl* control, HDC dc) const {
  RECT area;
  GetWindowRect(control->Handle(), &area);
  for (const TControl* c : controls_) {
    if (c == control) break;  // only those earlier in the description lie beneath
    const auto* picture = dynamic_cast<const TImage*>(c);
    if (!picture || !IsWindowVisible(picture->Handle())) continue;
    RECT place, overlap;
    GetWindowRect(picture->Handle(), &place);
    if (!IntersectRect(&overlap, &place, &area)) continue;
    // The picture's rectangle in the control's coordinates; dc clips to the control.
    OffsetRect(&place, -area.left, -area.top);
    picture->Paint(dc, place);
  }
}

void TForm::ChangeDpi(int dpi, const RECT& suggested) {
  dpi_ = dpi;
  TakeSuggestedRect(Handle(), suggested);
  for (TControl* c : controls_) c->ScaleToFormDpi();
  LoadIcons();
  // The owner-drawn controls too: a new font alone does not repaint them.
  RedrawWindow(Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

TControl* TForm::FindControl(HWND handle) const {
  for (TControl* c : controls_)
    if (c->Handle() == handle) return c;
  return nullptr;
}

LRESULT TForm::HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  // Known from the first message on: handlers of the creation messages
  // already use Handle().
  if (message == WM_NCCREATE) handle_.Reset(window);
  if (message == WM_NCDESTROY) {
    // Gone without the form's destructor (the process ends): nothing is left to close.
    handle_.Release();
    return DefWindowProcW(window, message, wParam, lParam);
  }
  return GuardedDispatch<LRESULT>(0, [&] { return Dispatch(message, wParam, lParam); });
}

LRESULT TForm::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  if (WndProc(message, wParam, lParam, result)) return result;
  switch (message) {
    case WM_COMMAND:
      if (TControl* c = FindControl(reinterpret_cast<HWND>(lParam))) {
        c->Command(HIWORD(wParam));
        return 0;
      }
      break;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
      if (TControl* c = FindControl(reinterpret_cast<HWND>(lParam)))
        return reinterpret_cast<LRESULT>(c->ControlColor(reinterpret_cast<HDC>(wParam)));
      break;
    case WM_DRAWITEM: {
      const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
      if (TControl* c = FindControl(item->hwndItem)) {
        c->DrawItem(*item);
        return TRUE;
      }
      break;
    }
    case WM_DPICHANGED: {
      // Moved to a monitor of another scale: the platform suggests the
      // rectangle that keeps the window where it was, at the new size.
      if (const int dpi = DpiChangeOf(wParam, lParam)) ChangeDpi(dpi, *reinterpret_cast<const RECT*>(lParam));
      return 0;
    }
    case kGetDpiScaledSize:
      // Asked before such a move: the size the description gives at the new
      // dpi, frame included, so the suggested rectangle fits exactly.
      if (IsUsableDpi(LOWORD(wParam)) && lParam) {
        const TSize outer = OuterSizeAt(LOWORD(wParam));
        auto* size = reinterpret_cast<SIZE*>(lParam);
        size->cx = outer.width;
        size->cy = outer.height;
        return TRUE;
      }
      break;
    case WM_ERASEBKGND: {
      RECT r;
      GetClientRect(Handle(), &r);
      FillRect(reinterpret_cast<HDC>(wParam), &r, background_.Get());
      return 1;
    }
    case WM_SIZE:
      // Minimised some other way than by its minimise box (the taskbar, the
      // desktop's show-desktop, ShowWindow from another program): the
      // application minimises all the same, so the form goes to the tray.
      if (wParam == SIZE_MINIMIZED && Application && Application->MainForm() == this) Application->Minimize();
      break;
    case WM_SYSCOMMAND:
      // Minimising the main form minimises the application (to the tray).
      if ((wParam & 0xFFF0) == SC_MINIMIZE && Application && Application->MainForm() == this) {
        Application->Minimize();
        return 0;
      }
      break;
    case WM_CLOSE:
      if (Application && Application->MainForm() == this) {
        Hide();
        Application->Terminate();
        return 0;
      }
      break;
    default:
      break;
  }
  return DefWindowProcW(Handle(), message, wParam, lParam);
}
