// The send assistant's pages: their controls, and the screenshot page's
// image.
#include <algorithm>

#include "crash/box/SendAssistantState.h"

namespace send_assistant {

namespace {

FILETIME FileWriteTime(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return FILETIME{};
  return data.ftLastWriteTime;
}

bool SameTime(const FILETIME& a, const FILETIME& b) {
  return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

void MakeThumbnail(AssistantState& s) {
  s.thumbnail.Reset();
  if (!s.screenshot) return;
  s.thumbnail.Reset(ScreenshotBitmap(*s.screenshot));
  HWND image = s.Item(form_item::kScrShotImg);
  if (image) InvalidateRect(image, nullptr, TRUE);
}

// The height of a line of text in that font.
int LineHeight(HWND window, const ScopedGdiObject& font) {
  const ScopedWindowDc dc(window);
  const HGDIOBJ old = SelectObject(dc.Get(), font.Get());
  TEXTMETRICW metrics = {};
  GetTextMetricsW(dc.Get(), &metrics);
  SelectObject(dc.Get(), old);
  return metrics.tmHeight;
}

void Place(HWND control, const TBounds& place) {
  if (control) MoveWindow(control, place.left, place.top, place.width, place.height, TRUE);
}

}  // namespace

std::wstring ControlText(HWND control) {
  const int length = GetWindowTextLengthW(control);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  GetWindowTextW(control, &text[0], length + 1);
  text.resize(static_cast<std::size_t>(length));
  return text;
}

void UpdateContinue(AssistantState& s) {
  EnableWindow(s.buttons[nbContinue], ContinueEnabled(s.form, s.Values()));
  for (std::size_t i = 0; i < s.form.items.size(); ++i)
    if (s.form.items[i].kind == ItemKind::Edit) InvalidateRect(s.items[i].Get(), nullptr, TRUE);
}

void DrawImage(AssistantState& s, const DRAWITEMSTRUCT& item) {
  FillRect(item.hDC, &item.rcItem, GetSysColorBrush(COLOR_BTNFACE));
  if (!s.thumbnail || !s.screenshot) return;
  const int width = item.rcItem.right - item.rcItem.left, height = item.rcItem.bottom - item.rcItem.top;
  // Keep the screen's proportions inside the frame.
  int w = width, h = static_cast<int>(static_cast<long long>(s.screenshot->height) * width / s.screenshot->width);
  if (h > height) {
    h = height;
    w = static_cast<int>(static_cast<long long>(s.screenshot->width) * height / s.screenshot->height);
  }
  const ScopedMemoryDc memory(CreateCompatibleDC(item.hDC));
  HGDIOBJ old = SelectObject(memory.Get(), s.thumbnail.Get());
  SetStretchBltMode(item.hDC, HALFTONE);
  StretchBlt(item.hDC, item.rcItem.left + (width - w) / 2, item.rcItem.top + (height - h) / 2, w, h, memory.Get(), 0,
             0, s.screenshot->width, s.screenshot->height, SRCCOPY);
  SelectObject(memory.Get(), old);
}

void EditImage(AssistantState& s) {
  if (!s.screenshot || s.bitmapPath.empty()) return;
  if (!SaveScreenshotBmp(*s.screenshot, s.bitmapPath)) return;
  s.bitmapWritten = true;
  s.bitmapTime = FileWriteTime(s.bitmapPath);
  // The user's image editor, as the shell knows it.
  auto started = reinterpret_cast<INT_PTR>(
      ShellExecuteW(s.window, L"edit", s.bitmapPath.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
  if (started <= 32) ShellExecuteW(s.window, L"open", s.bitmapPath.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

void CheckEditedImage(AssistantState& s) {
  if (!s.bitmapWritten) return;
  const FILETIME now = FileWriteTime(s.bitmapPath);
  if (SameTime(now, s.bitmapTime) || (now.dwLowDateTime == 0 && now.dwHighDateTime == 0)) return;
  std::shared_ptr<Screenshot> edited = LoadScreenshotBmp(s.bitmapPath);
  if (!edited) return;  // still being written: try again at the next tick
  s.bitmapTime = now;
  s.screenshot = edited;
  MakeThumbnail(s);
}

void ClearPage(AssistantState& s) {
  KillTimer(s.window, kPageTimer);
  s.items.clear();
  s.thumbnail.Reset();
}

int BuildPage(AssistantState& s, const FormValues& preset) {
  HFONT font = static_cast<HFONT>(s.fonts.text.Get());
  for (std::size_t i = 0; i < s.form.items.size(); ++i) {
    const TNVItem& item = s.form.items[i];
    const int id = kAssistItemBaseId + static_cast<int>(i);
    auto value = preset.find(item.name);
    HWND control = nullptr;
    switch (item.kind) {
      case ItemKind::Label:
        control = AddChild(s.window, L"STATIC", WideFromUtf8(item.text), SS_LEFT, 0, id, 0, 0, 10, 10, font);
        break;
      case ItemKind::Edit: {
        DWORD style = WS_TABSTOP | ES_AUTOHSCROLL;
        if (item.lines > 1) style = WS_TABSTOP | ES_MULTILINE | ES_WANTRETURN | ES_AUTOVSCROLL | WS_VSCROLL;
        control = AddChild(s.window, L"EDIT", value == preset.end() ? L"" : WideFromUtf8(value->second), style,
                           WS_EX_CLIENTEDGE, id, 0, 0, 10, 10, font);
        break;
      }
      case ItemKind::CheckBox: {
        control = AddChild(s.window, L"BUTTON", WideFromUtf8(item.text), BS_AUTOCHECKBOX | WS_TABSTOP, 0, id, 0, 0,
                           10, 10, font);
        const bool checked = value == preset.end() ? item.checked : !value->second.empty();
        SendMessageW(control, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
        break;
      }
      case ItemKind::Image:
        control = AddChild(s.window, L"STATIC", L"", SS_OWNERDRAW | SS_NOTIFY, WS_EX_CLIENTEDGE, id, 0, 0, 10, 10,
                           nullptr);
        break;
    }
    s.items.emplace_back(control);
  }
  for (int b = 0; b < 3; ++b) EnableWindow(s.buttons[b], s.form.buttonEnabled[b]);
  if (s.form.timerPeriodMs > 0) SetTimer(s.window, kPageTimer, static_cast<UINT>(s.form.timerPeriodMs), nullptr);
  MakeThumbnail(s);
  return LayOutControls(s);
}

int LayOutControls(AssistantState& s) {
  const PageLayout layout =
      LayOutPage(s.form, s.dpi, LineHeight(s.window, s.fonts.bold), LineHeight(s.window, s.fonts.text));
  Place(s.title, layout.title);
  for (std::size_t i = 0; i < s.items.size() && i < layout.items.size(); ++i) Place(s.items[i].Get(), layout.items[i]);
  for (int b = 0; b < 3; ++b) Place(s.buttons[b], layout.buttons[b]);
  return layout.clientHeight;
}

void ChangeDpi(AssistantState& s, int dpi, LPARAM suggested) {
  s.dpi = dpi;
  BoxFonts fonts(dpi);
  const auto text = reinterpret_cast<WPARAM>(fonts.text.Get());
  SendMessageW(s.title, WM_SETFONT, reinterpret_cast<WPARAM>(fonts.bold.Get()), FALSE);
  for (HWND button : s.buttons) SendMessageW(button, WM_SETFONT, text, FALSE);
  for (std::size_t i = 0; i < s.items.size(); ++i)
    if (s.items[i] && s.form.items[i].kind != ItemKind::Image) SendMessageW(s.items[i].Get(), WM_SETFONT, text, FALSE);
  std::swap(s.fonts, fonts);  // the old set goes at the end, no control holds it any more
  TakeSuggestedRect(s.window, suggested);
  LayOutControls(s);
  RedrawWindow(s.window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void FitWindow(AssistantState& s, int clientHeight, HWND owner) {
  const TSize frame = FrameSize(static_cast<DWORD>(GetWindowLongW(s.window, GWL_STYLE)),
                                static_cast<DWORD>(GetWindowLongW(s.window, GWL_EXSTYLE)), s.dpi);
  const int w = ScaleToDpi(kClientWidth, s.dpi) + frame.width, h = clientHeight + frame.height;
  RECT around = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  if (owner && IsWindowVisible(owner)) GetWindowRect(owner, &around);
  const int x = std::max<LONG>(0, around.left + (around.right - around.left - w) / 2);
  const int y = std::max<LONG>(0, around.top + (around.bottom - around.top - h) / 2);
  SetWindowPos(s.window, nullptr, x, y, w, h, SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace send_assistant
