// The [State ] section of the state file: the current states, restored
// quietly at start-up.
#ifndef HOVANTRA_FSM_SAVED_STATES_H
#define HOVANTRA_FSM_SAVED_STATES_H

#include "util/script_variable.h"

// Does nothing before OpenStateFile.
void SaveStates(const ScriptVariable &states_text);
ScriptVariable LoadStates();  // absent when there is none

#endif
