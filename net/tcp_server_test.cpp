#include "net/tcp_server.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <time.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/log_test_support.h"
#include "net/loop_test_support.h"

namespace {

int sessions_alive = 0;
int sessions_ended = 0;

// Answers every line with "<line>!"; "bye" shuts the session down.
class EchoSession : public OVKTcpServerSession {
 public:
  EchoSession(int fd, OVKEventSelector *sel, OVKTcpServer *server)
      : OVKTcpServerSession(fd, 0, sel, server, "hi\n") {
    sessions_alive++;
  }
  ~EchoSession() override { sessions_alive--; }

  void HandleNewInput() override {
    OVKBuffer line;
    while (inbuf_.ReadLine(line)) {
      std::string text = line.GetBuffer();
      if (text == "bye") {
        Shutdown();
        return;
      }
      outbuf_.AddString((text + "!\n").c_str());
    }
  }
  void HandleSessionEnd() override { sessions_ended++; }
};

class EchoServer : public OVKTcpServer {
 public:
  EchoServer() : OVKTcpServer("127.0.0.1", 0) {}
  OVKTcpServerSession *MakeNewSession(int fd) override {
    peer_address = LastPeerAddress();
    peer_port = LastPeerPort();
    last = new EchoSession(fd, GetSelector(), this);
    return last;
  }
  uint32_t peer_address = 0;
  int peer_port = 0;
  EchoSession *last = nullptr;
};

class TcpServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sessions_alive = 0;
    sessions_ended = 0;
    server_ = new EchoServer();
    ASSERT_TRUE(server_->Listen(&selector_));
    port_ = server_->BoundPort();
    ASSERT_GT(port_, 0);
  }
  void TearDown() override { delete server_; }

  OVKEventSelector selector_;
  LoopRunner runner_{selector_};
  EchoServer *server_ = nullptr;
  int port_ = -1;
};

TEST_F(TcpServerTest, ExchangesLinesAndKnowsBothAddresses) {
  TestPeer client;
  ASSERT_TRUE(client.Connect(port_));
  ASSERT_TRUE(runner_.RunUntil([&] { return client.Received("hi\n"); }));
  EXPECT_EQ(1, server_->SessionCount());
  EXPECT_EQ(0x7f000001u, server_->peer_address);
  EXPECT_EQ(client.LocalPort(), server_->peer_port);
  EXPECT_EQ(0x7f000001u, server_->last->LocalAddress());

  int fd = server_->last->GetFd();
  EXPECT_TRUE(fcntl(fd, F_GETFD) & FD_CLOEXEC);
  EXPECT_TRUE(fcntl(fd, F_GETFL) & O_NONBLOCK);

  client.Send("a\nb\n");
  ASSERT_TRUE(
      runner_.RunUntil([&] { return client.Received("hi\na!\nb!\n"); }));
}

TEST_F(TcpServerTest, PendingConnectionsAreAcceptedInOnePass) {
  TestPeer a, b, c;
  ASSERT_TRUE(a.Connect(port_));
  ASSERT_TRUE(b.Connect(port_));
  ASSERT_TRUE(c.Connect(port_));
  RunOnePass(selector_);
  EXPECT_EQ(3, server_->SessionCount());
  EXPECT_EQ(3, sessions_alive);
  EXPECT_TRUE(fcntl(server_->last->GetFd(), F_GETFL) & O_NONBLOCK);
}

TEST_F(TcpServerTest, PeerClosingDestroysTheSession) {
  TestPeer one, two;
  ASSERT_TRUE(one.Connect(port_));
  ASSERT_TRUE(two.Connect(port_));
  ASSERT_TRUE(runner_.RunUntil([&] { return server_->SessionCount() == 2; }));
  one.Close();
  ASSERT_TRUE(runner_.RunUntil([&] { return sessions_alive == 1; }));
  EXPECT_EQ(1, server_->SessionCount());
  EXPECT_EQ(1, sessions_ended);
  // The survivor still works.
  two.Send("x\n");
  ASSERT_TRUE(runner_.RunUntil([&] { return two.Received("hi\nx!\n"); }));
}

TEST_F(TcpServerTest, ShutdownDrainsThenTheServerDropsTheSession) {
  TestPeer client;
  ASSERT_TRUE(client.Connect(port_));
  client.Send("q\nbye\nignored\n");
  ASSERT_TRUE(runner_.RunUntil([&] { return client.Poll(); }));
  EXPECT_EQ("hi\nq!\n", client.Text());
  EXPECT_EQ(0, server_->SessionCount());
  EXPECT_EQ(0, sessions_alive);
}

TEST_F(TcpServerTest, DestroyingTheServerDestroysItsSessions) {
  TestPeer client;
  ASSERT_TRUE(client.Connect(port_));
  ASSERT_TRUE(runner_.RunUntil([&] { return sessions_alive == 1; }));
  delete server_;
  server_ = nullptr;
  EXPECT_EQ(0, sessions_alive);
  EXPECT_EQ(0, sessions_ended);  // no hook runs from a destructor
  EXPECT_TRUE(client.Poll());
  // The port is free again and the selector slot too.
  TestPeer refused;
  EXPECT_FALSE(refused.Connect(port_));
}

TEST_F(TcpServerTest, ForeignSessionCannotBeRemoved) {
  TestPeer client;
  ASSERT_TRUE(client.Connect(port_));
  ASSERT_TRUE(runner_.RunUntil([&] { return sessions_alive == 1; }));
  EchoServer other;
  try {
    other.RemoveSession(server_->last);
    FAIL() << "no exception";
  } catch (const OVKException &e) {
    EXPECT_STREQ("Cant remove foreign TCP session", e.Text());
  }
  EXPECT_EQ(1, server_->SessionCount());
}

// The listening socket is found by its port among our descriptors.
TEST_F(TcpServerTest, ListeningSocketIsCloseOnExec) {
  int found = 0;
  DIR *dir = opendir("/proc/self/fd");
  ASSERT_NE(nullptr, dir);
  while (struct dirent *e = readdir(dir)) {
    int fd = atoi(e->d_name);
    struct sockaddr_in addr;
    socklen_t len = sizeof addr;
    if (e->d_name[0] == '.' || fd == dirfd(dir)) continue;
    if (getsockname(fd, reinterpret_cast<struct sockaddr *>(&addr), &len) !=
            0 ||
        addr.sin_family != AF_INET || ntohs(addr.sin_port) != port_)
      continue;
    found++;
    EXPECT_TRUE(fcntl(fd, F_GETFD) & FD_CLOEXEC);
  }
  closedir(dir);
  EXPECT_EQ(1, found);
}

TEST(TcpServerListenTest, PortInUseOrBadAddressFails) {
  OVKEventSelector selector;
  EchoServer first;
  ASSERT_TRUE(first.Listen(&selector));
  class Fixed : public OVKTcpServer {
   public:
    Fixed(const char *addr, int port) : OVKTcpServer(addr, port) {}
    OVKTcpServerSession *MakeNewSession(int) override { return nullptr; }
  };
  TestLog log;
  int port = first.BoundPort();
  Fixed busy("127.0.0.1", port);
  EXPECT_FALSE(busy.Listen(&selector, "console"));
  EXPECT_EQ(-1, busy.BoundPort());
  Fixed foreign("192.0.2.1", 0);  // not an address of this machine
  EXPECT_FALSE(foreign.Listen(&selector));
  EXPECT_EQ(log.Lines(),
            (std::vector<std::string>{
                "Cannot listen for the console on ``127.0.0.1:" +
                    std::to_string(port) + "'': Address already in use",
                "Cannot listen for the TCP server on ``192.0.2.1:0'': "
                "Cannot assign requested address"}));
}

// While it lives, no descriptor can be opened: the open-files limit is
// lowered to just above the highest open descriptor and the holes below
// are filled.
class DescriptorsExhausted {
 public:
  DescriptorsExhausted() {
    getrlimit(RLIMIT_NOFILE, &saved_);
    int highest = 0;
    DIR *dir = opendir("/proc/self/fd");
    while (struct dirent *e = readdir(dir))
      highest = std::max(highest, atoi(e->d_name));
    closedir(dir);
    struct rlimit low = saved_;
    low.rlim_cur = static_cast<rlim_t>(highest) + 1;
    setrlimit(RLIMIT_NOFILE, &low);
    for (int fd; (fd = dup(0)) != -1;) fillers_.push_back(fd);
  }
  ~DescriptorsExhausted() { Release(); }
  void Release() {
    for (int fd : fillers_) close(fd);
    fillers_.clear();
    setrlimit(RLIMIT_NOFILE, &saved_);
  }

 private:
  struct rlimit saved_;
  std::vector<int> fillers_;
};

// A client socket made while descriptors are still to be had.
int NewClientSocket() { return socket(AF_INET, SOCK_STREAM, 0); }
bool ConnectTo(int fd, int port) {
  struct sockaddr_in addr;
  memset(&addr, 0, sizeof addr);
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return connect(fd, reinterpret_cast<struct sockaddr *>(&addr), sizeof addr) ==
         0;
}

// The real monotonic clock, moved forward by hand.
long clock_offset_sec = 0;
void OffsetClock(long *sec, long *usec) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  *sec = now.tv_sec + clock_offset_sec;
  *usec = now.tv_nsec / 1000;
}

TEST_F(TcpServerTest, AcceptWithoutDescriptorsPausesUntilASessionEnds) {
  TestLog log;
  TestPeer first;
  ASSERT_TRUE(first.Connect(port_));
  ASSERT_TRUE(runner_.RunUntil([&] { return first.Received("hi\n"); }));
  TestPeer second(NewClientSocket());
  {
    DescriptorsExhausted exhausted;
    ASSERT_TRUE(ConnectTo(second.Fd(), port_));  // pending in the backlog
    ASSERT_TRUE(runner_.RunUntil([&] { return server_->AcceptPaused(); }));
    int passes = 0;
    runner_.RunUntil([&] { return ++passes > 20; });
    exhausted.Release();
  }
  // One line for the run of failures, and the listener left alone since.
  const std::string line = "TCP server on port " + std::to_string(port_) +
                           ": accept failed: Too many open files; pausing";
  std::vector<std::string> lines = log.Lines();
  EXPECT_EQ(1, std::count(lines.begin(), lines.end(), line));
  EXPECT_TRUE(server_->AcceptPaused());
  EXPECT_EQ(1, server_->SessionCount());
  // The first session ends: its descriptor is free, the pending one fits.
  first.Close();
  ASSERT_TRUE(runner_.RunUntil([&] { return second.Received("hi\n"); }));
  EXPECT_FALSE(server_->AcceptPaused());
  EXPECT_EQ(1, server_->SessionCount());
}

TEST_F(TcpServerTest, AcceptPauseEndsAfterASecond) {
  TestLog log;
  TestPeer client(NewClientSocket());
  {
    DescriptorsExhausted exhausted;
    ASSERT_TRUE(ConnectTo(client.Fd(), port_));
    ASSERT_TRUE(runner_.RunUntil([&] { return server_->AcceptPaused(); }));
  }
  clock_offset_sec = 0;
  OVKSetClockForTesting(OffsetClock);
  int passes = 0;
  runner_.RunUntil([&] { return ++passes > 5; });
  EXPECT_TRUE(server_->AcceptPaused());
  EXPECT_EQ(0, server_->SessionCount());
  clock_offset_sec = OVKTcpServer::kAcceptPause / 1000 + 1;
  bool accepted = runner_.RunUntil([&] { return client.Received("hi\n"); });
  OVKSetClockForTesting(nullptr);
  EXPECT_TRUE(accepted);
  EXPECT_FALSE(server_->AcceptPaused());
}

}  // namespace
