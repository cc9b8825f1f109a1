// The stack of each thread's last fresh C++ throw. A C++ exception reaches
// the interception points after its frames are unwound; what is kept here
// lets the report show the thrower's stack instead of the catcher's.
#pragma once

#include <cstdint>

struct ThrowFrames {
  const void* object = nullptr;  // the run time's exception object (a rethrow keeps it)
  std::uint32_t count = 0;
  std::uint64_t frames[128] = {};
};

// This thread's record; a report takes the frames and clears the count.
ThrowFrames& LastThrowOfThisThread();

// Records the stack from a processor context (the 64-bit run time raises
// each throw as a structured exception whose context is the thrower's).
void RecordThrowFrames(const void* object, const void* context);
