// The benchmarks' clock: the performance counter, and a pacer that sleeps to
// a point on it.
#pragma once

#include <cstdint>

#include "support/Win32.h"

namespace bench {

inline std::int64_t Now() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return now.QuadPart;
}

inline std::int64_t Frequency() {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return frequency.QuadPart;
}

// Sleep(1) would bunch the reports at the scheduler's tick; the native delay
// takes 100 ns units.
class TPacer {
 public:
  TPacer() {
    delay_ = reinterpret_cast<Delay>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtDelayExecution")));
  }
  void SleepUntil(std::int64_t target) const {
    for (;;) {
      const std::int64_t remaining = target - Now();
      if (remaining <= 0) return;
      if (!delay_) {
        Sleep(0);
        continue;
      }
      LARGE_INTEGER interval;
      interval.QuadPart = -(remaining * 10000000 / frequency_);
      if (interval.QuadPart == 0) return;
      delay_(FALSE, &interval);
    }
  }

 private:
  using Delay = LONG(WINAPI*)(BOOLEAN, PLARGE_INTEGER);
  Delay delay_ = nullptr;
  std::int64_t frequency_ = Frequency();
};

}  // namespace bench
