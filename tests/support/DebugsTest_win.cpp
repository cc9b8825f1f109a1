// The debug trace against a real debug-output viewer (the test's reader):
// order and text, a slow or stuck viewer, and exit with lines still queued.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "WineTestSupport_win.h"
#include "support/Debugs.h"

namespace ts = testing_support;

namespace {

const std::string kDroppedText = "trace: ";

class Debugs : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(viewer.Ok()) << "cannot act as the debug-output viewer";
    viewer.FilterProcess(GetCurrentProcessId());
  }

  // Bodies of the lines that start with `tag` or are drop notices.
  std::vector<std::string> Tagged(const std::string& tag) const {
    std::vector<std::string> bodies;
    for (const std::string& line : viewer.Lines()) {
      const std::string body = ts::DebugOutputReader::Body(line);
      if (body.compare(0, tag.size(), tag) == 0 || body.compare(0, kDroppedText.size(), kDroppedText) == 0)
        bodies.push_back(body);
    }
    return bodies;
  }

  // Walks "<tag> N" lines and drop notices: every number from 0 on must be
  // there once, in order, or be counted by the notice in its place. Returns
  // how many numbers are accounted for.
  int AccountFor(const std::string& tag, int* notices = nullptr) const {
    int next = 0;
    for (const std::string& body : Tagged(tag)) {
      if (body.compare(0, kDroppedText.size(), kDroppedText) == 0) {
        next += std::atoi(body.c_str() + kDroppedText.size());
        if (notices) ++*notices;
      } else if (body == tag + std::to_string(next)) {
        ++next;
      } else {
        ADD_FAILURE() << "out of order or changed: \"" << body << "\", expected \"" << tag << next << "\"";
        return -1;
      }
    }
    return next;
  }

  ts::DebugOutputReader viewer;
};

long Elapsed(ULONGLONG since) { return static_cast<long>(GetTickCount64() - since); }

TEST_F(Debugs, LinesReachTheViewerInOrderWithTheirTextAndTimePrefix) {
  for (int i = 0; i < 1000; ++i) TraceFmt("order %d", i);
  Trace("");
  ASSERT_TRUE(ts::WaitUntil([&] { return viewer.Lines().size() >= 1001; }, 60000))
      << viewer.Lines().size() << " lines arrived";
  const std::vector<std::string> lines = viewer.Lines();
  ASSERT_EQ(lines.size(), 1001u);
  for (int i = 0; i < 1000; ++i) {
    ASSERT_EQ(ts::DebugOutputReader::Body(lines[i]), "order " + std::to_string(i));
    ASSERT_EQ(lines[i].size(), 9 + ts::DebugOutputReader::Body(lines[i]).size());
  }
  // The empty text: the time prefix alone, "hh:nn:ss ".
  ASSERT_EQ(lines[1000].size(), 9u);
  EXPECT_EQ(lines[1000][2], ':');
  EXPECT_EQ(lines[1000][5], ':');
  EXPECT_EQ(lines[1000][8], ' ');
}

TEST_F(Debugs, ASlowViewerDoesNotSlowTheCaller) {
  // 10 ms a line: a caller that waited for the viewer would take 3 s.
  viewer.SetDelayPerLine(10);
  const ULONGLONG start = GetTickCount64();
  for (int i = 0; i < 300; ++i) TraceFmt("slow %d", i);
  EXPECT_LT(Elapsed(start), 1500);
  ASSERT_TRUE(ts::WaitUntil([&] { return AccountFor("slow ") >= 300; }, 60000)) << AccountFor("slow ");
  EXPECT_EQ(AccountFor("slow "), 300);
  EXPECT_EQ(Tagged("slow ").size(), 300u) << "no line may be dropped while the queue has room";
}

TEST_F(Debugs, AStuckViewerCostsLinesThatAreCountedInTheirPlace) {
  viewer.Hold(true);
  const ULONGLONG start = GetTickCount64();
  for (int i = 0; i < 6000; ++i) TraceFmt("stuck %d", i);
  EXPECT_LT(Elapsed(start), 3000);
  viewer.Hold(false);
  ASSERT_TRUE(ts::WaitUntil([&] { return AccountFor("stuck ") >= 6000; }, 120000)) << AccountFor("stuck ");
  int notices = 0;
  EXPECT_EQ(AccountFor("stuck ", &notices), 6000);
  EXPECT_GE(notices, 1);
  EXPECT_LT(Tagged("stuck ").size(), 6000u);
}

class DebugsAtExit : public Debugs {
 protected:
  // Runs the burst program (see its file); returns how long it took to end,
  // or -1.
  long RunBurst(int count, int idleMs = 0) {
    ts::ChildProcess burst;
    // The filter is set before the program's first line can be written.
    if (!burst.StartSuspended(ts::PathFromEnv("QEX_TRACE_BURST_EXE"),
                              std::to_string(count) + " " + std::to_string(idleMs))) return -1;
    viewer.FilterProcess(burst.Pid());
    if (!burst.Resume()) return -1;
    const ULONGLONG start = GetTickCount64();
    if (burst.Wait(60000) != 0) return -1;
    return Elapsed(start);
  }
};

TEST_F(DebugsAtExit, LinesStillQueuedGoOutBeforeTheProcessEnds) {
  // A slow viewer keeps lines queued when main returns; the pause after the
  // first line lets the writer go idle before the rest come, just before exit.
  viewer.SetDelayPerLine(2);
  ASSERT_GE(RunBurst(100, 300), 0) << "the burst program did not run to its end";
  // The program's last line is in the shared buffer when it ends, but the
  // viewer may take it a moment later: on a busy machine it once had not.
  ts::WaitUntil([&] { return Tagged("burst ").size() >= 100; }, 10000);
  EXPECT_EQ(AccountFor("burst "), 100);
  EXPECT_EQ(Tagged("burst ").size(), 100u);
}

TEST_F(DebugsAtExit, AStuckViewerDelaysTheEndOnlyBriefly) {
  viewer.Hold(true);
  const long took = RunBurst(100);
  viewer.Hold(false);
  ASSERT_GE(took, 0) << "the burst program did not end";
  // Waiting for the viewer line by line would take minutes.
  EXPECT_LT(took, 20000);
}

}  // namespace
