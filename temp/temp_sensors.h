// 1-Wire temperature sensors and their watermarks (zones with hysteresis).
#ifndef HOVANTRA_TEMP_TEMP_SENSORS_H
#define HOVANTRA_TEMP_TEMP_SENSORS_H

#include <cstdint>

#include "util/script_variable.h"

// Reads the temp_sensor sections and restores the zones from the state file.
void temp_sensors_configure();
// Raises the start actions of the restored zones.
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
