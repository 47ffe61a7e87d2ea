#include "fsm/timeout_transit.h"

#include "core/event_selector.h"
#include "fsm/events.h"
#include "fsm/fsm_test_support.h"
#include "fsm/set_state.h"
#include "fsm/state_machines.h"
#include "fsm/states.h"

namespace {

TEST_F(FsmTest, TimedTransitionEntersTargetThenFollowUp) {
  Configure(
      "[state security.armed]\ntransit = 10:security.alarm:siren %newstate%\n"
      "[event siren]\naction = @NOSUCH %1%\n");
  SetState("security.armed", false);
  EXPECT_TRUE(Logged("YYY scheduling transfer to security.alarm in 10"));
  TimeoutTransit *t = FindTimeoutTransit("security");
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->Delay(), 10);
  EXPECT_EQ(t->Target(), "security.alarm");
  EXPECT_EQ(t->Event(), "siren security.armed");

  FirePending("security");
  EXPECT_EQ(PendingTransits(), nullptr);
  EXPECT_EQ(CurrentStateOf("security"), "alarm");
  int entered = LogIndex("STATE is now ``security.alarm''");
  int follow = LogIndex("Processing event ``siren security.armed''");
  ASSERT_GE(entered, 0);
  EXPECT_GT(follow, entered);
  EXPECT_TRUE(Logged("Unknown action [@NOSUCH security.armed]"));
}

TEST_F(FsmTest, PendingTransitionIsCancelledByMachineOfTarget) {
  Configure(
      "[state heat.on]\ntransit = 600:pump.off\n"
      "[state security.armed]\ntransit = 30:security.alarm\n");
  SetState("heat.on", false);
  SetState("security.armed", false);
  ASSERT_NE(FindTimeoutTransit("pump"), nullptr);
  ASSERT_NE(FindTimeoutTransit("security"), nullptr);
  EXPECT_EQ(FindTimeoutTransit("heat"), nullptr);

  SetState("heat.eco", false);  // same machine as the state, not the target
  EXPECT_NE(FindTimeoutTransit("pump"), nullptr);
  EXPECT_FALSE(Logged("Cancelling timeout-based tranfer to pump.off"));

  SetState("pump.on", false);
  EXPECT_TRUE(Logged("Cancelling timeout-based tranfer to pump.off"));
  EXPECT_EQ(FindTimeoutTransit("pump"), nullptr);
  EXPECT_NE(FindTimeoutTransit("security"), nullptr);

  // Re-entering a state cancels its machine's transition and arms anew.
  SetState("security.armed", false);
  EXPECT_EQ(CountLogged("Cancelling timeout-based tranfer to security.alarm"),
            1);
  ASSERT_NE(PendingTransits(), nullptr);
  EXPECT_EQ(PendingTransits()->Next(), nullptr);
}

TEST_F(FsmTest, ArmingCancelsTheOlderTransitionOfTheTargetMachine) {
  // Both states belong to machine a but schedule into machine b.
  Configure(
      "[state a.one]\ntransit = 5:b.x\n"
      "[state a.two]\ntransit = 7:b.y\n");
  SetState("a.one", false);
  SetState("a.two", false);
  EXPECT_TRUE(Logged("Cancelling timeout-based tranfer to b.x"));
  TimeoutTransit *t = FindTimeoutTransit("b");
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->Target(), "b.y");
  EXPECT_EQ(t->Next(), nullptr);
}

TEST_F(FsmTest, EmptyTargetOnlyRaisesTheEvent) {
  Configure(
      "[state clock.tick]\ntransit = 3::beat\n"
      "[event beat]\nfsm = clock\n");
  SetState("clock.tick", false);
  FirePending("");
  EXPECT_EQ(CurrentStateOf("clock"), "tick");
  EXPECT_TRUE(Logged("Processing event ``beat''"));
}

// Stops the loop once the zero-delay transition has had its turn.
class Breaker : public OVKTimeoutHandler {
 public:
  explicit Breaker(OVKEventSelector *loop) : loop_(loop) {}
  void TimeoutHandle() override { loop_->Break(); }

 private:
  OVKEventSelector *loop_;
};

TEST_F(FsmTest, TransitionFiresFromTheLoop) {
  Configure(
      "[state door.open]\ntransit = 0:door.closed:shut\n"
      "[event shut]\nsubevents = shut\n");
  InitStateMachines(&loop_);
  SetState("door.open", false);
  Breaker breaker(&loop_);
  breaker.SetFromNow(0, 200000);
  loop_.RegisterTimeout(&breaker);
  loop_.Go();
  EXPECT_EQ(CurrentStateOf("door"), "closed");
  EXPECT_EQ(PendingTransits(), nullptr);
  // A follow-up from the loop starts at the outermost depth.
  EXPECT_EQ(CountLogged("Processing event ``shut''"), kMaxEventDepth);
}

}  // namespace
