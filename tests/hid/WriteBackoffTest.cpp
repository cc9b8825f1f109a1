#include "hid/WriteBackoff.h"

#include <gtest/gtest.h>

namespace {

constexpr std::uint64_t kStart = 5000;

TEST(WriteBackoff, WritesGoThroughUntilOneTimesOut) {
  TWriteBackoff backoff;
  EXPECT_TRUE(backoff.Allows(0));
  EXPECT_TRUE(backoff.Allows(kStart));
  EXPECT_EQ(backoff.TakeSkipped(), 0u);
}

TEST(WriteBackoff, AfterATimeoutWritesAreSkippedForThePauseThenOneIsTried) {
  TWriteBackoff backoff;
  backoff.TimedOut(kStart);
  for (int i = 0; i < 9; ++i) EXPECT_FALSE(backoff.Allows(kStart + i * 100));
  EXPECT_FALSE(backoff.Allows(kStart + TWriteBackoff::kPauseMs - 1));
  EXPECT_TRUE(backoff.Allows(kStart + TWriteBackoff::kPauseMs));
  // The write tried times out again: a new pause from then.
  backoff.TimedOut(kStart + TWriteBackoff::kPauseMs + 200);
  EXPECT_FALSE(backoff.Allows(kStart + 2 * TWriteBackoff::kPauseMs + 199));
  EXPECT_TRUE(backoff.Allows(kStart + 2 * TWriteBackoff::kPauseMs + 200));
  EXPECT_EQ(backoff.TakeSkipped(), 11u);
  EXPECT_EQ(backoff.TakeSkipped(), 0u) << "taking the count resets it";
}

TEST(WriteBackoff, AWriteThatGoesThroughEndsThePauseAtOnce) {
  TWriteBackoff backoff;
  backoff.TimedOut(kStart);
  EXPECT_TRUE(backoff.Pausing());
  backoff.Succeeded();
  EXPECT_FALSE(backoff.Pausing());
  EXPECT_TRUE(backoff.Allows(kStart + 1));
}

TEST(WriteBackoff, ATickCountNearItsEndStillEndsThePause) {
  // GetTickCount64 does not wrap in practice, but a pause must not become
  // endless when `now` is close to the top of the range either.
  TWriteBackoff backoff;
  const std::uint64_t late = UINT64_MAX - 10;
  backoff.TimedOut(late);
  EXPECT_FALSE(backoff.Allows(late + 5));
  EXPECT_TRUE(backoff.Allows(UINT64_MAX)) << "the pause ends by the last tick";
}

}  // namespace
