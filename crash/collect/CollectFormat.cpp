#include "crash/collect/CollectFormat.h"

#include <algorithm>
#include <cstdio>

#include "crash/report/Utf8.h"

std::string RenderColumns(const std::vector<Row>& rows) {
  std::vector<std::size_t> width;
  for (const Row& row : rows) {
    if (row.size() > width.size()) width.resize(row.size(), 0);
    for (std::size_t c = 0; c < row.size(); ++c) width[c] = std::max(width[c], Utf8Length(row[c]));
  }
  std::string text;
  for (std::size_t r = 0; r < rows.size(); ++r) {
    std::string line;
    for (std::size_t c = 0; c < rows[r].size(); ++c) {
      if (width[c] == 0) continue;
      if (!line.empty()) line += "  ";
      line += rows[r][c] + std::string(width[c] - Utf8Length(rows[r][c]), ' ');
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    if (r > 0) text += "\r\n";
    text += line;
  }
  return text;
}

std::string HexAddress(std::uint64_t value, int digits) {
  char buffer[24];
  std::snprintf(buffer, sizeof buffer, "%0*llX", digits, static_cast<unsigned long long>(value));
  return buffer;
}

std::string FormatRegisters(const std::vector<std::pair<std::string, std::uint64_t>>& registers, int digits,
                            int perLine) {
  std::size_t nameWidth = 0;
  for (const auto& r : registers) nameWidth = std::max(nameWidth, r.first.size());
  std::string text;
  for (std::size_t i = 0; i < registers.size(); ++i) {
    if (i > 0) text += (perLine > 0 && i % static_cast<std::size_t>(perLine) == 0) ? "\r\n" : "  ";
    text += registers[i].first + ":" + std::string(nameWidth - registers[i].first.size() + 1, ' ') +
            HexAddress(registers[i].second, digits);
  }
  return text;
}

std::string FlagNames(std::uint32_t flags) {
  static const struct {
    std::uint32_t bit;
    const char* name;
  } kFlags[] = {{0x1, "CF"}, {0x4, "PF"}, {0x10, "AF"}, {0x40, "ZF"}, {0x80, "SF"},
                {0x100, "TF"}, {0x200, "IF"}, {0x400, "DF"}, {0x800, "OF"}};
  std::string text;
  for (const auto& f : kFlags) {
    if (!(flags & f.bit)) continue;
    if (!text.empty()) text += ' ';
    text += f.name;
  }
  return text;
}

std::string FormatStackDump(const unsigned char* bytes, std::size_t size, std::uint64_t address, int digits) {
  std::string text;
  for (std::size_t at = 0; at < size; at += 16) {
    if (at > 0) text += "\r\n";
    text += HexAddress(address + at, digits) + "  ";
    std::string chars;
    for (std::size_t i = 0; i < 16; ++i) {
      if (at + i < size) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02X ", bytes[at + i]);
        text += hex;
        const unsigned char c = bytes[at + i];
        chars += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '.';
      } else {
        text += "   ";
      }
      if (i == 7) text += ' ';
    }
    text += ' ';
    text += chars;
  }
  return text;
}

std::string PriorityClassName(int basePriority) {
  switch (basePriority) {
    case 4: return "idle";
    case 6: return "below normal";
    case 8: return "normal";
    case 10: return "above normal";
    case 13: return "high";
    case 24: return "realtime";
    default: return std::to_string(basePriority);
  }
}

bool CommandLineHasArguments(const std::wstring& commandLine) {
  std::size_t i = 0;
  const std::size_t n = commandLine.size();
  while (i < n && (commandLine[i] == L' ' || commandLine[i] == L'\t')) ++i;
  // The program name ends at the closing quote or the first blank; quotes
  // may also stand inside it ("C:\a b"\c.exe is one name).
  bool quoted = false;
  for (; i < n; ++i) {
    const wchar_t c = commandLine[i];
    if (c == L'"') {
      quoted = !quoted;
    } else if (!quoted && (c == L' ' || c == L'\t')) {
      break;
    }
  }
  while (i < n && (commandLine[i] == L' ' || commandLine[i] == L'\t')) ++i;
  return i < n;
}

std::string ToolChainName() {
#if defined(__clang__)
  std::string name = std::string("Clang ") + __clang_version__;
#elif defined(__GNUC__)
  std::string name = std::string("GCC ") + __VERSION__;
#else
  std::string name = "unknown compiler";
#endif
#if defined(__MINGW64__) && defined(__x86_64__)
  name += " (MinGW-w64 x86_64)";
#elif defined(__MINGW32__) && defined(__i386__)
  name += " (MinGW-w64 i686)";
#elif defined(__x86_64__)
  name += " (x86_64)";
#elif defined(__i386__)
  name += " (i686)";
#endif
  return name;
}
