// Events and transitions: ProcessEvent handles one event line, SetState
// enters one state of one machine.
#ifndef HOVANTRA_FSM_EVENTS_H
#define HOVANTRA_FSM_EVENTS_H

#include "util/script_variable.h"

void ProcessEvent(const ScriptVariable &line);
// quiet suppresses only the state's notification.
void SetState(const ScriptVariable &name, bool quiet);

#endif
