// SetState: entering one state of one machine.
#include "fsm/set_state.h"

#include "actions/actions.h"
#include "actions/notifications.h"
#include "core/log.h"
#include "devices/lamp_blinker.h"
#include "fsm/saved_states.h"
#include "fsm/state_config.h"
#include "fsm/state_machines.h"
#include "fsm/states.h"
#include "fsm/timeout_transit.h"
#include "subst/substitution.h"

void SetState(const ScriptVariable &requested, bool quiet) {
  StateConfig config;
  if (!ReadStateConfig(requested, config)) {
    LogMessage("conf. error for %s; not changing to it", requested.c_str());
    return;
  }

  ScriptVariable name = requested;
  if (!IsReady() && !config.unready.IsEmpty()) {
    LogMessage("not ready for security; going to %s instead of %s",
               config.unready.c_str(), requested.c_str());
    name = config.unready;
    // The unready state's own unready key is not followed.
    if (!ReadStateConfig(name, config)) {
      LogMessage("conf. error for %s; not changing to it", name.c_str());
      return;
    }
  }

  LogMessage("YYY newstate %s lamp/sound %d:%d/%d notif [%s] trans [%d:%s]",
             name.c_str(), config.lamp_on, config.lamp_off, config.sound_mode,
             config.notification.c_str(), config.transit_delay,
             config.transit_target.c_str());

  CancelTimeoutTransit(MachineOf(name));

  const ScriptVector no_words;
  const ScriptVector pairs = {ScriptVariable("newstate"), name};

  if (!config.notification.IsEmpty() && !quiet) {
    SendNotification(
        MainSubstitution().ProcessDict(config.notification, no_words, pairs));
  }

  lamp_set_pattern(config.lamp_on, config.lamp_off, config.sound_mode);

  ScriptVariable machine, state;
  SplitStateName(name, machine, state);
  CurrentStates().Set(machine, state);

  ScriptVariable text = CurrentStatesText();
  LogMessage("STATE is now ``%s''", text.c_str());
  SaveStates(text);

  if (config.transit_delay != -1) {
    ScriptVariable event =
        MainSubstitution().ProcessDict(config.transit_event, no_words, pairs);
    LogMessage("YYY scheduling transfer to %s in %d",
               config.transit_target.c_str(), config.transit_delay);
    ArmTimeoutTransit(StateMachinesLoop(), config.transit_delay,
                      config.transit_target, event);
  }
}
