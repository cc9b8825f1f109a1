// The bounded queue that carries handling requests from raising threads to
// the handling thread: a fixed ring, so that queueing never allocates and a
// full queue refuses at once instead of making the raising thread wait.
// Not synchronised: the caller holds its own lock around each call.
#pragma once

#include <cstddef>

template <class T, std::size_t Capacity>
class BoundedQueue {
  static_assert(Capacity > 0, "a queue holds at least one item");

 public:
  // False, leaving the queue as it was, when it is full.
  bool Push(const T& item) {
    if (count_ == Capacity) return false;
    items_[(head_ + count_) % Capacity] = item;
    ++count_;
    return true;
  }
  // False when it is empty.
  bool Pop(T& item) {
    if (count_ == 0) return false;
    item = items_[head_];
    head_ = (head_ + 1) % Capacity;
    --count_;
    return true;
  }
  std::size_t Size() const { return count_; }
  static constexpr std::size_t capacity() { return Capacity; }

 private:
  T items_[Capacity] = {};
  std::size_t head_ = 0;
  std::size_t count_ = 0;
};
