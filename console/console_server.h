// The TCP console: line-oriented command sessions, trusted by network.
// Address, port, idle timeout, trusted list and greeting come from the
// `console` section of the configuration.
#ifndef HOVANTRA_CONSOLE_CONSOLE_SERVER_H
#define HOVANTRA_CONSOLE_CONSOLE_SERVER_H

#include "net/tcp_server.h"

class OVKEventSelector;

class ConsoleServer : public OVKTcpServer {
 public:
  ConsoleServer(const char *address, int port, int idle_timeout_sec)
      : OVKTcpServer(address, port), idle_timeout_(idle_timeout_sec) {}

 protected:
  OVKTcpServerSession *MakeNewSession(int fd) override;

 private:
  int idle_timeout_;
};

// Replaces any existing console server; the result of Listen.  A failed
// listen leaves the console absent; the program runs on without it.
bool StartConsole(OVKEventSelector *selector);
// The one console server, or nullptr.
ConsoleServer *TheConsoleServer();
// Destroys the console server with its sessions; for tests and restarts.
void StopConsole();

#endif
