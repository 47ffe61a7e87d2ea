// A state section of the configuration, read into one structure: the lamp
// pattern, the sound, the notification, the timed transition and the state
// to take instead while not ready.
#ifndef HOVANTRA_FSM_STATE_CONFIG_H
#define HOVANTRA_FSM_STATE_CONFIG_H

#include "util/script_variable.h"

struct StateConfig {
  int lamp_on = -1;
  int lamp_off = -1;
  int sound_mode = 0;
  ScriptVariable notification = ScriptVariable::Absent();
  int transit_delay = -1;
  ScriptVariable transit_target = ScriptVariable::Absent();
  ScriptVariable transit_event = ScriptVariable::Absent();
  ScriptVariable unready = ScriptVariable::Absent();
};

// False (logged) on a faulty lamp, sound or transit value.
bool ReadStateConfig(const ScriptVariable &name, StateConfig &config);

#endif
