// The [TempSensor S] sections of the state file: the zone each watermark
// of sensor S last committed, so a restart resumes it without raising its
// events again.
#ifndef HOVANTRA_TEMP_SAVED_WATERMARKS_H
#define HOVANTRA_TEMP_SAVED_WATERMARKS_H

#include "util/script_variable.h"

// Key "wmark_%d" of section TempSensor <sensor>.
void SaveWatermark(const ScriptVariable &sensor, int index,
                   const ScriptVariable &zone);
ScriptVariable LoadWatermark(const ScriptVariable &sensor,
                             int index);  // "undef"

#endif
