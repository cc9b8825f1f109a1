#include "crash/report/CallStack.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "crash/report/Utf8.h"

std::string ThreadSectionTitle(const std::string& thread_name, std::uint32_t thread_id) {
  char id[16];
  std::snprintf(id, sizeof id, "$%x", static_cast<unsigned>(thread_id));
  if (thread_name.empty()) return std::string("thread ") + id;
  return thread_name + " (" + id + ")";
}

namespace {

std::string Hex(std::uint64_t value, int min_digits) {
  char buffer[24];
  std::snprintf(buffer, sizeof buffer, "%0*llx", min_digits, static_cast<unsigned long long>(value));
  return buffer;
}

}  // namespace

std::string RenderCallStack(const StackFrames& frames, const CallStackColumns& columns) {
  constexpr std::size_t kColumns = 7;
  std::vector<std::array<std::string, kColumns>> cells;
  for (const StackFrame& f : frames) {
    std::array<std::string, kColumns> row;
    row[0] = Hex(f.address, 8);
    const bool has_function = !f.function.empty();
    if (columns.show_rel_addrs && has_function) row[1] = "+" + Hex(f.function_offset, 1);
    row[2] = f.module;
    row[3] = f.unit;
    if (f.line > 0) row[4] = std::to_string(f.line);
    if (columns.show_rel_lines && f.line > 0 && has_function) row[5] = "+" + std::to_string(f.line_offset);
    row[6] = f.function;
    cells.push_back(row);
  }
  std::array<std::size_t, kColumns> width{};
  for (const auto& row : cells)
    for (std::size_t c = 0; c < kColumns; ++c) width[c] = std::max(width[c], Utf8Length(row[c]));

  std::string text;
  for (std::size_t r = 0; r < cells.size(); ++r) {
    std::string line;
    for (std::size_t c = 0; c < kColumns; ++c) {
      if (width[c] == 0) continue;
      if (!line.empty()) line += ' ';
      line += cells[r][c] + std::string(width[c] - Utf8Length(cells[r][c]), ' ');
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    if (r > 0) text += "\r\n";
    text += line;
  }
  return text;
}

namespace {

const std::array<std::uint32_t, 256>& CrcTable() {
  static const std::array<std::uint32_t, 256> table = [] {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t n = 0; n < 256; ++n) {
      std::uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[n] = c;
    }
    return t;
  }();
  return table;
}

std::uint32_t UpdateWithValue(std::uint32_t crc, std::uint32_t value) {
  const unsigned char bytes[4] = {static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
                                  static_cast<unsigned char>(value >> 16), static_cast<unsigned char>(value >> 24)};
  return Crc32Update(crc, bytes, sizeof bytes);
}

}  // namespace

std::uint32_t Crc32Update(std::uint32_t crc, const void* data, std::size_t size) {
  const auto& table = CrcTable();
  const auto* bytes = static_cast<const unsigned char*>(data);
  for (std::size_t i = 0; i < size; ++i) crc = table[(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
  return crc;
}

std::uint32_t FrameItemValue(const StackFrame& frame) {
  if (frame.function.empty()) {
    if (frame.module.empty()) return static_cast<std::uint32_t>(frame.address);
    const std::string utf16 = Utf8ToUtf16leBytes(frame.module);
    return Crc32Update(static_cast<std::uint32_t>(frame.module_offset), utf16.data(), utf16.size());
  }
  std::uint32_t value = frame.function_offset;
  for (const std::string* name : {&frame.module, &frame.unit, &frame.function}) {
    const std::string utf16 = Utf8ToUtf16leBytes(*name);
    value = Crc32Update(value, utf16.data(), utf16.size());
  }
  return value;
}

std::size_t ReporterFramesOnTop(const StackFrames& frames, const std::string& ownUnitPrefix) {
  if (ownUnitPrefix.empty()) return 0;
  std::size_t own = 0;
  for (std::size_t i = 0; i < frames.size(); ++i) {
    const std::string& unit = frames[i].unit;
    if (unit.empty()) continue;
    if (unit.compare(0, ownUnitPrefix.size(), ownUnitPrefix) != 0) break;
    own = i + 1;
  }
  return own < frames.size() ? own : 0;
}

CallstackCrcs ComputeCallstackCrcs(const StackFrames& raising, const std::vector<StackFrames>& others) {
  CallstackCrcs crcs;
  if (!raising.empty()) crcs.first = FrameItemValue(raising[0]);
  crcs.second = crcs.first;
  for (std::size_t i = 1; i < raising.size(); ++i) crcs.second = UpdateWithValue(crcs.second, FrameItemValue(raising[i]));
  crcs.third = crcs.second;
  for (const StackFrames& stack : others)
    for (const StackFrame& frame : stack) crcs.third = UpdateWithValue(crcs.third, FrameItemValue(frame));
  return crcs;
}
