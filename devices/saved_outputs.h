// The [Outputs ] section of the state file: the last state each synced
// output line was switched to, which the line gets back when its board is
// found again.
#ifndef HOVANTRA_DEVICES_SAVED_OUTPUTS_H
#define HOVANTRA_DEVICES_SAVED_OUTPUTS_H

#include "util/script_variable.h"

void SaveOutput(const ScriptVariable &line, bool on);
// 0: not opened or no value; kBoardOutputOn: "on" (trimmed, any case);
// kBoardOutputOff: anything else.
int LoadOutput(const ScriptVariable &line);

#endif
