#include "fsm/events.h"

#include "actions/actions.h"
#include "config/state_file.h"
#include "core/log.h"
#include "fsm/fsm_fixture_test.h"
#include "fsm/states.h"

namespace {

const char kDoorConfig[] =
    "[event door]\n"
    "fsm = security\n"
    "transit:armed = security.armed -> security.alarm\n"
    "transit = security.* -> security.armed\n";

TEST_F(FsmTest, QualifiedKeyReplacesPlainKey) {
  Configure(kDoorConfig);
  SetState("security.armed", false);
  ProcessEvent("door front");
  EXPECT_TRUE(Logged("Processing event ``door front''"));
  EXPECT_TRUE(Logged("new states: security.alarm"));
  EXPECT_EQ(CurrentStateOf("security"), "alarm");

  // In any other state only the plain key applies.
  ProcessEvent("door");
  EXPECT_EQ(CurrentStateOf("security"), "armed");
}

TEST_F(FsmTest, EventMachineIsInsertedAndEmptyEventOnlyLogs) {
  Configure("[event tick]\nfsm = clock\n");
  ProcessEvent("tick 1 2");
  EXPECT_TRUE(CurrentStates().Contains("clock"));
  EXPECT_EQ(LogLines(), std::vector<std::string>{"Processing event ``tick 1 2''"});
}

TEST_F(FsmTest, RuleOrderExactBeatsWildcard) {
  Configure(
      "[event e1]\ntransit = * -> b\n  a -> c\n"
      "[event e2]\ntransit = * -> b\n  * -> c\n"
      "[event e3]\ntransit = a -> b\n  a -> c\n  * -> d\n");
  SetState("a", false);
  ProcessEvent("e1");
  EXPECT_EQ(CurrentStateOf(""), "c");
  SetState("a", false);
  ProcessEvent("e2");
  EXPECT_EQ(CurrentStateOf(""), "b");
  SetState("a", false);
  ProcessEvent("e3");
  EXPECT_EQ(CurrentStateOf(""), "c");
}

TEST_F(FsmTest, RulesMatchStatesBeforeTheEvent) {
  // The second rule would match after the first was entered; it must not.
  Configure("[event go]\ntransit = a -> b\n  b -> c\n  x.* -> x.on\n");
  SetState("a", false);
  ProcessEvent("go");
  EXPECT_EQ(CurrentStateOf(""), "b");
  EXPECT_EQ(CurrentStateOf("x"), "on");
  EXPECT_EQ(CountLogged("Processing event ``go''"), 1);
}

TEST_F(FsmTest, MalformedRulesAreSkippedOneByOne) {
  Configure(
      "[event bad]\n"
      "transit = security.armed -> idle\n"
      "  security.armed security.alarm\n"
      "  pump.* -> pump.on\n");
  SetState("security.armed", false);
  ProcessEvent("bad");
  EXPECT_TRUE(Logged("conf. error: security.armed and idle aren't from one fsm"));
  EXPECT_TRUE(
      Logged("conf. error: no ``->'' in security.armed security.alarm"));
  EXPECT_EQ(CurrentStateOf("security"), "armed");
  EXPECT_EQ(CurrentStateOf("pump"), "on");
}

TEST_F(FsmTest, ActionsExecNotificationWithArguments) {
  Configure(
      "[variable target]\nenable = yes\n"
      "[event set]\n"
      "action = @SET target %1% %2%\n"
      "+@NOSUCH %0%\n"
      "notification = note_%1%\n"
      "exec = : %0% %1%\n");
  OpenState();
  ProcessEvent("set 21 22");
  EXPECT_TRUE(Logged("Executing event-associated command: [: set 21]"));
  EXPECT_TRUE(Logged("Doing (event) action ``@SET target %1% %2%\n"
                     "@NOSUCH %0%''"));
  EXPECT_EQ(GetVariable("target"), "21 22");
  EXPECT_TRUE(Logged("Unknown action [@NOSUCH set]"));
  EXPECT_TRUE(Logged("Phones not defined for notification ``note_21''"));
  // action, exec, notification: in that order.
  EXPECT_LT(LogIndex("Unknown action [@NOSUCH set]"),
            LogIndex("Executing event-associated command: [: set 21]"));
  EXPECT_LT(LogIndex("Executing event-associated command: [: set 21]"),
            LogIndex("Phones not defined for notification ``note_21''"));
}

TEST_F(FsmTest, SubeventsUseTheStateBeforeTheTransit) {
  Configure(
      "[event arm]\nfsm = security\n"
      "transit = security.* -> security.armed\n"
      "subevents:disarmed = said %1%\n  \n  again\n"
      "subevents:armed = wrong\n");
  SetState("security.disarmed", false);
  ProcessEvent("arm now");
  EXPECT_EQ(CurrentStateOf("security"), "armed");
  int said = LogIndex("Processing event ``said now''");
  int again = LogIndex("Processing event ``again''");
  EXPECT_GT(said, LogIndex("STATE is now ``" + State() + "''"));
  EXPECT_GT(again, said);
  EXPECT_FALSE(Logged("Processing event ``wrong''"));
}

TEST_F(FsmTest, ActivityEventsAndUnreadyDiversion) {
  Configure(
      "[event !activity]\naction = @LN+ nosuchline\n"
      "[event arm]\naction = @ACT+ window\n"
      "transit = security.* -> security.armed\n"
      "[state security.armed]\nunready = security.notready\n"
      "[state security.notready]\nunready = security.armed\nlamp = 100:900\n");
  ProcessEvent("arm");
  EXPECT_FALSE(IsReady());
  // !activity is processed before the transit of the outer event.
  EXPECT_LT(LogIndex("Processing event ``!activity''"),
            LogIndex("new states: security.armed"));
  EXPECT_TRUE(Logged("not ready for security; going to security.notready "
                     "instead of security.armed"));
  EXPECT_TRUE(Logged("YYY newstate security.notready lamp/sound 100:900/0 "
                     "notif [] trans [-1:]"));
  EXPECT_EQ(CurrentStateOf("security"), "notready");
  EXPECT_TRUE(Logged("STATE is now ``" + State() + "''"));

  // Once ready again the state is entered as asked.
  DoAction("@ACT- window");
  SetState("security.armed", false);
  EXPECT_EQ(CurrentStateOf("security"), "armed");
}

TEST_F(FsmTest, FaultyUnreadyStateStopsTheChange) {
  Configure(
      "[state s.a]\nunready = s.bad\n"
      "[state s.bad]\nsound = loud\n");
  SetState("s.old", false);
  DoAction("@ACT+ x");
  SetState("s.a", false);
  EXPECT_TRUE(Logged("conf. error for s.bad; not changing to it"));
  EXPECT_EQ(CurrentStateOf("s"), "old");
}

TEST_F(FsmTest, StateNotificationSeesNewstateUnlessQuiet) {
  Configure("[state security.alarm]\nnotification = alarm_%newstate% %1%\n");
  OpenState();
  SetState("security.alarm", true);
  EXPECT_FALSE(Logged("Phones not defined for notification "
                      "``alarm_security.alarm''"));
  // Quiet still stores and writes the state file.
  EXPECT_NE(ReadFile(dir_ + "/hovantra.state").find("alert = " + State()),
            std::string::npos);

  SetState("security.alarm", false);
  EXPECT_TRUE(Logged("Phones not defined for notification "
                     "``alarm_security.alarm''"));
}

TEST_F(FsmTest, NestingIsBounded) {
  Configure(
      "[event loop]\nsubevents = loop\n"
      "[event bounce]\naction = @ACT+ a\n  @ACT- a\n"
      "[event !ready]\nsubevents = bounce\n");
  ProcessEvent("loop");
  EXPECT_EQ(CountLogged("Processing event ``loop''"), kMaxEventDepth);
  EXPECT_EQ(CountLogged("Event ``loop'' nested too deeply (limit 32), ignored"),
            1);

  // The count is back at zero: a later event nests as deep again.
  ProcessEvent("loop");
  EXPECT_EQ(CountLogged("Processing event ``loop''"), 2 * kMaxEventDepth);

  // The same through !activity and !ready raised by actions.
  ProcessEvent("bounce");
  int refused = 0;
  for (const std::string &line : LogLines()) {
    refused += line.find("nested too deeply") != std::string::npos;
  }
  EXPECT_EQ(refused, 3);
  EXPECT_TRUE(IsReady());
}

// A flat subevents list of n plain events followed by one that leaves a
// mark in the state machines.
static std::string FanOutConfig(int n) {
  std::string config = "[general]\nwatchdog = 0\n[event fan]\nsubevents = ";
  for (int i = 0; i < n; i++) config += "plain\n  ";
  return config + "mark\n[event mark]\ntransit = * -> marked\n";
}

TEST_F(FsmTest, FanOutIsBoundedPerOutermostEvent) {
  // 300 legitimate subevents all run.
  Configure(FanOutConfig(300));
  ProcessEvent("fan");
  EXPECT_EQ(CurrentStateOf(""), "marked");

  // The outermost event and its subevents are counted together: the mark
  // is the last event allowed, then the first one dropped.
  Configure(FanOutConfig(kMaxEventsPerCause - 2));
  SetState("idle", false);
  ProcessEvent("fan");
  EXPECT_EQ(CurrentStateOf(""), "marked");
  Configure(FanOutConfig(kMaxEventsPerCause - 1));
  SetState("idle", false);
  ProcessEvent("fan");
  EXPECT_EQ(CurrentStateOf(""), "idle");

  // Each level raises itself twice: without a bound 2^32 events would run.
  Configure("[general]\nwatchdog = 0\n"
            "[event fork]\nsubevents = fork\n  fork\n"
            "[event mark]\ntransit = * -> marked\n");
  SetState("idle", false);
  ProcessEvent("fork");
  // The next outermost event has its own allowance.
  ProcessEvent("mark");
  EXPECT_EQ(CurrentStateOf(""), "marked");
}

}  // namespace
