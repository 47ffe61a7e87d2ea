#include "core/process_state.h"
#include "devices/device_record.h"
#include "devices/devices.h"

namespace {

DeviceRecord *g_records = nullptr;

}  // namespace

DeviceRecord *device_records() { return g_records; }

void device_records_push(DeviceRecord *record) {
  record->next = g_records;
  g_records = record;
}

void device_records_clear() {
  while (g_records) {
    DeviceRecord *next = g_records->next;
    if (g_records->board) board_close(g_records->board);
    delete g_records;
    g_records = next;
  }
}

void devices_reset() {
  device_records_clear();
  board_reset();
}

static const bool kResetRegistered =
    RegisterStateReset(StateLayer::kDevices, devices_reset);
