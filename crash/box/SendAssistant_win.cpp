// The send assistant: its pages shown one after the other in one modal
// window over the report box.
#include <algorithm>

#include "crash/box/SendAssistantState.h"
#include "crash/report/BugReport.h"
#include "crash/report/ReportSettings.h"
#include "support/Registry.h"

const wchar_t kSendAssistantClass[] = L"QEXSendAssistant";
const char kRememberedContactKey[] = "Software\\Korvel\\ContactForm";

namespace {

using namespace send_assistant;

const wchar_t kRememberName[] = L"RememberName";
const wchar_t kRememberEmail[] = L"RememberEmail";
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
    case WM_DPICHANGED:
      if (const int dpi = DpiChangeOf(wParam, lParam)) ChangeDpi(s, dpi, lParam);
      return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

LRESULT send_assistant::AssistantState::HandleMessage(HWND w, UINT message, WPARAM wParam, LPARAM lParam) {
  return GuardedWindowCall([&] { return HandleAssistantMessage(*this, w, message, wParam, lParam); });
}

AssistantResult RunSendAssistant(HWND owner, BugReport& report, const ReportSettings& settings,
                                 const BoxOptions& options) {
  AssistantResult result;
  TNVAssistant assistant;
  if (!FindAssistant(settings, settings.Text("SendAssis"), &assistant)) {  // nothing to ask
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
  // Laid out with each page, at the window's own dpi.
  s.dpi = WindowDpi(window);
  s.fonts = BoxFonts(s.dpi);
  s.title = AddChild(window, L"STATIC", L"", SS_LEFT, 0, kAssistTitleId, 0, 0, 10, 10,
                     static_cast<HFONT>(s.fonts.bold.Get()));
  const wchar_t* captions[3] = {L"Continue", L"Skip", L"Cancel"};
  const int ids[3] = {kAssistContinueId, kAssistSkipId, kAssistCancelId};
  for (int b = 0; b < 3; ++b)
    s.buttons[b] = AddChild(window, L"BUTTON", captions[b], WS_TABSTOP | (b == 0 ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON), 0,
                            ids[b], 0, 0, 10, 10, static_cast<HFONT>(s.fonts.text.Get()));

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
