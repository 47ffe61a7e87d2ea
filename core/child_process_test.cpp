#include "core/child_process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "core/log_test_support.h"
#include "core/process_state.h"

namespace {

// Runs the loop until done() holds or five seconds have passed, checking
// every few milliseconds.  Returns done().
class Poller : public OVKTimeoutHandler {
 public:
  Poller(OVKEventSelector *sel, std::function<bool()> done)
      : sel_(sel), done_(done) {}
  bool Run() {
    OVKCurrentTime(&deadline_, &unused_);
    deadline_ += 5;
    Arm();
    sel_->Go();
    sel_->RemoveTimeout(this);
    return done_();
  }
  void TimeoutHandle() override {
    long now, usec;
    OVKCurrentTime(&now, &usec);
    if (done_() || now > deadline_) {
      sel_->Break();
      return;
    }
    Arm();
  }

 private:
  void Arm() {
    SetFromNow(0, 5000);
    sel_->RegisterTimeout(this);
  }
  OVKEventSelector *sel_;
  std::function<bool()> done_;
  long deadline_ = 0, unused_ = 0;
};

bool RunUntil(OVKEventSelector *sel, std::function<bool()> done) {
  Poller p(sel, done);
  return p.Run();
}

class ChildProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    OVKResetSignalQueue();
    agent_.Attach(&sel_);
    SetChildWaitAgent(&agent_);
  }
  void TearDown() override { ResetProcessState(); }

  TestLog log_;
  OVKEventSelector sel_;
  OVKChildWaitAgent agent_;
};

TEST_F(ChildProcessTest, ExitCodeIsLoggedRawAndTheRecordIsReaped) {
  SpawnShellCommand("exit 3");
  EXPECT_EQ(agent_.WatchedCount(), 1u);
  ASSERT_TRUE(RunUntil(&sel_, [&] { return agent_.WatchedCount() == 0; }));
  EXPECT_TRUE(log_.Contains("Command completed, code == 768"));
}

TEST_F(ChildProcessTest, CommandGetsOnlyStandardDescriptorsAndDefaultSigpipe) {
  // As in the daemon: SIGPIPE ignored, a descriptor far above 31 open.
  signal(SIGPIPE, SIG_IGN);
  int spare = open("/dev/null", O_RDONLY);
  ASSERT_GE(spare, 0);
  ASSERT_EQ(dup2(spare, 100), 100);
  SpawnShellCommand("[ -e /proc/self/fd/100 ] && exit 1; exit 0");
  SpawnShellCommand("kill -PIPE $$; exit 5");
  bool reaped = RunUntil(&sel_, [&] { return agent_.WatchedCount() == 0; });
  signal(SIGPIPE, SIG_DFL);
  close(100);
  close(spare);
  ASSERT_TRUE(reaped);
  // The log descriptor itself stayed open: the children wrote these lines.
  EXPECT_TRUE(log_.Contains("Command completed, code == 0"));
  EXPECT_TRUE(log_.Contains("Command completed, code == 13"));
}

TEST_F(ChildProcessTest, LoopStaysResponsiveWhileACommandRuns) {
  std::string flag = log_.Dir().File("go-on");
  // Bounded, so that a failing test leaves nothing running for long.
  SpawnShellCommand(("i=0; while [ ! -e " + flag +
                     " ] && [ $i -lt 500 ]; do sleep 0.01; i=$((i+1)); done")
                        .c_str());
  int ticks = 0;
  EXPECT_TRUE(RunUntil(&sel_, [&] { return ++ticks >= 5; }));
  EXPECT_EQ(agent_.WatchedCount(), 1u);
  log_.Dir().Write("go-on", "");
  ASSERT_TRUE(RunUntil(&sel_, [&] { return agent_.WatchedCount() == 0; }));
  EXPECT_TRUE(log_.Contains("Command completed, code == 0"));
}

struct RecordingChild : OVKChildHandler {
  RecordingChild(pid_t pid, OVKChildWaitAgent *agent,
                 std::vector<int> *statuses)
      : OVKChildHandler(pid, agent), statuses_(statuses) {}
  void HandleChildExit() override {
    EXPECT_NE(GetPid(), 0);
    statuses_->push_back(GetStatus());
  }
  std::vector<int> *statuses_;
};

struct CountingSignal : OVKSignalHandler {
  CountingSignal(OVKEventSelector *sel)
      : OVKSignalHandler(SIGCHLD), sel_(sel) {}
  void HandleSignal(int) override {
    count++;
    sel_->Break();
  }
  OVKEventSelector *sel_;
  int count = 0;
};

TEST_F(ChildProcessTest, ChildrenEndingTogetherAreReapedByOneSignal) {
  sigset_t chld, old;
  sigemptyset(&chld);
  sigaddset(&chld, SIGCHLD);
  sigprocmask(SIG_BLOCK, &chld, &old);
  std::vector<int> statuses;
  for (int code : {5, 7}) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) _exit(code);
    new RecordingChild(pid, &agent_, &statuses);
    siginfo_t info;
    // Wait for the end without reaping, so both are over before the one
    // merged signal is delivered.
    ASSERT_EQ(waitid(P_PID, pid, &info, WEXITED | WNOWAIT), 0);
  }
  CountingSignal counter(&sel_);  // newer than the agent: runs first
  sel_.RegisterSignal(&counter);
  sigprocmask(SIG_SETMASK, &old, nullptr);
  sel_.Go();
  sel_.RemoveSignal(&counter);
  EXPECT_EQ(counter.count, 1);
  EXPECT_EQ(agent_.WatchedCount(), 0u);
  // Newest record first.
  EXPECT_EQ(statuses, (std::vector<int>{7 << 8, 5 << 8}));
}

TEST_F(ChildProcessTest, WatchingAProcessThatIsNoChildIsABrokenInvariant) {
  OVKChildHandler *stranger = new OVKChildHandler(getpid(), &agent_);
  raise(SIGCHLD);
  try {
    sel_.Go();
    ADD_FAILURE() << "no exception";
  } catch (const OVKException &e) {
    EXPECT_STREQ(e.Text(), "Invalid child pid");
  }
  delete stranger;  // the agent never deletes records it has not reaped
}

TEST(ChildWaitAgentTest, DetachRestoresTheDefaultChildSignal) {
  OVKEventSelector sel;
  struct sigaction sa;
  {
    OVKChildWaitAgent agent;
    agent.Attach(&sel);
    sigaction(SIGCHLD, nullptr, &sa);
    EXPECT_NE(sa.sa_handler, SIG_DFL);
  }
  sigaction(SIGCHLD, nullptr, &sa);
  EXPECT_EQ(sa.sa_handler, SIG_DFL);
}

}  // namespace
