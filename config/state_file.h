// The state file: what survives a restart or a power cut.  An IniFile
// document kept in memory and rewritten whole (atomically) after every
// change:
//
//   [Outputs ]      <line name> = on | off          (synced output lines)
//   [State ]        alert = <current states text>
//   [Variables ]    <name> = <value>                (@SET)
//   [TempSensor S]  wmark_<index> = <zone name>     (watermarks)
//
// An empty stored value counts as missing everywhere.  A save that fails
// keeps the change in memory for the next one and is logged as
// "Cannot save the state file ``%s'': %s" (the absolute path, the system's
// reason) once per run of failures.
#ifndef HOVANTRA_CONFIG_STATE_FILE_H
#define HOVANTRA_CONFIG_STATE_FILE_H

#include "util/script_variable.h"

// Discards any earlier copy, removes what interrupted saves left beside the
// file ("Removed ``%s'', left behind by an interrupted save") and loads
// path (made absolute once, against the current directory).  A failure is
// logged as
// "%s:%d: warning: reading state file problem: %s" with the path as given.
void OpenStateFile(const ScriptVariable &path);
bool StateFileIsOpen();
ScriptVariable StateFilePath();  // the absolute path; "" before opening
// Forgets the in-memory copy; for tests.
void ResetStateFile();

void SaveOutput(const ScriptVariable &line, bool on);
// 0: not opened or no value; 1: "on" (trimmed, any case); 2: anything else.
int LoadOutput(const ScriptVariable &line);

// Does nothing before OpenStateFile.
void SaveStates(const ScriptVariable &states_text);
ScriptVariable LoadStates();  // absent when there is none

// Only for variables whose `variable` section has enable = yes.
bool SetVariable(const ScriptVariable &name, const ScriptVariable &value);
// Stored value, else the `default`; absent when the variable is not enabled.
ScriptVariable GetVariable(const ScriptVariable &name);

// Key "wmark_%d" of section TempSensor <sensor>.
void SaveWatermark(const ScriptVariable &sensor, int index,
                   const ScriptVariable &zone);
ScriptVariable LoadWatermark(const ScriptVariable &sensor, int index);  // "undef"

#endif
