// The one seam between the board library and the USB stack.
//
// The board library never calls a usb_ function directly; it goes through the
// table returned by usb_seam().  In production the table holds libusb 0.1's
// own functions.  When HOVANTRA_SIMULATED_BOARDS names a directory at the
// time usb_seam_select() runs, the table holds the simulated USB layer
// (devices/usb/sim_usb.h), whose boards live as files in that directory.
#ifndef HOVANTRA_DEVICES_USB_USB_SEAM_H
#define HOVANTRA_DEVICES_USB_USB_SEAM_H

#include <usb.h>

struct UsbSeam {
  // The nine calls the board library makes in normal use.
  void (*init)();
  int (*find_busses)();
  int (*find_devices)();
  struct usb_bus *(*get_busses)();
  usb_dev_handle *(*open)(struct usb_device *dev);
  int (*close)(usb_dev_handle *dev);
  int (*get_string_simple)(usb_dev_handle *dev, int index, char *buf,
                           size_t buflen);
  int (*control_msg)(usb_dev_handle *dev, int requesttype, int request,
                     int value, int index, char *bytes, int size, int timeout);
  char *(*strerror)();
  // Only the board's claim and interrupt-read operations use these; the
  // system itself never calls them.
  int (*detach_kernel_driver)(usb_dev_handle *dev, int interface);
  int (*set_configuration)(usb_dev_handle *dev, int configuration);
  int (*claim_interface)(usb_dev_handle *dev, int interface);
  int (*interrupt_read)(usb_dev_handle *dev, int ep, char *bytes, int size,
                        int timeout);
  // True for the simulated layer (its handles own no descriptors).
  bool simulated;
};

// Chooses the table from the environment; board_init calls it.
void usb_seam_select();
// The selected table (libusb's own until usb_seam_select picks otherwise).
const UsbSeam &usb_seam();
// The simulated-boards directory chosen by usb_seam_select ("" for libusb).
const char *usb_seam_directory();
// Back to libusb's table and no directory; for tests.
void usb_seam_reset();

#endif
