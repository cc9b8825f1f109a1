// Prints what the embedded symbol table says about a few of this program's
// own addresses; symbols_check.py compares that with addr2line on the
// unstripped file. Run it from the stripped copy: the table must stand alone.
// Line format: "<label> <rva hex> <function>|<file>|<line>|<function line>".
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "crash/disasm/SymbolResource.h"
#include "support/Win32.h"

namespace probe {

std::uintptr_t recordedReturn = 0;

__attribute__((noinline)) int RecordCaller() {
  recordedReturn = reinterpret_cast<std::uintptr_t>(__builtin_return_address(0));
  return static_cast<int>(recordedReturn & 0x7);
}

__attribute__((noinline)) int Alpha(int value) {
  int doubled = value * 2 + std::rand() % 3;
  return doubled ^ 0x55;
}

class Widget {
 public:
  __attribute__((noinline)) static long Make(long seed) { return seed * 31 + std::rand(); }
  __attribute__((noinline)) int Measure(int extra) {
    int base = size_ + extra;
    int caller = RecordCaller();  // probe: call line
    return base * 3 + caller;
  }
  int size_ = 4;
};

template <int N>
__attribute__((noinline)) int Scaled(int value) {
  return value * N + std::rand() % (N + 1);
}

}  // namespace

namespace {

__attribute__((noinline)) unsigned Hidden(unsigned x) { return (x >> 3) + static_cast<unsigned>(std::rand()) * 7; }

void Report(const char* label, const SymbolTable& table, std::uintptr_t address, bool caller) {
  std::uintptr_t base = reinterpret_cast<std::uintptr_t>(::GetModuleHandleA(nullptr));
  std::uint32_t rva = static_cast<std::uint32_t>(address - base);
  SymbolInfo info = caller ? table.LookupCaller(rva) : table.Lookup(rva);
  std::printf("%s %x %.*s|%.*s|%u|%u\n", label, rva, static_cast<int>(info.function.size()),
              info.function.data(), static_cast<int>(info.file.size()), info.file.data(), info.line,
              info.functionLine);
}

template <class F>
std::uintptr_t AddressOf(F* function) {
  return reinterpret_cast<std::uintptr_t>(function);
}

}  // namespace

int main() {
  const SymbolTable& table = ProgramSymbols();
  if (table.Empty()) {
    std::printf("no symbol table\n");
    return 1;
  }
  probe::Widget widget;
  int sum = widget.Measure(std::rand() % 5) + probe::Alpha(3) + static_cast<int>(probe::Widget::Make(2)) +
            probe::Scaled<3>(4) + static_cast<int>(Hidden(9));
  Report("alpha", table, AddressOf(&probe::Alpha), false);
  Report("make", table, AddressOf(&probe::Widget::Make), false);
  Report("scaled", table, AddressOf(&probe::Scaled<3>), false);
  Report("hidden", table, AddressOf(&Hidden), false);
  Report("main", table, AddressOf(&main), false);
  Report("inside", table, AddressOf(&probe::Alpha) + 3, false);
  Report("caller", table, probe::recordedReturn, true);
  // Runtime code is outside the source tree: the table leaves it out.
  Report("runtime", table, AddressOf(&std::rand), false);
  return sum == 12345 ? 2 : 0;
}
