// SetState: entering one state of one machine, with its lamp, sound,
// notification, timed transition and saved state.
#ifndef HOVANTRA_FSM_SET_STATE_H
#define HOVANTRA_FSM_SET_STATE_H

#include "util/script_variable.h"

// quiet suppresses only the state's notification.
void SetState(const ScriptVariable &name, bool quiet);

#endif
