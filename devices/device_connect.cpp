#include "devices/device_record.h"

#include "core/log.h"

void device_connect(DeviceRecord *r, bool announce) {
  board_rescan();
  FoundBoard *list = board_find(r->id);
  if (!list) {
    if (announce)
      LogMessage("QTR0xx device %x not found, check connections", r->id);
    return;
  }
  FoundBoard *found = list;  // the last matching board on the buses
  if (!found->handle) {
    if (announce)
      LogMessage("QTR0xx %x has incompatible version! Please upgrade the "
                 "firmware", r->id);
    board_free_list(list);
    return;
  }
  // Without its version and input range a board would run with the wrong
  // line layout and no inputs for the whole connection.  Such a connection
  // fails, and stopping at the first failed read holds the loop for one
  // timeout at most; the next reconnection poll tries again.
  int first = -1, last = -1;
  if (found->version_failed ||
      board_read_input_range(found->handle, &first, &last) < 0) {
    if (announce) LogMessage("QTR0xx device %x configuration failure", r->id);
    board_free_list(list);
    return;
  }
  LogMessage("QTR0xx %x is [%x:%x:%x], vers. %d, good", r->id,
             static_cast<unsigned>(found->serial[0]),
             static_cast<unsigned>(found->serial[1]),
             static_cast<unsigned>(found->serial[2]),
             static_cast<int>(found->version));
  r->version = found->version;
  r->board = found->handle;
  r->status = -1;
  r->onewire_cut_logged = false;
  r->first_input = first;
  r->last_input = last;
  int counters[kDeviceInputs] = {};
  if (board_read_counters(r->board, counters, kDeviceInputs) < 0) {
    r->board = nullptr;  // stays with the entry, closed with the list
    if (announce) LogMessage("QTR0xx device %x counters failure", r->id);
  } else {
    // What happened before the connection raises no events.
    for (int k = 0; k < kDeviceInputs; k++) r->last_levels[k] = counters[k] & 1;
    found->handle = nullptr;
  }
  board_free_list(list);
}

void device_lose(DeviceRecord *r) {
  board_close(r->board);
  r->board = nullptr;
  r->status = -1;
  LogMessage("QTR0xx %04x is LOST!", r->id);
}

long device_read_status(DeviceRecord *r) {
  unsigned char report[kBoardReportSize];
  if (board_read_status(r->board, report) < 0) {
    device_lose(r);
    return -1;
  }
  return board_status_word(report);
}
