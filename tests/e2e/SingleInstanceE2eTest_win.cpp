// One agent per log-on, end to end: the unmodified agent under Wine started
// twice, as the log-on's autorun entry and a click on the Start menu do,
// observed from outside through its windows, a loopback live host and the
// registry.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "LoopbackPeer_win.h"
#include "RemoteThread_win.h"
#include "WineTestSupport_win.h"

namespace ts = testing_support;

namespace {

const std::string kSettingsKey = "Software\\QEX\\JoystickAgent";
const std::string kRunKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const std::string kStaleRun = "\"C:\\old\\place.exe\" -min";
constexpr int kStartTimeout = 30000;
// A later start must be gone this soon.
constexpr int kSecondStartMs = 2000;
// The report box of crash reporting and its restart button (300 + index 5).
constexpr wchar_t kBoxClass[] = L"QEXReportBox";
constexpr int kRestartId = 305;

// A top-level window of that class belonging to a process other than
// `notPid`; its process id in `pid`.
HWND FindWindowOfOtherProcess(const wchar_t* className, DWORD notPid, DWORD* pid) {
  for (HWND window = FindWindowExW(nullptr, nullptr, className, nullptr); window;
       window = FindWindowExW(nullptr, window, className, nullptr)) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != notPid) {
      *pid = owner;
      return window;
    }
  }
  return nullptr;
}

class SingleInstance : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(peer.Ok()) << "port 18884 is taken";
    ts::RegDeleteTree(kSettingsKey);
    ts::DeleteRegValue(kRunKey, "JoystickAgent");
  }
  void TearDown() override {
    for (ts::ChildProcess* agent : {&second, &first}) {
      if (agent->Running()) agent->Close(10000);
      if (agent->Running()) agent->Kill();
    }
    ts::RegDeleteTree(kSettingsKey);
    ts::DeleteRegValue(kRunKey, "JoystickAgent");
  }

  // The first agent, up with its link.
  void StartFirst(const std::string& arguments) {
    ASSERT_TRUE(first.Start(ts::AgentPath(), arguments)) << ts::AgentPath();
    main = ts::WaitForMainWindow(first.Pid(), kStartTimeout);
    ASSERT_NE(main, nullptr);
    ASSERT_TRUE(ts::WaitUntil([&] { return peer.Connected(); }, 10000)) << "the first agent never connected";
  }
  // Starts the agent again; true when it ended by itself in time, with 0.
  bool SecondStartEndsAtOnce(const std::string& arguments) {
    const ULONGLONG started = GetTickCount64();
    if (!second.Start(ts::AgentPath(), arguments)) return false;
    const long code = second.Wait(kSecondStartMs);
    EXPECT_EQ(code, 0) << "a second start (-1: still running)";
    EXPECT_LE(GetTickCount64() - started, static_cast<ULONGLONG>(ts::Scaled(kSecondStartMs)));
    return code == 0;
  }

  ts::LoopbackPeer peer;
  ts::ChildProcess first, second;
  HWND main = nullptr;
};

TEST_F(SingleInstance, ASecondStartBringsTheRunningAgentUpFromTheTrayAndEnds) {
  ASSERT_NO_FATAL_FAILURE(StartFirst("-min"));
  ASSERT_FALSE(IsWindowVisible(main)) << "-min keeps the window in the tray";
  // Whatever a start would write: the autorun entry is refreshed at start.
  ts::RegSetString(kRunKey, "JoystickAgent", kStaleRun);

  ASSERT_TRUE(SecondStartEndsAtOnce(""));
  EXPECT_TRUE(ts::WaitUntil([&] { return IsWindowVisible(main) != FALSE; }, kSecondStartMs))
      << "the running agent's window did not come up";
  ts::Pause(1000);
  EXPECT_EQ(peer.Accepted(), 1) << "the second start dialled the live host";
  EXPECT_EQ(ts::RegValue(kRunKey, "JoystickAgent"), kStaleRun) << "the second start wrote the registry";
  EXPECT_FALSE(ts::RegKeyExists(kSettingsKey));

  // The agent's place goes with it: a start after it ended runs.
  EXPECT_EQ(first.Close(15000), 0);
  ts::ChildProcess third;
  ASSERT_TRUE(third.Start(ts::AgentPath(), "-min"));
  EXPECT_NE(ts::WaitForMainWindow(third.Pid(), kStartTimeout), nullptr);
  EXPECT_TRUE(ts::WaitUntil([&] { return peer.Accepted() == 2; }, 10000));
  EXPECT_TRUE(third.Running());
  third.Close(15000);
  if (third.Running()) third.Kill();
}

TEST_F(SingleInstance, ASecondMinimisedStartLeavesTheRunningAgentInTheTray) {
  ASSERT_NO_FATAL_FAILURE(StartFirst("-min"));
  ASSERT_TRUE(SecondStartEndsAtOnce("-min"));
  ts::Pause(1000);
  EXPECT_FALSE(IsWindowVisible(main));
  EXPECT_EQ(peer.Accepted(), 1);
  EXPECT_TRUE(first.Running());
}

TEST_F(SingleInstance, ARestartByCrashReportingTakesTheAgentsPlace) {
  ASSERT_NO_FATAL_FAILURE(StartFirst(std::string()));
  // The agent's link socket closed behind its back: its next keep-alive
  // raises into crash reporting's box.
  ASSERT_EQ(ts::CloseAgentLinkSocket(first.Handle(), first.Pid()), 1) << "the link socket was not closed from inside";
  HWND box = nullptr;
  ASSERT_TRUE(ts::WaitUntil(
      [&] {
        const std::vector<HWND> boxes = ts::ProcessWindows(first.Pid(), kBoxClass);
        box = boxes.empty() ? nullptr : boxes[0];
        return box != nullptr && GetDlgItem(box, kRestartId) != nullptr;
      },
      kStartTimeout))
      << "no report box with its restart button";
  PostMessageW(box, WM_COMMAND, kRestartId, 0);
  EXPECT_EQ(first.Wait(20000), 2) << "a restart ends the old instance with 2";
  // The new instance waited for the old one and took its place: its own
  // window and its own connection.
  DWORD restarted = 0;
  EXPECT_TRUE(ts::WaitUntil([&] { return FindWindowOfOtherProcess(L"QEXForm", first.Pid(), &restarted) != nullptr; },
                            kStartTimeout))
      << "the restarted instance did not run";
  EXPECT_TRUE(ts::WaitUntil([&] { return peer.Accepted() == 2; }, 15000)) << "the restarted instance did not connect";
  if (restarted) {
    const ScopedKernelHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, restarted));
    if (process) {
      TerminateProcess(process.Get(), 0);
      WaitForSingleObject(process.Get(), 10000);
    }
  }
}

}  // namespace
