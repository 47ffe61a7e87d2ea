#include "core/event_sink.h"
#include "core/log.h"
#include "devices/device_record.h"
#include "devices/saved_outputs.h"
#include "temp/temp_sensors.h"

namespace {

// Brings synced lines back to their remembered state; false when the
// board was lost.
bool SyncOutputs(DeviceRecord *r) {
  long word = device_read_status(r);
  if (word < 0) return false;
  for (int line = 0; line < kDeviceOutputs; line++) {
    const ScriptVariable &name = r->output_names[line];
    if (name.IsEmpty() || !r->sync[line]) continue;
    bool on = (word >> board_line_bit(r->version, line)) & 1;
    int remembered = LoadOutput(name);
    if (on && remembered == kBoardOutputOff) {
      LogMessage("Warning: [%lx] sync: line %d (%s) => off", word, line,
                 name.c_str());
      board_set_output(r->board, line, kBoardOutputOff);
    } else if (!on && remembered == kBoardOutputOn) {
      LogMessage("Warning: [%lx] sync: line %d (%s) => on", word, line,
                 name.c_str());
      board_set_output(r->board, line, kBoardOutputOn);
    }
  }
  return true;
}

// Turns counter steps into on/off events; false when the board was lost.
bool ProcessCounters(DeviceRecord *r) {
  int counters[kDeviceInputs];
  // Positions the board does not report keep their level: no steps.
  for (int k = 0; k < kDeviceInputs; k++) counters[k] = r->last_levels[k];
  if (board_read_counters(r->board, counters, kDeviceInputs) < 0) {
    device_lose(r);
    return false;
  }
  int first = r->first_input < 0 ? 0 : r->first_input;
  int last = r->last_input >= kDeviceInputs ? kDeviceInputs - 1 : r->last_input;
  for (int k = first; k <= last; k++) {
    unsigned count = static_cast<unsigned>(counters[k]);
    int level = r->last_levels[k];
    if (count > kDeviceCounterLimit) {
      LogMessage(
          "XXX: ignoring garbaged counter in=%d l_i_s[]=%d(%x) "
          "cnt[]=%d(%x)",
          k, level, level, counters[k], count);
      continue;
    }
    for (unsigned c = level + 1; c <= count; c++) {
      LogMessage("XXX: in=%d l_i_s[]=%d cnt[]=%d c=%u", k, level, counters[k],
                 c);
      const ScriptVariable &event = c % 2 ? r->on_events[k] : r->off_events[k];
      if (!event.IsEmpty()) RaiseEvent(event);
    }
    r->last_levels[k] = count & 1;
  }
  return r->board != nullptr;  // an event's actions may have lost it
}

void ReadOnewire(DeviceRecord *r) {
  for (int round = 0; round < kDeviceOnewireReports; round++) {
    unsigned char report[kBoardReportSize];
    if (board_read_onewire(r->board, report) < 0) {
      device_lose(r);
      return;
    }
    BoardOnewireSlot slots[6];
    int n = board_onewire_slots(report, slots, 6);
    for (int i = 0; i < n; i++) temp_reading(r->id, slots[i].rom, slots[i].raw);
    if (!board_onewire_more(report) || !r->board) return;
  }
  if (!r->onewire_cut_logged) {
    LogMessage(
        "QTR0xx %x: 1-Wire readings do not end, reading at most %d "
        "reports per poll",
        r->id, kDeviceOnewireReports);
    r->onewire_cut_logged = true;
  }
}

}  // namespace

void device_poll_record(DeviceRecord *r, bool reconnect, bool sync) {
  r->status = -1;
  if (!r->board) {
    if (!reconnect) return;
    device_connect(r, false);
    if (!r->board) return;
  }
  if (sync && r->has_synced_outputs && !SyncOutputs(r)) return;
  if (r->has_input_events && !ProcessCounters(r)) return;
  if (r->onewire && r->version >= kBoardOnewireVersion) ReadOnewire(r);
}
