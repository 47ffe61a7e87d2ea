// The system variables offered to every configured text: state, sysname,
// devices_report, onewire_report, full_report, date, ?name, line:...,
// temp:..., stateof:... (registered in that order, so asked in reverse).
#ifndef HOVANTRA_FSM_SYSTEM_VARIABLES_H
#define HOVANTRA_FSM_SYSTEM_VARIABLES_H

class ScriptSubstitution;

void RegisterSystemVariables(ScriptSubstitution &engine);

#endif
