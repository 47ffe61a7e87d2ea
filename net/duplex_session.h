// Buffered, non-blocking two-way byte streams on one descriptor, with an
// idle timer.  A session is at once the fd handler of its socket and the
// timeout handler of its idle timer.  Derived classes override the hooks.
//
// Handle reads at most 1024 bytes per readiness event and offers the whole
// output queue to one write per writability event.  Output queued into an
// empty queue while input is handled is written in the same event when the
// socket takes it.  Writes use
// send(MSG_NOSIGNAL) (write() when the descriptor is not a socket), so a
// peer that has gone is a write error, never SIGPIPE.  A read or write that
// would block or was interrupted is not an error; the next event retries.
//
// Backpressure: a derived class asks PausedForOutput before it handles
// each further piece of input.  While the output queue holds more than
// kOutputBound bytes the answer is yes, and reading stops; the input
// already read waits in the input queue.  Once writes bring the output
// queue down to the bound, reading resumes and HandleNewInput runs again.
// A peer that does not read thus holds at most one answer plus the bound,
// and an answer of any size reaches a peer that reads it, whole and in
// order.  While paused, every write restarts the idle timer: the peer is
// waiting for the session, not idle.
//
// The idle timer ends the session when nothing moved for the whole
// timeout: each restart moves the deadline, and the timer's own expiry is
// brought forward only when the deadline comes before it.
//
// Close may destroy the session (a server session is deleted by its server
// from inside Close); every caller of Close, Shutdown or a hook that may
// close must treat the object as gone afterwards.
#ifndef HOVANTRA_NET_DUPLEX_SESSION_H
#define HOVANTRA_NET_DUPLEX_SESSION_H

#include <cstdint>

#include "core/event_selector.h"
#include "net/buffer.h"

class OVKGenericDuplexSession : private OVKFdHandler,
                                private OVKTimeoutHandler {
 public:
  static const int kOutputBound = 64 * 1024;
  static const int kReadChunk = 1024;  // bytes read per readiness at most

  // idle_timeout_sec < 1: no idle timer.  greeting may be nullptr; it is
  // queued for output.
  OVKGenericDuplexSession(int idle_timeout_sec, const char *greeting);
  // Closes the descriptor without running any hook.
  ~OVKGenericDuplexSession() override;

  // Stores the selector; a non-null greeting replaces the output queue;
  // registers the descriptor and, when an idle timeout is set, the timer.
  void Startup(OVKEventSelector *selector, int fd, const char *greeting);
  // Unregisters, closes the descriptor and calls HandleClosed (once).
  void Close();
  void Shutdown();  // close once the output queue is drained
  void RestartIdleTimer();
  // Handles what the peer already sent as a readiness event would; the
  // session may be gone afterwards.
  void ReadNow() { Handle(true, false, false); }
  int GetFd() const { return OVKFdHandler::GetFd(); }

 protected:
  // Hooks, in slot order.
  void Handle(bool readable, bool writable, bool exceptional) override;
  bool WantRead() const override { return reading_enabled_; }
  bool WantWrite() const override { return outbuf_.Length() > 0; }
  bool WantExcept() const override { return false; }
  // Moves an early timer on to the idle deadline, or ends the session.
  void TimeoutHandle() override;
  virtual void HandleNewInput() = 0;
  virtual void HandleAllWritten() {}
  virtual void HandleClosed() {}
  virtual void HandleSessionTimeout() { Close(); }
  virtual void HandleReadError() { Close(); }
  virtual void HandleWriteError() { Close(); }
  virtual void HandleRemoteClosing() { Close(); }

  // True, with reading stopped, while the output queue holds more than
  // kOutputBound bytes (see above).
  bool PausedForOutput();
  bool OutputPaused() const { return output_paused_; }

  OVKEventSelector *GetSelector() const { return selector_; }
  bool HasIdleTimer() const { return idle_sec_ > 0 || idle_usec_ > 0; }
  // Whether the idle timer was ever armed.
  bool IdleTimerEverSet() const { return OVKTimeoutHandler::ExpirySec() != -1; }

  int idle_sec_;
  int idle_usec_ = 0;
  bool close_when_drained_ = false;
  bool reading_enabled_ = true;
  OVKEventSelector *selector_ = nullptr;
  OVKBuffer inbuf_;
  OVKBuffer outbuf_;
  bool restart_timer_on_input_ = true;
  bool restart_timer_on_output_ = true;

 private:
  // Unregisters and closes; true when a descriptor was actually closed.
  bool CloseDescriptor();
  // One write of the whole output queue: bytes written, 0 when the write
  // would block or was interrupted, -1 on failure.
  int WriteQueue();
  // While Handle runs, destroyed_flag_ points into a DestroyWatch on its
  // stack; the destructor sets that flag, so Handle notices a hook that
  // destroyed the session.
  struct DestroyWatch;
  bool *destroyed_flag_ = nullptr;
  // When the session has been idle for its whole timeout.  Traffic only
  // moves this on; the registered timer keeps its earlier expiry and, when
  // it fires, is registered again for the deadline.  So a busy session
  // does not walk the selector's timer list twice per exchange.
  long deadline_sec_ = -1;
  long deadline_usec_ = 0;
  bool timer_registered_ = false;
  bool not_a_socket_ = false;
  bool output_paused_ = false;
};

class OVKInetDuplexSession : public OVKGenericDuplexSession {
 public:
  using OVKGenericDuplexSession::OVKGenericDuplexSession;
  // The generic Startup, then the local address; throws OVKException
  // "getsockname failed in InetSession Startup".
  void Startup(OVKEventSelector *selector, int fd, const char *greeting);
  // IPv4 address in host order; all ones until known.  A session started
  // with StartupAccepted asks for it on first use, while its descriptor is
  // open.
  uint32_t LocalAddress() const;

 protected:
  // The generic Startup for a descriptor fresh from accept, which is a
  // connected socket: the local address is left until someone asks, since
  // most connections never do and the query is a system call each.
  void StartupAccepted(OVKEventSelector *selector, int fd);

 private:
  mutable uint32_t local_address_ = 0xffffffffu;
  mutable bool local_address_pending_ = false;
};

#endif
