#include "crash/collect/ThrowFrames.h"

#include <algorithm>
#include <cstring>

#include "crash/collect/CollectInternal.h"

namespace {

// Trivially destructible: no per-thread destructor to register.
thread_local ThrowFrames t_throw;
thread_local RawStack t_walk;

void Keep(const void* object, const RawStack& walked) {
  const std::size_t n = std::min<std::size_t>(walked.count, sizeof t_throw.frames / sizeof t_throw.frames[0]);
  for (std::size_t i = 0; i < n; ++i) t_throw.frames[i] = walked.frames[i];
  t_throw.count = static_cast<std::uint32_t>(n);
  t_throw.object = object;
}

}  // namespace

ThrowFrames& LastThrowOfThisThread() { return t_throw; }

void RecordThrowFrames(const void* object, const void* context) {
  WalkStack(*static_cast<const CONTEXT*>(context), t_walk);  // allocation-free
  Keep(object, t_walk);
}

#if defined(__i386__)
// The 32-bit run time unwinds without a structured exception, so every
// executable linked with this library routes its throws through here
// (linked with --wrap=__cxa_throw): the frames are walked from the
// thrower's frame, before anything is unwound.
extern "C" void __real___cxa_throw(void* object, void* type, void (*destroy)(void*));

extern "C" __attribute__((noinline)) void __wrap___cxa_throw(void* object, void* type, void (*destroy)(void*)) {
  CONTEXT context;
  std::memset(&context, 0, sizeof context);
  const auto* frame = static_cast<const DWORD*>(__builtin_frame_address(0));
  context.Eip = reinterpret_cast<DWORD>(__builtin_return_address(0));
  context.Ebp = frame[0];  // the thrower's frame
  context.Esp = reinterpret_cast<DWORD>(frame);
  RecordThrowFrames(object, &context);
  __real___cxa_throw(object, type, destroy);
}
#endif
