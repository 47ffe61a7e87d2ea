// State machines as the configuration wires them: states as the daemon
// reads them, transition rules, events, notifications, commands and
// variables.
#include <cctype>

#include "actions/command_resolution.h"
#include "config/configuration.h"
#include "fsm/state_config.h"
#include "fsm/states.h"
#include "tools/check/check.h"
#include "tools/check/machine_refs.h"
#include "tools/check/text_refs.h"

namespace {

const char kTrim[] = " \t\n\r";

void CheckState(CheckContext &c, const ConfigIndex::Section &s) {
  std::string where = "state " + s.name;
  c.log.Take();
  StateConfig config;
  if (!ReadStateConfig(s.name, config)) {
    c.findings.Error(s.line, where + ": the daemon refuses to enter it: " +
                                 c.log.TakeText());
    return;
  }
  if (config.lamp_on != -1 && !c.outputs.count("^lamp"))
    c.findings.Error(c.Line(s, "lamp"), where +
                                            " sets the lamp, but no [device] "
                                            "section defines the output ^lamp");
  if (config.sound_mode != 0 && !c.outputs.count("^sound"))
    c.findings.Error(c.Line(s, "sound"),
                     where +
                         " sets the sound, but no [device] "
                         "section defines the output ^sound");
  if (!config.transit_target.IsEmpty())
    RequireState(c, config.transit_target.Str(), c.Line(s, "transit"),
                 where + " transit");
  if (!config.transit_event.IsEmpty())
    RequireEvent(c, config.transit_event.Str(), c.Line(s, "transit"),
                 where + " transit");
  if (!config.unready.IsEmpty())
    RequireState(c, config.unready.Str(), c.Line(s, "unready"),
                 where + " unready");
  if (!config.notification.IsEmpty())
    RequireNotification(c, config.notification.Str(), c.Line(s, "notification"),
                        where);
}

// One line of an event's transit value.
void CheckRule(CheckContext &c, const std::string &rule, int line,
               const std::string &where) {
  size_t arrow = rule.find("->");
  if (arrow == std::string::npos) {
    c.findings.Error(line, where + ": no -> in the rule " + rule);
    return;
  }
  ScriptVariable from = ScriptVariable(rule.substr(0, arrow)).Trim(kTrim);
  ScriptVariable to = ScriptVariable(rule.substr(arrow + 2)).Trim(kTrim);
  ScriptVariable from_machine, from_state, to_machine, to_state;
  SplitStateName(from, from_machine, from_state);
  SplitStateName(to, to_machine, to_state);
  if (from_machine != to_machine) {
    c.findings.Error(line, where + ": " + from.Str() + " and " + to.Str() +
                               " are not states of one machine");
    return;
  }
  if (from_state != "*") RequireState(c, from.Str(), line, where);
  RequireState(c, to.Str(), line, where);
}

void CheckEvent(CheckContext &c, const ConfigIndex::Section &s) {
  std::string machine = c.Value(s, "fsm");
  for (const ConfigIndex::Key &k : s.keys) {
    std::string base, qualifier;
    SplitKey(k.name, &base, &qualifier);
    std::string where = "event " + s.name + " " + k.name;
    if (k.name.find(':') != std::string::npos &&
        !MachineHasState(c, machine, qualifier))
      c.findings.Warning(
          k.line, where + ": " +
                      (machine.empty() ? std::string("the default machine")
                                       : "machine " + machine) +
                      " has no state " + qualifier +
                      ", so this key is never read");
    std::string value = c.Value(s, k.name);
    if (base == "transit") {
      for (const std::string &rule : ValueLines(value))
        CheckRule(c, rule, k.line, where);
    } else if (base == "action") {
      CheckActions(c, value, k.line, where);
    } else if (base == "notification") {
      RequireNotification(c, value, k.line, where);
    } else if (base == "subevents") {
      for (const std::string &line : ValueLines(value))
        RequireEvent(c, line, k.line, where);
    }
  }
}

void CheckCommand(CheckContext &c, const ConfigIndex::Section &s) {
  std::string where = "command " + s.name;
  for (char ch : s.name) {
    if (isupper(static_cast<unsigned char>(ch))) {
      c.findings.Warning(s.line, where +
                                     " is never found: commands are "
                                     "looked up in lower case");
      return;
    }
  }
  c.log.Take();
  ResolvedCommand r = ResolveCommand(s.name);
  std::string loop = c.log.TakeText();
  if (!loop.empty()) {
    c.findings.Error(c.Line(s, "alias_for"), where + ": " + loop);
    return;
  }
  std::string alias = c.Value(s, "alias_for");
  if (!alias.empty() && alias[0] != '&') {
    ScriptVariable target(alias);
    target.Tolower();
    if (!c.index.Find("command", target.c_str()))
      c.findings.Error(c.Line(s, "alias_for"),
                       where + " is an alias for command " + alias +
                           ", which has no section");
  }
  if (r.kind == kUnknownCommand && alias.empty())
    c.findings.Warning(s.line, where +
                                   " has no action, event or response: "
                                   "it answers \"Unknown cmd\"");
  ScriptVariable args = CommandKey(s.name, "args");
  long n;
  if (!args.IsEmpty() && !args.GetLong(n))
    c.findings.Warning(c.Line(s, "args"),
                       where + ": args = " + args.Str() +
                           " is not a number; the command takes every "
                           "remaining word");
  if (!c.Value(s, "action").empty())
    CheckActions(c, c.Value(s, "action"), c.Line(s, "action"), where);
  else if (!c.Value(s, "event").empty())
    RequireEvent(c, c.Value(s, "event"), c.Line(s, "event"), where);
}

void CheckNotification(CheckContext &c, const ConfigIndex::Section &s) {
  std::string where = "notification " + s.name;
  if (SplitWords(NotificationPhones(s.name)).empty())
    c.findings.Error(s.line, where + " has no phones: it sends nothing");
  else if (NotificationMessage(s.name).IsEmpty())
    c.findings.Error(s.line, where + " has no message: it sends nothing");
}

void CheckPhone(CheckContext &c, const ConfigIndex::Section &s) {
  ScriptVariable auth = PhoneAuth(s.name);
  if (!auth.IsEmpty() && auth != "trusted")
    c.findings.Warning(c.Line(s, "auth"),
                       "phone " + s.name + ": auth = " + auth.Str() +
                           " means nothing; only trusted is known");
}

// Anything but yes counts as no; a value that is neither is likely meant
// as yes.
void CheckVariable(CheckContext &c, const ConfigIndex::Section &s) {
  ScriptVariable enable(c.Value(s, "enable"));
  enable.Trim(kTrim).Tolower();
  if (!enable.IsEmpty() && enable != "yes" && enable != "no")
    c.findings.Warning(c.Line(s, "enable"),
                       "variable " + s.name + ": enable = " +
                           c.Value(s, "enable") + " counts as no");
}

// %?name% reads a run-time variable, which exists only when enabled.
void CheckVariableReferences(CheckContext &c) {
  for (const ConfigIndex::Section &s : c.index.Sections()) {
    for (const ConfigIndex::Key &k : s.keys) {
      for (const std::string &ref : References(c.Value(s, k.name))) {
        if (ref.size() < 2 || ref[0] != '?') continue;
        std::string name = ref.substr(1);
        if (!VariableEnabled(name))
          c.findings.Warning(k.line, CheckContext::Where(s, k.name) +
                                         " reads %" + ref + "%, but variable " +
                                         name + " is not enabled");
      }
    }
  }
}

}  // namespace

void CheckMachines(CheckContext &c) {
  const ConfigIndex::Section *general = c.index.Find("general", nullptr);
  if (general) {
    for (const ScriptVariable &state :
         SplitWords(ConfigString("general", nullptr, "defaultstate", "")))
      RequireState(c, state.Str(), c.Line(*general, "defaultstate"),
                   "general defaultstate");
  }
  for (const ConfigIndex::Section &s : c.index.Sections()) {
    if (s.type == "state")
      CheckState(c, s);
    else if (s.type == "event")
      CheckEvent(c, s);
    else if (s.type == "command")
      CheckCommand(c, s);
    else if (s.type == "notification")
      CheckNotification(c, s);
    else if (s.type == "phone")
      CheckPhone(c, s);
    else if (s.type == "variable")
      CheckVariable(c, s);
  }
  CheckVariableReferences(c);
}
