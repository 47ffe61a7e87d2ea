#include "core/event_selector.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

namespace {

// A frozen clock that the tests move by hand.
long fake_sec = 0;
long fake_usec = 0;
void FakeClock(long *sec, long *usec) {
  *sec = fake_sec;
  *usec = fake_usec;
}

class FakeClockScope {
 public:
  FakeClockScope(long sec, long usec) {
    fake_sec = sec;
    fake_usec = usec;
    OVKSetClockForTesting(FakeClock);
  }
  ~FakeClockScope() { OVKSetClockForTesting(nullptr); }
};

struct FnTimer : OVKTimeoutHandler {
  std::function<void()> fn;
  void TimeoutHandle() override { fn(); }
};

struct FnSignal : OVKSignalHandler {
  FnSignal(int signo, std::function<void()> f)
      : OVKSignalHandler(signo), fn(f) {}
  std::function<void()> fn;
  void HandleSignal(int) override { fn(); }
};

// Watches one descriptor; Handle runs fn with the reported flags.
struct FnFd : OVKFdHandler {
  explicit FnFd(int fd) : OVKFdHandler(fd) {}
  std::function<void(bool, bool, bool)> fn;
  bool want_read = true, want_write = false;
  void Handle(bool r, bool w, bool x) override { fn(r, w, x); }
  bool WantRead() const override { return want_read; }
  bool WantWrite() const override { return want_write; }
};

struct NullFd : OVKFdHandler {
  explicit NullFd(int fd) : OVKFdHandler(fd) {}
  void Handle(bool, bool, bool) override {}
};

// A pipe whose read end stays readable: one byte written, never read.
struct ReadablePipe {
  int fds[2];
  ReadablePipe() {
    EXPECT_EQ(pipe(fds), 0);
    EXPECT_EQ(write(fds[1], "x", 1), 1);
  }
  ~ReadablePipe() {
    close(fds[0]);
    close(fds[1]);
  }
  int ReadEnd() const { return fds[0]; }
};

TEST(EventSelectorTest, EqualExpiriesFireNewestFirstAndDuplicatesAreSkipped) {
  OVKEventSelector sel;
  std::vector<std::string> order;
  FnTimer a, b, c;
  a.fn = [&] { order.push_back("a"); };
  b.fn = [&] { order.push_back("b"); };
  c.fn = [&] {
    order.push_back("c");
    sel.Break();
  };
  // Long past on the monotonic clock, so all are due in the first pass.
  a.SetExpiry(0, 5);
  b.SetExpiry(0, 5);
  c.SetExpiry(0, 1);
  sel.RegisterTimeout(&a);
  sel.RegisterTimeout(&b);
  sel.RegisterTimeout(&b);  // insertion point holds b itself: nothing added
  sel.RegisterTimeout(&c);
  sel.Go();
  EXPECT_EQ(order, (std::vector<std::string>{"c", "b", "a"}));
}

TEST(EventSelectorTest, DueMeansStrictlyEarlierThanThePassesNow) {
  FakeClockScope clock(1000, 0);
  OVKEventSelector sel;
  ReadablePipe p;
  int passes = 0;
  std::vector<int> fired_in_pass;
  FnFd counter(p.ReadEnd());
  counter.fn = [&](bool, bool, bool) {
    passes++;
    if (passes == 2) fake_usec += 1;  // takes effect from the next pass on
  };
  sel.RegisterFd(&counter);

  FnTimer t, armed;
  t.fn = [&] {
    fired_in_pass.push_back(passes);
    if (fired_in_pass.size() >= 2) {
      sel.Break();
      return;
    }
    t.SetFromNow(0, 0);  // exactly now: not earlier than now
    sel.RegisterTimeout(&t);
    // Already due: the head is read again, so it fires in this pass.
    armed.SetExpiry(999, 0);
    sel.RegisterTimeout(&armed);
  };
  armed.fn = [&] { fired_in_pass.push_back(-passes); };
  t.SetExpiry(999, 999999);
  sel.RegisterTimeout(&t);
  sel.Go();
  EXPECT_EQ(fired_in_pass, (std::vector<int>{1, -1, 3}));
  sel.RemoveFd(&counter);
}

TEST(EventSelectorTest, SetFromNowCarriesMicroseconds) {
  FakeClockScope clock(100, 999999);
  FnTimer t;
  EXPECT_EQ(t.ExpirySec(), -1);
  t.SetFromNow(1, 2);
  EXPECT_EQ(t.ExpirySec(), 102);
  EXPECT_EQ(t.ExpiryUsec(), 1);
  fake_usec = 600000;
  t.SetFromNow(0, 2500000);
  EXPECT_EQ(t.ExpirySec(), 103);
  EXPECT_EQ(t.ExpiryUsec(), 100000);
}

TEST(EventSelectorTest, FdTableGrowsAndRejectsDuplicates) {
  OVKEventSelector sel;
  EXPECT_EQ(sel.FdTableSize(), 10);
  NullFd h25(25), h3(3), other25(25), negative(-1);
  sel.RegisterFd(&h25);
  EXPECT_EQ(sel.FdTableSize(), 26);
  sel.RegisterFd(&h3);
  EXPECT_EQ(sel.FdTableSize(), 26);
  try {
    sel.RegisterFd(&other25);
    FAIL() << "no exception";
  } catch (const OVKException &e) {
    EXPECT_STREQ(e.Text(), "duplicate fd handler");
  }
  EXPECT_THROW(sel.RegisterFd(&negative), OVKException);
  sel.RemoveFd(&h25);
  sel.RegisterFd(&other25);  // the slot is free again
  sel.RemoveFd(&other25);
  sel.RemoveFd(&h3);
}

TEST(EventSelectorTest, DescriptorsDispatchAscendingAndRemovalTakesEffect) {
  OVKEventSelector sel;
  ReadablePipe p1, p2, p3;
  std::vector<int> order;
  FnFd low(p1.ReadEnd()), mid(p2.ReadEnd()), high(p3.ReadEnd());
  // Register out of order; dispatch is by descriptor number.
  std::vector<FnFd *> by_fd = {&low, &mid, &high};
  for (FnFd *h : by_fd)
    h->fn = [&order, h](bool, bool, bool) { order.push_back(h->GetFd()); };
  low.fn = [&](bool r, bool w, bool x) {
    EXPECT_TRUE(r);
    EXPECT_FALSE(w);
    EXPECT_FALSE(x);
    order.push_back(low.GetFd());
    sel.RemoveFd(&high);  // ready in this pass, but must not be called
    sel.Break();
  };
  sel.RegisterFd(&high);
  sel.RegisterFd(&mid);
  sel.RegisterFd(&low);
  sel.Go();
  EXPECT_EQ(order, (std::vector<int>{p1.ReadEnd(), p2.ReadEnd()}));
  sel.RemoveFd(&low);
  sel.RemoveFd(&mid);
}

TEST(EventSelectorTest, HangUpIsReadableAndWritesAreReported) {
  OVKEventSelector sel;
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  int writer_fds[2];
  ASSERT_EQ(pipe(writer_fds), 0);
  close(fds[1]);  // the reader sees end of file
  bool reader_called = false, writer_called = false;
  FnFd reader(fds[0]), writer(writer_fds[1]), idle(writer_fds[0]);
  reader.fn = [&](bool r, bool, bool) {
    EXPECT_TRUE(r);
    reader_called = true;
  };
  writer.want_read = false;
  writer.want_write = true;
  writer.fn = [&](bool r, bool w, bool) {
    EXPECT_FALSE(r);
    EXPECT_TRUE(w);
    writer_called = true;
    sel.Break();
  };
  idle.want_read = false;  // wants nothing: never dispatched
  idle.fn = [&](bool, bool, bool) { ADD_FAILURE() << "idle handler called"; };
  sel.RegisterFd(&reader);
  sel.RegisterFd(&writer);
  sel.RegisterFd(&idle);
  sel.Go();
  EXPECT_TRUE(reader_called);
  EXPECT_TRUE(writer_called);
  sel.RemoveFd(&reader);
  sel.RemoveFd(&writer);
  sel.RemoveFd(&idle);
  close(fds[0]);
  close(writer_fds[0]);
  close(writer_fds[1]);
}

TEST(EventSelectorTest, BreakFromTimerEndsAfterThatPass) {
  OVKEventSelector sel;
  std::vector<std::string> order;
  FnTimer first, second, later;
  first.fn = [&] {
    order.push_back("first");
    sel.Break();
  };
  second.fn = [&] { order.push_back("second"); };
  later.fn = [&] { order.push_back("later"); };
  first.SetExpiry(0, 1);
  second.SetExpiry(0, 2);
  later.SetFromNow(0, 20000);
  sel.RegisterTimeout(&later);
  sel.RegisterTimeout(&second);
  sel.RegisterTimeout(&first);
  sel.Go();
  EXPECT_EQ(order, (std::vector<std::string>{"first", "second"}));
  // Removing a registered timer leaves the others alone.
  sel.RemoveTimeout(&later);
  sel.RemoveTimeout(&later);
}

TEST(EventSelectorTest, SignalsComeFirstNewestHandlerFirst) {
  OVKResetSignalQueue();
  OVKEventSelector sel;
  ReadablePipe p;
  std::vector<std::string> order;
  FnSignal older(SIGUSR1, [&] { order.push_back("older"); });
  FnSignal newer(SIGUSR1, [&] { order.push_back("newer"); });
  FnSignal other(SIGUSR2, [&] { order.push_back("other"); });
  sel.RegisterSignal(&older);
  sel.RegisterSignal(&newer);
  sel.RegisterSignal(&other);
  FnFd fd(p.ReadEnd());
  fd.fn = [&](bool, bool, bool) { order.push_back("fd"); };
  FnTimer t;
  t.fn = [&] {
    order.push_back("timer");
    sel.Break();
  };
  t.SetExpiry(0, 0);
  sel.RegisterFd(&fd);
  sel.RegisterTimeout(&t);
  raise(SIGUSR1);
  sel.Go();
  EXPECT_EQ(order, (std::vector<std::string>{"newer", "older", "fd", "timer"}));

  // The catcher stays while another handler wants the signal.
  struct sigaction sa;
  sel.RemoveSignal(&newer);
  sigaction(SIGUSR1, nullptr, &sa);
  EXPECT_NE(sa.sa_handler, SIG_DFL);
  EXPECT_EQ(sa.sa_flags & SA_RESTART, 0);
  sel.RemoveSignal(&older);
  sigaction(SIGUSR1, nullptr, &sa);
  EXPECT_EQ(sa.sa_handler, SIG_DFL);
  sel.RemoveSignal(&other);
  sel.RemoveFd(&fd);
}

TEST(EventSelectorTest, SignalQueueHolds1023AndWraps) {
  OVKResetSignalQueue();
  OVKEventSelector sel;
  int count = 0;
  FnSignal h(SIGUSR1, [&] {
    count++;
    sel.Break();
  });
  sel.RegisterSignal(&h);
  for (int i = 0; i < 1100; i++) raise(SIGUSR1);
  sel.Go();
  EXPECT_EQ(count, 1023);
  // The indices now stand at 1023: the next numbers wrap around.
  count = 0;
  for (int i = 0; i < 5; i++) raise(SIGUSR1);
  sel.Go();
  EXPECT_EQ(count, 5);
  sel.RemoveSignal(&h);
}

TEST(EventSelectorTest, IdleLoopWakesForASignalSentAtAnyMoment) {
  OVKResetSignalQueue();
  OVKEventSelector sel;
  bool got = false;
  FnSignal h(SIGUSR2, [&] {
    got = true;
    sel.Break();
  });
  sel.RegisterSignal(&h);
  alarm(20);  // a lost wake-up ends the test binary instead of hanging it
  // Sent before or during the wait; either way the loop must wake.
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    kill(getppid(), SIGUSR2);
    _exit(0);
  }
  sel.Go();
  alarm(0);
  EXPECT_TRUE(got);
  waitpid(child, nullptr, 0);
  sel.RemoveSignal(&h);
}

}  // namespace
