#include "tools/check/machine_refs.h"

#include "config/configuration.h"
#include "tools/check/text_refs.h"

void RequireState(CheckContext &c, const std::string &state, int line,
                  const std::string &where) {
  if (state.empty() || Substituted(state)) return;
  if (c.state_sections.count(state)) return;
  c.findings.Warning(line, where + " names state " + state +
                               ", which has no [state] section (entering it "
                               "has no effect)");
}

bool MachineHasState(const CheckContext &c, const std::string &machine,
                     const std::string &state) {
  return c.named_states.count(machine.empty() ? state : machine + "." + state);
}

void RequireEvent(CheckContext &c, const std::string &event_line, int line,
                  const std::string &where) {
  std::string event = FirstWord(event_line);
  if (event.empty() || Substituted(event)) return;
  if (c.index.Find("event", event.c_str())) return;
  c.findings.Warning(line, where + " raises event " + event +
                               ", which has no [event] section (it is only "
                               "logged)");
}

void RequireNotification(CheckContext &c, const std::string &reference,
                         int line, const std::string &where) {
  std::string name = FirstWord(reference);
  if (name.empty()) return;
  c.notifications_used = true;
  if (Substituted(name)) return;
  if (!c.index.Find("notification", name.c_str())) {
    c.findings.Error(line, where + " sends notification " + name +
                               ", which has no [notification] section");
    return;
  }
  ScriptVariable phones = NotificationPhones(name);
  if (SplitWords(phones).empty())
    c.findings.Error(
        line, where + " sends notification " + name + ", which has no phones");
  if (NotificationMessage(name).IsEmpty())
    c.findings.Error(
        line, where + " sends notification " + name + ", which has no message");
}

void RequireOutput(CheckContext &c, const std::string &name, int line,
                   const std::string &where) {
  if (name.empty() || Substituted(name) || c.outputs.count(name)) return;
  c.findings.Error(line, where + " switches output " + name +
                             ", which no [device] section defines");
}

void CheckActions(CheckContext &c, const std::string &value, int line,
                  const std::string &where) {
  for (const std::string &action : ValueLines(value)) {
    ScriptVector words = SplitWords(action);
    if (words.empty()) continue;
    ScriptVariable verb = words[0];
    verb.Toupper();
    std::string arg = words.size() > 1 ? words[1].Str() : "";
    if (verb.HasPrefix("@LN") &&
        (verb.Length() == 4 || Substituted(verb.Str()))) {
      if (verb.Length() == 4 && verb[3] != '+' && verb[3] != '-') {
        c.findings.Error(line, where + ": unknown action " + action);
        continue;
      }
      RequireOutput(c, arg, line, where);
      continue;
    }
    if (Substituted(verb.Str())) continue;
    if (!verb.HasPrefix("@")) {
      c.findings.Error(line, where + ": " + action +
                                 " is not an action (actions start with @)");
    } else if (verb == "@SET") {
      if (!Substituted(arg) && !VariableEnabled(arg))
        c.findings.Error(line, where + ": @SET " + arg +
                                   " stores nothing: no [variable " + arg +
                                   "] section with enable = yes");
    } else if (verb != "@ACT+" && verb != "@ACT-" && verb != "@QUIT" &&
               verb != "@RESTART") {
      c.findings.Error(line, where + ": unknown action " + action);
    }
  }
}
