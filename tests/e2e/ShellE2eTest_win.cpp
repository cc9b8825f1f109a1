// The agent's shell end to end: the unmodified .exe under Wine, observed from
// outside through its windows and the registry.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "WineTestSupport_win.h"

namespace ts = testing_support;

namespace {

const std::string kSettingsKey = "Software\\QEX\\JoystickAgent";
const std::string kRunKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr int kStartTimeout = 30000;

// The agent's controls, found by their names in its window description.
struct Labels {
  HWND send, recv, joy, net, address, version, autorun, config;
};

class Agent : public ::testing::Test {
 protected:
  void SetUp() override {
    ts::RegDeleteTree(kSettingsKey);
    ts::DeleteRegValue(kRunKey, "JoystickAgent");
  }
  void TearDown() override {
    if (agent.Running()) agent.Close(10000);
  }

  void Start(const std::string& arguments = std::string()) {
    ASSERT_TRUE(agent.Start(ts::AgentPath(), arguments)) << ts::AgentPath();
    main = ts::WaitForMainWindow(agent.Pid(), kStartTimeout);
    ASSERT_NE(main, nullptr) << "no main window";
    labels.send = ts::AgentControl(main, "lblSend");
    labels.recv = ts::AgentControl(main, "lblRecv");
    labels.joy = ts::AgentControl(main, "lblJoyStatus");
    labels.net = ts::AgentControl(main, "lblNetStatus");
    labels.address = ts::AgentControl(main, "lblAddress");
    labels.version = ts::AgentControl(main, "lblVersion");
    labels.autorun = ts::AgentControl(main, "chkAutoRun");
    labels.config = ts::AgentControl(main, "btnConfig");
    ASSERT_TRUE(labels.send && labels.recv && labels.joy && labels.net && labels.address && labels.version &&
                labels.autorun && labels.config);
  }

  static std::wstring T(const char* utf8) { return ts::FromUtf8(utf8); }
  bool AutorunChecked() const { return SendMessageW(labels.autorun, BM_GETCHECK, 0, 0) == BST_CHECKED; }
  bool AnyWindowVisible() const {
    for (HWND w : ts::ProcessWindows(agent.Pid()))
      if (IsWindowVisible(w)) return true;
    return false;
  }
  HWND TrayWindow() const {
    for (HWND w : ts::ProcessWindows(agent.Pid(), L"QEXHiddenWindow"))
      if (ts::WindowText(w) == L"QEXTrayIconWindow") return w;
    return nullptr;
  }

  // Opens the address prompt the way a click does, without waiting for it.
  HWND OpenAddressPrompt() {
    PostMessageW(labels.config, BM_CLICK, 0, 0);
    return ts::WaitForDialog(agent.Pid(), T("设置"), 10000);
  }

  ts::ChildProcess agent;
  HWND main = nullptr;
  Labels labels = {};
};

TEST_F(Agent, FirstStartShowsDefaultsAndLeavesTheRegistryUntouched) {
  Start();
  EXPECT_EQ(ts::WindowText(main), T("QEX导播控制台 MRV-4000"));
  EXPECT_TRUE(IsWindowVisible(main));
  EXPECT_EQ(ts::WindowText(labels.address), L"127.0.0.1");
  EXPECT_EQ(ts::WindowText(labels.joy), T("USB遥杆: 已断开"));
  EXPECT_EQ(ts::WindowText(labels.net), T("直播主机: 已断开"));
  EXPECT_EQ(ts::WindowText(labels.send), T("发送: 0 次"));
  EXPECT_EQ(ts::WindowText(labels.recv), T("接收: 0 次"));
  EXPECT_EQ(ts::WindowText(labels.version), L"v1.0.0.0");
  EXPECT_EQ(ts::WindowText(labels.autorun), T("开机运行"));
  EXPECT_EQ(ts::WindowText(labels.config), T("设置>>"));
  EXPECT_FALSE(AutorunChecked());
  // The hidden test buttons exist as real controls but are not visible.
  HWND btn1 = ts::AgentControl(main, "btn1");
  ASSERT_NE(btn1, nullptr);
  EXPECT_EQ(ts::WindowText(btn1), L"hid write");
  EXPECT_FALSE(IsWindowVisible(btn1));
  // Outer size of the description.
  RECT r;
  GetWindowRect(main, &r);
  EXPECT_EQ(r.right - r.left, 499);
  EXPECT_EQ(r.bottom - r.top, 213);

  EXPECT_FALSE(ts::RegKeyExists(kSettingsKey));
  EXPECT_FALSE(ts::RegValueExists(kRunKey, "JoystickAgent"));
  EXPECT_EQ(agent.Close(15000), 0) << "closing the window ends the process cleanly";
}

TEST_F(Agent, AStoredAddressIsShownAndAnEmptyOneGivesTheDefaultAndStaysEmpty) {
  // A loopback address other than the default: its connection is refused
  // later, wherever the test runs. (One refused at once: the test below.)
  ts::RegSetString(kSettingsKey, "Address", "127.0.0.9");
  Start();
  EXPECT_EQ(ts::WindowText(labels.address), L"127.0.0.9");
  EXPECT_EQ(agent.Close(15000), 0);

  ts::RegSetString(kSettingsKey, "Address", "");
  Start();
  EXPECT_EQ(ts::WindowText(labels.address), L"127.0.0.1");
  EXPECT_TRUE(ts::RegValueExists(kSettingsKey, "Address"));
  EXPECT_EQ(ts::RegValue(kSettingsKey, "Address"), "");
}

TEST_F(Agent, AddressPromptStoresTheTextUnchangedOnOkAndNothingOnCancel) {
  Start();
  HWND dialog = OpenAddressPrompt();
  ASSERT_NE(dialog, nullptr);
  EXPECT_NE(ts::ChildOf(dialog, L"Static", T("请输入主机地址:       ")), nullptr);
  HWND edit = ts::ChildOf(dialog, L"Edit");
  ASSERT_NE(edit, nullptr);
  EXPECT_EQ(ts::WindowText(edit), L"127.0.0.1");  // pre-filled with the address in force
  PostMessageW(ts::ChildOf(dialog, L"Button", L"Cancel"), BM_CLICK, 0, 0);
  ASSERT_TRUE(ts::WaitUntil([&] { return !IsWindow(dialog); }, 10000));
  EXPECT_FALSE(ts::RegKeyExists(kSettingsKey));

  dialog = OpenAddressPrompt();
  ASSERT_NE(dialog, nullptr);
  edit = ts::ChildOf(dialog, L"Edit");
  const std::wstring entered = L"  10.1.2.3 x ";  // no trimming, no validation
  SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(entered.c_str()));
  PostMessageW(ts::ChildOf(dialog, L"Button", L"OK"), BM_CLICK, 0, 0);
  ASSERT_TRUE(ts::WaitUntil([&] { return !IsWindow(dialog); }, 10000));
  ASSERT_TRUE(ts::WaitUntil([&] { return ts::RegValue(kSettingsKey, "Address") == "  10.1.2.3 x "; }, 10000));
  EXPECT_EQ(ts::WindowText(labels.address), entered);
  EXPECT_FALSE(ts::RegValueExists(kRunKey, "JoystickAgent"));
}

TEST_F(Agent, AutorunBoxWritesAndDeletesTheRunValue) {
  Start();
  PostMessageW(labels.autorun, BM_CLICK, 0, 0);
  ASSERT_TRUE(ts::WaitUntil([&] { return ts::RegValueExists(kRunKey, "JoystickAgent"); }, 10000));
  char path[MAX_PATH];
  GetFullPathNameA(ts::AgentPath().c_str(), MAX_PATH, path, nullptr);
  EXPECT_EQ(ts::RegValue(kRunKey, "JoystickAgent"), std::string("\"") + path + "\" -min");
  EXPECT_TRUE(AutorunChecked());
  PostMessageW(labels.autorun, BM_CLICK, 0, 0);
  ASSERT_TRUE(ts::WaitUntil([&] { return !ts::RegValueExists(kRunKey, "JoystickAgent"); }, 10000));
  EXPECT_FALSE(AutorunChecked());
  EXPECT_FALSE(ts::RegKeyExists(kSettingsKey));  // autorun never touches the settings key
}

TEST_F(Agent, AStaleRunValueIsRewrittenAtStart) {
  ts::RegSetString(kRunKey, "JoystickAgent", "\"C:\\old\\place.exe\" -min");
  Start();
  EXPECT_TRUE(AutorunChecked());
  char path[MAX_PATH];
  GetFullPathNameA(ts::AgentPath().c_str(), MAX_PATH, path, nullptr);
  EXPECT_EQ(ts::RegValue(kRunKey, "JoystickAgent"), std::string("\"") + path + "\" -min");
}

TEST_F(Agent, MinStartsInTheTrayAndATrayClickBringsTheWindowBack) {
  ASSERT_TRUE(agent.Start(ts::AgentPath(), "-min"));
  HWND form = nullptr;
  ASSERT_TRUE(ts::WaitUntil(
      [&] {
        auto forms = ts::ProcessWindows(agent.Pid(), L"QEXForm");
        if (forms.empty()) return false;
        form = forms.front();
        return TrayWindow() != nullptr;
      },
      kStartTimeout));
  ts::Pause(1500);  // past the start of the message loop
  EXPECT_FALSE(AnyWindowVisible()) << "no window and no taskbar button";

  PostMessageW(TrayWindow(), 0x0401, 0, WM_LBUTTONUP);
  ASSERT_TRUE(ts::WaitUntil([&] { return IsWindowVisible(form) != FALSE; }, 10000));
  EXPECT_FALSE(IsIconic(form));
  EXPECT_TRUE(ts::WaitUntil([&] { return GetForegroundWindow() == form; }, 5000));
}

// The stored address refused at once at log-on (the all-ones address, which
// no route reaches; on a real PC a LAN address while the network is down):
// start-up still completes, minimised to the tray, and the agent retries.
TEST_F(Agent, MinWithAStoredAddressRefusedAtOnceStartsInTheTrayAndRetries) {
  ts::DebugOutputReader traces;
  ASSERT_TRUE(traces.Ok()) << "debug output reader";
  ts::RegSetString(kSettingsKey, "Address", "255.255.255.255");
  ts::RegSetString(kRunKey, "JoystickAgent", "\"C:\\old\\place.exe\" -min");
  ASSERT_TRUE(agent.Start(ts::AgentPath(), "-min"));
  traces.FilterProcess(agent.Pid());
  HWND form = nullptr;
  ASSERT_TRUE(ts::WaitUntil(
      [&] {
        auto forms = ts::ProcessWindows(agent.Pid(), L"QEXForm");
        form = forms.empty() ? nullptr : forms.front();
        return form && TrayWindow() != nullptr;
      },
      kStartTimeout));
  ASSERT_TRUE(ts::WaitUntil([&] { return traces.Count("socket error") >= 3; }, 12000))
      << traces.Count("socket error") << " errors traced";
  EXPECT_FALSE(AnyWindowVisible()) << "no window, no box, no taskbar button";
  EXPECT_EQ(ts::WindowText(ts::AgentControl(form, "lblAddress")), L"255.255.255.255");
  EXPECT_EQ(ts::WindowText(ts::AgentControl(form, "lblVersion")), L"v1.0.0.0");
  EXPECT_EQ(SendMessageW(ts::AgentControl(form, "chkAutoRun"), BM_GETCHECK, 0, 0), BST_CHECKED);
  char path[MAX_PATH];
  GetFullPathNameA(ts::AgentPath().c_str(), MAX_PATH, path, nullptr);
  EXPECT_EQ(ts::RegValue(kRunKey, "JoystickAgent"), std::string("\"") + path + "\" -min") << "not refreshed";

  // Retried every 3 s, each attempt refused at once by the platform.
  std::vector<std::uint64_t> times;
  const std::vector<std::string> lines = traces.Lines();
  const std::vector<std::uint64_t> arrivals = traces.Times();
  for (std::size_t i = 0; i < lines.size() && i < arrivals.size(); ++i) {
    const std::string body = ts::DebugOutputReader::Body(lines[i]);
    if (body.rfind("socket error", 0) != 0) continue;
    EXPECT_NE(body, "socket error 10061") << "the attempt reached a listener";
    times.push_back(arrivals[i]);
  }
  for (std::size_t i = 1; i < times.size(); ++i) {
    EXPECT_GE(times[i] - times[i - 1], static_cast<std::uint64_t>(std::max(3000 - ts::Scaled(700), 0))) << "error " << i;
    EXPECT_LE(times[i] - times[i - 1], static_cast<std::uint64_t>(3000 + ts::Scaled(1500))) << "error " << i;
  }
  // A tray click shows the window, which answers as ever.
  PostMessageW(TrayWindow(), 0x0401, 0, WM_LBUTTONUP);
  ASSERT_TRUE(ts::WaitUntil([&] { return IsWindowVisible(form) != FALSE; }, 10000));
  EXPECT_EQ(agent.Close(15000), 0);
  ts::RegDeleteTree(kSettingsKey);
  ts::DeleteRegValue(kRunKey, "JoystickAgent");
}

TEST_F(Agent, MinimiseBoxHidesToTheTrayAndAClickRestores) {
  Start();
  PostMessageW(main, WM_SYSCOMMAND, SC_MINIMIZE, 0);
  ASSERT_TRUE(ts::WaitUntil([&] { return !AnyWindowVisible(); }, 10000));
  // A double click raises the click too (every release of the left button).
  PostMessageW(TrayWindow(), 0x0401, 0, WM_LBUTTONDBLCLK);
  ts::Pause(500);
  EXPECT_FALSE(IsWindowVisible(main));
  PostMessageW(TrayWindow(), 0x0401, 0, WM_LBUTTONUP);
  ASSERT_TRUE(ts::WaitUntil([&] { return IsWindowVisible(main) != FALSE; }, 10000));
  EXPECT_FALSE(IsIconic(main));
  RECT r;
  GetWindowRect(main, &r);
  EXPECT_EQ(r.right - r.left, 499) << "back in normal size";
}

TEST_F(Agent, MinInAnotherCaseOrPlaceIsNotRecognised) {
  Start("-MIN");
  ts::Pause(1000);
  EXPECT_TRUE(IsWindowVisible(main));
  EXPECT_EQ(agent.Close(15000), 0);
  Start("x -min");
  ts::Pause(1000);
  EXPECT_TRUE(IsWindowVisible(main));
}

TEST_F(Agent, MinimisedFromOutsideItGoesToTheTrayAndATrayClickRestoresIt) {
  Start();
  for (int round = 0; round < 2; ++round) {
    // As the taskbar or the desktop's show-desktop does it: no minimise box.
    ShowWindow(main, SW_MINIMIZE);
    ASSERT_TRUE(ts::WaitUntil([&] { return !AnyWindowVisible(); }, 10000))
        << "round " << round << ": a window or a taskbar button stayed";
    PostMessageW(TrayWindow(), 0x0401, 0, WM_LBUTTONUP);
    ASSERT_TRUE(ts::WaitUntil([&] { return IsWindowVisible(main) != FALSE; }, 10000)) << "round " << round;
    EXPECT_FALSE(IsIconic(main)) << "round " << round;
  }
  // Minimised and shown again by another program behind the tray's back:
  // a new minimise still goes to the tray, and a tray click restores.
  ShowWindow(main, SW_SHOWMINNOACTIVE);
  ASSERT_TRUE(ts::WaitUntil([&] { return !AnyWindowVisible(); }, 10000));
  ShowWindow(main, SW_RESTORE);
  ASSERT_TRUE(ts::WaitUntil([&] { return IsWindowVisible(main) != FALSE; }, 10000));
  ShowWindow(main, SW_MINIMIZE);
  ASSERT_TRUE(ts::WaitUntil([&] { return !AnyWindowVisible(); }, 10000));
  PostMessageW(TrayWindow(), 0x0401, 0, WM_LBUTTONUP);
  ASSERT_TRUE(ts::WaitUntil([&] { return IsWindowVisible(main) != FALSE; }, 10000));
  EXPECT_FALSE(IsIconic(main));
}

TEST_F(Agent, TheSendCounterLeavesTheArrowBeneathItVisible) {
  Start();
  ts::Pause(1000);  // painted
  // The head of the upper arrow lies under the right part of the send
  // counter, clear of its centred text: client area x 278..296, y 67..75.
  RECT head = {278, 67, 297, 76};
  MapWindowPoints(main, nullptr, reinterpret_cast<POINT*>(&head), 2);
  const int width = head.right - head.left, height = head.bottom - head.top;
  HDC screen = GetDC(nullptr);
  HDC copy = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ old = SelectObject(copy, bitmap);
  ASSERT_TRUE(BitBlt(copy, 0, 0, width, height, screen, head.left, head.top, SRCCOPY));
  int arrow = 0;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      if (GetPixel(copy, x, y) != RGB(255, 255, 255)) ++arrow;
  SelectObject(copy, old);
  DeleteObject(bitmap);
  DeleteDC(copy);
  ReleaseDC(nullptr, screen);
  EXPECT_GT(arrow, width * height / 4) << "the label covered the arrow with the background";
}

}  // namespace
