#include "fsm/saved_states.h"

#include "config/state_file.h"

void SaveStates(const ScriptVariable &states_text) {
  StoreStateValue("State", nullptr, "alert", states_text);
}

ScriptVariable LoadStates() {
  return FetchStateValue("State", nullptr, "alert");
}
