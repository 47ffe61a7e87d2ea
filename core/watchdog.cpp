#include "core/watchdog.h"

#include <unistd.h>

#include <climits>

#include "core/log.h"

Watchdog::Watchdog(OVKEventSelector *selector, int interval_ms)
    : selector_(selector), interval_ms_(interval_ms) {
  LogMessage("Watchdog interval is %d milliseconds", interval_ms_);
  Arm();
}

Watchdog::~Watchdog() { selector_->RemoveTimeout(this); }

void Watchdog::Arm() {
  SetFromNow(interval_ms_ / 1000, (interval_ms_ % 1000) * 1000L);
  selector_->RegisterTimeout(this);
}

void Watchdog::TimeoutHandle() {
  LogMessage("Watchdog: I'm still alive");
  alarm((interval_ms_ / 1000) * 2);
  LogResume();
  Arm();
}

Watchdog *StartWatchdog(OVKEventSelector *selector, long seconds) {
  if (seconds < 0) {
    LogMessage("Negative watchdog interval %ld ignored, running without watchdog",
               seconds);
    return nullptr;
  }
  if (seconds > INT_MAX / 1000) {
    LogMessage("Watchdog interval %ld too large (at most %d seconds), "
               "running without watchdog", seconds, INT_MAX / 1000);
    return nullptr;
  }
  if (seconds == 0) return nullptr;
  return new Watchdog(selector, static_cast<int>(seconds * 1000));
}
