#include "crash/disasm/SymbolTable.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

namespace {

// Builds tables the way the generator lays them out.
class TableBuilder {
 public:
  void Function(std::uint32_t start, std::uint32_t end, const std::string& name) {
    functions_.push_back({start, end, Intern(name)});
  }
  std::uint32_t File(const std::string& name) {
    files_.push_back(Intern(name));
    return static_cast<std::uint32_t>(files_.size() - 1);
  }
  void Line(std::uint32_t rva, std::uint32_t file, std::uint32_t line) {
    lines_.push_back({rva, file << 20 | line});
  }
  void End(std::uint32_t rva) { lines_.push_back({rva, SymbolTable::kNoFile << 20}); }

  std::vector<std::uint8_t> Bytes() const {
    std::vector<std::uint8_t> out(SymbolTable::kHeaderSize);
    const char magic[] = "QEXSYMTB";
    for (int i = 0; i < 8; ++i) out[i] = static_cast<std::uint8_t>(magic[i]);
    std::string strings = strings_.empty() ? std::string(1, '\0') : strings_;
    std::uint32_t total = static_cast<std::uint32_t>(SymbolTable::kHeaderSize + functions_.size() * 12 +
                                                     files_.size() * 4 + lines_.size() * 8 + strings.size());
    Put(out, 8, SymbolTable::kVersion);
    Put(out, 12, total);
    Put(out, 16, static_cast<std::uint32_t>(functions_.size()));
    Put(out, 20, static_cast<std::uint32_t>(lines_.size()));
    Put(out, 24, static_cast<std::uint32_t>(files_.size()));
    Put(out, 28, static_cast<std::uint32_t>(strings.size()));
    for (const auto& f : functions_) {
      Append(out, f[0]);
      Append(out, f[1]);
      Append(out, f[2]);
    }
    for (std::uint32_t file : files_) Append(out, file);
    for (const auto& line : lines_) {
      Append(out, line[0]);
      Append(out, line[1]);
    }
    out.insert(out.end(), strings.begin(), strings.end());
    return out;
  }

  static void Put(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) out.at(at + i) = static_cast<std::uint8_t>(value >> (8 * i));
  }

 private:
  std::uint32_t Intern(const std::string& text) {
    std::uint32_t at = static_cast<std::uint32_t>(strings_.size());
    strings_ += text;
    strings_ += '\0';
    return at;
  }
  static void Append(std::vector<std::uint8_t>& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
  }

  std::vector<std::array<std::uint32_t, 3>> functions_;
  std::vector<std::uint32_t> files_;
  std::vector<std::array<std::uint32_t, 2>> lines_;
  std::string strings_;
};

TableBuilder TwoFunctions() {
  TableBuilder table;
  std::uint32_t unit = table.File("app/frmMains.cpp");
  std::uint32_t header = table.File("bits/stl_vector.h");
  table.Function(0x1000, 0x1040, "TfrmMain::ClientRead(TObject*)");
  table.Function(0x1050, 0x1060, "SendHidData()");
  table.Line(0x1000, unit, 120);
  table.Line(0x1008, unit, 121);
  table.Line(0x1010, header, 900);  // inlined library code
  table.Line(0x1018, unit, 123);
  table.End(0x1040);
  table.Line(0x1050, unit, 200);
  table.Line(0x1058, unit, 202);
  table.End(0x1060);
  return table;
}

TEST(SymbolTable, FindsFunctionUnitAndLine) {
  std::vector<std::uint8_t> bytes = TwoFunctions().Bytes();
  SymbolTable table;
  ASSERT_TRUE(table.Parse(bytes.data(), bytes.size()));

  SymbolInfo info = table.Lookup(0x100A);
  EXPECT_TRUE(info.hasFunction);
  EXPECT_EQ(info.function, "TfrmMain::ClientRead(TObject*)");
  EXPECT_EQ(info.functionStart, 0x1000u);
  EXPECT_TRUE(info.hasLine);
  EXPECT_EQ(info.file, "app/frmMains.cpp");
  EXPECT_EQ(info.line, 121u);
  EXPECT_EQ(info.functionLine, 120u);

  SymbolInfo inlined = table.Lookup(0x1012);
  EXPECT_EQ(inlined.file, "bits/stl_vector.h");
  EXPECT_EQ(inlined.line, 900u);
  EXPECT_EQ(inlined.functionLine, 0u);  // the function starts in another file

  EXPECT_EQ(table.Lookup(0x1000).line, 120u);
  EXPECT_EQ(table.Lookup(0x103F).line, 123u);
  EXPECT_EQ(table.Lookup(0x105F).function, "SendHidData()");
}

TEST(SymbolTable, AddressesOutsideTheListedCodeFindNothing) {
  std::vector<std::uint8_t> bytes = TwoFunctions().Bytes();
  SymbolTable table;
  ASSERT_TRUE(table.Parse(bytes.data(), bytes.size()));
  for (std::uint32_t rva : {0u, 0xFFFu, 0x1040u, 0x104Fu, 0x1060u, 0xFFFFFFFFu}) {
    SymbolInfo info = table.Lookup(rva);
    EXPECT_FALSE(info.hasFunction) << rva;
    EXPECT_FALSE(info.hasLine) << rva;
  }
}

TEST(SymbolTable, ReturnAddressNamesTheCallingLine) {
  std::vector<std::uint8_t> bytes = TwoFunctions().Bytes();
  SymbolTable table;
  ASSERT_TRUE(table.Parse(bytes.data(), bytes.size()));
  // A call that ends line 121: its return address is the first byte of the
  // next line.
  EXPECT_EQ(table.Lookup(0x1010).line, 900u);
  EXPECT_EQ(table.LookupCaller(0x1010).line, 121u);
  // A call at the very end of a function returns past it.
  SymbolInfo last = table.LookupCaller(0x1040);
  EXPECT_EQ(last.function, "TfrmMain::ClientRead(TObject*)");
  EXPECT_EQ(last.line, 123u);
  EXPECT_FALSE(table.LookupCaller(0).hasFunction);
}

TEST(SymbolTable, TrailingPaddingOfThePlaceholderIsAccepted) {
  std::vector<std::uint8_t> bytes = TwoFunctions().Bytes();
  bytes.resize(bytes.size() + 4096, 0);
  SymbolTable table;
  EXPECT_TRUE(table.Parse(bytes.data(), bytes.size()));
  EXPECT_FALSE(table.Empty());
}

TEST(SymbolTable, RejectsAnythingThatDoesNotCheckOut) {
  const std::vector<std::uint8_t> good = TwoFunctions().Bytes();
  SymbolTable table;
  ASSERT_TRUE(table.Parse(good.data(), good.size()));

  auto rejects = [&](std::vector<std::uint8_t> bytes, const char* why) {
    SymbolTable t;
    EXPECT_FALSE(t.Parse(bytes.data(), bytes.size())) << why;
    EXPECT_TRUE(t.Empty()) << why;
    EXPECT_FALSE(t.Lookup(0x1000).hasFunction) << why;
  };
  rejects({}, "empty");
  rejects(std::vector<std::uint8_t>(good.begin(), good.end() - 1), "truncated");
  std::vector<std::uint8_t> placeholder(4096, 0);
  const char marker[] = "QEXSYMBOLS-PLACEHOLDER";
  std::copy(marker, marker + sizeof marker - 1, placeholder.begin());
  rejects(placeholder, "unfilled placeholder");

  std::vector<std::uint8_t> bad = good;
  TableBuilder::Put(bad, 8, 2);
  rejects(bad, "version");
  bad = good;
  TableBuilder::Put(bad, 16, 0x40000000);  // function count that overflows 32-bit sums
  rejects(bad, "count");
  bad = good;
  TableBuilder::Put(bad, 12, static_cast<std::uint32_t>(good.size() + 1));
  rejects(bad, "total size");
  bad = good;
  bad.back() = 'x';
  rejects(bad, "unterminated strings");

  std::size_t functions = SymbolTable::kHeaderSize;
  bad = good;
  TableBuilder::Put(bad, functions + 12, 0x1030);  // second function overlaps the first
  rejects(bad, "overlap");
  bad = good;
  TableBuilder::Put(bad, functions + 8, 0x7FFFFFFF);
  rejects(bad, "name offset");
  std::size_t lines = functions + 2 * 12 + 2 * 4;
  bad = good;
  TableBuilder::Put(bad, lines + 4, 5u << 20 | 1);
  rejects(bad, "file index");
  bad = good;
  TableBuilder::Put(bad, lines + 8, 0x0FFF);
  rejects(bad, "unsorted lines");
}

}  // namespace
