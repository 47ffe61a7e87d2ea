#include "devices/usb/usb_seam.h"

#include <cstdlib>
#include <string>

#include "devices/usb/sim_usb.h"

namespace {

const UsbSeam kLibusbSeam = {
    usb_init,
    usb_find_busses,
    usb_find_devices,
    usb_get_busses,
    usb_open,
    usb_close,
    usb_get_string_simple,
    usb_control_msg,
    usb_strerror,
    usb_detach_kernel_driver_np,
    usb_set_configuration,
    usb_claim_interface,
    usb_interrupt_read,
    false,
};

const UsbSeam *g_seam = &kLibusbSeam;
std::string g_directory;

}  // namespace

void usb_seam_select() {
  const char *dir = getenv("HOVANTRA_SIMULATED_BOARDS");
  if (dir && *dir) {
    g_directory = dir;
    g_seam = &sim_usb_seam(g_directory.c_str());
  } else {
    g_directory.clear();
    g_seam = &kLibusbSeam;
  }
}

const UsbSeam &usb_seam() { return *g_seam; }

const char *usb_seam_directory() { return g_directory.c_str(); }

void usb_seam_reset() {
  sim_usb_reset();
  g_directory.clear();
  g_seam = &kLibusbSeam;
}
