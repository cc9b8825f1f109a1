#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/TraceQueue.h"

namespace {

// Everything the queue gives out, notices written as "<dropped N>".
std::vector<std::string> DrainAll(TTraceQueue& queue) {
  std::vector<std::string> out;
  std::string line;
  std::size_t dropped = 0;
  while (queue.Pop(line, dropped)) out.push_back(dropped ? "<dropped " + std::to_string(dropped) + ">" : line);
  return out;
}

TEST(TraceQueue, KeepsTextAndOrderWhileThereIsRoom) {
  TTraceQueue queue(8, 1024);
  queue.Push("a");
  queue.Push("");
  queue.Push("c\r\n");
  EXPECT_EQ(DrainAll(queue), (std::vector<std::string>{"a", "", "c\r\n"}));
  EXPECT_TRUE(queue.Empty());
}

TEST(TraceQueue, AFullQueueDropsUntilHalfDrainedThenMarksTheGapWithTheCount) {
  TTraceQueue queue(4, 1024);
  for (const char* line : {"1", "2", "3", "4", "5", "6"}) queue.Push(line);
  EXPECT_EQ(queue.PendingDrops(), 2u);
  std::string line;
  std::size_t dropped = 0;
  ASSERT_TRUE(queue.Pop(line, dropped));
  EXPECT_EQ(line, "1");
  queue.Push("7");  // three still wait: no room yet, dropped as well
  EXPECT_EQ(queue.PendingDrops(), 3u);
  ASSERT_TRUE(queue.Pop(line, dropped));  // drained to half: the notice goes in
  EXPECT_EQ(queue.PendingDrops(), 0u);
  queue.Push("8");
  EXPECT_EQ(DrainAll(queue), (std::vector<std::string>{"3", "4", "<dropped 3>", "8"}));
}

TEST(TraceQueue, DropsWithNothingAfterThemAreStillReported) {
  TTraceQueue queue(2, 1024);
  for (const char* line : {"1", "2", "3"}) queue.Push(line);
  EXPECT_EQ(DrainAll(queue), (std::vector<std::string>{"1", "2", "<dropped 1>"}));
  EXPECT_EQ(queue.PendingDrops(), 0u);
}

TEST(TraceQueue, TheByteBoundDropsLongLinesToo) {
  TTraceQueue queue(100, 10);
  queue.Push("123456");
  queue.Push("7890ab");  // 12 bytes would wait: dropped
  queue.Push("c");       // dropped until drained to half
  std::vector<std::string> out = DrainAll(queue);
  EXPECT_EQ(out, (std::vector<std::string>{"123456", "<dropped 2>"}));
  queue.Push("0123456789");  // exactly the bound fits in an empty queue
  EXPECT_EQ(DrainAll(queue), (std::vector<std::string>{"0123456789"}));
}

TEST(TraceQueue, TheNoticeSaysHowManyLinesWereLost) {
  EXPECT_EQ(DroppedTraceText(17), "trace: 17 lines dropped, the debug output was too slow");
}

}  // namespace
