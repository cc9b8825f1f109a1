#include "app/LinkSendQueue.h"

#include <climits>

bool TLinkSendQueue::Send(const std::string& message, const SendFunction& send) {
  if (message.empty()) return true;
  if (messages_.size() >= kMaxMessages) {
    ++dropped_;
    return false;
  }
  messages_.push_back(message);
  Drain(send);
  return true;
}

void TLinkSendQueue::Resume(const SendFunction& send) { Drain(send); }

void TLinkSendQueue::Drain(const SendFunction& send) {
  while (!messages_.empty()) {
    const std::string& front = messages_.front();
    const std::size_t rest = front.size() - offset_;
    const int chunk = rest > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(rest);
    // The send may raise an error event that ends the connection and clears
    // this queue from inside the call: look at the queue afresh afterwards.
    const int sent = send(front.data() + offset_, chunk);
    if (sent <= 0 || messages_.empty()) return;
    offset_ += static_cast<std::size_t>(sent) < rest ? static_cast<std::size_t>(sent) : rest;
    // After a partial send, try the rest at once: only a send that would
    // block makes the platform report write readiness again.
    if (offset_ < messages_.front().size()) continue;
    messages_.pop_front();
    offset_ = 0;
  }
}

std::size_t TLinkSendQueue::TakeDropped() {
  const std::size_t dropped = dropped_;
  dropped_ = 0;
  return dropped;
}

void TLinkSendQueue::Clear() {
  messages_.clear();
  offset_ = 0;
  dropped_ = 0;
}
