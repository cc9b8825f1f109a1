// The benchmark's live host: the tests' loopback peer on 127.0.0.1:18884
// (TCP_NODELAY, as the agent's client sets it), with each recv message of
// ours recorded by run tag and sequence number and stamped with the
// performance counter the moment the bytes that complete it were read.
//
// Constructed and queried from one thread; the peer's reader threads only
// append under the lock.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/RelayStats.h"
#include "support/CriticalSection.h"
#include "support/Win32.h"
#include "tests/support/LoopbackPeer_win.h"
#include "tools/livehost/LiveHost.h"

namespace bench {

class TLoopbackPeer {
 public:
  TLoopbackPeer();
  // Closes the listener and every connection, then waits for the readers.
  ~TLoopbackPeer();
  TLoopbackPeer(const TLoopbackPeer&) = delete;
  TLoopbackPeer& operator=(const TLoopbackPeer&) = delete;

  bool Ok() const { return peer_->Ok(); }
  int Accepted() const { return peer_->Accepted(); }  // connections so far
  int Open() const { return peer_->Open(); }          // not yet closed by the other end
  std::vector<Arrival> Arrivals(std::uint8_t tag) const;
  std::size_t ArrivalCount(std::uint8_t tag) const;
  std::size_t Damaged() const;  // recv messages of ours that arrived altered
  // To the current (latest) connection.
  bool Send(const std::string& bytes) { return peer_->Send(bytes); }
  bool Connected() const { return peer_->Connected(); }
  // Stops reading (false) or reads again at full speed (true).
  void Read(bool reading) { reading ? peer_->Pace(65536, 0) : peer_->Pace(0, 0); }

 private:
  void Record(int connection, const char* data, std::size_t size, std::int64_t arrival);

  mutable CriticalSection lock_;
  std::map<int, livehost::AgentStreamReader> readers_;  // by connection
  std::vector<livehost::AgentMessage> messages_;
  std::size_t damaged_ = 0;
  std::map<std::uint8_t, std::vector<Arrival>> arrivals_;
  std::unique_ptr<testing_support::LoopbackPeer> peer_;  // last: its readers stop first
};

}  // namespace bench
