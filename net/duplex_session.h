// Buffered, non-blocking two-way byte streams on one descriptor, with an
// idle timer.  A session is at once the fd handler of its socket and the
// timeout handler of its idle timer.  Derived classes override the hooks.
#ifndef HOVANTRA_NET_DUPLEX_SESSION_H
#define HOVANTRA_NET_DUPLEX_SESSION_H

#include <cstdint>

#include "core/event_selector.h"
#include "net/buffer.h"

class OVKGenericDuplexSession : private OVKFdHandler,
                                private OVKTimeoutHandler {
 public:
  // idle_timeout_sec < 1: no idle timer.  greeting may be nullptr.
  OVKGenericDuplexSession(int idle_timeout_sec, const char *greeting);
  ~OVKGenericDuplexSession() override;

  void Startup(OVKEventSelector *selector, int fd, const char *greeting);
  void Close();
  void Shutdown();  // close once the output queue is drained
  void RestartIdleTimer();
  int GetFd() const { return OVKFdHandler::GetFd(); }

 protected:
  // Hooks, in slot order.
  void Handle(bool readable, bool writable, bool exceptional) override;
  bool WantRead() const override { return reading_enabled_; }
  bool WantWrite() const override { return outbuf_.Length() > 0; }
  bool WantExcept() const override { return false; }
  void TimeoutHandle() override { HandleSessionTimeout(); }
  virtual void HandleNewInput() = 0;
  virtual void HandleAllWritten() {}
  virtual void HandleClosed() {}
  virtual void HandleSessionTimeout() { Close(); }
  virtual void HandleReadError() { Close(); }
  virtual void HandleWriteError() { Close(); }
  virtual void HandleRemoteClosing() { Close(); }

  OVKEventSelector *GetSelector() const { return selector_; }

  int idle_sec_;
  int idle_usec_ = 0;
  bool close_when_drained_ = false;
  bool reading_enabled_ = true;
  OVKEventSelector *selector_ = nullptr;
  OVKBuffer inbuf_;
  OVKBuffer outbuf_;
  bool restart_timer_on_input_ = true;
  bool restart_timer_on_output_ = true;
};

class OVKInetDuplexSession : public OVKGenericDuplexSession {
 public:
  using OVKGenericDuplexSession::OVKGenericDuplexSession;
  // The generic Startup, then the local address; throws OVKException
  // "getsockname failed in InetSession Startup".
  void Startup(OVKEventSelector *selector, int fd, const char *greeting);
  uint32_t LocalAddress() const { return local_address_; }

 private:
  uint32_t local_address_ = 0xffffffffu;
};

#endif
