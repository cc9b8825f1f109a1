#include "bench/LoopbackPeer_win.h"

namespace bench {

namespace {

using Locked = std::lock_guard<CriticalSection>;

testing_support::LoopbackPeer::Options PeerOptions() {
  testing_support::LoopbackPeer::Options options;
  options.noDelay = true;
  options.listen = false;  // once OnReceive is set
  return options;
}

}  // namespace

TLoopbackPeer::TLoopbackPeer() {
  peer_.reset(new testing_support::LoopbackPeer(PeerOptions()));
  peer_->OnReceive = [this](int connection, const char* data, std::size_t size, std::int64_t arrival) {
    Record(connection, data, size, arrival);
  };
  peer_->Listen();
}

TLoopbackPeer::~TLoopbackPeer() { peer_.reset(); }

void TLoopbackPeer::Record(int connection, const char* data, std::size_t size, std::int64_t arrival) {
  Locked guard(lock_);
  messages_.clear();
  readers_[connection].Feed(data, size, messages_);
  for (const livehost::AgentMessage& message : messages_) {
    if (message.kind != livehost::AgentMessage::Recv) continue;
    std::uint8_t tag = 0;
    std::uint32_t seq = 0;
    switch (ParsePayload(message.text, tag, seq)) {
      case PayloadKind::Ours:
        arrivals_[tag].push_back({seq, arrival});
        break;
      case PayloadKind::Damaged:
        ++damaged_;
        break;
      case PayloadKind::Foreign:
        break;
    }
  }
}

std::vector<Arrival> TLoopbackPeer::Arrivals(std::uint8_t tag) const {
  Locked guard(lock_);
  auto it = arrivals_.find(tag);
  return it == arrivals_.end() ? std::vector<Arrival>() : it->second;
}

std::size_t TLoopbackPeer::ArrivalCount(std::uint8_t tag) const {
  Locked guard(lock_);
  auto it = arrivals_.find(tag);
  return it == arrivals_.end() ? 0 : it->second.size();
}

std::size_t TLoopbackPeer::Damaged() const {
  Locked guard(lock_);
  return damaged_;
}

}  // namespace bench
