// DevicePoller: the timer that polls every board (inputs to events, 1-Wire
// readings to the sensors, output resynchronisation, loss and reconnection).
#ifndef HOVANTRA_DEVICES_DEVICE_POLLER_H
#define HOVANTRA_DEVICES_DEVICE_POLLER_H

#include "core/event_selector.h"

class DevicePoller : public OVKTimeoutHandler {
 public:
  // Arms itself to expire at once.
  DevicePoller(OVKEventSelector *selector, int interval_ms,
               int reconnect_period, int sync_period);
  ~DevicePoller() override;
  void TimeoutHandle() override;

 private:
  OVKEventSelector *selector_;
  int interval_ms_;
  int reconnect_period_, reconnect_countdown_;
  int sync_period_, sync_countdown_;
};

#endif
