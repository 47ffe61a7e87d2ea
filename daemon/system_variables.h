// The system variables offered to every configured text: state, sysname,
// devices_report, onewire_report, full_report, date, ?name, line:...,
// temp:..., stateof:... (registered in that order, so asked in reverse).
// Every value is computed at the moment of the lookup.
#ifndef HOVANTRA_DAEMON_SYSTEM_VARIABLES_H
#define HOVANTRA_DAEMON_SYSTEM_VARIABLES_H

#include <ctime>

#include "util/script_variable.h"

class ScriptSubstitution;

// Sets the delimiter to '%' and adds the ten variables.
void RegisterSystemVariables(ScriptSubstitution &engine);

// The %date% text of a moment: "20260307 09:05" in local time.
ScriptVariable DateReportText(time_t when);

#endif
