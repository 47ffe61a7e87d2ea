// RestartTimeout: the delayed end of the event loop after @QUIT or
// @RESTART.  The two seconds let the answer to the command that asked for it
// leave the console, the web page or the SMS spool first.
#ifndef HOVANTRA_ACTIONS_RESTART_TIMEOUT_H
#define HOVANTRA_ACTIONS_RESTART_TIMEOUT_H

#include "core/event_selector.h"

class RestartTimeout : public OVKTimeoutHandler {
 public:
  // Stops the loop handed to SetActionEventLoop; start-up then quits or
  // restarts according to RestartRequested.
  void TimeoutHandle() override;
};

// Creates a RestartTimeout due two seconds from now in the action event
// loop.  Nothing when no loop has been handed over.  The timeouts stay owned
// here until ResetActions.
void ArmRestartTimeout();
// The most recently armed one, or nullptr; for tests.
RestartTimeout *LastRestartTimeout();

#endif
