#include <gtest/gtest.h>

#include "support/Delegate.h"

namespace {

struct Target {
  int calls = 0;
  void A(TObject*) { ++calls; }
  void B(TObject*) { calls += 10; }
};

TEST(Event, UnsetIsFalseAndBoundCallsItsObject) {
  TNotifyEvent none;
  EXPECT_FALSE(none);
  Target t;
  TNotifyEvent a = TNotifyEvent::Bind<&Target::A>(&t);
  ASSERT_TRUE(a);
  a(nullptr);
  EXPECT_EQ(t.calls, 1);
}

TEST(Event, EqualityComparesBothPartsAndSameFunctionOnlyTheFunction) {
  Target t1, t2;
  const TNotifyEvent a1 = TNotifyEvent::Bind<&Target::A>(&t1);
  const TNotifyEvent a2 = TNotifyEvent::Bind<&Target::A>(&t2);
  const TNotifyEvent b1 = TNotifyEvent::Bind<&Target::B>(&t1);
  EXPECT_EQ(a1, TNotifyEvent::Bind<&Target::A>(&t1));
  EXPECT_NE(a1, a2);
  EXPECT_TRUE(a1.SameFunction(a2));
  EXPECT_FALSE(a1.SameFunction(b1));
}

}  // namespace
