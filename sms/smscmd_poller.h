// SmscmdPoller: once per interval, takes received messages (commands from
// phones) and failed outgoing messages (to resend) from the gateway's
// directories.
#ifndef HOVANTRA_SMS_SMSCMD_POLLER_H
#define HOVANTRA_SMS_SMSCMD_POLLER_H

#include "core/event_selector.h"
#include "sms/spool_watch.h"
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
  // One scan, then armed again for the interval.
  void TimeoutHandle() override;
  // One scan: received messages from `incoming` (names "GSM1." plus six
  // characters) to the command handler, then failed messages from `failed`
  // (names "HOVANTRA_OUTG.*" but not "*.LOCK") sent again with their
  // Attempt count, up to the sixth send.  A file with a "<name>.LOCK" beside
  // it is left alone; every other accepted file is moved into `composing`
  // while it is handled and then into `proceeded`, where it stays.
  void ScanOnce();

 private:
  OVKEventSelector *selector_;
  int interval_ms_;
  SmsCommandHandler handler_;
  SpoolWatch incoming_watch_;
  SpoolWatch failed_watch_;
};

#endif
