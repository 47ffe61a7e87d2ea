#include "actions/restart_timeout.h"

#include <memory>
#include <vector>

#include "actions/action_state.h"
#include "actions/actions.h"

void RestartTimeout::TimeoutHandle() {
  if (OVKEventSelector *loop = ActionEventLoop()) loop->Break();
}

void ArmRestartTimeout() {
  OVKEventSelector *loop = ActionEventLoop();
  if (!loop) return;
  ActionState &state = TheActionState();
  state.restart_timeouts.emplace_back(new RestartTimeout);
  RestartTimeout *t = state.restart_timeouts.back().get();
  t->SetFromNow(2, 0);
  loop->RegisterTimeout(t);
}

RestartTimeout *LastRestartTimeout() {
  ActionState &state = TheActionState();
  if (state.restart_timeouts.empty()) return nullptr;
  return state.restart_timeouts.back().get();
}
