#include <vector>

#include "devices/device_record.h"
#include "devices/devices.h"

ScriptVector devices_line_names(bool outputs) {
  std::vector<const DeviceRecord *> records;
  for (const DeviceRecord *r = device_records(); r; r = r->next)
    records.push_back(r);
  ScriptVector names;
  // The list holds the sections newest first.
  for (auto it = records.rbegin(); it != records.rend(); ++it) {
    const ScriptVariable *lines =
        outputs ? (*it)->output_names : (*it)->input_names;
    int count = outputs ? kDeviceOutputs : kDeviceInputs;
    for (int k = 0; k < count; k++)
      if (!lines[k].IsEmpty()) names.push_back(lines[k]);
  }
  return names;
}
