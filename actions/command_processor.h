// The command language shared by the console, the web control page and SMS.
#ifndef HOVANTRA_ACTIONS_COMMAND_PROCESSOR_H
#define HOVANTRA_ACTIONS_COMMAND_PROCESSOR_H

#include "util/script_variable.h"

// caller: "trusted", "" (untrusted) or the sender's phone number.
// Gives 0 (send nothing), 1 (show the response) or 2 (an answer was
// explicitly requested).
int ProcessCommand(const ScriptVariable &caller, const ScriptVariable &line,
                   ScriptVariable &response);

#endif
