// How the report box is built and laid out, and what the expanded view's
// tabs show: the report's header and sections, the call stacks as a list.
#include <algorithm>

#include "crash/box/ReportBoxState.h"

namespace report_box {

namespace {

const char* const kButtonTextSetting[kBoxButtonCount] = {"SendBtnTxt",     "SaveBtnTxt",    "PrintBtnTxt",
                                                         "ShowBtnTxt",     "ContinueBtnTxt", "RestartBtnTxt",
                                                         "CloseBtnTxt"};
const char* const kButtonVisibleSetting[kBoxButtonCount] = {"SendBtnVis",     "SaveBtnVis",    "PrintBtnVis",
                                                            "ShowBtnVis",     "ContinueBtnVis", "RestartBtnVis",
                                                            "CloseBtnVis"};
const char* const kCallStackColumnNames[7] = {"address", "offset", "module", "unit", "line", "line offset",
                                              "function"};

std::string FileTitle(const std::string& fileName) {
  const auto dot = fileName.rfind('.');
  return dot == std::string::npos || dot == 0 ? fileName : fileName.substr(0, dot);
}

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
    column.cx = s.Px(60);
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

// Message and buttons; the expanded view goes below.
int BaseClientHeight(const BoxState& s) {
  int visible = 0;
  for (int i = 0; i < kBoxButtonCount; ++i)
    if (!s.plain && s.settings.IsOn(kButtonVisibleSetting[i])) ++visible;
  const int buttonsHeight =
      s.plain ? s.Px(kPlainButtonHeight) : visible * (s.Px(kButtonHeight) + s.Px(kButtonGap)) - s.Px(kButtonGap);
  return std::max(s.Px(42 + 40), buttonsHeight) + 2 * s.Px(kMargin);
}

// The box's size at its dpi, centred on the screen.
void PlaceWindow(BoxState& s) {
  const DWORD style = static_cast<DWORD>(GetWindowLongW(s.window, GWL_STYLE));
  const DWORD exStyle = static_cast<DWORD>(GetWindowLongW(s.window, GWL_EXSTYLE));
  const TSize frame = FrameSize(style, exStyle, s.dpi);
  const int clientHeight = s.baseClientHeight + (s.plain ? s.Px(kPlainButtonHeight) + s.Px(kMargin) : 0);
  const int width = s.Px(s.plain ? 360 : kClientWidth) + frame.width;
  int height = clientHeight + frame.height + (s.expanded ? s.Px(kExpandedExtra) : 0);
  height = std::min(height, GetSystemMetrics(SM_CYSCREEN) - 5 * GetSystemMetrics(SM_CYCAPTION));
  const int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
  const int y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
  SetWindowPos(s.window, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

void SetFonts(const BoxState& s, const BoxFonts& fonts) {
  const auto text = reinterpret_cast<WPARAM>(fonts.text.Get());
  const auto report = reinterpret_cast<WPARAM>(fonts.report.Get());
  for (HWND control : {s.message, s.plainOk, s.plainDetails, s.tabs})
    if (control) SendMessageW(control, WM_SETFONT, text, FALSE);
  for (HWND button : s.buttons)
    if (button) SendMessageW(button, WM_SETFONT, text, FALSE);
  for (HWND control : {s.text, s.list})
    if (control) SendMessageW(control, WM_SETFONT, report, FALSE);
}

}  // namespace

void CreateBox(BoxState& s) {
  const bool expanded = s.expanded;
  PlaceholderValues values = s.options.placeholders;
  values.except_class = s.options.exceptionClass;
  values.except_msg = s.options.exceptionMessage;
  const std::string title = s.plain ? FileTitle(values.app_name) : ExpandPlaceholders(s.settings.Text("TitleBar"), values);
  const std::string message =
      s.plain ? (s.options.isFreeze ? s.settings.Text("FrozenMsg") : s.options.exceptionMessage)
              : ExpandPlaceholders(s.settings.Text(s.options.isFreeze ? "FrozenMsg" : "ExceptMsg"), values);

  DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN | DS_MODALFRAME;
  if (expanded) style |= WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;
  const DWORD exStyle = WS_EX_DLGMODALFRAME | WS_EX_TOPMOST | WS_EX_CONTROLPARENT;
  RegisterBoxClass(kReportBoxClass, WindowProcFor<BoxState>, GetSysColorBrush(COLOR_BTNFACE));
  // Sized once it exists: only then does it have a dpi of its own.
  CreateWindowExW(exStyle, kReportBoxClass, WideFromUtf8(title).c_str(), style, 0, 0, 0, 0, nullptr, nullptr,
                  GetModuleHandleW(nullptr), &s);
  if (!s.window) return;
  s.dpi = WindowDpi(s.window);
  s.fonts = BoxFonts(s.dpi);
  s.baseClientHeight = BaseClientHeight(s);
  PlaceWindow(s);
  HFONT font = static_cast<HFONT>(s.fonts.text.Get());

  if (!expanded) {
    // A box of fixed size keeps no size, minimise, maximise or restore entries.
    HMENU menu = GetSystemMenu(s.window, FALSE);
    for (UINT command : {SC_SIZE, SC_MINIMIZE, SC_MAXIMIZE, SC_RESTORE}) DeleteMenu(menu, command, MF_BYCOMMAND);
  }

  s.message = AddChild(s.window, L"STATIC", WideFromUtf8(message), SS_LEFT, 0, kBoxMessageId, 0, 0, 10, 10, font);
  if (s.plain) {
    if (s.options.showConfig == 2)
      s.plainDetails = AddChild(s.window, L"BUTTON", WideFromUtf8(s.settings.Text("DetailsBtnTxt")),
                                BS_OWNERDRAW | WS_TABSTOP, 0, kPlainDetailsId, 0, 0, 10, 10, font);
    s.plainOk = AddChild(s.window, L"BUTTON", WideFromUtf8(s.settings.Text("OkBtnTxt")), BS_OWNERDRAW | WS_TABSTOP, 0,
                         kPlainOkId, 0, 0, 10, 10, font);
    Layout(s);
    return;
  }

  for (int i = 0; i < kBoxButtonCount; ++i) {
    if (!s.settings.IsOn(kButtonVisibleSetting[i])) continue;
    s.buttons[i] = AddChild(s.window, L"BUTTON", WideFromUtf8(s.settings.Text(kButtonTextSetting[i])),
                            BS_OWNERDRAW | WS_TABSTOP, 0, kBoxButtonBaseId + i, 0, 0, 10, 10, font);
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

void Layout(BoxState& s) {
  RECT client;
  GetClientRect(s.window, &client);
  const int width = client.right;
  const auto Px = [&s](int designPixels) { return s.Px(designPixels); };
  if (s.plain) {
    if (s.message)
      MoveWindow(s.message, Px(kMargin + 42), Px(kMargin + 6), width - Px(2 * kMargin + 42), Px(60), TRUE);
    const int buttonWidth = Px(90), height = Px(kPlainButtonHeight);
    const int top = client.bottom - Px(kMargin) - height;
    int left = width - Px(kMargin) - buttonWidth;
    if (s.plainDetails) {
      MoveWindow(s.plainDetails, left, top, buttonWidth, height, TRUE);
      left -= buttonWidth + Px(kMargin);
    }
    if (s.plainOk) MoveWindow(s.plainOk, left, top, buttonWidth, height, TRUE);
    return;
  }
  int y = Px(kMargin);
  for (int i = 0; i < kBoxButtonCount; ++i) {
    if (!s.buttons[i]) continue;
    MoveWindow(s.buttons[i], width - Px(kMargin) - Px(kButtonWidth), y, Px(kButtonWidth), Px(kButtonHeight), TRUE);
    y += Px(kButtonHeight) + Px(kButtonGap);
  }
  if (s.message)
    MoveWindow(s.message, Px(kMargin + 42), Px(kMargin + 6), width - Px(3 * kMargin + 42) - Px(kButtonWidth), Px(60),
               TRUE);
  if (!s.tabs) return;
  const int top = s.baseClientHeight;
  RECT page = {Px(kMargin), top, width - Px(kMargin), std::max<LONG>(top + Px(40), client.bottom - Px(kMargin))};
  MoveWindow(s.tabs, page.left, page.top, page.right - page.left, page.bottom - page.top, TRUE);
  RECT inner = {0, 0, page.right - page.left, page.bottom - page.top};
  TabCtrl_AdjustRect(s.tabs, FALSE, &inner);
  MoveWindow(s.text, page.left + inner.left, page.top + inner.top, inner.right - inner.left, inner.bottom - inner.top,
             TRUE);
  MoveWindow(s.list, page.left + inner.left, page.top + inner.top, inner.right - inner.left, inner.bottom - inner.top,
             TRUE);
}

void ChangeDpi(BoxState& s, int dpi, LPARAM suggested) {
  s.dpi = dpi;
  s.baseClientHeight = BaseClientHeight(s);
  BoxFonts fonts(dpi);
  SetFonts(s, fonts);
  std::swap(s.fonts, fonts);  // the old set goes at the end, no control holds it any more
  TakeSuggestedRect(s.window, suggested);
  Layout(s);  // also when the rectangle kept the size
  // The call stack's columns follow the new font.
  if (s.list && IsWindowVisible(s.list)) ShowSelectedPage(s);
  RedrawWindow(s.window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
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

}  // namespace report_box
