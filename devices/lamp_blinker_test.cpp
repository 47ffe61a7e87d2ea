#include "devices/lamp_blinker.h"

#include "devices/boards_test_support.h"

namespace {

const unsigned kLamp = 1u << 0;
const unsigned kSound = 1u << 1;

class LampBlinkerTest : public BoardsTest {
 protected:
  void SetUp() override {
    BoardsTest::SetUp();
    Add("a", "1:1:1");
    Configure("[device 1]\noutput:0 = ^lamp\noutput:1 = ^sound\n");
    devices_configure();
    lamp_blinker_create(&selector_);
  }
  LampBlinker *B() { return lamp_blinker(); }
  unsigned Outputs() { return Get("a").outputs & (kLamp | kSound); }
  size_t Commands() { return Get("a").commands.size(); }
  // Milliseconds until the blinker's timer expires.
  long DueInMs() {
    long sec, usec;
    OVKCurrentTime(&sec, &usec);
    return (B()->ExpirySec() - sec) * 1000 + (B()->ExpiryUsec() - usec) / 1000;
  }

  OVKEventSelector selector_;
};

TEST_F(LampBlinkerTest, BlinksWithTheSounderAlongsideTheLamp) {
  EXPECT_FALSE(B()->Armed());
  EXPECT_EQ(B()->SoundMode(), 1);
  lamp_set_pattern(500, 300, 3);
  EXPECT_EQ(B()->Phase(), 1);
  EXPECT_EQ(Outputs(), kLamp | kSound);
  EXPECT_TRUE(B()->Armed());
  EXPECT_GT(DueInMs(), 400);
  EXPECT_LE(DueInMs(), 500);
  B()->TimeoutHandle();
  EXPECT_EQ(B()->Phase(), 0);
  EXPECT_EQ(Outputs(), 0u);
  EXPECT_LE(DueInMs(), 300);
  EXPECT_GT(DueInMs(), 200);
  B()->TimeoutHandle();
  EXPECT_EQ(Outputs(), kLamp | kSound);
  EXPECT_EQ(Commands(), 6u);  // two switches on every phase change
}

TEST_F(LampBlinkerTest, SounderAgainstTheLampAndSteadySounds) {
  lamp_set_pattern(200, 200, 4);
  EXPECT_EQ(Outputs(), kLamp);
  B()->TimeoutHandle();
  EXPECT_EQ(Outputs(), kSound);
  // Steady on: switched at once, and the blink no longer touches it.
  lamp_set_pattern(-1, -1, 2);
  EXPECT_EQ(Outputs(), kSound);
  EXPECT_EQ(B()->Phase(), 0);
  size_t before = Commands();
  B()->TimeoutHandle();
  EXPECT_EQ(Outputs(), kLamp | kSound);
  EXPECT_EQ(Commands(), before + 1);
  lamp_set_pattern(-1, -1, 1);
  EXPECT_EQ(Outputs(), kLamp);
}

TEST_F(LampBlinkerTest, SamePatternLeavesTheBlinkAlone) {
  lamp_set_pattern(500, 500, 3);
  B()->TimeoutHandle();
  long sec = B()->ExpirySec(), usec = B()->ExpiryUsec();
  size_t before = Commands();
  lamp_set_pattern(500, 500, 0);
  EXPECT_EQ(B()->Phase(), 0);
  EXPECT_EQ(B()->ExpirySec(), sec);
  EXPECT_EQ(B()->ExpiryUsec(), usec);
  EXPECT_EQ(Commands(), before);
  lamp_set_pattern(500, 500, 2);  // only the sound mode applies
  EXPECT_EQ(B()->Phase(), 0);
  EXPECT_EQ(Commands(), before + 1);
  EXPECT_EQ(Outputs(), kSound);
}

TEST_F(LampBlinkerTest, SteadyPatternsAndChangesBetweenThem) {
  lamp_set_pattern(0, 300, 0);
  EXPECT_EQ(B()->Phase(), -1);
  EXPECT_FALSE(B()->Armed());
  EXPECT_EQ(Outputs(), 0u);
  EXPECT_EQ(Commands(), 1u);  // the lamp, although it was off already
  lamp_set_pattern(300, 0, 0);
  EXPECT_EQ(B()->Phase(), -2);
  EXPECT_EQ(Outputs(), kLamp);
  // Steady lit to blinking darkens at once.
  lamp_set_pattern(100, 100, 3);
  EXPECT_EQ(B()->Phase(), 0);
  EXPECT_EQ(Outputs(), 0u);
  B()->TimeoutHandle();
  EXPECT_EQ(Outputs(), kLamp | kSound);
  // Off after blinking: dark at once, timer gone, sounder as left.
  lamp_set_pattern(0, 0, 0);
  EXPECT_EQ(B()->Phase(), -1);
  EXPECT_FALSE(B()->Armed());
  EXPECT_EQ(Outputs(), kSound);
  // Steady dark to blinking lights at once; a new blink changes over at once.
  lamp_set_pattern(100, 100, 0);
  EXPECT_EQ(Outputs(), kLamp | kSound);
  lamp_set_pattern(700, 100, 0);
  EXPECT_EQ(B()->Phase(), 0);
  EXPECT_EQ(Outputs(), 0u);
  EXPECT_LE(DueInMs(), 100);
  B()->TimeoutHandle();
  EXPECT_GT(DueInMs(), 600);
}

TEST_F(LampBlinkerTest, MissingLinesAreLoggedAndTheBlinkGoesOn) {
  Configure("[device 1]\noutput:0 = other\n");
  devices_configure();
  log_.Clear();
  lamp_set_pattern(100, 100, 3);
  EXPECT_EQ(log_.Lines(),
            (std::vector<std::string>{
                "Output channel name ``^lamp'' not found, check config",
                "Output channel name ``^sound'' not found, check config"}));
  EXPECT_TRUE(B()->Armed());
  lamp_blinker_destroy();
  lamp_set_pattern(100, 100, 2);  // no blinker: nothing happens
  EXPECT_EQ(lamp_blinker(), nullptr);
}

}  // namespace
