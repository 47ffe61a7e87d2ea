// Start-up of the state machines and their process-wide state.
#include "fsm/state_machines.h"

#include "config/configuration.h"
#include "core/process_state.h"
#include "devices/lamp_blinker.h"
#include "fsm/saved_states.h"
#include "fsm/set_state.h"
#include "fsm/states.h"
#include "fsm/timeout_transit.h"

namespace {
OVKEventSelector *the_loop = nullptr;
}  // namespace

OVKEventSelector *StateMachinesLoop() { return the_loop; }

void InitStateMachines(OVKEventSelector *selector) {
  the_loop = selector;
  lamp_blinker_create(selector);
  CurrentStates().Ref(ScriptVariable(""));

  ScriptVariable saved = LoadStates();
  if (saved.IsEmpty()) saved = GeneralDefaultState();
  for (const ScriptVariable &name : SplitWords(saved)) SetState(name, true);
}

void ResetStateMachines() {
  ClearTimeoutTransits();
  CurrentStates() = StatesSet();
  the_loop = nullptr;
}

static const bool kResetRegistered =
    RegisterStateReset(StateLayer::kFsm, ResetStateMachines);
