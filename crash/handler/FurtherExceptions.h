// Exceptions a thread raises while it waits for the report of its own
// earlier one (the main thread keeps dispatching its messages meanwhile, so a
// handler that fails on every timer tick raises again and again). They are
// counted into the waiting report instead of each opening a box of its own;
// the first few are kept with their time, class and message. Once the report
// has taken them (Close), Add refuses: an exception raised after that would
// be in no report, so it gets its own.
//
// Threads: Add is called by the one waiting thread only; Close, Count and the
// texts may be called on the handling thread at the same time, and see only
// entries that are complete. Add allocates nothing and never blocks.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "crash/report/HeaderFields.h"

class FurtherExceptions {
 public:
  static constexpr std::size_t kKept = 5;

  // False once closed: the exception was not counted.
  bool Add(const LocalTime& time, const std::string& className, const std::string& message) noexcept;
  void Close() noexcept { count_.fetch_or(kClosed, std::memory_order_acq_rel); }
  std::uint32_t Count() const { return count_.load(std::memory_order_acquire) & ~kClosed; }

  // The value of the report's "further exceptions" header field: the count
  // in decimal, empty when there were none.
  std::string CountText() const;
  // The "further exceptions" section: one line per kept exception, time,
  // class and message, then how many more came; empty when there were none.
  std::string SectionText() const;

 private:
  struct Entry {
    LocalTime time;
    char className[64];
    char message[256];
    std::atomic<bool> ready{false};
  };
  static constexpr std::uint32_t kClosed = 0x80000000u;
  std::atomic<std::uint32_t> count_{0};  // with kClosed once closed
  Entry kept_[kKept];
};

// Header field and section title of the exceptions counted into a report.
extern const char kFurtherExceptionsTitle[];  // "further exceptions"
