#include "actions/actions.h"

#include <gtest/gtest.h>

#include "actions/restart_timeout.h"
#include "actions/runtime_variables.h"
#include "config/configuration.h"
#include "config/state_file.h"
#include "core/event_selector.h"
#include "core/event_sink.h"
#include "core/log_test_support.h"
#include "core/process_state.h"
#include "devices/boards_test_support.h"

namespace {

ScriptVector raised;
void Capture(const ScriptVariable &line) { raised.push_back(line); }

class ActionsTest : public ::testing::Test {
 protected:
  ActionsTest() {
    raised.clear();
    ResetProcessState();
    SetEventSink(Capture);
  }
  ~ActionsTest() override { ResetProcessState(); }
  void Configure(const std::string &ini) {
    log.Dir().Write("test.ini", ini);
    ASSERT_TRUE(LoadConfiguration(log.Dir().File("test.ini")));
  }
  TestLog log;
};

TEST_F(ActionsTest, ActivityListRaisesOnlyWhenCrossingEmpty) {
  EXPECT_TRUE(IsReady());
  EXPECT_TRUE(DoAction("@ACT- x"));  // empty list: nothing to report
  EXPECT_TRUE(raised.empty());

  EXPECT_TRUE(DoAction("@act+ window"));
  EXPECT_EQ(raised, ScriptVector({"!activity"}));
  EXPECT_FALSE(IsReady());
  EXPECT_TRUE(DoAction("  @ACT+\twindow  "));
  EXPECT_TRUE(DoAction("@Act+ door"));
  EXPECT_TRUE(DoAction("@ACT- x"));
  EXPECT_EQ(raised.size(), 1u);

  EXPECT_TRUE(DoAction("@ACT- window"));
  EXPECT_EQ(raised.size(), 1u);
  EXPECT_FALSE(IsReady());
  EXPECT_TRUE(DoAction("@act- door extra words"));
  EXPECT_EQ(raised, ScriptVector({"!activity", "!ready"}));
  EXPECT_TRUE(IsReady());

  // A name held once is removed by one @ACT-.
  DoAction("@ACT+ a");
  DoAction("@ACT+ a");
  DoAction("@ACT- a");
  EXPECT_TRUE(IsReady());
  EXPECT_EQ(raised.size(), 4u);
}

TEST_F(ActionsTest, SetJoinsValueWordsOfEnabledVariablesOnly) {
  Configure(
      "[variable temp]\n"
      "enable = yes\n"
      "[variable locked]\n"
      "enable = no\n");
  EXPECT_FALSE(DoAction("@SET temp 20"));  // no state file yet
  OpenStateFile(ScriptVariable(log.Dir().File("test.state")));
  EXPECT_TRUE(DoAction("@set   temp   20    30  "));
  EXPECT_EQ(GetVariable("temp"), "20 30");
  EXPECT_FALSE(DoAction("@SET locked 1"));
  EXPECT_FALSE(DoAction("@SET nosuch 1"));
  EXPECT_TRUE(GetVariable("locked").IsAbsent());
}

TEST_F(ActionsTest, UnknownVerbIsLoggedAsGiven) {
  EXPECT_FALSE(DoAction("@BLINK"));
  EXPECT_FALSE(DoAction(" @blink  fast "));
  EXPECT_FALSE(DoAction(""));
  EXPECT_FALSE(DoAction("@LN"));
  EXPECT_TRUE(log.Contains("Unknown action [@BLINK]"));
  EXPECT_TRUE(log.Contains("Unknown action [ @blink  fast ]"));
  EXPECT_TRUE(log.Contains("Unknown action []"));
  EXPECT_TRUE(log.Contains("Unknown action [@LN]"));
  EXPECT_TRUE(raised.empty());
}

TEST_F(ActionsTest, RestartBeforeTheLoopOnlySetsTheFlag) {
  EXPECT_FALSE(RestartRequested());
  EXPECT_TRUE(DoAction("@restart"));
  EXPECT_TRUE(RestartRequested());
  EXPECT_EQ(LastRestartTimeout(), nullptr);
  ResetActions();
  EXPECT_FALSE(RestartRequested());
}

TEST_F(ActionsTest, QuitBeforeTheLoopExitsAtOnce) {
  EXPECT_EXIT(DoAction("@QUIT"), ::testing::ExitedWithCode(0), "");
}

// Fails the test instead of hanging when the loop is never stopped.
class Guard : public OVKTimeoutHandler {
 public:
  explicit Guard(OVKEventSelector *loop) : loop_(loop) {}
  void TimeoutHandle() override {
    fired = true;
    loop_->Break();
  }
  bool fired = false;

 private:
  OVKEventSelector *loop_;
};

long MillisFromNow(const OVKTimeoutHandler *t) {
  long sec, usec;
  OVKCurrentTime(&sec, &usec);
  return (t->ExpirySec() - sec) * 1000 + (t->ExpiryUsec() - usec) / 1000;
}

// Runs the loop with the restart timeout made due now.
bool LoopStoppedByRestartTimeout(OVKEventSelector &loop, RestartTimeout *t) {
  loop.RemoveTimeout(t);
  t->SetFromNow(0, 0);
  loop.RegisterTimeout(t);
  Guard guard(&loop);
  guard.SetFromNow(10, 0);
  loop.RegisterTimeout(&guard);
  loop.Go();
  loop.RemoveTimeout(&guard);
  return !guard.fired;
}

TEST_F(ActionsTest, QuitAndRestartInTheLoopStopItAfterTwoSeconds) {
  OVKEventSelector loop;
  SetActionEventLoop(&loop);
  EXPECT_EQ(ActionEventLoop(), &loop);

  EXPECT_TRUE(DoAction("@Quit"));
  EXPECT_FALSE(RestartRequested());
  RestartTimeout *quit = LastRestartTimeout();
  ASSERT_NE(quit, nullptr);
  EXPECT_GT(MillisFromNow(quit), 1900);
  EXPECT_LE(MillisFromNow(quit), 2000);
  EXPECT_TRUE(LoopStoppedByRestartTimeout(loop, quit));

  EXPECT_TRUE(DoAction("@RESTART"));
  EXPECT_TRUE(RestartRequested());
  RestartTimeout *restart = LastRestartTimeout();
  ASSERT_NE(restart, nullptr);
  EXPECT_NE(restart, quit);
  EXPECT_GT(MillisFromNow(restart), 1900);
  EXPECT_TRUE(LoopStoppedByRestartTimeout(loop, restart));

  ResetActions();
  EXPECT_EQ(LastRestartTimeout(), nullptr);
  EXPECT_EQ(ActionEventLoop(), nullptr);
}

// @LN+ and @LN- switch outputs of simulated boards.
class LineActionsTest : public BoardsTest {};

TEST_F(LineActionsTest, SwitchesTheNamedOutputByTheFourthCharacter) {
  Add("a", "1:2:1a2b");
  Configure("[device 1a2b]\noutput:0 = siren\noutput:2 = pump\n");
  devices_configure();
  EXPECT_TRUE(DoAction("@ln+ pump"));
  EXPECT_EQ(Get("a").outputs, 4u);
  EXPECT_TRUE(DoAction(" @LN+  siren ignored words"));
  EXPECT_EQ(Get("a").outputs, 5u);
  EXPECT_TRUE(DoAction("@LN- pump"));
  EXPECT_EQ(Get("a").outputs, 1u);
  EXPECT_FALSE(DoAction("@LN+ nosuch"));
  EXPECT_FALSE(DoAction("@LN+"));
  EXPECT_EQ(Get("a").outputs, 1u);
}

TEST_F(LineActionsTest, UnavailableBoardFails) {
  Configure("[device 1a2b]\noutput:0 = siren\n");
  devices_configure();
  EXPECT_FALSE(DoAction("@LN+ siren"));
}

}  // namespace
