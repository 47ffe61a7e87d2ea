#include "fsm/states.h"

#include "config/state_file.h"
#include "core/event_selector.h"
#include "fsm/events.h"
#include "fsm/fsm_fixture_test.h"
#include "fsm/timeout_transit.h"

namespace {

TEST_F(FsmTest, StateNamesAndTextForm) {
  SetState("alarm", false);
  EXPECT_EQ(CurrentStates().Get(""), "alarm");
  EXPECT_EQ(State(), "alarm");

  // Only the token after the first dot is the state.
  SetState("a.b.c", false);
  EXPECT_EQ(CurrentStates().Get("a"), "b");
  EXPECT_EQ(CurrentStateOf("a"), "b");

  // A machine looked up but never entered shows as "name." in the text.
  EXPECT_EQ(CurrentStateOf("ghost"), "");
  EXPECT_TRUE(CurrentStates().Contains("ghost"));

  EXPECT_NE(State().find("ghost."), std::string::npos);
  EXPECT_NE(State().find("a.b"), std::string::npos);
}

TEST_F(FsmTest, TextFormOfEmptyDefaultMachine) {
  StatesSet set;
  set.Set("", "");
  EXPECT_EQ(StatesText(set), "");
  set.Set("security", "armed");
  // Whatever the order, the empty default entry adds no dot.
  std::string text = StatesText(set).Str();
  EXPECT_TRUE(text == "security.armed" || text == "security.armed ") << text;
}

TEST_F(FsmTest, StateConfigLampValues) {
  Configure(
      "[state a]\nlamp = 500:500\n"
      "[state b]\nlamp = 0x10:010\n"
      "[state c]\nlamp = on\n"
      "[state d]\nlamp = off\n"
      "[state e]\nlamp = 5\n"
      "[state f]\nlamp = 5:x\n"
      "[state g]\nlamp = ON\n"
      "[state h]\nlamp = 1:2:3\n"
      "[state i]\nlamp = -5:-5\n"
      "[state j]\nlamp = 500:-1\n"
      "[state k]\nlamp = 0:-1\n"
      "[state l]\nlamp = 0:0\n");
  StateConfig c;
  ASSERT_TRUE(ReadStateConfig("a", c));
  EXPECT_EQ(c.lamp_on, 500);
  EXPECT_EQ(c.lamp_off, 500);
  ASSERT_TRUE(ReadStateConfig("b", c));
  EXPECT_EQ(c.lamp_on, 16);
  EXPECT_EQ(c.lamp_off, 8);
  ASSERT_TRUE(ReadStateConfig("c", c));
  EXPECT_EQ(c.lamp_on, 1);
  EXPECT_EQ(c.lamp_off, 0);
  ASSERT_TRUE(ReadStateConfig("d", c));
  EXPECT_EQ(c.lamp_on, 0);
  EXPECT_EQ(c.lamp_off, 0);
  ASSERT_TRUE(ReadStateConfig("l", c));
  EXPECT_EQ(c.lamp_on, 0);
  EXPECT_EQ(c.lamp_off, 0);
  // Negative times would keep the blink timer always due.
  for (const char *bad : {"e", "f", "g", "h", "i", "j", "k"}) {
    EXPECT_FALSE(ReadStateConfig(bad, c)) << bad;
    EXPECT_TRUE(Logged(std::string("Incorrect lamp timing for state ``") +
                       bad + "''"))
        << bad;
  }
}

TEST_F(FsmTest, StateConfigSoundTransitAndDefaults) {
  Configure(
      "[state s1]\nsound =  Against \n"
      "[state s2]\nsound = WithLamp\n"
      "[state s3]\nsound = Beep\n"
      "[state t1]\ntransit = 30:security.armed\n"
      "[state t2]\ntransit = 30 : security.armed : check : more\n"
      "[state t3]\ntransit = security.armed\n"
      "[state t4]\ntransit = 0x1e:\n"
      "[state both]\nlamp = 5\nsound = beep\n"
      "[state full]\nnotification = alarm %newstate%\n"
      "unready = security.notready\n");
  StateConfig c;
  ASSERT_TRUE(ReadStateConfig("s1", c));
  EXPECT_EQ(c.sound_mode, 4);
  ASSERT_TRUE(ReadStateConfig("s2", c));
  EXPECT_EQ(c.sound_mode, 3);
  EXPECT_FALSE(ReadStateConfig("s3", c));
  EXPECT_TRUE(Logged("Unknown sound mode ``beep'' for state ``s3''"));

  ASSERT_TRUE(ReadStateConfig("t1", c));
  EXPECT_EQ(c.transit_delay, 30);
  EXPECT_EQ(c.transit_target, "security.armed");
  EXPECT_TRUE(c.transit_event.IsEmpty());
  ASSERT_TRUE(ReadStateConfig("t2", c));
  EXPECT_EQ(c.transit_delay, 30);
  EXPECT_EQ(c.transit_target, "security.armed");
  EXPECT_EQ(c.transit_event, "check");
  EXPECT_FALSE(ReadStateConfig("t3", c));
  EXPECT_TRUE(Logged("Incorrect transit spec for state ``t3''"));
  ASSERT_TRUE(ReadStateConfig("t4", c));
  EXPECT_EQ(c.transit_delay, 30);
  EXPECT_EQ(c.transit_target, "");

  // Lamp is checked first; its failure ends the reading.
  EXPECT_FALSE(ReadStateConfig("both", c));
  EXPECT_TRUE(Logged("Incorrect lamp timing for state ``both''"));
  EXPECT_FALSE(Logged("Unknown sound mode ``beep'' for state ``both''"));

  ASSERT_TRUE(ReadStateConfig("full", c));
  EXPECT_EQ(c.notification, "alarm %newstate%");
  EXPECT_EQ(c.unready, "security.notready");

  // A state without a section has no effects; the record is reset.
  ASSERT_TRUE(ReadStateConfig("nosection", c));
  EXPECT_EQ(c.lamp_on, -1);
  EXPECT_EQ(c.lamp_off, -1);
  EXPECT_EQ(c.sound_mode, 0);
  EXPECT_EQ(c.transit_delay, -1);
  EXPECT_TRUE(c.notification.IsEmpty());
  EXPECT_TRUE(c.unready.IsEmpty());
}

TEST_F(FsmTest, FaultyStateIsNotEnteredAndKeepsItsTransition) {
  Configure(
      "[state security.armed]\ntransit = 60:security.alarm\n"
      "[state security.broken]\nlamp = nonsense\n");
  SetState("security.armed", false);
  ASSERT_NE(FindTimeoutTransit("security"), nullptr);
  SetState("security.broken", false);
  EXPECT_TRUE(Logged("conf. error for security.broken; not changing to it"));
  EXPECT_EQ(CurrentStateOf("security"), "armed");
  EXPECT_NE(FindTimeoutTransit("security"), nullptr);
}

TEST_F(FsmTest, StartUpRestoresSavedStatesQuietly) {
  Configure(
      "[general]\ndefaultstate = idle\n"
      "[state security.armed]\nnotification = armed_note\n"
      "transit = 600:security.check\n"
      "[state heat.eco]\nnotification = eco_note\n");
  OpenState("[State ]\nalert = security.armed heat.eco\n");
  InitStateMachines(&loop_);

  EXPECT_EQ(StateMachinesLoop(), &loop_);
  EXPECT_EQ(CurrentStateOf("security"), "armed");
  EXPECT_EQ(CurrentStateOf("heat"), "eco");
  EXPECT_EQ(CurrentStateOf(""), "");  // created first, never entered
  EXPECT_LT(LogIndex("YYY newstate security.armed lamp/sound -1:-1/0 notif "
                     "[armed_note] trans [600:security.check]"),
            LogIndex("YYY newstate heat.eco lamp/sound -1:-1/0 notif "
                     "[eco_note] trans [-1:]"));
  // Quiet: the notifications are never looked at.
  EXPECT_FALSE(Logged("Phones not defined for notification ``armed_note''"));
  EXPECT_FALSE(Logged("Phones not defined for notification ``eco_note''"));
  TimeoutTransit *t = FindTimeoutTransit("security");
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->Loop(), &loop_);
  std::string saved = ReadFile(dir_ + "/hovantra.state");
  EXPECT_NE(saved.find("alert = " + State()), std::string::npos) << saved;

}

TEST_F(FsmTest, StartUpWithoutSavedStates) {
  Configure("[general]\nname = box\n");
  OpenState("[State ]\nalert = \n");  // empty counts as missing
  InitStateMachines(&loop_);
  EXPECT_EQ(State(), "#nostate#");
  EXPECT_TRUE(Logged("STATE is now ``#nostate#''"));
  ResetStateMachines();
  Configure("[general]\ndefaultstate = security.disarmed  heat.off\n");
  ResetStateFile();
  InitStateMachines(&loop_);
  EXPECT_EQ(CurrentStateOf("security"), "disarmed");
  EXPECT_EQ(CurrentStateOf("heat"), "off");
}

}  // namespace
