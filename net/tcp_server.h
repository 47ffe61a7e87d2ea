// OVKTcpServer: a listening IPv4 TCP socket that owns one session object
// per accepted connection, and OVKTcpServerSession, the session form that
// belongs to such a server (destroyed by the server from inside its Close).
#ifndef HOVANTRA_NET_TCP_SERVER_H
#define HOVANTRA_NET_TCP_SERVER_H

#include <cstdint>

#include "net/duplex_session.h"

class OVKTcpServer;

class OVKTcpServerSession : public OVKInetDuplexSession {
 public:
  // Live at once: runs Startup(selector, fd, no greeting).
  OVKTcpServerSession(int fd, int idle_timeout_sec, OVKEventSelector *selector,
                      OVKTcpServer *server, const char *greeting = nullptr);

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
  OVKTcpServer(const char *address, int port);
  ~OVKTcpServer() override;

  bool Listen(OVKEventSelector *selector);
  uint32_t LastPeerAddress() const;  // host order
  int LastPeerPort() const;          // host order
  // Throws OVKException "Cant remove foreign TCP session".
  void RemoveSession(OVKTcpServerSession *session);
  OVKEventSelector *GetSelector() const { return selector_; }
  int SessionCount() const;

 protected:
  void Handle(bool readable, bool writable, bool exceptional) override;
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
