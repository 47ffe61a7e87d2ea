// ProcessEvent: one event line through its section's action, exec,
// notification, transit and subevents keys, each qualified by the current
// state of the event's machine.
#include "fsm/events.h"

#include "actions/actions.h"
#include "actions/notifications.h"
#include "config/configuration.h"
#include "core/log.h"
#include "core/process_state.h"
#include "fsm/set_state.h"
#include "fsm/states.h"
#include "subst/substitution.h"

namespace {

EventObserver event_observer = nullptr;
int event_depth = 0;
int events_in_cause = 0;  // events processed since the outermost began
bool cause_reported = false;

// Keeps the nesting count right on every way out of ProcessEvent.
class DepthGuard {
 public:
  DepthGuard() { ++event_depth; }
  ~DepthGuard() { --event_depth; }
  DepthGuard(const DepthGuard &) = delete;
  DepthGuard &operator=(const DepthGuard &) = delete;
};

// Non-empty lines of a multi-line value.
ScriptVector ValueLines(const ScriptVariable &value, const char *trim) {
  ScriptVector lines;
  for (const ScriptVariable &line : SplitTokens(value, "\n", trim)) {
    if (!line.IsEmpty()) lines.push_back(line);
  }
  return lines;
}

void RunActions(const ScriptVariable &actions, const ScriptVector &words) {
  LogMessage("Doing (event) action ``%s''", actions.c_str());
  for (const ScriptVariable &line : ValueLines(actions, " \r\t")) {
    DoAction(MainSubstitution().Process(line, words, 0, -1));
  }
}

// Matches every rule against the states as they are now, then enters the
// states found.  For one machine an exact match beats a wildcard, the last
// exact match wins and the first wildcard wins.
void ApplyTransitRules(const ScriptVariable &rules) {
  StatesSet news;
  for (const ScriptVariable &rule : ValueLines(rules, " \t\r")) {
    long arrow = rule.Find("->");
    if (arrow < 0) {
      LogMessage("conf. error: no ``->'' in %s", rule.c_str());
      continue;
    }
    ScriptVariable from = rule.Range(0, static_cast<size_t>(arrow));
    ScriptVariable to = rule.Range(static_cast<size_t>(arrow) + 2);
    from.Trim(" \t\n\r");
    to.Trim(" \t\n\r");
    ScriptVariable from_machine, from_state, to_machine, to_state;
    SplitStateName(from, from_machine, from_state);
    SplitStateName(to, to_machine, to_state);
    if (from_machine != to_machine) {
      LogMessage("conf. error: %s and %s aren't from one fsm", from.c_str(),
                 to.c_str());
      continue;
    }
    ScriptVariable current = CurrentStates().Ref(from_machine);
    if (current == from_state) {
      news.Set(from_machine, to_state);
    } else if (from_state == "*" && !news.Contains(from_machine)) {
      news.Set(from_machine, to_state);
    }
  }
  if (news.Count() == 0) return;

  LogMessage("new states: %s", StatesText(news).c_str());
  for (int i = news.First(); i >= 0; i = news.Next(i)) {
    const ScriptVariable &machine = news.KeyAt(i);
    if (machine.IsEmpty()) {
      SetState(news.ValueAt(i), false);
    } else {
      SetState(machine + "." + news.ValueAt(i), false);
    }
  }
}

void RunSubevents(const ScriptVariable &subevents, const ScriptVector &words) {
  ScriptVariable expanded = MainSubstitution().Process(subevents, words, 0, -1);
  for (const ScriptVariable &line : ValueLines(expanded, " \t\r")) {
    ProcessEvent(line);
  }
}

}  // namespace

void SetEventObserver(EventObserver observer) { event_observer = observer; }

static const bool kResetRegistered =
    RegisterStateReset(StateLayer::kFsm, [] { SetEventObserver(nullptr); });

void ProcessEvent(const ScriptVariable &line) {
  if (event_depth >= kMaxEventDepth) {
    LogMessage("Event ``%s'' nested too deeply (limit %d), ignored",
               line.c_str(), kMaxEventDepth);
    return;
  }
  if (event_depth == 0) {
    events_in_cause = 0;
    cause_reported = false;
  }
  if (++events_in_cause > kMaxEventsPerCause) {
    if (!cause_reported)
      LogMessage(
          "Events after ``%s'' dropped: more than %d raised by one event",
          line.c_str(), kMaxEventsPerCause);
    cause_reported = true;
    return;
  }
  DepthGuard depth;

  LogMessage("Processing event ``%s''", line.c_str());
  if (event_observer) event_observer(line);
  ScriptVector words = SplitWords(line);
  ScriptVariable name = words.empty() ? ScriptVariable("") : words[0];
  ScriptVariable machine = EventFsm(name);
  if (machine.IsAbsent()) machine = "";
  // Taken once: a transit below must not change which subevents apply.
  ScriptVariable state = CurrentStates().Ref(machine);

  ScriptVariable actions = EventKey(name, "action", state);
  if (!actions.IsEmpty()) RunActions(actions, words);

  ScriptVariable exec = EventKey(name, "exec", state);
  if (!exec.IsEmpty()) RunEventCommand(exec, words);

  ScriptVariable notification = EventKey(name, "notification", state);
  if (!notification.IsEmpty()) {
    SendNotification(MainSubstitution().Process(notification, words, 0, -1));
  }

  ScriptVariable transit = EventKey(name, "transit", state);
  if (!transit.IsEmpty()) ApplyTransitRules(transit);

  ScriptVariable subevents = EventKey(name, "subevents", state);
  if (!subevents.IsEmpty()) RunSubevents(subevents, words);
}
