// Stack walks of the own process. A walk allocates nothing and reads memory
// only through ReadProcessMemory or from the walked thread's own stack
// range, because it runs while another thread is suspended (which may hold
// the heap's lock) and on stacks that may be damaged.
#include <algorithm>
#include <cstring>
#include <utility>

#include "crash/collect/CollectInternal.h"
#include "crash/disasm/SymbolResource.h"

bool ReadOwnMemory(std::uintptr_t address, void* buffer, std::size_t size) {
  SIZE_T read = 0;
  return ::ReadProcessMemory(::GetCurrentProcess(), reinterpret_cast<const void*>(address), buffer, size, &read) &&
         read == size;
}

bool StackRangeOf(std::uintptr_t address, std::uintptr_t* low, std::uintptr_t* high) {
  MEMORY_BASIC_INFORMATION mbi;
  if (address == 0 || ::VirtualQuery(reinterpret_cast<void*>(address), &mbi, sizeof mbi) != sizeof mbi ||
      mbi.State != MEM_COMMIT)
    return false;
  // The stack is one reservation: its guard and uncommitted part lie below,
  // the committed part up to the base above.
  void* const reservation = mbi.AllocationBase;
  std::uintptr_t top = reinterpret_cast<std::uintptr_t>(mbi.BaseAddress) + mbi.RegionSize;
  while (::VirtualQuery(reinterpret_cast<void*>(top), &mbi, sizeof mbi) == sizeof mbi &&
         mbi.AllocationBase == reservation && mbi.RegionSize > 0)
    top = reinterpret_cast<std::uintptr_t>(mbi.BaseAddress) + mbi.RegionSize;
  *low = reinterpret_cast<std::uintptr_t>(reservation);
  *high = top;
  return true;
}

bool PointsIntoCode(std::uintptr_t address) {
  MEMORY_BASIC_INFORMATION mbi;
  if (!address || ::VirtualQuery(reinterpret_cast<void*>(address), &mbi, sizeof mbi) != sizeof mbi) return false;
  return mbi.State == MEM_COMMIT &&
         (mbi.Protect & (PAGE_EXECUTE | PAGE_EXECUTE_READ | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY)) &&
         !(mbi.Protect & PAGE_GUARD);
}

std::uintptr_t CallSiteOf(std::uintptr_t returnAddress) {
  unsigned char code[7];
  if (returnAddress < sizeof code || !PointsIntoCode(returnAddress - sizeof code) ||
      !ReadOwnMemory(returnAddress - sizeof code, code, sizeof code))
    return 0;
  if (code[2] == 0xE8) return returnAddress - 5;  // call rel32
  // FF /2 through a register or memory operand: 2, 3, 4, 6 or 7 bytes.
  for (int length : {2, 3, 4, 6, 7}) {
    const unsigned char* at = code + sizeof code - length;
    if (at[0] == 0xFF && ((at[1] >> 3) & 7) == 2) return returnAddress - length;
  }
  return 0;
}

namespace {

void Push(RawStack& stack, std::uintptr_t address) {
  if (stack.count < RawStack::kMaxFrames) stack.frames[stack.count++] = address;
}

}  // namespace

#if defined(_M_X64) || defined(__x86_64__)

std::uint64_t InstructionPointerOf(const CONTEXT& context) { return context.Rip; }

namespace {

// The unwind codes of x64 function tables (the platform's documented
// UNWIND_INFO layout; the headers do not declare it).
enum UnwindOp : unsigned {
  kPushNonvol = 0,
  kAllocLarge = 1,
  kAllocSmall = 2,
  kSetFpreg = 3,
  kSaveNonvol = 4,
  kSaveNonvolFar = 5,
  kSaveXmm128 = 8,
  kSaveXmm128Far = 9,
  kPushMachframe = 10,
};

unsigned UnwindSlots(unsigned op, unsigned info) {
  switch (op) {
    case kAllocLarge: return info ? 3 : 2;
    case kSaveNonvol: case kSaveXmm128: case 6: return 2;
    case kSaveNonvolFar: case kSaveXmm128Far: case 7: return 3;
    default: return 1;
  }
}

DWORD64 RegisterValue(const CONTEXT& context, unsigned reg) {
  const DWORD64 regs[16] = {context.Rax, context.Rcx, context.Rdx, context.Rbx, context.Rsp, context.Rbp,
                            context.Rsi, context.Rdi, context.R8,  context.R9,  context.R10, context.R11,
                            context.R12, context.R13, context.R14, context.R15};
  return regs[reg & 15];
}

// True when every stack slot that RtlVirtualUnwind reads for this frame
// lies between the stack pointer and the stack's top. The platform's
// unwinder reads through the frame register without a check: a frame
// pointer overwritten by an overflow would fault inside it, on the thread
// that builds the report.
bool UnwindReadsStayOnStack(DWORD64 imageBase, DWORD64 pc, const RUNTIME_FUNCTION* function, const CONTEXT& context,
                            std::uintptr_t high) {
  const DWORD64 bottom = context.Rsp;
  auto onStack = [&](DWORD64 address, DWORD64 size) {
    return address >= bottom && address <= high && size <= high - address && (address & 7) == 0;
  };
  DWORD64 rsp = context.Rsp;
  bool machineFrame = false;
  for (int depth = 0; depth < 32; ++depth) {
    const auto* info = reinterpret_cast<const unsigned char*>(imageBase + function->UnwindData);
    const unsigned version = info[0] & 7, flags = info[0] >> 3;
    if (version != 1 && version != 2) return false;
    const unsigned prologSize = info[1], count = info[2], frameReg = info[3] & 15, frameOffset = info[3] >> 4;
    const auto* codes = reinterpret_cast<const USHORT*>(info + 4);
    const DWORD64 begin = imageBase + function->BeginAddress;
    // Only the prolog steps already taken count while inside the prolog;
    // a chained function's steps all count.
    const DWORD64 prologOffset = depth == 0 && pc >= begin && pc < begin + prologSize ? pc - begin : ~DWORD64(0);
    const DWORD64 frame = frameReg ? RegisterValue(context, frameReg) - frameOffset * 16 : rsp;
    for (unsigned i = 0; i < count;) {
      const unsigned offset = codes[i] & 0xFF, op = (codes[i] >> 8) & 15, opInfo = codes[i] >> 12;
      const unsigned slots = UnwindSlots(op, opInfo);
      if (i + slots > count) return false;
      if (offset <= prologOffset) {
        switch (op) {
          case kPushNonvol:
            if (!onStack(rsp, 8)) return false;
            rsp += 8;
            break;
          case kAllocLarge:
            rsp += opInfo ? (static_cast<DWORD64>(codes[i + 1]) | static_cast<DWORD64>(codes[i + 2]) << 16)
                          : static_cast<DWORD64>(codes[i + 1]) * 8;
            break;
          case kAllocSmall:
            rsp += opInfo * 8 + 8;
            break;
          case kSetFpreg:
            rsp = RegisterValue(context, frameReg) - frameOffset * 16;
            if (!onStack(rsp, 8)) return false;
            break;
          case kSaveNonvol:
            if (!onStack(frame + static_cast<DWORD64>(codes[i + 1]) * 8, 8)) return false;
            break;
          case kSaveNonvolFar:
            if (!onStack(frame + (static_cast<DWORD64>(codes[i + 1]) | static_cast<DWORD64>(codes[i + 2]) << 16), 8))
              return false;
            break;
          case kSaveXmm128:
            if (!onStack(frame + static_cast<DWORD64>(codes[i + 1]) * 16, 16)) return false;
            break;
          case kSaveXmm128Far:
            if (!onStack(frame + (static_cast<DWORD64>(codes[i + 1]) | static_cast<DWORD64>(codes[i + 2]) << 16), 16))
              return false;
            break;
          case kPushMachframe:
            if (!onStack(rsp, opInfo ? 48 : 40)) return false;
            machineFrame = true;
            break;
          default:
            break;
        }
        if (rsp < bottom || rsp > high) return false;
      }
      i += slots;
    }
    if (!(flags & UNW_FLAG_CHAININFO)) break;
    function = reinterpret_cast<const RUNTIME_FUNCTION*>(codes + ((count + 1) & ~1u));
    if (depth == 31) return false;
  }
  return machineFrame || onStack(rsp, 8);
}

}  // namespace

// The unwind tables of every module (MinGW's x86_64 code has them too) say
// how each frame was built; code without a table is a leaf whose return
// address sits at the stack pointer.
void WalkStack(const CONTEXT& start, RawStack& stack, bool atReturnAddress) {
  stack.count = 0;
  CONTEXT context = start;
  std::uintptr_t low = 0, high = 0;
  if (!StackRangeOf(context.Rsp, &low, &high)) {
    if (context.Rip) Push(stack, context.Rip);
    return;
  }
  bool calling = atReturnAddress;
  while (stack.count < RawStack::kMaxFrames) {
    if (context.Rip == 0 || context.Rsp < low || context.Rsp >= high || (context.Rsp & 7) != 0) break;
    Push(stack, context.Rip);
    const std::uint64_t previousSp = context.Rsp;
    const std::uint64_t previousIp = context.Rip;
    // A return address may lie just past its function (a call to a function
    // that does not return): look up the call instruction instead.
    const DWORD64 pc = calling ? context.Rip - 1 : context.Rip;
    DWORD64 imageBase = 0;
    PRUNTIME_FUNCTION function = ::RtlLookupFunctionEntry(pc, &imageBase, nullptr);
    if (function) {
      // A damaged frame ends the walk with the frames read so far.
      if (!UnwindReadsStayOnStack(imageBase, pc, function, context, high)) break;
      void* handlerData = nullptr;
      DWORD64 establisher = 0;
      ::RtlVirtualUnwind(UNW_FLAG_NHANDLER, imageBase, pc, function, &context, &handlerData, &establisher, nullptr);
    } else {
      std::uintptr_t returnAddress = 0;
      if (!ReadOwnMemory(context.Rsp, &returnAddress, sizeof returnAddress)) break;
      context.Rip = returnAddress;
      context.Rsp += 8;
    }
    // Every frame lies above the one it called; anything else is a damaged
    // stack or the end of the walk.
    if (context.Rsp < previousSp || (context.Rsp == previousSp && context.Rip == previousIp)) break;
    calling = true;
  }
}

#else

std::uint64_t InstructionPointerOf(const CONTEXT& context) { return context.Eip; }

// Frame pointers: every frame of our code starts with push ebp / mov ebp,
// esp, so [ebp] is the caller's frame and [ebp+4] the return address.
void WalkStack(const CONTEXT& start, RawStack& stack, bool) {
  stack.count = 0;
  if (start.Eip) Push(stack, start.Eip);
  std::uintptr_t low = 0, high = 0;
  if (!StackRangeOf(start.Esp, &low, &high) && !StackRangeOf(start.Ebp, &low, &high)) return;
  // Stopped before its frame was built (a frameless leaf, a call through a
  // bad pointer, a system call stub): the caller's return address is on top
  // of the stack, not in the frame chain.
  std::uintptr_t top = 0, chained[2] = {0, 0};
  // Only a code address can be one: stack and heap values are skipped.
  if (start.Esp >= low && start.Esp + 4 <= high && ReadOwnMemory(start.Esp, &top, sizeof top) && top != 0 &&
      top != start.Eip && PointsIntoCode(top) && CallSiteOf(top) != 0) {
    const bool chainReadable = start.Ebp >= low && start.Ebp + 8 <= high && ReadOwnMemory(start.Ebp, chained, sizeof chained);
    if (!chainReadable || chained[1] != top) Push(stack, top);
  }
  std::uintptr_t frame = start.Ebp;
  while (stack.count < RawStack::kMaxFrames) {
    if (frame == 0 || frame < low || frame + 8 > high || (frame & 3) != 0) break;
    std::uintptr_t pair[2];
    if (!ReadOwnMemory(frame, pair, sizeof pair)) break;
    if (pair[1] == 0) break;
    Push(stack, pair[1]);
    if (pair[0] <= frame) break;
    frame = pair[0];
  }
}

#endif

bool WalkOtherThread(std::uint32_t threadId, RawStack& stack) {
  stack.count = 0;
  HANDLE opened = ::OpenThread(THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT | THREAD_QUERY_INFORMATION, FALSE, threadId);
  if (!opened) return false;
  ScopedKernelHandle thread(opened);
  if (::SuspendThread(opened) == static_cast<DWORD>(-1)) return false;
  // From here to ResumeThread: no allocation, no lock of ours.
  CONTEXT context;
  std::memset(&context, 0, sizeof context);
  context.ContextFlags = CONTEXT_CONTROL | CONTEXT_INTEGER;
  const bool ok = ::GetThreadContext(opened, &context) != FALSE;
  if (ok) WalkStack(context, stack);
  ::ResumeThread(opened);
  return ok;
}

__attribute__((noinline)) void WalkCurrentThread(RawStack& stack) {
  CONTEXT context;
  std::memset(&context, 0, sizeof context);
  ::RtlCaptureContext(&context);
  WalkStack(context, stack);
}

bool ContextFromBytes(const std::vector<unsigned char>& bytes, CONTEXT* context) {
  if (bytes.size() < sizeof(CONTEXT)) return false;
  std::memcpy(context, bytes.data(), sizeof(CONTEXT));
  return true;
}

namespace {

// The symbol tables of the modules met so far in one symbolization.
class ModuleSymbols {
 public:
  const SymbolTable* For(HMODULE module) {
    if (!module) return nullptr;
    if (module == ::GetModuleHandleW(nullptr)) return &ProgramSymbols();
    for (auto& entry : tables_)
      if (entry.first == module) return &entry.second;
    tables_.emplace_back(module, SymbolTable());
    LoadModuleSymbols(module, tables_.back().second);
    return &tables_.back().second;
  }

 private:
  std::vector<std::pair<HMODULE, SymbolTable>> tables_;
};

}  // namespace

StackFrames SymbolizeStack(const RawStack& stack) {
  StackFrames frames;
  ModuleSymbols symbols;
  std::vector<std::pair<HMODULE, std::string>> names;
  for (std::size_t i = 0; i < stack.count; ++i) {
    StackFrame frame;
    frame.address = stack.frames[i];
    HMODULE module = ModuleOf(reinterpret_cast<const void*>(stack.frames[i]));
    if (module) {
      auto known = std::find_if(names.begin(), names.end(), [&](const auto& n) { return n.first == module; });
      if (known == names.end()) {
        names.emplace_back(module, FileNameOf(Utf8FromWide(ModulePathW(module))));
        known = names.end() - 1;
      }
      frame.module = known->second;
      const auto rva = static_cast<std::uint32_t>(stack.frames[i] - reinterpret_cast<std::uintptr_t>(module));
      frame.module_offset = rva;
      const SymbolTable* table = symbols.For(module);
      if (table && !table->Empty()) {
        // Every frame but the first is a return address: the call lies
        // before it.
        const SymbolInfo info = i == 0 ? table->Lookup(rva) : table->LookupCaller(rva);
        if (info.hasFunction) {
          frame.function = std::string(info.function);
          frame.function_offset = rva - info.functionStart;
        }
        if (info.hasLine) {
          frame.unit = std::string(info.file);
          frame.line = static_cast<int>(info.line);
          if (info.functionLine > 0 && info.line >= info.functionLine)
            frame.line_offset = static_cast<int>(info.line - info.functionLine);
        }
      }
    }
    frames.push_back(std::move(frame));
  }
  return frames;
}
