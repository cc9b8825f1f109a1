// The program's own symbol table: function names, source files and lines for
// its code, generated from the debug information at build time and linked in
// as a resource (the shipped program carries no debug information).
//
// Layout (little-endian, every field 4 bytes unless stated):
//   header:    "QEXSYMTB", version (1), total size, function count,
//              line count, file count, string pool size
//   functions: start RVA, end RVA (exclusive), name offset; sorted, disjoint
//   files:     name offset
//   lines:     RVA, file index << 20 | line; sorted by RVA; file index
//              kNoFile marks code without line information
//   strings:   NUL-terminated texts, the pool's last byte is NUL
// RVAs are relative to the module's image base. The table is validated
// once, in Parse; lookups then trust it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

struct SymbolInfo {
  bool hasFunction = false;
  std::uint32_t functionStart = 0;  // RVA
  std::string_view function;        // demangled, with parameter types
  bool hasLine = false;
  std::string_view file;            // the unit: source path as the build knew it
  std::uint32_t line = 0;
  // Line of the function's first instruction, when it lies in `file`
  // (0 otherwise): the base of the relative line column.
  std::uint32_t functionLine = 0;
};

class SymbolTable {
 public:
  static constexpr std::uint32_t kVersion = 1;
  static constexpr std::uint32_t kNoFile = 0xFFF;
  static constexpr std::uint32_t kMaxLine = 0xFFFFF;
  static constexpr std::size_t kHeaderSize = 32;

  SymbolTable() = default;

  // Checks the bytes and keeps a view of them; they must outlive the table.
  // False (and an empty table) for anything that is not a valid table,
  // including a placeholder that was never filled in.
  bool Parse(const std::uint8_t* bytes, std::size_t size);
  bool Empty() const { return functionCount_ == 0 && lineCount_ == 0; }

  // What the table knows of the code at `rva`.
  SymbolInfo Lookup(std::uint32_t rva) const;
  // For a return address: the call instruction lies before it, and may be
  // the last one of its line or function.
  SymbolInfo LookupCaller(std::uint32_t returnRva) const {
    return Lookup(returnRva == 0 ? 0 : returnRva - 1);
  }

 private:
  std::uint32_t Word(std::size_t offset) const;
  std::string_view String(std::uint32_t offset) const;
  // Index of the last line entry at or before `rva`, or -1.
  long LineIndex(std::uint32_t rva) const;

  const std::uint8_t* bytes_ = nullptr;
  std::uint32_t functionCount_ = 0, lineCount_ = 0, fileCount_ = 0, stringsSize_ = 0;
  std::size_t functions_ = 0, files_ = 0, lines_ = 0, strings_ = 0;
};
