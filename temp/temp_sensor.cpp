#include "temp/temp_sensor.h"

#include "core/event_sink.h"
#include "core/log.h"
#include "subst/substitution.h"
#include "temp/saved_watermarks.h"

uint64_t TempSensor::IdNumber() const {
  uint64_t id = 0;
  for (int i = 7; i >= 0; i--) id = (id << 8) | rom_id[i];
  return id;
}

void TempSensor::Raise(const Watermark &w, const ScriptVariable &text, int t,
                       const char *label) {
  ScriptVector no_words;
  ScriptVector pairs;
  pairs.push_back("name");
  pairs.push_back(name);
  pairs.push_back("id");
  pairs.push_back(ScriptFormat("%llu", (unsigned long long)IdNumber()));
  pairs.push_back("last_t");
  pairs.push_back(ScriptFormat("%d", last_t));
  pairs.push_back("t");
  pairs.push_back(ScriptFormat("%d", t));
  ScriptVariable event = MainSubstitution().ProcessDict(text, no_words, pairs);
  LogMessage("Temp. watermark %d/%d: t=%d (%s), doing [%s]", w.low, w.high, t,
             t == kNoTemperature ? "unknown" : label, event.c_str());
  RaiseEvent(event);
}

void TempSensor::RunTransition(const Watermark &w, int t) {
  if (w.state == kZoneUndef) {
    if (w.candidate == kZoneLow && !w.start_low.IsEmpty()) {
      Raise(w, w.start_low, t, "low");
    } else if (w.candidate == kZoneHigh && !w.start_high.IsEmpty()) {
      Raise(w, w.start_high, t, "high");
    }
    return;
  }
  if (w.candidate == kZoneLow) {
    Raise(w, w.on_low, t, "low");
  } else if (w.candidate == kZoneHigh) {
    Raise(w, w.on_high, t, "high");
  }
}

void TempSensor::FeedWatermarks(int t) {
  for (Watermark *w = watermarks.get(); w != nullptr; w = w->next.get()) {
    if (!w->Observe(name, t)) continue;
    RunTransition(*w, t);
    w->Commit();
    SaveWatermark(name, w->index, ZoneName(w->state));
    LogMessage("XXX (%s) watermark [%d] is now %s", name.c_str(), w->index,
               ZoneName(w->state));
  }
}

static int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

RomIdParse ParseRomId(const ScriptVariable &text, unsigned char rom_id[8]) {
  unsigned char bytes[8];
  for (int pair = 0; pair < 8; pair++) {
    size_t at = static_cast<size_t>(pair) * 2;
    if (text.Length() < at + 2) return kRomIdTooShort;
    int hi = HexDigit(text[at]);
    int lo = HexDigit(text[at + 1]);
    if (hi < 0 || lo < 0) return kRomIdIllegal;
    bytes[7 - pair] = static_cast<unsigned char>(hi << 4 | lo);
  }
  for (int i = 0; i < 8; i++) rom_id[i] = bytes[i];
  return kRomIdOk;
}

std::unique_ptr<TempSensor> &TempSensorList() {
  static std::unique_ptr<TempSensor> list;
  return list;
}
