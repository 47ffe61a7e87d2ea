// State names and the current state set.  A full name is machine.state;
// no dot means the default machine, whose name is empty.
#ifndef HOVANTRA_FSM_STATES_H
#define HOVANTRA_FSM_STATES_H

#include "util/script_set.h"
#include "util/script_variable.h"

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

#endif
