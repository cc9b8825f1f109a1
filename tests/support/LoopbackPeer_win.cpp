#include "LoopbackPeer_win.h"

#include <atomic>

#include "WineTestSupport_win.h"

namespace testing_support {

namespace {

using Locked = std::lock_guard<CriticalSection>;

constexpr int kBufferSize = 65536;

}  // namespace

struct LoopbackPeer::Connection {
  Connection(LoopbackPeer* owner, SOCKET accepted, int index)
      : peer(owner), socket(accepted), number(index), acceptedAt(GetTickCount64()) {}

  LoopbackPeer* peer;
  // Written by the owner's thread only once the reader has stopped.
  ScopedSocket socket;
  int number;
  std::uint64_t acceptedAt;
  ScopedKernelHandle reader;
  std::atomic<bool> open{true};
  std::atomic<bool> stop{false};
  std::string pending;  // the reader's unfinished line
};

LoopbackPeer::LoopbackPeer(const Options& options) : options_(options) {
  WSADATA data;
  wsa_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  if (options_.listen) Listen();
}

LoopbackPeer::~LoopbackPeer() {
  StopListening();
  std::vector<std::unique_ptr<Connection>> connections;
  {
    Locked guard(lock_);
    connections.swap(connections_);
  }
  for (const auto& connection : connections) {
    connection->stop = true;
    WaitForSingleObject(connection->reader.Get(), 10000);
    if (connection->socket) shutdown(connection->socket.Get(), SD_SEND);
  }
  connections.clear();  // closes the sockets
  if (wsa_) WSACleanup();
}

bool LoopbackPeer::Listen() {
  if (listener_) return true;
  listener_.Reset(ListenOnLoopback(options_.port, options_.receiveBuffer));
  if (!listener_) return false;
  acceptThread_.Reset(CreateThread(nullptr, 0, &LoopbackPeer::AcceptThread, this, 0, nullptr));
  if (!acceptThread_) listener_.Reset();
  return acceptThread_.IsValid();
}

void LoopbackPeer::StopListening() {
  // The blocked accept fails once its socket is closed.
  listener_.Reset();
  if (acceptThread_) WaitForSingleObject(acceptThread_.Get(), 10000);
  acceptThread_.Reset();
}

std::uint16_t LoopbackPeer::Port() const {
  sockaddr_in local = {};
  int length = sizeof local;
  if (!listener_ || getsockname(listener_.Get(), reinterpret_cast<sockaddr*>(&local), &length) != 0) return 0;
  return ntohs(local.sin_port);
}

DWORD WINAPI LoopbackPeer::AcceptThread(void* self) {
  auto* peer = static_cast<LoopbackPeer*>(self);
  const SOCKET listener = peer->listener_.Get();
  for (;;) {
    const SOCKET s = accept(listener, nullptr, nullptr);
    if (s == INVALID_SOCKET) return 0;
    if (peer->options_.noDelay) {
      BOOL noDelay = TRUE;
      setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof noDelay);
    }
    Locked guard(peer->lock_);
    auto connection = std::make_unique<Connection>(peer, s, static_cast<int>(peer->connections_.size()));
    connection->reader.Reset(CreateThread(nullptr, 0, &LoopbackPeer::ReadThread, connection.get(), 0, nullptr));
    if (connection->reader) peer->connections_.push_back(std::move(connection));
  }
}

DWORD WINAPI LoopbackPeer::ReadThread(void* param) {
  auto* connection = static_cast<Connection*>(param);
  connection->peer->Read(*connection);
  connection->open = false;
  return 0;
}

void LoopbackPeer::Read(Connection& connection) {
  const SOCKET s = connection.socket.Get();
  std::vector<char> buffer(kBufferSize);
  while (!connection.stop) {
    int chunk, pause;
    {
      Locked guard(lock_);
      chunk = chunk_;
      pause = pauseMs_;
    }
    if (chunk == 0) {
      Sleep(10);
      continue;
    }
    // A short wait, so that a stop or a new pace is seen soon: under Wine a
    // shutdown does not end a blocked recv, and a close could hand the
    // handle value to a new connection under a reader's feet.
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval timeout = {0, 50000};
    const int ready = select(0, &set, nullptr, nullptr, &timeout);
    if (ready == SOCKET_ERROR) return;
    if (ready == 0) continue;
    const int n = recv(s, buffer.data(), chunk < kBufferSize ? chunk : kBufferSize, 0);
    LARGE_INTEGER arrival;
    QueryPerformanceCounter(&arrival);  // before anything else: the arrival
    if (n <= 0) return;
    if (OnReceive) OnReceive(connection.number, buffer.data(), static_cast<std::size_t>(n), arrival.QuadPart);
    const std::uint64_t now = GetTickCount64();
    {
      Locked guard(lock_);
      received_.append(buffer.data(), static_cast<std::size_t>(n));
      lastArrival_ = now;
      for (int i = 0; i < n; ++i) {
        if (buffer[i] != '\n') {
          connection.pending.push_back(buffer[i]);
          continue;
        }
        if (!connection.pending.empty() && connection.pending.back() == '\r') connection.pending.pop_back();
        lines_.push_back({connection.pending, now});
        connection.pending.clear();
      }
    }
    if (pause > 0) Sleep(static_cast<DWORD>(pause));
  }
}

LoopbackPeer::Connection* LoopbackPeer::Current() const {
  if (current_) return current_;
  return connections_.empty() ? nullptr : connections_.back().get();
}

std::uint64_t LoopbackPeer::Accept(int timeoutMs) {
  std::uint64_t acceptedAt = 0;
  WaitUntil(
      [&] {
        Locked guard(lock_);
        if (connections_.size() <= taken_) return false;
        taken_ = connections_.size();
        current_ = connections_.back().get();
        acceptedAt = current_->acceptedAt;
        return true;
      },
      timeoutMs, 5);
  return acceptedAt;
}

int LoopbackPeer::Accepted() const {
  Locked guard(lock_);
  return static_cast<int>(connections_.size());
}

int LoopbackPeer::Open() const {
  Locked guard(lock_);
  int open = 0;
  for (const auto& connection : connections_)
    if (connection->open) ++open;
  return open;
}

bool LoopbackPeer::Connected() const {
  Locked guard(lock_);
  const Connection* current = Current();
  return current && current->open && current->socket;
}

bool LoopbackPeer::OpenFor(int ms) const {
  const std::uint64_t end = GetTickCount64() + static_cast<std::uint64_t>(ms);
  while (GetTickCount64() < end) {
    if (!Connected()) return false;
    Sleep(10);
  }
  return Connected();
}

bool LoopbackPeer::Send(const std::string& bytes) {
  SOCKET s = INVALID_SOCKET;
  {
    Locked guard(lock_);
    if (const Connection* current = Current()) s = current->socket.Get();
  }
  return s != INVALID_SOCKET &&
         send(s, bytes.data(), static_cast<int>(bytes.size()), 0) == static_cast<int>(bytes.size());
}

void LoopbackPeer::Drop() {
  Connection* current;
  {
    Locked guard(lock_);
    current = Current();
  }
  if (!current || !current->socket) return;
  // The close leaves at once; the socket itself is closed only once its
  // reader stopped, so that nobody uses the handle after.
  shutdown(current->socket.Get(), SD_SEND);
  current->stop = true;
  WaitForSingleObject(current->reader.Get(), 10000);
  ScopedSocket closing;
  {
    Locked guard(lock_);
    closing = std::move(current->socket);
  }
}

void LoopbackPeer::Abort() {
  Connection* current;
  {
    Locked guard(lock_);
    current = Current();
  }
  if (!current || !current->socket) return;
  current->stop = true;
  WaitForSingleObject(current->reader.Get(), 10000);
  ScopedSocket closing;
  {
    Locked guard(lock_);
    closing = std::move(current->socket);
  }
  // Closed with a zero linger time: a reset instead of the orderly close.
  linger abortive = {1, 0};
  setsockopt(closing.Get(), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abortive), sizeof abortive);
}

void LoopbackPeer::Pace(int chunk, int pauseMs) {
  Locked guard(lock_);
  chunk_ = chunk;
  pauseMs_ = pauseMs;
}

std::string LoopbackPeer::Received() const {
  Locked guard(lock_);
  return received_;
}

std::vector<LoopbackPeer::Line> LoopbackPeer::Lines() const {
  Locked guard(lock_);
  return lines_;
}

std::vector<std::uint64_t> LoopbackPeer::TimesOf(const std::string& line) const {
  Locked guard(lock_);
  std::vector<std::uint64_t> times;
  for (const Line& each : lines_)
    if (each.text == line) times.push_back(each.time);
  return times;
}

std::uint64_t LoopbackPeer::LastArrival() const {
  Locked guard(lock_);
  return lastArrival_;
}

}  // namespace testing_support
