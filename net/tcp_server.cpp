#include "net/tcp_server.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "core/log.h"

struct OVKTcpServer::Node {
  OVKTcpServerSession *session;
  Node *next;
};

OVKTcpServerSession::OVKTcpServerSession(int fd, int idle_timeout_sec,
                                         OVKEventSelector *selector,
                                         OVKTcpServer *server,
                                         const char *greeting)
    : OVKInetDuplexSession(idle_timeout_sec, greeting), server_(server) {
  StartupAccepted(selector, fd);
}

void OVKTcpServerSession::HandleClosed() {
  HandleSessionEnd();
  server_->RemoveSession(this);  // deletes this
}

OVKTcpServer::OVKTcpServer(const char *address, int port)
    : OVKFdHandler(-1),
      port_(port),
      address_(strdup(address != nullptr ? address : "")),
      peer_(new sockaddr_in()) {
  // The resume timer is first armed when no descriptor is left, and a
  // sanitizer build checks an object's type on its first use through a
  // pipe; so it is used once here, while descriptors are to be had.
  resume_.SetExpiry(-1, -1);
}

OVKTcpServer::~OVKTcpServer() {
  if (paused_ && selector_ != nullptr) selector_->RemoveTimeout(&resume_);
  free(address_);
  while (sessions_ != nullptr) {
    Node *node = sessions_;
    sessions_ = node->next;
    delete node->session;
    delete node;
  }
  delete peer_;
  if (selector_ != nullptr && fd_ != -1) selector_->RemoveFd(this);
  if (listen_fd_ != -1) {
    shutdown(listen_fd_, SHUT_RDWR);
    close(listen_fd_);
  }
}

bool OVKTcpServer::Listen(OVKEventSelector *selector, const char *what) {
  selector_ = selector;
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd == -1) return ListenFailed(what);
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  struct sockaddr_in addr;
  memset(&addr, 0, sizeof addr);
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port_));
  addr.sin_addr.s_addr = inet_addr(address_);
  if (bind(fd, reinterpret_cast<struct sockaddr *>(&addr), sizeof addr) != 0 ||
      listen(fd, SOMAXCONN) != 0) {
    ListenFailed(what);
    close(fd);
    return false;
  }
  listen_fd_ = fd;
  SetFd(fd);
  selector_->RegisterFd(this);
  return true;
}

// Without this line an interface whose port is taken would be absent
// with nothing said anywhere.
bool OVKTcpServer::ListenFailed(const char *what) const {
  LogMessage("Cannot listen for the %s on ``%s:%d'': %s", what, address_, port_,
             strerror(errno));
  return false;
}

uint32_t OVKTcpServer::LastPeerAddress() const {
  return ntohl(peer_->sin_addr.s_addr);
}

int OVKTcpServer::LastPeerPort() const { return ntohs(peer_->sin_port); }

int OVKTcpServer::BoundPort() const {
  if (listen_fd_ == -1) return -1;
  struct sockaddr_in addr;
  socklen_t len = sizeof addr;
  if (getsockname(listen_fd_, reinterpret_cast<struct sockaddr *>(&addr),
                  &len) != 0)
    return -1;
  return ntohs(addr.sin_port);
}

void OVKTcpServer::RemoveSession(OVKTcpServerSession *session) {
  Node **link = &sessions_;
  while (*link != nullptr && (*link)->session != session) link = &(*link)->next;
  if (*link == nullptr) throw OVKException("Cant remove foreign TCP session");
  Node *node = *link;
  *link = node->next;
  delete node->session;
  delete node;
  // Its descriptor is free again: the pending connection may fit now.
  if (paused_) Resume();
}

int OVKTcpServer::SessionCount() const {
  int count = 0;
  for (Node *n = sessions_; n != nullptr; n = n->next) count++;
  return count;
}

namespace {
// Failures after which the next accept has a fresh chance: nothing was
// pending after all, or the failed connection itself was taken off the
// queue.  Any other failure (no descriptor, no memory) would repeat at
// once while the connection stays pending.
bool AcceptConsumed(int error) {
  switch (error) {
    case EAGAIN:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
    case EINTR:
    case ECONNABORTED:
    case EPROTO:
    case EPERM:
    case ENETDOWN:
    case ENOPROTOOPT:
    case EHOSTDOWN:
    case ENONET:
    case EHOSTUNREACH:
    case EOPNOTSUPP:
    case ENETUNREACH:
      return true;
    default:
      return false;
  }
}
}  // namespace

void OVKTcpServer::PauseAccepting(int error) {
  if (!failure_logged_) {
    LogMessage("TCP server on port %d: accept failed: %s; pausing", BoundPort(),
               strerror(error));
    failure_logged_ = true;
  }
  if (paused_ || selector_ == nullptr) return;
  paused_ = true;
  resume_.SetFromNow(kAcceptPause / 1000, (kAcceptPause % 1000) * 1000L);
  selector_->RegisterTimeout(&resume_);
}

void OVKTcpServer::Resume() {
  if (!paused_) return;
  paused_ = false;
  if (selector_ != nullptr) selector_->RemoveTimeout(&resume_);
}

void OVKTcpServer::Handle(bool readable, bool /*writable*/,
                          bool /*exceptional*/) {
  if (!readable) return;
  // Everything pending, within a bound, so a burst of connections costs
  // one pass of the loop rather than one each, and no other descriptor
  // waits long behind it.
  for (int i = 0; i < kAcceptBatch; i++) {
    socklen_t len = sizeof *peer_;
    int fd = accept4(listen_fd_, reinterpret_cast<struct sockaddr *>(peer_),
                     &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd == -1) {
      if (!AcceptConsumed(errno)) PauseAccepting(errno);
      return;
    }
    failure_logged_ = false;
    OVKTcpServerSession *session = MakeNewSession(fd);
    if (session == nullptr) continue;
    sessions_ = new Node{session, sessions_};
    if (session->PeerSpeaksFirst()) session->ReadNow();  // may close it
  }
}
