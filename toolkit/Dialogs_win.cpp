#include <vector>

#include "support/TextCodec.h"
#include "toolkit/Controls.h"
#include "toolkit/Dpi.h"
#include "toolkit/Guard.h"

namespace {

constexpr WORD kPromptId = 100;
constexpr WORD kEditId = 101;

// An in-memory dialog template, so the dialog is a real modal dialog with
// the platform's keyboard handling (Enter = OK, Escape = Cancel).
class TemplateWriter {
 public:
  void Word(WORD w) { data_.push_back(w); }
  void Dword(DWORD d) {
    Word(LOWORD(d));
    Word(HIWORD(d));
  }
  void Text(const std::wstring& s) {
    for (wchar_t c : s) Word(static_cast<WORD>(c));
    Word(0);
  }
  void Align() {
    if (data_.size() % 2) Word(0);  // items start on DWORD boundaries
  }
  void Item(DWORD style, short x, short y, short cx, short cy, WORD id, WORD atom, const std::wstring& text) {
    Align();
    Dword(style | WS_CHILD | WS_VISIBLE);
    Dword(0);
    Word(static_cast<WORD>(x));
    Word(static_cast<WORD>(y));
    Word(static_cast<WORD>(cx));
    Word(static_cast<WORD>(cy));
    Word(id);
    Word(0xFFFF);
    Word(atom);
    Text(text);
    Word(0);
  }
  const DLGTEMPLATE* Get() const { return reinterpret_cast<const DLGTEMPLATE*>(data_.data()); }
  std::vector<WORD> data_;
};

// The dialog's state and its message handler. Dialogs keep the object in
// DWLP_USER rather than GWLP_USERDATA: the platform's dialog manager owns the
// window class and its procedure, and hands our object over only with
// WM_INITDIALOG, after the creation messages. Set there, cleared on
// WM_NCDESTROY, like every other window of the program.
class TInputDialog {
 public:
  static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) SetWindowLongPtrW(dialog, DWLP_USER, lParam);
    auto* self = reinterpret_cast<TInputDialog*>(GetWindowLongPtrW(dialog, DWLP_USER));
    if (message == WM_NCDESTROY) SetWindowLongPtrW(dialog, DWLP_USER, 0);
    if (!self) return FALSE;
    return GuardedDispatch<INT_PTR>(FALSE, [&] { return self->HandleMessage(dialog, message, wParam, lParam); });
  }

  std::wstring caption, prompt, value;
  int maxLength = 0;
  TFont design;  // the controls' font at 96 dpi

 private:
  INT_PTR HandleMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
      case WM_INITDIALOG:
        Initialise(dialog);
        return FALSE;  // focus set here
      case WM_DPICHANGED:
        // The template's dialog units follow the new scale by themselves
        // only on some systems; here the layout always follows ours.
        if (const int dpi = DpiChangeOf(wParam, lParam))
          ChangeDpi(dialog, dpi, *reinterpret_cast<const RECT*>(lParam));
        return TRUE;
      case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
          if (LOWORD(wParam) == IDOK) value = EditText(dialog);
          EndDialog(dialog, LOWORD(wParam));
          return TRUE;
        }
        break;
      default:
        break;
    }
    return FALSE;
  }

  void Initialise(HWND dialog) {
    SetWindowTextW(dialog, caption.c_str());
    SetDlgItemTextW(dialog, kPromptId, prompt.c_str());
    HWND edit = GetDlgItem(dialog, kEditId);
    SendMessageW(edit, EM_LIMITTEXT, static_cast<WPARAM>(maxLength), 0);
    SetWindowTextW(edit, value.c_str());
    // The platform's own handling of a dpi change would resize the dialog
    // but keep our font: it is left to WM_DPICHANGED below.
    if (DpiFunctions().setDialogDpiChangeBehavior)
      DpiFunctions().setDialogDpiChangeBehavior(dialog, DDC_DISABLE_ALL, DDC_DISABLE_ALL);
    dpi_ = WindowDpi(dialog);
    SetControlFont(dialog);
    // Centred over the owner (or the screen).
    RECT own, me;
    HWND owner = GetWindow(dialog, GW_OWNER);
    if (owner && IsWindowVisible(owner)) GetWindowRect(owner, &own);
    else SystemParametersInfoW(SPI_GETWORKAREA, 0, &own, 0);
    GetWindowRect(dialog, &me);
    SetWindowPos(dialog, nullptr, own.left + ((own.right - own.left) - (me.right - me.left)) / 2,
                 own.top + ((own.bottom - own.top) - (me.bottom - me.top)) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    SetFocus(edit);
    SendMessageW(edit, EM_SETSEL, 0, -1);  // fully selected
  }

  void SetControlFont(HWND dialog) {
    ScopedFont made = CreateFontFor(ScaleFont(design, dpi_));
    for (int id : {static_cast<int>(kPromptId), static_cast<int>(kEditId), IDOK, IDCANCEL})
      SendDlgItemMessageW(dialog, id, WM_SETFONT, reinterpret_cast<WPARAM>(made.Get()), TRUE);
    font_ = std::move(made);  // the old font goes once no control uses it
  }

  void ChangeDpi(HWND dialog, int dpi, const RECT& suggested) {
    for (int id : {static_cast<int>(kPromptId), static_cast<int>(kEditId), IDOK, IDCANCEL}) {
      HWND item = GetDlgItem(dialog, id);
      RECT r;
      GetWindowRect(item, &r);
      MapWindowPoints(HWND_DESKTOP, dialog, reinterpret_cast<POINT*>(&r), 2);
      const int left = MulDiv(r.left, dpi, dpi_), top = MulDiv(r.top, dpi, dpi_);
      MoveWindow(item, left, top, MulDiv(r.right, dpi, dpi_) - left, MulDiv(r.bottom, dpi, dpi_) - top, TRUE);
    }
    dpi_ = dpi;
    SetControlFont(dialog);
    TakeSuggestedRect(dialog, suggested);
  }

  static std::wstring EditText(HWND dialog) {
    HWND edit = GetDlgItem(dialog, kEditId);
    const int length = GetWindowTextLengthW(edit);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const int copied = GetWindowTextW(edit, &text[0], length + 1);
    text.resize(static_cast<std::size_t>(copied > 0 ? copied : 0));
    return text;
  }

  int dpi_ = kDesignDpi;
  ScopedFont font_;
};

}  // namespace

bool InputQuery(HWND owner, const std::string& caption, const std::string& prompt, std::string& value,
                int maxLength) {
  TInputDialog state;
  state.caption = WidenCp936(caption);
  state.prompt = WidenCp936(prompt);
  state.value = WidenCp936(value);
  state.maxLength = maxLength;
  state.design.name = "\xCE\xA2\xC8\xED\xD1\xC5\xBA\xDA";  // the window font
  state.design.height = 12;

  TemplateWriter t;
  t.Dword(DS_MODALFRAME | DS_SETFONT | WS_POPUP | WS_CAPTION | WS_SYSMENU);
  t.Dword(0);
  t.Word(4);  // items
  t.Word(0);
  t.Word(0);
  t.Word(180);
  t.Word(63);
  t.Word(0);  // no menu
  t.Word(0);  // default class
  t.Text(state.caption);
  t.Word(8);
  t.Text(L"MS Shell Dlg");
  t.Item(SS_LEFT | SS_NOPREFIX, 8, 6, 164, 10, kPromptId, 0x0082, L"");
  t.Item(ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 8, 18, 164, 12, kEditId, 0x0081, L"");
  t.Item(BS_DEFPUSHBUTTON | WS_TABSTOP, 46, 40, 50, 14, IDOK, 0x0080, L"OK");
  t.Item(BS_PUSHBUTTON | WS_TABSTOP, 100, 40, 50, 14, IDCANCEL, 0x0080, L"Cancel");

  const INT_PTR result =
      DialogBoxIndirectParamW(GetModuleHandleA(nullptr), t.Get(), owner, &TInputDialog::DialogProc,
                              reinterpret_cast<LPARAM>(&state));
  if (result != IDOK) return false;
  value = NarrowCp936(state.value);
  return true;
}
