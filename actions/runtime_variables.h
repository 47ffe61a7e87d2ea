// Run-time variables: the values @SET gives the variables whose `variable`
// section has enable = yes, kept in the [Variables ] section of the state
// file and read as %?name%.
#ifndef HOVANTRA_ACTIONS_RUNTIME_VARIABLES_H
#define HOVANTRA_ACTIONS_RUNTIME_VARIABLES_H

#include "util/script_variable.h"

// False for a variable that is not enabled, before OpenStateFile, or for a
// value too long to store.
bool SetVariable(const ScriptVariable &name, const ScriptVariable &value);
// Stored value, else the `default`; absent when the variable is not enabled.
ScriptVariable GetVariable(const ScriptVariable &name);

#endif
