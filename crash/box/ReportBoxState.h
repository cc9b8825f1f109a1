// The report box's state and the pieces its two files share: the window's
// behaviour (ReportBox_win.cpp) and how it is built and laid out, with the
// expanded view's tabs (ReportBoxView_win.cpp). Handling thread only.
#pragma once

#include <vector>

#include "crash/box/BoxInternal.h"
#include "crash/report/BugReport.h"
#include "crash/report/ReportSettings.h"

namespace report_box {

constexpr UINT kReportChanged = WM_APP + 1;
constexpr int kClientWidth = 560;
constexpr int kMargin = 10;
constexpr int kButtonWidth = 170;
constexpr int kButtonHeight = 22;
constexpr int kButtonGap = 4;
constexpr int kPlainButtonHeight = 23;
constexpr int kExpandedExtra = 491;

struct BoxState {
  // The box's messages, through WindowProcFor; no exception leaves it.
  LRESULT HandleMessage(HWND w, UINT message, WPARAM wParam, LPARAM lParam);

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
  // The window's dots per inch and the fonts at them: set once the window
  // exists, again on WM_DPICHANGED.
  int dpi = kDesignDpi;
  BoxFonts fonts;
  std::vector<BoxTab> tabList;
  int baseClientHeight = 0;

  bool done = false;
  BoxResult result;

  explicit BoxState(const ReportSettings& s) : settings(s) {}

  bool Visible(int index) const { return buttons[index] != nullptr; }
  int Px(int designPixels) const { return ScaledPx(designPixels, dpi); }
};

// Creates the box's window and controls; s.window stays null when it cannot.
void CreateBox(BoxState& s);
// Buttons, message and the expanded view placed for the window's size and dpi.
void Layout(BoxState& s);
// WM_DPICHANGED: fonts and layout at the new dpi, in the suggested rectangle.
void ChangeDpi(BoxState& s, int dpi, LPARAM suggested);
// The tab titles follow the report's sections (the assistant adds one).
void RefreshTabs(BoxState& s);
void ShowSelectedPage(BoxState& s);

}  // namespace report_box
