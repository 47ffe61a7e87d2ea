#include "actions/command_resolution.h"

#include "config/configuration.h"
#include "core/log.h"

ResolvedCommand ResolveCommand(const ScriptVariable &word) {
  ResolvedCommand r;
  ScriptVariable name = word;
  for (int steps = 0;; steps++) {
    name.Tolower();
    if (name.HasPrefix("&")) {
      r.kind = kBuiltinCommand;
      r.text = name;
      r.unpriv = true;
      r.args = -1;
      return r;
    }
    CommandSection section(name);
    if (r.response.IsAbsent()) r.response = section.Key("response");
    if (!r.unpriv && section.Unpriv()) r.unpriv = true;
    ScriptVariable alias = section.Key("alias_for");
    if (alias.IsAbsent()) {
      r.args = section.Args();
      ScriptVariable action = section.Key("action");
      ScriptVariable event = section.Key("event");
      if (!action.IsAbsent()) {
        r.kind = kActionCommand;
        r.text = action;
      } else if (!event.IsAbsent()) {
        r.kind = kEventCommand;
        r.text = event;
      } else {
        r.kind = r.response.IsAbsent() ? kUnknownCommand : kResponseCommand;
        r.text = "";
      }
      return r;
    }
    if (steps >= kMaxAliasSteps) {
      LogMessage("conf. error: alias_for loop at ``%s'', giving up",
                 word.c_str());
      r.kind = kUnknownCommand;
      r.text = "";
      r.response = ScriptVariable::Absent();
      r.args = -1;
      return r;
    }
    name = alias;
  }
}
