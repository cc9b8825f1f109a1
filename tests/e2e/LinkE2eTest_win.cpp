// The link to the live host end to end: the unmodified agent under Wine
// against a live-host peer in this test, observed from outside through its
// traces, its labels and the bytes it sends.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "LoopbackPeer_win.h"
#include "WineTestSupport_win.h"
#include "app/Texts.h"
#include "support/Text.h"

namespace ts = testing_support;

namespace {

const std::string kSettingsKey = "Software\\QEX\\JoystickAgent";
constexpr int kStartTimeout = 30000;

std::uint64_t Now() { return GetTickCount64(); }

ts::LoopbackPeer::Options NotListening() {
  ts::LoopbackPeer::Options options;
  options.listen = false;
  return options;
}

// A period's bounds, the tolerance widened on a slower machine.
std::uint64_t Earliest(int periodMs, int toleranceMs) {
  return static_cast<std::uint64_t>(std::max(periodMs - ts::Scaled(toleranceMs), 0));
}
std::uint64_t Latest(int periodMs, int toleranceMs) {
  return static_cast<std::uint64_t>(periodMs + ts::Scaled(toleranceMs));
}

class LinkE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    ts::RegDeleteTree(kSettingsKey);  // the default address, 127.0.0.1
    ASSERT_TRUE(traces.Ok()) << "debug output reader";
  }
  void TearDown() override {
    if (agent.Running()) agent.Close(10000);
    if (agent.Running()) agent.Kill();
    ts::RegDeleteTree(kSettingsKey);
  }

  void Start() {
    ASSERT_TRUE(agent.Start(ts::AgentPath())) << ts::AgentPath();
    traces.FilterProcess(agent.Pid());
    main = ts::WaitForMainWindow(agent.Pid(), kStartTimeout);
    ASSERT_NE(main, nullptr) << "no main window";
    netLabel = ts::AgentControl(main, "lblNetStatus");
    recvLabel = ts::AgentControl(main, "lblRecv");
    configButton = ts::AgentControl(main, "btnConfig");
    ASSERT_TRUE(netLabel && recvLabel && configButton);
  }

  static std::wstring NetText(bool up) {
    return ts::FromCp936(std::string(texts::kTextNetPrefix) + (up ? texts::kTextConnected : texts::kTextDisconnected));
  }
  static std::wstring RecvText(int count) { return ts::FromCp936(FormatText(texts::kFmtRecvCount, count)); }
  bool NetLabelBecomes(bool up, int timeoutMs = 3000) {
    return ts::WaitUntil([&] { return ts::WindowText(netLabel) == NetText(up); }, timeoutMs);
  }
  bool RecvLabelBecomes(int count, int timeoutMs = 3000) {
    return ts::WaitUntil([&] { return ts::WindowText(recvLabel) == RecvText(count); }, timeoutMs);
  }
  // Times of the trace lines holding text, from line index `from` on.
  std::vector<std::uint64_t> TraceTimes(const std::string& text, std::size_t from = 0) const {
    const std::vector<std::string> lines = traces.Lines();
    const std::vector<std::uint64_t> times = traces.Times();
    std::vector<std::uint64_t> found;
    for (std::size_t i = from; i < lines.size() && i < times.size(); ++i)
      if (ts::DebugOutputReader::Body(lines[i]).find(text) != std::string::npos) found.push_back(times[i]);
    return found;
  }
  // OK in the address prompt with `address` entered.
  void EnterAddress(const wchar_t* address) {
    PostMessageW(main, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(configButton), BN_CLICKED),
                 reinterpret_cast<LPARAM>(configButton));
    const HWND dialog = ts::WaitForDialog(agent.Pid(), L"\u8BBE\u7F6E", 5000);  // 设置
    ASSERT_NE(dialog, nullptr) << "no address prompt";
    SendMessageW(ts::ChildOf(dialog, L"Edit"), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(address));
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
    ASSERT_TRUE(ts::WaitUntil([&] { return !IsWindow(dialog); }, 3000)) << "the prompt stayed";
  }
  // OK in the address prompt, with the address it shows (unchanged); then,
  // with closePeer, the live host closes its end at once, so that its close
  // may reach the agent only after the agent has opened the next connection.
  void ConfirmAddressPrompt(bool closePeer = false) {
    PostMessageW(main, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(configButton), BN_CLICKED),
                 reinterpret_cast<LPARAM>(configButton));
    const HWND dialog = ts::WaitForDialog(agent.Pid(), L"\u8BBE\u7F6E", 5000);  // 设置
    ASSERT_NE(dialog, nullptr) << "no address prompt";
    const HWND edit = ts::ChildOf(dialog, L"Edit");
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(ts::WindowText(edit), L"127.0.0.1");
    SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"127.0.0.1"));
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
    if (closePeer) peer.Drop();
    ASSERT_TRUE(ts::WaitUntil([&] { return !IsWindow(dialog); }, 3000));
  }
  std::size_t CountExact(const std::string& body) const {
    std::size_t n = 0;
    for (const std::string& line : traces.Lines())
      if (ts::DebugOutputReader::Body(line) == body) ++n;
    return n;
  }
  bool AnyBoxOpen() const { return !ts::ProcessWindows(agent.Pid(), L"#32770").empty(); }

  ts::DebugOutputReader traces;
  ts::ChildProcess agent;
  // The live host, listening only when a test says so.
  ts::LoopbackPeer peer{NotListening()};
  HWND main = nullptr;
  HWND netLabel = nullptr;
  HWND recvLabel = nullptr;
  HWND configButton = nullptr;
};

TEST_F(LinkE2E, RetriesUntilTheHostListensThenRequestsStatusAndKeepsAlive) {
  Start();
  // Nobody listens: a refused attempt about every 3000 ms.
  ASSERT_TRUE(ts::WaitUntil([&] { return TraceTimes("socket error 10061").size() >= 3; }, 15000))
      << TraceTimes("socket error 10061").size() << " refusals traced";
  const std::vector<std::uint64_t> refusals = TraceTimes("socket error 10061");
  for (std::size_t i = 1; i < refusals.size(); ++i) {
    const std::uint64_t gap = refusals[i] - refusals[i - 1];
    EXPECT_GE(gap, Earliest(3000, 700)) << "refusal " << i;
    EXPECT_LE(gap, Latest(3000, 1500)) << "refusal " << i;
  }
  EXPECT_TRUE(ts::WindowText(netLabel) == NetText(false));
  // The keep-alive rhythm runs from start-up; the first refusal follows the
  // first attempt of the start-up sequence at once.
  const std::uint64_t startedAt = refusals[0];

  // The host starts listening: connected within one retry period.
  ASSERT_TRUE(peer.Listen()) << "127.0.0.1:18884 is taken";
  const std::uint64_t listening = Now();
  const std::uint64_t connected = peer.Accept(5000);
  ASSERT_NE(connected, 0u) << "no connection within 5000 ms of listening";
  const std::size_t tracesAtConnect = traces.Lines().size();
  EXPECT_LE(connected - listening, Latest(3000, 1000));
  EXPECT_TRUE(NetLabelBecomes(true));

  ASSERT_TRUE(peer.OpenFor(9500)) << "the agent closed the link";
  const std::vector<std::uint64_t> requests = peer.TimesOf("usb-hid=get_status");
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_GE(requests[0] - connected, Earliest(3000, 700));
  EXPECT_LE(requests[0] - connected, Latest(3000, 1500));

  const std::vector<std::uint64_t> alive = peer.TimesOf("mark=live");
  ASSERT_GE(alive.size(), 2u);
  for (std::size_t i = 0; i < alive.size(); ++i) {
    // On the 4000 ms grid that began at start-up, not one begun by the connect.
    const long long phase = static_cast<long long>((alive[i] - startedAt + 2000) % 4000) - 2000;
    // Past half the period the two grids could not be told apart.
    EXPECT_LE(phase < 0 ? -phase : phase, std::min(ts::Scaled(900), 1800))
        << "keep-alive " << i << " off the start-up rhythm";
    if (i > 0) {
      EXPECT_GE(alive[i] - alive[i - 1], Earliest(4000, 700));
      EXPECT_LE(alive[i] - alive[i - 1], Latest(4000, 700));
    }
  }
  for (const ts::LoopbackPeer::Line& line : peer.Lines())
    EXPECT_TRUE(line.text == "mark=live" || line.text == "usb-hid=get_status") << line.text;
  EXPECT_TRUE(TraceTimes("socket error", tracesAtConnect).empty()) << "an error once connected";
}

// An address the agent cannot dial (a text that is no address; on a real
// PC a stored LAN address while the network is down) is a field condition:
// traced and retried like a refused connection, never a bug-report box, and
// the window keeps answering.
TEST_F(LinkE2E, AnAddressRefusedAtOnceIsRetriedQuietlyUntilAGoodOneConnects) {
  Start();
  ASSERT_TRUE(ts::WaitUntil([&] { return TraceTimes("socket error 10061").size() >= 2; }, 10000))
      << "no refused attempts traced while nobody listens";
  const std::size_t before = traces.Lines().size();
  ASSERT_NO_FATAL_FAILURE(EnterAddress(L"abc"));
  EXPECT_EQ(ts::RegValue(kSettingsKey, "Address"), "abc");

  // 90 s of it: every probe answered, no box, an error traced every 3 s.
  const std::uint64_t end = Now() + 90000;
  int probes = 0;
  while (Now() < end) {
    DWORD_PTR answer = 0;
    ASSERT_NE(SendMessageTimeoutW(main, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, ts::Scaled(5000), &answer), 0)
        << "the window did not answer after " << probes << " probes";
    ++probes;
    ASSERT_FALSE(AnyBoxOpen()) << "a message box";
    ASSERT_TRUE(ts::ProcessWindows(agent.Pid(), L"QEXReportBox").empty()) << "a bug-report box";
    Sleep(1000);
  }
  const std::vector<std::uint64_t> errors = TraceTimes("socket error", before);
  EXPECT_GE(errors.size(), 25u);
  EXPECT_EQ(TraceTimes("socket error 10049", before).size(), errors.size()) << "another error than the address's";
  // The prompt's attempt fails at once, off the reconnect timer's rhythm,
  // which the prompt leaves running: the rhythm shows from the second on.
  for (std::size_t i = 2; i < errors.size(); ++i) {
    EXPECT_GE(errors[i] - errors[i - 1], Earliest(3000, 700)) << "error " << i;
    EXPECT_LE(errors[i] - errors[i - 1], Latest(3000, 1500)) << "error " << i;
  }

  // Mended while a live host listens: connected at once.
  ASSERT_TRUE(peer.Listen()) << "127.0.0.1:18884 is taken";
  ASSERT_NO_FATAL_FAILURE(EnterAddress(L"127.0.0.1"));
  EXPECT_NE(peer.Accept(5000), 0u) << "not connected within 5 s of the mended address";
  EXPECT_TRUE(NetLabelBecomes(true));
  EXPECT_FALSE(AnyBoxOpen());
}

TEST_F(LinkE2E, SendMessagesOrderlyCloseAndTheAddressPrompt) {
  ASSERT_TRUE(peer.Listen()) << "127.0.0.1:18884 is taken";
  Start();
  ASSERT_NE(peer.Accept(5000), 0u) << "the agent did not connect at start";
  ASSERT_TRUE(NetLabelBecomes(true));
  ASSERT_TRUE(RecvLabelBecomes(0));

  // One message, counted and traced as address, ": " and the code.
  ASSERT_TRUE(peer.Send("usb-hid=send\r\ncode=0102FF\r\n"));
  EXPECT_GE(traces.WaitForLine("127.0.0.1: 0102FF", 3000), 0);
  EXPECT_TRUE(RecvLabelBecomes(1));

  // Split over two reads: neither lost nor cut.
  ASSERT_TRUE(peer.Send("usb-hid=send\r\nco"));
  ts::Pause(300);
  ASSERT_TRUE(peer.Send("de=0A0B\r\n"));
  EXPECT_GE(traces.WaitForLine("127.0.0.1: 0A0B", 3000), 0);
  EXPECT_TRUE(RecvLabelBecomes(2));
  EXPECT_EQ(CountExact("127.0.0.1: co"), 0u);
  EXPECT_EQ(CountExact("127.0.0.1: 0A0B"), 1u);

  // Several in one read, each handled; other text ignored.
  ASSERT_TRUE(peer.Send("mark=live\r\nusb-hid=send\r\ncode=01\r\nUSB-HID=SEND\r\ncode=77\r\n"
                        "usb-hid=send\r\nCODE=02\r\n"));
  EXPECT_GE(traces.WaitForLine("127.0.0.1: 02", 3000), 0);
  EXPECT_TRUE(RecvLabelBecomes(4));
  EXPECT_EQ(CountExact("127.0.0.1: 01"), 1u);
  EXPECT_EQ(CountExact("127.0.0.1: 77"), 0u);

  // Bad hex from the network: traced, counted, no box, the link stays.
  ASSERT_TRUE(peer.Send("usb-hid=send\r\ncode=0g\r\n"));
  EXPECT_GE(traces.WaitForLine("'$0g' is not a valid integer value", 3000), 0);
  EXPECT_GE(traces.WaitForLine("127.0.0.1: 0g", 3000), 0);
  EXPECT_TRUE(RecvLabelBecomes(5));
  EXPECT_FALSE(AnyBoxOpen());

  // A peer that omits its last line end still gets through, once the
  // grace period for a late tail (2 s) has passed.
  ASSERT_TRUE(peer.Send("usb-hid=send\r\ncode=0C"));
  EXPECT_GE(traces.WaitForLine("127.0.0.1: 0C", 6000), 0);
  EXPECT_TRUE(RecvLabelBecomes(6));
  ASSERT_TRUE(peer.OpenFor(4500)) << "the link went down";
  EXPECT_FALSE(peer.TimesOf("mark=live").empty());
  EXPECT_FALSE(AnyBoxOpen());

  // Orderly close by the host: shown as disconnected, and no new attempt.
  const std::size_t before = traces.Lines().size();
  peer.Drop();
  EXPECT_TRUE(NetLabelBecomes(false));
  EXPECT_EQ(peer.Accept(7000), 0u) << "the agent tried again after an orderly close";
  EXPECT_TRUE(TraceTimes("socket error", before).empty());

  // OK in the address prompt, same address: a new attempt at once.
  ConfirmAddressPrompt();
  EXPECT_NE(peer.Accept(2500), 0u) << "no reconnect after the prompt";
  EXPECT_TRUE(NetLabelBecomes(true));
  EXPECT_EQ(ts::RegValue(kSettingsKey, "Address"), "127.0.0.1");

  // ...and while connected it drops the link first.
  ConfirmAddressPrompt();
  EXPECT_FALSE(peer.OpenFor(2000)) << "the old link stayed up";
  EXPECT_NE(peer.Accept(2500), 0u) << "no reconnect after the prompt";
  EXPECT_TRUE(NetLabelBecomes(true));
  EXPECT_FALSE(AnyBoxOpen());
}

TEST_F(LinkE2E, TheAddressPromptRepeatedQuicklyAlwaysEndsConnected) {
  // The platform gives a new socket the handle value of the one just closed;
  // a close of the old connection still queued must not end the new one.
  ASSERT_TRUE(peer.Listen()) << "127.0.0.1:18884 is taken";
  Start();
  ASSERT_NE(peer.Accept(5000), 0u) << "the agent did not connect at start";
  for (int round = 0; round < 50; ++round) {
    ConfirmAddressPrompt(true);
    ASSERT_NE(peer.Accept(5000), 0u) << "no new connection in round " << round;
    ASSERT_TRUE(NetLabelBecomes(true)) << "round " << round;
  }
  // Connected, and it stays so.
  EXPECT_TRUE(peer.OpenFor(1500)) << "the agent closed the last connection";
  EXPECT_TRUE(NetLabelBecomes(true, 100));
  EXPECT_FALSE(AnyBoxOpen());
}

}  // namespace
