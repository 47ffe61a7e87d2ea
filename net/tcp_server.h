// OVKTcpServer: a listening IPv4 TCP socket that owns one session object
// per accepted connection, and OVKTcpServerSession, the session form that
// belongs to such a server (destroyed by the server from inside its Close).
//
// The listening socket and every accepted socket are close-on-exec, so no
// command run for an event keeps the port busy across a restart.  The
// listening socket is non-blocking: a connection that vanishes between
// readiness and accept costs nothing instead of stalling the loop.
//
// An accept that fails for a reason that would repeat at once (no
// descriptor or memory left) leaves the connection pending and the
// listener readable, so the server logs "TCP server on port %d: accept
// failed: %s; pausing" (once per run of failures), stops polling the
// listener for kAcceptPause milliseconds or until one of its sessions
// ends, and everything else runs on meanwhile.
#ifndef HOVANTRA_NET_TCP_SERVER_H
#define HOVANTRA_NET_TCP_SERVER_H

#include <cstdint>

#include "net/duplex_session.h"

struct sockaddr_in;
class OVKTcpServer;

class OVKTcpServerSession : public OVKInetDuplexSession {
 public:
  // Live at once: runs StartupAccepted(selector, fd); the greeting is
  // queued by the constructor.
  OVKTcpServerSession(int fd, int idle_timeout_sec, OVKEventSelector *selector,
                      OVKTcpServer *server, const char *greeting = nullptr);
  // True for a protocol whose client speaks first: its first bytes, most
  // often there already, are read as the connection is accepted rather
  // than after another wait.
  virtual bool PeerSpeaksFirst() const { return false; }

 protected:
  // HandleSessionEnd, then the server destroys this session.
  void HandleClosed() override;
  virtual void HandleSessionEnd() {}
  OVKTcpServer *GetServer() const { return server_; }

 private:
  OVKTcpServer *server_;
};

class OVKTcpServer : private OVKFdHandler {
 public:
  static const int kAcceptPause = 1000;  // milliseconds
  static const int kAcceptBatch = 16;    // connections accepted per readiness

  // address: dotted quad, copied.
  OVKTcpServer(const char *address, int port);
  // Destroys every session, unregisters and closes the listening socket.
  ~OVKTcpServer() override;

  // SO_REUSEADDR, bind to inet_addr(address):port, backlog SOMAXCONN (a
  // burst of connections waits in the kernel rather than being dropped),
  // register.
  // False when the socket, bind or listen fails, after logging
  // "Cannot listen for the %s on ``%s:%d'': %s" with what (the interface
  // the port serves), the address, the port and the system's reason.
  bool Listen(OVKEventSelector *selector, const char *what = "TCP server");
  // The last accepted peer; valid while MakeNewSession runs.
  uint32_t LastPeerAddress() const;  // host order
  int LastPeerPort() const;          // host order
  // Unlinks and destroys the session.  Throws OVKException
  // "Cant remove foreign TCP session" when it is not one of ours.
  void RemoveSession(OVKTcpServerSession *session);
  OVKEventSelector *GetSelector() const { return selector_; }
  int SessionCount() const;
  // The local port actually bound (useful with port 0), or -1.
  int BoundPort() const;
  // Whether accepting is paused after a failed accept.
  bool AcceptPaused() const { return paused_; }

 protected:
  // Accepts the pending connections, at most kAcceptBatch, and records the
  // session MakeNewSession gives for each.  A session's handling of its
  // input must not destroy the server.
  void Handle(bool readable, bool writable, bool exceptional) override;
  bool WantRead() const override { return !paused_; }
  // Must return a live session for the accepted, non-blocking descriptor.
  virtual OVKTcpServerSession *MakeNewSession(int fd) = 0;

 private:
  struct Node;
  // Ends a pause of accepting when it expires (the selector has already
  // dropped the timer by then).
  class AcceptResume : public ::OVKTimeoutHandler {
   public:
    explicit AcceptResume(bool *paused) : paused_(paused) {}
    void TimeoutHandle() override { *paused_ = false; }

   private:
    bool *paused_;
  };
  // Stops polling the listener after a failed accept that would repeat.
  void PauseAccepting(int error);
  void Resume();

  bool paused_ = false;
  AcceptResume resume_{&paused_};
  bool failure_logged_ = false;  // in the current run of failed accepts
  // Logs why Listen failed (errno); false.
  bool ListenFailed(const char *what) const;
  int port_;
  char *address_;
  int listen_fd_ = -1;
  Node *sessions_ = nullptr;
  struct sockaddr_in *peer_;
  OVKEventSelector *selector_ = nullptr;
};

#endif
