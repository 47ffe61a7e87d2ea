#include "devices/usb/sim_usb.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "devices/usb/sim_board.h"

namespace {

struct SimDevice {
  struct usb_device dev;
  std::string name;
};

struct SimHandle {
  std::string name;
  unsigned generation;
};

std::string g_dir;
bool g_bus_ready = false;
struct usb_bus g_bus;
// One device structure per board name, reused across rescans so that
// rescanning a long-running daemon's bus allocates nothing new.
std::map<std::string, SimDevice *> g_devices;
char g_error[256] = "";
int g_open_handles = 0;

int Fail(int code, const char *what) {
  snprintf(g_error, sizeof g_error, "%s: %s", what, strerror(-code));
  return code;
}

SimDevice *DeviceOf(struct usb_device *dev) {
  for (auto &entry : g_devices)
    if (&entry.second->dev == dev) return entry.second;
  return nullptr;
}

void SimInit() {}

int SimFindBusses() {
  if (g_bus_ready) return 0;
  memset(&g_bus, 0, sizeof g_bus);
  snprintf(g_bus.dirname, sizeof g_bus.dirname, "001");
  g_bus.location = 1;
  g_bus_ready = true;
  return 1;
}

int SimFindDevices() {
  SimFindBusses();
  SimLock lock(g_dir);
  struct usb_device *head = nullptr, *tail = nullptr;
  int number = 0;
  for (const std::string &name : SimBoardNames(g_dir)) {
    SimBoard board;
    std::string err;
    if (!SimBoardLoad(g_dir, name, &board, &err) || !board.plugged) continue;
    SimDevice *&d = g_devices[name];
    if (!d) {
      d = new SimDevice();
      d->name = name;
    }
    struct usb_device *dev = &d->dev;
    dev->next = dev->prev = nullptr;
    dev->bus = &g_bus;
    dev->devnum = static_cast<uint8_t>(++number);
    snprintf(dev->filename, sizeof dev->filename, "%03d", number);
    memset(&dev->descriptor, 0, sizeof dev->descriptor);
    dev->descriptor.bLength = USB_DT_DEVICE_SIZE;
    dev->descriptor.bDescriptorType = USB_DT_DEVICE;
    dev->descriptor.bcdUSB = 0x0110;
    dev->descriptor.bMaxPacketSize0 = 8;
    dev->descriptor.idVendor = static_cast<uint16_t>(board.vendor);
    dev->descriptor.idProduct = static_cast<uint16_t>(board.product_id);
    dev->descriptor.iManufacturer = board.manufacturer.present ? 1 : 0;
    dev->descriptor.iProduct = board.product.present ? 2 : 0;
    dev->descriptor.iSerialNumber = board.serial.present ? 3 : 0;
    dev->descriptor.bNumConfigurations = 1;
    if (tail) {
      tail->next = dev;
      dev->prev = tail;
    } else {
      head = dev;
    }
    tail = dev;
  }
  g_bus.devices = head;
  return number;
}

struct usb_bus *SimGetBusses() {
  return g_bus_ready ? &g_bus : nullptr;
}

// Loads the board behind an open handle; -ENODEV when it has been unplugged
// (or unplugged and plugged again) since the handle was opened.
int LoadLive(const SimHandle *h, SimBoard *board) {
  std::string err;
  if (!SimBoardLoad(g_dir, h->name, board, &err) || !board->plugged ||
      board->generation != h->generation)
    return -ENODEV;
  return 0;
}

usb_dev_handle *SimOpen(struct usb_device *dev) {
  SimDevice *d = DeviceOf(dev);
  if (!d) {
    Fail(-ENODEV, "usb_open");
    return nullptr;
  }
  SimLock lock(g_dir);
  SimBoard board;
  std::string err;
  if (!SimBoardLoad(g_dir, d->name, &board, &err) || !board.plugged) {
    Fail(-ENODEV, "usb_open");
    return nullptr;
  }
  if (board.open_fails) {
    Fail(-EACCES, "usb_open");
    return nullptr;
  }
  SimHandle *h = new SimHandle{d->name, board.generation};
  g_open_handles++;
  return reinterpret_cast<usb_dev_handle *>(h);
}

int SimClose(usb_dev_handle *dev) {
  delete reinterpret_cast<SimHandle *>(dev);
  g_open_handles--;
  return 0;
}

int SimGetString(usb_dev_handle *dev, int index, char *buf, size_t buflen) {
  const SimHandle *h = reinterpret_cast<SimHandle *>(dev);
  SimLock lock(g_dir);
  SimBoard board;
  int rc = LoadLive(h, &board);
  if (rc < 0) return Fail(rc, "usb_get_string_simple");
  const SimText *t = index == 1   ? &board.manufacturer
                     : index == 2 ? &board.product
                     : index == 3 ? &board.serial
                                  : nullptr;
  if (!t || !t->present) return Fail(-EPIPE, "usb_get_string_simple");
  if (buflen == 0) return 0;
  size_t n = t->text.size();
  if (n > buflen - 1) n = buflen - 1;
  memcpy(buf, t->text.data(), n);
  buf[n] = '\0';
  return static_cast<int>(n);
}

int SimControlMsg(usb_dev_handle *dev, int requesttype, int request, int value,
                  int index, char *bytes, int size, int timeout) {
  (void)timeout;
  const SimHandle *h = reinterpret_cast<SimHandle *>(dev);
  SimLock lock(g_dir);
  SimBoard board;
  int rc = LoadLive(h, &board);
  if (rc < 0) return Fail(rc, "usb_control_msg");
  unsigned char *buf = reinterpret_cast<unsigned char *>(bytes);
  bool get = requesttype == 0xA0 && request == 0x01;
  bool set = requesttype == 0x20 && request == 0x09;
  if (board.timeouts > 0 && (get || set)) {
    board.timeouts--;
    rc = -ETIMEDOUT;
  } else if (get && (value >> 8) == 3 && index == 0 && size > 0) {
    board.reads++;
    rc = SimBoardGetReport(&board, value & 0xFF, buf, size);
    if (rc > 0 && board.short_reads > 0) {
      board.short_reads--;
      rc--;
    }
  } else if (set && (value >> 8) == 3 && index == 0 && size > 0 &&
             (value & 0xFF) == buf[0]) {
    board.writes++;
    if (board.failed_writes > 0) {
      board.failed_writes--;
      rc = -EPIPE;
    } else {
      rc = SimBoardSetReport(&board, value & 0xFF, buf, size);
    }
  } else {
    rc = -EPIPE;
  }
  std::string err;
  SimBoardSave(g_dir, board, &err);
  if (rc < 0) return Fail(rc, "usb_control_msg");
  return rc;
}

char *SimStrerror() { return g_error; }

int SimDetach(usb_dev_handle *, int) { return Fail(-ENODATA, "usb_detach"); }
int SimSetConfiguration(usb_dev_handle *, int) { return 0; }
int SimClaim(usb_dev_handle *, int) { return 0; }
int SimInterruptRead(usb_dev_handle *, int, char *, int, int) {
  return Fail(-ENOSYS, "usb_interrupt_read");
}

const UsbSeam kSimSeam = {
    SimInit,          SimFindBusses, SimFindDevices,      SimGetBusses,
    SimOpen,          SimClose,      SimGetString,        SimControlMsg,
    SimStrerror,      SimDetach,     SimSetConfiguration, SimClaim,
    SimInterruptRead, true,
};

}  // namespace

const UsbSeam &sim_usb_seam(const char *dir) {
  g_dir = dir;
  return kSimSeam;
}

int sim_usb_open_handles() { return g_open_handles; }

void sim_usb_reset() {
  for (auto &entry : g_devices) delete entry.second;
  g_devices.clear();
  g_bus_ready = false;
  memset(&g_bus, 0, sizeof g_bus);
  g_error[0] = '\0';
}
