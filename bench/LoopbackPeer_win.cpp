#include "bench/LoopbackPeer_win.h"

#include "support/CriticalSection.h"

#include <string>

#include "tools/livehost/LiveHost.h"

namespace bench {

namespace {

using Locked = std::lock_guard<CriticalSection>;

}  // namespace

TLoopbackPeer::TLoopbackPeer() {
  listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (listener_ == INVALID_SOCKET) return;
  BOOL reuse = TRUE;
  setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&reuse), sizeof reuse);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(18884);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(listener_, 8) != 0)
    return;
  acceptThread_ = CreateThread(nullptr, 0, &TLoopbackPeer::AcceptThread, this, 0, nullptr);
  ok_ = acceptThread_ != nullptr;
}

TLoopbackPeer::~TLoopbackPeer() {
  if (listener_ != INVALID_SOCKET) closesocket(listener_);
  if (acceptThread_) {
    WaitForSingleObject(acceptThread_, 5000);
    CloseHandle(acceptThread_);
  }
  std::vector<Connection*> connections;
  {
    Locked guard(lock_);
    connections.swap(connections_);
  }
  for (Connection* connection : connections) {
    shutdown(connection->socket, SD_BOTH);
    WaitForSingleObject(connection->thread, 5000);
    CloseHandle(connection->thread);
    closesocket(connection->socket);
    delete connection;
  }
}

DWORD WINAPI TLoopbackPeer::AcceptThread(void* self) {
  auto* peer = static_cast<TLoopbackPeer*>(self);
  for (;;) {
    const SOCKET s = accept(peer->listener_, nullptr, nullptr);
    if (s == INVALID_SOCKET) return 0;
    BOOL noDelay = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof noDelay);
    auto* connection = new Connection{peer, s, nullptr};
    Locked guard(peer->lock_);
    ++peer->open_;
    connection->thread = CreateThread(nullptr, 0, &TLoopbackPeer::ReadThread, connection, 0, nullptr);
    if (!connection->thread) {
      --peer->open_;
      closesocket(s);
      delete connection;
      continue;
    }
    peer->connections_.push_back(connection);
  }
}

DWORD WINAPI TLoopbackPeer::ReadThread(void* param) {
  auto* connection = static_cast<Connection*>(param);
  connection->peer->Read(connection->socket);
  Locked guard(connection->peer->lock_);
  --connection->peer->open_;
  return 0;
}

void TLoopbackPeer::Read(SOCKET s) {
  livehost::AgentStreamReader reader;
  std::vector<livehost::AgentMessage> messages;
  char buffer[16384];
  for (;;) {
    const int n = recv(s, buffer, sizeof buffer, 0);
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);  // before any parsing: the arrival
    if (n <= 0) return;
    messages.clear();
    reader.Feed(buffer, static_cast<std::size_t>(n), messages);
    Locked guard(lock_);
    for (const livehost::AgentMessage& message : messages) {
      if (message.kind != livehost::AgentMessage::Recv) continue;
      std::uint8_t tag = 0;
      std::uint32_t seq = 0;
      switch (ParsePayload(message.text, tag, seq)) {
        case PayloadKind::Ours:
          arrivals_[tag].push_back({seq, now.QuadPart});
          break;
        case PayloadKind::Damaged:
          ++damaged_;
          break;
        case PayloadKind::Foreign:
          break;
      }
    }
  }
}

int TLoopbackPeer::Accepted() const {
  Locked guard(lock_);
  return static_cast<int>(connections_.size());
}

int TLoopbackPeer::Open() const {
  Locked guard(lock_);
  return open_;
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
