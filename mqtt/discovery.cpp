#include "mqtt/discovery.h"

#include <cctype>

#include "mqtt/json_text.h"

namespace {

const char *const kFeatureActions[] = {"ARM_HOME",          "ARM_AWAY",
                                       "ARM_NIGHT",         "ARM_VACATION",
                                       "ARM_CUSTOM_BYPASS", "TRIGGER"};

std::string Node(const MqttSettings &s) { return DiscoveryId(s.client_id); }

std::string ConfigTopic(const MqttSettings &s, const char *component,
                        const std::string &name) {
  return s.discovery_prefix + "/" + component + "/" + Node(s) + "/" +
         DiscoveryId(name) + "/config";
}

std::string Device(const MqttSettings &s) {
  return JsonObject()
      .AddJson("identifiers", JsonStringArray({"hovantra_" + Node(s)}))
      .Add("name", s.system_name)
      .Add("model", "hovantra")
      .Add("sw_version", "1.65")
      .Text();
}

// The members every entity shares.
JsonObject Entity(const MqttSettings &s, const std::string &kind,
                  const std::string &name) {
  JsonObject json;
  json.Add("name", name)
      .Add("unique_id", Node(s) + "_" + kind + "_" + DiscoveryId(name))
      .Add("availability_topic", s.prefix + "/status")
      .Add("payload_available", "online")
      .Add("payload_not_available", "offline");
  return json;
}

std::string PanelConfig(const MqttSettings &s, const MqttPanel &panel) {
  const std::string base = s.prefix + "/panel/" + panel.topic_name;
  std::vector<std::string> features;
  for (const char *action : kFeatureActions)
    if (panel.commands.count(action)) features.push_back(PanelFeature(action));
  JsonObject json = Entity(s, "panel", panel.topic_name);
  json.Add("state_topic", base + "/state")
      .Add("command_topic", base + "/set")
      .AddJson("supported_features", JsonStringArray(features));
  if (panel.code) {
    json.Add("code", "REMOTE_CODE")
        .Add("code_arm_required", true)
        .Add("code_disarm_required", true)
        .Add("code_trigger_required", true)
        .Add("command_template", "{{ action }} {{ code }}");
  } else {
    json.Add("code_arm_required", false)
        .Add("code_disarm_required", false)
        .Add("code_trigger_required", false);
  }
  return json.AddJson("device", Device(s)).Text();
}

std::string LineTopic(const MqttSettings &s, const std::string &line) {
  return s.prefix + "/line/" + line;
}

}  // namespace

std::string DiscoveryId(const std::string &name) {
  std::string id = name;
  for (char &c : id)
    if (!isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '-')
      c = '_';
  return id.empty() ? "_" : id;
}

std::string PanelFeature(const std::string &action) {
  if (action == "DISARM" || !IsPanelAction(action)) return "";
  std::string feature = action;
  for (char &c : feature)
    c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return feature;
}

bool IsPanelAction(const std::string &action) {
  if (action == "DISARM") return true;
  for (const char *known : kFeatureActions)
    if (action == known) return true;
  return false;
}

std::string DiscoveryNodeFilter(const MqttSettings &s) {
  return s.discovery_prefix + "/+/" + Node(s) + "/+/config";
}

std::map<std::string, std::string> DiscoveryConfigs(
    const MqttSettings &s, const DiscoveredEntities &entities) {
  std::map<std::string, std::string> configs;
  for (const MqttPanel &panel : s.panels)
    configs[ConfigTopic(s, "alarm_control_panel", panel.topic_name)] =
        PanelConfig(s, panel);
  for (const std::string &line : entities.inputs) {
    JsonObject json = Entity(s, "input", line);
    json.Add("state_topic", LineTopic(s, line))
        .Add("payload_on", "ON")
        .Add("payload_off", "OFF");
    auto device_class = s.classes.find(line);
    if (device_class != s.classes.end())
      json.Add("device_class", device_class->second);
    configs[ConfigTopic(s, "binary_sensor", line)] =
        json.AddJson("device", Device(s)).Text();
  }
  for (const std::string &line : entities.outputs) {
    JsonObject json = Entity(s, "output", line);
    json.Add("state_topic", LineTopic(s, line))
        .Add("command_topic", LineTopic(s, line) + "/set")
        .Add("payload_on", "ON")
        .Add("payload_off", "OFF");
    configs[ConfigTopic(s, "switch", line)] =
        json.AddJson("device", Device(s)).Text();
  }
  for (const std::string &sensor : entities.sensors) {
    JsonObject json = Entity(s, "temp", sensor);
    json.Add("state_topic", s.prefix + "/temp/" + sensor)
        .Add("device_class", "temperature")
        .Add("state_class", "measurement")
        .Add("unit_of_measurement",
             "\xc2\xb0"
             "C");
    configs[ConfigTopic(s, "sensor", sensor)] =
        json.AddJson("device", Device(s)).Text();
  }
  return configs;
}
