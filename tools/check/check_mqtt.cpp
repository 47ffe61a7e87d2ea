// The mqtt section: panels of machines that exist, the pairs that map
// their states and Home Assistant's actions, and device classes of input
// lines that exist.  A section without a host is checked too: it is one
// being prepared, and the daemon reads it once the host is set.
#include <set>
#include <string>
#include <vector>

#include "config/configuration.h"
#include "fsm/states.h"
#include "mqtt/mqtt_settings.h"
#include "tools/check/check.h"
#include "tools/check/machine_refs.h"
#include "tools/check/text_refs.h"

namespace {

const char *const kAlarmStates[] = {"disarmed",       "armed_home",
                                    "armed_away",     "armed_night",
                                    "armed_vacation", "armed_custom_bypass",
                                    "pending",        "triggered",
                                    "arming",         "disarming"};
const char *const kActions[] = {
    "DISARM",       "ARM_HOME",          "ARM_AWAY", "ARM_NIGHT",
    "ARM_VACATION", "ARM_CUSTOM_BYPASS", "TRIGGER"};

template <size_t N>
bool OneOf(const char *const (&names)[N], const std::string &name) {
  for (const char *known : names)
    if (name == known) return true;
  return false;
}

// Every machine some state of the file belongs to; "" is the default one.
std::set<std::string> Machines(const CheckContext &c) {
  std::set<std::string> machines;
  for (const std::string &state : c.named_states) {
    ScriptVariable machine, name;
    SplitStateName(ScriptVariable(state), machine, name);
    machines.insert(machine.Str());
  }
  return machines;
}

void CheckPanel(CheckContext &c, const ConfigIndex::Section &s,
                const MqttPanel &panel, const std::set<std::string> &machines) {
  std::string shown = panel.machine.empty() ? std::string("the default machine")
                                            : "machine " + panel.machine;
  if (!machines.count(panel.machine)) {
    c.findings.Error(c.Line(s, "panel"),
                     "mqtt panel " + panel.topic_name + ": " + shown +
                         " has no states, so the panel never shows one");
    return;
  }
  std::string key = "states:" + panel.topic_name;
  for (const auto &[state, ha_state] : panel.states) {
    if (!MachineHasState(c, panel.machine, state))
      c.findings.Error(c.Line(s, key),
                       "mqtt " + key + ": " + shown + " has no state " + state);
    if (!OneOf(kAlarmStates, ha_state))
      c.findings.Error(c.Line(s, key), "mqtt " + key + ": " + ha_state +
                                           " is not a state of a Home "
                                           "Assistant alarm panel");
  }
  key = "commands:" + panel.topic_name;
  for (const auto &[action, line] : panel.commands)
    if (!OneOf(kActions, action))
      c.findings.Warning(c.Line(s, key), "mqtt " + key +
                                             ": Home Assistant "
                                             "never sends the action " +
                                             action);
}

}  // namespace

void CheckMqtt(CheckContext &c) {
  const ConfigIndex::Section *s = c.index.Find("mqtt", nullptr);
  if (s == nullptr) return;
  // The daemon's own reading words the values it refuses.
  c.log.Take();
  std::vector<MqttPanel> panels;
  if (!ScriptVariable(c.Value(*s, "host")).Trim().IsEmpty()) {
    panels = ReadMqttSettings().panels;
  } else {
    for (const ScriptVariable &word : SplitWords(c.Value(*s, "panel")))
      panels.push_back(ReadMqttPanel(word.Str()));
  }
  for (const std::string &line : c.log.Take()) c.findings.Error(s->line, line);

  std::set<std::string> machines = Machines(c);
  std::set<std::string> named;
  for (const MqttPanel &panel : panels) {
    named.insert(panel.topic_name);
    CheckPanel(c, *s, panel, machines);
  }
  for (const ConfigIndex::Key &k : s->keys) {
    std::string base, qualifier;
    SplitKey(k.name, &base, &qualifier);
    if (qualifier.empty()) continue;
    if ((base == "states" || base == "commands" || base == "code") &&
        !named.count(qualifier))
      c.findings.Warning(k.line, "mqtt " + k.name + ": " + qualifier +
                                     " is not named in panel, so this key "
                                     "is never read");
    if (base == "class" && !c.inputs.count(qualifier))
      c.findings.Warning(k.line, "mqtt " + k.name +
                                     ": no [device] section defines the "
                                     "input " +
                                     qualifier + ", so this key is never read");
  }
}
