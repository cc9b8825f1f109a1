// The console bridge end to end: the unmodified agent under Wine with the
// simulated console on the platform's own HID stack (our minidriver under
// the HID class driver), observed from outside through its traces, its status
// labels, a loopback live-host peer and the output reports it writes.
//
// Wine broadcasts device-nodes-changed itself when a device is added or
// removed, as Windows does; the harness broadcasts it once more after each
// plug, unplug and replug unless a test says otherwise (a second
// notification finds nothing new).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "LinuxProcess_win.h"
#include "LoopbackPeer_win.h"
#include "WineTestSupport_win.h"
#include <tlhelp32.h>

#include "tools/simhid/SimHid.h"

namespace ts = testing_support;
using simhid::DeviceProfile;
using simhid::Report;
using simhid::TSimHid;

namespace {

constexpr int kStartTimeout = 30000;
// How long the agent waits for the console to take a report (hid/HidDevice.h).
constexpr DWORD HidWriteTimeoutMs = 200;
constexpr char kHexAll[] = "000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F";

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

// A report whose first two payload bytes carry a sequence number.
Report Numbered(int n) {
  Report report = Payload(0, 32);
  report[1] = static_cast<std::uint8_t>(n >> 8);
  report[2] = static_cast<std::uint8_t>(n);
  return report;
}

std::string RecvMessage(int n) {
  char prefix[5];
  std::snprintf(prefix, sizeof prefix, "%04X", n);
  return std::string("usb-hid=recv\r\ncode=") + prefix + (kHexAll + 4) + "\r\n";
}

// Every recv message in what the peer received, in order.
std::string RecvMessages(const std::string& all) {
  std::string recv;
  for (std::size_t at = all.find("usb-hid=recv"); at != std::string::npos; at = all.find("usb-hid=recv", at + 1))
    recv += all.substr(at, all.find("\r\n", all.find("\r\n", at) + 2) + 2 - at);
  return recv;
}

DWORD ThreadCount(DWORD pid) {
  DWORD count = 0;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  THREADENTRY32 entry = {};
  entry.dwSize = sizeof entry;
  for (BOOL ok = Thread32First(snapshot, &entry); ok; ok = Thread32Next(snapshot, &entry))
    if (entry.th32OwnerProcessID == pid) ++count;
  CloseHandle(snapshot);
  return count;
}

// The handles a process holds, from the system's handle table (what the
// platform's own handle count of another process would give; under Wine
// that count is always 0). 0 when the table cannot be read.
DWORD HandleCount(DWORD pid) {
  // The extended table: process ids and handle values pointer-sized.
  struct Entry {
    void* object;
    ULONG_PTR processId;
    ULONG_PTR handle;
    ULONG access;
    USHORT backTrace;
    USHORT type;
    ULONG attributes;
    ULONG reserved;
  };
  struct Table {
    ULONG_PTR count;
    ULONG_PTR reserved;
    Entry entries[1];
  };
  constexpr ULONG kExtendedHandleInformation = 64;
  using Query = LONG(WINAPI*)(ULONG, void*, ULONG, ULONG*);
  const auto query = reinterpret_cast<Query>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation"));
  if (!query) return 0;
  std::vector<unsigned char> buffer(1 << 20);
  for (;;) {
    ULONG needed = 0;
    const LONG status = query(kExtendedHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
    if (status == 0) break;
    if (status != static_cast<LONG>(0xC0000004) || buffer.size() > (64u << 20)) return 0;  // length mismatch
    buffer.resize(std::max<std::size_t>(buffer.size() * 2, needed + 4096));
  }
  const auto* table = reinterpret_cast<const Table*>(buffer.data());
  DWORD count = 0;
  for (ULONG_PTR i = 0; i < table->count; ++i) count += table->entries[i].processId == pid ? 1 : 0;
  return count;
}

class ConsoleBridge : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(traces.Ok());
    std::string error;
    ASSERT_TRUE(console.Install(ts::PathFromEnv("QEX_SIMHID_DRIVERS"), &error)) << error;
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
    joy = ts::AgentControl(main, "lblJoyStatus");
    send = ts::AgentControl(main, "lblSend");
    recv = ts::AgentControl(main, "lblRecv");
    ASSERT_TRUE(joy && send && recv);
  }

  bool JoyShows(const char* state, int timeoutMs = 10000) {
    const std::wstring want = ts::FromUtf8(std::string("USB遥杆: ") + state);
    return ts::WaitUntil([&] { return ts::WindowText(joy) == want; }, timeoutMs);
  }
  bool RecvCountIs(int count, int timeoutMs = 10000) {
    const std::wstring want = ts::FromUtf8("接收: " + std::to_string(count) + " 次");
    return ts::WaitUntil([&] { return ts::WindowText(recv) == want; }, timeoutMs);
  }
  bool SendCountIs(int count, int timeoutMs = 10000) {
    const std::wstring want = ts::FromUtf8("发送: " + std::to_string(count) + " 次");
    return ts::WaitUntil([&] { return ts::WindowText(send) == want; }, timeoutMs);
  }
  DWORD Plug(const DeviceProfile& profile, bool broadcast = true) {
    const DWORD serial = console.Plug(profile, broadcast);
    EXPECT_NE(serial, 0u) << console.LastError();
    return serial;
  }
  // The agent's read thread opens its handle in its first cycle, after the
  // window shows the console in use; a report sent before that reaches no
  // handle, as on Windows. Nothing outside shows that moment: leave it time.
  static void LetTheReadThreadOpen() { Sleep(1000); }
  // Plugs a console and waits until the agent reads from it.
  DWORD PlugInUse(const DeviceProfile& profile = ConsoleProfile()) {
    const DWORD serial = Plug(profile);
    EXPECT_TRUE(JoyShows("已连接"));
    LetTheReadThreadOpen();
    return serial;
  }
  void DismissBox(const char* captionUtf8) {
    HWND box = ts::WaitForDialog(agent.Pid(), ts::FromUtf8(captionUtf8), 10000);
    ASSERT_NE(box, nullptr) << "no box " << captionUtf8;
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(ts::WaitUntil([&] { return !IsWindow(box); }, 5000));
  }
  // Starts the agent with a console in use and a second one whose warning
  // box is open; the serial of the one in use.
  DWORD InUseBehindTheWarningBox() {
    Start();
    const DWORD first = PlugInUse();
    Plug(ConsoleProfile(L"MRV-4000"));
    EXPECT_NE(ts::WaitForDialog(agent.Pid(), ts::FromUtf8("警告"), 10000), nullptr);
    return first;
  }
  std::string TracesSince(std::size_t from) const {
    std::string text;
    const std::vector<std::string> lines = traces.Lines();
    for (std::size_t i = from; i < lines.size(); ++i) text += lines[i] + "\n";
    return text;
  }
  bool Responsive() {
    DWORD_PTR result = 0;
    return SendMessageTimeoutW(main, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &result) != 0;
  }
  bool LinkUp(ts::LoopbackPeer& peer) { return ts::WaitUntil([&] { return peer.Connected(); }, 10000); }

  TSimHid console;
  ts::DebugOutputReader traces;
  ts::ChildProcess agent;
  HWND main = nullptr, joy = nullptr, send = nullptr, recv = nullptr;
};

TEST_F(ConsoleBridge, ConsolePluggedAtStartIsTakenIntoUse) {
  const DWORD serial = Plug(ConsoleProfile(), false);
  Start();
  EXPECT_TRUE(JoyShows("已连接"));
  EXPECT_GE(traces.WaitForLine("HidDev=QEX PROPRE CONTROLLER vid=1155, pid=22352", 5000), 0);
  LetTheReadThreadOpen();
  ASSERT_TRUE(console.SendInput(serial, Payload(0, 32)));
  EXPECT_GE(traces.WaitForLine("HidControllerDeviceData=32", 5000), 0);
  EXPECT_TRUE(SendCountIs(1));
}

TEST_F(ConsoleBridge, ReportsWithAnotherIdAreTracedButNotCounted) {
  Start();
  DeviceProfile profile = ConsoleProfile();
  profile.reportId = 1;  // the descriptor numbers its reports: ID 1
  const DWORD serial = PlugInUse(profile);
  ASSERT_TRUE(console.SendInput(serial, Payload(1, 32)));
  EXPECT_GE(traces.WaitForLine("HidControllerDeviceData=32", 5000), 0);
  Sleep(300);
  EXPECT_TRUE(SendCountIs(0, 100)) << "report ID 1 is dropped";
}

TEST_F(ConsoleBridge, PayloadsUpTo1025BytesRelayAndLargerOnesBringUpTheErrorBox) {
  Start();
  const DWORD fits = PlugInUse(ConsoleProfile(L"QEX PROPRE CONTROLLER", 1026));
  ASSERT_TRUE(console.SendInput(fits, Payload(0, 1025)));
  EXPECT_GE(traces.WaitForLine("HidControllerDeviceData=1025", 5000), 0);
  EXPECT_TRUE(SendCountIs(1));
  ASSERT_TRUE(console.Unplug(fits)) << console.LastError();
  ASSERT_TRUE(JoyShows("已断开"));

  const DWORD large = PlugInUse(ConsoleProfile(L"QEX PROPRE CONTROLLER", 1027));
  ASSERT_TRUE(console.SendInput(large, Payload(0, 1026)));
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
    const DWORD serial = Plug(ConsoleProfile(c.product));
    const std::string name = ts::ToUtf8(c.product);
    EXPECT_GE(traces.WaitForLine("HidDev=" + name + " vid=1155, pid=22352", 10000, from), 0)
        << name << "; the agent traced:\n" << TracesSince(from);
    EXPECT_TRUE(JoyShows(c.console ? "已连接" : "已断开", c.console ? 10000 : 500)) << name;
    const std::size_t beforeUnplug = traces.Lines().size();
    EXPECT_TRUE(console.Unplug(serial)) << console.LastError();
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
  const DWORD second = Plug(ConsoleProfile(L"MRV-4000"));
  DismissBox("警告");
  EXPECT_TRUE(JoyShows("已连接"));
  // The second console is not claimed: nothing reads its reports.
  ASSERT_TRUE(console.SendInput(second, Payload(0, 32)));
  Sleep(500);
  EXPECT_EQ(traces.Count("HidControllerDeviceData="), 0u);
  // The first console still relays.
  ASSERT_TRUE(console.SendInput(first, Payload(0, 32)));
  EXPECT_TRUE(SendCountIs(1));

  ASSERT_TRUE(console.Unplug(second)) << console.LastError();
  EXPECT_TRUE(JoyShows("已断开"));
  EXPECT_GE(traces.WaitForLine("HidControllerDeviceUnplug", 5000), 0);
  // Its read thread has stopped: its reports are neither traced nor relayed.
  const std::size_t data = traces.Count("HidControllerDeviceData=");
  console.SendInput(first, Payload(0, 32));
  Sleep(500);
  EXPECT_EQ(traces.Count("HidControllerDeviceData="), data);
  EXPECT_TRUE(SendCountIs(1, 100));

  const DWORD again = PlugInUse(ConsoleProfile());
  ASSERT_TRUE(console.SendInput(again, Payload(0, 32)));
  EXPECT_TRUE(SendCountIs(2));
}

TEST_F(ConsoleBridge, UnplugAndReplugWhileTheWarningBoxIsOpenTakesTheConsoleUpAgain) {
  DWORD first = 0;
  ASSERT_NO_FATAL_FAILURE(first = InUseBehindTheWarningBox());
  // Both changes arrive while the arrival handler's box is open.
  ASSERT_TRUE(console.Unplug(first)) << console.LastError();
  ASSERT_TRUE(console.Replug(first)) << console.LastError();
  Sleep(300);
  DismissBox("警告");
  EXPECT_GE(traces.WaitForLine("HidControllerDeviceUnplug", 5000), 0);
  EXPECT_TRUE(JoyShows("已连接"));
  LetTheReadThreadOpen();
  ASSERT_TRUE(console.SendInput(first, Payload(0, 32)));
  EXPECT_TRUE(SendCountIs(1)) << "the replugged console is read again";
}

TEST_F(ConsoleBridge, ReadsFailingBeforeTheUnplugIsHandledDoNotSpin) {
  // While the warning box of a second console is open, the change that an
  // unplug brings waits; the console in use fails every read meanwhile, and
  // the box's message loop carries out the read thread's hand-overs.
  DWORD first = 0;
  ASSERT_NO_FATAL_FAILURE(first = InUseBehindTheWarningBox());
  ASSERT_TRUE(console.Unplug(first)) << console.LastError();
  // The agent's own CPU time (Wine reports none for another process: its
  // Linux process's entry), not the machine's: other programs may keep the
  // cores busy. A read thread that retries without waiting keeps the agent
  // well above a tenth of a core (at this machine's speed); one that waits
  // between tries stays near 0.
  const int linuxPid = ts::LinuxPidOf(ts::AgentPath());
  ASSERT_GT(linuxPid, 0) << "the agent's Linux process was not found";
  const double before = ts::LinuxProcessCpuSeconds(linuxPid);
  const ULONGLONG start = GetTickCount64();
  Sleep(3000);
  const double used = ts::LinuxProcessCpuSeconds(linuxPid) - before;
  const double seconds = static_cast<double>(GetTickCount64() - start) / 1000;
  ASSERT_GE(before, 0) << "the agent's CPU time cannot be read";
  EXPECT_LT(used / seconds, 0.1 * ts::TimeScale())
      << "the agent used " << used << " s of CPU time in " << seconds << " s while the reads failed";
  DismissBox("警告");
  EXPECT_TRUE(JoyShows("已断开"));
  EXPECT_TRUE(Responsive());
}

TEST_F(ConsoleBridge, AnUnplugWhileOversizeBoxesAreOpenDoesNotDeadlock) {
  Start();
  const DWORD serial = PlugInUse(ConsoleProfile(L"QEX PROPRE CONTROLLER", 1027));
  // Several oversize reports in a row: a later hand-over relays the report
  // before it, so a box can be open inside the read thread's own hand-over.
  for (int i = 0; i < 6; ++i) ASSERT_TRUE(console.SendInput(serial, Payload(0, 1026)));
  ASSERT_NE(ts::WaitForDialog(agent.Pid(), ts::FromUtf8("错误"), 10000), nullptr);
  Sleep(500);
  ASSERT_TRUE(console.Unplug(serial)) << console.LastError();
  EXPECT_GE(traces.WaitForLine("HidControllerDeviceUnplug", 10000), 0);
  for (HWND box; (box = ts::WaitForDialog(agent.Pid(), ts::FromUtf8("错误"), 2000)) != nullptr;) {
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    ts::WaitUntil([&] { return !IsWindow(box); }, 5000);
  }
  EXPECT_TRUE(Responsive());
  EXPECT_TRUE(JoyShows("已断开"));
}

TEST_F(ConsoleBridge, TheSendCountShowsWhileReportsFlowAndIsExactOnceTheyStop) {
  Start();
  const DWORD serial = PlugInUse();
  constexpr int kReports = 200;
  std::vector<std::wstring> seen;
  for (int i = 0; i < kReports; ++i) {
    ASSERT_TRUE(console.SendInput(serial, Payload(0, 32)));
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
    ASSERT_TRUE(LinkUp(peer)) << "the agent never connected";
  }
  // Every report the agent was given arrives, once and in order: reports
  // 0 to count - 1 (Numbered) were fed, less those the simulated console
  // dropped from its own queue because the class driver did not read in
  // time (the stack's loss, not the agent's). A report the class driver
  // took is the agent's to relay: its handle's buffers overflowing is the
  // agent's loss.
  void ExpectRelayedInOrder(DWORD serial, int count) {
    TSimHid::InputCounts counts;
    ASSERT_TRUE(console.WaitForInputsSettled(serial, &counts, ts::Scaled(30000))) << "the console never drained";
    std::vector<bool> droppedByStack(static_cast<std::size_t>(count), false);
    for (const Report& report : console.DroppedInputs(serial)) {
      const int n = report[1] << 8 | report[2];
      if (n < count) droppedByStack[static_cast<std::size_t>(n)] = true;
    }
    std::string expected;
    for (int i = 0; i < count; ++i)
      if (!droppedByStack[static_cast<std::size_t>(i)]) expected += RecvMessage(i);
    ASSERT_EQ(counts.completed + counts.dropped, static_cast<std::uint32_t>(count)) << "the console lost reports";
    ts::WaitUntil([&] { return RecvMessages(peer.Received()).size() >= expected.size(); }, 30000);
    const std::string got = RecvMessages(peer.Received());
    if (counts.dropped) std::printf("the console dropped %u of %d reports from its own queue\n", counts.dropped, count);
    std::string drops;
    for (const std::string& line : traces.Lines())
      if (line.find("dropped") != std::string::npos) drops += "\n" + line;
    EXPECT_EQ(got.size(), expected.size())
        << "the class driver took " << counts.completed << " reports; the agent counted "
        << ts::ToUtf8(ts::WindowText(send)) << " (fewer: its handle's input buffers overflowed)";
    EXPECT_TRUE(got == expected) << "the relayed reports differ from the ones the agent was given"
                                 << FirstDifference(got, expected) << drops;
  }
  // Where the relayed messages first differ from the expected ones.
  static std::string FirstDifference(const std::string& got, const std::string& expected) {
    std::size_t at = 0;
    while (at < got.size() && at < expected.size() && got[at] == expected[at]) ++at;
    const std::size_t message = expected.rfind("usb-hid=recv", at);
    return "; first difference in message " + std::to_string(message == std::string::npos ? 0 : message / 85) +
           ": got " + got.substr(message == std::string::npos ? 0 : message, 85) + " (" +
           std::to_string(got.size() / 85) + " messages)";
  }
  // Feeds reports `first` to `last` - 1, the n-th at n ms, in batches of
  // what is due every few milliseconds: the machine's cores go to the agent
  // rather than to a feeder spinning on the clock. Where programs run slower
  // (QEX_TIME_SCALE: the emulated lane) the feed is as much slower, so the
  // agent meets the same load for its speed.
  bool FeedAt1000PerSecond(DWORD serial, int first, int last) {
    const double scale = ts::TimeScale();
    const double start = static_cast<double>(GetTickCount64()) - first * scale;
    for (int i = first; i < last;) {
      const double elapsed = static_cast<double>(GetTickCount64()) - start;
      const int due = static_cast<int>(std::min<double>(elapsed / scale + 1, last));
      for (; i < due; ++i)
        if (!console.SendInput(serial, Numbered(i))) return false;
      Sleep(4);
    }
    return true;
  }
  ts::LoopbackPeer peer;
};

TEST_F(ConsoleBridgeLinked, AnInputReportReachesTheLiveHostAsARecvMessage) {
  ASSERT_NO_FATAL_FAILURE(StartLinked());
  const DWORD serial = PlugInUse();
  ASSERT_TRUE(console.SendInput(serial, Payload(0, 32)));
  const std::string message = std::string("usb-hid=recv\r\ncode=") + kHexAll + "\r\n";
  EXPECT_TRUE(ts::WaitUntil([&] { return peer.Received().find(message) != std::string::npos; }, 5000));
  const int data = traces.WaitForLine("HidControllerDeviceData=32", 1000);
  const int hid = traces.WaitForLine(std::string("Hid: ") + kHexAll, 1000);
  EXPECT_GE(data, 0);
  EXPECT_GT(hid, data);
}

TEST_F(ConsoleBridgeLinked, ReportsInABurstAreEachRelayedOnceInOrder) {
  ASSERT_NO_FATAL_FAILURE(StartLinked());
  const DWORD serial = PlugInUse();
  // Written back to back, the reports wait in the handle's input buffers:
  // each read completes at once and the next hand-over comes before the
  // message of the last one.
  constexpr int kReports = 300;
  for (int i = 0; i < kReports; ++i) ASSERT_TRUE(console.SendInput(serial, Numbered(i)));
  ExpectRelayedInOrder(serial, kReports);
}

TEST_F(ConsoleBridgeLinked, EveryReportArrivesOnceInOrderWhileTheMainThreadStalls) {
  ASSERT_NO_FATAL_FAILURE(StartLinked());
  const DWORD serial = PlugInUse();
  const DWORD mainThread = GetWindowThreadProcessId(main, nullptr);
  HANDLE thread = OpenThread(THREAD_SUSPEND_RESUME, FALSE, mainThread);
  ASSERT_NE(thread, nullptr);
  // 1000 reports a second for 10 s; three times the agent's main thread is
  // held for 300 ms, so 300 reports wait in the read handle's buffers.
  constexpr int kReports = 10000;
  int stalls = 0, fed = 0;
  for (int stallAt : {1500, 4500, 7500}) {
    if (!FeedAt1000PerSecond(serial, fed, stallAt)) break;
    fed = stallAt;
    if (SuspendThread(thread) == static_cast<DWORD>(-1)) break;
    ++stalls;
    // Keep feeding while it is held.
    const bool ok = FeedAt1000PerSecond(serial, fed, fed + 300);
    ResumeThread(thread);
    if (!ok) break;
    fed += 300;
  }
  EXPECT_TRUE(fed == 7800 && FeedAt1000PerSecond(serial, fed, kReports)) << "the console was gone";
  CloseHandle(thread);
  ASSERT_EQ(stalls, 3);
  ExpectRelayedInOrder(serial, kReports);
}

TEST_F(ConsoleBridgeLinked, SendMessagesAreWrittenAsWholeOutputReports) {
  ASSERT_NO_FATAL_FAILURE(StartLinked());
  const DWORD serial = PlugInUse();
  ASSERT_TRUE(peer.Send("usb-hid=send\r\ncode=0400050000000110000000000000000000000000000000000000000000000000\r\n"));
  ASSERT_TRUE(console.WaitForOutputReports(serial, 1, 5000));
  Report expected(33, 0);
  expected[1] = 0x04;
  expected[3] = 0x05;
  expected[7] = 0x01;
  expected[8] = 0x10;
  EXPECT_EQ(console.OutputReports(serial)[0], expected);

  // A short code is padded with zeros to the console's output report.
  ASSERT_TRUE(peer.Send("usb-hid=send\r\ncode=0A0B\r\n"));
  ASSERT_TRUE(console.WaitForOutputReports(serial, 2, 5000));
  Report padded(33, 0);
  padded[1] = 0x0A;
  padded[2] = 0x0B;
  EXPECT_EQ(console.OutputReports(serial)[1], padded);

  // A code longer than the report is not written, and the trace says so.
  ASSERT_TRUE(peer.Send(std::string("usb-hid=send\r\ncode=") + kHexAll + "FF\r\n"));
  EXPECT_GE(traces.WaitForLine("WriteHidReport: 34 bytes do not fit the output report of 33 bytes", 5000), 0);
  Sleep(300);
  EXPECT_EQ(console.OutputReports(serial).size(), 2u);
}

TEST_F(ConsoleBridgeLinked, AConsoleThatStopsTakingReportsDoesNotFreezeTheAgent) {
  ASSERT_NO_FATAL_FAILURE(StartLinked());
  const DWORD serial = PlugInUse();
  ASSERT_TRUE(console.StallWrites(serial, true));
  const std::size_t from = traces.Lines().size();
  ASSERT_TRUE(peer.Send("usb-hid=send\r\ncode=01\r\n"));
  // Trace lines pass one debug-output buffer shared by every process; under
  // load they were once seen more than 5 s late. Late is no fault here;
  // missing is.
  constexpr int kTraceMs = 30000;
  EXPECT_GE(traces.WaitForLine("WriteHidReport failed: error 1460", kTraceMs), 0) << "ERROR_TIMEOUT; the agent traced:\n"
                                                                                   << TracesSince(from);
  // The agent goes on relaying.
  ASSERT_TRUE(console.SendInput(serial, Payload(0, 32)));
  EXPECT_TRUE(SendCountIs(1, 5000));
  EXPECT_TRUE(Responsive());
  // While the console still holds that write, the next one fails at once,
  // counted rather than traced.
  ASSERT_TRUE(peer.Send("usb-hid=send\r\ncode=02\r\n"));
  EXPECT_TRUE(RecvCountIs(2));
  // Once it takes reports again, writes go through.
  ASSERT_TRUE(console.StallWrites(serial, false));
  ASSERT_TRUE(console.WaitForOutputReports(serial, 1, 5000));
  ASSERT_TRUE(peer.Send("usb-hid=send\r\ncode=03\r\n"));
  ASSERT_TRUE(console.WaitForOutputReports(serial, 2, 5000));
  EXPECT_EQ(console.OutputReports(serial).back()[1], 0x03);
  EXPECT_GE(traces.WaitForLine("WriteHidReport: 1 reports skipped while the console stalled", kTraceMs), 0)
      << TracesSince(from);
  EXPECT_EQ(traces.Count("WriteHidReport failed"), 1u);
}

TEST_F(ConsoleBridgeLinked, AConsoleThatHoldsEveryReportCostsTheMainThreadOneTimeoutASecond) {
  ASSERT_NO_FATAL_FAILURE(StartLinked());
  const DWORD serial = PlugInUse();
  // Each write is held a little longer than the agent waits; its cancel
  // then completes at once.
  ASSERT_TRUE(console.CancelWritesAfter(serial, HidWriteTimeoutMs + 10));

  // 1000 reports a second for 3 s from another thread, while the live host
  // sends ten codes in one read.
  constexpr int kReports = 3000;
  std::atomic<bool> fed{true};
  std::thread feeder([&] { fed = FeedAt1000PerSecond(serial, 0, kReports); });
  ts::Pause(500);
  std::string codes;
  for (int i = 0; i < 10; ++i) codes += "usb-hid=send\r\ncode=0" + std::to_string(i) + "\r\n";
  const std::size_t from = traces.Lines().size();
  ASSERT_TRUE(peer.Send(codes));
  // The window answers soon all along: a probe every 20 ms for 1.5 s from
  // the moment the codes go out.
  ULONGLONG slowest = 0;
  for (const ULONGLONG end = GetTickCount64() + 1500; GetTickCount64() < end; Sleep(20)) {
    const ULONGLONG sent = GetTickCount64();
    EXPECT_TRUE(Responsive());
    slowest = std::max(slowest, GetTickCount64() - sent);
  }
  EXPECT_TRUE(RecvCountIs(10, 5000));
  feeder.join();
  EXPECT_TRUE(fed);
  EXPECT_LE(slowest, static_cast<ULONGLONG>(ts::Scaled(300))) << "the main thread was held";
  EXPECT_EQ(traces.Count("WriteHidReport failed: error 1460"), 1u) << TracesSince(from);
  ExpectRelayedInOrder(serial, kReports);

  // Once the console takes reports again, writes go through.
  ASSERT_TRUE(console.CancelWritesAfter(serial, 0));
  EXPECT_TRUE(ts::WaitUntil(
      [&] { return peer.Send("usb-hid=send\r\ncode=0B\r\n") && console.WaitForOutputReports(serial, 1, 200); },
      5000));
  EXPECT_EQ(console.OutputReports(serial).back()[1], 0x0B);
  EXPECT_GE(traces.WaitForLine("reports skipped while the console stalled", 5000, from), 0);
}

TEST_F(ConsoleBridgeLinked, ReplugCyclesWithAWriteEachTakeTheConsoleUpWithoutGrowth) {
  ASSERT_NO_FATAL_FAILURE(StartLinked());
  const DWORD serial = PlugInUse();
  // Handles from the system's handle table (Wine's server holds every event,
  // thread and file handle of the agent there; its Unix file descriptors
  // would miss the events), threads from the platform's snapshot.
  DWORD handles = 0, threads = 0;
  constexpr int kCycles = 100;
  for (int cycle = 1; cycle <= kCycles; ++cycle) {
    // One send message written to the console in use: its write record.
    ASSERT_TRUE(peer.Send("usb-hid=send\r\ncode=01\r\n"));
    ASSERT_TRUE(console.WaitForOutputReports(serial, static_cast<std::size_t>(cycle), 5000)) << cycle;
    // The agent's read thread has a read outstanding on the console here.
    ASSERT_TRUE(console.Unplug(serial)) << cycle << ": " << console.LastError();
    ASSERT_TRUE(JoyShows("已断开")) << cycle;
    ASSERT_TRUE(console.Replug(serial)) << cycle << ": " << console.LastError();
    ASSERT_TRUE(JoyShows("已连接")) << cycle;
    if (cycle == 10) {
      ts::Pause(500);
      handles = HandleCount(agent.Pid());
      ASSERT_GT(handles, 0u) << "the handle table cannot be read";
      threads = ThreadCount(agent.Pid());
    }
  }
  ts::Pause(500);
  const DWORD handlesAfter = HandleCount(agent.Pid());
  EXPECT_LE(handlesAfter, handles + 5) << "handles after 10 cycles " << handles << ", after " << kCycles;
  EXPECT_LE(ThreadCount(agent.Pid()), threads) << "threads after 10 cycles " << threads;
  LetTheReadThreadOpen();
  ASSERT_TRUE(console.SendInput(serial, Payload(0, 32)));
  EXPECT_TRUE(SendCountIs(1));
  EXPECT_TRUE(Responsive());
}

TEST_F(ConsoleBridgeLinked, ASecondStartLeavesTheConsoleAndTheLinkToTheFirst) {
  ASSERT_NO_FATAL_FAILURE(StartLinked());
  const DWORD serial = PlugInUse();
  // Started again, as from the Start menu after the log-on's autorun.
  ts::ChildProcess again;
  ASSERT_TRUE(again.Start(ts::AgentPath()));
  EXPECT_EQ(again.Wait(2000), 0) << "the second start did not end by itself";
  if (again.Running()) again.Kill();
  for (int i = 0; i < 10; ++i) ASSERT_TRUE(console.SendInput(serial, Numbered(i)));
  ExpectRelayedInOrder(serial, 10);
  EXPECT_EQ(peer.Accepted(), 1);
}

TEST_F(ConsoleBridgeLinked, AStatusRequestFollows3000MsAfterTheConsoleIsTakenIntoUse) {
  ASSERT_NO_FATAL_FAILURE(StartLinked());
  // The request that follows the connection comes first.
  ASSERT_TRUE(ts::WaitUntil([&] { return !peer.TimesOf("usb-hid=get_status").empty(); }, 8000));
  const ULONGLONG plugged = GetTickCount64();
  PlugInUse();
  ASSERT_TRUE(ts::WaitUntil([&] { return peer.TimesOf("usb-hid=get_status").size() >= 2; }, 8000));
  const ULONGLONG at = peer.TimesOf("usb-hid=get_status")[1];
  EXPECT_GE(at - plugged, 2500u);
  EXPECT_LE(at - plugged, 6000u);
}

}  // namespace
