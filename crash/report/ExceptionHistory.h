// The times of the last exceptions, and the rules that use them to restart or
// close the program without waiting for the user.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// Times in seconds, newest first; 0 is an unset entry. A restarted instance
// inherits the history through an 80-byte block (ToBytes / FromBytes).
class ExceptionTimeHistory {
 public:
  static constexpr std::size_t kEntries = 10;
  static constexpr std::size_t kByteSize = kEntries * 8;

  // Moves every entry one place down (the oldest drops out) and puts `now` first.
  void Record(std::int64_t now);

  std::int64_t At(std::size_t index) const { return times_[index]; }
  bool AllSet() const;

  // Little-endian 64-bit values, newest first.
  void ToBytes(unsigned char (&bytes)[kByteSize]) const;
  static ExceptionTimeHistory FromBytes(const unsigned char (&bytes)[kByteSize]);

 private:
  std::array<std::int64_t, kEntries> times_{};
};

// AutoRestart / AutoClose with value v: 0 (or below) never; 1 always; 2 or
// more only when all entries are set and none lies more than v seconds
// before now.
bool AutoRuleApplies(std::int64_t value, const ExceptionTimeHistory& history, std::int64_t now);

enum class AfterBox { Continue, Restart, Close };

// What follows the box when the user did not choose: continue when the
// exception can; else restart when the AutoRestart rule holds and the
// AutoClose rule does not; else close.
AfterBox DecideAfterBox(bool can_continue, std::int64_t auto_restart, std::int64_t auto_close,
                        const ExceptionTimeHistory& history, std::int64_t now);
