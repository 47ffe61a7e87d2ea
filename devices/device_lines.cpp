#include "core/log.h"
#include "devices/device_record.h"
#include "devices/devices.h"
#include "devices/saved_outputs.h"

namespace {

bool Named(const ScriptVariable &line_name, const ScriptVariable &name) {
  return !line_name.IsEmpty() && line_name == name;
}

void AppendLine(ScriptVariable *text, const ScriptVariable &name, bool on,
                const char *on_text, const char *off_text) {
  if (name.IsEmpty()) return;
  *text += " ";
  *text += name;
  *text += ":";
  *text += on ? on_text : off_text;
}

}  // namespace

bool device_set_output(const ScriptVariable &name, BoardOutput value) {
  for (DeviceRecord *r = device_records(); r; r = r->next) {
    for (int line = 0; line < kDeviceOutputs; line++) {
      if (!Named(r->output_names[line], name)) continue;
      // Remembered first, so an absent board gets this state when it is back.
      if (r->sync[line]) SaveOutput(name, value == kBoardOutputOn);
      if (!r->board) {
        LogMessage(
            "Can't control channel ``%s'': the device %x is "
            "unavailable",
            name.c_str(), r->id);
        return false;
      }
      board_set_output(r->board, line, value);
      return true;
    }
  }
  LogMessage("Output channel name ``%s'' not found, check config",
             name.c_str());
  return false;
}

int device_line_state(const ScriptVariable &name) {
  for (DeviceRecord *r = device_records(); r; r = r->next) {
    int bit = -1;
    for (int line = 0; line < kDeviceOutputs && bit < 0; line++)
      if (Named(r->output_names[line], name))
        bit = board_line_bit(r->version, line);
    for (int k = 0; k < kDeviceInputs && bit < 0; k++)
      if (Named(r->input_names[k], name)) bit = board_input_bit(k);
    if (bit < 0) continue;
    if (!r->board) return -1;
    if (r->status == -1) {
      r->status = device_read_status(r);
      if (r->status == -1) return -1;
    }
    return (r->status >> bit) & 1;
  }
  LogMessage("Device line name ``%s'' not found, check config", name.c_str());
  return -2;
}

ScriptVariable devices_report_text() {
  ScriptVariable text("");
  for (DeviceRecord *r = device_records(); r; r = r->next) {
    text += ScriptFormat("[%04x:", r->id);
    if (!r->board) {
      text += " ?!]";
      continue;
    }
    text += "+";
    long word = device_read_status(r);
    if (word < 0) {
      text += "]";
      continue;
    }
    for (int line = 0; line < 4; line++)
      AppendLine(&text, r->output_names[line], (word >> line) & 1, "on", "off");
    bool new_layout = r->version >= kBoardNewLayoutVersion;
    for (int b = 8; b < 16; b++) {
      int k = b - 8;
      int line = !new_layout ? b - 4 : (b <= 11 ? b : k);
      bool on = (word >> b) & 1;
      AppendLine(&text, r->output_names[line], on, "on", "off");
      AppendLine(&text, r->input_names[k], on, "yes", "no");
    }
    text += "] ";
  }
  return text;
}
