#include "fsm/states.h"

StatesSet &CurrentStates() {
  static StatesSet states;
  return states;
}

ScriptVariable StatesText(const StatesSet &set) {
  ScriptVariable text;
  for (int i = set.First(); i >= 0; i = set.Next(i)) {
    if (!text.IsEmpty()) text += ' ';
    if (!set.KeyAt(i).IsEmpty()) {
      text += set.KeyAt(i);
      text += '.';
    }
    text += set.ValueAt(i);
  }
  return text;
}

ScriptVariable CurrentStatesText() { return StatesText(CurrentStates()); }

ScriptVariable CurrentStateOf(const ScriptVariable &machine) {
  return CurrentStates().Ref(machine);
}

void SplitStateName(const ScriptVariable &name, ScriptVariable &machine,
                    ScriptVariable &state) {
  ScriptVector tokens = SplitTokens(name, ".", " \t");
  if (tokens.size() < 2) tokens.insert(tokens.begin(), ScriptVariable(""));
  if (tokens.size() < 2) tokens.push_back(ScriptVariable(""));  // absent name
  machine = tokens[0];
  state = tokens[1];
}

ScriptVariable MachineOf(const ScriptVariable &name) {
  long dot = name.Find(".");
  if (dot < 0) return ScriptVariable("");
  return name.Range(0, static_cast<size_t>(dot));
}
