// The queue that keeps the agent's messages whole and in order when the
// socket takes only part of them, or nothing.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "app/LinkSendQueue.h"

namespace {

// A socket whose buffer has room for `room` bytes; what it took is `wire`.
// Like the platform's non-blocking send: part of a message when the room is
// short, -1 (would block) when there is none.
struct FakeSocket {
  std::string wire;
  std::size_t room = 0;
  int calls = 0;
  TLinkSendQueue::SendFunction Sender() {
    return [this](const char* data, int size) {
      ++calls;
      if (room == 0) return -1;
      const std::size_t n = room < static_cast<std::size_t>(size) ? room : static_cast<std::size_t>(size);
      wire.append(data, n);
      room -= n;
      return static_cast<int>(n);
    };
  }
};

std::string Message(int i) { return "usb-hid=recv\r\ncode=" + std::to_string(1000 + i) + "\r\n"; }

TEST(LinkSendQueue, APartlyTakenMessageGoesOnFirstAndTheNextWaitBehindIt) {
  FakeSocket socket;
  TLinkSendQueue queue;
  socket.room = 1000;
  EXPECT_TRUE(queue.Send(Message(0), socket.Sender()));
  EXPECT_FALSE(queue.Waiting());
  socket.room = 10;  // the buffer is nearly full
  EXPECT_TRUE(queue.Send(Message(1), socket.Sender()));
  EXPECT_TRUE(queue.Waiting());
  EXPECT_EQ(socket.wire, Message(0) + Message(1).substr(0, 10));
  // Room again, but a new message must not overtake the waiting tail.
  EXPECT_TRUE(queue.Send(Message(2), socket.Sender()));
  EXPECT_EQ(socket.wire, Message(0) + Message(1).substr(0, 10));
  socket.room = 1000;
  queue.Resume(socket.Sender());
  EXPECT_FALSE(queue.Waiting());
  EXPECT_EQ(socket.wire, Message(0) + Message(1) + Message(2));
  EXPECT_EQ(queue.TakeDropped(), 0u);
}

TEST(LinkSendQueue, APartialSendIsFollowedAtOnceByATryThatWouldBlock) {
  // Only a send that would block makes the platform report write readiness
  // again; stopping after a partial one would leave the queue stuck.
  FakeSocket socket;
  TLinkSendQueue queue;
  socket.room = 5;
  queue.Send(Message(0), socket.Sender());
  EXPECT_EQ(socket.calls, 2);
  EXPECT_EQ(socket.wire.size(), 5u);
}

TEST(LinkSendQueue, AFullQueueDropsNewMessagesWholeAndCountsThem) {
  FakeSocket socket;
  TLinkSendQueue queue;
  for (std::size_t i = 0; i < TLinkSendQueue::kMaxMessages; ++i)
    ASSERT_TRUE(queue.Send(Message(static_cast<int>(i)), socket.Sender())) << i;
  EXPECT_FALSE(queue.Send(Message(-1), socket.Sender()));
  EXPECT_FALSE(queue.Send(Message(-2), socket.Sender()));
  EXPECT_EQ(queue.WaitingMessages(), TLinkSendQueue::kMaxMessages);
  EXPECT_EQ(queue.Dropped(), 2u);
  socket.room = SIZE_MAX;
  queue.Resume(socket.Sender());
  std::string expected;
  for (std::size_t i = 0; i < TLinkSendQueue::kMaxMessages; ++i) expected += Message(static_cast<int>(i));
  EXPECT_EQ(socket.wire, expected);
  EXPECT_EQ(queue.TakeDropped(), 2u);
  EXPECT_EQ(queue.TakeDropped(), 0u);
}

TEST(LinkSendQueue, AnyPatternOfRoomGivesTheWholeMessagesInOrder) {
  std::mt19937 random(12);
  for (int round = 0; round < 50; ++round) {
    FakeSocket socket;
    TLinkSendQueue queue;
    std::string expected;
    for (int i = 0; i < 400; ++i) {
      socket.room = random() % 3 == 0 ? 0 : random() % 60;
      const std::string message = Message(i) + std::string(random() % 40, 'A');
      if (queue.Send(message, socket.Sender())) expected += message;
      if (random() % 4 == 0) {
        socket.room = random() % 200;
        queue.Resume(socket.Sender());
      }
    }
    socket.room = SIZE_MAX;
    queue.Resume(socket.Sender());
    EXPECT_EQ(socket.wire, expected) << "round " << round;
  }
}

TEST(LinkSendQueue, AConnectionEndedInsideTheSendLeavesNothingBehind) {
  // A failing send raises the error event, whose handler ends the connection
  // and clears the queue while the queue is still inside the send.
  TLinkSendQueue queue;
  FakeSocket blocked;
  queue.Send(Message(0), blocked.Sender());
  queue.Send(Message(1), blocked.Sender());
  int calls = 0;
  queue.Resume([&](const char*, int) {
    ++calls;
    queue.Clear();
    return -1;
  });
  EXPECT_EQ(calls, 1);
  EXPECT_FALSE(queue.Waiting());
  FakeSocket fresh;
  fresh.room = 1000;
  queue.Send(Message(2), fresh.Sender());
  EXPECT_EQ(fresh.wire, Message(2)) << "no tail of the old connection";
}

}  // namespace
