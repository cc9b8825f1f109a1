#include "crash/handler/FurtherExceptions.h"

#include <algorithm>
#include <cstring>

const char kFurtherExceptionsTitle[] = "further exceptions";

namespace {

// Cut to the buffer, always terminated.
void CopyText(char* target, std::size_t size, const std::string& text) {
  const std::size_t length = std::min(text.size(), size - 1);
  std::memcpy(target, text.data(), length);
  target[length] = '\0';
}

}  // namespace

bool FurtherExceptions::Add(const LocalTime& time, const std::string& className,
                            const std::string& message) noexcept {
  std::uint32_t index = count_.load(std::memory_order_acquire);
  do {
    if (index & kClosed) return false;
  } while (!count_.compare_exchange_weak(index, index + 1, std::memory_order_acq_rel, std::memory_order_acquire));
  if (index >= kKept) return true;
  Entry& entry = kept_[index];
  entry.time = time;
  CopyText(entry.className, sizeof entry.className, className);
  CopyText(entry.message, sizeof entry.message, message);
  entry.ready.store(true, std::memory_order_release);
  return true;
}

std::string FurtherExceptions::CountText() const {
  const std::uint32_t count = Count();
  return count ? std::to_string(count) : std::string();
}

std::string FurtherExceptions::SectionText() const {
  const std::uint32_t count = Count();
  if (!count) return std::string();
  std::string text;
  std::uint32_t listed = 0;
  for (const Entry& entry : kept_) {
    if (!entry.ready.load(std::memory_order_acquire)) continue;
    if (!text.empty()) text += "\r\n";
    text += FormatReportDateTime(entry.time) + "  " + entry.className;
    if (entry.message[0] && std::strcmp(entry.message, entry.className) != 0) text += ": " + std::string(entry.message);
    ++listed;
  }
  if (count > listed) {
    if (!text.empty()) text += "\r\n";
    text += "and " + std::to_string(count - listed) + " more";
  }
  return text;
}
