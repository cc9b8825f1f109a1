// When to try a write to a console again after one timed out. A console that
// stops taking output reports would otherwise cost the main thread a whole
// write timeout for every report the live host sends; after a time-out the
// next writes fail at once until a write goes through again or the pause is
// over, so a stalled console costs at most one timeout per pause. Plain
// millisecond ticks in: no platform call, tested natively.
#pragma once

#include <cstdint>

class TWriteBackoff {
 public:
  static constexpr std::uint64_t kPauseMs = 1000;

  // True when a write may go to the device at `now`; false counts it as
  // skipped. Once the pause is over one write is tried.
  bool Allows(std::uint64_t now);
  // A write timed out (or was found still held) at `now`: the writes of the
  // next kPauseMs are skipped.
  void TimedOut(std::uint64_t now);
  // A write went through: the device takes reports again.
  void Succeeded() { FPausing = false; }
  // A write failed at once for another reason the pause stands for (the
  // device still holds the one that timed out): counted as skipped.
  void Skip() { ++FSkipped; }

  bool Pausing() const { return FPausing; }
  // The writes skipped since the last call; resets the count.
  std::uint32_t TakeSkipped();

 private:
  bool FPausing = false;
  std::uint64_t FUntil = 0;
  std::uint32_t FSkipped = 0;
};
