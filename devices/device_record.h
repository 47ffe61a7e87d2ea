// DeviceRecord: one configured board with the names of its lines, and the
// operations the poller, the line lookups and the report share.  Internal
// to the device layer; other parts use devices/devices.h.
#ifndef HOVANTRA_DEVICES_DEVICE_RECORD_H
#define HOVANTRA_DEVICES_DEVICE_RECORD_H

#include <cstdint>

#include "devices/board.h"
#include "util/script_variable.h"

const int kDeviceOutputs = 12;
const int kDeviceInputs = 8;
// Counter values above this are taken as transfer garbage.
const unsigned kDeviceCounterLimit = 100;
// At most this many report 7 reads per poll of one board, so a board that
// always says "more follows" cannot hold the loop.
const int kDeviceOnewireReports = 16;

struct DeviceRecord {
  BoardHandle *board = nullptr;  // nullptr while not connected
  uint32_t version = 0;
  uint32_t id = 0;  // 0: any board
  bool onewire = false;
  // Empty names count as absent.
  ScriptVariable input_names[kDeviceInputs];
  ScriptVariable on_events[kDeviceInputs];
  ScriptVariable off_events[kDeviceInputs];
  ScriptVariable output_names[kDeviceOutputs];
  bool sync[kDeviceOutputs] = {};
  int first_input = -1;
  int last_input = -1;
  bool has_input_events = false;
  int last_levels[kDeviceInputs] = {};
  long status = -1;  // status word read in this poll cycle, -1: not yet
  bool has_synced_outputs = false;
  bool onewire_cut_logged = false;
  DeviceRecord *next = nullptr;
};

// Head of the process-wide list (reverse order of the sections).
DeviceRecord *device_records();
void device_records_push(DeviceRecord *record);
// Frees every record, closing its board.
void device_records_clear();

// Looks for the record's board and takes it once its version, input range
// and counters are read; with announce, failures are logged too ("not
// found", "incompatible version", "configuration failure", "counters
// failure").
void device_connect(DeviceRecord *record, bool announce);
// Closes the board and logs "QTR0xx %04x is LOST!".
void device_lose(DeviceRecord *record);
// A fresh status word, or -1 (the board is then lost).
long device_read_status(DeviceRecord *record);
// One record's share of a poll.
void device_poll_record(DeviceRecord *record, bool reconnect, bool sync);

#endif
