// The send assistant: its pages shown one after the other in one modal
// window over the report box.
#include <algorithm>

#include "crash/box/BoxInternal.h"
#include "crash/report/BugReport.h"
#include "crash/report/ReportSettings.h"
#include "support/Registry.h"

const wchar_t kSendAssistantClass[] = L"QEXSendAssistant";
const char kRememberedContactKey[] = "Software\\Korvel\\ContactForm";

namespace {

const wchar_t kRememberName[] = L"RememberName";
const wchar_t kRememberEmail[] = L"RememberEmail";
constexpr int kClientWidth = 420;
constexpr int kMargin = 12;
constexpr int kImageWidth = 320, kImageHeight = 200;
constexpr UINT_PTR kPageTimer = 1;

// The inputs of every page shown, for the rest of the run (the handling
// thread is the only user).
FormCache& Cache() {
  static FormCache cache;
  return cache;
}

bool ReadRemembered(const wchar_t* name, std::wstring* value) {
  const std::optional<std::wstring> text =
      RegReadText(HKEY_CURRENT_USER, WideFromUtf8(kRememberedContactKey), name, KEY_READ);
  if (!text) return false;
  *value = *text;
  return true;
}

void WriteRemembered(bool remember, const std::wstring& name, const std::wstring& email) {
  const std::wstring key = WideFromUtf8(kRememberedContactKey);
  if (remember) {
    RegWriteText(HKEY_CURRENT_USER, key, kRememberName, name, KEY_WRITE);
    RegWriteText(HKEY_CURRENT_USER, key, kRememberEmail, email, KEY_WRITE);
  } else {
    RegDeleteValueIn(HKEY_CURRENT_USER, key, kRememberName, KEY_WRITE);
    RegDeleteValueIn(HKEY_CURRENT_USER, key, kRememberEmail, KEY_WRITE);
  }
}

std::wstring ControlText(HWND control) {
  const int length = GetWindowTextLengthW(control);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  GetWindowTextW(control, &text[0], length + 1);
  text.resize(static_cast<std::size_t>(length));
  return text;
}

FILETIME FileWriteTime(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return FILETIME{};
  return data.ftLastWriteTime;
}

bool SameTime(const FILETIME& a, const FILETIME& b) {
  return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

enum class PageExit { None, Continue, Skip, Cancel };

struct AssistantState;
LRESULT HandleAssistantMessage(AssistantState& s, HWND window, UINT message, WPARAM wParam, LPARAM lParam);

struct AssistantState {
  // The window's messages, through WindowProcFor; no exception leaves it.
  LRESULT HandleMessage(HWND w, UINT message, WPARAM wParam, LPARAM lParam) {
    return GuardedWindowCall([&] { return HandleAssistantMessage(*this, w, message, wParam, lParam); });
  }

  HWND window = nullptr;
  BoxFonts fonts;
  TNVForm form;
  std::vector<ScopedWindow> items;  // by item index, null for none
  HWND title = nullptr;
  HWND buttons[3] = {};
  PageExit exit = PageExit::None;
  std::shared_ptr<Screenshot> screenshot;
  ScopedGdiObject thumbnail;
  std::wstring bitmapPath;
  FILETIME bitmapTime = {};
  bool bitmapWritten = false;
  ScopedGdiObject invalidBrush{CreateSolidBrush(RGB(255, 200, 200))};

  int IndexOf(const std::string& name) const {
    for (std::size_t i = 0; i < form.items.size(); ++i)
      if (form.items[i].name == name) return static_cast<int>(i);
    return -1;
  }
  HWND Item(const std::string& name) const {
    const int i = IndexOf(name);
    return i < 0 ? nullptr : items[static_cast<std::size_t>(i)].Get();
  }
  FormValues Values() const {
    FormValues values;
    for (std::size_t i = 0; i < form.items.size(); ++i) {
      const TNVItem& item = form.items[i];
      if (item.kind == ItemKind::Edit) values[item.name] = Utf8FromWide(ControlText(items[i].Get()));
      if (item.kind == ItemKind::CheckBox)
        values[item.name] = SendMessageW(items[i].Get(), BM_GETCHECK, 0, 0) == BST_CHECKED ? "1" : "";
    }
    return values;
  }
};

void UpdateContinue(AssistantState& s) {
  EnableWindow(s.buttons[nbContinue], ContinueEnabled(s.form, s.Values()));
  for (std::size_t i = 0; i < s.form.items.size(); ++i)
    if (s.form.items[i].kind == ItemKind::Edit) InvalidateRect(s.items[i].Get(), nullptr, TRUE);
}

void MakeThumbnail(AssistantState& s) {
  s.thumbnail.Reset();
  if (!s.screenshot) return;
  s.thumbnail.Reset(ScreenshotBitmap(*s.screenshot));
  HWND image = s.Item(form_item::kScrShotImg);
  if (image) InvalidateRect(image, nullptr, TRUE);
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

LRESULT HandleAssistantMessage(AssistantState& s, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND: {
      const int id = LOWORD(wParam), code = HIWORD(wParam);
      if (id == kAssistContinueId && code == BN_CLICKED) {
        if (IsWindowEnabled(s.buttons[nbContinue])) s.exit = PageExit::Continue;
        return 0;
      }
      if (id == kAssistSkipId && code == BN_CLICKED) {
        if (IsWindowEnabled(s.buttons[nbSkip])) s.exit = PageExit::Skip;
        return 0;
      }
      if ((id == kAssistCancelId || id == IDCANCEL) && code == BN_CLICKED) {
        s.exit = PageExit::Cancel;
        return 0;
      }
      if (id == IDOK) {  // Enter from an edit: the Continue button
        if (IsWindowEnabled(s.buttons[nbContinue])) s.exit = PageExit::Continue;
        return 0;
      }
      const int index = id - kAssistItemBaseId;
      if (index >= 0 && index < static_cast<int>(s.form.items.size())) {
        const TNVItem& item = s.form.items[static_cast<std::size_t>(index)];
        if (item.kind == ItemKind::Edit && code == EN_CHANGE) UpdateContinue(s);
        if (item.kind == ItemKind::Image && code == STN_CLICKED) EditImage(s);
        return 0;
      }
      break;
    }
    case WM_CTLCOLOREDIT: {
      HWND control = reinterpret_cast<HWND>(lParam);
      const int index = GetDlgCtrlID(control) - kAssistItemBaseId;
      if (index >= 0 && index < static_cast<int>(s.form.items.size())) {
        const TNVItem& item = s.form.items[static_cast<std::size_t>(index)];
        const std::string text = Utf8FromWide(ControlText(control));
        // Mark a filled edit that fails its rule.
        if (!text.empty() && !ItemValid(item, text)) {
          SetBkColor(reinterpret_cast<HDC>(wParam), RGB(255, 200, 200));
          return reinterpret_cast<LRESULT>(s.invalidBrush.Get());
        }
      }
      break;
    }
    case WM_DRAWITEM: {
      const auto& item = *reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
      if (static_cast<int>(item.CtlID) == kAssistItemBaseId + s.IndexOf(form_item::kScrShotImg)) {
        DrawImage(s, item);
        return TRUE;
      }
      break;
    }
    case WM_TIMER:
      if (wParam == kPageTimer) CheckEditedImage(s);
      return 0;
    case WM_CLOSE:
      s.exit = PageExit::Cancel;
      return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

void ClearPage(AssistantState& s) {
  KillTimer(s.window, kPageTimer);
  s.items.clear();
  s.thumbnail.Reset();
}

// Builds the page's controls; returns the client height it needs.
int BuildPage(AssistantState& s, const FormValues& preset) {
  HFONT font = static_cast<HFONT>(s.fonts.text.Get());
  int y = kMargin + 26;
  const int width = kClientWidth - 2 * kMargin;
  for (std::size_t i = 0; i < s.form.items.size(); ++i) {
    const TNVItem& item = s.form.items[i];
    const int id = kAssistItemBaseId + static_cast<int>(i);
    auto value = preset.find(item.name);
    HWND control = nullptr;
    switch (item.kind) {
      case ItemKind::Label:
        control = AddChild(s.window, L"STATIC", WideFromUtf8(item.text), SS_LEFT, 0, id, kMargin, y, width, 16, font);
        y += 18;
        break;
      case ItemKind::Edit: {
        const int height = item.lines > 1 ? item.lines * 14 + 8 : 21;
        DWORD style = WS_TABSTOP | ES_AUTOHSCROLL;
        if (item.lines > 1) style = WS_TABSTOP | ES_MULTILINE | ES_WANTRETURN | ES_AUTOVSCROLL | WS_VSCROLL;
        control = AddChild(s.window, L"EDIT", value == preset.end() ? L"" : WideFromUtf8(value->second), style,
                           WS_EX_CLIENTEDGE, id, kMargin, y, width, height, font);
        y += height + 8;
        break;
      }
      case ItemKind::CheckBox: {
        control = AddChild(s.window, L"BUTTON", WideFromUtf8(item.text), BS_AUTOCHECKBOX | WS_TABSTOP, 0, id, kMargin, y,
                           width, 20, font);
        const bool checked = value == preset.end() ? item.checked : !value->second.empty();
        SendMessageW(control, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
        y += 24;
        break;
      }
      case ItemKind::Image:
        control = AddChild(s.window, L"STATIC", L"", SS_OWNERDRAW | SS_NOTIFY, WS_EX_CLIENTEDGE, id,
                           kMargin + (width - kImageWidth) / 2, y, kImageWidth, kImageHeight, nullptr);
        y += kImageHeight + 4;
        break;
    }
    s.items.emplace_back(control);
  }
  for (int b = 0; b < 3; ++b) EnableWindow(s.buttons[b], s.form.buttonEnabled[b]);
  if (s.form.timerPeriodMs > 0) SetTimer(s.window, kPageTimer, static_cast<UINT>(s.form.timerPeriodMs), nullptr);
  MakeThumbnail(s);
  return y + kMargin + 23 + kMargin;
}

void PlaceButtons(AssistantState& s, int clientHeight) {
  const int width = 80, height = 23;
  int x = kClientWidth - kMargin - width;
  for (int b = 2; b >= 0; --b) {
    MoveWindow(s.buttons[b], x, clientHeight - kMargin - height, width, height, TRUE);
    x -= width + 8;
  }
}

void FitWindow(AssistantState& s, int clientHeight, HWND owner) {
  RECT frame = {0, 0, kClientWidth, clientHeight};
  AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongW(s.window, GWL_STYLE)), FALSE,
                     static_cast<DWORD>(GetWindowLongW(s.window, GWL_EXSTYLE)));
  const int w = frame.right - frame.left, h = frame.bottom - frame.top;
  RECT around = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  if (owner && IsWindowVisible(owner)) GetWindowRect(owner, &around);
  const int x = std::max<LONG>(0, around.left + (around.right - around.left - w) / 2);
  const int y = std::max<LONG>(0, around.top + (around.bottom - around.top - h) / 2);
  SetWindowPos(s.window, nullptr, x, y, w, h, SWP_NOZORDER | SWP_NOACTIVATE);
  PlaceButtons(s, clientHeight);
}

}  // namespace

AssistantResult RunSendAssistant(HWND owner, BugReport& report, const ReportSettings& settings,
                                 const BoxOptions& options) {
  AssistantResult result;
  TNVAssistant assistant;
  std::string declaration;
  const std::string wanted = settings.Text("SendAssis");
  for (const char* slot : {"Assistant1", "Assistant2", "Assistant3"}) {
    TNVAssistant candidate;
    if (ParseAssistant(settings.Text(slot), &candidate) && candidate.name == wanted) {
      assistant = candidate;
      break;
    }
  }
  if (assistant.name.empty()) {  // no assistant configured: nothing to ask
    result.finished = true;
    return result;
  }

  AssistantState s;
  s.screenshot = options.screenshot;
  if (!options.tempFolder.empty()) s.bitmapPath = options.tempFolder + L"\\screenShot.bmp";
  RegisterBoxClass(kSendAssistantClass, WindowProcFor<AssistantState>, GetSysColorBrush(COLOR_BTNFACE));
  const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
  HWND window = CreateWindowExW(WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT, kSendAssistantClass,
                                WideFromUtf8(assistant.title).c_str(), style, 0, 0, 100, 100, owner, nullptr,
                                GetModuleHandleW(nullptr), &s);
  if (!window) return result;
  ScopedWindow ownedWindow(window);
  s.window = window;
  s.title = AddChild(window, L"STATIC", L"", SS_LEFT, 0, kAssistTitleId, kMargin, kMargin, kClientWidth - 2 * kMargin,
                     18, static_cast<HFONT>(s.fonts.bold.Get()));
  const wchar_t* captions[3] = {L"Continue", L"Skip", L"Cancel"};
  const int ids[3] = {kAssistContinueId, kAssistSkipId, kAssistCancelId};
  for (int b = 0; b < 3; ++b)
    s.buttons[b] = AddChild(window, L"BUTTON", captions[b], WS_TABSTOP | (b == 0 ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON), 0,
                            ids[b], 0, 0, 80, 23, static_cast<HFONT>(s.fonts.text.Get()));

  // Modal over the box: the box is disabled and not top-most meanwhile.
  const bool ownerWasEnabled = owner && IsWindowEnabled(owner);
  if (owner) {
    SetWindowPos(owner, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    EnableWindow(owner, FALSE);
  }

  std::vector<AssistantOutput> outputs;
  bool shown = false;
  for (const std::string& page : assistant.pages) {
    s.form = MakeForm(page);
    if (s.form.name.empty()) continue;
    const bool screenshotPage = s.form.name == "ScrShotForm";
    if (screenshotPage && !s.screenshot) continue;  // nothing to show or attach

    FormValues preset = Cache().Get(s.form.name);
    bool remembered = false;
    if (s.form.name == "ContactForm") {
      std::wstring name, email;
      const bool hasName = ReadRemembered(kRememberName, &name);
      const bool hasEmail = ReadRemembered(kRememberEmail, &email);
      if (hasName || hasEmail) {
        preset[form_item::kNameEdit] = Utf8FromWide(name);
        preset[form_item::kEmailEdit] = Utf8FromWide(email);
        preset[form_item::kMemCheck] = "1";
        remembered = true;
      }
    }
    ClearPage(s);
    FitWindow(s, BuildPage(s, preset), owner);
    UpdateContinue(s);
    // The title last: a page is complete once it shows its title.
    SetWindowTextW(s.title, WideFromUtf8(s.form.title).c_str());
    if (!shown) {
      ShowWindow(window, SW_SHOWNORMAL);
      SetForegroundWindow(window);
      shown = true;
    }
    HWND focus = s.form.activeItem == "Continue" || remembered ? s.buttons[nbContinue] : s.Item(s.form.activeItem);
    if (focus) SetFocus(focus);

    s.exit = PageExit::None;
    RunModalLoop(window, [&] { return s.exit != PageExit::None || !IsWindow(window); }, nullptr);
    if (!IsWindow(window)) break;
    const FormValues values = s.Values();
    Cache().Put(s.form.name, values);
    if (s.bitmapWritten) {
      DeleteFileW(s.bitmapPath.c_str());
      s.bitmapWritten = false;
    }
    if (s.exit == PageExit::Cancel) break;
    if (s.exit == PageExit::Skip) continue;

    if (s.form.name == "ContactForm") {
      auto name = values.find(form_item::kNameEdit), email = values.find(form_item::kEmailEdit);
      const std::string nameText = name == values.end() ? std::string() : name->second;
      const std::string emailText = email == values.end() ? std::string() : email->second;
      WriteRemembered(values.count(form_item::kMemCheck) && !values.at(form_item::kMemCheck).empty(),
                      WideFromUtf8(nameText), WideFromUtf8(emailText));
      result.sender = ContactSender(nameText, emailText);
    }
    if (screenshotPage) {
      auto attach = values.find(form_item::kAttachCheck);
      result.attachScreenshot = attach != values.end() && !attach->second.empty();
      result.screenshot = s.screenshot;
    }
    std::vector<AssistantOutput> pageOutputs = CollectOutputs(s.form, values);
    outputs.insert(outputs.end(), pageOutputs.begin(), pageOutputs.end());
  }
  // Pages skipped at the end (no screenshot) still finish the assistant.
  if (IsWindow(window) && s.exit != PageExit::Cancel) result.finished = true;

  ClearPage(s);
  if (owner) {
    EnableWindow(owner, ownerWasEnabled ? TRUE : FALSE);
    SetActiveWindow(owner);
  }
  if (!IsWindow(window)) ownedWindow.Release();  // gone already, with its owner
  ownedWindow.Reset();
  if (result.finished) ApplyAssistantOutputs(report, outputs);
  return result;
}
