// The tray icon component with the shell call replaced by a recorder.
#include <gtest/gtest.h>

#include <vector>

#include "toolkit/TrayIcons.h"
#include "toolkit/Application.h"

namespace {

struct ShellCall {
  DWORD message;
  NOTIFYICONDATAA record;
};
std::vector<ShellCall> g_calls;
BOOL g_shellAnswer = TRUE;

BOOL WINAPI RecordShell(DWORD message, PNOTIFYICONDATAA data) {
  g_calls.push_back({message, *data});
  return g_shellAnswer;
}

#if defined(__i386__)
static_assert(NOTIFYICONDATAA_V1_SIZE == 88, "the first form of the record is 88 bytes on 32-bit Windows");
#endif

class TrayIcon : public ::testing::Test {
 protected:
  void SetUp() override {
    g_calls.clear();
    g_shellAnswer = TRUE;
    TTrayIcon::NotifyFunction() = &RecordShell;
    tray = new TTrayIcon(nullptr);
  }
  void TearDown() override { delete tray; }

  void Callback(UINT mouseMessage) { SendMessageA(tray->WindowHandle(), kTrayIconCallback, 0, mouseMessage); }

  TTrayIcon* tray = nullptr;
  int clicks = 0, doubleClicks = 0, rightClicks = 0, moves = 0;

 public:
  void Click(TObject*) { ++clicks; }
  void DblClick(TObject*) { ++doubleClicks; }
  void RightClick(TObject*, TMouseButton button, TShiftState, int, int) {
    EXPECT_EQ(button, mbRight);
    ++rightClicks;
  }
  void Move(TObject*, TShiftState, int, int) { ++moves; }
};

TEST_F(TrayIcon, CreatingAndDestroyingWithoutActiveMakesNoShellCall) {
  delete tray;
  tray = nullptr;
  EXPECT_TRUE(g_calls.empty());
}

TEST_F(TrayIcon, ActiveTwiceAddsOnceAndTheRecordIsTheFirstForm) {
  tray->SetToolTip("tip");
  tray->SetActive(true);
  tray->SetActive(true);
  ASSERT_EQ(g_calls.size(), 1u);
  const NOTIFYICONDATAA& r = g_calls[0].record;
  EXPECT_EQ(g_calls[0].message, static_cast<DWORD>(NIM_ADD));
  EXPECT_EQ(r.cbSize, static_cast<DWORD>(NOTIFYICONDATAA_V1_SIZE));
  EXPECT_EQ(r.hWnd, tray->WindowHandle());
  EXPECT_EQ(r.uID, 0u);
  EXPECT_EQ(r.uFlags, 7u);
  EXPECT_EQ(r.uCallbackMessage, 0x0401u);
  EXPECT_STREQ(r.szTip, "tip");
  tray->SetActive(false);
  ASSERT_EQ(g_calls.size(), 2u);
  EXPECT_EQ(g_calls[1].message, static_cast<DWORD>(NIM_DELETE));
}

TEST_F(TrayIcon, ChangesWhileHiddenWaitForTheNextAdd) {
  tray->SetToolTip("first");
  tray->SetIcon(LoadIconA(nullptr, IDI_APPLICATION));
  EXPECT_TRUE(g_calls.empty());
  tray->SetActive(true);
  ASSERT_EQ(g_calls.size(), 1u);
  EXPECT_STREQ(g_calls[0].record.szTip, "first");
  EXPECT_NE(g_calls[0].record.hIcon, nullptr);
  tray->SetToolTip("second");  // shown: modified at once, also for equal text
  tray->SetToolTip("second");
  ASSERT_EQ(g_calls.size(), 3u);
  EXPECT_EQ(g_calls[1].message, static_cast<DWORD>(NIM_MODIFY));
  EXPECT_STREQ(g_calls[2].record.szTip, "second");
}

TEST_F(TrayIcon, TooltipIsCutTo62Characters) {
  const std::string longTip(70, 'x');
  tray->SetToolTip(longTip);
  EXPECT_EQ(tray->ToolTip(), std::string(62, 'x'));
  tray->SetActive(true);
  EXPECT_EQ(std::string(g_calls.back().record.szTip), std::string(62, 'x'));
}

TEST_F(TrayIcon, ARefusingShellChangesNothing) {
  g_shellAnswer = FALSE;
  tray->SetActive(true);
  EXPECT_TRUE(tray->Active());
}

TEST_F(TrayIcon, TaskbarCreatedAddsTheIconAgainOnlyWhenActive) {
  const UINT taskbarCreated = RegisterWindowMessageA("TaskbarCreated");
  SendMessageA(tray->WindowHandle(), taskbarCreated, 0, 0);
  EXPECT_TRUE(g_calls.empty());
  tray->SetToolTip("now");
  tray->SetActive(true);
  SendMessageA(tray->WindowHandle(), taskbarCreated, 0, 0);
  ASSERT_EQ(g_calls.size(), 2u);
  EXPECT_EQ(g_calls[1].message, static_cast<DWORD>(NIM_ADD));
  EXPECT_STREQ(g_calls[1].record.szTip, "now");
}

TEST_F(TrayIcon, EachMouseMessageRaisesOnlyItsOwnEvent) {
  tray->OnClick = TNotifyEvent::Bind<&TrayIcon::Click>(this);
  tray->OnDblClick = TNotifyEvent::Bind<&TrayIcon::DblClick>(this);
  tray->OnRightClick = TMouseEvent::Bind<&TrayIcon::RightClick>(this);
  tray->OnMouseMove = TMouseMoveEvent::Bind<&TrayIcon::Move>(this);
  Callback(WM_LBUTTONDBLCLK);
  EXPECT_EQ(doubleClicks, 1);
  EXPECT_EQ(clicks, 0);
  Callback(WM_LBUTTONUP);
  EXPECT_EQ(clicks, 1);
  EXPECT_EQ(doubleClicks, 1);
  Callback(WM_RBUTTONUP);
  Callback(WM_MOUSEMOVE);
  Callback(WM_LBUTTONDOWN);  // ignored
  Callback(WM_RBUTTONDBLCLK);
  EXPECT_EQ(rightClicks, 1);
  EXPECT_EQ(moves, 1);
  EXPECT_EQ(clicks, 1);
}

TEST_F(TrayIcon, DestroyingAShownIconRemovesIt) {
  tray->SetActive(true);
  delete tray;
  tray = nullptr;
  ASSERT_EQ(g_calls.size(), 2u);
  EXPECT_EQ(g_calls[1].message, static_cast<DWORD>(NIM_DELETE));
}

}  // namespace
