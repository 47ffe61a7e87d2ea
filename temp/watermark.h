// Watermark: two thresholds that divide the temperature into a low, a middle
// and a high zone, with the zone committed so far and the candidate zone
// waiting to replace it.
//
// A candidate is committed only after it has been seen in more than `delay`
// readings in a row.  Once a watermark is low or high it never commits to
// middle: the middle zone is the hysteresis band, and readings in it neither
// advance nor cancel a pending candidate.  A reading back in the committed
// zone cancels the candidate.
#ifndef HOVANTRA_TEMP_WATERMARK_H
#define HOVANTRA_TEMP_WATERMARK_H

#include <memory>

#include "util/script_variable.h"

// Zone numbers; also the index into the zone names.
enum TempZone { kZoneUndef = 0, kZoneLow = 1, kZoneMiddle = 2, kZoneHigh = 3 };

// "undef", "low", "middle", "high"; "undef" for anything else.
const char *ZoneName(int zone);
// The zone of an exact (lower-case) zone name, or -1.
int ZoneByName(const ScriptVariable &name);

struct Watermark {
  int state = kZoneUndef;      // committed zone
  int candidate = kZoneUndef;  // zone waiting to be committed; undef: none
  int count = 0;               // readings in a row showing the candidate
  int index = 0;  // 1-based line of the watermarks value; names it on disk
  int low = 0;
  int high = 0;
  int delay = 2;
  // Event texts; on_low and on_high are always present (possibly empty),
  // the start texts are absent when their fields are missing.
  ScriptVariable on_low;
  ScriptVariable on_high;
  ScriptVariable start_low;
  ScriptVariable start_high;
  std::unique_ptr<Watermark> next;

  // low when t <= low, high when t >= high, middle in between.
  int ZoneOf(int t) const;

  // Feeds one accepted temperature; sensor names the owner in the log.
  // Logs artifacts and transits, and gives true when the candidate is now
  // due for commit (the caller runs the actions, then calls Commit).
  bool Observe(const ScriptVariable &sensor, int t);

  // The candidate becomes the committed zone; no candidate remains.
  void Commit();
};

// Parses one trimmed, non-empty line "low:high:on-low:on-high[:delay
// [:start-low[:start-high]]]".  A rejected line is logged and gives nullptr.
std::unique_ptr<Watermark> ParseWatermark(const ScriptVariable &line,
                                          int index);

#endif
