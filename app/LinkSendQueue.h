// The agent's messages on their way to the live host, without platform calls.
// The socket may accept only part of a message, or none of it, when its
// buffer is full; a message must still reach the live host whole and in
// order. The unsent tail of a message waits here with the messages that come
// after it, and goes first when the socket can take data again.
//
// Owned by the main window; main thread only.
#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <string>

class TLinkSendQueue {
 public:
  // At the console's top rate of 1000 reports/s this is one second of input:
  // a live host that has not read for longer is not going to use what the
  // console said so long ago, and the queue stays within about 2 MB with the
  // largest reports (1025 bytes, a 2 KiB message).
  static constexpr std::size_t kMaxMessages = 1000;

  // Gives the number of bytes the socket accepted from (data, size), or 0 or
  // less when it accepted none (would block, failed, not connected).
  using SendFunction = std::function<int(const char* data, int size)>;

  // Sends message after those already waiting. Whatever the socket does not
  // take at once waits. False when the queue is full: the message is dropped
  // whole and counted.
  bool Send(const std::string& message, const SendFunction& send);
  // The socket can take data again: sends what waits, oldest first, until
  // the socket stops taking it or nothing waits.
  void Resume(const SendFunction& send);

  bool Waiting() const { return !messages_.empty(); }
  std::size_t WaitingMessages() const { return messages_.size(); }
  // Messages dropped since the queue last ran empty.
  std::size_t Dropped() const { return dropped_; }
  // Hands over the dropped count and clears it.
  std::size_t TakeDropped();

  // Forgets everything (the connection ended: a tail of an old connection
  // must never start a new one).
  void Clear();

 private:
  // Sends from the oldest message on; the offset keeps a partly sent one.
  void Drain(const SendFunction& send);

  std::deque<std::string> messages_;
  std::size_t offset_ = 0;  // bytes of messages_.front() already sent
  std::size_t dropped_ = 0;
};
