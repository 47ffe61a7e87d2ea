// The state file: what survives a restart or a power cut.  An IniFile
// document kept in memory and rewritten whole (atomically) after every
// change.  Each subsystem reads and writes its own section through
// StoreStateValue and FetchStateValue:
//
//   [Outputs ]      devices/saved_outputs.h      synced output lines
//   [State ]        fsm/saved_states.h           the current states
//   [Variables ]    actions/runtime_variables.h  @SET
//   [TempSensor S]  temp/saved_watermarks.h      watermark zones
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

// Sets key in section [type name] (name may be nullptr) and saves the
// file.  Does nothing before OpenStateFile; false (logged) for a value too
// long to be read back.
bool StoreStateValue(const char *type, const char *name, const char *key,
                     const ScriptVariable &value);
// The stored value; absent when there is none, when it is empty, or before
// OpenStateFile.
ScriptVariable FetchStateValue(const char *type, const char *name,
                               const char *key);

#endif
