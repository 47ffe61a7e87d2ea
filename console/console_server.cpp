#include "console/console_server.h"

#include "config/configuration.h"
#include "console/console_session.h"

namespace {
ConsoleServer *the_console = nullptr;
}  // namespace

OVKTcpServerSession *ConsoleServer::MakeNewSession(int fd) {
  return new ConsoleServerSession(fd, idle_timeout_, GetSelector(), this);
}

bool StartConsole(OVKEventSelector *selector) {
  StopConsole();
  long port = ConsolePort();
  long timeout = ConsoleTimeout();
  the_console = new ConsoleServer(ConsoleIp().c_str(), static_cast<int>(port),
                                  static_cast<int>(timeout));
  return the_console->Listen(selector, "console");
}

ConsoleServer *TheConsoleServer() { return the_console; }

void StopConsole() {
  delete the_console;
  the_console = nullptr;
}
