// The opcode tables of the x86 decoder and the names it prints: data only,
// shared by the decoder's files.
#pragma once

#include <cstddef>
#include <cstdint>

namespace x86 {

// Operand kinds, after the operand notation of the processor manuals:
// E = ModRM r/m (register or memory), G = ModRM reg, I = immediate, J = branch
// displacement, Z = register in the low opcode bits, V/W/U = SSE register /
// register-or-memory / register only, P/Q/N the same for MMX.
enum Op : std::uint8_t {
  kNone,
  kEb, kEw, kEd, kEv, kEq, kEy,
  kGb, kGw, kGd, kGv, kGy,
  kIb, kIw, kIz, kIbs, kIv,
  kJb, kJz,
  kAL, kCL, kDX, keAX, krAX, kOne,
  kZb, kZv,
  kM, kMp, kMq, kMx, kSw, kOb, kOv,
  kVx, kWx, kWd, kWq, kUx,
  kPq, kQq, kNq,
};

enum Flag : std::uint8_t {
  kD64 = 1,     // operand size defaults to 64 bits in 64-bit mode
  kI64 = 2,     // invalid in 64-bit mode
  kO64 = 4,     // valid in 64-bit mode only
  kString = 8,  // string instruction: F3/F2 read as rep/repne
};

enum Group : std::uint8_t { kNoGroup, kG1, kG1a, kG2, kG3b, kG3v, kG4, kG5, kG11b, kG11v };

struct Entry {
  const char* mnemonic;  // "a|b|c": variants for 16-, 32- and 64-bit operands
  Op a, b, c;
  std::uint8_t flags;
  Group group;
};

struct Entry0F {
  std::uint8_t opcode;
  std::uint8_t prefix;  // 0 none, 1 = 66, 2 = F3, 3 = F2
  Entry entry;
};

struct PackedEntry {
  std::uint8_t opcode;
  const char* mnemonic;
  bool xmmOnly;
};

// Prefix bytes and the 0F escape are handled before this table is consulted.
extern const Entry kOneByte[256];
// ModRM reg-field members of each group, by Group.
extern const Entry kGroups[10][8];
// Two-byte (0F) opcodes that need no mandatory prefix logic.
extern const Entry0F kTwoByte[];
extern const std::size_t kTwoByteCount;
// Packed-integer opcodes: MMX without a prefix, SSE2 with 66.
extern const PackedEntry kPacked[];
extern const std::size_t kPackedCount;

extern const char* const kConditions[16];
extern const char* const kReg8[8];
extern const char* const kReg8Rex[16];
extern const char* const kReg16[16];
extern const char* const kReg32[16];
extern const char* const kReg64[16];
extern const char* const kSegments[6];

}  // namespace x86
