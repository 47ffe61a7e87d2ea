#include "core/watchdog.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "core/test_log.h"

namespace {

long fake_sec = 0;
long fake_usec = 0;
void FakeClock(long *sec, long *usec) {
  *sec = fake_sec;
  *usec = fake_usec;
}

struct Breaker : OVKTimeoutHandler {
  explicit Breaker(OVKEventSelector *sel) : sel_(sel) {}
  void TimeoutHandle() override { sel_->Break(); }
  OVKEventSelector *sel_;
};

// Moves the frozen clock to sec.usec + 2 and runs exactly one pass in which
// everything expiring up to sec.usec + 1 fires.
void RunPassAt(OVKEventSelector *sel, Breaker *breaker, long sec, long usec) {
  fake_sec = sec;
  fake_usec = usec + 2;
  breaker->SetExpiry(sec, usec + 1);
  sel->RegisterTimeout(breaker);
  sel->Go();
}

class WatchdogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake_sec = 500;
    fake_usec = 900000;
    OVKSetClockForTesting(FakeClock);
  }
  void TearDown() override {
    alarm(0);
    OVKSetClockForTesting(nullptr);
  }
  TestLog log_;
  OVKEventSelector sel_;
};

TEST_F(WatchdogTest, TicksReArmTheAlarmAndResumeTheLog) {
  Watchdog dog(&sel_, 5000);
  EXPECT_EQ(log_.Lines().back(), "Watchdog interval is 5000 milliseconds");
  EXPECT_EQ(dog.ExpirySec(), 505);
  EXPECT_EQ(dog.ExpiryUsec(), 900000);
  EXPECT_EQ(alarm(0), 0u);  // no alarm before the first tick

  // Silence the log with the flood guard; the tick must lift it.
  for (int i = 0; i < 501; i++) LogMessage("flood %d", i);
  Breaker breaker(&sel_);
  RunPassAt(&sel_, &breaker, 505, 900000);
  unsigned left = alarm(0);
  EXPECT_GE(left, 9u);
  EXPECT_LE(left, 10u);
  std::vector<std::string> raw = log_.RawLines();
  ASSERT_FALSE(raw.empty());
  EXPECT_NE(raw.back().find("...RESUMING"), std::string::npos) << raw.back();
  LogMessage("after");
  EXPECT_NE(log_.RawLines().back().find(" [0] after"), std::string::npos);
  // Re-armed one interval after the tick.
  EXPECT_EQ(dog.ExpirySec(), 510);
  EXPECT_EQ(dog.ExpiryUsec(), 900002);

  // A tick while counting: the alive line, then the counter starts again.
  RunPassAt(&sel_, &breaker, 510, 900002);
  raw = log_.RawLines();
  EXPECT_NE(raw.back().find(" [1] Watchdog: I'm still alive"), std::string::npos)
      << raw.back();
  LogMessage("again");
  EXPECT_NE(log_.RawLines().back().find(" [0] again"), std::string::npos);
}

TEST_F(WatchdogTest, MillisecondsCarryAndDestructionUnregisters) {
  {
    Watchdog dog(&sel_, 1500);
    EXPECT_EQ(log_.Lines().back(), "Watchdog interval is 1500 milliseconds");
    EXPECT_EQ(dog.ExpirySec(), 502);
    EXPECT_EQ(dog.ExpiryUsec(), 400000);
  }
  Breaker breaker(&sel_);
  RunPassAt(&sel_, &breaker, 600, 0);  // the dead watchdog must not fire
  EXPECT_EQ(log_.Lines().back(), "Watchdog interval is 1500 milliseconds");
  EXPECT_EQ(alarm(0), 0u);
}

TEST_F(WatchdogTest, SubSecondIntervalClearsTheAlarm) {
  alarm(100);
  Watchdog dog(&sel_, 400);
  Breaker breaker(&sel_);
  RunPassAt(&sel_, &breaker, 501, 300000);
  EXPECT_EQ(log_.Lines().back(), "Watchdog: I'm still alive");
  EXPECT_EQ(alarm(0), 0u);  // (400 / 1000) * 2 == 0 seconds
}

TEST_F(WatchdogTest, StartRefusesIntervalsThatWouldSpin) {
  EXPECT_EQ(StartWatchdog(&sel_, 0), nullptr);
  EXPECT_TRUE(log_.Lines().empty());
  EXPECT_EQ(StartWatchdog(&sel_, -1), nullptr);
  EXPECT_EQ(log_.Lines().back(),
            "Negative watchdog interval -1 ignored, running without watchdog");
  // 2147484 seconds are 2147484000 ms: past the interval's range.
  for (long seconds : {2147484L, 9223372036854775807L}) {
    EXPECT_EQ(StartWatchdog(&sel_, seconds), nullptr);
    EXPECT_EQ(log_.Lines().back(),
              "Watchdog interval " + std::to_string(seconds) +
                  " too large (at most 2147483 seconds), running without watchdog");
  }
  // The largest interval that fits runs, ticking far ahead.
  Watchdog *dog = StartWatchdog(&sel_, 2147483);
  ASSERT_NE(dog, nullptr);
  EXPECT_EQ(log_.Lines().back(), "Watchdog interval is 2147483000 milliseconds");
  EXPECT_EQ(dog->ExpirySec(), 500 + 2147483);
  delete dog;
}

}  // namespace
