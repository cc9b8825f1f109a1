#include <gtest/gtest.h>

#include "crash/report/BugReport.h"
#include "crash/report/FieldList.h"

namespace {

Fields Pairs(std::initializer_list<Field> list) { return Fields(list); }

TEST(FieldList, EmptyAfterTrimmingRemovesThePair) {
  FieldList list;
  list.Set("a", "1");
  list.Set("b", "2");
  list.Set("a", " \t\r\n ");
  EXPECT_EQ(list.Snapshot(), Pairs({{"b", "2"}}));
  list.Set("missing", "");
  EXPECT_EQ(list.Count(), 1u);
}

TEST(FieldList, ExistingNameIsReplacedInPlace) {
  FieldList list;
  list.Set("a", "1");
  list.Set("b", "2");
  list.Set("c", "3");
  list.Set("b", "two");
  EXPECT_EQ(list.Snapshot(), Pairs({{"a", "1"}, {"b", "two"}, {"c", "3"}}));
  EXPECT_EQ(list.Get("b"), "two");
  EXPECT_EQ(list.Get("z"), "");
}

TEST(FieldList, NewNamesGoToTheInsertionIndexEachAfterThePrevious) {
  FieldList list;
  for (const char* name : {"date/time", "user name", "callstack crc", "exception class"}) list.Set(name, "x");
  list.SetInsertionIndexBefore("callstack crc");
  list.Set("contact name", "Li");
  list.Set("contact email", "li@example.com");
  const Fields fields = list.Snapshot();
  ASSERT_EQ(fields.size(), 6u);
  EXPECT_EQ(fields[2].first, "contact name");
  EXPECT_EQ(fields[3].first, "contact email");
  EXPECT_EQ(fields[4].first, "callstack crc");
  // Replacing keeps the place and does not move the index.
  list.Set("contact name", "Wang");
  EXPECT_EQ(list.Snapshot()[2], Field("contact name", "Wang"));
  EXPECT_EQ(list.InsertionIndex(), 4);
}

TEST(FieldList, RemovalAheadOfTheInsertionIndexKeepsItsTarget) {
  FieldList list;
  for (const char* name : {"a", "b", "callstack crc"}) list.Set(name, "x");
  list.SetInsertionIndexBefore("callstack crc");
  list.Remove("a");
  list.Set("added", "y");
  EXPECT_EQ(list.Snapshot()[1].first, "added");
  EXPECT_EQ(list.Snapshot()[2].first, "callstack crc");
}

TEST(FieldList, IndexPastTheEndAppends) {
  FieldList list;
  list.Set("a", "1");
  list.SetInsertionIndex(7);
  list.Set("b", "2");
  list.Set("c", "3");
  EXPECT_EQ(list.Snapshot(), Pairs({{"a", "1"}, {"b", "2"}, {"c", "3"}}));
}

class CountingLock : public ILock {
 public:
  void lock() override { ++depth, ++entered; }
  void unlock() override { --depth; }
  int depth = 0, entered = 0;
};

TEST(FieldList, EveryCallHoldsItsLock) {
  auto lock = std::make_unique<CountingLock>();
  CountingLock* seen = lock.get();
  FieldList list(std::move(lock));
  list.Set("a", "1");
  (void)list.Get("a");
  (void)list.Snapshot();
  EXPECT_EQ(seen->entered, 3);
  EXPECT_EQ(seen->depth, 0);
}

struct Recorder {
  void Changed(BugReport* sender) { texts.push_back(sender->Text()); }
  std::vector<std::string> texts;
};

TEST(BugReport, EveryChangeRendersANewGenerationAndNotifiesListeners) {
  NullLockFactory locks;
  BugReport report(locks);
  Recorder recorder;
  const auto listener = BugReport::ChangedEvent::Bind<&Recorder::Changed>(&recorder);
  report.AddListener(listener);
  report.AddListener(listener);  // not twice
  EXPECT_EQ(report.Generation(), 0u);
  report.SetHeaderField("date/time", "now");
  report.SetSection("main thread ($1)", ">> will be calculated soon");
  report.SetSection("main thread ($1)", "00401000 app.exe");
  EXPECT_EQ(report.Generation(), 3u);
  ASSERT_EQ(recorder.texts.size(), 3u);
  EXPECT_EQ(recorder.texts.back(), "date/time : now\r\n\r\nmain thread ($1):\r\n00401000 app.exe");
  EXPECT_EQ(recorder.texts.back(), report.Text());
  report.RemoveListener(listener);
  report.SetHeaderField("user name", "x");
  EXPECT_EQ(recorder.texts.size(), 3u);
}

}  // namespace
