#include "actions/runtime_variables.h"

#include "config/configuration.h"
#include "config/state_file.h"

bool SetVariable(const ScriptVariable &name, const ScriptVariable &value) {
  if (!StateFileIsOpen() || !VariableEnabled(name)) return false;
  return StoreStateValue("Variables", nullptr, name.c_str(), value);
}

ScriptVariable GetVariable(const ScriptVariable &name) {
  if (!VariableEnabled(name)) return ScriptVariable::Absent();
  ScriptVariable v = FetchStateValue("Variables", nullptr, name.c_str());
  return v.IsAbsent() ? VariableDefault(name) : v;
}
