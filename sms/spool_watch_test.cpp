#include "sms/spool_watch.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "core/event_selector.h"
#include "sms/smscmd_poller.h"
#include "sms/spool_test_support.h"

namespace {

long fake_sec = 1000;

void FakeClock(long *sec, long *usec) {
  *sec = fake_sec;
  *usec = 0;
}

class SpoolWatchTest : public SpoolTest {
 protected:
  void SetUp() override {
    SpoolTest::SetUp();
    fake_sec = 1000;
    OVKSetClockForTesting(FakeClock);
  }
  void TearDown() override {
    OVKSetClockForTesting(nullptr);
    SpoolTest::TearDown();
  }
  // One pass as the poller makes it over an empty directory.
  bool Pass(SpoolWatch &watch, const std::string &dir) {
    if (!watch.NeedsListing(Dir(dir).c_str())) return false;
    watch.Listed(true);
    return true;
  }
  // Lists until the directory counts as settled and clean.
  void Settle(SpoolWatch &watch, const std::string &dir) {
    Pass(watch, dir);
    fake_sec += SpoolWatch::kSettle;
    ASSERT_TRUE(Pass(watch, dir));
    ASSERT_FALSE(Pass(watch, dir));
  }
  OVKEventSelector selector_;
};

TEST_F(SpoolWatchTest, ListsUntilTheTimesHaveBeenStillForTheSettlingTime) {
  SpoolWatch watch;
  // Stamps are coarse: an entry added in the same tick as the last change
  // may leave them as they are, so young times are never trusted.
  for (int i = 0; i < SpoolWatch::kSettle; i++) {
    EXPECT_TRUE(Pass(watch, "in")) << i;
    fake_sec++;
  }
  EXPECT_TRUE(Pass(watch, "in"));
  EXPECT_FALSE(Pass(watch, "in"));
  EXPECT_FALSE(Pass(watch, "in"));
}

TEST_F(SpoolWatchTest, AnyChangeInTheDirectoryListsItAgain) {
  SpoolWatch watch;
  Settle(watch, "in");
  Put("in", "GSM1.abcdef", "From: 1\n\nx");
  EXPECT_TRUE(watch.NeedsListing(Dir("in").c_str()));
  watch.Listed(false);
  // A file that stays (locked, or not movable) keeps the listing going.
  fake_sec += 10;
  EXPECT_TRUE(watch.NeedsListing(Dir("in").c_str()));
  watch.Listed(false);
  EXPECT_TRUE(watch.NeedsListing(Dir("in").c_str()));

  // Taken away again: a change too, which must settle anew.
  ASSERT_EQ(0, unlink(Path("in", "GSM1.abcdef").c_str()));
  EXPECT_TRUE(Pass(watch, "in"));
  EXPECT_TRUE(Pass(watch, "in"));
  Settle(watch, "in");
}

TEST_F(SpoolWatchTest, AReplacedOrVanishedDirectoryIsListed) {
  SpoolWatch watch;
  Settle(watch, "in");
  ASSERT_EQ(0, rename(Dir("in").c_str(), Dir("old").c_str()));
  EXPECT_TRUE(Pass(watch, "in"));
  ASSERT_EQ(0, mkdir(Dir("in").c_str(), 0755));
  EXPECT_TRUE(Pass(watch, "in"));
}

TEST_F(SpoolWatchTest, AClockStepForgetsTheMark) {
  SpoolWatch watch;
  Settle(watch, "in");
  // The loop's clock jumping alone looks to the watch like the wall clock
  // being set: either way file stamps no longer compare with the past.
  fake_sec += 60;
  EXPECT_TRUE(Pass(watch, "in"));
}

TEST_F(SpoolWatchTest, ThePollerTakesAMessageFromASettledDirectoryAtOnce) {
  std::vector<std::string> lines;
  static std::vector<std::string> *seen;
  seen = &lines;
  SmscmdPoller poller(
      &selector_, 1000,
      [](const ScriptVariable &, const ScriptVariable &line, ScriptVariable &) {
        seen->push_back(line.Str());
        return 0;
      });
  for (int i = 0; i < SpoolWatch::kSettle; i++) {
    poller.ScanOnce();
    fake_sec++;
  }
  poller.ScanOnce();  // marks both directories clean
  poller.ScanOnce();  // skips them
  Put("in", "GSM1.abcdef", "From: 1\n\nstatus");
  poller.ScanOnce();
  EXPECT_EQ(std::vector<std::string>{"status"}, lines);
  EXPECT_EQ(std::vector<std::string>{"GSM1.abcdef"}, List("done"));
}

}  // namespace
