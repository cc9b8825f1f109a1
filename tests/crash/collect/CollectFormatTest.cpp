#include <gtest/gtest.h>

#include "crash/collect/CollectFormat.h"

TEST(CollectFormat, ColumnsArePaddedToTheWidestEntryAndTrimmed) {
  EXPECT_EQ(RenderColumns({{"a", "long", "x"}, {"bbb", "s", ""}}), "a    long  x\r\nbbb  s");
  // Widths count code points: a two-byte character is one column.
  EXPECT_EQ(RenderColumns({{"\xc3\xa4", "z"}, {"ab", "y"}}), "\xc3\xa4   z\r\nab  y");
  EXPECT_EQ(RenderColumns({}), "");
}

TEST(CollectFormat, RegistersStandInRowsWithAlignedNames) {
  EXPECT_EQ(FormatRegisters({{"RAX", 1}, {"R8", 0xff}, {"RIP", 0x401000}}, 8, 2),
            "RAX: 00000001  R8:  000000FF\r\nRIP: 00401000");
  EXPECT_EQ(FlagNames(0x246), "PF ZF IF");
  EXPECT_EQ(FlagNames(0), "");
}

TEST(CollectFormat, StackDumpShowsSixteenBytesALineWithCharacters) {
  unsigned char bytes[20];
  for (int i = 0; i < 20; ++i) bytes[i] = static_cast<unsigned char>(0x41 + i);
  bytes[1] = 0x00;
  bytes[2] = 0xC3;
  const std::string dump = FormatStackDump(bytes, sizeof bytes, 0x12FF40, 8);
  EXPECT_EQ(dump,
            "0012FF40  41 00 C3 44 45 46 47 48  49 4A 4B 4C 4D 4E 4F 50  A..DEFGHIJKLMNOP\r\n"
            "0012FF50  51 52 53 54                                       QRST");
  EXPECT_EQ(FormatStackDump(bytes, 0, 0, 8), "");
}

TEST(CollectFormat, PriorityClassesHaveTheirNames) {
  EXPECT_EQ(PriorityClassName(6), "below normal");
  EXPECT_EQ(PriorityClassName(10), "above normal");
  EXPECT_EQ(PriorityClassName(24), "realtime");
  EXPECT_EQ(PriorityClassName(8), "normal");
  EXPECT_EQ(PriorityClassName(7), "7");
}

TEST(CollectFormat, CommandLineArgumentsAreWhatFollowsTheProgramName) {
  EXPECT_FALSE(CommandLineHasArguments(L"agent.exe"));
  EXPECT_FALSE(CommandLineHasArguments(L"\"C:\\Program Files\\agent.exe\"  "));
  EXPECT_TRUE(CommandLineHasArguments(L"\"C:\\Program Files\\agent.exe\" -min"));
  EXPECT_TRUE(CommandLineHasArguments(L"agent.exe -min"));
  EXPECT_FALSE(CommandLineHasArguments(L"C:\\\"odd dir\"\\agent.exe"));
  EXPECT_FALSE(CommandLineHasArguments(L""));
}

TEST(CollectFormat, ToolChainNameSaysCompilerAndTarget) {
  const std::string name = ToolChainName();
  EXPECT_TRUE(name.rfind("GCC ", 0) == 0 || name.rfind("Clang ", 0) == 0) << name;
}
