#include "temp/watermark.h"

#include "core/log.h"

static const char *const kZoneNames[] = {"undef", "low", "middle", "high"};
static const char *const kFieldTrim = " \t\r\n";

const char *ZoneName(int zone) {
  if (zone < kZoneUndef || zone > kZoneHigh) return kZoneNames[kZoneUndef];
  return kZoneNames[zone];
}

int ZoneByName(const ScriptVariable &name) {
  for (int z = kZoneUndef; z <= kZoneHigh; z++) {
    if (name == kZoneNames[z]) return z;
  }
  return -1;
}

int Watermark::ZoneOf(int t) const {
  if (t <= low) return kZoneLow;
  if (t >= high) return kZoneHigh;
  return kZoneMiddle;
}

bool Watermark::Observe(const ScriptVariable &sensor, int t) {
  int zone = ZoneOf(t);
  if (candidate != kZoneUndef && zone != candidate && count > 0) {
    LogMessage("XXX (%s %d:%d) temperature ARTIFACT (%d) detected!",
               sensor.c_str(), low, high, count);
  }
  if (zone == state) {
    candidate = kZoneUndef;
    count = 0;
    return false;
  }
  // Hysteresis: a committed low or high zone is left only for the other
  // extreme, and middle readings on the way do not break the run.
  if (zone == kZoneMiddle && state != kZoneUndef) return false;
  if (zone == candidate) {
    count++;
  } else {
    candidate = zone;
    count = 1;
  }
  LogMessage("XXX (%s) watermark %d/%d transit (%s->%s)[cnt=%d(%d)]",
             sensor.c_str(), low, high, ZoneName(state), ZoneName(zone), count,
             delay);
  return count > delay;
}

void Watermark::Commit() {
  state = candidate;
  candidate = kZoneUndef;
  count = 0;
}

std::unique_ptr<Watermark> ParseWatermark(const ScriptVariable &line,
                                          int index) {
  ScriptVector fields = SplitTokens(line, ":", kFieldTrim);
  const char *text = line.c_str();
  if (fields.size() < 4) {
    LogMessage("Invalid watermark: ``%s'', ignoring", text);
    return nullptr;
  }
  std::unique_ptr<Watermark> w(new Watermark);
  w->index = index;
  if (!fields[0].GetInt(w->low)) {
    LogMessage("Invalid low temp. for: ``%s'', ignoring", text);
    return nullptr;
  }
  if (!fields[1].GetInt(w->high)) {
    LogMessage("Invalid high temp. for: ``%s'', ignoring", text);
    return nullptr;
  }
  w->on_low = fields[2];
  w->on_high = fields[3];
  if (fields.size() == 4) {
    LogMessage("No delay: ``%s'', defaulting to 2", text);
    w->delay = 2;
  } else if (!fields[4].GetInt(w->delay)) {
    LogMessage("Invalid delay: ``%s'', ignoring", text);
    return nullptr;
  }
  w->start_low = fields.size() > 5 ? fields[5] : ScriptVariable::Absent();
  w->start_high = fields.size() > 6 ? fields[6] : ScriptVariable::Absent();
  return w;
}
