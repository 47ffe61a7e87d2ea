// Marks close-on-exec the descriptors that libusb opened for us.  libusb 0.1
// keeps its descriptor inside a private structure and opens it without
// O_CLOEXEC, so after each open we look the descriptors up by what they
// point at (/proc/self/fd) instead of reaching into the library.
#ifndef HOVANTRA_DEVICES_CLOEXEC_SCAN_H
#define HOVANTRA_DEVICES_CLOEXEC_SCAN_H

// Sets FD_CLOEXEC on every open descriptor whose target path starts with
// one of the prefixes (a nullptr-terminated array); gives how many it set
// (already marked ones are not counted).
int mark_cloexec_by_path(const char *const *prefixes);

// The prefixes of USB device files on Linux.
extern const char *const kUsbDevicePrefixes[];

#endif
