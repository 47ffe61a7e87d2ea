#include "console/console_session.h"

#include "actions/command_processor.h"
#include "config/configuration.h"
#include "console/trusted_networks.h"
#include "core/log.h"
#include "core/log_text.h"
#include "util/script_variable.h"

ConsoleServerSession::ConsoleServerSession(int fd, int idle_timeout_sec,
                                           OVKEventSelector *selector,
                                           OVKTcpServer *server)
    : OVKTcpServerSession(fd, idle_timeout_sec, selector, server) {
  restart_timer_on_input_ = true;
  restart_timer_on_output_ = false;
  uint32_t peer = server->LastPeerAddress();
  TrustedNetworkList trusted(ConsoleTrusted().c_str());
  trusted_ = trusted.Contains(peer);
  LogMessage("Console: connection from %x:%d -- %s", peer,
             server->LastPeerPort(), trusted_ ? "trusted" : "untrusted");
  outbuf_.AddString(ConsoleGreeting(trusted_).c_str());
}

ConsoleServerSession::~ConsoleServerSession() {
  LogMessage("Console session closed (destructor)");
}

void ConsoleServerSession::HandleNewInput() {
  OVKBuffer line;
  for (;;) {
    if (PausedForOutput()) return;  // the client reads too slowly
    int lf = inbuf_.FindLineFeed();
    int length = lf < 0 ? inbuf_.Length() : lf;
    // The CR of a CR LF is no part of the line, even before its LF came.
    if (length > 0 && inbuf_.GetBuffer()[length - 1] == '\r') length--;
    if (length > kMaxLine) {
      LogMessage("Console: line too long, closing the session");
      Close();  // destroys this
      return;
    }
    if (!inbuf_.ReadLine(line)) return;
    ScriptVariable text(line.GetBuffer());
    if (!LogSilenced())
      LogMessage("Console: handling [%s]", LogCommandLine(text).c_str());
    if (text.IsEmpty()) {
      // The client said goodbye: whatever it sent after that is dropped.
      inbuf_.Erase();
      reading_enabled_ = false;
      Shutdown();  // may destroy this
      return;
    }
    ScriptVariable response;
    int outcome = ProcessCommand(trusted_ ? "trusted" : "", text, response);
    if (outcome == 0) continue;
    if (outcome == 2) outbuf_.AddString("[!] ");
    outbuf_.AddData(response.c_str(), static_cast<int>(response.Length()));
    outbuf_.AddChar('\n');
  }
}

void ConsoleServerSession::HandleSessionTimeout() {
  // Paused this long, the client has read nothing for a whole idle period
  // and would never take a farewell either.
  if (OutputPaused()) {
    LogMessage("Console: the client reads nothing, closing the session");
    Close();  // destroys this
    return;
  }
  outbuf_.AddString("Timed out, sorry...\n");
  Shutdown();
}

void ConsoleServerSession::HandleSessionEnd() {
  LogMessage("Console: shutting down the session");
}
