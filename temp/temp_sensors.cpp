// The sensor list: readings, the start step and the queries.
#include "temp/temp_sensors.h"

#include <cstring>

#include "core/log.h"
#include "core/process_state.h"
#include "temp/temp_sensor.h"

// Values the boards send when a conversion failed.
static const int kRawFailedLow = -32768;
static const int kRawFailedHigh = 32767;
// Readings outside this range, or this far from the last one, are noise on
// the bus rather than temperatures.
static const int kMinTemperature = -60;
static const int kMaxTemperature = 80;
static const int kMaxStep = 10;

void temp_sensors_reset() {
  // Unlink one by one: a long chain of owners would recurse on destruction.
  std::unique_ptr<TempSensor> &list = TempSensorList();
  while (list) list = std::move(list->next);
}

static const bool kResetRegistered =
    RegisterStateReset(StateLayer::kTemp, temp_sensors_reset);

void temp_sensors_start() {
  for (TempSensor *s = TempSensorList().get(); s; s = s->next.get()) {
    for (Watermark *w = s->watermarks.get(); w; w = w->next.get()) {
      // Only restored zones are pending; a second start finds none and so
      // leaves the committed zones alone.
      if (w->candidate == kZoneUndef) continue;
      s->RunTransition(*w, kNoTemperature);
      w->Commit();
    }
  }
}

static TempSensor *FindByRomId(const unsigned char rom_id[8]) {
  for (TempSensor *s = TempSensorList().get(); s; s = s->next.get()) {
    if (memcmp(s->rom_id, rom_id, 8) == 0) return s;
  }
  return nullptr;
}

// Whole degrees from sixteenths, rounding towards minus infinity.
static int DegreesOf(int raw) {
  int t = raw / 16;
  if (raw % 16 != 0 && raw < 0) t--;
  return t;
}

void temp_reading(int /*board_id*/, const unsigned char rom_id[8],
                  int16_t raw) {
  if (raw == kRawFailedLow || raw == kRawFailedHigh) return;
  TempSensor *s = FindByRomId(rom_id);
  if (s == nullptr) return;
  int t = DegreesOf(raw);
  bool known = s->last_t != kNoTemperature;
  int step = t - s->last_t;
  if (t < kMinTemperature || t > kMaxTemperature ||
      (known && (step > kMaxStep || step < -kMaxStep))) {
    LogMessage("XXX (%s) last_temp = %d, new_temp = %d NONSENSE IGNORED",
               s->name.c_str(), s->last_t, t);
    return;
  }
  if (t != s->last_t) {
    LogMessage("XXX (%s) last_temp = %d, new_temp = %d", s->name.c_str(),
               s->last_t, t);
  }
  s->last_t = t;
  s->FeedWatermarks(t);
}

int temp_of(const ScriptVariable &name) {
  for (TempSensor *s = TempSensorList().get(); s; s = s->next.get()) {
    if (s->name == name) return s->last_t;
  }
  LogMessage("Temp. sensor %s not found, please check config", name.c_str());
  return kNoTemperature;
}

ScriptVariable temp_report_text() {
  ScriptVariable text;
  for (TempSensor *s = TempSensorList().get(); s; s = s->next.get()) {
    if (s->last_t == kNoTemperature) continue;
    if (!text.IsEmpty()) text += " ";
    text += ScriptFormat("%s:%d", s->name.c_str(), s->last_t);
  }
  return text;
}
