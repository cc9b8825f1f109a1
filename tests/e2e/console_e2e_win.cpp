// The console bridge end to end: the unmodified agent under Wine with the
// simulated console, observed from outside through its traces, its status
// labels, a loopback live-host peer and the output reports it writes.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "WineTestSupport_win.h"
#include "tools/simconsole/SimConsole.h"

namespace ts = testing_support;
using simconsole::DeviceProfile;
using simconsole::Report;
using simconsole::TSimConsole;

namespace {

constexpr int kStartTimeout = 30000;
constexpr char kHexAll[] = "000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F";

// A live host on 127.0.0.1:18884: accepts one connection at a time and
// keeps everything it receives.
class LivePeer {
 public:
  LivePeer() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    InitializeCriticalSection(&lock_);
    listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    BOOL reuse = TRUE;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&reuse), sizeof reuse);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(18884);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ok_ = bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && listen(listener_, 4) == 0;
    if (ok_) thread_ = CreateThread(nullptr, 0, &LivePeer::Serve, this, 0, nullptr);
  }
  ~LivePeer() {
    closesocket(listener_);
    EnterCriticalSection(&lock_);
    if (client_ != INVALID_SOCKET) closesocket(client_);
    LeaveCriticalSection(&lock_);
    if (thread_) {
      WaitForSingleObject(thread_, 5000);
      CloseHandle(thread_);
    }
    DeleteCriticalSection(&lock_);
  }
  bool Ok() const { return ok_; }
  bool Connected() {
    EnterCriticalSection(&lock_);
    const bool up = client_ != INVALID_SOCKET;
    LeaveCriticalSection(&lock_);
    return up;
  }
  std::string Received() {
    EnterCriticalSection(&lock_);
    std::string copy = received_;
    LeaveCriticalSection(&lock_);
    return copy;
  }
  // Arrival times (GetTickCount64) of each occurrence of `text`.
  std::vector<ULONGLONG> Times(const std::string& text) {
    EnterCriticalSection(&lock_);
    std::vector<ULONGLONG> times;
    for (const auto& chunk : chunks_)
      if (chunk.second.find(text) != std::string::npos) times.push_back(chunk.first);
    LeaveCriticalSection(&lock_);
    return times;
  }
  bool Send(const std::string& text) {
    EnterCriticalSection(&lock_);
    const SOCKET s = client_;
    LeaveCriticalSection(&lock_);
    return s != INVALID_SOCKET && send(s, text.data(), static_cast<int>(text.size()), 0) == static_cast<int>(text.size());
  }

 private:
  static DWORD WINAPI Serve(void* self) {
    static_cast<LivePeer*>(self)->Run();
    return 0;
  }
  void Run() {
    for (;;) {
      SOCKET s = accept(listener_, nullptr, nullptr);
      if (s == INVALID_SOCKET) return;
      EnterCriticalSection(&lock_);
      client_ = s;
      LeaveCriticalSection(&lock_);
      char buffer[4096];
      for (;;) {
        const int n = recv(s, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        EnterCriticalSection(&lock_);
        received_.append(buffer, static_cast<std::size_t>(n));
        chunks_.emplace_back(GetTickCount64(), std::string(buffer, static_cast<std::size_t>(n)));
        LeaveCriticalSection(&lock_);
      }
      EnterCriticalSection(&lock_);
      if (client_ == s) client_ = INVALID_SOCKET;
      LeaveCriticalSection(&lock_);
      closesocket(s);
    }
  }

  SOCKET listener_ = INVALID_SOCKET;
  SOCKET client_ = INVALID_SOCKET;
  HANDLE thread_ = nullptr;
  bool ok_ = false;
  CRITICAL_SECTION lock_;
  std::string received_;
  std::vector<std::pair<ULONGLONG, std::string>> chunks_;
};

DeviceProfile ConsoleProfile(const wchar_t* product = L"QEX PROPRE CONTROLLER", WORD inputLength = 33) {
  DeviceProfile profile;
  profile.product = product;
  profile.inputLength = inputLength;
  return profile;
}

Report Payload(std::uint8_t id, std::size_t size) {
  Report report(size + 1);
  report[0] = id;
  for (std::size_t i = 0; i < size; ++i) report[i + 1] = static_cast<std::uint8_t>(i);
  return report;
}

class ConsoleBridge : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(console.Ok());
    ASSERT_TRUE(traces.Ok());
    ts::RegDeleteTree("Software\\QEX\\JoystickAgent");
  }
  void TearDown() override {
    if (agent.Running()) agent.Close(10000);
    if (agent.Running()) agent.Kill();
  }

  void Start() {
    ASSERT_TRUE(agent.Start(ts::AgentPath())) << ts::AgentPath();
    traces.FilterProcess(agent.Pid());
    main = ts::WaitForMainWindow(agent.Pid(), kStartTimeout);
    ASSERT_NE(main, nullptr);
    joy = ts::ChildAt(main, 24, 112);
    send = ts::ChildAt(main, 165, 58);
    ASSERT_TRUE(joy && send);
  }

  bool JoyShows(const char* state, int timeoutMs = 10000) {
    const std::wstring want = ts::FromUtf8(std::string("USB遥杆: ") + state);
    return ts::WaitUntil([&] { return ts::WindowText(joy) == want; }, timeoutMs);
  }
  bool SendCountIs(int count, int timeoutMs = 10000) {
    const std::wstring want = ts::FromUtf8("发送: " + std::to_string(count) + " 次");
    return ts::WaitUntil([&] { return ts::WindowText(send) == want; }, timeoutMs);
  }
  // Plugs a console and waits until the agent reads from it.
  DWORD PlugInUse(const DeviceProfile& profile = ConsoleProfile()) {
    const DWORD serial = console.Plug(profile);
    EXPECT_TRUE(JoyShows("已连接"));
    EXPECT_TRUE(console.WaitForSteadyHandle(serial, 10000));
    return serial;
  }
  void DismissBox(const char* captionUtf8) {
    HWND box = ts::WaitForDialog(agent.Pid(), ts::FromUtf8(captionUtf8), 10000);
    ASSERT_NE(box, nullptr) << "no box " << captionUtf8;
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(ts::WaitUntil([&] { return !IsWindow(box); }, 5000));
  }
  bool LinkUp(LivePeer& peer) { return ts::WaitUntil([&] { return peer.Connected(); }, 10000); }

  TSimConsole console;
  ts::DebugOutputReader traces;
  ts::ChildProcess agent;
  HWND main = nullptr, joy = nullptr, send = nullptr;
};

TEST_F(ConsoleBridge, ConsolePluggedAtStartIsTakenIntoUse) {
  const DWORD serial = console.Plug(ConsoleProfile(), false);
  Start();
  EXPECT_TRUE(JoyShows("已连接"));
  EXPECT_GE(traces.WaitForLine("HidDev=QEX PROPRE CONTROLLER vid=1155, pid=22352", 5000), 0);
  EXPECT_TRUE(console.WaitForSteadyHandle(serial, 10000)) << "the read thread holds the device open";
}

TEST_F(ConsoleBridge, InputReportsAreTracedCountedAndOnlyIdZeroRelayed) {
  Start();
  const DWORD serial = PlugInUse();
  ASSERT_GE(console.SendInput(serial, Payload(0, 32)), 1);
  EXPECT_GE(traces.WaitForLine("HidControllerDeviceData=32", 5000), 0);
  EXPECT_TRUE(SendCountIs(1));
  ASSERT_GE(console.SendInput(serial, Payload(1, 32)), 1);
  ASSERT_TRUE(ts::WaitUntil([&] { return traces.Count("HidControllerDeviceData=32") == 2; }, 5000));
  Sleep(300);
  EXPECT_TRUE(SendCountIs(1, 100)) << "report ID 1 is dropped";
}

TEST_F(ConsoleBridge, AnEmptyPayloadIsCounted) {
  Start();
  const DWORD serial = PlugInUse(ConsoleProfile(L"QEX PROPRE CONTROLLER", 1));
  ASSERT_GE(console.SendInput(serial, Report{0x00}), 1);
  EXPECT_GE(traces.WaitForLine("HidControllerDeviceData=0", 5000), 0);
  EXPECT_TRUE(SendCountIs(1));
}

TEST_F(ConsoleBridge, PayloadsUpTo1025BytesRelayAndLargerOnesBringUpTheErrorBox) {
  Start();
  const DWORD fits = PlugInUse(ConsoleProfile(L"QEX PROPRE CONTROLLER", 1026));
  ASSERT_GE(console.SendInput(fits, Payload(0, 1025)), 1);
  EXPECT_GE(traces.WaitForLine("HidControllerDeviceData=1025", 5000), 0);
  EXPECT_TRUE(SendCountIs(1));
  console.Unplug(fits);
  ASSERT_TRUE(JoyShows("已断开"));

  const DWORD large = PlugInUse(ConsoleProfile(L"QEX PROPRE CONTROLLER", 1027));
  ASSERT_GE(console.SendInput(large, Payload(0, 1026)), 1);
  EXPECT_GE(traces.WaitForLine("HidControllerDeviceData=1026", 5000), 0);
  DismissBox("错误");
  EXPECT_TRUE(SendCountIs(1, 500)) << "the oversize report is not counted";
}

TEST_F(ConsoleBridge, ConsoleNamesMatchWholeAndFoldOnlyAsciiCase) {
  Start();
  struct Case {
    const wchar_t* product;
    bool console;
  } cases[] = {{L"qex propre controller", true}, {L"MRV-4000", true}, {L"QEX PROPRE CONTROLLER ", false},
               {L"X QEX PROPRE CONTROLLER", false}, {L"Keyboard", false}};
  for (const Case& c : cases) {
    const std::size_t from = traces.Lines().size();
    const DWORD serial = console.Plug(ConsoleProfile(c.product));
    const std::string name = ts::ToUtf8(c.product);
    EXPECT_GE(traces.WaitForLine("HidDev=" + name + " vid=1155, pid=22352", 10000, from), 0) << name;
    EXPECT_TRUE(JoyShows(c.console ? "已连接" : "已断开", c.console ? 10000 : 500)) << name;
    const std::size_t beforeUnplug = traces.Lines().size();
    console.Unplug(serial);
    EXPECT_TRUE(JoyShows("已断开")) << name;
    if (!c.console) {
      Sleep(300);
      EXPECT_EQ(traces.WaitForLine("HidControllerDeviceUnplug", 100, beforeUnplug), -1) << name;
    }
  }
}

TEST_F(ConsoleBridge, ASecondConsoleWarnsAndUnpluggingItReleasesTheFirst) {
  Start();
  const DWORD first = PlugInUse();
  const DWORD second = console.Plug(ConsoleProfile(L"MRV-4000"));
  DismissBox("警告");
  EXPECT_TRUE(JoyShows("已连接"));
  EXPECT_TRUE(ts::WaitUntil([&] { return console.OpenHandles(second) == 0; }, 3000))
      << "the second console is not claimed";
  // The first console still relays.
  ASSERT_GE(console.SendInput(first, Payload(0, 32)), 1);
  EXPECT_TRUE(SendCountIs(1));

  console.Unplug(second);
  EXPECT_TRUE(JoyShows("已断开"));
  EXPECT_GE(traces.WaitForLine("HidControllerDeviceUnplug", 5000), 0);
  // Its read thread has stopped: its reports are neither traced nor relayed.
  const std::size_t data = traces.Count("HidControllerDeviceData=");
  console.SendInput(first, Payload(0, 32));
  Sleep(500);
  EXPECT_EQ(traces.Count("HidControllerDeviceData="), data);
  EXPECT_TRUE(SendCountIs(1, 100));

  const DWORD again = PlugInUse(ConsoleProfile());
  ASSERT_GE(console.SendInput(again, Payload(0, 32)), 1);
  EXPECT_TRUE(SendCountIs(2));
}

TEST_F(ConsoleBridge, TheSendCountShowsWhileReportsFlowAndIsExactOnceTheyStop) {
  Start();
  const DWORD serial = PlugInUse();
  constexpr int kReports = 200;
  std::vector<std::wstring> seen;
  for (int i = 0; i < kReports; ++i) {
    ASSERT_GE(console.SendInput(serial, Payload(0, 32)), 1);
    const std::wstring text = ts::WindowText(send);
    if (seen.empty() || seen.back() != text) seen.push_back(text);
    Sleep(5);
  }
  // The last report is followed by no other: only a trailing refresh shows it.
  EXPECT_TRUE(SendCountIs(kReports));
  const std::wstring first = ts::FromUtf8("发送: 0 次");
  const std::wstring last = ts::FromUtf8("发送: " + std::to_string(kReports) + " 次");
  std::size_t between = 0;
  for (const std::wstring& text : seen) between += text != first && text != last ? 1 : 0;
  EXPECT_GE(between, 2u) << "the count did not move while the reports flowed (a second or more)";
}

TEST_F(ConsoleBridge, ClosingTheWindowWithAConsoleInUseEndsCleanly) {
  Start();
  PlugInUse();
  const std::size_t from = traces.Lines().size();
  EXPECT_EQ(agent.Close(15000), 0);
  EXPECT_GE(traces.WaitForLine("HidControllerDeviceUnplug", 2000, from), 0);
}

// --- with the live host -----------------------------------------------------

class ConsoleBridgeLinked : public ConsoleBridge {
 protected:
  void SetUp() override {
    ConsoleBridge::SetUp();
    ASSERT_TRUE(peer.Ok()) << "port 18884 is taken";
  }
  void StartLinked() {
    Start();
    if (!LinkUp(peer)) GTEST_SKIP() << "the agent never connected: its TCP client is not in place";
  }
  LivePeer peer;
};

TEST_F(ConsoleBridgeLinked, AnInputReportReachesTheLiveHostAsARecvMessage) {
  StartLinked();
  const DWORD serial = PlugInUse();
  ASSERT_GE(console.SendInput(serial, Payload(0, 32)), 1);
  const std::string message = std::string("usb-hid=recv\r\ncode=") + kHexAll + "\r\n";
  EXPECT_TRUE(ts::WaitUntil([&] { return peer.Received().find(message) != std::string::npos; }, 5000));
  const int data = traces.WaitForLine("HidControllerDeviceData=32", 1000);
  const int hid = traces.WaitForLine(std::string("Hid: ") + kHexAll, 1000);
  EXPECT_GE(data, 0);
  EXPECT_GT(hid, data);
}

TEST_F(ConsoleBridgeLinked, ReportsInABurstAreEachRelayedOnceInOrder) {
  StartLinked();
  const DWORD serial = PlugInUse();
  // Written back to back, the reports wait in the device: each read completes
  // at once and the next hand-over comes before the message of the last one.
  constexpr int kReports = 300;
  std::string expected;
  for (int i = 0; i < kReports; ++i) {
    Report report = Payload(0, 32);
    report[1] = static_cast<std::uint8_t>(i >> 8);
    report[2] = static_cast<std::uint8_t>(i);
    ASSERT_GE(console.SendInput(serial, report), 1);
    char prefix[5];
    std::snprintf(prefix, sizeof prefix, "%04X", i);
    expected += std::string("usb-hid=recv\r\ncode=") + prefix + (kHexAll + 4) + "\r\n";
  }
  const auto relayed = [&] {
    std::string recv;
    const std::string all = peer.Received();
    for (std::size_t at = all.find("usb-hid=recv"); at != std::string::npos; at = all.find("usb-hid=recv", at + 1))
      recv += all.substr(at, all.find("\r\n", all.find("\r\n", at) + 2) + 2 - at);
    return recv;
  };
  ts::WaitUntil([&] { return relayed().size() >= expected.size(); }, 30000);
  EXPECT_EQ(relayed(), expected);
}

TEST_F(ConsoleBridgeLinked, ASendMessageReachesTheConsoleAs33Bytes) {
  StartLinked();
  const DWORD serial = PlugInUse();
  ASSERT_TRUE(peer.Send("usb-hid=send\r\ncode=0400050000000110000000000000000000000000000000000000000000000000\r\n"));
  ASSERT_TRUE(console.WaitForOutputReports(serial, 1, 5000));
  Report expected(33, 0);
  expected[1] = 0x04;
  expected[3] = 0x05;
  expected[7] = 0x01;
  expected[8] = 0x10;
  EXPECT_EQ(console.OutputReports(serial)[0], expected);
}

TEST_F(ConsoleBridgeLinked, AStatusRequestFollows3000MsAfterTheConsoleIsTakenIntoUse) {
  StartLinked();
  // The request that follows the connection comes first.
  ASSERT_TRUE(ts::WaitUntil([&] { return !peer.Times("usb-hid=get_status").empty(); }, 8000));
  const ULONGLONG plugged = GetTickCount64();
  PlugInUse();
  ASSERT_TRUE(ts::WaitUntil([&] { return peer.Times("usb-hid=get_status").size() >= 2; }, 8000));
  const ULONGLONG at = peer.Times("usb-hid=get_status")[1];
  EXPECT_GE(at - plugged, 2500u);
  EXPECT_LE(at - plugged, 6000u);
}

}  // namespace
