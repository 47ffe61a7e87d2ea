#include "actions/actions.h"

#include <algorithm>
#include <cstdlib>

#include "actions/action_state.h"
#include "actions/runtime_variables.h"
#include "core/event_sink.h"
#include "core/log.h"
#include "core/process_state.h"
#include "devices/devices.h"

ActionState &TheActionState() {
  static ActionState state;
  return state;
}

namespace {

ScriptVariable WordAt(const ScriptVector &words, size_t i) {
  return i < words.size() ? words[i] : ScriptVariable("");
}

void AddActivity(const ScriptVariable &name) {
  ScriptVector &list = TheActionState().activities;
  if (std::find(list.begin(), list.end(), name) != list.end()) return;
  const bool was_ready = list.empty();
  list.push_back(name);
  if (was_ready) RaiseEvent("!activity");
}

void RemoveActivity(const ScriptVariable &name) {
  ScriptVector &list = TheActionState().activities;
  if (list.empty()) return;
  list.erase(std::remove(list.begin(), list.end(), name), list.end());
  if (list.empty()) RaiseEvent("!ready");
}

}  // namespace

bool DoAction(const ScriptVariable &line) {
  ScriptVector words = SplitWords(line);
  ScriptVariable verb = WordAt(words, 0);
  verb.Trim().Toupper();

  if (verb == "@ACT+") {
    AddActivity(WordAt(words, 1));
    return true;
  }
  if (verb == "@ACT-") {
    RemoveActivity(WordAt(words, 1));
    return true;
  }
  if (verb == "@LN+" || verb == "@LN-") {
    return device_set_output(WordAt(words, 1),
                             verb[3] == '+' ? kBoardOutputOn : kBoardOutputOff);
  }
  if (verb == "@SET") {
    return SetVariable(WordAt(words, 1), JoinWords(words, 2, " "));
  }
  if (verb == "@QUIT") {
    if (!ActionEventLoop()) {
      FlushLog();
      exit(0);
    }
    ArmRestartTimeout();
    return true;
  }
  if (verb == "@RESTART") {
    ArmRestartTimeout();
    TheActionState().restart = true;
    return true;
  }
  LogMessage("Unknown action [%s]", line.c_str());
  return false;
}

bool IsReady() { return TheActionState().activities.empty(); }

void SetActionEventLoop(OVKEventSelector *selector) {
  TheActionState().loop = selector;
}

OVKEventSelector *ActionEventLoop() { return TheActionState().loop; }

bool RestartRequested() { return TheActionState().restart; }

void ResetActions() {
  ActionState &state = TheActionState();
  for (auto &t : state.restart_timeouts) {
    if (state.loop) state.loop->RemoveTimeout(t.get());
  }
  state.restart_timeouts.clear();
  state.activities.clear();
  state.restart = false;
  state.loop = nullptr;
}

static const bool kResetRegistered =
    RegisterStateReset(StateLayer::kActions, ResetActions);
