// The watchdog: a periodic timer that proves liveness in the log, keeps the
// process alarm two whole intervals ahead and restarts the log's flood
// counter.  No handler is installed for the alarm, so a loop that stalls for
// two intervals is ended by the kernel.
#ifndef HOVANTRA_CORE_WATCHDOG_H
#define HOVANTRA_CORE_WATCHDOG_H

#include "core/event_selector.h"

class Watchdog : public OVKTimeoutHandler {
 public:
  // Logs "Watchdog interval is %d milliseconds" and arms the first tick;
  // the alarm is set only from the first tick on.
  Watchdog(OVKEventSelector *selector, int interval_ms);
  ~Watchdog() override;
  Watchdog(const Watchdog &) = delete;
  Watchdog &operator=(const Watchdog &) = delete;

  // Logs "Watchdog: I'm still alive", sets the alarm, resumes the log and
  // arms the next tick.
  void TimeoutHandle() override;

 private:
  void Arm();

  OVKEventSelector *selector_;
  int interval_ms_;
};

// The watchdog for the `watchdog` setting in seconds: none for 0.  A
// negative value, or one whose milliseconds do not fit the interval, would
// make the timer due on every pass of the loop; it is logged and the
// daemon runs without a watchdog.
Watchdog *StartWatchdog(OVKEventSelector *selector, long seconds);

#endif
