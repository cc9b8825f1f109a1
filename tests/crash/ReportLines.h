// Reading the lines of a saved bug report that the crash tests assert on:
// a call-stack line split into its columns, the marked disassembly line,
// and the source line a test program marks for a frame to name.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace report_lines {

// One call-stack line with debug information: address, "+" offset, module,
// unit, line, "+" line offset, function (which may hold blanks).
struct Frame {
  std::uint64_t address = 0;
  std::string module, unit, function;
  int line = 0;
};

inline std::string FirstLine(const std::string& text) { return text.substr(0, text.find("\r\n")); }

inline bool ParseFrame(const std::string& line, Frame* frame) {
  std::istringstream in(line);
  std::string address, offset, lineText, lineOffset;
  if (!(in >> address >> offset >> frame->module >> frame->unit >> lineText >> lineOffset)) return false;
  if (offset.empty() || offset[0] != '+' || lineOffset.empty() || lineOffset[0] != '+') return false;
  frame->address = std::strtoull(address.c_str(), nullptr, 16);
  frame->line = std::atoi(lineText.c_str());
  std::getline(in >> std::ws, frame->function);
  return frame->address != 0 && frame->line > 0 && !frame->function.empty();
}

// The address of the disassembly line marked "> ", or 0.
inline std::uint64_t MarkedAddress(const std::string& disassembly) {
  std::size_t at = disassembly.rfind("\r\n> ");
  if (at != std::string::npos) at += 2;
  else if (disassembly.compare(0, 2, "> ") == 0) at = 0;
  else return 0;
  return std::strtoull(disassembly.c_str() + at + 2, nullptr, 16);
}

// The number of the first line of a source file that holds `marker`; 0 when
// none does.
inline int SourceLineOf(const std::string& path, const std::string& marker) {
  std::ifstream in(path);
  int number = 0;
  for (std::string line; std::getline(in, line);) {
    ++number;
    if (line.find(marker) != std::string::npos) return number;
  }
  return 0;
}

// The content of the first section whose title starts with `titleStart`
// ("main thread ("), or "".
inline std::string Section(const std::string& report, const std::string& titleStart) {
  const std::size_t title = report.find("\r\n\r\n" + titleStart);
  if (title == std::string::npos) return std::string();
  const std::size_t start = report.find("\r\n", title + 4);
  if (start == std::string::npos) return std::string();
  const std::size_t end = report.find("\r\n\r\n", start);
  return report.substr(start + 2, end == std::string::npos ? std::string::npos : end - start - 2);
}

// The main thread raised the exception: the first line of its call stack
// names the function, module, unit and line, and the disassembly marks that
// line's address (the report's code address).
inline void ExpectTopFrame(const std::string& report, const std::string& function, const std::string& module,
                           const std::string& unit, int line) {
  const std::string stack = Section(report, "main thread (");
  Frame top;
  ASSERT_TRUE(ParseFrame(FirstLine(stack), &top)) << report;
  EXPECT_EQ(top.function, function) << stack;
  EXPECT_EQ(top.module, module) << stack;
  EXPECT_EQ(top.unit, unit) << stack;
  EXPECT_EQ(top.line, line) << stack;
  EXPECT_GT(line, 0) << "no marked source line";
  const std::string disassembly = Section(report, "disassembling:");
  EXPECT_EQ(MarkedAddress(disassembly), top.address) << disassembly;
}

}  // namespace report_lines
