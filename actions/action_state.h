// The process-wide state of the built-in actions, in one place.
#ifndef HOVANTRA_ACTIONS_ACTION_STATE_H
#define HOVANTRA_ACTIONS_ACTION_STATE_H

#include <memory>
#include <vector>

#include "actions/restart_timeout.h"
#include "util/script_variable.h"

struct ActionState {
  ScriptVector activities;  // each name at most once, in order of arrival
  bool restart = false;
  OVKEventSelector *loop = nullptr;
  std::vector<std::unique_ptr<RestartTimeout>> restart_timeouts;
};

ActionState &TheActionState();

#endif
