#include <gtest/gtest.h>

#include "crash/report/CallStack.h"

namespace {

// A bit-by-bit CRC-32 step, written apart from the table the code uses.
std::uint32_t SlowCrc(std::uint32_t crc, const std::string& bytes) {
  for (unsigned char b : bytes) {
    crc ^= b;
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ ((crc & 1) ? 0xEDB88320u : 0);
  }
  return crc;
}

std::string Le32(std::uint32_t v) {
  return std::string{static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16), static_cast<char>(v >> 24)};
}

std::string Utf16(const std::string& ascii) {
  std::string out;
  for (char c : ascii) out += std::string{c, '\0'};
  return out;
}

StackFrame Frame(std::uint64_t address, std::string function = "", std::uint32_t offset = 0,
                 std::string unit = "", int line = 0, int line_offset = 0) {
  StackFrame f;
  f.address = address;
  f.module = "QEXJoystick.exe";
  f.module_offset = address - 0x400000;  // loaded at its preferred base
  f.function = std::move(function);
  f.function_offset = offset;
  f.unit = std::move(unit);
  f.line = line;
  f.line_offset = line_offset;
  return f;
}

TEST(CallstackCrc, StandardTableWithoutInversions) {
  // The check value of CRC-32 holds once the usual inversions are added outside.
  EXPECT_EQ(Crc32Update(0xFFFFFFFFu, "123456789", 9) ^ 0xFFFFFFFFu, 0xCBF43926u);
  EXPECT_EQ(Crc32Update(0, "", 0), 0u);
  EXPECT_EQ(Crc32Update(0x12345678u, "ab", 2), SlowCrc(0x12345678u, "ab"));
}

TEST(CallstackCrc, ItemValues) {
  // Without a function name: the offset in the module and the module name.
  EXPECT_EQ(FrameItemValue(Frame(0x00401234)), SlowCrc(0x1234, Utf16("QEXJoystick.exe")));
  StackFrame elsewhere = Frame(0x00401234);
  elsewhere.module = "user32.dll";
  EXPECT_NE(FrameItemValue(elsewhere), FrameItemValue(Frame(0x00401234)));
  // Nothing known but the address.
  StackFrame unknown;
  unknown.address = 0x00401234;
  EXPECT_EQ(FrameItemValue(unknown), 0x00401234u);
  const StackFrame named = Frame(0x00401234, "TfrmMain::ClientRead", 0x34, "frmMains.cpp", 120);
  EXPECT_EQ(FrameItemValue(named),
            SlowCrc(0x34, Utf16("QEXJoystick.exe") + Utf16("frmMains.cpp") + Utf16("TfrmMain::ClientRead")));
  // The address itself does not enter a named frame's value: relocation keeps the key.
  StackFrame moved = named;
  moved.address = 0x10401234;
  EXPECT_EQ(FrameItemValue(moved), FrameItemValue(named));
  // Nor an unnamed frame's: the same code at another load address.
  StackFrame rebased = Frame(0x00401234);
  rebased.address = 0x7ff612341234;
  EXPECT_EQ(FrameItemValue(rebased), FrameItemValue(Frame(0x00401234)));
}

TEST(CallstackCrc, ThreeValuesOnFixedFrames) {
  const StackFrames raising = {Frame(0x401000, "Fault", 8, "a.cpp", 10), Frame(0x402000), Frame(0x403000, "Caller", 2)};
  const StackFrames other = {Frame(0x404000)};
  const CallstackCrcs crcs = ComputeCallstackCrcs(raising, {other});
  const std::uint32_t first = FrameItemValue(raising[0]);
  EXPECT_EQ(crcs.first, first);
  const std::uint32_t second = SlowCrc(SlowCrc(first, Le32(FrameItemValue(raising[1]))), Le32(FrameItemValue(raising[2])));
  EXPECT_EQ(crcs.second, second);
  EXPECT_EQ(crcs.third, SlowCrc(second, Le32(FrameItemValue(other[0]))));

  // Equal stacks, equal CRCs; another path to the same fault changes the second only.
  EXPECT_EQ(ComputeCallstackCrcs(raising, {other}).third, crcs.third);
  StackFrames other_path = raising;
  other_path[2] = Frame(0x405000, "OtherCaller", 2);
  const CallstackCrcs path = ComputeCallstackCrcs(other_path, {other});
  EXPECT_EQ(path.first, crcs.first);
  EXPECT_NE(path.second, crcs.second);
}

TEST(CallStackSection, ColumnsArePaddedToTheWidestEntry) {
  const StackFrames frames = {Frame(0x401000, "Fault", 0x8, "frmMains.cpp", 120, 4), Frame(0x402000),
                              Frame(0x403abc, "TApplication::Run", 0x1f, "app.cpp", 7, 12)};
  const std::string text = RenderCallStack(frames, CallStackColumns{});
  EXPECT_EQ(text,
            "00401000 +8  QEXJoystick.exe frmMains.cpp 120 +4  Fault\r\n"
            "00402000     QEXJoystick.exe\r\n"
            "00403abc +1f QEXJoystick.exe app.cpp      7   +12 TApplication::Run");
  CallStackColumns plain;
  plain.show_rel_addrs = plain.show_rel_lines = false;
  EXPECT_EQ(RenderCallStack({Frame(0x401000, "Fault", 8, "", 5)}, plain), "00401000 QEXJoystick.exe 5 Fault");
}

TEST(CallStackSection, Titles) {
  EXPECT_EQ(ThreadSectionTitle("main thread", 0x1f4), "main thread ($1f4)");
  EXPECT_EQ(ThreadSectionTitle("", 0xabc), "thread $abc");
}

// A thread walked while it waits in the crash reporter.
TEST(ReporterFrames, TheReportersFramesAndThePlatformsWaitsOnTopAreCounted) {
  const StackFrames waiting = {
      Frame(0x77001000),  // the platform's wait, no unit
      Frame(0x401100, "WaitPumping", 0x20, "crash/handler/HandOff_win.cpp", 40),
      Frame(0x77002000),
      Frame(0x401200, "ReportException", 0x30, "crash/handler/HandOff_win.cpp", 130),
      Frame(0x401300, "HandleEscapedException", 0x10, "toolkit/Application_win.cpp", 50),
      Frame(0x401400, "DispatchGuarded", 0x10, "toolkit/WindowProc_win.cpp", 20),
  };
  EXPECT_EQ(ReporterFramesOnTop(waiting, "crash/"), 4u);
}

TEST(ReporterFrames, NothingIsCountedUnlessTheReporterIsOnTop) {
  // The program's own code first: a throw record, a fault's context.
  const StackFrames thrown = {
      Frame(0x401000, "TfrmMain.ClientRead", 0x10, "app/frmMainsLink_win.cpp", 80),
      Frame(0x401200, "ReportException", 0x30, "crash/handler/HandOff_win.cpp", 130),
  };
  EXPECT_EQ(ReporterFramesOnTop(thrown, "crash/"), 0u);
  // Only platform frames: no unit tells where the reporter ends.
  EXPECT_EQ(ReporterFramesOnTop({Frame(0x77001000), Frame(0x77002000)}, "crash/"), 0u);
  // A unit that merely starts alike is not the reporter's.
  EXPECT_EQ(ReporterFramesOnTop({Frame(0x401000, "Run", 0, "crashtest/Run.cpp", 3), Frame(0x401100)}, "crash/"), 0u);
  // Nothing but the reporter: the stack is kept whole.
  const StackFrames own = {Frame(0x77001000), Frame(0x401200, "ReportException", 0x30, "crash/handler/HandOff_win.cpp", 130)};
  EXPECT_EQ(ReporterFramesOnTop(own, "crash/"), 0u);
  EXPECT_EQ(ReporterFramesOnTop({}, "crash/"), 0u);
}

}  // namespace
