// The report box: message, flat buttons and, expanded, the bug report in a
// tab control that follows the report while it is completed.
#include <algorithm>

#include "crash/box/BoxInternal.h"
#include "crash/report/BugReport.h"
#include "crash/report/ReportSettings.h"

const wchar_t kReportBoxClass[] = L"QEXReportBox";

namespace {

constexpr UINT kReportChanged = WM_APP + 1;
constexpr int kClientWidth = 560;
constexpr int kMargin = 10;
constexpr int kButtonWidth = 170;
constexpr int kButtonHeight = 22;
constexpr int kButtonGap = 4;
constexpr int kPlainButtonHeight = 23;
constexpr int kExpandedExtra = 491;

const char* const kButtonTextSetting[kBoxButtonCount] = {"SendBtnTxt",     "SaveBtnTxt",    "PrintBtnTxt",
                                                         "ShowBtnTxt",     "ContinueBtnTxt", "RestartBtnTxt",
                                                         "CloseBtnTxt"};
const char* const kButtonVisibleSetting[kBoxButtonCount] = {"SendBtnVis",     "SaveBtnVis",    "PrintBtnVis",
                                                            "ShowBtnVis",     "ContinueBtnVis", "RestartBtnVis",
                                                            "CloseBtnVis"};
const char* const kCallStackColumnNames[7] = {"address", "offset", "module", "unit", "line", "line offset",
                                              "function"};

struct BoxState;
LRESULT HandleBoxMessage(BoxState& s, HWND window, UINT message, WPARAM wParam, LPARAM lParam);

struct BoxState {
  // The box's messages, through WindowProcFor; no exception leaves it.
  LRESULT HandleMessage(HWND w, UINT message, WPARAM wParam, LPARAM lParam) {
    return GuardedWindowCall([&]() -> LRESULT {
      if (message == WM_NCCREATE) window = w;
      return HandleBoxMessage(*this, w, message, wParam, lParam);
    });
  }

  BugReport* report = nullptr;
  ReportSettings settings;
  BoxOptions options;
  bool plain = false;
  bool expanded = false;

  HWND window = nullptr;
  HWND buttons[kBoxButtonCount] = {};
  HWND plainOk = nullptr, plainDetails = nullptr;
  HWND message = nullptr, tabs = nullptr, text = nullptr, list = nullptr;
  int defaultButton = bbSend;
  BoxFonts fonts;
  std::vector<BoxTab> tabList;
  int baseClientHeight = 0;

  bool done = false;
  BoxResult result;

  explicit BoxState(const ReportSettings& s) : settings(s) {}

  bool Visible(int index) const { return buttons[index] != nullptr; }
};

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

void Layout(BoxState& s) {
  RECT client;
  GetClientRect(s.window, &client);
  const int width = client.right;
  int y = kMargin;
  for (int i = 0; i < kBoxButtonCount; ++i) {
    if (!s.buttons[i]) continue;
    MoveWindow(s.buttons[i], width - kMargin - kButtonWidth, y, kButtonWidth, kButtonHeight, TRUE);
    y += kButtonHeight + kButtonGap;
  }
  if (s.message) MoveWindow(s.message, kMargin + 42, kMargin + 6, width - 3 * kMargin - 42 - kButtonWidth, 60, TRUE);
  if (!s.tabs) return;
  const int top = s.baseClientHeight;
  RECT page = {kMargin, top, width - kMargin, std::max<LONG>(top + 40, client.bottom - kMargin)};
  MoveWindow(s.tabs, page.left, page.top, page.right - page.left, page.bottom - page.top, TRUE);
  RECT inner = {0, 0, page.right - page.left, page.bottom - page.top};
  TabCtrl_AdjustRect(s.tabs, FALSE, &inner);
  MoveWindow(s.text, page.left + inner.left, page.top + inner.top, inner.right - inner.left, inner.bottom - inner.top,
             TRUE);
  MoveWindow(s.list, page.left + inner.left, page.top + inner.top, inner.right - inner.left, inner.bottom - inner.top,
             TRUE);
}

// --- the expanded view ---

void FillCallStack(BoxState& s, const std::string& content) {
  SendMessageW(s.list, WM_SETREDRAW, FALSE, 0);
  ListView_DeleteAllItems(s.list);
  while (ListView_DeleteColumn(s.list, 0)) {
  }
  std::vector<std::vector<std::string>> rows = SplitCallStackColumns(content);
  std::size_t columns = 0;
  for (const auto& row : rows) columns = std::max(columns, row.size());
  for (std::size_t c = 0; c < columns; ++c) {
    std::wstring name = columns == 7 ? WideFromUtf8(kCallStackColumnNames[c]) : std::wstring();
    LVCOLUMNW column = {};
    column.mask = LVCF_TEXT | LVCF_WIDTH;
    column.pszText = &name[0];
    column.cx = 60;
    SendMessageW(s.list, LVM_INSERTCOLUMNW, c, reinterpret_cast<LPARAM>(&column));
  }
  for (std::size_t r = 0; r < rows.size(); ++r) {
    for (std::size_t c = 0; c < rows[r].size(); ++c) {
      std::wstring cell = WideFromUtf8(rows[r][c]);
      if (c == 0) {
        LVITEMW item = {};
        item.mask = LVIF_TEXT;
        item.iItem = static_cast<int>(r);
        item.pszText = &cell[0];
        SendMessageW(s.list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
      } else {
        LVITEMW item = {};
        item.iSubItem = static_cast<int>(c);
        item.pszText = &cell[0];
        SendMessageW(s.list, LVM_SETITEMTEXTW, r, reinterpret_cast<LPARAM>(&item));
      }
    }
  }
  for (std::size_t c = 0; c < columns; ++c) ListView_SetColumnWidth(s.list, static_cast<int>(c), LVSCW_AUTOSIZE_USEHEADER);
  SendMessageW(s.list, WM_SETREDRAW, TRUE, 0);
  InvalidateRect(s.list, nullptr, TRUE);
}

void ShowSelectedPage(BoxState& s) {
  if (!s.tabs) return;
  const int selected = TabCtrl_GetCurSel(s.tabs);
  if (selected < 0 || selected >= static_cast<int>(s.tabList.size())) return;
  const BoxTab& tab = s.tabList[selected];
  const std::string text = s.report->Text();
  if (tab.callStack) {
    FillCallStack(s, SectionPart(text, tab.section));
    ShowWindow(s.text, SW_HIDE);
    ShowWindow(s.list, SW_SHOW);
  } else {
    const std::string part = tab.section.empty() ? HeaderPart(text) : SectionPart(text, tab.section);
    SetWindowTextW(s.text, WideFromUtf8(part).c_str());
    ShowWindow(s.list, SW_HIDE);
    ShowWindow(s.text, SW_SHOW);
  }
}

// The tab titles follow the report's sections (the assistant adds one).
void RefreshTabs(BoxState& s) {
  std::vector<BoxTab> tabs = BuildBoxTabs(s.report->Sections().Snapshot());
  bool same = tabs.size() == s.tabList.size();
  for (std::size_t i = 0; same && i < tabs.size(); ++i)
    same = tabs[i].title == s.tabList[i].title && tabs[i].section == s.tabList[i].section;
  if (!same) {
    int selected = std::max(0, TabCtrl_GetCurSel(s.tabs));
    TabCtrl_DeleteAllItems(s.tabs);
    for (std::size_t i = 0; i < tabs.size(); ++i) {
      std::wstring title = WideFromUtf8(tabs[i].title);
      TCITEMW item = {};
      item.mask = TCIF_TEXT;
      item.pszText = &title[0];
      SendMessageW(s.tabs, TCM_INSERTITEMW, i, reinterpret_cast<LPARAM>(&item));
    }
    s.tabList = tabs;
    TabCtrl_SetCurSel(s.tabs, std::min<int>(selected, static_cast<int>(tabs.size()) - 1));
    Layout(s);  // the page area depends on the tab rows
  }
  ShowSelectedPage(s);
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
        DrawFlatButton(item, IconOf(s, index), index == s.defaultButton, static_cast<HFONT>(s.fonts.text.Get()));
        return TRUE;
      }
      if (item.CtlID == kPlainOkId || item.CtlID == kPlainDetailsId) {
        DrawFlatButton(item, item.CtlID == kPlainOkId ? ButtonIcon::Continue : ButtonIcon::Show,
                       item.CtlID == kPlainOkId, static_cast<HFONT>(s.fonts.text.Get()));
        return TRUE;
      }
      break;
    }
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(window, &paint);
      DrawLargeErrorIcon(dc, kMargin, kMargin);
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
    case WM_GETMINMAXINFO: {
      auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
      info->ptMaxTrackSize.y = GetSystemMetrics(SM_CYSCREEN) - 5 * GetSystemMetrics(SM_CYCAPTION);
      info->ptMinTrackSize.x = kButtonWidth + 200;
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

std::string FileTitle(const std::string& fileName) {
  const auto dot = fileName.rfind('.');
  return dot == std::string::npos || dot == 0 ? fileName : fileName.substr(0, dot);
}

void CreateBox(BoxState& s) {
  const bool expanded = s.expanded;
  PlaceholderValues values = s.options.placeholders;
  values.except_class = s.options.exceptionClass;
  values.except_msg = s.options.exceptionMessage;
  const std::string title = s.plain ? FileTitle(values.app_name) : ExpandPlaceholders(s.settings.Text("TitleBar"), values);
  const std::string message =
      s.plain ? (s.options.isFreeze ? s.settings.Text("FrozenMsg") : s.options.exceptionMessage)
              : ExpandPlaceholders(s.settings.Text(s.options.isFreeze ? "FrozenMsg" : "ExceptMsg"), values);

  int visible = 0;
  for (int i = 0; i < kBoxButtonCount; ++i)
    if (!s.plain && s.settings.IsOn(kButtonVisibleSetting[i])) ++visible;
  const int buttonsHeight = s.plain ? kPlainButtonHeight : visible * (kButtonHeight + kButtonGap) - kButtonGap;
  s.baseClientHeight = std::max(42 + 40, buttonsHeight) + 2 * kMargin;

  DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN | DS_MODALFRAME;
  if (expanded) style |= WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;
  const DWORD exStyle = WS_EX_DLGMODALFRAME | WS_EX_TOPMOST | WS_EX_CONTROLPARENT;
  const int clientWidth = s.plain ? 360 : kClientWidth;
  RECT frame = {0, 0, clientWidth, s.baseClientHeight + (s.plain ? kPlainButtonHeight + kMargin : 0)};
  AdjustWindowRectEx(&frame, style, FALSE, exStyle);
  int width = frame.right - frame.left;
  int height = frame.bottom - frame.top + (expanded ? kExpandedExtra : 0);
  height = std::min(height, GetSystemMetrics(SM_CYSCREEN) - 5 * GetSystemMetrics(SM_CYCAPTION));
  const int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
  const int y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;

  RegisterBoxClass(kReportBoxClass, WindowProcFor<BoxState>, GetSysColorBrush(COLOR_BTNFACE));
  CreateWindowExW(exStyle, kReportBoxClass, WideFromUtf8(title).c_str(), style, x, y, width, height, nullptr, nullptr,
                  GetModuleHandleW(nullptr), &s);
  if (!s.window) return;
  HFONT font = static_cast<HFONT>(s.fonts.text.Get());

  if (!expanded) {
    // A box of fixed size keeps no size, minimise, maximise or restore entries.
    HMENU menu = GetSystemMenu(s.window, FALSE);
    for (UINT command : {SC_SIZE, SC_MINIMIZE, SC_MAXIMIZE, SC_RESTORE}) DeleteMenu(menu, command, MF_BYCOMMAND);
  }

  if (s.plain) {
    RECT client;
    GetClientRect(s.window, &client);
    s.message = AddChild(s.window, L"STATIC", WideFromUtf8(message), SS_LEFT, 0, kBoxMessageId, kMargin + 42,
                         kMargin + 6, client.right - 2 * kMargin - 42, 60, font);
    const int buttonWidth = 90;
    const int top = client.bottom - kMargin - kPlainButtonHeight;
    int left = client.right - kMargin - buttonWidth;
    if (s.options.showConfig == 2) {
      s.plainDetails = AddChild(s.window, L"BUTTON", WideFromUtf8(s.settings.Text("DetailsBtnTxt")),
                                BS_OWNERDRAW | WS_TABSTOP, 0, kPlainDetailsId, left, top, buttonWidth,
                                kPlainButtonHeight, font);
      left -= buttonWidth + kMargin;
    }
    s.plainOk = AddChild(s.window, L"BUTTON", WideFromUtf8(s.settings.Text("OkBtnTxt")), BS_OWNERDRAW | WS_TABSTOP, 0,
                         kPlainOkId, left, top, buttonWidth, kPlainButtonHeight, font);
    return;
  }

  s.message = AddChild(s.window, L"STATIC", WideFromUtf8(message), SS_LEFT, 0, kBoxMessageId, 0, 0, 10, 10, font);
  for (int i = 0; i < kBoxButtonCount; ++i) {
    if (!s.settings.IsOn(kButtonVisibleSetting[i])) continue;
    s.buttons[i] = AddChild(s.window, L"BUTTON", WideFromUtf8(s.settings.Text(kButtonTextSetting[i])),
                            BS_OWNERDRAW | WS_TABSTOP, 0, kBoxButtonBaseId + i, 0, 0, kButtonWidth, kButtonHeight,
                            font);
  }
  if (s.buttons[bbContinue] && !s.options.canContinue && (s.buttons[bbRestart] || s.buttons[bbClose]))
    EnableWindow(s.buttons[bbContinue], FALSE);

  if (expanded) {
    s.tabs = AddChild(s.window, WC_TABCONTROLW, L"", WS_TABSTOP | WS_CLIPSIBLINGS, 0, kBoxTabsId, 0, 0, 10, 10, font);
    s.text = AddChild(s.window, L"EDIT", L"",
                      ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | ES_AUTOHSCROLL | WS_VSCROLL | WS_HSCROLL | WS_TABSTOP,
                      WS_EX_CLIENTEDGE, kBoxReportTextId, 0, 0, 10, 10, static_cast<HFONT>(s.fonts.report.Get()));
    s.list = AddChild(s.window, WC_LISTVIEWW, L"", LVS_REPORT | LVS_NOSORTHEADER | WS_TABSTOP, WS_EX_CLIENTEDGE,
                      kBoxCallStackId, 0, 0, 10, 10, static_cast<HFONT>(s.fonts.report.Get()));
    ListView_SetExtendedListViewStyle(s.list, LVS_EX_FULLROWSELECT);
    SetWindowPos(s.tabs, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  }
  Layout(s);
  if (expanded) RefreshTabs(s);
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
