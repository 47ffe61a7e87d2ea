// The simulated USB layer: the nine usb_ calls of libusb 0.1 (and the four
// the claim operation uses) answered by the simulated boards of one
// directory.  One bus, "001"; its devices are the plugged boards in the
// order of their names, as of the last find_devices.  Transfers take no
// time; a board's timeout fault answers at once with -ETIMEDOUT.
#ifndef HOVANTRA_DEVICES_USB_SIM_USB_H
#define HOVANTRA_DEVICES_USB_SIM_USB_H

#include "devices/usb/usb_seam.h"

// The seam table of the simulated layer over dir.
const UsbSeam &sim_usb_seam(const char *dir);
// Handles opened and not yet closed.
int sim_usb_open_handles();
// Frees the simulated bus and devices; for tests.  Handles must be closed.
void sim_usb_reset();

#endif
