#include "net/duplex_session.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
bool WouldBlock(int err) {
  return err == EAGAIN || err == EWOULDBLOCK || err == EINTR;
}
}  // namespace

OVKGenericDuplexSession::OVKGenericDuplexSession(int idle_timeout_sec,
                                                 const char *greeting)
    : OVKFdHandler(-1), idle_sec_(idle_timeout_sec) {
  outbuf_.AddString(greeting);
}

OVKGenericDuplexSession::~OVKGenericDuplexSession() {
  if (destroyed_flag_ != nullptr) *destroyed_flag_ = true;
  CloseDescriptor();
}

void OVKGenericDuplexSession::Startup(OVKEventSelector *selector, int fd,
                                      const char *greeting) {
  selector_ = selector;
  if (greeting != nullptr) {
    outbuf_.Erase();
    outbuf_.AddString(greeting);
  }
  SetFd(fd);
  selector_->RegisterFd(this);
  RestartIdleTimer();
}

bool OVKGenericDuplexSession::CloseDescriptor() {
  if (selector_ != nullptr) {
    selector_->RemoveFd(this);
    selector_->RemoveTimeout(this);
    timer_registered_ = false;
    selector_ = nullptr;
  }
  if (fd_ == -1) return false;
  close(fd_);
  fd_ = -1;
  return true;
}

void OVKGenericDuplexSession::Close() {
  // HandleClosed may destroy this object; it must be the last thing here.
  if (CloseDescriptor()) HandleClosed();
}

void OVKGenericDuplexSession::Shutdown() {
  close_when_drained_ = true;
  if (outbuf_.Length() == 0) Close();
}

void OVKGenericDuplexSession::RestartIdleTimer() {
  if (selector_ == nullptr) return;
  if (!HasIdleTimer()) {
    if (timer_registered_) selector_->RemoveTimeout(this);
    timer_registered_ = false;
    return;
  }
  OVKTimeFromNow(idle_sec_, idle_usec_, &deadline_sec_, &deadline_usec_);
  if (timer_registered_ &&
      !OVKTimeBefore(deadline_sec_, deadline_usec_, ExpirySec(), ExpiryUsec()))
    return;  // the timer fires first and moves itself on
  if (timer_registered_) selector_->RemoveTimeout(this);
  SetExpiry(deadline_sec_, deadline_usec_);
  selector_->RegisterTimeout(this);
  timer_registered_ = true;
}

void OVKGenericDuplexSession::TimeoutHandle() {
  timer_registered_ = false;  // the selector has taken it off its list
  if (OVKTimeBefore(ExpirySec(), ExpiryUsec(), deadline_sec_, deadline_usec_)) {
    SetExpiry(deadline_sec_, deadline_usec_);
    selector_->RegisterTimeout(this);
    timer_registered_ = true;
    return;
  }
  HandleSessionTimeout();
}

bool OVKGenericDuplexSession::PausedForOutput() {
  if (outbuf_.Length() <= kOutputBound) return false;
  output_paused_ = true;
  reading_enabled_ = false;
  return true;
}

int OVKGenericDuplexSession::WriteQueue() {
  ssize_t n = -1;
  if (!not_a_socket_) {
    n = send(fd_, outbuf_.GetBuffer(), outbuf_.Length(), MSG_NOSIGNAL);
    if (n < 0 && errno == ENOTSOCK) not_a_socket_ = true;
  }
  if (not_a_socket_) n = write(fd_, outbuf_.GetBuffer(), outbuf_.Length());
  if (n < 0) return WouldBlock(errno) ? 0 : -1;
  return static_cast<int>(n);
}

// The session points at the watch's flag only while the watch lives: the
// destructor takes the address back out (the compiler cannot see that).
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdangling-pointer"
#endif
struct OVKGenericDuplexSession::DestroyWatch {
  explicit DestroyWatch(OVKGenericDuplexSession *s)
      : session(s), outer(s->destroyed_flag_) {
    s->destroyed_flag_ = &destroyed;
  }
  ~DestroyWatch() {
    if (!destroyed) session->destroyed_flag_ = outer;
  }
  // The hook just run closed or destroyed the session.
  bool Ended() const { return destroyed || session->fd_ == -1; }

  OVKGenericDuplexSession *session;
  bool *outer;
  bool destroyed = false;
};
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

void OVKGenericDuplexSession::Handle(bool readable, bool writable,
                                     bool /*exceptional*/) {
  DestroyWatch watch(this);
  bool queue_was_empty = outbuf_.Length() == 0;

  if (readable && reading_enabled_) {
    char chunk[kReadChunk];
    ssize_t n = read(fd_, chunk, sizeof chunk);
    if (n > 0) {
      if (restart_timer_on_input_) RestartIdleTimer();
      inbuf_.AddData(chunk, static_cast<int>(n));
      HandleNewInput();
      if (watch.Ended()) return;
    } else if (n == 0) {
      HandleRemoteClosing();
      return;
    } else if (!WouldBlock(errno)) {
      HandleReadError();
      if (watch.Ended()) return;
    }
  }

  // The first write of an answer is tried at once: a socket with room
  // takes it without another wait, and only a write that would block
  // waits for writability.
  if (queue_was_empty && outbuf_.Length() > 0) writable = true;

  if (writable && outbuf_.Length() > 0) {
    int n = WriteQueue();
    if (n > 0) {
      if (restart_timer_on_output_ || output_paused_) RestartIdleTimer();
      outbuf_.DropData(n);
      if (output_paused_ && outbuf_.Length() <= kOutputBound &&
          !close_when_drained_) {
        output_paused_ = false;
        reading_enabled_ = true;
        HandleNewInput();
        if (watch.Ended()) return;
      }
    } else if (n < 0) {
      HandleWriteError();
      if (watch.Ended()) return;
    }
    if (outbuf_.Length() == 0) {
      HandleAllWritten();
      if (watch.Ended()) return;
      if (close_when_drained_ && outbuf_.Length() == 0) Close();
    }
  }
}

void OVKInetDuplexSession::Startup(OVKEventSelector *selector, int fd,
                                   const char *greeting) {
  OVKGenericDuplexSession::Startup(selector, fd, greeting);
  struct sockaddr_in local;
  socklen_t len = sizeof local;
  if (getsockname(fd, reinterpret_cast<struct sockaddr *>(&local), &len) != 0)
    throw OVKException("getsockname failed in InetSession Startup");
  if (local.sin_family == AF_INET)
    local_address_ = ntohl(local.sin_addr.s_addr);
}

void OVKInetDuplexSession::StartupAccepted(OVKEventSelector *selector, int fd) {
  OVKGenericDuplexSession::Startup(selector, fd, nullptr);
  local_address_pending_ = true;
}

uint32_t OVKInetDuplexSession::LocalAddress() const {
  if (local_address_pending_ && GetFd() != -1) {
    local_address_pending_ = false;
    struct sockaddr_in local;
    socklen_t len = sizeof local;
    if (getsockname(GetFd(), reinterpret_cast<struct sockaddr *>(&local),
                    &len) == 0 &&
        local.sin_family == AF_INET)
      local_address_ = ntohl(local.sin_addr.s_addr);
  }
  return local_address_;
}
