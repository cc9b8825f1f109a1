// The trace lines waiting for the debugger output, bounded so that a slow
// viewer costs lines, never the caller's time or unbounded memory. Not
// thread-safe: the owner locks around every call.
#pragma once

#include <cstddef>
#include <deque>
#include <string>

class TTraceQueue {
 public:
  // At most maxLines lines and maxBytes bytes of text wait at once.
  TTraceQueue(std::size_t maxLines, std::size_t maxBytes) : maxLines_(maxLines), maxBytes_(maxBytes) {}

  // Queues a line, or counts it dropped when there is no room. After a drop,
  // later lines are dropped too until the queue has drained to half, and then
  // a notice of the count goes in first: the notice marks the gap.
  void Push(std::string line);
  // The oldest entry: a line (dropped == 0), or a notice that `dropped` lines
  // were lost at this point (line empty). False when nothing waits.
  bool Pop(std::string& line, std::size_t& dropped);

  bool Empty() const { return entries_.empty(); }
  std::size_t Size() const { return entries_.size(); }
  // Lines dropped whose notice is not queued yet.
  std::size_t PendingDrops() const { return dropped_; }

 private:
  struct Entry {
    std::string line;
    std::size_t dropped;
  };
  bool Fits(std::size_t entries, std::size_t bytes) const {
    return entries <= maxLines_ && bytes <= maxBytes_;
  }
  void QueueNoticeIfDrained();

  std::size_t maxLines_, maxBytes_;
  std::deque<Entry> entries_;
  std::size_t bytes_ = 0;
  std::size_t dropped_ = 0;
};

// The text traced for lines lost to a full queue.
std::string DroppedTraceText(std::size_t dropped);
