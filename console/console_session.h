// One operator connection to the console: lines in, command responses out.
//
// Trust is decided once, at connection, from the peer address and the
// console `trusted` list.  The greeting is sent unchanged; there is no
// prompt.  Each complete line (CR before LF dropped) goes to the command
// processor with the caller "trusted" or "".  An empty line ends the
// session once pending output is written; lines that arrived after it are
// discarded and nothing more is read.  The idle timer runs from the last
// input only.
//
// While more than 64 KiB of answers wait to be written, no further line is
// handled and nothing more is read (backpressure); a client that lets its
// idle timeout pass meanwhile has read nothing for that long and is closed
// with "Console: the client reads nothing, closing the session".
//
// A line longer than kMaxLine bytes (so far, without its CR LF) ends
// the session at once with "Console: line too long, closing the session",
// so a client cannot make the daemon hold unbounded input.
//
// Lines are logged with the word after &p or &m masked and control bytes
// as "\xHH" (core/log_text.h).
#ifndef HOVANTRA_CONSOLE_CONSOLE_SESSION_H
#define HOVANTRA_CONSOLE_CONSOLE_SESSION_H

#include "net/tcp_server.h"

class ConsoleServerSession : public OVKTcpServerSession {
 public:
  static const int kMaxLine = 4096;

  ConsoleServerSession(int fd, int idle_timeout_sec, OVKEventSelector *selector,
                       OVKTcpServer *server);
  ~ConsoleServerSession() override;

  bool Trusted() const { return trusted_; }

 protected:
  void HandleNewInput() override;
  void HandleSessionTimeout() override;
  void HandleSessionEnd() override;

 private:
  bool trusted_ = false;
};

#endif
