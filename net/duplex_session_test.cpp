#include "net/duplex_session.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "core/log_test_support.h"
#include "net/loop_test_support.h"

namespace {

// Collects complete lines; "dump" queues 2 MiB of output.
class LineSession : public OVKGenericDuplexSession {
 public:
  explicit LineSession(int idle, const char *greeting = nullptr)
      : OVKGenericDuplexSession(idle, greeting) {}

  void HandleNewInput() override {
    OVKBuffer line;
    while (!PausedForOutput() && inbuf_.ReadLine(line)) {
      lines.push_back(line.GetBuffer());
      if (lines.back() == "dump")
        outbuf_.AddData(std::string(2 << 20, 'd').data(), 2 << 20);
      if (lines.back() == "echo") outbuf_.AddString("echo\n");
    }
  }
  void HandleAllWritten() override { all_written++; }
  void HandleClosed() override { closed++; }
  void HandleSessionTimeout() override {
    timeouts++;
    Close();
  }
  void HandleWriteError() override {
    write_errors++;
    Close();
  }
  void HandleRemoteClosing() override {
    remote_closings++;
    Close();
  }

  using OVKGenericDuplexSession::IdleTimerEverSet;
  using OVKGenericDuplexSession::OutputPaused;
  void SetIdleMicroseconds(int usec) { idle_usec_ = usec; }
  void SetIdleSeconds(int sec) { idle_sec_ = sec; }
  void DisableReading() { reading_enabled_ = false; }
  int OutputLength() const { return outbuf_.Length(); }

  std::vector<std::string> lines;
  int all_written = 0, closed = 0, timeouts = 0, write_errors = 0,
      remote_closings = 0;
};

class DuplexSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    int sv[2];
    ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM, 0, sv));
    fcntl(sv[0], F_SETFL, O_NONBLOCK);
    ours_ = sv[0];
    peer_ = new TestPeer(sv[1]);
  }
  void TearDown() override { delete peer_; }

  OVKEventSelector selector_;
  LoopRunner runner_{selector_};
  int ours_ = -1;
  TestPeer *peer_ = nullptr;
};

TEST_F(DuplexSessionTest, TwoLinesInOneReadAreBothHandled) {
  LineSession s(0);
  s.Startup(&selector_, ours_, nullptr);
  peer_->Send("one\r\ntwo\nthr");
  ASSERT_TRUE(runner_.RunUntil([&] { return s.lines.size() == 2; }));
  EXPECT_EQ((std::vector<std::string>{"one", "two"}), s.lines);
  peer_->Send("ee\necho\n");
  ASSERT_TRUE(runner_.RunUntil([&] { return peer_->Received("echo\n"); }));
  EXPECT_EQ("three", s.lines[2]);
  EXPECT_EQ(1, s.all_written);
  EXPECT_EQ(0, s.closed);
}

TEST_F(DuplexSessionTest, AnswerGoesOutInThePassThatReadItsQuestion) {
  LineSession s(0);
  s.Startup(&selector_, ours_, nullptr);
  peer_->Send("echo\n");
  RunOnePass(selector_);
  EXPECT_TRUE(peer_->Received("echo\n"));
  EXPECT_EQ(1, s.all_written);
  EXPECT_EQ(0, s.OutputLength());
}

TEST_F(DuplexSessionTest, GreetingGivenToStartupReplacesTheConstructorOne) {
  LineSession s(0, "old");
  s.Startup(&selector_, ours_, "new\n");
  ASSERT_TRUE(runner_.RunUntil([&] { return peer_->Received("new\n"); }));
}

TEST_F(DuplexSessionTest, ShutdownClosesOnlyAfterTheLastByteIsWritten) {
  std::string big(100000, 'b');
  LineSession s(0, big.c_str());
  s.Startup(&selector_, ours_, nullptr);
  s.Shutdown();
  EXPECT_EQ(0, s.closed);
  EXPECT_NE(-1, s.GetFd());
  ASSERT_TRUE(runner_.RunUntil([&] { return peer_->Poll(); }));
  EXPECT_EQ(big, peer_->Text());
  EXPECT_EQ(1, s.closed);
  EXPECT_EQ(-1, s.GetFd());
}

TEST_F(DuplexSessionTest, ShutdownWithEmptyQueueClosesAtOnceAndOnlyOnce) {
  LineSession s(0);
  s.Startup(&selector_, ours_, nullptr);
  s.Shutdown();
  EXPECT_EQ(1, s.closed);
  EXPECT_EQ(-1, s.GetFd());
  s.Close();
  EXPECT_EQ(1, s.closed);
  EXPECT_TRUE(peer_->Poll());
}

TEST_F(DuplexSessionTest, NoIdleTimerWithTimeoutZero) {
  LineSession s(0);
  s.Startup(&selector_, ours_, nullptr);
  peer_->Send("x\n");
  ASSERT_TRUE(runner_.RunUntil([&] { return s.lines.size() == 1; }));
  s.RestartIdleTimer();
  EXPECT_FALSE(s.IdleTimerEverSet());
  EXPECT_EQ(0, s.timeouts);
}

TEST_F(DuplexSessionTest, IdleTimerFiresWithoutTraffic) {
  LineSession s(0);
  s.SetIdleMicroseconds(5000);
  s.Startup(&selector_, ours_, nullptr);
  EXPECT_TRUE(s.IdleTimerEverSet());
  ASSERT_TRUE(runner_.RunUntil([&] { return s.closed == 1; }));
  EXPECT_EQ(1, s.timeouts);
}

long fake_now_sec = 0;
void FakeClock(long *sec, long *usec) {
  *sec = fake_now_sec;
  *usec = 0;
}

// The loop runs on FakeClock, starting at `start`, until the scope ends.
struct FakeClockScope {
  explicit FakeClockScope(long start) {
    fake_now_sec = start;
    OVKSetClockForTesting(FakeClock);
  }
  ~FakeClockScope() { OVKSetClockForTesting(nullptr); }
};

// Traffic moves the deadline; the timer set at start-up fires early, moves
// itself on, and the session ends one whole timeout after the last traffic.
TEST_F(DuplexSessionTest, IdleDeadlineFollowsTheLastTraffic) {
  FakeClockScope clock(1000);
  LineSession s(10);
  s.Startup(&selector_, ours_, nullptr);  // first expiry 1010
  fake_now_sec = 1008;
  peer_->Send("echo\n");  // input and answer: deadline 1018
  for (int i = 0; i < 100 && !peer_->Received("echo\n"); i++)
    RunOnePass(selector_);
  ASSERT_TRUE(peer_->Received("echo\n"));
  for (long t : {1010L, 1012L, 1017L, 1018L}) {
    fake_now_sec = t;
    RunOnePass(selector_);
    EXPECT_EQ(0, s.timeouts) << "at " << t;
  }
  fake_now_sec = 1019;
  RunOnePass(selector_);
  EXPECT_EQ(1, s.timeouts);
  EXPECT_EQ(1, s.closed);
}

// A shorter timeout set later brings the registered timer forward.
TEST_F(DuplexSessionTest, ShorterIdleTimeoutTakesEffectAtOnce) {
  FakeClockScope clock(1000);
  LineSession s(10);
  s.Startup(&selector_, ours_, nullptr);
  fake_now_sec = 1001;
  s.SetIdleSeconds(0);
  s.SetIdleMicroseconds(500000);
  s.RestartIdleTimer();  // deadline 1001.5
  fake_now_sec = 1002;
  RunOnePass(selector_);
  EXPECT_EQ(1, s.timeouts);
}

TEST_F(DuplexSessionTest, PeerClosingClosesTheSession) {
  LineSession s(0);
  s.Startup(&selector_, ours_, nullptr);
  peer_->Send("last\n");
  peer_->Close();
  ASSERT_TRUE(runner_.RunUntil([&] { return s.closed == 1; }));
  EXPECT_EQ(1, s.remote_closings);
  EXPECT_EQ(std::vector<std::string>{"last"}, s.lines);
}

TEST_F(DuplexSessionTest, WritingToAGonePeerIsAWriteErrorNotASignal) {
  LineSession s(0, "hello\n");
  s.DisableReading();
  peer_->Close();
  s.Startup(&selector_, ours_, nullptr);
  ASSERT_TRUE(runner_.RunUntil([&] { return s.closed == 1; }));
  EXPECT_EQ(1, s.write_errors);
}

TEST_F(DuplexSessionTest, AFullOutputQueuePausesInputUntilItDrains) {
  LineSession s(0);
  s.Startup(&selector_, ours_, nullptr);
  peer_->Send("dump\necho\n");
  ASSERT_TRUE(runner_.RunUntil([&] { return s.OutputPaused(); }));
  peer_->Send("later\n");
  // While the peer reads nothing the session neither handles the queued
  // line nor reads the new one, and stays open.
  runner_.RunUntil([] { return false; }, 100);
  EXPECT_EQ(std::vector<std::string>{"dump"}, s.lines);
  EXPECT_TRUE(s.OutputPaused());
  EXPECT_EQ(0, s.closed);
  // Once the peer reads, the answer comes whole and the waiting lines run.
  std::string expected = std::string(2 << 20, 'd') + "echo\n";
  ASSERT_TRUE(runner_.RunUntil([&] {
    peer_->Poll();
    return peer_->Text().size() >= expected.size() && s.lines.size() == 3;
  }));
  EXPECT_TRUE(peer_->Text() == expected);
  EXPECT_EQ((std::vector<std::string>{"dump", "echo", "later"}), s.lines);
  EXPECT_FALSE(s.OutputPaused());
  EXPECT_EQ(0, s.closed);
}

TEST(DuplexSessionPipeTest, WritesToDescriptorsThatAreNotSockets) {
  int p[2];
  ASSERT_EQ(0, pipe(p));
  OVKEventSelector selector;
  LoopRunner runner(selector);
  TestPeer reader(p[0]);
  LineSession s(0, "through a pipe");
  s.DisableReading();
  s.Startup(&selector, p[1], nullptr);
  ASSERT_TRUE(
      runner.RunUntil([&] { return reader.Received("through a pipe"); }));
  EXPECT_EQ(0, s.OutputLength());
  EXPECT_EQ(0, s.write_errors);
}

TEST(InetSessionTest, StartupOnANonSocketThrows) {
  int p[2];
  ASSERT_EQ(0, pipe(p));
  close(p[1]);
  OVKEventSelector selector;
  class Inet : public OVKInetDuplexSession {
   public:
    Inet() : OVKInetDuplexSession(0, nullptr) {}
    void HandleNewInput() override {}
  } s;
  try {
    s.Startup(&selector, p[0], nullptr);
    FAIL() << "no exception";
  } catch (const OVKException &e) {
    EXPECT_STREQ("getsockname failed in InetSession Startup", e.Text());
  }
  EXPECT_EQ(0xffffffffu, s.LocalAddress());
}

}  // namespace
