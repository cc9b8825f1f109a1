// Stack walks of this process from contexts whose frames an overflow has
// damaged: the walk keeps the frames it could read and never faults.
#include <gtest/gtest.h>

#include <cstring>

#include "crash/collect/CollectInternal.h"

namespace {

std::uintptr_t InstructionPointer(const CONTEXT& context) {
#if defined(__x86_64__)
  return context.Rip;
#else
  return context.Eip;
#endif
}

void SetFramePointer(CONTEXT& context, std::uintptr_t value) {
#if defined(__x86_64__)
  context.Rbp = value;
#else
  context.Ebp = value;
#endif
}

// An address that is certainly not mapped: a reservation given back.
std::uintptr_t UnmappedAddress() {
  void* block = VirtualAlloc(nullptr, 1 << 20, MEM_RESERVE, PAGE_NOACCESS);
  if (!block) return 0;
  VirtualFree(block, 0, MEM_RELEASE);
  return reinterpret_cast<std::uintptr_t>(block) + 0x8000;
}

struct Walks {
  RawStack intact;
  RawStack damaged;
  std::uintptr_t ip = 0;
  unsigned frameRegister = 0;  // x64: the register the function's unwind data names
};

// A frame that needs its frame pointer (alloca): the context is taken inside
// it and walked while the frame is still live, once as it is and once with
// the frame pointer replaced.
__attribute__((noinline)) void WalkFromFramedFunction(Walks& walks, std::uintptr_t garbage, int size) {
  volatile char* scratch = static_cast<volatile char*>(__builtin_alloca(size));
  scratch[0] = 1;
  CONTEXT context;
  std::memset(&context, 0, sizeof context);
  RtlCaptureContext(&context);
  walks.ip = InstructionPointer(context);
#if defined(__x86_64__)
  DWORD64 imageBase = 0;
  if (PRUNTIME_FUNCTION function = RtlLookupFunctionEntry(context.Rip, &imageBase, nullptr))
    walks.frameRegister = reinterpret_cast<const unsigned char*>(imageBase + function->UnwindData)[3] & 15;
#endif
  WalkStack(context, walks.intact, true);
  SetFramePointer(context, garbage);
  WalkStack(context, walks.damaged, true);
  scratch[0] = 2;
}

TEST(StackWalk, AGarbageFramePointerEndsTheWalkWithTheFramesRead) {
  std::uintptr_t low = 0, high = 0;
  int probe = 0;
  ASSERT_TRUE(StackRangeOf(reinterpret_cast<std::uintptr_t>(&probe), &low, &high));
  const std::uintptr_t unmapped = UnmappedAddress();
  ASSERT_NE(unmapped, 0u);
  const std::uintptr_t garbage[] = {
      static_cast<std::uintptr_t>(0x4141414141414141ull),  // overwritten by text
      unmapped,
      low + 0x100,  // the stack's own reservation, below its committed part
      high + 0x1000,  // just above the stack
      1,
  };
  for (std::uintptr_t value : garbage) {
    SCOPED_TRACE(testing::Message() << std::hex << value);
    Walks walks;
    WalkFromFramedFunction(walks, value, 64 + static_cast<int>(value & 0x30));
#if defined(__x86_64__)
    ASSERT_EQ(walks.frameRegister, 5u) << "the test function has no rbp frame";
#endif
    // The intact walk passes the function into this test and beyond.
    ASSERT_GE(walks.intact.count, 3u);
    ASSERT_GE(walks.damaged.count, 1u);
    EXPECT_EQ(walks.damaged.frames[0], walks.ip);
    EXPECT_LT(walks.damaged.count, walks.intact.count);
  }
}

}  // namespace
