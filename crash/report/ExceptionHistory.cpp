#include "crash/report/ExceptionHistory.h"

void ExceptionTimeHistory::Record(std::int64_t now) {
  for (std::size_t i = kEntries - 1; i > 0; --i) times_[i] = times_[i - 1];
  times_[0] = now;
}

bool ExceptionTimeHistory::AllSet() const {
  for (std::int64_t t : times_)
    if (t == 0) return false;
  return true;
}

void ExceptionTimeHistory::ToBytes(unsigned char (&bytes)[kByteSize]) const {
  for (std::size_t i = 0; i < kEntries; ++i) {
    const auto value = static_cast<std::uint64_t>(times_[i]);
    for (std::size_t b = 0; b < 8; ++b) bytes[i * 8 + b] = static_cast<unsigned char>(value >> (8 * b));
  }
}

ExceptionTimeHistory ExceptionTimeHistory::FromBytes(const unsigned char (&bytes)[kByteSize]) {
  ExceptionTimeHistory history;
  for (std::size_t i = 0; i < kEntries; ++i) {
    std::uint64_t value = 0;
    for (std::size_t b = 0; b < 8; ++b) value |= static_cast<std::uint64_t>(bytes[i * 8 + b]) << (8 * b);
    history.times_[i] = static_cast<std::int64_t>(value);
  }
  return history;
}

bool AutoRuleApplies(std::int64_t value, const ExceptionTimeHistory& history, std::int64_t now) {
  if (value <= 0) return false;
  if (value == 1) return true;
  if (!history.AllSet()) return false;
  for (std::size_t i = 0; i < ExceptionTimeHistory::kEntries; ++i)
    if (now - history.At(i) > value) return false;
  return true;
}

AfterBox DecideAfterBox(bool can_continue, std::int64_t auto_restart, std::int64_t auto_close,
                        const ExceptionTimeHistory& history, std::int64_t now) {
  if (can_continue) return AfterBox::Continue;
  if (AutoRuleApplies(auto_restart, history, now) && !AutoRuleApplies(auto_close, history, now))
    return AfterBox::Restart;
  return AfterBox::Close;
}
