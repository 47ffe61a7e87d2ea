// State machines: state names (machine.state; no dot means the default
// machine, whose name is empty), the current state set, state sections and
// start-up.
#ifndef HOVANTRA_FSM_STATES_H
#define HOVANTRA_FSM_STATES_H

#include "util/script_set.h"
#include "util/script_variable.h"

class OVKEventSelector;

// Machine name -> bare current state.
class StatesSet : public ScriptMap {};

// The global current state set.
StatesSet &CurrentStates();
// "security.armed heat.eco" in the set's iteration order.
ScriptVariable StatesText(const StatesSet &set);
ScriptVariable CurrentStatesText();
// Bare state of the machine (inserted empty when missing).
ScriptVariable CurrentStateOf(const ScriptVariable &machine);

// Takes a full name apart for storing: split at dots with blanks and tabs
// trimmed, an empty machine put in front when there is no dot.  Of "a.b.c"
// the machine is "a" and the state "b".
void SplitStateName(const ScriptVariable &name, ScriptVariable &machine,
                    ScriptVariable &state);
// The text before the first dot, or empty: the machine a pending timed
// transition belongs to.
ScriptVariable MachineOf(const ScriptVariable &name);

struct StateConfig {
  int lamp_on = -1;
  int lamp_off = -1;
  int sound_mode = 0;
  ScriptVariable notification = ScriptVariable::Absent();
  int transit_delay = -1;
  ScriptVariable transit_target = ScriptVariable::Absent();
  ScriptVariable transit_event = ScriptVariable::Absent();
  ScriptVariable unready = ScriptVariable::Absent();
};

// False (logged) on a faulty lamp, sound or transit value.
bool ReadStateConfig(const ScriptVariable &name, StateConfig &config);

// Start-up: creates the lamp blinker, restores the saved states (or the
// default state) quietly.
void InitStateMachines(OVKEventSelector *selector);
// The loop given to InitStateMachines (timed transitions are registered
// there), or nullptr before.
OVKEventSelector *StateMachinesLoop();
// Clears the state set and pending timed transitions; for tests.
void ResetStateMachines();

#endif
