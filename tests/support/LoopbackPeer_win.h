// The live host's end of the link, for tests and benchmarks: a listener on
// 127.0.0.1 (port 18884 unless told otherwise) that accepts every connection
// on a thread of its own and reads each on another, at a pace the caller
// may set, keeping what arrives with its arrival time.
//
// The caller owns the peer and calls it from one thread; the peer's threads
// only append under its lock, and raise OnReceive. The destructor closes the
// listener and every connection, then waits for its threads.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "support/CriticalSection.h"
#include "support/ScopedHandle.h"
#include "support/Win32.h"

namespace testing_support {

class LoopbackPeer {
 public:
  struct Options {
    std::uint16_t port = 18884;  // 0: a free one (see Port())
    // Receive buffer of the accepted connections; 0: the platform's. A small
    // one fills sooner when the peer stops reading.
    int receiveBuffer = 0;
    bool noDelay = false;  // TCP_NODELAY on the accepted connections
    bool listen = true;    // listen from construction (else Listen())
  };
  struct Line {
    std::string text;     // without its CR LF
    std::uint64_t time;   // GetTickCount64 of the read that completed it
  };

  LoopbackPeer() : LoopbackPeer(Options()) {}
  explicit LoopbackPeer(const Options& options);
  ~LoopbackPeer();
  LoopbackPeer(const LoopbackPeer&) = delete;
  LoopbackPeer& operator=(const LoopbackPeer&) = delete;

  // Raised on a reader thread for every read, with the connection's number
  // (0 for the first accepted), the bytes and the performance counter taken
  // the moment recv returned them. Set before listening.
  std::function<void(int connection, const char* data, std::size_t size, std::int64_t arrival)> OnReceive;

  // False when the port is taken.
  bool Listen();
  void StopListening();
  bool Ok() const { return listener_.IsValid(); }
  std::uint16_t Port() const;  // the port listened on, 0 when not listening

  // Waits (scaled) for a connection accepted after the last one this call
  // returned, and makes it the current one; the tick of its acceptance, or
  // 0. The current connection is the one Accept returned last, or the latest
  // when the caller never calls Accept.
  std::uint64_t Accept(int timeoutMs);
  int Accepted() const;  // connections so far
  int Open() const;      // connections the other end has not closed
  // The current connection is open.
  bool Connected() const;
  // Stays until ms have passed or the current connection closed; whether it
  // is still open.
  bool OpenFor(int ms) const;

  // To the current connection.
  bool Send(const std::string& bytes);
  // Closes the current connection (orderly: the other end reads its end).
  void Drop();
  // Resets the current connection (the other end sees a reset).
  void Abort();
  // chunk 0: the readers stop reading. Otherwise reads of at most chunk
  // bytes, pauseMs apart.
  void Pace(int chunk, int pauseMs);

  // Everything received on every connection, in arrival order.
  std::string Received() const;
  std::vector<Line> Lines() const;
  std::vector<std::uint64_t> TimesOf(const std::string& line) const;
  std::uint64_t LastArrival() const;  // tick of the latest read, 0 if none

 private:
  struct Connection;
  static DWORD WINAPI AcceptThread(void* self);
  static DWORD WINAPI ReadThread(void* connection);
  void Read(Connection& connection);
  Connection* Current() const;  // under the lock

  Options options_;
  ScopedSocket listener_;
  ScopedKernelHandle acceptThread_;
  mutable CriticalSection lock_;
  std::vector<std::unique_ptr<Connection>> connections_;
  std::size_t taken_ = 0;
  Connection* current_ = nullptr;
  int chunk_ = 65536;
  int pauseMs_ = 0;
  std::string received_;
  std::vector<Line> lines_;
  std::uint64_t lastArrival_ = 0;
  bool wsa_ = false;
};

}  // namespace testing_support
