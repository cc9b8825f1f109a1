#include "crash/collect/ThrowFrames.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <typeinfo>

#include "crash/collect/CollectInternal.h"

namespace {

struct ThrowRecord {
  // Odd while a writer fills the record; readers retry or skip it.
  std::atomic<long> sequence{0};
  // The order of recording: of two records of one object the later wins.
  long ticket = 0;
  const void* object = nullptr;
  const std::type_info* type = nullptr;
  RawStack stack;
};

// Enough for the exceptions alive at once: a record is ended when its
// object is freed, and a new one takes an ended slot first. An evicted
// record costs the report its thrower's frames (the stack is then walked
// where it is reported).
constexpr LONG kRecords = 16;
ThrowRecord g_records[kRecords];
std::atomic<long> g_next{0};
// Every throw passes here: no lock and no allocation.
static_assert(std::atomic<long>::is_always_lock_free, "throw records are written on the crash path");

// Claims a slot for writing: an ended one from the ticket's place on, else
// the ticket's own, evicting the live record there. Null when another
// thread writes that one (kRecords throws at once).
ThrowRecord* ClaimSlot(long ticket) {
  for (LONG i = 0; i < kRecords; ++i) {
    ThrowRecord& record = g_records[static_cast<ULONG>(ticket + i) % kRecords];
    long even = record.sequence.load() & ~1L;
    if (record.object != nullptr || !record.sequence.compare_exchange_strong(even, even + 1)) continue;
    if (record.object == nullptr) return &record;
    record.sequence.store(even + 2);  // taken meanwhile
  }
  ThrowRecord& record = g_records[static_cast<ULONG>(ticket) % kRecords];
  long even = record.sequence.load() & ~1L;
  return record.sequence.compare_exchange_strong(even, even + 1) ? &record : nullptr;
}

void Record(const void* object, const std::type_info* type, const CONTEXT& thrower) {
  const long ticket = g_next.fetch_add(1);
  ThrowRecord* claimed = ClaimSlot(ticket);
  if (!claimed) return;
  ThrowRecord& record = *claimed;
  const long even = record.sequence.load() - 1;
  record.ticket = ticket;
  record.object = object;
  record.type = type;
  WalkStack(thrower, record.stack, true);  // allocation-free
  // The first frame is where the thrower called the run time: its code
  // address is the call itself, so that the thrower's line is named.
  if (record.stack.count > 0) {
    const std::uintptr_t call = CallSiteOf(record.stack.frames[0]);
    record.stack.frames[0] = call ? call : record.stack.frames[0] - 1;
  }
  record.sequence.store(even + 2);
}

// The object is freed: its address may come back for another exception
// that is never thrown (std::make_exception_ptr).
void Forget(const void* object) {
  for (ThrowRecord& record : g_records) {
    long even = record.sequence.load() & ~1L;
    if (record.object != object || !record.sequence.compare_exchange_strong(even, even + 1)) continue;
    if (record.object == object) {
      record.object = nullptr;
      record.stack.count = 0;
    }
    record.sequence.store(even + 2);
  }
}

}  // namespace

const void* ThrownObjectOf(const std::exception_ptr& error) {
  // The run time's exception_ptr is the thrown object's address.
  static_assert(sizeof(std::exception_ptr) == sizeof(void*), "exception_ptr holds one pointer");
  const void* object = nullptr;
  std::memcpy(&object, &error, sizeof object);
  return object;
}

std::size_t FindThrowFrames(const void* object, const std::type_info* type, std::uint64_t* frames,
                            std::size_t capacity) {
  if (!object) return 0;
  // The newest record of the object, then its frames, unless a writer came
  // in between.
  const ThrowRecord* newest = nullptr;
  long newestTicket = 0;
  for (const ThrowRecord& record : g_records) {
    const long before = record.sequence.load();
    if ((before & 1) || record.object != object || record.type != type) continue;
    const long ticket = record.ticket;
    if (record.sequence.load() != before || (newest && ticket - newestTicket < 0)) continue;
    newest = &record;
    newestTicket = ticket;
  }
  if (!newest) return 0;
  const long before = newest->sequence.load();
  if ((before & 1) || newest->object != object || newest->type != type) return 0;
  const std::size_t n = std::min(newest->stack.count, capacity);
  for (std::size_t i = 0; i < n; ++i) frames[i] = newest->stack.frames[i];
  std::atomic_thread_fence(std::memory_order_seq_cst);
  return newest->sequence.load() == before ? n : 0;
}

namespace {

// The context of the caller of the function this is inlined into, taken
// before anything is unwound. False when it cannot be had.
__attribute__((always_inline)) inline bool CallerContext(CONTEXT& context) {
  std::memset(&context, 0, sizeof context);
#if defined(__x86_64__)
  ::RtlCaptureContext(&context);
  // One unwind step from here gives the caller's context.
  DWORD64 imageBase = 0;
  PRUNTIME_FUNCTION function = ::RtlLookupFunctionEntry(context.Rip, &imageBase, nullptr);
  if (!function) return false;
  void* handlerData = nullptr;
  DWORD64 establisher = 0;
  ::RtlVirtualUnwind(UNW_FLAG_NHANDLER, imageBase, context.Rip, function, &context, &handlerData, &establisher,
                     nullptr);
#else
  const auto* frame = static_cast<const DWORD*>(__builtin_frame_address(0));
  context.Eip = reinterpret_cast<DWORD>(__builtin_return_address(0));
  context.Ebp = frame[0];                            // the caller's frame
  context.Esp = reinterpret_cast<DWORD>(frame + 2);  // the caller's stack pointer after the call
#endif
  return true;
}

}  // namespace

__attribute__((noinline)) void RecordRaise(const std::exception_ptr& error) {
  CONTEXT context;
  if (error && CallerContext(context)) Record(ThrownObjectOf(error), error.__cxa_exception_type(), context);
}

// The run time unwinds a throw's frames before any interception point sees
// it, so the recorder walks them here, from the thrower's context.
extern "C" void __real___cxa_throw(void* object, std::type_info* type, void (*destroy)(void*));

extern "C" __attribute__((noinline)) void __wrap___cxa_throw(void* object, std::type_info* type,
                                                             void (*destroy)(void*)) {
  CONTEXT context;
  if (CallerContext(context)) Record(object, type, context);
  __real___cxa_throw(object, type, destroy);
}

// std::make_exception_ptr builds its exception without a throw: the record
// is taken where it is made, so the report names the code that made it,
// wherever it is raised or handed over later.
extern "C" void* __real___cxa_init_primary_exception(void* object, std::type_info* type, void* destroy);

extern "C" __attribute__((noinline)) void* __wrap___cxa_init_primary_exception(void* object, std::type_info* type,
                                                                               void* destroy) {
  CONTEXT context;
  if (CallerContext(context)) Record(object, type, context);
  return __real___cxa_init_primary_exception(object, type, destroy);
}

extern "C" void __real___cxa_free_exception(void* object);

extern "C" void __wrap___cxa_free_exception(void* object) {
  Forget(object);
  __real___cxa_free_exception(object);
}
