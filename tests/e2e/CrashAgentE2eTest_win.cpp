// The agent's raising paths end to end: an exception raised on the running
// agent's main thread reaches crash reporting, which shows it, keeps it and
// lets the agent go on. The unmodified agent under Wine, run from a copy in a
// temporary folder so that what crash reporting writes beside the program
// stays out of the build tree, observed from outside through its report box,
// windows, traces and the registry. The raise comes from outside: a DLL
// loaded into the agent closes its link socket behind its back, and the
// agent's next use of the socket fails where it expects no failure.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "LoopbackPeer_win.h"
#include "RemoteThread_win.h"
#include "WineTestSupport_win.h"
#include "crash/ReportLines.h"

namespace ts = testing_support;
namespace rl = report_lines;

namespace {

const std::string kSettingsKey = "Software\\QEX\\JoystickAgent";
const std::string kRunKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr std::uint16_t kLivePort = 18884;
// The report box: its buttons at 300 + their index (continue 4), the
// message, and the report text of the box as it opens (expanded).
constexpr wchar_t kBoxClass[] = L"QEXReportBox";
constexpr int kContinueId = 304, kMessageId = 320, kReportTextId = 322;
constexpr int kStartTimeout = 30000;
constexpr int kBoxTimeout = 20000;

std::wstring T(const char* utf8) { return ts::FromUtf8(utf8); }

std::string LongText(HWND window) { return ts::ToUtf8(ts::WindowText(window)); }

std::string Field(const std::string& text, const std::string& name) { return ts::ReportField(text, name); }

std::uint32_t Read32(const std::string& b, std::size_t at) {
  std::uint32_t v = 0;
  std::memcpy(&v, b.data() + at, sizeof v);
  return v;
}

// Writes a copy of a PE image rebased by `delta`: the preferred image base
// moves and every base relocation is applied, so the loader maps the same
// code at another address. False when the image has no relocations.
bool WriteRebasedCopy(const std::string& from, const std::string& to, std::uint64_t delta) {
  std::string b = ts::ReadWholeFile(from);
  if (b.size() < 0x40) return false;
  const std::size_t pe = Read32(b, 0x3C);
  if (pe + 24 > b.size() || b.compare(pe, 4, std::string("PE\0\0", 4)) != 0) return false;
  const std::size_t sections = static_cast<std::uint16_t>(Read32(b, pe + 6));
  const std::size_t optionalSize = static_cast<std::uint16_t>(Read32(b, pe + 20));
  const std::size_t opt = pe + 24;
  const bool wide = static_cast<std::uint16_t>(Read32(b, opt)) == 0x20B;
  const std::size_t relocDirectory = opt + (wide ? 112 : 96) + 5 * 8;
  const std::uint32_t relocRva = Read32(b, relocDirectory), relocSize = Read32(b, relocDirectory + 4);
  if (!relocRva || !relocSize) return false;
  const std::size_t table = opt + optionalSize;
  auto offsetOf = [&](std::uint32_t rva) -> std::size_t {
    for (std::size_t i = 0; i < sections; ++i) {
      const std::size_t h = table + i * 40;
      const std::uint32_t va = Read32(b, h + 12), raw = Read32(b, h + 16), pointer = Read32(b, h + 20);
      const std::uint32_t extent = std::max(Read32(b, h + 8), raw);
      if (rva >= va && rva < va + extent && rva - va < raw) return pointer + (rva - va);
    }
    return std::string::npos;
  };
  auto add = [&](std::size_t at, std::size_t width) {
    std::uint64_t value = 0;
    std::memcpy(&value, b.data() + at, width);
    value += delta;
    std::memcpy(&b[at], &value, width);
  };
  const std::size_t relocs = offsetOf(relocRva);
  if (relocs == std::string::npos) return false;
  std::size_t applied = 0;
  for (std::size_t block = 0; block + 8 <= relocSize;) {
    const std::uint32_t page = Read32(b, relocs + block), size = Read32(b, relocs + block + 4);
    if (size < 8) break;
    for (std::size_t e = 8; e + 2 <= size; e += 2) {
      const std::uint16_t entry = static_cast<std::uint16_t>(Read32(b, relocs + block + e));
      const int type = entry >> 12;
      if (type == 0) continue;  // padding
      const std::size_t at = offsetOf(page + (entry & 0xFFF));
      if (at == std::string::npos || (type != 3 && type != 10)) return false;
      add(at, type == 10 ? 8 : 4);  // DIR64 or HIGHLOW
      ++applied;
    }
    block += size;
  }
  add(opt + (wide ? 24 : 28), wide ? 8 : 4);  // the preferred image base
  return applied > 0 && ts::WriteWholeFile(to, b);
}

class CrashAgentE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(traces.Ok()) << "debug output reader";
    ASSERT_TRUE(peer.Ok()) << "127.0.0.1:18884 is taken";
    ts::RegDeleteTree(kSettingsKey);
    RemoveRunValue();
    exe = dir.Path() + "\\QEXJoystick.exe";
    ASSERT_TRUE(CopyFileA(ts::AgentPath().c_str(), exe.c_str(), FALSE)) << ts::AgentPath();
    closer = ts::PathFromEnv("QEX_LINK_SOCKET_CLOSER_DLL");
  }
  void TearDown() override {
    if (agent.Running()) agent.Close(10000);
    if (agent.Running()) agent.Kill();
    ts::RegDeleteTree(kSettingsKey);
    RemoveRunValue();
  }

  static void RemoveRunValue() { ts::DeleteRegValue(kRunKey, "JoystickAgent"); }

  void Start(const std::string& arguments = std::string()) {
    ASSERT_TRUE(agent.Start(exe, arguments, dir.Path())) << exe;
    traces.FilterProcess(agent.Pid());
  }
  // The main window once it shows; its controls by their places.
  void FindMainWindow() {
    ASSERT_TRUE(ts::WaitUntil(
        [&] {
          const auto forms = ts::ProcessWindows(agent.Pid(), L"QEXForm");
          main = forms.empty() ? nullptr : forms.front();
          return main && IsWindowVisible(main);
        },
        kStartTimeout))
        << "no main window shows";
    address = ts::AgentControl(main, "lblAddress");
    version = ts::AgentControl(main, "lblVersion");
    autorun = ts::AgentControl(main, "chkAutoRun");
    config = ts::AgentControl(main, "btnConfig");
    ASSERT_TRUE(address && version && autorun && config);
  }

  // The agent connects to the live host and sends its status request; the
  // next thing it sends is a keep-alive, so that every raise below takes the
  // same road.
  void AwaitLink() {
    ASSERT_NE(peer.Accept(15000), 0u) << "the agent did not connect";
    const std::size_t requests = peer.TimesOf("usb-hid=get_status").size();
    ASSERT_TRUE(ts::WaitUntil([&] { return peer.TimesOf("usb-hid=get_status").size() > requests; }, 10000))
        << "no status request";
  }
  // Closes the agent's link socket from a thread of the agent's own process.
  void CloseLinkSocketBehindItsBack() {
    ASSERT_FALSE(closer.empty()) << "QEX_LINK_SOCKET_CLOSER_DLL";
    EXPECT_EQ(ts::CloseAgentLinkSocket(agent.Handle(), agent.Pid(), kLivePort), 1)
        << "the DLL did not load into the agent, or closed not exactly the one link socket";
  }

  std::vector<HWND> Boxes() const { return ts::ProcessWindows(agent.Pid(), kBoxClass); }
  // A visible report box.
  HWND WaitForBox(int timeoutMs) const {
    HWND box = nullptr;
    ts::WaitUntil(
        [&] {
          for (HWND b : Boxes())
            if (IsWindowVisible(b)) box = b;
          return box != nullptr;
        },
        timeoutMs);
    return box;
  }
  static std::string Text(HWND box, int id) { return ts::ToUtf8(ts::WindowText(GetDlgItem(box, id))); }
  // The box shows the socket error that closing the lost handle raised (the
  // report text is filled in while the box is up).
  static void ExpectSocketError(HWND box) {
    // A box may show a moment before its texts are in.
    ts::WaitUntil([&] { return !Text(box, kMessageId).empty(); }, 5000);
    EXPECT_EQ(ts::ToUtf8(ts::WindowText(box)), "QEXJoystick.exe");
    EXPECT_EQ(Text(box, kMessageId), "An error occurred in the application.");
    std::string shown;
    ts::WaitUntil(
        [&] {
          const std::string header = LongText(GetDlgItem(box, kReportTextId));
          shown = Field(header, "exception class") + ": " + Field(header, "exception message");
          return shown.size() > 2;
        },
        10000);
    EXPECT_EQ(shown.rfind("ESocketError: Windows socket error: ", 0), 0u) << shown;
    const std::string tail = "(10038), on API 'closesocket'";
    EXPECT_TRUE(shown.size() >= tail.size() && shown.compare(shown.size() - tail.size(), tail.size(), tail) == 0)
        << shown;
  }
  static bool Continue(HWND box) {
    HWND button = GetDlgItem(box, kContinueId);
    if (!button || !IsWindowEnabled(button)) return false;
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(kContinueId, BN_CLICKED), reinterpret_cast<LPARAM>(button));
    return ts::WaitUntil([&] { return !IsWindow(box); }, 10000);
  }

  // The address prompt, opened the way a click does.
  HWND OpenPrompt() {
    PostMessageW(config, BM_CLICK, 0, 0);
    return ts::WaitForDialog(agent.Pid(), T("设置"), 10000);
  }
  // Enters `text` and presses OK.
  static void EnterInPrompt(HWND dialog, const std::string& text) {
    const std::wstring wide = ts::FromUtf8(text);
    SendMessageW(ts::ChildOf(dialog, L"Edit"), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(wide.c_str()));
    PostMessageW(ts::ChildOf(dialog, L"Button", L"OK"), BM_CLICK, 0, 0);
  }

  std::string BugReportFile() const { return ts::ReadWholeFile(dir.Path() + "\\bugreport.txt"); }

  // The link socket closed behind the running agent's back, the raise
  // reported, continued, and the agent closed; the bug-report file
  // afterwards (once `saved` holds).
  std::string RunSocketClosedBehindItsBack(const std::function<bool(const std::string&)>& saved) {
    Start();
    if (::testing::Test::HasFatalFailure()) return std::string();
    AwaitLink();
    if (::testing::Test::HasFatalFailure()) return std::string();
    CloseLinkSocketBehindItsBack();
    if (::testing::Test::HasFatalFailure()) return std::string();
    const HWND box = WaitForBox(kBoxTimeout);
    EXPECT_NE(box, nullptr) << "no report box";
    if (!box) return std::string();
    EXPECT_TRUE(Continue(box));
    std::string file;
    EXPECT_TRUE(ts::WaitUntil([&] { return saved(file = BugReportFile()); }, 15000)) << file;
    EXPECT_EQ(agent.Close(15000), 0);
    return file;
  }

  std::size_t TraceCount(const std::string& text, std::size_t from = 0) const {
    const std::vector<std::string> lines = traces.Lines();
    std::size_t n = 0;
    for (std::size_t i = from; i < lines.size(); ++i)
      if (ts::DebugOutputReader::Body(lines[i]).find(text) != std::string::npos) ++n;
    return n;
  }

  ts::TempDir dir;
  std::string exe;
  std::string closer;
  ts::DebugOutputReader traces;
  ts::LoopbackPeer peer;
  ts::ChildProcess agent;
  HWND main = nullptr, address = nullptr, version = nullptr, autorun = nullptr, config = nullptr;
};

TEST_F(CrashAgentE2E, ARaiseInTheRunningAgentIsReportedKeptAndContinued) {
  ASSERT_NO_FATAL_FAILURE(Start());
  ASSERT_NO_FATAL_FAILURE(FindMainWindow());
  ASSERT_NO_FATAL_FAILURE(AwaitLink());
  ASSERT_NO_FATAL_FAILURE(CloseLinkSocketBehindItsBack());
  const HWND box = WaitForBox(kBoxTimeout);
  ASSERT_NE(box, nullptr) << "no report box";
  ExpectSocketError(box);
  EXPECT_EQ(Boxes().size(), 1u);
  // The agent's own handler saw the failed send first.
  EXPECT_TRUE(ts::WaitUntil([&] { return TraceCount("socket error 10038") > 0; }, 5000));
  EXPECT_EQ(TraceCount("socket error 10038"), 1u);
  ASSERT_TRUE(Continue(box));

  // The window answers: the prompt opens with the address in force.
  const HWND prompt = OpenPrompt();
  ASSERT_NE(prompt, nullptr) << "no address prompt";
  EXPECT_EQ(ts::WindowText(ts::ChildOf(prompt, L"Edit")), L"127.0.0.1");
  PostMessageW(ts::ChildOf(prompt, L"Button", L"Cancel"), BM_CLICK, 0, 0);
  ASSERT_TRUE(ts::WaitUntil([&] { return !IsWindow(prompt); }, 10000));
  EXPECT_EQ(ts::WindowText(version), L"v1.0.0.0");

  // The report was kept beside the program.
  EXPECT_TRUE(ts::WaitUntil([&] { return BugReportFile().find("ESocketError") != std::string::npos; }, 10000))
      << "no report in bugreport.txt";
  EXPECT_TRUE(Boxes().empty());
  EXPECT_EQ(agent.Close(15000), 0) << "closing the window ends the process cleanly";
}

TEST_F(CrashAgentE2E, EveryRaiseIsReportedInTurnAndTheAgentRunsOn) {
  ASSERT_NO_FATAL_FAILURE(Start());
  ASSERT_NO_FATAL_FAILURE(FindMainWindow());
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    if (round > 0) {
      // The raise left the link down: the prompt's OK opens it again.
      const HWND prompt = OpenPrompt();
      ASSERT_NE(prompt, nullptr) << "no address prompt after continue";
      EnterInPrompt(prompt, "127.0.0.1");
    }
    ASSERT_NO_FATAL_FAILURE(AwaitLink());
    ASSERT_NO_FATAL_FAILURE(CloseLinkSocketBehindItsBack());
    const HWND box = WaitForBox(kBoxTimeout);
    ASSERT_NE(box, nullptr) << "no report box";
    ExpectSocketError(box);
    EXPECT_EQ(Boxes().size(), 1u) << "two boxes at once";
    ASSERT_TRUE(Continue(box));
  }

  // Back to plain running: connected, keep-alives flowing, nothing raised.
  const HWND prompt = OpenPrompt();
  ASSERT_NE(prompt, nullptr) << "no address prompt";
  EnterInPrompt(prompt, "127.0.0.1");
  ASSERT_NE(peer.Accept(10000), 0u) << "the agent did not connect again";
  const std::size_t alive = peer.TimesOf("mark=live").size();
  EXPECT_TRUE(peer.OpenFor(ts::Scaled(5000))) << "the link went down";
  EXPECT_GT(peer.TimesOf("mark=live").size(), alive);
  EXPECT_TRUE(Boxes().empty());
  EXPECT_EQ(agent.Close(15000), 0) << "closing the window ends the process cleanly";
}

}  // namespace

namespace {

const char kThrowerSource[] = "net/ClientSocket_win.cpp";

TEST_F(CrashAgentE2E, ASocketErrorReportNamesTheThrowSiteInTheAgent) {
  const std::string file = RunSocketClosedBehindItsBack(
      [](const std::string& text) { return text.find("ESocketError") != std::string::npos; });
  ASSERT_FALSE(file.empty());
  // The top line and the code address are where the agent threw, not where
  // crash reporting caught it.
  const int line = rl::SourceLineOf(ts::PathFromEnv("QEX_SOURCE_DIR") + "\\net\\ClientSocket_win.cpp",
                                    "throw ESocketError(SocketErrorMessage(");
  rl::ExpectTopFrame(file, "(anonymous namespace)::RaiseSocketError(int, char const*)", "QEXJoystick.exe",
                     kThrowerSource, line);
}

TEST_F(CrashAgentE2E, TheSameFaultAtAnotherLoadAddressIsCountedAsADuplicate) {
  const std::string first = RunSocketClosedBehindItsBack(
      [](const std::string& text) { return text.find("ESocketError") != std::string::npos; });
  rl::Frame before;
  ASSERT_TRUE(rl::ParseFrame(rl::FirstLine(rl::Section(first, "main thread (")), &before)) << first;
  ASSERT_EQ(Field(first, "callstack crc").size(), 31u) << first;

  // The same program in the same place, loaded elsewhere.
  const std::uint64_t delta = 0x10000000;
  ASSERT_TRUE(WriteRebasedCopy(ts::AgentPath(), exe, delta)) << "the agent has no relocations";
  const std::string second =
      RunSocketClosedBehindItsBack([](const std::string& text) { return Field(text, "count") == "2"; });
  rl::Frame after;
  ASSERT_TRUE(rl::ParseFrame(rl::FirstLine(rl::Section(second, "main thread (")), &after)) << second;
  EXPECT_EQ(after.address - before.address, delta) << "not loaded at the new base";
  EXPECT_EQ(after.function, before.function);
  EXPECT_EQ(Field(second, "count"), "2");
  EXPECT_EQ(second.find("\r\n\r\ndate/time"), std::string::npos) << "the stored copy was not replaced";
}

}  // namespace
