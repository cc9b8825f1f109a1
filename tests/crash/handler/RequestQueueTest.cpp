#include "crash/handler/RequestQueue.h"

#include <gtest/gtest.h>

TEST(RequestQueue, FullQueueRefusesWithoutLosingWhatItHolds) {
  BoundedQueue<int, 3> queue;
  EXPECT_TRUE(queue.Push(1));
  EXPECT_TRUE(queue.Push(2));
  EXPECT_TRUE(queue.Push(3));
  EXPECT_FALSE(queue.Push(4));
  EXPECT_EQ(queue.Size(), 3u);
  int item = 0;
  for (int expected = 1; expected <= 3; ++expected) {
    ASSERT_TRUE(queue.Pop(item));
    EXPECT_EQ(item, expected);
  }
  EXPECT_FALSE(queue.Pop(item));
  EXPECT_EQ(item, 3);  // untouched by the failed pop
}

TEST(RequestQueue, KeepsOrderAcrossTheEndOfItsRing) {
  BoundedQueue<int, 4> queue;
  int next = 0, expected = 0, item = 0;
  for (int round = 0; round < 10; ++round) {
    while (queue.Push(next)) ++next;
    ASSERT_TRUE(queue.Pop(item));
    EXPECT_EQ(item, expected++);
    ASSERT_TRUE(queue.Pop(item));
    EXPECT_EQ(item, expected++);
  }
  while (queue.Pop(item)) EXPECT_EQ(item, expected++);
  EXPECT_EQ(expected, next);
}
