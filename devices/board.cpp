#include "devices/board.h"

#include <cstdlib>
#include <cstring>

#include "devices/cloexec_scan.h"
#include "devices/usb_seam.h"

// Two spellings of the one maker, both found on shipped boards.
const char *const kBoardVendorStrings[2] = {
    "Tarnwick www.tarnwick-controls.example",
    "TARNWICK www.tarnwick-controls.example"};

namespace {

const char *const kCurrentProducts[] = {
    "QTR0xx", "Electric circuit switch QTR0xx",
    "Electric circuit switch QTR001", nullptr};
const char kLegacyProduct[] = "Electric circuit switch QTR001 '1";
const char kWrongReadCount[] = "wrong count on reading from the device";
const char kWrongWriteCount[] = "error sending info to device (wrong count)";

bool g_initialized = false;
BoardHandle *g_open_boards = nullptr;

void SetError(BoardHandle *h, const char *text, bool owned) {
  if (h->error_owned) free(const_cast<char *>(h->error));
  h->error = text;
  h->error_owned = owned;
}

void SetUsbError(BoardHandle *h) {
  const char *text = usb_seam().strerror();
  SetError(h, strdup(text ? text : ""), true);
}

int OpsReadReport(BoardHandle *h, int report, unsigned char *buf, int len) {
  return usb_seam().control_msg(h->dev, 0xA0, 0x01, 0x0300 + report, 0,
                                reinterpret_cast<char *>(buf), len,
                                kBoardTimeoutMs);
}

int OpsWriteReport(BoardHandle *h, const unsigned char *buf, int len) {
  unsigned char copy[kBoardReportSize];
  if (len < 1 || len > kBoardReportSize) return -1;
  memcpy(copy, buf, len);
  return usb_seam().control_msg(h->dev, 0x20, 0x09, 0x0300 + buf[0], 0,
                                reinterpret_cast<char *>(copy), len,
                                kBoardTimeoutMs);
}

int OpsClaim(BoardHandle *h) {
  const UsbSeam &usb = usb_seam();
  usb.detach_kernel_driver(h->dev, 0);
  usb.detach_kernel_driver(h->dev, 1);
  int rc = usb.set_configuration(h->dev, 1);
  if (rc >= 0) rc = usb.claim_interface(h->dev, 0);
  if (rc < 0) SetUsbError(h);
  return rc < 0 ? rc : 0;
}

int OpsReadInterrupt(BoardHandle *h, unsigned char *buf8) {
  return usb_seam().interrupt_read(h->dev, 0x81,
                                   reinterpret_cast<char *>(buf8), 8, 0);
}

const BoardOps kBoardOps = {OpsReadReport, OpsWriteReport, board_close,
                            OpsClaim, OpsReadInterrupt};

// A read of exactly len bytes; a short or long answer records why.
int ReadExactly(BoardHandle *h, int report, unsigned char *buf, int len) {
  int rc = h->ops->read_report(h, report, buf, len);
  if (rc <= 0) return -1;
  if (rc != len) {
    SetError(h, kWrongReadCount, false);
    return -1;
  }
  return 0;
}

uint32_t U32(const unsigned char *p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A string descriptor into buf (256 bytes); false when the device names
// none or it reads empty.
bool ReadString(usb_dev_handle *dev, int index, char *buf) {
  buf[0] = '\0';
  if (index == 0) return false;
  int n = usb_seam().get_string_simple(dev, index, buf, 256);
  if (n <= 0) return false;
  buf[n < 256 ? n : 255] = '\0';
  return true;
}

bool IsCurrentProduct(const char *text) {
  for (const char *const *p = kCurrentProducts; *p; p++)
    if (strcmp(text, *p) == 0) return true;
  return false;
}

BoardHandle *WrapHandle(usb_dev_handle *dev) {
  BoardHandle *h = new BoardHandle{&kBoardOps, nullptr, false, dev,
                                   g_open_boards};
  g_open_boards = h;
  return h;
}

}  // namespace

void board_init() {
  if (g_initialized) return;
  g_initialized = true;
  usb_seam_select();
  const UsbSeam &usb = usb_seam();
  usb.init();
  usb.find_busses();
  usb.find_devices();
}

void board_rescan() { usb_seam().find_devices(); }

void board_parse_serial(const char *text, int32_t serial[3]) {
  serial[0] = serial[1] = serial[2] = -1;
  int group = 0;
  uint32_t value = 0;  // unsigned: long texts wrap instead of overflowing
  for (const char *p = text; *p; p++) {
    int digit = HexDigit(*p);
    if (digit >= 0) {
      value = value * 16 + digit;
    } else if (*p == ':') {
      serial[group++] = static_cast<int32_t>(value);
      value = 0;
      if (group == 3) return;
    } else {
      return;
    }
  }
  serial[group] = static_cast<int32_t>(value);
}

FoundBoard *board_find(uint32_t id) {
  const UsbSeam &usb = usb_seam();
  FoundBoard *list = nullptr;
  for (struct usb_bus *bus = usb.get_busses(); bus; bus = bus->next) {
    for (struct usb_device *dev = bus->devices; dev; dev = dev->next) {
      const struct usb_device_descriptor &d = dev->descriptor;
      if (d.idVendor != kBoardVendorId || d.idProduct != kBoardProductId)
        continue;
      usb_dev_handle *udev = usb.open(dev);
      if (!udev) continue;
      // libusb opens the device file without close-on-exec.
      if (!usb.simulated) mark_cloexec_by_path(kUsbDevicePrefixes);

      char text[256];
      bool rejected = true;
      if (ReadString(udev, d.iManufacturer, text))
        rejected = strcmp(text, kBoardVendorStrings[0]) != 0 &&
                   strcmp(text, kBoardVendorStrings[1]) != 0;
      bool legacy = false;
      if (!ReadString(udev, d.iProduct, text))
        rejected = true;
      else if (strcmp(text, kLegacyProduct) == 0)
        legacy = true;
      else if (!IsCurrentProduct(text))
        rejected = true;
      char serial_text[256];
      bool has_serial = ReadString(udev, d.iSerialNumber, serial_text);
      if (!has_serial) legacy = true;
      if (rejected) {
        usb.close(udev);
        continue;
      }

      FoundBoard *entry = new FoundBoard{{-1, -1, -1}, 0, nullptr, nullptr};
      if (has_serial) board_parse_serial(serial_text, entry->serial);
      if (id != 0 && entry->serial[2] != static_cast<int32_t>(id)) {
        usb.close(udev);
        delete entry;
        continue;
      }
      if (legacy) {
        usb.close(udev);
      } else {
        entry->handle = WrapHandle(udev);
        unsigned char report[kBoardReportSize];
        if (ReadExactly(entry->handle, 2, report, kBoardReportSize) == 0)
          entry->version = U32(report + 4);
        else
          entry->version_failed = true;
      }
      entry->next = list;
      list = entry;
    }
  }
  return list;
}

void board_free_list(FoundBoard *list) {
  while (list) {
    FoundBoard *next = list->next;
    if (list->handle) board_close(list->handle);
    delete list;
    list = next;
  }
}

void board_close(BoardHandle *h) {
  usb_seam().close(h->dev);
  for (BoardHandle **p = &g_open_boards; *p; p = &(*p)->next) {
    if (*p == h) {
      *p = h->next;
      break;
    }
  }
  SetError(h, nullptr, false);
  delete h;
}

int board_read_status(BoardHandle *h, unsigned char report[64]) {
  return ReadExactly(h, 3, report, kBoardReportSize);
}

int board_read_onewire(BoardHandle *h, unsigned char report[64]) {
  return ReadExactly(h, 7, report, kBoardReportSize);
}

int board_read_input_range(BoardHandle *h, int *first, int *last) {
  unsigned char report[kBoardReportSize];
  if (ReadExactly(h, 2, report, kBoardReportSize) < 0) return -1;
  int config = report[16];
  *first = (config & 0x0F) == 0x04 ? 0 : 4;
  *last = (config & 0xF0) == 0x40 ? 7 : 3;
  return 0;
}

int board_read_counters(BoardHandle *h, int *counters, int max) {
  int first = 0, last = -1;
  // Reading the counters starts the board's counts afresh, so they are read
  // only when it is known which inputs to take: with an unknown range the
  // changes since the last read would be consumed and lost unseen.
  if (board_read_input_range(h, &first, &last) < 0) return -1;
  unsigned char report[kBoardCounterReportSize];
  if (ReadExactly(h, 6, report, kBoardCounterReportSize) < 0) return -1;
  int stored = 0;
  for (int k = first; k <= last && k < max; k++) {
    counters[k] = report[1 + 2 * k] | (report[2 + 2 * k] << 8);
    stored++;
  }
  return stored;
}

void board_command_frame(int code, int p1, uint32_t p2, unsigned char out[8]) {
  out[0] = 4;
  out[1] = static_cast<unsigned char>(code);
  out[2] = static_cast<unsigned char>(p1);
  out[3] = 0;
  for (int i = 0; i < 4; i++) out[4 + i] = (p2 >> (8 * i)) & 0xFF;
}

int board_command(BoardHandle *h, int code, int p1, uint32_t p2) {
  unsigned char frame[kBoardCommandSize];
  board_command_frame(code, p1, p2, frame);
  if (h->ops->write_report(h, frame, kBoardCommandSize) != kBoardCommandSize) {
    SetError(h, kWrongWriteCount, false);
    return -1;
  }
  return 0;
}

uint32_t board_output_param(int line, int value) {
  return (static_cast<uint32_t>(value) << (2 * (line % 4))) |
         (static_cast<uint32_t>(line / 4) << 8);
}

int board_set_output(BoardHandle *h, int line, int value) {
  return board_command(h, kBoardSetOutputs, 0, board_output_param(line, value));
}

const char *board_error(const BoardHandle *h) { return h->error; }

unsigned board_status_word(const unsigned char report[64]) {
  return report[20] | (report[21] << 8);
}

int board_line_bit(uint32_t version, int line) {
  if (line < 4) return line;
  if (version < kBoardNewLayoutVersion) return line + 4;
  return line < 8 ? line + 8 : line;
}

int board_onewire_slots(const unsigned char report[64],
                        BoardOnewireSlot *slots, int max) {
  int count, temp_at, rom_at;
  if (report[2] == 0) {
    count = 4, temp_at = 24, rom_at = 32;
  } else if (report[2] == 1) {
    count = 6, temp_at = 4, rom_at = 16;
  } else {
    return 0;
  }
  int n = 0;
  for (int k = 0; k < count && n < max; k++) {
    const unsigned char *rom = report + rom_at + 8 * k;
    if (rom[0] == 0) continue;
    memcpy(slots[n].rom, rom, 8);
    const unsigned char *t = report + temp_at + 2 * k;
    slots[n].raw = static_cast<int16_t>(t[0] | (t[1] << 8));
    n++;
  }
  return n;
}

bool board_onewire_more(const unsigned char report[64]) {
  return (report[1] & 0x80) != 0;
}

void board_reset() {
  while (g_open_boards) board_close(g_open_boards);
  usb_seam_reset();
  g_initialized = false;
}
