#include "config/state_file.h"

#include <errno.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <string>

#include "config/atomic_file.h"
#include "config/configuration.h"
#include "config/ini_file.h"
#include "core/log.h"

static std::unique_ptr<IniFile> state_doc;
static ScriptVariable state_path("");
static bool save_failing = false;  // the last save failed

static const char kTrimSet[] = " \t\n\r";

void OpenStateFile(const ScriptVariable &path) {
  state_doc = std::make_unique<IniFile>();
  state_path = path;
  save_failing = false;
  if (!path.HasPrefix("/")) {
    char cwd[1024];
    if (getcwd(cwd, sizeof cwd)) state_path = ScriptVariable(cwd) + "/" + path;
  }
  // A kill or a power cut during a save leaves its temporary behind; the
  // file itself is whole either way, so the leftovers are only removed.
  for (const std::string &leftover : RemoveInterruptedReplacements(state_path.Str()))
    LogMessage("Removed ``%s'', left behind by an interrupted save", leftover.c_str());
  if (!state_doc->Load(state_path.c_str()))
    LogMessage("%s:%d: warning: reading state file problem: %s", path.c_str(),
               state_doc->ErrorLine(), state_doc->ErrorText());
}

bool StateFileIsOpen() { return state_doc != nullptr; }
ScriptVariable StateFilePath() { return state_path; }

void ResetStateFile() {
  state_doc.reset();
  state_path = "";
  save_failing = false;
}

// The reader takes lines of at most 1023 bytes with their newline; a
// longer "key = value" line would make the whole file unreadable at the
// next start, losing every state stored after it.
static bool FitsOneLine(const char *key, const ScriptVariable &value) {
  return strlen(key) + 3 + value.Length() + 1 <= 1023;
}

// Every change is written through at once; a failed write keeps the value
// in memory for the next successful one, and the first failure of a run is
// logged, so a read-only or full disk does not lose states in silence.
// False (logged) for a value too long to be read back.
static bool Store(const char *type, const char *name, const char *key,
                  const ScriptVariable &value) {
  if (!state_doc) return false;
  if (!FitsOneLine(key, value)) {
    LogMessage("Value of ``%s'' too long for the state file (%d bytes), not stored",
               key, static_cast<int>(value.Length()));
    return false;
  }
  state_doc->SetValue(type, name, key, value.c_str(), true);
  bool saved = state_doc->Save(state_path.c_str());
  if (!saved && !save_failing)
    LogMessage("Cannot save the state file ``%s'': %s", state_path.c_str(),
               strerror(errno));
  save_failing = !saved;
  return true;
}

static ScriptVariable Fetch(const char *type, const char *name,
                            const char *key) {
  if (!state_doc) return ScriptVariable::Absent();
  const char *v = state_doc->GetValue(type, name, key);
  return *v ? ScriptVariable(v) : ScriptVariable::Absent();
}

void SaveOutput(const ScriptVariable &line, bool on) {
  Store("Outputs", nullptr, line.c_str(), on ? "on" : "off");
}

int LoadOutput(const ScriptVariable &line) {
  ScriptVariable v = Fetch("Outputs", nullptr, line.c_str());
  if (v.IsAbsent()) return 0;
  return v.Trim(kTrimSet).Tolower() == "on" ? 1 : 2;
}

void SaveStates(const ScriptVariable &states_text) {
  Store("State", nullptr, "alert", states_text);
}

ScriptVariable LoadStates() { return Fetch("State", nullptr, "alert"); }

bool SetVariable(const ScriptVariable &name, const ScriptVariable &value) {
  if (!state_doc || !VariableEnabled(name)) return false;
  return Store("Variables", nullptr, name.c_str(), value);
}

ScriptVariable GetVariable(const ScriptVariable &name) {
  if (!VariableEnabled(name)) return ScriptVariable::Absent();
  ScriptVariable v = Fetch("Variables", nullptr, name.c_str());
  return v.IsAbsent() ? VariableDefault(name) : v;
}

void SaveWatermark(const ScriptVariable &sensor, int index,
                   const ScriptVariable &zone) {
  Store("TempSensor", sensor.c_str(), ScriptFormat("wmark_%d", index).c_str(),
        zone);
}

ScriptVariable LoadWatermark(const ScriptVariable &sensor, int index) {
  ScriptVariable v =
      Fetch("TempSensor", sensor.c_str(), ScriptFormat("wmark_%d", index).c_str());
  return v.IsAbsent() ? ScriptVariable("undef") : v;
}
