// Built-in actions (one "@VERB args" line each), the activity list that
// decides readiness, and the delayed quit and restart.
#ifndef HOVANTRA_ACTIONS_ACTIONS_H
#define HOVANTRA_ACTIONS_ACTIONS_H

#include "util/script_variable.h"

class OVKEventSelector;

// True on success; "Unknown action [%s]" and false for an unknown verb.
bool DoAction(const ScriptVariable &line);
// The activity list is empty.
bool IsReady();
// The loop that @QUIT and @RESTART arm their RestartTimeout in.
void SetActionEventLoop(OVKEventSelector *selector);
// That loop, or nullptr before it is handed over.
OVKEventSelector *ActionEventLoop();
// @RESTART was run.
bool RestartRequested();
// Clears the activity list, the restart flag and the loop, and withdraws
// and destroys the armed RestartTimeouts (so call it while their loop still
// exists); for tests.
void ResetActions();

#endif
