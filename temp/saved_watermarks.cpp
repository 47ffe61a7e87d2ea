#include "temp/saved_watermarks.h"

#include "config/state_file.h"

void SaveWatermark(const ScriptVariable &sensor, int index,
                   const ScriptVariable &zone) {
  StoreStateValue("TempSensor", sensor.c_str(),
                  ScriptFormat("wmark_%d", index).c_str(), zone);
}

ScriptVariable LoadWatermark(const ScriptVariable &sensor, int index) {
  ScriptVariable v = FetchStateValue("TempSensor", sensor.c_str(),
                                     ScriptFormat("wmark_%d", index).c_str());
  return v.IsAbsent() ? ScriptVariable("undef") : v;
}
