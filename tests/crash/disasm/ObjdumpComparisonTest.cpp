// The decoder against objdump on the same compiler output: every
// instruction objdump finds must have the same length and mnemonic.
#include "crash/disasm/X86Decoder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Listed {
  std::size_t offset;
  unsigned length;
  std::string text;
};

struct Section {
  std::vector<std::uint8_t> bytes;
  std::vector<Listed> instructions;
};

// Reads "  1c:\t8b 45 08 \tmov    eax,DWORD PTR [ebp+0x8]" lines (-w keeps
// each instruction on one line).
std::vector<Section> ReadListing(const std::string& path, bool& is64) {
  std::ifstream in(path);
  std::vector<Section> sections;
  std::string line;
  is64 = false;
  while (std::getline(in, line)) {
    if (line.find("file format pe-x86-64") != std::string::npos) is64 = true;
    if (line.rfind("Disassembly of section", 0) == 0) {
      sections.emplace_back();
      continue;
    }
    std::size_t colon = line.find(":\t");
    if (sections.empty() || colon == std::string::npos) continue;
    std::size_t tab = line.find('\t', colon + 2);
    std::string hex = line.substr(colon + 2, tab == std::string::npos ? std::string::npos : tab - colon - 2);
    std::string text = tab == std::string::npos ? "" : line.substr(tab + 1);
    Section& section = sections.back();
    Listed listed{section.bytes.size(), 0, text};
    std::istringstream bytes(hex);
    std::string byte;
    while (bytes >> byte) {
      section.bytes.push_back(static_cast<std::uint8_t>(std::strtoul(byte.c_str(), nullptr, 16)));
      ++listed.length;
    }
    section.instructions.push_back(listed);
  }
  return sections;
}

bool IsPrefixWord(const std::string& word) {
  static const std::set<std::string> kPrefixes = {"data16", "data32", "addr32", "addr16", "cs", "ds", "es",
                                                  "ss", "fs", "gs", "lock", "rep", "repz", "repe", "repnz",
                                                  "repne", "bnd", "notrack"};
  return kPrefixes.count(word) > 0 || word.rfind("rex", 0) == 0;
}

std::string Mnemonic(const std::string& text) {
  std::istringstream words(text);
  std::string word;
  while (words >> word)
    if (!IsPrefixWord(word)) return word;
  return "";
}

// Names that differ only in spelling.
std::string Canonical(std::string name) {
  static const std::map<std::string, std::string> kAliases = {
      {"movabs", "mov"}, {"fsubr", "fsub"},   {"fdivr", "fdiv"}, {"fsubrp", "fsubp"},
      {"fdivrp", "fdivp"}, {"sal", "shl"},    {"fwait", "wait"}, {"xlatb", "xlat"},
      {"pushad", "pusha"}, {"popad", "popa"},
  };
  auto alias = kAliases.find(name);
  if (alias != kAliases.end()) name = alias->second;
  // objdump's Intel syntax names string operations without a size letter.
  static const std::set<std::string> kStrings = {"movs", "stos", "lods", "scas", "cmps", "ins", "outs"};
  for (const std::string& base : kStrings)
    if (name.size() == base.size() + 1 && name.compare(0, base.size(), base) == 0 &&
        std::string("bwdq").find(name.back()) != std::string::npos)
      return base;
  return name;
}

TEST(X86DecoderAgainstObjdump, CompilerOutputDecodesLikeBinutils) {
  const char* list = std::getenv("QEX_DISASM_LISTINGS");
  if (!list || !*list) GTEST_SKIP() << "QEX_DISASM_LISTINGS not set";
  std::string paths(list);
  std::size_t total = 0, mismatches = 0;
  std::size_t start = 0;
  while (start <= paths.size()) {
    std::size_t comma = paths.find(',', start);
    std::string path = paths.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    start = comma == std::string::npos ? paths.size() + 1 : comma + 1;
    bool is64 = false;
    std::vector<Section> sections = ReadListing(path, is64);
    ASSERT_FALSE(sections.empty()) << path;
    for (const Section& section : sections) {
      for (const Listed& listed : section.instructions) {
        if (listed.text.find("(bad)") != std::string::npos) continue;
        DecodedInstruction decoded =
            DecodeInstruction(section.bytes.data() + listed.offset, section.bytes.size() - listed.offset,
                              listed.offset, is64 ? CpuMode::X64 : CpuMode::X86);
        ++total;
        std::string theirs = Canonical(Mnemonic(listed.text));
        std::string ours = Canonical(Mnemonic(decoded.text));
        // objdump writes 66 90 as "xchg ax,ax".
        if (theirs == "xchg" && ours == "nop" && listed.text.find("ax,ax") != std::string::npos) ours = theirs;
        if (decoded.length != listed.length || theirs != ours) {
          ++mismatches;
          ADD_FAILURE() << path << " +" << std::hex << listed.offset << ": objdump \"" << listed.text << "\" ("
                        << std::dec << listed.length << " bytes), decoder \"" << decoded.text << "\" ("
                        << decoded.length << " bytes)";
          if (mismatches > 40) return;
        }
      }
    }
  }
  EXPECT_GT(total, 1000u);
  std::printf("%zu instructions compared\n", total);
}

}  // namespace
