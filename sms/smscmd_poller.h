// SmscmdPoller: once per interval, takes received messages (commands from
// phones) and failed outgoing messages (to resend) from the gateway's
// directories.
#ifndef HOVANTRA_SMS_SMSCMD_POLLER_H
#define HOVANTRA_SMS_SMSCMD_POLLER_H

#include "core/event_selector.h"
#include "util/script_variable.h"

// The command processor as the SMS side sees it: caller, line, response to
// fill; gives 0, 1 or 2.  main passes ProcessCommand.
using SmsCommandHandler = int (*)(const ScriptVariable &caller,
                                  const ScriptVariable &line,
                                  ScriptVariable &response);

class SmscmdPoller : public OVKTimeoutHandler {
 public:
  // Arms itself to expire at once.
  SmscmdPoller(OVKEventSelector *selector, int interval_ms,
               SmsCommandHandler handler);
  ~SmscmdPoller() override;
  void TimeoutHandle() override;

 private:
  OVKEventSelector *selector_;
  int interval_ms_;
  SmsCommandHandler handler_;
};

#endif
