#include "crash/disasm/Disassembly.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// push ebp / mov ebp, esp / sub esp, 0x10 / mov eax, [ebp+8] / mov eax, [eax]
// / leave / ret
const std::vector<std::uint8_t> kFunction = {0x55, 0x89, 0xE5, 0x83, 0xEC, 0x10, 0x8B, 0x45,
                                             0x08, 0x8B, 0x00, 0xC9, 0xC3};

TEST(Disassembly, MarksTheFaultingLineBetweenItsNeighbours) {
  CodeWindow code{kFunction.data(), kFunction.size(), 0x401000};
  std::vector<std::string> lines = DisassembleAround(code, 0x401006, DisassemblyOptions{});
  std::vector<std::string> expected = {
      "  00401000  55        push ebp",
      "  00401001  89 E5     mov ebp, esp",
      "  00401003  83 EC 10  sub esp, 0x10",
      "> 00401006  8B 45 08  mov eax, dword ptr [ebp+0x8]",
      "  00401009  8B 00     mov eax, dword ptr [eax]",
      "  0040100B  C9        leave",
      "  0040100C  C3        ret",
  };
  EXPECT_EQ(lines, expected);
}

TEST(Disassembly, ShowsAtMostTheLimitOnEachSide) {
  CodeWindow code{kFunction.data(), kFunction.size(), 0x401000};
  DisassemblyOptions options;
  options.limit = 1;
  std::vector<std::string> lines = DisassembleAround(code, 0x401006, options);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].substr(0, 10), "  00401003");
  EXPECT_EQ(lines[1].substr(0, 10), "> 00401006");
  EXPECT_EQ(lines[2].substr(0, 10), "  00401009");

  options.limit = 0;
  lines = DisassembleAround(code, 0x401006, options);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "> 00401006  8B 45 08  mov eax, dword ptr [ebp+0x8]");
}

TEST(Disassembly, KnownFunctionStartFixesTheBoundaries) {
  // A data byte B8 before the function would swallow its first four bytes
  // as "mov eax, imm32" when decoding started there.
  std::vector<std::uint8_t> bytes = {0xB8};
  bytes.insert(bytes.end(), kFunction.begin(), kFunction.end());
  CodeWindow code{bytes.data(), bytes.size(), 0x400FFF};
  DisassemblyOptions options;
  options.functionStart = 0x401000;
  options.haveFunctionStart = true;
  std::vector<std::string> lines = DisassembleAround(code, 0x401006, options);
  ASSERT_GE(lines.size(), 4u);
  EXPECT_NE(lines[0].find("00401000  55"), std::string::npos) << lines[0];
  EXPECT_EQ(lines[3].substr(0, 10), "> 00401006");
}

TEST(Disassembly, FaultAtTheWindowEdges) {
  CodeWindow code{kFunction.data(), kFunction.size(), 0x401000};
  EXPECT_TRUE(DisassembleAround(code, 0x400FFF, DisassemblyOptions{}).empty());
  EXPECT_TRUE(DisassembleAround(code, 0x40100D, DisassemblyOptions{}).empty());

  std::vector<std::string> first = DisassembleAround(code, 0x401000, DisassemblyOptions{});
  ASSERT_FALSE(first.empty());
  EXPECT_EQ(first[0].substr(0, 2), "> ");

  // The copy ends inside the faulting instruction: it shows as data.
  CodeWindow cut{kFunction.data(), 8, 0x401000};
  std::vector<std::string> lines = DisassembleAround(cut, 0x401006, DisassemblyOptions{});
  ASSERT_FALSE(lines.empty());
  EXPECT_NE(lines[3].find("> 00401006  8B"), std::string::npos) << lines[3];
  EXPECT_NE(lines[3].find("db 0x8b"), std::string::npos) << lines[3];
}

TEST(Disassembly, SixtyFourBitAddressesHaveSixteenDigits) {
  const std::uint8_t bytes[] = {0x48, 0x83, 0xEC, 0x28, 0xCC, 0xC3};
  CodeWindow code{bytes, sizeof bytes, 0x140001000};
  DisassemblyOptions options;
  options.mode = CpuMode::X64;
  std::vector<std::string> lines = DisassembleAround(code, 0x140001004, options);
  std::vector<std::string> expected = {
      "  0000000140001000  48 83 EC 28  sub rsp, 0x28",
      "> 0000000140001004  CC           int3",
      "  0000000140001005  C3           ret",
  };
  EXPECT_EQ(lines, expected);
}

}  // namespace
