#include "mqtt/mqtt_settings.h"

#include "config/configuration.h"
#include "core/log.h"
#include "devices/devices.h"

namespace {

const char kSection[] = "mqtt";

std::string Key(const char *key, const char *dflt = "") {
  ScriptVariable value = ConfigString(kSection, nullptr, key);
  value.Trim();
  return value.IsEmpty() ? std::string(dflt) : value.Str();
}

std::string Qualified(const char *key, const std::string &qualifier) {
  ScriptVariable value =
      ConfigQualified(kSection, nullptr, key, qualifier.c_str());
  value.Trim();
  return value.Str();
}

// A whole number in [low, high], else dflt with a log line.
int Number(const char *key, int dflt, int low, int high) {
  ScriptVariable text = ConfigString(kSection, nullptr, key);
  text.Trim();
  if (text.IsEmpty()) return dflt;
  long value = 0;
  if (!text.GetLong(value) || value < low || value > high) {
    LogMessage(
        "conf. error: mqtt %s ``%s'' is not a number from %d to %d; "
        "using %d",
        key, text.c_str(), low, high, dflt);
    return dflt;
  }
  return static_cast<int>(value);
}

bool Yes(const char *key, bool dflt) {
  std::string value = Key(key);
  if (value.empty()) return dflt;
  return ConfigIsYes(ScriptVariable(value));
}

}  // namespace

std::map<std::string, std::string> ParsePairs(const ScriptVariable &value,
                                              const char *key) {
  std::map<std::string, std::string> pairs;
  for (const ScriptVariable &word : SplitWords(value)) {
    long colon = word.Find(":");
    if (colon <= 0 || static_cast<size_t>(colon) + 1 >= word.Length()) {
      LogMessage("conf. error: mqtt %s: ``%s'' is not a pair name:value", key,
                 word.c_str());
      continue;
    }
    std::string right = word.Range(static_cast<size_t>(colon) + 1).Str();
    for (char &c : right)
      if (c == '+') c = ' ';
    pairs[word.Range(0, static_cast<size_t>(colon)).Str()] = right;
  }
  return pairs;
}

MqttPanel ReadMqttPanel(const std::string &word) {
  MqttPanel panel;
  panel.topic_name = word;
  panel.machine = word == "default" ? "" : word;
  panel.states = ParsePairs(Qualified("states", word), "states");
  for (const auto &[action, line] :
       ParsePairs(Qualified("commands", word), "commands")) {
    ScriptVariable upper(action);
    panel.commands[upper.Toupper().Str()] = line;
  }
  panel.code = ConfigIsYes(ScriptVariable(Qualified("code", word)));
  return panel;
}

std::string MachineTopicName(const std::string &machine) {
  return machine.empty() ? "default" : machine;
}

MqttSettings ReadMqttSettings() {
  MqttSettings s;
  s.host = Key("host");
  if (s.host.empty()) return s;
  s.system_name = GeneralName().Str();
  s.port = Number("port", 1883, 1, 65535);
  s.client_id = Key("client_id", s.system_name.c_str());
  s.user = Key("user");
  s.password = Key("password");
  s.cafile = Key("cafile");
  // The library wants at least 5 s; an MQTT keep-alive is 16 bits.
  s.keepalive = Number("keepalive", 60, 5, 65535);
  s.prefix = Key("prefix", ("hovantra/" + s.system_name).c_str());
  while (s.prefix.size() > 1 && s.prefix.back() == '/') s.prefix.pop_back();
  s.trusted = Yes("trusted", false);
  for (const ScriptVariable &word :
       SplitWords(ConfigString(kSection, nullptr, "panel")))
    s.panels.push_back(ReadMqttPanel(word.Str()));
  for (const ScriptVariable &line : devices_line_names(false)) {
    std::string device_class = Qualified("class", line.Str());
    if (!device_class.empty()) s.classes[line.Str()] = device_class;
  }
  s.discovery = Yes("discovery", true);
  s.discovery_prefix = Key("discovery_prefix", "homeassistant");
  while (s.discovery_prefix.size() > 1 && s.discovery_prefix.back() == '/')
    s.discovery_prefix.pop_back();
  return s;
}
