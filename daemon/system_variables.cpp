#include "daemon/system_variables.h"

#include "actions/runtime_variables.h"
#include "config/configuration.h"
#include "devices/devices.h"
#include "fsm/states.h"
#include "subst/substitution.h"
#include "temp/temp_sensors.h"

namespace {

// The parameter at index i, or the empty text.
ScriptVariable Param(const ScriptVector &params, size_t i) {
  return i < params.size() ? params[i] : ScriptVariable("");
}

class SubCurrentState : public ScriptSubstitutionSingleName {
 public:
  SubCurrentState() : ScriptSubstitutionSingleName("state") {}
  ScriptVariable Text() override { return CurrentStatesText(); }
};

class SubSystemName : public ScriptSubstitutionSingleName {
 public:
  SubSystemName() : ScriptSubstitutionSingleName("sysname") {}
  ScriptVariable Text() override { return GeneralName(); }
};

class SubDevReport : public ScriptSubstitutionSingleName {
 public:
  SubDevReport() : ScriptSubstitutionSingleName("devices_report") {}
  ScriptVariable Text() override { return devices_report_text(); }
};

class SubOWReport : public ScriptSubstitutionSingleName {
 public:
  SubOWReport() : ScriptSubstitutionSingleName("onewire_report") {}
  ScriptVariable Text() override { return temp_report_text(); }
};

class SubFullReport : public ScriptSubstitutionSingleName {
 public:
  SubFullReport() : ScriptSubstitutionSingleName("full_report") {}
  ScriptVariable Text() override {
    return "status: " + CurrentStatesText() + devices_report_text() +
           temp_report_text();
  }
};

class SubDateReport : public ScriptSubstitutionSingleName {
 public:
  SubDateReport() : ScriptSubstitutionSingleName("date") {}
  ScriptVariable Text() override { return DateReportText(time(nullptr)); }
};

// %?name%: a run-time variable; absent for one that is not enabled, so the
// reference falls through to older variables.
class SubRunVariables : public ScriptSubstitution::Var {
 public:
  ScriptVariable Lookup(const char *name, int len) override {
    if (len < 1 || name[0] != '?') return ScriptVariable::Absent();
    return GetVariable(ScriptVariable(name + 1, static_cast<size_t>(len - 1)));
  }
};

// %line:name:on text:off text:other text%
class SubDevLines : public ScriptSubstitutionPrefixRequest {
 public:
  SubDevLines() : ScriptSubstitutionPrefixRequest("line", ':') {}
  ScriptVariable HandleRequest(const ScriptVector &params) override {
    switch (device_line_state(Param(params, 0))) {
      case 1:
        return Param(params, 1);
      case 0:
        return Param(params, 2);
      default:
        return Param(params, 3);
    }
  }
};

// %temp:sensor%: empty without a reading (or for an unknown sensor).
class SubTemperature : public ScriptSubstitutionPrefixRequest {
 public:
  SubTemperature() : ScriptSubstitutionPrefixRequest("temp", ':') {}
  ScriptVariable HandleRequest(const ScriptVector &params) override {
    int t = temp_of(Param(params, 0));
    if (t < -273) return ScriptVariable("");
    return ScriptFormat("%d", t);
  }
};

// %stateof:machine%; %stateof:% is the default machine.
class SubStateOf : public ScriptSubstitutionPrefixRequest {
 public:
  SubStateOf() : ScriptSubstitutionPrefixRequest("stateof", ':') {}
  ScriptVariable HandleRequest(const ScriptVector &params) override {
    return CurrentStateOf(Param(params, 0));
  }
};

}  // namespace

ScriptVariable DateReportText(time_t when) {
  struct tm local;
  if (!localtime_r(&when, &local)) return ScriptVariable("");
  return ScriptFormat("%d%02d%02d %02d:%02d", local.tm_year + 1900,
                      local.tm_mon + 1, local.tm_mday, local.tm_hour,
                      local.tm_min);
}

void RegisterSystemVariables(ScriptSubstitution &engine) {
  engine.SetDelimiter('%');
  engine.AddVariable(new SubCurrentState);
  engine.AddVariable(new SubSystemName);
  engine.AddVariable(new SubDevReport);
  engine.AddVariable(new SubOWReport);
  engine.AddVariable(new SubFullReport);
  engine.AddVariable(new SubDateReport);
  engine.AddVariable(new SubRunVariables);
  engine.AddVariable(new SubDevLines);
  engine.AddVariable(new SubTemperature);
  engine.AddVariable(new SubStateOf);
}
