// 1-Wire temperature sensors and their watermarks (zones with hysteresis).
#ifndef HOVANTRA_TEMP_TEMP_SENSORS_H
#define HOVANTRA_TEMP_TEMP_SENSORS_H

#include <cstdint>

#include "util/script_variable.h"

// Reads the temp_sensor sections (replacing any earlier sensors) and takes
// each watermark's stored zone from the state file as pending.
void temp_sensors_configure();
// Commits the pending zones, raising start-low/start-high for restored low
// and high zones; a second call finds nothing pending.
void temp_sensors_start();
// One reading: raw is the board's signed 16-bit value (1/16 degree).
void temp_reading(int board_id, const unsigned char rom_id[8], int16_t raw);
// Last temperature in whole degrees; -1000 when none (or unknown sensor,
// which is logged).
int temp_of(const ScriptVariable &name);
// "boiler:45 outside:-3"
ScriptVariable temp_report_text();
// Forgets every sensor; for tests.
void temp_sensors_reset();

#endif
