// Whole messages through a live host that stops reading or reads slowly, and
// send messages that arrive cut up or late: the unmodified agent under Wine
// with the simulated console on the platform's own HID stack and a loopback
// live-host peer in this test.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "LoopbackPeer_win.h"
#include "WineTestSupport_win.h"
#include "tools/simhid/SimHid.h"

namespace ts = testing_support;
using simhid::DeviceProfile;
using simhid::Report;
using simhid::TSimHid;

namespace {

constexpr int kStartTimeout = 30000;
constexpr char kHoldTrace[] = "send: the live host takes no more";
constexpr char kDropTrace[] = "dropped ";

// The live host, whose reading pace the test sets: stopped, a few bytes at a
// time with pauses, or as fast as it can. Its receive buffer is small, so
// the agent's side fills sooner.
ts::LoopbackPeer::Options SmallBuffer() {
  ts::LoopbackPeer::Options options;
  options.receiveBuffer = 4096;
  return options;
}

constexpr std::size_t kPayload = 1025;  // the largest report: the buffers fill soonest

// Report i: its number in the first four bytes, then a pattern.
Report NumberedReport(std::uint32_t i) {
  Report report(kPayload + 1);
  report[0] = 0;
  for (std::size_t k = 0; k < kPayload; ++k) report[k + 1] = static_cast<std::uint8_t>(k * 7 + i);
  for (int k = 0; k < 4; ++k) report[1 + k] = static_cast<std::uint8_t>(i >> (24 - 8 * k));
  return report;
}

std::string Hex(const Report& report) {
  static const char digits[] = "0123456789ABCDEF";
  std::string hex;
  for (std::size_t k = 1; k < report.size(); ++k) {
    hex.push_back(digits[report[k] >> 4]);
    hex.push_back(digits[report[k] & 15]);
  }
  return hex;
}

// What the live host received, message by message. Every byte must belong to
// a whole message of the agent; the recv messages' report numbers in order.
struct Stream {
  bool whole = true;
  std::string fault;
  std::vector<std::uint32_t> reports;
};

Stream Parse(const std::string& bytes) {
  Stream stream;
  std::size_t at = 0;
  auto line = [&](std::string& text) {
    const std::size_t end = bytes.find("\r\n", at);
    if (end == std::string::npos) return false;
    text = bytes.substr(at, end - at);
    at = end + 2;
    return true;
  };
  while (at < bytes.size()) {
    const std::size_t start = at;
    std::string first, code;
    if (!line(first)) {
      stream.whole = false;
      stream.fault = "a cut message at the end, byte " + std::to_string(start);
      return stream;
    }
    if (first == "mark=live" || first == "usb-hid=get_status") continue;
    bool ok = first == "usb-hid=recv" && line(code) && code.size() == 5 + 2 * kPayload && code.compare(0, 5, "code=") == 0;
    std::uint32_t number = 0;
    if (ok) {
      number = static_cast<std::uint32_t>(std::stoul(code.substr(5, 8), nullptr, 16));
      ok = code.substr(5) == Hex(NumberedReport(number));
    }
    if (!ok) {
      stream.whole = false;
      stream.fault = "garbled message at byte " + std::to_string(start) + ": " + bytes.substr(start, 60);
      return stream;
    }
    stream.reports.push_back(number);
  }
  return stream;
}

class LinkFlow : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(traces.Ok()) << "debug output reader";
    std::string error;
    ASSERT_TRUE(console.Install(ts::PathFromEnv("QEX_SIMHID_DRIVERS"), &error)) << error;
    ASSERT_TRUE(peer.Ok()) << "127.0.0.1:18884 is taken";
    ts::RegDeleteTree("Software\\QEX\\JoystickAgent");
    ASSERT_TRUE(agent.Start(ts::AgentPath())) << ts::AgentPath();
    traces.FilterProcess(agent.Pid());
    const HWND main = ts::WaitForMainWindow(agent.Pid(), kStartTimeout);
    ASSERT_NE(main, nullptr);
    sendLabel = ts::AgentControl(main, "lblSend");
    joyLabel = ts::AgentControl(main, "lblJoyStatus");
    ASSERT_TRUE(sendLabel && joyLabel);
    ASSERT_TRUE(peer.Accept(10000)) << "the agent did not connect";
  }
  void TearDown() override {
    if (agent.Running()) agent.Close(10000);
    if (agent.Running()) agent.Kill();
  }
  DWORD PlugInUse(WORD inputLength) {
    DeviceProfile profile;
    profile.inputLength = inputLength;
    const DWORD serial = console.Plug(profile);
    EXPECT_NE(serial, 0u) << console.LastError();
    const std::wstring inUse = ts::FromUtf8("USB遥杆: 已连接");
    EXPECT_TRUE(ts::WaitUntil([&] { return ts::WindowText(joyLabel) == inUse; }, 10000));
    // The read thread opens its handle in its first cycle, after the window
    // shows the console in use; nothing outside shows that moment.
    Sleep(1000);
    return serial;
  }
  // The send counter once it has stayed the same for two seconds.
  std::uint32_t SettledSendCount() {
    std::wstring last, now = ts::WindowText(sendLabel);
    do {
      last = now;
      Sleep(2000);
      now = ts::WindowText(sendLabel);
    } while (now != last);
    unsigned count = 0;
    std::sscanf(ts::ToUtf8(now).c_str() + std::string("发送: ").size(), "%u", &count);
    return count;
  }
  // Dropped reports as the agent traced them.
  std::uint32_t DroppedReports() const {
    std::uint32_t reports = 0;
    for (const std::string& line : traces.Lines()) {
      int messages = 0, dropped = 0;
      const std::string body = ts::DebugOutputReader::Body(line);
      if (std::sscanf(body.c_str(), "dropped %d messages (%d reports)", &messages, &dropped) == 2)
        reports += static_cast<std::uint32_t>(dropped);
    }
    return reports;
  }

  // The console sends numbered reports at about 1000 per second (as much
  // slower where programs run slower: QEX_TIME_SCALE) while the
  // live host reads at the pace set, until the agent has held messages back
  // and a further `after` reports have gone; then the live host reads freely.
  // Every message it got must be whole, in order, none twice, and each report
  // the agent relayed either received or traced as dropped.
  void RelayThroughASlowHost(int chunk, int pauseMs, std::uint32_t after) {
    const DWORD serial = PlugInUse(kPayload + 1);
    peer.Pace(chunk, pauseMs);
    std::uint32_t sent = 0;
    std::uint32_t heldAt = 0;
    TSimHid::InputCounts atHold;  // what the agent had been given when it first held back
    const ULONGLONG start = GetTickCount64();
    const double scale = ts::TimeScale();
    while (heldAt == 0 || sent < heldAt + after) {
      ASSERT_LT(GetTickCount64() - start, static_cast<ULONGLONG>(ts::Scaled(120000)))
          << "the agent never held a message back, " << sent << " sent";
      ASSERT_TRUE(console.SendInput(serial, NumberedReport(sent))) << "the console is gone";
      ++sent;
      if (sent % 100 == 0 && heldAt == 0 && traces.Count(kHoldTrace) > 0) {
        heldAt = sent;
        ASSERT_TRUE(console.QueryInputs(serial, &atHold)) << "the console did not answer";
      }
      // At most 1000 per second: wait for the time of this report.
      const ULONGLONG due = start + static_cast<ULONGLONG>(sent * scale);
      const ULONGLONG now = GetTickCount64();
      if (due > now + 5) Sleep(static_cast<DWORD>(due - now));
    }
    // The relay is judged against what the agent was given: the simulated
    // console drops reports from its own queue when the class driver does
    // not read in time (the stack's loss); every report the class driver
    // took reached the agent's handle.
    TSimHid::InputCounts given;
    ASSERT_TRUE(console.WaitForInputsSettled(serial, &given, ts::Scaled(30000))) << "the console never drained";
    ASSERT_EQ(given.completed + given.dropped, sent) << "the console lost reports";
    const std::uint32_t relayed = SettledSendCount();
    EXPECT_EQ(relayed, given.completed) << "the class driver took " << given.completed
                                        << " reports; fewer counted: the agent's handle's input buffers overflowed";
    ASSERT_GT(relayed, atHold.completed) << "the agent relayed nothing after it first held a message back";
    peer.Pace(65536, 0);
    // Everything held back goes once the host reads again.
    ASSERT_TRUE(ts::WaitUntil([&] { return traces.Count(kDropTrace) > 0; }, 60000)) << "no drop traced";
    ASSERT_TRUE(ts::WaitUntil([&] { return GetTickCount64() - peer.LastArrival() > 2000; }, 60000));

    const Stream stream = Parse(peer.Received());
    ASSERT_TRUE(stream.whole) << stream.fault;
    for (std::size_t k = 1; k < stream.reports.size(); ++k)
      ASSERT_LT(stream.reports[k - 1], stream.reports[k]) << "out of order or twice at message " << k;
    const std::uint32_t dropped = DroppedReports();
    std::printf("%u reports sent, %u dropped by the console's own queue, %u relayed, held back from report %u on, "
                "%u received whole, %u dropped\n",
                sent, given.dropped, relayed, heldAt, static_cast<unsigned>(stream.reports.size()), dropped);
    EXPECT_GT(dropped, 0u);
    EXPECT_EQ(stream.reports.size() + dropped, relayed)
        << stream.reports.size() << " received, " << dropped << " dropped";
  }

  TSimHid console;
  ts::DebugOutputReader traces;
  ts::ChildProcess agent;
  ts::LoopbackPeer peer{SmallBuffer()};
  HWND sendLabel = nullptr;
  HWND joyLabel = nullptr;
};

TEST_F(LinkFlow, AHostThatStopsReadingGetsWholeMessagesInOrderAndTheRestIsCountedAsDropped) {
  // Under Wine the sockets grow their buffers to megabytes: the console runs
  // until the agent reports that the live host takes no more, then two more
  // seconds, longer than the agent's queue lasts at this rate.
  RelayThroughASlowHost(0, 0, 2000);
}

TEST_F(LinkFlow, AHostThatReadsAFewBytesAtATimeGetsTheConcatenationOfWholeMessages) {
  // One byte per read with pauses: the agent's sends are taken in pieces.
  RelayThroughASlowHost(1, 1, 2000);
}

TEST_F(LinkFlow, ALoneSendLineDoesNotTakeTheCodeOfALaterText) {
  const DWORD serial = PlugInUse(33);
  ASSERT_TRUE(peer.Send("usb-hid=send\r\n"));
  Sleep(1000);
  ASSERT_TRUE(peer.Send("usb-hid=status\r\ncode=05\r\n"));
  // A control message afterwards shows when the agent has read it all.
  ASSERT_TRUE(peer.Send("usb-hid=send\r\ncode=7F\r\n"));
  ASSERT_TRUE(console.WaitForOutputReports(serial, 1, 5000));
  Sleep(500);
  const std::vector<Report> written = console.OutputReports(serial);
  ASSERT_EQ(written.size(), 1u);
  EXPECT_EQ(written[0][1], 0x7F);
  EXPECT_EQ(traces.Count("127.0.0.1: 05"), 0u);
}

TEST_F(LinkFlow, ASendMessageCutAtEveryByteAndDeliveredSlowlyIsWrittenOnceWhole) {
  const DWORD serial = PlugInUse(33);
  const std::string code = "0400050000000110000000000000000000000000000000000000000000000000";
  const std::string message = "usb-hid=send\r\ncode=" + code + "\r\n";
  for (char byte : message) {
    ASSERT_TRUE(peer.Send(std::string(1, byte)));
    Sleep(100);
  }
  ASSERT_TRUE(console.WaitForOutputReports(serial, 1, 5000));
  Sleep(1000);
  const std::vector<Report> written = console.OutputReports(serial);
  ASSERT_EQ(written.size(), 1u);
  Report expected(33, 0);
  expected[1] = 0x04;
  expected[3] = 0x05;
  expected[7] = 0x01;
  expected[8] = 0x10;
  EXPECT_EQ(written[0], expected);
  EXPECT_EQ(traces.Count("127.0.0.1: " + code), 1u);
}

// A code line whose tail comes late (a segment the network sent again) is
// one command: written whole once its line ends, never cut to the digits
// that came first. A code with an odd digit count is no whole command.
TEST_F(LinkFlow, ACodeLineWhoseTailComesLateIsWrittenWholeAndAnOddCodeNotAtAll) {
  const DWORD serial = PlugInUse(33);
  ASSERT_TRUE(peer.Send("usb-hid=send\r\ncode=01020"));
  Sleep(800);  // the network's delay, not the agent's: not scaled
  ASSERT_TRUE(peer.Send("30405\r\n"));
  ASSERT_TRUE(console.WaitForOutputReports(serial, 1, 5000));

  ASSERT_TRUE(peer.Send("usb-hid=send\r\ncode=123\r\n"));
  ASSERT_TRUE(peer.Send("usb-hid=send\r\ncode=7F\r\n"));  // shows when the agent has read it all
  ASSERT_TRUE(console.WaitForOutputReports(serial, 2, 5000));
  ts::Pause(2500);  // past the grace period: nothing more comes of either
  const std::vector<Report> written = console.OutputReports(serial);
  ASSERT_EQ(written.size(), 2u);
  Report expected(33, 0);
  for (int k = 1; k <= 5; ++k) expected[k] = static_cast<std::uint8_t>(k);
  EXPECT_EQ(written[0], expected);
  EXPECT_EQ(written[1][1], 0x7F);
  EXPECT_EQ(traces.Count("127.0.0.1: 0102030405"), 1u);
  EXPECT_EQ(traces.Count("127.0.0.1: 01020"), 1u) << "traced once, as the whole code";
  EXPECT_EQ(traces.Count("code with an odd number of hex digits: not written"), 1u);
  EXPECT_EQ(traces.Count("127.0.0.1: 123"), 1u);
}

TEST_F(LinkFlow, ACodeLineCutByTheEndOfTheConnectionIsNotWritten) {
  const DWORD serial = PlugInUse(33);
  ASSERT_TRUE(peer.Send("usb-hid=send\r\ncode=0102"));
  ts::Pause(200);
  peer.Abort();
  EXPECT_GE(traces.WaitForLine("dropped an unfinished send message: the connection ended", 5000), 0);
  ts::Pause(2500);  // past the grace period
  EXPECT_TRUE(console.OutputReports(serial).empty()) << "a cut line was written";
  EXPECT_EQ(traces.Count("127.0.0.1: 0102"), 0u);
}

}  // namespace
