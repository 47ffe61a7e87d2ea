// hovantra-probe: walks the USB buses through the board library (or the
// simulated boards of HOVANTRA_SIMULATED_BOARDS) and prints, for each board
// found, the configuration sections an installer writes for it: the device
// section with its id and every line's present state, and one temp_sensor
// section per 1-Wire sensor with its id in the configuration's byte order.
//
// The probe reads the status, input range and 1-Wire reports only: reading
// the counters would reset them and take input changes from a running
// daemon.
#include <cstdio>
#include <cstring>
#include <vector>

#include "devices/board.h"

namespace {

const int kOutputs = 12;
const int kInputs = 8;
const int kOnewireReports = 16;  // a board that never ends its list

// The board library's last error, or a plain word when it has none.
const char *ErrorOf(const BoardHandle *h) {
  const char *error = board_error(h);
  return error ? error : "the transfer failed";
}

void PrintSensors(BoardHandle *h, uint32_t id, int *sensor_count) {
  for (int round = 0; round < kOnewireReports; round++) {
    unsigned char report[kBoardReportSize];
    if (board_read_onewire(h, report) < 0) {
      printf("# 1-Wire readings failed: %s\n\n", ErrorOf(h));
      return;
    }
    BoardOnewireSlot slots[6];
    int n = board_onewire_slots(report, slots, 6);
    for (int i = 0; i < n; i++) {
      const BoardOnewireSlot &s = slots[i];
      ++*sensor_count;
      if (s.raw == -32768 || s.raw == 32767)
        printf("# sensor on board %x: no reading now\n", id);
      else
        printf("# sensor on board %x: %.2f degrees now\n", id, s.raw / 16.0);
      printf("[temp_sensor sensor%d]\nid = ", *sensor_count);
      // The configuration writes the last byte the board reports first.
      for (int b = 7; b >= 0; b--) printf("%02X", s.rom[b]);
      printf("\n\n");
    }
    if (!board_onewire_more(report)) return;
  }
}

void PrintBoard(const FoundBoard &b, int *sensor_count) {
  unsigned id = static_cast<unsigned>(b.serial[2]);
  if (b.handle == nullptr || b.serial[2] < 0) {
    printf("# A board with %s: its firmware is too old for hovantra "
           "(upgrade it)\n\n",
           b.serial[2] < 0 ? "no serial number" : "an old serial number");
    return;
  }
  int first = -1, last = -1;
  board_read_input_range(b.handle, &first, &last);
  unsigned char report[kBoardReportSize];
  bool have_status = board_read_status(b.handle, report) == 0;
  unsigned word = have_status ? board_status_word(report) : 0;

  printf("# Board %x: serial %x:%x:%x, firmware version %u, %s status layout\n",
         id, static_cast<unsigned>(b.serial[0]),
         static_cast<unsigned>(b.serial[1]), id, b.version,
         b.version >= kBoardNewLayoutVersion ? "new" : "old");
  // The version chooses the layout of the line states and tells whether
  // the board reads 1-Wire sensors.
  if (b.version == 0)
    printf("# The firmware version could not be read: probe again\n");
  if (first >= 0)
    printf("# inputs %d to %d\n", first, last);
  else
    printf("# input range unknown: %s\n", ErrorOf(b.handle));
  if (!have_status)
    printf("# line states unknown: %s\n", ErrorOf(b.handle));
  printf("[device %x]\n", id);
  // Status bits 8 to 15 carry either an input or an output line, as the
  // board's input configuration says.
  int first_in = first < 0 ? 0 : first, last_in = first < 0 ? -1 : last;
  printf("# Outputs; ^lamp and ^sound name the signal lamp and the sounder:\n");
  for (int line = 0; line < kOutputs; line++) {
    int bit = board_line_bit(b.version, line);
    if (bit >= board_input_bit(first_in) && bit <= board_input_bit(last_in))
      continue;
    printf("# output:%d = NAME    (now %s)\n", line,
           !have_status ? "unknown" : (word >> bit) & 1 ? "on" : "off");
  }
  if (last_in >= first_in)
    printf("# Inputs, and the events raised when a contact closes and "
           "opens:\n");
  for (int k = first_in; k <= last_in; k++) {
    printf("# input:%d = NAME    (contact now %s)\n", k,
           !have_status ? "unknown"
           : (word >> board_input_bit(k)) & 1 ? "closed" : "open");
    printf("# input_on:%d = EVENT\n# input_off:%d = EVENT\n", k, k);
  }
  if (b.version >= kBoardOnewireVersion) {
    printf("onewire = yes\n\n");
    PrintSensors(b.handle, id, sensor_count);
  } else {
    printf("\n");
  }
}

}  // namespace

int main(int argc, char **argv) {
  if (argc > 1) {
    fprintf(stderr, "usage: hovantra-probe\n"
                    "Prints the device and temp_sensor sections for the "
                    "boards found.\n");
    return strcmp(argv[1], "-h") == 0 ? 0 : 2;
  }
  board_init();
  std::vector<FoundBoard *> boards;
  FoundBoard *list = board_find(0);
  for (FoundBoard *b = list; b != nullptr; b = b->next) boards.push_back(b);
  if (boards.empty()) {
    fprintf(stderr, "hovantra-probe: no boards found (is one plugged in, and "
                    "may this user open it? the udev rule gives the hovantra "
                    "group access)\n");
    board_free_list(list);
    return 1;
  }
  int sensor_count = 0;
  // The list is in reverse discovery order.
  for (auto it = boards.rbegin(); it != boards.rend(); ++it)
    PrintBoard(**it, &sensor_count);
  board_free_list(list);
  return 0;
}
