// The report box: message, flat buttons and, expanded, the bug report in a
// tab control that follows the report while it is completed.
#include <algorithm>

#include "crash/box/ReportBoxState.h"

const wchar_t kReportBoxClass[] = L"QEXReportBox";

namespace {

using namespace report_box;

// Called on whichever thread changed the report: only posts, so it never
// touches the box state (which may be gone by the time it runs).
void ReportChanged(void* window, BugReport*) {
  PostMessageW(static_cast<HWND>(window), kReportChanged, 0, 0);
}

bool FireAction(BoxState& s, int action) {
  return s.options.onAction && s.options.onAction(action);
}

ButtonIcon IconOf(const BoxState& s, int index) {
  switch (index) {
    case bbSend: return ButtonIcon::Send;
    case bbSave: return ButtonIcon::Save;
    case bbPrint: return ButtonIcon::Print;
    case bbShow: return ButtonIcon::Show;
    case bbContinue: return s.options.canContinue ? ButtonIcon::Continue : ButtonIcon::CannotContinue;
    case bbRestart: return ButtonIcon::Restart;
    case bbClose: return ButtonIcon::Close;
  }
  return ButtonIcon::None;
}

// A short pressed look before the action runs, also for Enter.
void PressEffect(HWND button) {
  SendMessageW(button, BM_SETSTATE, TRUE, 0);
  UpdateWindow(button);
  Sleep(10);
  SendMessageW(button, BM_SETSTATE, FALSE, 0);
  UpdateWindow(button);
}

void SetTopMost(HWND window, bool topMost) {
  SetWindowPos(window, topMost ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

void Choose(BoxState& s, BoxChoice choice) {
  if (s.done) return;
  const int action = choice == BoxChoice::Continue ? baContinue : choice == BoxChoice::Restart ? baRestart : baClose;
  if (FireAction(s, action)) return;  // a handler cancelled it
  s.result.choice = choice;
  s.done = true;
}

BoxChoice ClosingChoice(const BoxState& s) {
  if (s.plain) return s.options.canContinue ? BoxChoice::Continue : BoxChoice::Close;
  return CloseChoice(static_cast<int>(s.settings.Number("FocusedBtn")), s.Visible(bbContinue), s.options.canContinue,
                     s.Visible(bbRestart), s.Visible(bbClose));
}

void Send(BoxState& s) {
  if (FireAction(s, baSend)) return;
  bool cancelled = false;
  std::shared_ptr<SendJob> job = SendBugReport(*s.report, s.settings, s.options, s.window, true, &cancelled);
  if (job) s.result.send = job;
  if (IsWindow(s.window) && !s.done) {
    SetTopMost(s.window, !(job && !job->Done()));
    SetFocus(s.buttons[bbSend]);
  }
}

void Press(BoxState& s, int index) {
  switch (index) {
    case bbSend:
      Send(s);
      break;
    case bbShow:
      if (FireAction(s, baShowBugReport)) break;
      s.result.reopenExpanded = true;
      s.done = true;
      break;
    case bbContinue:
      if (s.options.canContinue) Choose(s, BoxChoice::Continue);
      break;
    case bbRestart:
      Choose(s, BoxChoice::Restart);
      break;
    case bbClose:
      Choose(s, BoxChoice::Close);
      break;
    default:
      break;  // save and print are not part of this box
  }
}

void CopyToClipboard(HWND window, const std::string& text) {
  if (!OpenClipboard(window)) return;
  EmptyClipboard();
  std::wstring wide = WideFromUtf8(text);
  ScopedGlobalMemory memory(GlobalAlloc(GMEM_MOVEABLE, (wide.size() + 1) * sizeof(wchar_t)));
  if (memory) {
    void* to = GlobalLock(memory.Get());
    std::copy(wide.c_str(), wide.c_str() + wide.size() + 1, static_cast<wchar_t*>(to));
    GlobalUnlock(memory.Get());
    // The clipboard owns it once it took it.
    if (SetClipboardData(CF_UNICODETEXT, memory.Get())) memory.Release();
  }
  CloseClipboard();
}

LRESULT HandleBoxMessage(BoxState& s, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND: {
      const int id = LOWORD(wParam);
      if (HIWORD(wParam) != BN_CLICKED) break;
      if (id >= kBoxButtonBaseId && id < kBoxButtonBaseId + kBoxButtonCount) {
        Press(s, id - kBoxButtonBaseId);
        return 0;
      }
      if (id == kPlainOkId) {
        Choose(s, s.options.canContinue ? BoxChoice::Continue : BoxChoice::Close);
        return 0;
      }
      if (id == kPlainDetailsId) {
        s.result.reopenExpanded = true;
        s.done = true;
        return 0;
      }
      if (id == IDCANCEL) {
        Choose(s, ClosingChoice(s));
        return 0;
      }
      break;
    }
    case WM_CLOSE:
      Choose(s, ClosingChoice(s));
      return 0;
    case WM_DRAWITEM: {
      const auto& item = *reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
      const int index = static_cast<int>(item.CtlID) - kBoxButtonBaseId;
      if (index >= 0 && index < kBoxButtonCount) {
        DrawFlatButton(item, IconOf(s, index), index == s.defaultButton, static_cast<HFONT>(s.fonts.text.Get()),
                       s.dpi);
        return TRUE;
      }
      if (item.CtlID == kPlainOkId || item.CtlID == kPlainDetailsId) {
        DrawFlatButton(item, item.CtlID == kPlainOkId ? ButtonIcon::Continue : ButtonIcon::Show,
                       item.CtlID == kPlainOkId, static_cast<HFONT>(s.fonts.text.Get()), s.dpi);
        return TRUE;
      }
      break;
    }
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(window, &paint);
      DrawLargeErrorIcon(dc, s.Px(kMargin), s.Px(kMargin), s.Px(32));
      EndPaint(window, &paint);
      return 0;
    }
    case WM_CTLCOLORSTATIC:
      // The read-only report text keeps a white page.
      if (reinterpret_cast<HWND>(lParam) == s.text) return reinterpret_cast<LRESULT>(GetStockObject(WHITE_BRUSH));
      break;
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(lParam);
      if (header->hwndFrom == s.tabs && header->code == TCN_SELCHANGE) {
        ShowSelectedPage(s);
        return 0;
      }
      break;
    }
    case kReportChanged: {
      // Coalesce a burst of changes into one refresh.
      MSG pending;
      while (PeekMessageW(&pending, window, kReportChanged, kReportChanged, PM_REMOVE)) {
      }
      if (s.tabs) RefreshTabs(s);
      return 0;
    }
    case WM_SIZE:
      Layout(s);
      return 0;
    case WM_DPICHANGED:
      if (const int dpi = DpiChangeOf(wParam, lParam)) ChangeDpi(s, dpi, lParam);
      return 0;
    case WM_GETMINMAXINFO: {
      auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
      info->ptMaxTrackSize.y = GetSystemMetrics(SM_CYSCREEN) - 5 * GetSystemMetrics(SM_CYCAPTION);
      info->ptMinTrackSize.x = s.Px(kButtonWidth + 200);
      return 0;
    }
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

bool HandleKey(BoxState& s, const MSG& msg) {
  if (msg.message != WM_KEYDOWN) return false;
  switch (msg.wParam) {
    case VK_ESCAPE:
      Choose(s, ClosingChoice(s));
      return true;
    case VK_RETURN: {
      // The focused box button, else the default one.
      HWND focus = GetFocus();
      int index = s.defaultButton;
      for (int i = 0; i < kBoxButtonCount; ++i)
        if (s.buttons[i] && s.buttons[i] == focus) index = i;
      if (s.plain) {
        HWND target = focus == s.plainDetails && s.plainDetails ? s.plainDetails : s.plainOk;
        PressEffect(target);
        SendMessageW(s.window, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(target), BN_CLICKED),
                     reinterpret_cast<LPARAM>(target));
        return true;
      }
      if (!s.buttons[index] || !IsWindowEnabled(s.buttons[index])) return true;
      PressEffect(s.buttons[index]);
      Press(s, index);
      return true;
    }
    case VK_F1:
      FireAction(s, baHelp);
      return true;
    case 'C':
      if (GetKeyState(VK_CONTROL) < 0) {
        CopyToClipboard(s.window, s.expanded ? s.report->Text() : s.options.exceptionMessage);
        return true;
      }
      return false;
  }
  return false;
}

void Show(BoxState& s) {
  if (!s.options.reopened) MessageBeep(MB_ICONERROR);
  ShowWindow(s.window, SW_SHOWNORMAL);
  if (IsIconic(s.window)) ShowWindow(s.window, SW_RESTORE);
  SetTopMost(s.window, true);
  BringWindowToTop(s.window);
  SetForegroundWindow(s.window);
  HWND focus = s.plain ? s.plainOk : s.buttons[s.defaultButton];
  if (!focus) {
    for (HWND button : s.buttons)
      if (button && IsWindowEnabled(button)) {
        focus = button;
        break;
      }
  }
  if (focus) SetFocus(focus);
}

BoxResult RunBoxOnce(BugReport& report, const ReportSettings& settings, const BoxOptions& options) {
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_TAB_CLASSES | ICC_LISTVIEW_CLASSES};
  InitCommonControlsEx(&controls);

  BoxState s(settings);
  s.report = &report;
  s.options = options;
  s.plain = options.showConfig == 2 || options.showConfig == 3;
  s.expanded = !s.plain && settings.IsOn("AutoShowBugRep");
  if (s.expanded) s.settings.SetOn("ShowBtnVis", false);  // the report is shown already
  s.defaultButton = s.plain ? bbContinue : static_cast<int>(s.settings.Number("FocusedBtn"));
  if (s.defaultButton < 0 || s.defaultButton >= kBoxButtonCount) s.defaultButton = bbSend;

  CreateBox(s);
  if (!s.window) return s.result;
  ScopedWindow box(s.window);
  const auto listener = BugReport::ChangedEvent::FromFunction(ReportChanged, s.window);
  if (s.expanded) report.AddListener(listener);
  Show(s);
  RunModalLoop(s.window, [&] { return s.done || !IsWindow(s.window); },
               [&](const MSG& msg) { return HandleKey(s, msg); });
  if (s.expanded) report.RemoveListener(listener);
  if (!IsWindow(box.Get())) box.Release();  // closed already
  box.Reset();
  return s.result;
}

}  // namespace

LRESULT report_box::BoxState::HandleMessage(HWND w, UINT message, WPARAM wParam, LPARAM lParam) {
  return GuardedWindowCall([&]() -> LRESULT {
    if (message == WM_NCCREATE) window = w;
    return HandleBoxMessage(*this, w, message, wParam, lParam);
  });
}

BoxResult ShowReportBox(BugReport& report, const ReportSettings& settings, const BoxOptions& options) {
  if (options.showConfig == 4) return BoxResult();
  BoxResult result = RunBoxOnce(report, settings, options);
  std::shared_ptr<SendJob> lastSend = result.send;
  while (result.reopenExpanded) {
    // "show bug report" and "&Details": the same exception, shown expanded
    // and never closing by itself.
    ReportSettings expanded = settings;
    expanded.SetOn("AutoShowBugRep", true);
    expanded.SetOn("AutoContinue", false);
    expanded.SetNumber("AutoRestart", 0);
    expanded.SetNumber("AutoClose", 0);
    BoxOptions again = options;
    again.reopened = true;
    again.showConfig = 0;
    result = RunBoxOnce(report, expanded, again);
    if (result.send) lastSend = result.send;
  }
  result.send = lastSend;
  return result;
}
