// Test support: drives an OVKEventSelector until a condition holds, and a
// plain client end of a connection that collects what the peer sends.
#ifndef HOVANTRA_NET_LOOP_TEST_SUPPORT_H
#define HOVANTRA_NET_LOOP_TEST_SUPPORT_H

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <string>

#include "core/event_selector.h"

// Runs the loop, checking the condition every millisecond; gives false when
// the deadline passed first.
class LoopRunner : public OVKTimeoutHandler {
 public:
  explicit LoopRunner(OVKEventSelector &selector) : selector_(selector) {}
  ~LoopRunner() override { selector_.RemoveTimeout(this); }

  bool RunUntil(std::function<bool()> done, int max_ms = 5000) {
    done_ = std::move(done);
    deadline_ =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(max_ms);
    met_ = false;
    Arm(0);
    selector_.Go();
    selector_.RemoveTimeout(this);
    return met_;
  }

  void TimeoutHandle() override {
    met_ = done_();
    if (met_ || std::chrono::steady_clock::now() > deadline_) {
      selector_.Break();
      return;
    }
    Arm(1000);
  }

 private:
  void Arm(long usec) {
    SetFromNow(0, usec);
    selector_.RegisterTimeout(this);
  }
  OVKEventSelector &selector_;
  std::function<bool()> done_;
  std::chrono::steady_clock::time_point deadline_;
  bool met_ = false;
};

// Runs exactly one pass of the loop; its wait returns at once.
inline void RunOnePass(OVKEventSelector &selector) {
  struct Stop : OVKTimeoutHandler {
    explicit Stop(OVKEventSelector &s) : selector(s) {}
    void TimeoutHandle() override { selector.Break(); }
    OVKEventSelector &selector;
  } stop(selector);
  stop.SetExpiry(0, 0);  // long due
  selector.RegisterTimeout(&stop);
  selector.Go();
}

// The far end of a connection, read without blocking.
class TestPeer {
 public:
  explicit TestPeer(int fd = -1) : fd_(fd) {}
  ~TestPeer() { Close(); }
  TestPeer(const TestPeer &) = delete;
  TestPeer &operator=(const TestPeer &) = delete;

  // A blocking connect to 127.0.0.1:port; false when it failed.
  bool Connect(int port) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    struct sockaddr_in addr;
    memset(&addr, 0, sizeof addr);
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return connect(fd_, reinterpret_cast<struct sockaddr *>(&addr),
                   sizeof addr) == 0;
  }
  int LocalPort() const {
    struct sockaddr_in addr;
    socklen_t len = sizeof addr;
    getsockname(fd_, reinterpret_cast<struct sockaddr *>(&addr), &len);
    return ntohs(addr.sin_port);
  }
  void Send(const std::string &s) {
    ssize_t n = send(fd_, s.data(), s.size(), MSG_NOSIGNAL);
    (void)n;
  }
  // Collects whatever is readable now; true once the peer closed its end.
  bool Poll() {
    char buf[4096];
    fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) | O_NONBLOCK);
    for (;;) {
      ssize_t n = read(fd_, buf, sizeof buf);
      if (n > 0) {
        received_.append(buf, n);
        continue;
      }
      if (n == 0) eof_ = true;
      return eof_;
    }
  }
  bool Received(const std::string &s) {
    Poll();
    return received_ == s;
  }
  const std::string &Text() const { return received_; }
  bool Eof() const { return eof_; }
  void Close() {
    if (fd_ != -1) close(fd_);
    fd_ = -1;
  }
  int Fd() const { return fd_; }

 private:
  int fd_;
  std::string received_;
  bool eof_ = false;
};

#endif
