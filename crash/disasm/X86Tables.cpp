#include "crash/disasm/X86Tables.h"

namespace x86 {

#define E0(m) {m, kNone, kNone, kNone, 0, kNoGroup}
#define EF(m, f) {m, kNone, kNone, kNone, f, kNoGroup}
#define E1(m, a) {m, a, kNone, kNone, 0, kNoGroup}
#define E1F(m, a, f) {m, a, kNone, kNone, f, kNoGroup}
#define E2(m, a, b) {m, a, b, kNone, 0, kNoGroup}
#define E2F(m, a, b, f) {m, a, b, kNone, f, kNoGroup}
#define E3(m, a, b, c) {m, a, b, c, 0, kNoGroup}
#define GR(g, a, b, f) {"", a, b, kNone, f, g}
#define XX {nullptr, kNone, kNone, kNone, 0, kNoGroup}
#define ARITH(m) E2(m, kEb, kGb), E2(m, kEv, kGv), E2(m, kGb, kEb), E2(m, kGv, kEv), E2(m, kAL, kIb), E2(m, krAX, kIz)

const Entry kOneByte[256] = {
    // 00
    ARITH("add"), EF("push es", kI64), EF("pop es", kI64),
    ARITH("or"), EF("push cs", kI64), XX,
    // 10
    ARITH("adc"), EF("push ss", kI64), EF("pop ss", kI64),
    ARITH("sbb"), EF("push ds", kI64), EF("pop ds", kI64),
    // 20
    ARITH("and"), XX, EF("daa", kI64),
    ARITH("sub"), XX, EF("das", kI64),
    // 30
    ARITH("xor"), XX, EF("aaa", kI64),
    ARITH("cmp"), XX, EF("aas", kI64),
    // 40 (REX prefixes in 64-bit mode)
    E1F("inc", kZv, kI64), E1F("inc", kZv, kI64), E1F("inc", kZv, kI64), E1F("inc", kZv, kI64),
    E1F("inc", kZv, kI64), E1F("inc", kZv, kI64), E1F("inc", kZv, kI64), E1F("inc", kZv, kI64),
    E1F("dec", kZv, kI64), E1F("dec", kZv, kI64), E1F("dec", kZv, kI64), E1F("dec", kZv, kI64),
    E1F("dec", kZv, kI64), E1F("dec", kZv, kI64), E1F("dec", kZv, kI64), E1F("dec", kZv, kI64),
    // 50
    E1F("push", kZv, kD64), E1F("push", kZv, kD64), E1F("push", kZv, kD64), E1F("push", kZv, kD64),
    E1F("push", kZv, kD64), E1F("push", kZv, kD64), E1F("push", kZv, kD64), E1F("push", kZv, kD64),
    E1F("pop", kZv, kD64), E1F("pop", kZv, kD64), E1F("pop", kZv, kD64), E1F("pop", kZv, kD64),
    E1F("pop", kZv, kD64), E1F("pop", kZv, kD64), E1F("pop", kZv, kD64), E1F("pop", kZv, kD64),
    // 60
    EF("pushaw|pushad", kI64), EF("popaw|popad", kI64), XX, E2F("movsxd", kGv, kEd, kO64),
    XX, XX, XX, XX,
    E1F("push", kIz, kD64), E3("imul", kGv, kEv, kIz), E1F("push", kIbs, kD64), E3("imul", kGv, kEv, kIbs),
    EF("insb", kString), EF("insw|insd|insd", kString), EF("outsb", kString), EF("outsw|outsd|outsd", kString),
    // 70
    E1("jo", kJb), E1("jno", kJb), E1("jb", kJb), E1("jae", kJb),
    E1("je", kJb), E1("jne", kJb), E1("jbe", kJb), E1("ja", kJb),
    E1("js", kJb), E1("jns", kJb), E1("jp", kJb), E1("jnp", kJb),
    E1("jl", kJb), E1("jge", kJb), E1("jle", kJb), E1("jg", kJb),
    // 80
    GR(kG1, kEb, kIb, 0), GR(kG1, kEv, kIz, 0), GR(kG1, kEb, kIb, kI64), GR(kG1, kEv, kIbs, 0),
    E2("test", kEb, kGb), E2("test", kEv, kGv), E2("xchg", kEb, kGb), E2("xchg", kEv, kGv),
    E2("mov", kEb, kGb), E2("mov", kEv, kGv), E2("mov", kGb, kEb), E2("mov", kGv, kEv),
    E2("mov", kEw, kSw), E2("lea", kGv, kM), E2("mov", kSw, kEw), GR(kG1a, kEv, kNone, kD64),
    // 90 (90 itself is special-cased)
    E0("nop"), E2("xchg", kZv, krAX), E2("xchg", kZv, krAX), E2("xchg", kZv, krAX),
    E2("xchg", kZv, krAX), E2("xchg", kZv, krAX), E2("xchg", kZv, krAX), E2("xchg", kZv, krAX),
    E0("cbw|cwde|cdqe"), E0("cwd|cdq|cqo"), XX, E0("fwait"),
    EF("pushfw|pushfd|pushfq", kD64), EF("popfw|popfd|popfq", kD64), E0("sahf"), E0("lahf"),
    // A0
    E2("mov", kAL, kOb), E2("mov", krAX, kOv), E2("mov", kOb, kAL), E2("mov", kOv, krAX),
    EF("movsb", kString), EF("movsw|movsd|movsq", kString), EF("cmpsb", kString), EF("cmpsw|cmpsd|cmpsq", kString),
    E2("test", kAL, kIb), E2("test", krAX, kIz), EF("stosb", kString), EF("stosw|stosd|stosq", kString),
    EF("lodsb", kString), EF("lodsw|lodsd|lodsq", kString), EF("scasb", kString), EF("scasw|scasd|scasq", kString),
    // B0
    E2("mov", kZb, kIb), E2("mov", kZb, kIb), E2("mov", kZb, kIb), E2("mov", kZb, kIb),
    E2("mov", kZb, kIb), E2("mov", kZb, kIb), E2("mov", kZb, kIb), E2("mov", kZb, kIb),
    E2("mov", kZv, kIv), E2("mov", kZv, kIv), E2("mov", kZv, kIv), E2("mov", kZv, kIv),
    E2("mov", kZv, kIv), E2("mov", kZv, kIv), E2("mov", kZv, kIv), E2("mov", kZv, kIv),
    // C0
    GR(kG2, kEb, kIb, 0), GR(kG2, kEv, kIb, 0), E1F("ret", kIw, kD64), EF("ret", kD64),
    XX, XX, GR(kG11b, kEb, kIb, 0), GR(kG11v, kEv, kIz, 0),
    E2F("enter", kIw, kIb, kD64), EF("leave", kD64), E1("retf", kIw), E0("retf"),
    E0("int3"), E1("int", kIb), EF("into", kI64), E0("iretw|iretd|iretq"),
    // D0 (D8..DF: x87, special-cased)
    GR(kG2, kEb, kOne, 0), GR(kG2, kEv, kOne, 0), GR(kG2, kEb, kCL, 0), GR(kG2, kEv, kCL, 0),
    E1F("aam", kIb, kI64), E1F("aad", kIb, kI64), XX, E0("xlatb"),
    XX, XX, XX, XX, XX, XX, XX, XX,
    // E0 (E3 is special-cased)
    E1("loopne", kJb), E1("loope", kJb), E1("loop", kJb), E1("jecxz", kJb),
    E2("in", kAL, kIb), E2("in", keAX, kIb), E2("out", kIb, kAL), E2("out", kIb, keAX),
    E1F("call", kJz, kD64), E1F("jmp", kJz, kD64), XX, E1("jmp", kJb),
    E2("in", kAL, kDX), E2("in", keAX, kDX), E2("out", kDX, kAL), E2("out", kDX, keAX),
    // F0
    XX, E0("int1"), XX, XX, E0("hlt"), E0("cmc"), GR(kG3b, kNone, kNone, 0), GR(kG3v, kNone, kNone, 0),
    E0("clc"), E0("stc"), E0("cli"), E0("sti"), E0("cld"), E0("std"), GR(kG4, kNone, kNone, 0), GR(kG5, kNone, kNone, 0),
};

const Entry kGroups[10][8] = {
    {},  // kNoGroup
    {E0("add"), E0("or"), E0("adc"), E0("sbb"), E0("and"), E0("sub"), E0("xor"), E0("cmp")},
    {E0("pop"), XX, XX, XX, XX, XX, XX, XX},
    {E0("rol"), E0("ror"), E0("rcl"), E0("rcr"), E0("shl"), E0("shr"), E0("sal"), E0("sar")},
    {E2("test", kEb, kIb), E2("test", kEb, kIb), E1("not", kEb), E1("neg", kEb),
     E1("mul", kEb), E1("imul", kEb), E1("div", kEb), E1("idiv", kEb)},
    {E2("test", kEv, kIz), E2("test", kEv, kIz), E1("not", kEv), E1("neg", kEv),
     E1("mul", kEv), E1("imul", kEv), E1("div", kEv), E1("idiv", kEv)},
    {E1("inc", kEb), E1("dec", kEb), XX, XX, XX, XX, XX, XX},
    {E1("inc", kEv), E1("dec", kEv), E1F("call", kEv, kD64), E1("call", kMp),
     E1F("jmp", kEv, kD64), E1("jmp", kMp), E1F("push", kEv, kD64), XX},
    {E0("mov"), XX, XX, XX, XX, XX, XX, XX},
    {E0("mov"), XX, XX, XX, XX, XX, XX, XX},
};

const Entry0F kTwoByte[] = {
    {0x05, 0, EF("syscall", kO64)},
    {0x0B, 0, E0("ud2")},
    {0x10, 0, E2("movups", kVx, kWx)}, {0x10, 1, E2("movupd", kVx, kWx)},
    {0x10, 2, E2("movss", kVx, kWd)}, {0x10, 3, E2("movsd", kVx, kWq)},
    {0x11, 0, E2("movups", kWx, kVx)}, {0x11, 1, E2("movupd", kWx, kVx)},
    {0x11, 2, E2("movss", kWd, kVx)}, {0x11, 3, E2("movsd", kWq, kVx)},
    {0x12, 0, E2("movlps", kVx, kMq)}, {0x12, 1, E2("movlpd", kVx, kMq)},
    {0x12, 2, E2("movsldup", kVx, kWx)}, {0x12, 3, E2("movddup", kVx, kWq)},
    {0x13, 0, E2("movlps", kMq, kVx)}, {0x13, 1, E2("movlpd", kMq, kVx)},
    {0x14, 0, E2("unpcklps", kVx, kWx)}, {0x14, 1, E2("unpcklpd", kVx, kWx)},
    {0x15, 0, E2("unpckhps", kVx, kWx)}, {0x15, 1, E2("unpckhpd", kVx, kWx)},
    {0x16, 0, E2("movhps", kVx, kMq)}, {0x16, 1, E2("movhpd", kVx, kMq)},
    {0x16, 2, E2("movshdup", kVx, kWx)},
    {0x17, 0, E2("movhps", kMq, kVx)}, {0x17, 1, E2("movhpd", kMq, kVx)},
    {0x28, 0, E2("movaps", kVx, kWx)}, {0x28, 1, E2("movapd", kVx, kWx)},
    {0x29, 0, E2("movaps", kWx, kVx)}, {0x29, 1, E2("movapd", kWx, kVx)},
    {0x2A, 0, E2("cvtpi2ps", kVx, kQq)}, {0x2A, 1, E2("cvtpi2pd", kVx, kQq)},
    {0x2A, 2, E2("cvtsi2ss", kVx, kEy)}, {0x2A, 3, E2("cvtsi2sd", kVx, kEy)},
    {0x2B, 0, E2("movntps", kMx, kVx)}, {0x2B, 1, E2("movntpd", kMx, kVx)},
    {0x2C, 0, E2("cvttps2pi", kPq, kWq)}, {0x2C, 1, E2("cvttpd2pi", kPq, kWx)},
    {0x2C, 2, E2("cvttss2si", kGy, kWd)}, {0x2C, 3, E2("cvttsd2si", kGy, kWq)},
    {0x2D, 0, E2("cvtps2pi", kPq, kWq)}, {0x2D, 1, E2("cvtpd2pi", kPq, kWx)},
    {0x2D, 2, E2("cvtss2si", kGy, kWd)}, {0x2D, 3, E2("cvtsd2si", kGy, kWq)},
    {0x2E, 0, E2("ucomiss", kVx, kWd)}, {0x2E, 1, E2("ucomisd", kVx, kWq)},
    {0x2F, 0, E2("comiss", kVx, kWd)}, {0x2F, 1, E2("comisd", kVx, kWq)},
    {0x31, 0, E0("rdtsc")},
    {0x50, 0, E2("movmskps", kGd, kUx)}, {0x50, 1, E2("movmskpd", kGd, kUx)},
    {0x51, 0, E2("sqrtps", kVx, kWx)}, {0x51, 1, E2("sqrtpd", kVx, kWx)},
    {0x51, 2, E2("sqrtss", kVx, kWd)}, {0x51, 3, E2("sqrtsd", kVx, kWq)},
    {0x52, 0, E2("rsqrtps", kVx, kWx)}, {0x52, 2, E2("rsqrtss", kVx, kWd)},
    {0x53, 0, E2("rcpps", kVx, kWx)}, {0x53, 2, E2("rcpss", kVx, kWd)},
    {0x54, 0, E2("andps", kVx, kWx)}, {0x54, 1, E2("andpd", kVx, kWx)},
    {0x55, 0, E2("andnps", kVx, kWx)}, {0x55, 1, E2("andnpd", kVx, kWx)},
    {0x56, 0, E2("orps", kVx, kWx)}, {0x56, 1, E2("orpd", kVx, kWx)},
    {0x57, 0, E2("xorps", kVx, kWx)}, {0x57, 1, E2("xorpd", kVx, kWx)},
    {0x58, 0, E2("addps", kVx, kWx)}, {0x58, 1, E2("addpd", kVx, kWx)},
    {0x58, 2, E2("addss", kVx, kWd)}, {0x58, 3, E2("addsd", kVx, kWq)},
    {0x59, 0, E2("mulps", kVx, kWx)}, {0x59, 1, E2("mulpd", kVx, kWx)},
    {0x59, 2, E2("mulss", kVx, kWd)}, {0x59, 3, E2("mulsd", kVx, kWq)},
    {0x5C, 0, E2("subps", kVx, kWx)}, {0x5C, 1, E2("subpd", kVx, kWx)},
    {0x5C, 2, E2("subss", kVx, kWd)}, {0x5C, 3, E2("subsd", kVx, kWq)},
    {0x5D, 0, E2("minps", kVx, kWx)}, {0x5D, 1, E2("minpd", kVx, kWx)},
    {0x5D, 2, E2("minss", kVx, kWd)}, {0x5D, 3, E2("minsd", kVx, kWq)},
    {0x5E, 0, E2("divps", kVx, kWx)}, {0x5E, 1, E2("divpd", kVx, kWx)},
    {0x5E, 2, E2("divss", kVx, kWd)}, {0x5E, 3, E2("divsd", kVx, kWq)},
    {0x5F, 0, E2("maxps", kVx, kWx)}, {0x5F, 1, E2("maxpd", kVx, kWx)},
    {0x5F, 2, E2("maxss", kVx, kWd)}, {0x5F, 3, E2("maxsd", kVx, kWq)},
    {0x5A, 0, E2("cvtps2pd", kVx, kWq)}, {0x5A, 1, E2("cvtpd2ps", kVx, kWx)},
    {0x5A, 2, E2("cvtss2sd", kVx, kWd)}, {0x5A, 3, E2("cvtsd2ss", kVx, kWq)},
    {0x5B, 0, E2("cvtdq2ps", kVx, kWx)}, {0x5B, 1, E2("cvtps2dq", kVx, kWx)},
    {0x5B, 2, E2("cvttps2dq", kVx, kWx)},
    {0x6E, 0, E2("movd|movd|movq", kPq, kEy)}, {0x6E, 1, E2("movd|movd|movq", kVx, kEy)},
    {0x6F, 0, E2("movq", kPq, kQq)}, {0x6F, 1, E2("movdqa", kVx, kWx)}, {0x6F, 2, E2("movdqu", kVx, kWx)},
    {0x70, 0, E3("pshufw", kPq, kQq, kIb)}, {0x70, 1, E3("pshufd", kVx, kWx, kIb)},
    {0x70, 2, E3("pshufhw", kVx, kWx, kIb)}, {0x70, 3, E3("pshuflw", kVx, kWx, kIb)},
    {0x77, 0, E0("emms")},
    {0x7E, 0, E2("movd|movd|movq", kEy, kPq)}, {0x7E, 1, E2("movd|movd|movq", kEy, kVx)},
    {0x7E, 2, E2("movq", kVx, kWq)},
    {0x7F, 0, E2("movq", kQq, kPq)}, {0x7F, 1, E2("movdqa", kWx, kVx)}, {0x7F, 2, E2("movdqu", kWx, kVx)},
    {0xA0, 0, EF("push fs", kD64)}, {0xA1, 0, EF("pop fs", kD64)},
    {0xA2, 0, E0("cpuid")},
    {0xA3, 0, E2("bt", kEv, kGv)},
    {0xA4, 0, E3("shld", kEv, kGv, kIb)}, {0xA5, 0, E3("shld", kEv, kGv, kCL)},
    {0xA8, 0, EF("push gs", kD64)}, {0xA9, 0, EF("pop gs", kD64)},
    {0xAB, 0, E2("bts", kEv, kGv)},
    {0xAC, 0, E3("shrd", kEv, kGv, kIb)}, {0xAD, 0, E3("shrd", kEv, kGv, kCL)},
    {0xAF, 0, E2("imul", kGv, kEv)},
    {0xB0, 0, E2("cmpxchg", kEb, kGb)}, {0xB1, 0, E2("cmpxchg", kEv, kGv)},
    {0xB3, 0, E2("btr", kEv, kGv)},
    {0xB6, 0, E2("movzx", kGv, kEb)}, {0xB7, 0, E2("movzx", kGv, kEw)},
    {0xBB, 0, E2("btc", kEv, kGv)},
    {0xBC, 0, E2("bsf", kGv, kEv)}, {0xBC, 2, E2("tzcnt", kGv, kEv)},
    {0xBD, 0, E2("bsr", kGv, kEv)}, {0xBD, 2, E2("lzcnt", kGv, kEv)},
    {0xB8, 2, E2("popcnt", kGv, kEv)},
    {0xBE, 0, E2("movsx", kGv, kEb)}, {0xBF, 0, E2("movsx", kGv, kEw)},
    {0xC0, 0, E2("xadd", kEb, kGb)}, {0xC1, 0, E2("xadd", kEv, kGv)},
    {0xC2, 0, E3("cmpps", kVx, kWx, kIb)}, {0xC2, 1, E3("cmppd", kVx, kWx, kIb)},
    {0xC2, 2, E3("cmpss", kVx, kWd, kIb)}, {0xC2, 3, E3("cmpsd", kVx, kWq, kIb)},
    {0xC3, 0, E2("movnti", kEy, kGy)},
    {0xC4, 1, E3("pinsrw", kVx, kEd, kIb)}, {0xC5, 1, E3("pextrw", kGd, kUx, kIb)},
    {0xC6, 0, E3("shufps", kVx, kWx, kIb)}, {0xC6, 1, E3("shufpd", kVx, kWx, kIb)},
    {0xD6, 1, E2("movq", kWq, kVx)},
    {0xD7, 1, E2("pmovmskb", kGd, kUx)},
    {0xE6, 1, E2("cvttpd2dq", kVx, kWx)}, {0xE6, 2, E2("cvtdq2pd", kVx, kWq)},
    {0xE6, 3, E2("cvtpd2dq", kVx, kWx)},
    {0xE7, 0, E2("movntq", kMq, kPq)}, {0xE7, 1, E2("movntdq", kMx, kVx)},
};
const std::size_t kTwoByteCount = sizeof kTwoByte / sizeof kTwoByte[0];

const PackedEntry kPacked[] = {
    {0x60, "punpcklbw", false}, {0x61, "punpcklwd", false}, {0x62, "punpckldq", false},
    {0x63, "packsswb", false}, {0x64, "pcmpgtb", false}, {0x65, "pcmpgtw", false},
    {0x66, "pcmpgtd", false}, {0x67, "packuswb", false}, {0x68, "punpckhbw", false},
    {0x69, "punpckhwd", false}, {0x6A, "punpckhdq", false}, {0x6B, "packssdw", false},
    {0x6C, "punpcklqdq", true}, {0x6D, "punpckhqdq", true},
    {0x74, "pcmpeqb", false}, {0x75, "pcmpeqw", false}, {0x76, "pcmpeqd", false},
    {0xD1, "psrlw", false}, {0xD2, "psrld", false}, {0xD3, "psrlq", false},
    {0xD4, "paddq", false}, {0xD5, "pmullw", false}, {0xD8, "psubusb", false},
    {0xD9, "psubusw", false}, {0xDA, "pminub", false}, {0xDB, "pand", false},
    {0xDC, "paddusb", false}, {0xDD, "paddusw", false}, {0xDE, "pmaxub", false},
    {0xDF, "pandn", false}, {0xE0, "pavgb", false}, {0xE1, "psraw", false},
    {0xE2, "psrad", false}, {0xE3, "pavgw", false}, {0xE4, "pmulhuw", false},
    {0xE5, "pmulhw", false}, {0xE8, "psubsb", false}, {0xE9, "psubsw", false},
    {0xEA, "pminsw", false}, {0xEB, "por", false}, {0xEC, "paddsb", false},
    {0xED, "paddsw", false}, {0xEE, "pmaxsw", false}, {0xEF, "pxor", false},
    {0xF1, "psllw", false}, {0xF2, "pslld", false}, {0xF3, "psllq", false},
    {0xF4, "pmuludq", false}, {0xF5, "pmaddwd", false}, {0xF6, "psadbw", false},
    {0xF8, "psubb", false}, {0xF9, "psubw", false}, {0xFA, "psubd", false},
    {0xFB, "psubq", false}, {0xFC, "paddb", false}, {0xFD, "paddw", false},
    {0xFE, "paddd", false},
};
const std::size_t kPackedCount = sizeof kPacked / sizeof kPacked[0];

const char* const kConditions[16] = {"o", "no", "b", "ae", "e", "ne", "be", "a",
                                     "s", "ns", "p", "np", "l", "ge", "le", "g"};

const char* const kReg8[] = {"al", "cl", "dl", "bl", "ah", "ch", "dh", "bh"};
const char* const kReg8Rex[] = {"al", "cl", "dl", "bl", "spl", "bpl", "sil", "dil",
                                "r8b", "r9b", "r10b", "r11b", "r12b", "r13b", "r14b", "r15b"};
const char* const kReg16[] = {"ax", "cx", "dx", "bx", "sp", "bp", "si", "di",
                              "r8w", "r9w", "r10w", "r11w", "r12w", "r13w", "r14w", "r15w"};
const char* const kReg32[] = {"eax", "ecx", "edx", "ebx", "esp", "ebp", "esi", "edi",
                              "r8d", "r9d", "r10d", "r11d", "r12d", "r13d", "r14d", "r15d"};
const char* const kReg64[] = {"rax", "rcx", "rdx", "rbx", "rsp", "rbp", "rsi", "rdi",
                              "r8", "r9", "r10", "r11", "r12", "r13", "r14", "r15"};
const char* const kSegments[] = {"es", "cs", "ss", "ds", "fs", "gs"};

}  // namespace x86
