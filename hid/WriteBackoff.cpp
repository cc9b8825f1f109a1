#include "hid/WriteBackoff.h"

#include <cstdint>

bool TWriteBackoff::Allows(std::uint64_t now) {
  if (!FPausing || now >= FUntil) return true;
  ++FSkipped;
  return false;
}

void TWriteBackoff::TimedOut(std::uint64_t now) {
  FPausing = true;
  FUntil = now > UINT64_MAX - kPauseMs ? UINT64_MAX : now + kPauseMs;
}

std::uint32_t TWriteBackoff::TakeSkipped() {
  const std::uint32_t skipped = FSkipped;
  FSkipped = 0;
  return skipped;
}
