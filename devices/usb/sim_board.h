// A simulated I/O board: the state of one board as it would be inside its
// firmware, kept as one text file per board in the simulated-boards
// directory, and the board's answers to HID feature reports.
//
// The daemon (through the simulated USB layer) and the hovantra-board tool
// both change these files.  Every read-modify-write holds SimLock, an
// exclusive flock on "<dir>/.lock", and every save writes a temporary file
// and renames it over the old one, so neither side ever sees half a file or
// loses the other's change.
#ifndef HOVANTRA_DEVICES_USB_SIM_BOARD_H
#define HOVANTRA_DEVICES_USB_SIM_BOARD_H

#include <cstdint>
#include <string>
#include <vector>

struct SimSensor {
  unsigned char rom[8];  // in the order the board reports it
  int16_t raw;           // 1/16 degree; 0x8000 and 0x7FFF are sentinels
};

struct SimText {
  bool present = false;  // a string descriptor exists
  std::string text;
};

struct SimBoard {
  std::string name;  // file name without ".board"

  // On the bus.  A handle opened before the last plug is dead.
  bool plugged = true;
  unsigned generation = 1;
  bool open_fails = false;

  // Identification.
  int vendor = 0x16C0;
  int product_id = 0x05DF;
  SimText manufacturer, product, serial;

  // Firmware.
  uint32_t version = 4000001;
  int input_config = 0x44;

  // Terminals: 12 output lines as driven by the board, 8 contact levels.
  unsigned outputs = 0;
  unsigned levels = 0;
  // Transition counters: level at the last report 6 read and changes since.
  int count_base[8] = {0, 0, 0, 0, 0, 0, 0, 0};
  int count_changes[8] = {0, 0, 0, 0, 0, 0, 0, 0};
  // A value the next report 6 gives instead of the true counter, or -1.
  int garbage[8] = {-1, -1, -1, -1, -1, -1, -1, -1};

  // 1-Wire bus.
  std::vector<SimSensor> sensors;
  int onewire_layout = 1;        // 0: 4 slots a report, 1: 6 slots
  bool onewire_endless = false;  // "more follows" is never cleared
  int onewire_cursor = 0;        // first sensor of the next report 7

  // Faults still to come: each transfer of the kind uses up one.
  int short_reads = 0;
  int failed_writes = 0;
  int timeouts = 0;
  int stall_report = -1;  // a report number the board always refuses

  // What the board has received and answered.
  std::vector<std::string> commands;  // report 4 frames as hex, newest last
  long reads = 0;
  long writes = 0;
};

// Keeps only the newest this many command frames.
const size_t kSimCommandHistory = 64;

// A genuine current board: vendor string, product "QTR0xx", the given
// serial number text (an empty one means no serial string at all).
SimBoard SimBoardDefault(const std::string &name, const std::string &serial);

class SimLock {
 public:
  explicit SimLock(const std::string &dir);
  ~SimLock();
  SimLock(const SimLock &) = delete;
  SimLock &operator=(const SimLock &) = delete;
  bool Held() const { return fd_ >= 0; }

 private:
  int fd_;
};

// Board names in the directory, sorted (the simulated bus order).
std::vector<std::string> SimBoardNames(const std::string &dir);
bool SimBoardExists(const std::string &dir, const std::string &name);
bool SimBoardValidName(const std::string &name);
// Call with the lock held.  Load gives false with err set on a missing or
// malformed file; Save writes atomically.
bool SimBoardLoad(const std::string &dir, const std::string &name,
                  SimBoard *board, std::string *err);
bool SimBoardSave(const std::string &dir, const SimBoard &board,
                  std::string *err);
bool SimBoardRemove(const std::string &dir, const std::string &name);

// Text form of a board (the file contents) and back.
std::string SimBoardFormat(const SimBoard &board);
bool SimBoardParse(const std::string &text, SimBoard *board, std::string *err);

// The status word (report 3) as the board computes it from its terminals.
unsigned SimBoardStatusWord(const SimBoard &board);
// The counter report 6 would give for input k now.
int SimBoardCounter(const SimBoard &board, int k);

// Contacts.  Closing a closed contact or opening an open one changes
// nothing; a pulse is `count` closes and opens back to the present level.
void SimBoardSetContact(SimBoard *board, int input, bool closed);
void SimBoardPulse(SimBoard *board, int input, int count);

// The board's side of a GET_REPORT / SET_REPORT (the faults above are
// applied by the caller).  Results as from the USB stack: the byte count,
// or a negative errno.
int SimBoardGetReport(SimBoard *board, int report, unsigned char *buf, int len);
int SimBoardSetReport(SimBoard *board, int report, const unsigned char *buf,
                      int len);

// ROM ids as 16 hex digits in board order ("28582c1f000000b6").
std::string SimRomText(const unsigned char rom[8]);
bool SimRomParse(const std::string &text, unsigned char rom[8]);

#endif
