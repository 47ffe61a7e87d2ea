#include "devices/device_poller.h"

#include "devices/device_record.h"

DevicePoller::DevicePoller(OVKEventSelector *selector, int interval_ms,
                           int reconnect_period, int sync_period)
    : selector_(selector),
      interval_ms_(interval_ms),
      reconnect_period_(reconnect_period),
      reconnect_countdown_(reconnect_period),
      sync_period_(sync_period),
      sync_countdown_(sync_period) {
  SetFromNow(0, 0);
  selector_->RegisterTimeout(this);
}

DevicePoller::~DevicePoller() { selector_->RemoveTimeout(this); }

void DevicePoller::TimeoutHandle() {
  selector_->RemoveTimeout(this);  // in case of a call from outside the loop
  if (--reconnect_countdown_ < 0) reconnect_countdown_ = reconnect_period_ - 1;
  if (--sync_countdown_ < 0) sync_countdown_ = sync_period_ - 1;
  bool reconnect = reconnect_countdown_ == 0;
  bool sync = sync_countdown_ == 0;
  for (DeviceRecord *r = device_records(); r; r = r->next)
    device_poll_record(r, reconnect, sync);
  SetFromNow(interval_ms_ / 1000, (interval_ms_ % 1000) * 1000L);
  selector_->RegisterTimeout(this);
}
