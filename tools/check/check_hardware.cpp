// Boards and 1-Wire sensors: section names the daemon cannot use, input
// events, watermarks, and the lines that actions and templates name.
#include "config/configuration.h"
#include "temp/temp_sensor.h"
#include "temp/watermark.h"
#include "tools/check/check.h"
#include "tools/check/machine_refs.h"
#include "tools/check/text_refs.h"

namespace {

void CheckYesNo(CheckContext &c, const ConfigIndex::Section &s,
                const ConfigIndex::Key &k, const std::string &value) {
  ScriptVariable v(value);
  v.Trim(" \t\n\r").Tolower();
  if (!v.IsEmpty() && v != "yes" && v != "no")
    c.findings.Warning(k.line, CheckContext::Where(s, k.name) + " = " +
                                   value + " counts as no");
}

void CheckDevice(CheckContext &c, const ConfigIndex::Section &s,
                 bool *onewire) {
  long long id;
  if (!ScriptVariable(s.name).GetLongLong(id, 16) || id < 0 ||
      id > 0xFFFFFFFFLL) {
    c.findings.Error(s.line, "device " + s.name +
                                 ": a board id is a hexadecimal number; the "
                                 "daemon ignores this section");
    return;
  }
  for (const ConfigIndex::Key &k : s.keys) {
    std::string base, qualifier;
    SplitKey(k.name, &base, &qualifier);
    std::string value = c.Value(s, k.name);
    std::string where = "device " + s.name + " " + k.name;
    if (base == "input_on" || base == "input_off") {
      RequireEvent(c, value, k.line, where);
    } else if (base == "onewire") {
      CheckYesNo(c, s, k, value);
      if (ConfigIsYes(DeviceOnewire(s.name))) *onewire = true;
    } else if (base == "output_sync") {
      CheckYesNo(c, s, k, value);
    }
  }
}

void CheckSensor(CheckContext &c, const ConfigIndex::Section &s) {
  std::string where = "temp_sensor " + s.name;
  ScriptVariable id = TempSensorKey(s.name, "id");
  unsigned char rom[8];
  if (id.IsEmpty()) {
    c.findings.Error(s.line, where + " has no id; the daemon ignores it");
  } else if (ParseRomId(id, rom) != kRomIdOk) {
    c.findings.Error(c.Line(s, "id"),
                     where + ": id " + id.Str() +
                         " is not 16 hexadecimal digits; the daemon "
                         "ignores the sensor");
  }
  int line = c.Line(s, "watermarks");
  std::vector<std::string> marks = ValueLines(c.Value(s, "watermarks"));
  for (size_t i = 0; i < marks.size(); i++) {
    c.log.Take();
    std::unique_ptr<Watermark> w = ParseWatermark(marks[i], static_cast<int>(i + 1));
    std::string said = c.log.TakeText();
    if (!w) {
      c.findings.Error(line, where + " watermark " + marks[i] + ": " + said);
      continue;
    }
    for (const ScriptVariable *event :
         {&w->on_low, &w->on_high, &w->start_low, &w->start_high})
      if (!event->IsEmpty())
        RequireEvent(c, event->Str(), line, where + " watermark");
  }
}

// %line:NAME:...% and %temp:NAME% in any text.
void CheckLineReferences(CheckContext &c) {
  for (const ConfigIndex::Section &s : c.index.Sections()) {
    for (const ConfigIndex::Key &k : s.keys) {
      for (const std::string &ref : References(c.Value(s, k.name))) {
        if (ref.compare(0, 5, "temp:") == 0) {
          std::string sensor = ref.substr(5);
          if (!sensor.empty() && !c.index.Find("temp_sensor", sensor.c_str()))
            c.findings.Warning(k.line, CheckContext::Where(s, k.name) +
                                           " shows sensor " + sensor +
                                           ", which has no [temp_sensor] section");
          continue;
        }
        if (ref.compare(0, 5, "line:") != 0) continue;
        std::string name = ref.substr(5, ref.find(':', 5) - 5);
        if (name.empty() || c.outputs.count(name) || c.inputs.count(name))
          continue;
        c.findings.Warning(k.line, CheckContext::Where(s, k.name) +
                                       " shows line " + name +
                                       ", which no [device] section defines");
      }
    }
  }
}

}  // namespace

void CheckHardware(CheckContext &c) {
  bool onewire = false;
  bool sensors = false;
  for (const ConfigIndex::Section &s : c.index.Sections()) {
    if (s.type == "device") CheckDevice(c, s, &onewire);
    if (s.type == "temp_sensor") {
      sensors = true;
      CheckSensor(c, s);
    }
  }
  if (sensors && !onewire) {
    const ConfigIndex::Section *first = c.index.Find("temp_sensor", nullptr);
    c.findings.Warning(first->line,
                       "temp_sensor sections, but no [device] section says "
                       "onewire = yes: no board reads the sensors");
  }
  CheckLineReferences(c);
}
