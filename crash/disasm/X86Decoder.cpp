#include "crash/disasm/X86Decoder.h"

#include <cstdio>

#include "crash/disasm/X86Tables.h"

namespace {

using namespace x86;

constexpr unsigned kMaxLength = 15;

// A table of the other file as a range.
template <class T>
struct Rows {
  Rows(const T* first, std::size_t count) : first_(first), count_(count) {}
  const T* begin() const { return first_; }
  const T* end() const { return first_ + count_; }
  const T* first_;
  std::size_t count_;
};

std::string Hex(std::uint64_t value) {
  char buffer[24];
  std::snprintf(buffer, sizeof buffer, "0x%llx", static_cast<unsigned long long>(value));
  return buffer;
}

std::uint64_t Mask(std::uint64_t value, int bits) {
  return bits >= 64 ? value : value & ((std::uint64_t{1} << bits) - 1);
}

std::int64_t SignExtend(std::uint64_t value, int bytes) {
  switch (bytes) {
    case 1: return static_cast<std::int8_t>(value);
    case 2: return static_cast<std::int16_t>(value);
    case 4: return static_cast<std::int32_t>(value);
    default: return static_cast<std::int64_t>(value);
  }
}

class Decoder {
 public:
  Decoder(const std::uint8_t* code, std::size_t available, std::uint64_t address, CpuMode mode)
      : code_(code),
        available_(available < kMaxLength ? available : kMaxLength),
        address_(address),
        long_(mode == CpuMode::X64) {}

  // The instruction text, or false when the bytes are not one we know.
  bool Run(std::string& text);
  unsigned Length() const { return static_cast<unsigned>(pos_); }

 private:
  bool Fetch(std::uint8_t& byte) {
    if (pos_ >= available_) return false;
    byte = code_[pos_++];
    return true;
  }
  bool FetchValue(int bytes, std::uint64_t& value) {
    if (pos_ + static_cast<std::size_t>(bytes) > available_) return false;
    value = 0;
    for (int i = 0; i < bytes; ++i) value |= std::uint64_t{code_[pos_ + i]} << (8 * i);
    pos_ += bytes;
    return true;
  }

  bool ReadModrm();
  bool NeedsModrm(Op op) const;
  bool ReadImmediates(const Op* ops, int count);
  bool RenderOperand(Op op, int index, std::string& out);
  std::string Register(int bits, int number) const;
  std::string Memory(const char* size) const;
  const char* SizeName(int bits) const;
  std::string PickMnemonic(const char* mnemonic) const;
  // Reads what the operands still need and renders the text; `operands`
  // stands in for `ops` where the caller formats them itself.
  bool Finish(const std::string& mnemonic, const Op* ops, int count, std::string& text,
              const std::string& operands = std::string());
  bool DecodeTwoByte(std::string& text);
  bool DecodeX87(std::uint8_t opcode, std::string& text);

  const std::uint8_t* code_;
  std::size_t available_;
  std::uint64_t address_;
  bool long_;
  std::size_t pos_ = 0;
  std::size_t opcodePos_ = 0;  // the byte that names the instruction

  // Prefixes.
  std::uint8_t rex_ = 0;
  bool opsize_ = false, adsize_ = false, lock_ = false;
  std::uint8_t rep_ = 0;  // 0, 0xF2 or 0xF3 (the last one wins)
  int segment_ = -1;
  int operandBits_ = 32, addressBits_ = 32;

  // ModRM and its memory operand.
  bool haveModrm_ = false;
  int mod_ = 0, reg_ = 0, rm_ = 0;
  int base_ = -1, index_ = -1, scale_ = 1;
  bool ripRelative_ = false;
  bool sixteenBitForm_ = false;
  std::int64_t displacement_ = 0;
  bool hasDisplacement_ = false;

  // Immediate values per operand slot, read in encoding order.
  std::uint64_t immediates_[3] = {};
  int immediateBytes_[3] = {};
};

bool Decoder::NeedsModrm(Op op) const {
  switch (op) {
    case kEb: case kEw: case kEd: case kEv: case kEq: case kEy:
    case kGb: case kGw: case kGd: case kGv: case kGy:
    case kM: case kMp: case kMq: case kMx: case kSw:
    case kVx: case kWx: case kWd: case kWq: case kUx:
    case kPq: case kQq: case kNq:
      return true;
    default:
      return false;
  }
}

bool Decoder::ReadModrm() {
  if (haveModrm_) return true;
  std::uint8_t modrm;
  if (!Fetch(modrm)) return false;
  haveModrm_ = true;
  mod_ = modrm >> 6;
  reg_ = ((modrm >> 3) & 7) | ((rex_ & 4) ? 8 : 0);
  rm_ = (modrm & 7) | ((rex_ & 1) ? 8 : 0);
  if (mod_ == 3) return true;

  std::uint64_t value = 0;
  if (addressBits_ == 16) {
    sixteenBitForm_ = true;
    if (mod_ == 0 && (modrm & 7) == 6) {
      if (!FetchValue(2, value)) return false;
      displacement_ = static_cast<std::int64_t>(value);
      hasDisplacement_ = true;
      return true;
    }
    base_ = modrm & 7;  // index into the 16-bit base table
    if (mod_ == 1 || mod_ == 2) {
      int bytes = mod_ == 1 ? 1 : 2;
      if (!FetchValue(bytes, value)) return false;
      displacement_ = SignExtend(value, bytes);
      hasDisplacement_ = true;
    }
    return true;
  }

  bool absolute = false;
  if ((modrm & 7) == 4) {
    std::uint8_t sib;
    if (!Fetch(sib)) return false;
    scale_ = 1 << (sib >> 6);
    int index = ((sib >> 3) & 7) | ((rex_ & 2) ? 8 : 0);
    if (index != 4) index_ = index;
    int base = (sib & 7) | ((rex_ & 1) ? 8 : 0);
    if ((sib & 7) == 5 && mod_ == 0)
      absolute = true;
    else
      base_ = base;
  } else if ((modrm & 7) == 5 && mod_ == 0) {
    if (long_)
      ripRelative_ = true;
    else
      absolute = true;
  } else {
    base_ = rm_;
  }
  int bytes = (mod_ == 1) ? 1 : (mod_ == 2 || absolute || ripRelative_) ? 4 : 0;
  if (bytes) {
    if (!FetchValue(bytes, value)) return false;
    displacement_ = SignExtend(value, bytes);
    hasDisplacement_ = true;
  }
  return true;
}

std::string Decoder::Register(int bits, int number) const {
  switch (bits) {
    case 8: return rex_ ? kReg8Rex[number] : kReg8[number & 7];
    case 16: return kReg16[number];
    case 32: return kReg32[number];
    default: return kReg64[number];
  }
}

const char* Decoder::SizeName(int bits) const {
  switch (bits) {
    case 8: return "byte";
    case 16: return "word";
    case 32: return "dword";
    case 48: return "fword";
    case 64: return "qword";
    case 80: return "tbyte";
    case 128: return "xmmword";
    default: return nullptr;
  }
}

std::string Decoder::Memory(const char* size) const {
  std::string out;
  if (size) {
    out += size;
    out += " ptr ";
  }
  if (segment_ >= 0) {
    out += kSegments[segment_];
    out += ':';
  }
  out += '[';
  bool any = false;
  if (sixteenBitForm_) {
    static const char* const kBases16[] = {"bx+si", "bx+di", "bp+si", "bp+di", "si", "di", "bp", "bx"};
    if (base_ >= 0) {
      out += kBases16[base_];
      any = true;
    }
  } else if (ripRelative_) {
    out += addressBits_ == 32 ? "eip" : "rip";
    any = true;
  } else {
    const char* const* names = addressBits_ == 64 ? kReg64 : kReg32;
    if (base_ >= 0) {
      out += names[base_];
      any = true;
    }
    if (index_ >= 0) {
      if (any) out += '+';
      out += names[index_];
      if (scale_ > 1) {
        out += '*';
        out += static_cast<char>('0' + scale_);
      }
      any = true;
    }
  }
  if (!any) {
    out += Hex(Mask(static_cast<std::uint64_t>(displacement_), addressBits_));
  } else if (hasDisplacement_ && displacement_ != 0) {
    if (displacement_ < 0) {
      out += '-';
      out += Hex(static_cast<std::uint64_t>(0) - static_cast<std::uint64_t>(displacement_));
    } else {
      out += '+';
      out += Hex(static_cast<std::uint64_t>(displacement_));
    }
  }
  out += ']';
  return out;
}

bool Decoder::ReadImmediates(const Op* ops, int count) {
  for (int i = 0; i < count; ++i) {
    int bytes = 0;
    switch (ops[i]) {
      case kIb: case kIbs: case kJb: bytes = 1; break;
      case kIw: bytes = 2; break;
      case kIz: bytes = operandBits_ == 16 ? 2 : 4; break;
      case kIv: bytes = operandBits_ / 8; break;
      case kJz: bytes = (operandBits_ == 16 && !long_) ? 2 : 4; break;
      case kOb: case kOv: bytes = addressBits_ / 8; break;
      default: break;
    }
    if (bytes == 0) continue;
    if (!FetchValue(bytes, immediates_[i])) return false;
    immediateBytes_[i] = bytes;
  }
  return true;
}

bool Decoder::RenderOperand(Op op, int index, std::string& out) {
  int vbits = operandBits_;
  switch (op) {
    case kEb: out = mod_ == 3 ? Register(8, rm_) : Memory("byte"); return true;
    case kEw: out = mod_ == 3 ? Register(16, rm_) : Memory("word"); return true;
    case kEd: out = mod_ == 3 ? Register(32, rm_) : Memory("dword"); return true;
    case kEq: out = mod_ == 3 ? Register(64, rm_) : Memory("qword"); return true;
    case kEv: out = mod_ == 3 ? Register(vbits, rm_) : Memory(SizeName(vbits)); return true;
    case kEy: {
      int bits = (rex_ & 8) ? 64 : 32;
      out = mod_ == 3 ? Register(bits, rm_) : Memory(SizeName(bits));
      return true;
    }
    case kGb: out = Register(8, reg_); return true;
    case kGw: out = Register(16, reg_); return true;
    case kGd: out = Register(32, reg_); return true;
    case kGv: out = Register(vbits, reg_); return true;
    case kGy: out = Register((rex_ & 8) ? 64 : 32, reg_); return true;
    case kM:
      if (mod_ == 3) return false;
      out = Memory(nullptr);
      return true;
    case kMp:
      if (mod_ == 3) return false;
      out = Memory(SizeName(vbits == 16 ? 32 : vbits == 32 ? 48 : 80));
      return true;
    case kMq:
      if (mod_ == 3) return false;
      out = Memory("qword");
      return true;
    case kMx:
      if (mod_ == 3) return false;
      out = Memory("xmmword");
      return true;
    case kSw:
      if ((reg_ & 7) > 5) return false;
      out = kSegments[reg_ & 7];
      return true;
    case kVx: out = "xmm" + std::to_string(reg_); return true;
    case kUx:
      if (mod_ != 3) return false;
      out = "xmm" + std::to_string(rm_);
      return true;
    case kWx: out = mod_ == 3 ? "xmm" + std::to_string(rm_) : Memory("xmmword"); return true;
    case kWd: out = mod_ == 3 ? "xmm" + std::to_string(rm_) : Memory("dword"); return true;
    case kWq: out = mod_ == 3 ? "xmm" + std::to_string(rm_) : Memory("qword"); return true;
    case kPq: out = "mm" + std::to_string(reg_ & 7); return true;
    case kNq:
      if (mod_ != 3) return false;
      out = "mm" + std::to_string(rm_ & 7);
      return true;
    case kQq: out = mod_ == 3 ? "mm" + std::to_string(rm_ & 7) : Memory("qword"); return true;
    case kIb: case kIw: out = Hex(immediates_[index]); return true;
    case kIz: case kIbs: case kIv: {
      std::int64_t value = SignExtend(immediates_[index], immediateBytes_[index]);
      out = Hex(Mask(static_cast<std::uint64_t>(value), vbits));
      return true;
    }
    case kJb: case kJz: {
      std::int64_t rel = SignExtend(immediates_[index], immediateBytes_[index]);
      std::uint64_t target = address_ + pos_ + static_cast<std::uint64_t>(rel);
      out = Hex(long_ ? target : Mask(target, 32));
      return true;
    }
    case kAL: out = "al"; return true;
    case kCL: out = "cl"; return true;
    case kDX: out = "dx"; return true;
    case keAX: out = vbits == 16 ? "ax" : "eax"; return true;
    case krAX: out = Register(vbits, 0); return true;
    case kOne: out = "1"; return true;
    case kZb: out = Register(8, (code_[opcodePos_] & 7) | ((rex_ & 1) ? 8 : 0)); return true;
    case kZv: out = Register(vbits, (code_[opcodePos_] & 7) | ((rex_ & 1) ? 8 : 0)); return true;
    case kOb: case kOv: {
      const char* size = op == kOb ? "byte" : SizeName(vbits);
      out = size;
      out += " ptr ";
      if (segment_ >= 0) {
        out += kSegments[segment_];
        out += ':';
      }
      out += '[' + Hex(immediates_[index]) + ']';
      return true;
    }
    case kNone: return true;
  }
  return false;
}

std::string Decoder::PickMnemonic(const char* mnemonic) const {
  std::string all(mnemonic);
  std::size_t first = all.find('|');
  if (first == std::string::npos) return all;
  std::size_t second = all.find('|', first + 1);
  if (operandBits_ == 16) return all.substr(0, first);
  if (operandBits_ == 64 && second != std::string::npos) return all.substr(second + 1);
  return all.substr(first + 1, second == std::string::npos ? std::string::npos : second - first - 1);
}

bool Decoder::Finish(const std::string& mnemonic, const Op* ops, int count, std::string& text,
                     const std::string& preformatted) {
  for (int i = 0; i < count; ++i)
    if (NeedsModrm(ops[i]) && !ReadModrm()) return false;
  if (!ReadImmediates(ops, count)) return false;
  std::string operands = preformatted;
  for (int i = 0; i < count; ++i) {
    if (ops[i] == kNone) continue;
    std::string one;
    if (!RenderOperand(ops[i], i, one)) return false;
    if (!operands.empty()) operands += ", ";
    operands += one;
  }
  text.clear();
  if (lock_) text += "lock ";
  if (rep_ == 0xF3) text += "rep ";
  if (rep_ == 0xF2) text += "repne ";
  text += mnemonic;
  if (!operands.empty()) {
    text += ' ';
    text += operands;
  }
  if (ripRelative_) {
    std::uint64_t target = address_ + pos_ + static_cast<std::uint64_t>(displacement_);
    text += "  ; " + Hex(addressBits_ == 32 ? Mask(target, 32) : target);
  }
  return true;
}

bool Decoder::Run(std::string& text) {
  std::uint8_t opcode = 0;
  for (;;) {
    if (!Fetch(opcode)) return false;
    switch (opcode) {
      case 0xF0: lock_ = true; rex_ = 0; continue;
      case 0xF2: case 0xF3: rep_ = opcode; rex_ = 0; continue;
      case 0x26: segment_ = 0; rex_ = 0; continue;
      case 0x2E: segment_ = 1; rex_ = 0; continue;
      case 0x36: segment_ = 2; rex_ = 0; continue;
      case 0x3E: segment_ = 3; rex_ = 0; continue;
      case 0x64: segment_ = 4; rex_ = 0; continue;
      case 0x65: segment_ = 5; rex_ = 0; continue;
      case 0x66: opsize_ = true; rex_ = 0; continue;
      case 0x67: adsize_ = true; rex_ = 0; continue;
      default: break;
    }
    // A REX prefix counts only when the opcode follows it directly.
    if (long_ && (opcode & 0xF0) == 0x40) {
      rex_ = opcode;
      continue;
    }
    break;
  }
  opcodePos_ = pos_ - 1;
  if (long_) {
    operandBits_ = (rex_ & 8) ? 64 : opsize_ ? 16 : 32;
    addressBits_ = adsize_ ? 32 : 64;
  } else {
    operandBits_ = opsize_ ? 16 : 32;
    addressBits_ = adsize_ ? 16 : 32;
  }

  if (opcode == 0x0F) return DecodeTwoByte(text);
  if (opcode >= 0xD8 && opcode <= 0xDF) return DecodeX87(opcode, text);

  if (opcode == 0x90) {
    Op ops[2] = {kZv, krAX};
    if (rex_ & 1) return Finish("xchg", ops, 2, text);
    std::uint8_t rep = rep_;
    rep_ = 0;
    return Finish(rep == 0xF3 ? "pause" : "nop", ops, 0, text);
  }
  if (opcode == 0xE3) {
    Op ops[1] = {kJb};
    const char* name = addressBits_ == 16 ? "jcxz" : addressBits_ == 32 ? "jecxz" : "jrcxz";
    return Finish(name, ops, 1, text);
  }

  Entry entry = kOneByte[opcode];
  if (!entry.mnemonic) return false;
  if (entry.group != kNoGroup) {
    if (!ReadModrm()) return false;
    const Entry& member = kGroups[entry.group][reg_ & 7];
    if (!member.mnemonic) return false;
    entry.mnemonic = member.mnemonic;
    if (member.a != kNone) {
      entry.a = member.a;
      entry.b = member.b;
      entry.c = member.c;
    }
    entry.flags |= member.flags;
  }
  if (long_ && (entry.flags & kI64)) return false;
  if (!long_ && (entry.flags & kO64)) return false;
  if (long_ && (entry.flags & kD64) && !(rex_ & 8)) operandBits_ = opsize_ ? 16 : 64;
  Op ops[3] = {entry.a, entry.b, entry.c};
  return Finish(PickMnemonic(entry.mnemonic), ops, 3, text);
}

bool Decoder::DecodeTwoByte(std::string& text) {
  std::uint8_t opcode;
  if (!Fetch(opcode)) return false;
  opcodePos_ = pos_ - 1;

  // Opcodes whose meaning does not depend on a mandatory prefix.
  if (opcode >= 0x40 && opcode <= 0x4F) {
    Op ops[2] = {kGv, kEv};
    return Finish(std::string("cmov") + kConditions[opcode & 15], ops, 2, text);
  }
  if (opcode >= 0x80 && opcode <= 0x8F) {
    if (long_) operandBits_ = 64;
    Op ops[1] = {kJz};
    return Finish(std::string("j") + kConditions[opcode & 15], ops, 1, text);
  }
  if (opcode >= 0x90 && opcode <= 0x9F) {
    Op ops[1] = {kEb};
    return Finish(std::string("set") + kConditions[opcode & 15], ops, 1, text);
  }
  if (opcode >= 0xC8 && opcode <= 0xCF) {
    if (opsize_ && !(rex_ & 8)) return false;
    Op ops[1] = {kZv};
    return Finish("bswap", ops, 1, text);
  }
  if (opcode == 0x1E && rep_ == 0xF3 && pos_ < available_ &&
      (code_[pos_] == 0xFA || code_[pos_] == 0xFB)) {
    bool is64 = code_[pos_] == 0xFA;
    ++pos_;
    rep_ = 0;
    return Finish(is64 ? "endbr64" : "endbr32", nullptr, 0, text);
  }
  if (opcode == 0x18 || opcode == 0x0D) {
    if (!ReadModrm()) return false;
    static const char* const kPrefetch[] = {"prefetchnta", "prefetcht0", "prefetcht1", "prefetcht2"};
    Op ops[1] = {kM};
    if (opcode == 0x0D && mod_ != 3 && (reg_ & 7) <= 1)
      return Finish((reg_ & 7) ? "prefetchw" : "prefetch", ops, 1, text);
    if (opcode == 0x18 && mod_ != 3 && (reg_ & 7) < 4) return Finish(kPrefetch[reg_ & 7], ops, 1, text);
    if (opcode == 0x0D) return false;
    Op nop[1] = {kEv};
    return Finish("nop", nop, 1, text);
  }
  if (opcode >= 0x19 && opcode <= 0x1F) {
    // Hint space; compilers use 0F 1F /0 as a multi-byte nop.
    Op ops[1] = {kEv};
    return Finish("nop", ops, 1, text);
  }
  if (opcode == 0xBA) {
    if (!ReadModrm()) return false;
    static const char* const kBitOps[] = {"bt", "bts", "btr", "btc"};
    if ((reg_ & 7) < 4) return false;
    Op ops[2] = {kEv, kIb};
    return Finish(kBitOps[(reg_ & 7) - 4], ops, 2, text);
  }
  if (opcode == 0xAE) {
    if (!ReadModrm()) return false;
    int sub = reg_ & 7;
    if (mod_ == 3) {
      if (rep_ || opsize_) return false;
      if (sub == 5) return Finish("lfence", nullptr, 0, text);
      if (sub == 6) return Finish("mfence", nullptr, 0, text);
      if (sub == 7) return Finish("sfence", nullptr, 0, text);
      return false;
    }
    static const char* const kState[] = {"fxsave", "fxrstor", "ldmxcsr", "stmxcsr", nullptr, nullptr, nullptr, "clflush"};
    if (!kState[sub] || rep_) return false;
    Op ops[1] = {sub == 2 || sub == 3 ? kEd : kM};
    return Finish(kState[sub], ops, 1, text);
  }
  if (opcode == 0xC7) {
    if (!ReadModrm()) return false;
    if ((reg_ & 7) != 1 || mod_ == 3) return false;
    Op ops[1] = {(rex_ & 8) ? kMx : kMq};
    return Finish((rex_ & 8) ? "cmpxchg16b" : "cmpxchg8b", ops, 1, text);
  }
  if (opcode >= 0x71 && opcode <= 0x73) {
    if (!ReadModrm()) return false;
    if (mod_ != 3 || rep_) return false;
    static const char* const kShifts[3][8] = {
        {nullptr, nullptr, "psrlw", nullptr, "psraw", nullptr, "psllw", nullptr},
        {nullptr, nullptr, "psrld", nullptr, "psrad", nullptr, "pslld", nullptr},
        {nullptr, nullptr, "psrlq", "psrldq", nullptr, nullptr, "psllq", "pslldq"},
    };
    const char* name = kShifts[opcode - 0x71][reg_ & 7];
    if (!name) return false;
    bool xmm = opsize_;
    if (!xmm && ((reg_ & 7) == 3 || (reg_ & 7) == 7)) return false;
    operandBits_ = 32;
    Op ops[2] = {xmm ? kUx : kNq, kIb};
    return Finish(name, ops, 2, text);
  }
  for (const PackedEntry& packed : Rows(kPacked, kPackedCount)) {
    if (packed.opcode != opcode) continue;
    if (rep_) return false;
    if (packed.xmmOnly && !opsize_) return false;
    bool xmm = opsize_;
    opsize_ = false;
    operandBits_ = 32;
    Op ops[2] = {xmm ? kVx : kPq, xmm ? kWx : kQq};
    return Finish(packed.mnemonic, ops, 2, text);
  }

  // Mandatory prefixes: F2 and F3 take precedence over 66.
  int wanted = rep_ == 0xF2 ? 3 : rep_ == 0xF3 ? 2 : opsize_ ? 1 : 0;
  const Entry0F* found = nullptr;
  const Entry0F* plain = nullptr;
  for (const Entry0F& candidate : Rows(kTwoByte, kTwoByteCount)) {
    if (candidate.opcode != opcode) continue;
    if (candidate.prefix == wanted) found = &candidate;
    if (candidate.prefix == 0) plain = &candidate;
  }
  bool anyPrefixed = false;
  for (const Entry0F& candidate : Rows(kTwoByte, kTwoByteCount))
    if (candidate.opcode == opcode && candidate.prefix != 0) anyPrefixed = true;
  if (!found) {
    // Without a prefixed form, 66 is the operand size; F2/F3 do not fit.
    if (!plain || rep_) return false;
    found = plain;
  } else if (wanted == 1) {
    opsize_ = false;
  } else if (wanted >= 2) {
    rep_ = 0;
  }
  if (anyPrefixed) operandBits_ = (rex_ & 8) ? 64 : 32;
  const Entry& entry = found->entry;
  if (long_ && (entry.flags & kI64)) return false;
  if (!long_ && (entry.flags & kO64)) return false;
  if (long_ && (entry.flags & kD64) && !(rex_ & 8)) operandBits_ = opsize_ ? 16 : 64;

  std::string mnemonic = PickMnemonic(entry.mnemonic);
  Op ops[3] = {entry.a, entry.b, entry.c};
  // Register forms of the low/high moves are different instructions.
  if ((opcode == 0x12 || opcode == 0x16) && wanted == 0) {
    if (!ReadModrm()) return false;
    if (mod_ == 3) {
      mnemonic = opcode == 0x12 ? "movhlps" : "movlhps";
      ops[1] = kUx;
    }
  }
  if (opcode == 0xC4) {
    if (!ReadModrm()) return false;
    ops[1] = mod_ == 3 ? kEd : kEw;
  }
  return Finish(mnemonic, ops, 3, text);
}

bool Decoder::DecodeX87(std::uint8_t opcode, std::string& text) {
  if (!ReadModrm()) return false;
  int row = opcode - 0xD8;
  int sub = reg_ & 7;
  if (rep_) return false;
  if (mod_ != 3) {
    struct MemoryForm {
      const char* name;
      int bits;  // 0: no size keyword
    };
    static const MemoryForm kForms[8][8] = {
        {{"fadd", 32}, {"fmul", 32}, {"fcom", 32}, {"fcomp", 32}, {"fsub", 32}, {"fsubr", 32}, {"fdiv", 32}, {"fdivr", 32}},
        {{"fld", 32}, {nullptr, 0}, {"fst", 32}, {"fstp", 32}, {"fldenv", 0}, {"fldcw", 16}, {"fnstenv", 0}, {"fnstcw", 16}},
        {{"fiadd", 32}, {"fimul", 32}, {"ficom", 32}, {"ficomp", 32}, {"fisub", 32}, {"fisubr", 32}, {"fidiv", 32}, {"fidivr", 32}},
        {{"fild", 32}, {"fisttp", 32}, {"fist", 32}, {"fistp", 32}, {nullptr, 0}, {"fld", 80}, {nullptr, 0}, {"fstp", 80}},
        {{"fadd", 64}, {"fmul", 64}, {"fcom", 64}, {"fcomp", 64}, {"fsub", 64}, {"fsubr", 64}, {"fdiv", 64}, {"fdivr", 64}},
        {{"fld", 64}, {"fisttp", 64}, {"fst", 64}, {"fstp", 64}, {"frstor", 0}, {nullptr, 0}, {"fnsave", 0}, {"fnstsw", 16}},
        {{"fiadd", 16}, {"fimul", 16}, {"ficom", 16}, {"ficomp", 16}, {"fisub", 16}, {"fisubr", 16}, {"fidiv", 16}, {"fidivr", 16}},
        {{"fild", 16}, {"fisttp", 16}, {"fist", 16}, {"fistp", 16}, {"fbld", 80}, {"fild", 64}, {"fbstp", 80}, {"fistp", 64}},
    };
    const MemoryForm& form = kForms[row][sub];
    if (!form.name) return false;
    return Finish(form.name, nullptr, 0, text, Memory(form.bits ? SizeName(form.bits) : nullptr));
  }

  int i = rm_ & 7;
  std::string st = "st(" + std::to_string(i) + ")";
  std::string name;
  std::string operands;
  auto pair = [&](const char* n, bool toSt0) {
    name = n;
    operands = toSt0 ? "st, " + st : st + ", st";
  };
  auto single = [&](const char* n) {
    name = n;
    operands = st;
  };
  switch (row) {
    case 0: {
      static const char* const kOps[] = {"fadd", "fmul", "fcom", "fcomp", "fsub", "fsubr", "fdiv", "fdivr"};
      if (sub == 2 || sub == 3)
        single(kOps[sub]);
      else
        pair(kOps[sub], true);
      break;
    }
    case 1: {
      if (sub == 0) { single("fld"); break; }
      if (sub == 1) { single("fxch"); break; }
      if (sub == 2 && i == 0) { name = "fnop"; break; }
      static const char* const kNoOperand[4][8] = {
          {"fchs", "fabs", nullptr, nullptr, "ftst", "fxam", nullptr, nullptr},
          {"fld1", "fldl2t", "fldl2e", "fldpi", "fldlg2", "fldln2", "fldz", nullptr},
          {"f2xm1", "fyl2x", "fptan", "fpatan", "fxtract", "fprem1", "fdecstp", "fincstp"},
          {"fprem", "fyl2xp1", "fsqrt", "fsincos", "frndint", "fscale", "fsin", "fcos"},
      };
      if (sub < 4 || !kNoOperand[sub - 4][i]) return false;
      name = kNoOperand[sub - 4][i];
      break;
    }
    case 2: {
      static const char* const kMoves[] = {"fcmovb", "fcmove", "fcmovbe", "fcmovu"};
      if (sub < 4) { pair(kMoves[sub], true); break; }
      if (sub == 5 && i == 1) { name = "fucompp"; break; }
      return false;
    }
    case 3: {
      static const char* const kMoves[] = {"fcmovnb", "fcmovne", "fcmovnbe", "fcmovnu"};
      if (sub < 4) { pair(kMoves[sub], true); break; }
      if (sub == 4 && i == 2) { name = "fnclex"; break; }
      if (sub == 4 && i == 3) { name = "fninit"; break; }
      if (sub == 5) { pair("fucomi", true); break; }
      if (sub == 6) { pair("fcomi", true); break; }
      return false;
    }
    case 4: {
      static const char* const kOps[] = {"fadd", "fmul", nullptr, nullptr, "fsubr", "fsub", "fdivr", "fdiv"};
      if (!kOps[sub]) return false;
      pair(kOps[sub], false);
      break;
    }
    case 5: {
      static const char* const kOps[] = {"ffree", nullptr, "fst", "fstp", "fucom", "fucomp", nullptr, nullptr};
      if (!kOps[sub]) return false;
      single(kOps[sub]);
      break;
    }
    case 6: {
      if (sub == 3) {
        if (i != 1) return false;
        name = "fcompp";
        break;
      }
      static const char* const kOps[] = {"faddp", "fmulp", nullptr, nullptr, "fsubrp", "fsubp", "fdivrp", "fdivp"};
      if (!kOps[sub]) return false;
      pair(kOps[sub], false);
      break;
    }
    case 7: {
      if (sub == 4 && i == 0) { name = "fnstsw"; operands = "ax"; break; }
      if (sub == 5) { pair("fucomip", true); break; }
      if (sub == 6) { pair("fcomip", true); break; }
      return false;
    }
  }
  return Finish(name, nullptr, 0, text, operands);
}

}  // namespace

DecodedInstruction DecodeInstruction(const std::uint8_t* code, std::size_t available,
                                     std::uint64_t address, CpuMode mode) {
  DecodedInstruction result;
  if (available == 0 || !code) return result;
  Decoder decoder(code, available, address, mode);
  std::string text;
  if (decoder.Run(text)) {
    result.length = decoder.Length();
    result.valid = true;
    result.text = std::move(text);
    return result;
  }
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "db 0x%02x", code[0]);
  result.length = 1;
  result.text = buffer;
  return result;
}
