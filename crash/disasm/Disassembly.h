// The disassembly section of a crash report: the instructions around the
// faulting one, rendered from a copy of the code bytes taken at the fault.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "crash/disasm/X86Decoder.h"

// Code bytes copied from the crashed process; `address` is where
// `bytes[0]` sat in it.
struct CodeWindow {
  const std::uint8_t* bytes = nullptr;
  std::size_t size = 0;
  std::uint64_t address = 0;
};

struct DisassemblyOptions {
  CpuMode mode = CpuMode::X86;
  // Instructions shown before and after the faulting one (LimitDisAsm).
  unsigned limit = 5;
  // Start of the function that holds the fault, when the symbols know it;
  // decoding from there finds the instruction boundaries for certain.
  std::uint64_t functionStart = 0;
  bool haveFunctionStart = false;
};

// One line per instruction, oldest first:
//   "> 00401A2C  8B 45 08           mov eax, dword ptr [ebp+0x8]"
// The faulting line starts with "> ", the others with two blanks; addresses
// have 8 digits (16 for 64-bit code) and the byte column is padded to the
// widest instruction shown. Empty when the fault lies outside the window.
std::vector<std::string> DisassembleAround(const CodeWindow& code, std::uint64_t faultAddress,
                                           const DisassemblyOptions& options);
