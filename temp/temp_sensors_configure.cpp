// Reading the temp_sensor sections and restoring the watermark zones.
#include "config/configuration.h"
#include "core/log.h"
#include "subst/substitution.h"
#include "temp/saved_watermarks.h"
#include "temp/temp_sensor.h"
#include "temp/temp_sensors.h"

static const char *const kLineTrim = " \t\r\n";

// Watermarks in the reverse order of their lines; an index counts every line
// (empty and rejected ones too) so that the state file keys stay put when a
// line is fixed or removed in place.
static std::unique_ptr<Watermark> ReadWatermarks(const ScriptVariable &value) {
  ScriptVariable text = MainSubstitution().Process(value);
  ScriptVector lines = SplitTokens(text, "\n", " \t\r");
  size_t first = 0;
  if (!lines.empty() && lines[0].IsEmpty()) first = 1;
  std::unique_ptr<Watermark> list;
  for (size_t i = first; i < lines.size(); i++) {
    ScriptVariable line = lines[i];
    line.Trim(kLineTrim);
    if (line.IsEmpty()) continue;
    std::unique_ptr<Watermark> w =
        ParseWatermark(line, static_cast<int>(i - first + 1));
    if (!w) continue;
    w->next = std::move(list);
    list = std::move(w);
  }
  return list;
}

// Builds one sensor from its section, or gives nullptr (logged).
static std::unique_ptr<TempSensor> ReadSensor(const ScriptVariable &name) {
  ScriptVariable id = TempSensorKey(name, "id");
  if (id.IsEmpty()) {
    LogMessage("No id for temp. sensor ``%s'' in conf. file", name.c_str());
    return nullptr;
  }
  std::unique_ptr<TempSensor> s(new TempSensor);
  switch (ParseRomId(id, s->rom_id)) {
    case kRomIdOk:
      break;
    case kRomIdTooShort:
      LogMessage("Too short temp. sensor id ``%s'' in conf. file", id.c_str());
      return nullptr;
    case kRomIdIllegal:
      LogMessage("Illegal temp. sensor id ``%s'' in conf. file", id.c_str());
      return nullptr;
  }
  s->name = name;
  s->report = ConfigIsYes(TempSensorKey(name, "report"));
  ScriptVariable marks = TempSensorKey(name, "watermarks");
  if (!marks.IsAbsent()) s->watermarks = ReadWatermarks(marks);
  return s;
}

static void LogSensor(const TempSensor &s) {
  LogMessage("Temp. sensor: %s", s.name.c_str());
  for (Watermark *w = s.watermarks.get(); w != nullptr; w = w->next.get()) {
    // Absent start texts print as empty fields.
    LogMessage("  +watermark: %d:%d:%s:%s:%d:%s:%s", w->low, w->high,
               w->on_low.c_str(), w->on_high.c_str(), w->delay,
               w->start_low.c_str(), w->start_high.c_str());
  }
}

// The stored zone becomes the candidate; temp_sensors_start commits it.
static void RestoreZones(TempSensor &s) {
  for (Watermark *w = s.watermarks.get(); w != nullptr; w = w->next.get()) {
    ScriptVariable stored = LoadWatermark(s.name, w->index);
    if (stored.IsAbsent()) stored = "undef";
    stored.Tolower();
    int zone = ZoneByName(stored);
    if (zone < 0) continue;
    w->candidate = zone;
    LogMessage("watermark %s:%d:%d will start in %s state", s.name.c_str(),
               w->low, w->high, ZoneName(zone));
  }
}

void temp_sensors_configure() {
  temp_sensors_reset();
  int total = ConfigCountSections("temp_sensor");
  LogMessage("Total %d temp. sensor entries found", total);
  for (int i = 0; i < total; i++) {
    ScriptVariable name = ConfigSectionName("temp_sensor", i);
    if (name.IsEmpty()) continue;
    std::unique_ptr<TempSensor> s = ReadSensor(name);
    if (!s) continue;
    TempSensor &sensor = *s;
    s->next = std::move(TempSensorList());
    TempSensorList() = std::move(s);
    LogSensor(sensor);
    RestoreZones(sensor);
  }
}
