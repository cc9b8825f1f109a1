#include "crash/disasm/SymbolTable.h"

#include <cstring>

namespace {

constexpr char kMagic[8] = {'Q', 'E', 'X', 'S', 'Y', 'M', 'T', 'B'};

std::uint32_t ReadWord(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
         std::uint32_t{p[3]} << 24;
}

}  // namespace

std::uint32_t SymbolTable::Word(std::size_t offset) const { return ReadWord(bytes_ + offset); }

std::string_view SymbolTable::String(std::uint32_t offset) const {
  return std::string_view(reinterpret_cast<const char*>(bytes_ + strings_ + offset));
}

bool SymbolTable::Parse(const std::uint8_t* bytes, std::size_t size) {
  *this = SymbolTable();
  if (!bytes || size < kHeaderSize || std::memcmp(bytes, kMagic, sizeof kMagic) != 0) return false;
  if (ReadWord(bytes + 8) != kVersion) return false;
  std::uint64_t total = ReadWord(bytes + 12);
  std::uint64_t functions = ReadWord(bytes + 16);
  std::uint64_t lines = ReadWord(bytes + 20);
  std::uint64_t files = ReadWord(bytes + 24);
  std::uint64_t strings = ReadWord(bytes + 28);
  // 64-bit sums: no count can overflow them.
  std::uint64_t need = kHeaderSize + functions * 12 + files * 4 + lines * 8 + strings;
  if (total > size || need != total) return false;
  if (files > kNoFile) return false;
  if (strings == 0 || bytes[need - 1] != 0) return false;

  SymbolTable table;
  table.bytes_ = bytes;
  table.functionCount_ = static_cast<std::uint32_t>(functions);
  table.lineCount_ = static_cast<std::uint32_t>(lines);
  table.fileCount_ = static_cast<std::uint32_t>(files);
  table.stringsSize_ = static_cast<std::uint32_t>(strings);
  table.functions_ = kHeaderSize;
  table.files_ = table.functions_ + functions * 12;
  table.lines_ = table.files_ + files * 4;
  table.strings_ = table.lines_ + lines * 8;

  std::uint32_t previousEnd = 0;
  for (std::uint32_t i = 0; i < table.functionCount_; ++i) {
    std::size_t at = table.functions_ + i * 12;
    std::uint32_t start = table.Word(at), end = table.Word(at + 4), name = table.Word(at + 8);
    if (start >= end || start < previousEnd || name >= table.stringsSize_) return false;
    previousEnd = end;
  }
  for (std::uint32_t i = 0; i < table.fileCount_; ++i)
    if (table.Word(table.files_ + i * 4) >= table.stringsSize_) return false;
  std::uint32_t previousRva = 0;
  for (std::uint32_t i = 0; i < table.lineCount_; ++i) {
    std::size_t at = table.lines_ + i * 8;
    std::uint32_t rva = table.Word(at), fileLine = table.Word(at + 4);
    std::uint32_t file = fileLine >> 20;
    if (rva < previousRva || (file != kNoFile && file >= table.fileCount_)) return false;
    previousRva = rva;
  }
  *this = table;
  return true;
}

long SymbolTable::LineIndex(std::uint32_t rva) const {
  std::uint32_t low = 0, high = lineCount_;  // first entry with RVA > rva
  while (low < high) {
    std::uint32_t mid = low + (high - low) / 2;
    if (Word(lines_ + mid * 8) <= rva)
      low = mid + 1;
    else
      high = mid;
  }
  return static_cast<long>(low) - 1;
}

SymbolInfo SymbolTable::Lookup(std::uint32_t rva) const {
  SymbolInfo info;
  if (!bytes_) return info;

  std::uint32_t low = 0, high = functionCount_;
  while (low < high) {
    std::uint32_t mid = low + (high - low) / 2;
    if (Word(functions_ + mid * 12) <= rva)
      low = mid + 1;
    else
      high = mid;
  }
  if (low > 0) {
    std::size_t at = functions_ + (low - 1) * 12;
    if (rva < Word(at + 4)) {
      info.hasFunction = true;
      info.functionStart = Word(at);
      info.function = String(Word(at + 8));
    }
  }

  long index = LineIndex(rva);
  if (index >= 0) {
    std::uint32_t fileLine = Word(lines_ + static_cast<std::size_t>(index) * 8 + 4);
    std::uint32_t file = fileLine >> 20;
    if (file != kNoFile) {
      info.hasLine = true;
      info.file = String(Word(files_ + file * 4));
      info.line = fileLine & kMaxLine;
    }
  }
  if (info.hasFunction && info.hasLine) {
    long first = LineIndex(info.functionStart);
    if (first >= 0) {
      std::uint32_t fileLine = Word(lines_ + static_cast<std::size_t>(first) * 8 + 4);
      std::uint32_t file = fileLine >> 20;
      if (file != kNoFile && String(Word(files_ + file * 4)) == info.file) info.functionLine = fileLine & kMaxLine;
    }
  }
  return info;
}
