#include "config/configuration.h"
#include "core/log.h"
#include "devices/device_record.h"
#include "devices/devices.h"

namespace {

// The section name as a board id: the whole name in hexadecimal, within
// 32 bits (a longer or signed number names no board and is refused).
bool ParseId(const ScriptVariable &name, uint32_t *id) {
  long long value;
  if (!name.GetLongLong(value, 16) || value < 0 || value > 0xFFFFFFFFLL)
    return false;
  *id = static_cast<uint32_t>(value);
  return true;
}

DeviceRecord *ReadRecord(const ScriptVariable &section, uint32_t id) {
  DeviceRecord *r = new DeviceRecord;
  r->id = id;
  r->onewire = ConfigIsYes(DeviceOnewire(section));
  for (int line = 0; line < kDeviceOutputs; line++) {
    r->output_names[line] = DeviceKey(section, "output", line);
    r->sync[line] = ConfigIsYes(DeviceKey(section, "output_sync", line));
  }
  for (int k = 0; k < kDeviceInputs; k++) {
    r->input_names[k] = DeviceKey(section, "input", k);
    r->on_events[k] = DeviceKey(section, "input_on", k);
    r->off_events[k] = DeviceKey(section, "input_off", k);
  }
  return r;
}

void AnnounceLines(DeviceRecord *r) {
  for (int line = 0; line < kDeviceOutputs; line++) {
    if (r->output_names[line].IsEmpty()) continue;
    LogMessage("Device ``%x'' output %d: %s %s", r->id, line,
               r->output_names[line].c_str(),
               r->sync[line] ? "SYNC" : "unsync");
    if (r->sync[line]) r->has_synced_outputs = true;
  }
  for (int k = 0; k < kDeviceInputs; k++) {
    if (!r->on_events[k].IsEmpty()) {
      LogMessage("Device ``%x'' input %d on conn: %s", r->id, k,
                 r->on_events[k].c_str());
      r->has_input_events = true;
    }
    if (!r->off_events[k].IsEmpty()) {
      LogMessage("Device ``%x'' input %d on discn: %s", r->id, k,
                 r->off_events[k].c_str());
      r->has_input_events = true;
    }
  }
}

}  // namespace

void devices_configure() {
  board_init();
  device_records_clear();
  board_rescan();
  int count = ConfigCountSections("device");
  LogMessage("Total %d device configuration entries found", count);
  for (int i = 0; i < count; i++) {
    ScriptVariable name = ConfigSectionName("device", i);
    if (name.IsEmpty()) continue;
    uint32_t id;
    if (!ParseId(name, &id)) {
      LogMessage("Illegal device id ``%s'' in conf. file, ignoring",
                 name.c_str());
      continue;
    }
    DeviceRecord *r = ReadRecord(name, id);
    device_records_push(r);
    AnnounceLines(r);
    device_connect(r, true);
  }
}
