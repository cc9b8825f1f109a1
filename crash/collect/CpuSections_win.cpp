// The sections read from the fault's processor context: registers, the raw
// stack above the stack pointer, the code around the instruction pointer.
#include <algorithm>

#include "crash/collect/CollectFormat.h"
#include "crash/collect/CollectInternal.h"
#include "crash/disasm/Disassembly.h"
#include "crash/disasm/SymbolResource.h"

namespace {

#if defined(_M_X64) || defined(__x86_64__)
constexpr int kDigits = 16;
constexpr CpuMode kMode = CpuMode::X64;
std::uintptr_t StackPointerOf(const CONTEXT& c) { return c.Rsp; }
#else
constexpr int kDigits = 8;
constexpr CpuMode kMode = CpuMode::X86;
std::uintptr_t StackPointerOf(const CONTEXT& c) { return c.Esp; }
#endif

constexpr std::size_t kStackDumpBytes = 1024;
// Code read before and after the fault when the function start is unknown
// or far away.
constexpr std::uintptr_t kCodeBefore = 2048, kCodeAfter = 256;

}  // namespace

std::string RegistersSection(const CONTEXT& c) {
#if defined(_M_X64) || defined(__x86_64__)
  const std::vector<std::pair<std::string, std::uint64_t>> general = {
      {"RAX", c.Rax}, {"RBX", c.Rbx}, {"RCX", c.Rcx}, {"RDX", c.Rdx}, {"RSI", c.Rsi}, {"RDI", c.Rdi},
      {"RBP", c.Rbp}, {"RSP", c.Rsp}, {"R8", c.R8},   {"R9", c.R9},   {"R10", c.R10}, {"R11", c.R11},
      {"R12", c.R12}, {"R13", c.R13}, {"R14", c.R14}, {"R15", c.R15}, {"RIP", c.Rip}};
#else
  const std::vector<std::pair<std::string, std::uint64_t>> general = {
      {"EAX", c.Eax}, {"EBX", c.Ebx}, {"ECX", c.Ecx}, {"EDX", c.Edx}, {"ESI", c.Esi},
      {"EDI", c.Edi}, {"EBP", c.Ebp}, {"ESP", c.Esp}, {"EIP", c.Eip}};
#endif
  const std::vector<std::pair<std::string, std::uint64_t>> segments = {
      {"CS", c.SegCs}, {"DS", c.SegDs}, {"ES", c.SegEs}, {"FS", c.SegFs}, {"GS", c.SegGs}, {"SS", c.SegSs}};
  std::string text = FormatRegisters(general, kDigits, 4);
  text += "\r\nEFL: " + HexAddress(c.EFlags, 8);
  const std::string flags = FlagNames(c.EFlags);
  if (!flags.empty()) text += "  (" + flags + ")";
  text += "\r\n" + FormatRegisters(segments, 4, 6);
  return text;
}

std::string StackDumpSection(const CONTEXT& context, const std::vector<unsigned char>& copy) {
  const std::uintptr_t sp = StackPointerOf(context);
  if (!copy.empty())
    return FormatStackDump(copy.data(), std::min<std::size_t>(kStackDumpBytes, copy.size()), sp, kDigits);
  std::uintptr_t low = 0, high = 0;
  if (!StackRangeOf(sp, &low, &high) || sp >= high) return std::string();
  const std::size_t size = std::min<std::size_t>(kStackDumpBytes, high - sp);
  std::vector<unsigned char> bytes(size);
  if (!ReadOwnMemory(sp, bytes.data(), size)) return std::string();
  return FormatStackDump(bytes.data(), size, sp, kDigits);
}

namespace {

// The readable range of committed memory around `address`.
bool ReadableRange(std::uintptr_t address, std::uintptr_t* begin, std::uintptr_t* end) {
  MEMORY_BASIC_INFORMATION mbi;
  if (::VirtualQuery(reinterpret_cast<void*>(address), &mbi, sizeof mbi) != sizeof mbi || mbi.State != MEM_COMMIT)
    return false;
  const DWORD readable = PAGE_EXECUTE_READ | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY | PAGE_READONLY |
                         PAGE_READWRITE | PAGE_WRITECOPY;
  if (!(mbi.Protect & readable) || (mbi.Protect & PAGE_GUARD)) return false;
  *begin = reinterpret_cast<std::uintptr_t>(mbi.BaseAddress);
  *end = *begin + mbi.RegionSize;
  return true;
}

}  // namespace

std::string DisassemblySection(std::uint64_t faultAddress, unsigned limit) {
  const auto fault = static_cast<std::uintptr_t>(faultAddress);
  std::uintptr_t regionBegin = 0, regionEnd = 0;
  if (!ReadableRange(fault, &regionBegin, &regionEnd)) return std::string();

  DisassemblyOptions options;
  options.mode = kMode;
  options.limit = limit;
  HMODULE module = ModuleOf(reinterpret_cast<const void*>(fault));
  SymbolTable moduleTable;
  const SymbolTable* table = nullptr;
  if (module == ::GetModuleHandleW(nullptr))
    table = &ProgramSymbols();
  else if (module && LoadModuleSymbols(module, moduleTable))
    table = &moduleTable;
  if (table && !table->Empty()) {
    const SymbolInfo info = table->Lookup(static_cast<std::uint32_t>(fault - reinterpret_cast<std::uintptr_t>(module)));
    if (info.hasFunction) {
      options.functionStart = reinterpret_cast<std::uintptr_t>(module) + info.functionStart;
      options.haveFunctionStart = true;
    }
  }
  std::uintptr_t begin = fault - std::min(fault - regionBegin, kCodeBefore);
  if (options.haveFunctionStart && options.functionStart >= regionBegin && options.functionStart <= fault &&
      fault - options.functionStart <= 64 * 1024)
    begin = static_cast<std::uintptr_t>(options.functionStart);
  const std::uintptr_t end = fault + std::min(regionEnd - fault, kCodeAfter);
  std::vector<std::uint8_t> bytes(end - begin);
  if (bytes.empty() || !ReadOwnMemory(begin, bytes.data(), bytes.size())) return std::string();

  CodeWindow window;
  window.bytes = bytes.data();
  window.size = bytes.size();
  window.address = begin;
  std::string text;
  for (const std::string& line : DisassembleAround(window, fault, options)) {
    if (!text.empty()) text += "\r\n";
    text += line;
  }
  return text;
}
