#include "support/TraceQueue.h"

#include <utility>

void TTraceQueue::QueueNoticeIfDrained() {
  // Resuming at half rather than at the first free slot keeps a viewer that
  // stays slow from getting a notice between every two lines.
  if (dropped_ == 0 || !Fits(2 * entries_.size(), 2 * bytes_)) return;
  entries_.push_back(Entry{std::string(), dropped_});
  dropped_ = 0;
}

void TTraceQueue::Push(std::string line) {
  QueueNoticeIfDrained();
  if (dropped_ > 0 || !Fits(entries_.size() + 1, bytes_ + line.size())) {
    ++dropped_;
    return;
  }
  bytes_ += line.size();
  entries_.push_back(Entry{std::move(line), 0});
}

bool TTraceQueue::Pop(std::string& line, std::size_t& dropped) {
  if (entries_.empty()) {
    QueueNoticeIfDrained();  // drops and nothing after them: the notice is due now
    if (entries_.empty()) return false;
  }
  Entry& entry = entries_.front();
  line = std::move(entry.line);
  dropped = entry.dropped;
  bytes_ -= line.size();
  entries_.pop_front();
  QueueNoticeIfDrained();
  return true;
}

std::string DroppedTraceText(std::size_t dropped) {
  return "trace: " + std::to_string(dropped) + " lines dropped, the debug output was too slow";
}
