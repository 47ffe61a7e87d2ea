// OVKTcpServer: a listening IPv4 TCP socket that owns one session object
// per accepted connection, and OVKTcpServerSession, the session form that
// belongs to such a server (destroyed by the server from inside its Close).
//
// The listening socket and every accepted socket are close-on-exec, so no
// command run for an event keeps the port busy across a restart.  The
// listening socket is non-blocking: a connection that vanishes between
// readiness and accept costs nothing instead of stalling the loop.
#ifndef HOVANTRA_NET_TCP_SERVER_H
#define HOVANTRA_NET_TCP_SERVER_H

#include <cstdint>

#include "net/duplex_session.h"

struct sockaddr_in;
class OVKTcpServer;

class OVKTcpServerSession : public OVKInetDuplexSession {
 public:
  // Live at once: runs Startup(selector, fd, no greeting); the greeting is
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
  static const int kAcceptBatch = 16;  // connections accepted per readiness

  // address: dotted quad, copied.
  OVKTcpServer(const char *address, int port);
  // Destroys every session, unregisters and closes the listening socket.
  ~OVKTcpServer() override;

  // SO_REUSEADDR, bind to inet_addr(address):port, backlog 5, register.
  // False when the socket, bind or listen fails (nothing is logged).
  bool Listen(OVKEventSelector *selector);
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

 protected:
  // Accepts the pending connections, at most kAcceptBatch, and records the
  // session MakeNewSession gives for each.  A session's handling of its
  // input must not destroy the server.
  void Handle(bool readable, bool writable, bool exceptional) override;
  // Must return a live session for the accepted, non-blocking descriptor.
  virtual OVKTcpServerSession *MakeNewSession(int fd) = 0;

 private:
  struct Node;
  int port_;
  char *address_;
  int listen_fd_ = -1;
  Node *sessions_ = nullptr;
  struct sockaddr_in *peer_;
  OVKEventSelector *selector_ = nullptr;
};

#endif
