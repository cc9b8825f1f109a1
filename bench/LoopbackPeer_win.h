// The benchmark's live host: listens on 127.0.0.1:18884, reads every
// connection on a thread of its own and stamps each recv message with the
// performance counter the moment the bytes that complete it are read.
//
// Constructed and queried from one thread; the reader threads only append
// under the lock.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "bench/RelayStats.h"
#include "support/CriticalSection.h"
#include "support/Win32.h"

namespace bench {

class TLoopbackPeer {
 public:
  TLoopbackPeer();
  // Closes the listener and every connection, then waits for the readers.
  ~TLoopbackPeer();
  TLoopbackPeer(const TLoopbackPeer&) = delete;
  TLoopbackPeer& operator=(const TLoopbackPeer&) = delete;

  bool Ok() const { return ok_; }
  int Accepted() const;     // connections so far
  int Open() const;         // connections not yet closed by the other end
  std::vector<Arrival> Arrivals(std::uint8_t tag) const;
  std::size_t ArrivalCount(std::uint8_t tag) const;
  std::size_t Damaged() const;  // recv messages of ours that arrived altered

 private:
  struct Connection {
    TLoopbackPeer* peer;
    SOCKET socket;
    HANDLE thread;
  };
  static DWORD WINAPI AcceptThread(void* self);
  static DWORD WINAPI ReadThread(void* connection);
  void Read(SOCKET socket);

  SOCKET listener_ = INVALID_SOCKET;
  HANDLE acceptThread_ = nullptr;
  bool ok_ = false;
  mutable CriticalSection lock_;
  std::vector<Connection*> connections_;
  int open_ = 0;
  std::size_t damaged_ = 0;
  std::map<std::uint8_t, std::vector<Arrival>> arrivals_;
};

}  // namespace bench
