// A compact decoder of 32-bit and 64-bit x86 code, for the disassembly section
// of crash reports. It covers what compilers emit for ordinary code (integer,
// x87 and SSE/SSE2 forms); anything else comes back as one byte of data.
// Pure code: no platform header, safe on untrusted bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

enum class CpuMode { X86, X64 };

struct DecodedInstruction {
  // 1..15 and never more than the bytes given (0 only when none were given).
  unsigned length = 0;
  // False for bytes that are shown as data ("db 0xNN").
  bool valid = false;
  // Intel-like text: "mov eax, dword ptr [ebp+0x8]"; branch targets are
  // absolute addresses.
  std::string text;
};

// Decodes the instruction at `code`, which is taken to sit at `address`.
// Reads at most `available` bytes (and never more than 15); an instruction
// that does not fit, or that the decoder does not know, is one byte of data.
// With `available` 0 the result has length 0 and no text.
DecodedInstruction DecodeInstruction(const std::uint8_t* code, std::size_t available,
                                     std::uint64_t address, CpuMode mode);
