// TempSensor: one configured 1-Wire sensor, known by its ROM id, with its
// last accepted temperature and its watermarks.
#ifndef HOVANTRA_TEMP_TEMP_SENSOR_H
#define HOVANTRA_TEMP_TEMP_SENSOR_H

#include <cstdint>
#include <memory>

#include "temp/watermark.h"
#include "util/script_variable.h"

// The temperature of a sensor without a reading yet, and of the start step.
const int kNoTemperature = -1000;

struct TempSensor {
  ScriptVariable name;
  unsigned char rom_id[8] = {0};          // in the order the board reports them
  bool report = false;                    // read from the configuration, unused
  std::unique_ptr<Watermark> watermarks;  // reverse order of their lines
  int last_t = kNoTemperature;
  std::unique_ptr<TempSensor> next;

  // The ROM id as a number: the 8 bytes read little-endian.
  uint64_t IdNumber() const;

  // Runs the actions of w's pending change towards its candidate, with the
  // temperature t (kNoTemperature at start): from a committed zone, on-low
  // or on-high (even when empty); from undef, start-low or start-high when
  // not empty; towards middle, nothing.
  void RunTransition(const Watermark &w, int t);

  // Hands an accepted temperature to every watermark and commits (and
  // stores) the changes that are due.
  void FeedWatermarks(int t);

 private:
  void Raise(const Watermark &w, const ScriptVariable &text, int t,
             const char *label);
};

enum RomIdParse { kRomIdOk, kRomIdTooShort, kRomIdIllegal };

// Reads 16 hexadecimal digits, most significant byte first: the first pair
// gives rom_id[7], the last rom_id[0].  Characters after them are ignored.
RomIdParse ParseRomId(const ScriptVariable &text, unsigned char rom_id[8]);

// The process-wide sensor list, newest first (reverse configuration order).
std::unique_ptr<TempSensor> &TempSensorList();

#endif
