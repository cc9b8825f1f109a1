// Hardware faults inside a guarded body (a message handler, a thread body)
// are turned into C++ exceptions thrown at the fault, so that every frame
// between the fault and the guard unwinds as for any other exception.
//
// A vectored handler sees the fault first. When the thread is inside a guard
// and the fault lies in our own code (compiled with -fnon-call-exceptions, so
// its unwind tables cover faulting instructions), the handler stores the
// record and context in a per-thread slot and resumes the thread at a thunk
// that makes the fault look like a call: it pushes the fault address + 1 as
// a return address (the unwinders subtract one from a return address, which
// lands on the faulting instruction itself) and calls the function that
// throws. The stack is written only after the dispatcher has returned: while
// it runs, the memory below the faulting stack pointer is its own.
//
// Whatever cannot be redirected this way goes on to the unhandled-exception
// filter and is reported as an exception that cannot continue. An exception
// that still fails to unwind (a foreign frame in between on the 32-bit build)
// ends in std::terminate, which is reported the same way.
#include <float.h>

#include <algorithm>
#include <atomic>
#include <cstring>

#include "crash/collect/ThrowFrames.h"
#include "crash/handler/HandlerInternal.h"
#include "crash/handler/HardwareFaults.h"
#include "crash/report/PathText.h"
#include "toolkit/Guard.h"

extern "C" void qex_fault_entry();
extern "C" [[noreturn]] void qex_throw_pending_fault();

#if defined(__x86_64__)
asm(R"(
    .text
    .p2align 4
    .globl qex_fault_entry
qex_fault_entry:
    pushq %rax
    .def qex_fault_thunk; .scl 3; .type 32; .endef
    .seh_proc qex_fault_thunk
qex_fault_thunk:
    pushq %rbp
    .seh_pushreg %rbp
    movq %rsp, %rbp
    .seh_setframe %rbp, 0
    .seh_endprologue
    andq $-16, %rsp
    subq $32, %rsp
    call qex_throw_pending_fault
    int3
    .seh_endproc
)");
#elif defined(__i386__)
asm(R"(
    .text
    .p2align 4
    .globl _qex_fault_entry
_qex_fault_entry:
    pushl %eax
_qex_fault_thunk:
    .cfi_startproc
    pushl %ebp
    .cfi_def_cfa_offset 8
    .cfi_offset %ebp, -8
    movl %esp, %ebp
    .cfi_def_cfa_register %ebp
    andl $-16, %esp
    call _qex_throw_pending_fault
    int3
    .cfi_endproc
)");
#else
#error "fault redirection is written for x86 and x86_64"
#endif

namespace {

// As much as the report's stack dump shows.
constexpr std::size_t kStackCopyBytes = 1024;

struct alignas(16) PendingFault {
  CONTEXT context;
  EXCEPTION_RECORD record;
  unsigned char stack[kStackCopyBytes];
  std::size_t stackSize;
  std::atomic<DWORD> owner;  // thread id, 0 when free
};
// Taken and freed inside the fault handler: no lock, no allocation.
static_assert(std::atomic<DWORD>::is_always_lock_free, "fault slots are claimed on the crash path");

// Faults are rare and each slot is freed by the thunk at once; threads that
// fault while all are taken are not redirected.
PendingFault g_pending[8];

ULONG_PTR g_imageStart = 0;
ULONG_PTR g_imageEnd = 0;

void FindOwnImage() {
  auto* base = reinterpret_cast<const unsigned char*>(GetModuleHandleA(nullptr));
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  g_imageStart = reinterpret_cast<ULONG_PTR>(base);
  g_imageEnd = g_imageStart + nt->OptionalHeader.SizeOfImage;
}

bool IsFloatCode(DWORD code) { return code >= 0xC000008D && code <= 0xC0000093; }

#if defined(__x86_64__)
// The x64 unwinders decide from the code bytes at a return address whether
// it lies in an epilogue (add/lea rsp, pops, then ret or jmp). The fake
// return address points into the middle of the faulting instruction, so when
// the bytes there could read as an epilogue the fault is not redirected.
bool MayReadAsEpilogue(const unsigned char* p) {
  if ((p[0] & 0xF8) == 0x48 && (p[1] == 0x81 || p[1] == 0x83 || p[1] == 0x8D)) return true;
  for (int i = 0; i < 16; ++i) {
    const unsigned char* q = p;
    if ((*q & 0xF0) == 0x40) ++q;
    if (*q >= 0x58 && *q <= 0x5F) {
      p = q + 1;
      continue;
    }
    break;
  }
  if ((*p & 0xF0) == 0x40) ++p;
  return *p == 0xC3 || *p == 0xC2 || *p == 0xE9 || *p == 0xEB || *p == 0xFF || *p == 0xF3;
}
#endif

LONG CALLBACK FaultHandler(EXCEPTION_POINTERS* info) {
  const EXCEPTION_RECORD* record = info->ExceptionRecord;
  CONTEXT* context = info->ContextRecord;
  if (!IsRecoverableFaultCode(record->ExceptionCode)) return EXCEPTION_CONTINUE_SEARCH;
  if (record->ExceptionFlags & EXCEPTION_NONCONTINUABLE) return EXCEPTION_CONTINUE_SEARCH;
  if (!CurrentFaultGuard()) return EXCEPTION_CONTINUE_SEARCH;
#if defined(__x86_64__)
  const ULONG_PTR pc = context->Rip;
#else
  const ULONG_PTR pc = context->Eip;
#endif
  // Only our own code: the platform's DLLs catch some faults themselves, and
  // only our code has unwind tables that cover a faulting instruction.
  if (pc < g_imageStart || pc + 16 > g_imageEnd) return EXCEPTION_CONTINUE_SEARCH;
#if defined(__x86_64__)
  if (MayReadAsEpilogue(reinterpret_cast<const unsigned char*>(pc + 1))) return EXCEPTION_CONTINUE_SEARCH;
#endif
  const DWORD me = GetCurrentThreadId();
  PendingFault* slot = nullptr;
  for (PendingFault& candidate : g_pending) {
    DWORD free = 0;
    if (candidate.owner.compare_exchange_strong(free, me)) {
      slot = &candidate;
      break;
    }
  }
  if (!slot) return EXCEPTION_CONTINUE_SEARCH;
  std::memcpy(&slot->context, context, sizeof(CONTEXT));
  std::memcpy(&slot->record, record, sizeof(EXCEPTION_RECORD));
  slot->record.ExceptionRecord = nullptr;
  // The stack above the faulting stack pointer is intact while the
  // dispatcher runs below it; the thunk's throw reuses it right after.
#if defined(__x86_64__)
  const ULONG_PTR sp = context->Rsp;
#else
  const ULONG_PTR sp = context->Esp;
#endif
  // The committed range holding the stack pointer ends at most at the
  // stack's base.
  MEMORY_BASIC_INFORMATION range = {};
  ULONG_PTR top = 0;
  if (VirtualQuery(reinterpret_cast<const void*>(sp), &range, sizeof range) == sizeof range &&
      range.State == MEM_COMMIT)
    top = reinterpret_cast<ULONG_PTR>(range.BaseAddress) + range.RegionSize;
  slot->stackSize = sp < top ? std::min<ULONG_PTR>(kStackCopyBytes, top - sp) : 0;
  std::memcpy(slot->stack, reinterpret_cast<const void*>(sp), slot->stackSize);
  // Volatile registers are free: the faulting frame is never resumed.
#if defined(__x86_64__)
  context->Rax = pc + 1;
  context->Rip = reinterpret_cast<DWORD64>(&qex_fault_entry);
#else
  context->Eax = pc + 1;
  context->Eip = reinterpret_cast<DWORD>(&qex_fault_entry);
#endif
  context->EFlags &= ~0x400u;  // direction flag clear, as at any call
  return EXCEPTION_CONTINUE_EXECUTION;
}

}  // namespace

bool IsInOwnImage(const void* address) {
  const auto a = reinterpret_cast<ULONG_PTR>(address);
  return a >= g_imageStart && a < g_imageEnd;
}

std::string ModuleFileNameOf(const void* address) {
  HMODULE module = nullptr;
  if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          static_cast<const char*>(address), &module))
    return std::string();
  char path[MAX_PATH + 1] = {};
  const DWORD length = GetModuleFileNameA(module, path, MAX_PATH);
  return FileNameOf(std::string(path, length));
}

void InstallFaultRedirection() {
  FindOwnImage();
  AddVectoredExceptionHandler(1, &FaultHandler);
}

extern "C" [[noreturn]] void qex_throw_pending_fault() {
  const DWORD me = GetCurrentThreadId();
  PendingFault* slot = nullptr;
  for (PendingFault& candidate : g_pending)
    if (candidate.owner.load() == me) slot = &candidate;
  if (!slot) std::terminate();

  FaultRecord fault;
  fault.code = slot->record.ExceptionCode;
  fault.address = reinterpret_cast<ULONG_PTR>(slot->record.ExceptionAddress);
  fault.pointer_digits = static_cast<int>(sizeof(void*) * 2);
  if (fault.code == fault_code::kAccessViolation && slot->record.NumberParameters >= 2) {
    fault.has_access = true;
    fault.access = static_cast<std::uint32_t>(slot->record.ExceptionInformation[0]);
    fault.target = slot->record.ExceptionInformation[1];
  }
  auto context = std::make_shared<std::vector<unsigned char>>(
      reinterpret_cast<const unsigned char*>(&slot->context),
      reinterpret_cast<const unsigned char*>(&slot->context) + sizeof(CONTEXT));
  fault.stack.assign(slot->stack, slot->stack + slot->stackSize);
  slot->owner.store(0);
  if (IsFloatCode(fault.code)) {
    _clearfp();
    _fpreset();
  }
  fault.module = ModuleFileNameOf(reinterpret_cast<const void*>(static_cast<ULONG_PTR>(fault.address)));
  const std::exception_ptr error = MakeFaultException(fault, std::move(context));
  // By the time the fault is reported its stack is unwound and reused: the
  // frames from here through the thunk to the fault are kept with it.
  RecordRaise(error);
  std::rethrow_exception(error);
}
