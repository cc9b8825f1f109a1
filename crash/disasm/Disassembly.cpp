#include "crash/disasm/Disassembly.h"

#include <algorithm>
#include <cstdio>

namespace {

struct Line {
  std::uint64_t address;
  std::size_t offset;
  DecodedInstruction instruction;
};

// Decodes forward from `offset` up to `end`; true when the chain lands on
// `end` exactly, that is, when `end` is an instruction boundary of it.
bool DecodeChain(const CodeWindow& code, std::size_t offset, std::size_t end, CpuMode mode,
                 std::vector<Line>& lines, unsigned& invalidCount) {
  lines.clear();
  invalidCount = 0;
  while (offset < end) {
    DecodedInstruction instruction =
        DecodeInstruction(code.bytes + offset, code.size - offset, code.address + offset, mode);
    if (!instruction.valid) ++invalidCount;
    lines.push_back({code.address + offset, offset, std::move(instruction)});
    offset += lines.back().instruction.length;
  }
  return offset == end;
}

// The instructions that end exactly at `faultOffset`. Without a known
// function start, x86 code has no marked boundaries: try each start in a
// window before the fault and keep the chain that reaches the fault with the
// fewest undecodable bytes, the earliest start among equals (decoding
// resynchronises within a few instructions, so longer chains agree on the
// last ones).
std::vector<Line> LinesBefore(const CodeWindow& code, std::size_t faultOffset,
                              const DisassemblyOptions& options) {
  std::vector<Line> chain;
  unsigned invalid = 0;
  if (options.limit == 0 || faultOffset == 0) return {};
  if (options.haveFunctionStart && options.functionStart >= code.address &&
      options.functionStart <= code.address + faultOffset) {
    std::size_t start = static_cast<std::size_t>(options.functionStart - code.address);
    if (DecodeChain(code, start, faultOffset, options.mode, chain, invalid) && invalid == 0) return chain;
  }
  std::size_t window = std::min<std::size_t>(faultOffset, 16 * std::size_t{options.limit} + 16);
  std::vector<Line> best;
  unsigned bestInvalid = ~0u;
  for (std::size_t back = window; back > 0; --back) {
    if (!DecodeChain(code, faultOffset - back, faultOffset, options.mode, chain, invalid)) continue;
    if (invalid < bestInvalid) {
      bestInvalid = invalid;
      best = chain;
      if (invalid == 0) break;
    }
  }
  return best;
}

std::string FormatLine(const Line& line, const CodeWindow& code, bool faulting, CpuMode mode,
                       std::size_t byteColumn) {
  char address[24];
  if (mode == CpuMode::X64)
    std::snprintf(address, sizeof address, "%016llX", static_cast<unsigned long long>(line.address));
  else
    std::snprintf(address, sizeof address, "%08llX", static_cast<unsigned long long>(line.address & 0xFFFFFFFFu));
  std::string text = faulting ? "> " : "  ";
  text += address;
  text += "  ";
  std::string bytes;
  for (unsigned i = 0; i < line.instruction.length; ++i) {
    char hex[4];
    std::snprintf(hex, sizeof hex, "%02X", code.bytes[line.offset + i]);
    if (i) bytes += ' ';
    bytes += hex;
  }
  bytes.resize(std::max(bytes.size(), byteColumn), ' ');
  text += bytes;
  text += "  ";
  text += line.instruction.text;
  return text;
}

}  // namespace

std::vector<std::string> DisassembleAround(const CodeWindow& code, std::uint64_t faultAddress,
                                           const DisassemblyOptions& options) {
  if (!code.bytes || faultAddress < code.address || faultAddress - code.address >= code.size) return {};
  std::size_t faultOffset = static_cast<std::size_t>(faultAddress - code.address);

  std::vector<Line> lines = LinesBefore(code, faultOffset, options);
  if (lines.size() > options.limit) lines.erase(lines.begin(), lines.end() - options.limit);
  std::size_t faultIndex = lines.size();

  std::size_t offset = faultOffset;
  for (unsigned i = 0; i <= options.limit && offset < code.size; ++i) {
    DecodedInstruction instruction =
        DecodeInstruction(code.bytes + offset, code.size - offset, code.address + offset, options.mode);
    lines.push_back({code.address + offset, offset, std::move(instruction)});
    offset += lines.back().instruction.length;
  }

  std::size_t byteColumn = 0;
  for (const Line& line : lines) byteColumn = std::max<std::size_t>(byteColumn, line.instruction.length * 3 - 1);
  std::vector<std::string> result;
  result.reserve(lines.size());
  for (std::size_t i = 0; i < lines.size(); ++i)
    result.push_back(FormatLine(lines[i], code, i == faultIndex, options.mode, byteColumn));
  return result;
}
