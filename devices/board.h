// The board library: finding QTR0xx I/O boards on the USB buses and
// exchanging their HID feature reports.  Plain structures and functions; no
// configuration, names or events.  Every USB call goes through the seam of
// devices/usb_seam.h.
//
// Wire format: control transfers, timeout 5000 ms, index 0, report type
// Feature (3) in the high byte of the value.
//   read report n:  bmRequestType 0xA0, bRequest 0x01 (GET_REPORT)
//   write report:   bmRequestType 0x20, bRequest 0x09 (SET_REPORT), 8 bytes
// A read is good only when exactly the requested count comes back, a write
// only when all 8 bytes go out.  Multi-byte fields are little-endian.
//
//   report 2 (64 bytes): version u32 at 4, input configuration u8 at 16
//   report 3 (64 bytes): status word u16 at 20
//   report 6 (17 bytes): counter of input k u16 at 1 + 2k
//   report 7 (64 bytes): 1-Wire readings (see BoardOnewireSlots)
//   report 4 (written):  04, code, p1, 00, p2 as u32
#ifndef HOVANTRA_DEVICES_BOARD_H
#define HOVANTRA_DEVICES_BOARD_H

#include <cstdint>

#include <usb.h>

const int kBoardVendorId = 0x16C0;
const int kBoardProductId = 0x05DF;
const int kBoardTimeoutMs = 5000;
// From this firmware version on, boards answer report 7 (1-Wire).
const uint32_t kBoardOnewireVersion = 2120203;
// From this version on, the status word uses the new bit layout.
const uint32_t kBoardNewLayoutVersion = 4000000;
const int kBoardReportSize = 64;
const int kBoardCounterReportSize = 17;
const int kBoardCommandSize = 8;

// Command codes of report 4.  Only kBoardSetOutputs is sent by the system.
enum BoardCommand {
  kBoardSetOutputs = 0x1C,
  kBoardResetCounters = 0x1D,
  kBoardSetOutputsDirect = 0x1E,
};

struct BoardHandle;

// One shared operation table for every open board.
struct BoardOps {
  // Byte count, or a negative libusb code.
  int (*read_report)(BoardHandle *h, int report, unsigned char *buf, int len);
  // buf[0] is the report number.
  int (*write_report)(BoardHandle *h, const unsigned char *buf, int len);
  void (*close)(BoardHandle *h);
  // Not used by the system: detach kernel drivers from interfaces 0 and 1,
  // configuration 1, claim interface 0; 0 or the failing call's result.
  int (*claim)(BoardHandle *h);
  // Not used by the system: 8 bytes from interrupt endpoint 0x81, no timeout.
  int (*read_interrupt)(BoardHandle *h, unsigned char *buf8);
};

struct BoardHandle {
  const BoardOps *ops;
  const char *error;  // last error text, or nullptr
  bool error_owned;   // error was copied (from usb_strerror) and is ours
  usb_dev_handle *dev;
  BoardHandle *next;  // process-wide list of open boards, newest first
};

struct FoundBoard {
  int32_t serial[3];    // groups of the serial text, -1 where missing
  uint32_t version;     // 0 for legacy boards and failed reads
  BoardHandle *handle;  // nullptr for legacy boards; the list owns it
  FoundBoard *next;
  bool version_failed = false;  // a current board whose report 2 read failed
};

// The manufacturer strings a genuine board carries (exact comparison).
extern const char *const kBoardVendorStrings[2];

// Once per process: selects the USB layer, usb_init, usb_find_busses,
// usb_find_devices.
void board_init();
// usb_find_devices, to pick up boards plugged in or out.
void board_rescan();
// Every acceptable board (id 0) or those whose serial[2] equals id, in
// reverse discovery order.  Possibly nullptr.
FoundBoard *board_find(uint32_t id);
// Closes every handle still attached and frees the entries.
void board_free_list(FoundBoard *list);
void board_close(BoardHandle *h);

// 0 on success, -1 on failure (the handle stays open either way).
int board_read_status(BoardHandle *h, unsigned char report[64]);
int board_read_onewire(BoardHandle *h, unsigned char report[64]);
// Reads report 2: first 0 when the low nibble of the input configuration
// is 4, else 4; last 7 when the high nibble is 4, else 3.  Negative and
// first/last untouched on failure.
int board_read_input_range(BoardHandle *h, int *first, int *last);
// Counters of inputs first..last at positions first..last (below max);
// the number stored, or -1 when report 6 cannot be read.
int board_read_counters(BoardHandle *h, int *counters, int max);
int board_command(BoardHandle *h, int code, int p1, uint32_t p2);
// value 1: on, 2: off.
int board_set_output(BoardHandle *h, int line, int value);
const char *board_error(const BoardHandle *h);

// Status word of a report 3.
unsigned board_status_word(const unsigned char report[64]);
// The status bit of output line 0..11 for a firmware version.
int board_line_bit(uint32_t version, int line);
// The status bit of input 0..7 (either layout).
inline int board_input_bit(int input) { return 8 + input; }
// Fills the 8-byte command frame that board_command sends.
void board_command_frame(int code, int p1, uint32_t p2, unsigned char out[8]);
// p2 of the set-outputs command for one line.
uint32_t board_output_param(int line, int value);

// Readings of one report 7: layout 0 has 4 slots, layout 1 has 6; a slot
// whose ROM id starts with a zero byte is empty.
struct BoardOnewireSlot {
  unsigned char rom[8];
  int16_t raw;
};
// Non-empty slots in ascending order; max must be at least 6.
int board_onewire_slots(const unsigned char report[64],
                        BoardOnewireSlot *slots, int max);
// Bit 7 of byte 1: another report 7 follows.
bool board_onewire_more(const unsigned char report[64]);

// Serial number text to the three groups (see board.cpp).
void board_parse_serial(const char *text, int32_t serial[3]);

// Closes every open board and forgets board_init; for tests.
void board_reset();

#endif
