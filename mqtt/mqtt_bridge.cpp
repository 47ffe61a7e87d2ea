#include "mqtt/mqtt_bridge.h"

#include <vector>

#include "actions/actions.h"
#include "actions/command_processor.h"
#include "actions/password_check.h"
#include "core/log.h"
#include "core/log_text.h"
#include "devices/devices.h"
#include "fsm/states.h"
#include "temp/temp_sensor.h"

namespace {

std::vector<std::string> Names(const ScriptVector &names) {
  std::vector<std::string> out;
  for (const ScriptVariable &name : names) out.push_back(name.Str());
  return out;
}

std::vector<std::string> SensorNames() {
  std::vector<std::string> names;
  for (const TempSensor *t = TempSensorList().get(); t; t = t->next.get())
    names.insert(names.begin(), t->name.Str());  // the list is newest first
  return names;
}

// Tab, CR and LF are word separators; every other control byte is refused.
bool HasControlBytes(const std::string &text) {
  for (unsigned char c : text)
    if ((c < 0x20 && c != '\t' && c != '\r' && c != '\n') || c == 0x7f)
      return true;
  return false;
}

bool HasPrefix(const std::string &text, const std::string &prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// The NAME of PREFIX/NAME/set, or "" when topic has another form.
std::string NameBeforeSet(const std::string &topic, const std::string &prefix) {
  const std::string suffix = "/set";
  if (!HasPrefix(topic, prefix) ||
      topic.size() <= prefix.size() + suffix.size() ||
      topic.compare(topic.size() - suffix.size(), suffix.size(), suffix) != 0)
    return "";
  return topic.substr(prefix.size(),
                      topic.size() - prefix.size() - suffix.size());
}

}  // namespace

std::string LoggableText(const std::string &text) {
  std::string safe =
      LogSafe(ScriptVariable(text.substr(0, kMqttLoggedBytes))).Str();
  return text.size() > kMqttLoggedBytes ? safe + "..." : safe;
}

MqttBridge::MqttBridge(const MqttSettings &settings, MqttLink *link)
    : settings_(settings), link_(link) {
  entities_.inputs = Names(devices_line_names(false));
  entities_.outputs = Names(devices_line_names(true));
  entities_.sensors = SensorNames();
  if (settings_.discovery) configs_ = DiscoveryConfigs(settings_, entities_);
}

void MqttBridge::Connected() {
  connected_ = true;
  published_.clear();
  const std::string &p = settings_.prefix;
  link_->Subscribe(p + "/command");
  if (!settings_.panels.empty()) link_->Subscribe(p + "/panel/+/set");
  if (!entities_.outputs.empty()) link_->Subscribe(p + "/line/+/set");
  link_->Publish(p + "/status", "online", true);
  for (const auto &[topic, payload] : configs_)
    link_->Publish(topic, payload, true);
  // Retained configs of entities no longer configured (all of them with
  // discovery off) arrive here and are cleared.
  link_->Subscribe(DiscoveryNodeFilter(settings_));
  Refresh();
}

void MqttBridge::Disconnected() { connected_ = false; }

std::map<std::string, std::string> MqttBridge::CurrentValues() {
  std::map<std::string, std::string> values;
  const std::string &p = settings_.prefix;
  StatesSet &states = CurrentStates();
  for (int i = states.First(); i >= 0; i = states.Next(i)) {
    if (states.ValueAt(i).IsEmpty()) continue;
    values[p + "/state/" + MachineTopicName(states.KeyAt(i).Str())] =
        states.ValueAt(i).Str();
  }
  for (const MqttPanel &panel : settings_.panels) {
    std::string state = states.Get(ScriptVariable(panel.machine)).Str();
    if (state.empty()) continue;
    auto mapped = panel.states.find(state);
    if (mapped == panel.states.end()) {
      if (unmapped_logged_.insert(panel.topic_name + "." + state).second)
        LogMessage("MQTT: panel ``%s'' has no Home Assistant state for ``%s''",
                   panel.topic_name.c_str(), state.c_str());
      continue;
    }
    values[p + "/panel/" + panel.topic_name + "/state"] = mapped->second;
  }
  for (const auto *names : {&entities_.inputs, &entities_.outputs}) {
    for (const std::string &line : *names) {
      int level = device_line_state(ScriptVariable(line));
      // An unreadable board keeps the last value on the broker.
      if (level >= 0) values[p + "/line/" + line] = level ? "ON" : "OFF";
    }
  }
  for (const TempSensor *t = TempSensorList().get(); t; t = t->next.get())
    if (t->last_t != kNoTemperature)
      values[p + "/temp/" + t->name.Str()] = std::to_string(t->last_t);
  return values;
}

void MqttBridge::Refresh() {
  if (!connected_) return;
  for (const auto &[topic, payload] : CurrentValues())
    PublishRetained(topic, payload);
}

void MqttBridge::PublishRetained(const std::string &topic,
                                 const std::string &payload) {
  auto old = published_.find(topic);
  if (old != published_.end() && old->second == payload) return;
  published_[topic] = payload;
  link_->Publish(topic, payload, true);
}

void MqttBridge::EventProcessed(const std::string &line) {
  if (connected_) link_->Publish(settings_.prefix + "/event", line, false);
}

void MqttBridge::Received(const std::string &topic, const std::string &payload,
                          bool retained) {
  const std::string &p = settings_.prefix;
  if (HasPrefix(topic, settings_.discovery_prefix + "/") &&
      topic.find("/" + DiscoveryId(settings_.client_id) + "/") !=
          std::string::npos) {
    DiscoveryLeftOver(topic, payload);
    return;
  }
  if (retained) {
    LogMessage("MQTT: retained message on ``%s'' ignored",
               LoggableText(topic).c_str());
    return;
  }
  if (payload.size() > kMqttMaxPayload) {
    LogMessage("MQTT: message of %zu bytes on ``%s'' dropped (limit %zu)",
               payload.size(), LoggableText(topic).c_str(), kMqttMaxPayload);
    return;
  }
  if (HasControlBytes(payload)) {
    LogMessage("MQTT: message on ``%s'' with control bytes dropped: %s",
               LoggableText(topic).c_str(), LoggableText(payload).c_str());
    return;
  }
  if (topic == p + "/command") {
    RunCommand(payload, settings_.trusted);
  } else if (const MqttPanel *panel = PanelOfTopic(topic)) {
    PanelAction(*panel, payload);
  } else {
    std::string line = NameBeforeSet(topic, p + "/line/");
    if (!line.empty()) SwitchLine(line, payload);
  }
}

const MqttPanel *MqttBridge::PanelOfTopic(const std::string &topic) const {
  std::string name = NameBeforeSet(topic, settings_.prefix + "/panel/");
  for (const MqttPanel &panel : settings_.panels)
    if (!name.empty() && panel.topic_name == name) return &panel;
  return nullptr;
}

void MqttBridge::RunCommand(const std::string &line, bool trusted) {
  ScriptVariable response;
  int code =
      ProcessCommand(trusted ? "trusted" : "", ScriptVariable(line), response);
  // As on the console: nothing goes back when the line ended untrusted.
  if (code != 0 && connected_)
    link_->Publish(settings_.prefix + "/response", response.Str(), false);
}

void MqttBridge::PanelAction(const MqttPanel &panel,
                             const std::string &payload) {
  ScriptVector words = SplitWords(ScriptVariable(payload));
  std::string action =
      words.empty() ? "" : ScriptVariable(words[0]).Toupper().Str();
  auto command = panel.commands.find(action);
  if (command == panel.commands.end()) {
    LogMessage("MQTT: panel ``%s'' has no command for ``%s''",
               panel.topic_name.c_str(), LoggableText(action).c_str());
    return;
  }
  if (panel.code) {
    // The code is everything after the action and its blank.
    size_t start = payload.find_first_not_of(" \t\r\n");
    size_t blank = payload.find_first_of(" \t\r\n", start);
    std::string code =
        blank == std::string::npos ? "" : payload.substr(blank + 1);
    if (!CheckPassword("", ScriptVariable(code))) {
      LogMessage("MQTT: wrong code for panel ``%s'', %s refused",
                 panel.topic_name.c_str(), action.c_str());
      // The panel shows the unchanged state again rather than "arming".
      published_.erase(settings_.prefix + "/panel/" + panel.topic_name +
                       "/state");
      Refresh();
      return;
    }
  }
  LogMessage("MQTT: panel ``%s'' %s", panel.topic_name.c_str(), action.c_str());
  RunCommand(command->second, panel.code || settings_.trusted);
}

void MqttBridge::SwitchLine(const std::string &line,
                            const std::string &payload) {
  bool known = false;
  for (const std::string &name : entities_.outputs)
    known = known || name == line;
  ScriptVariable value(payload);
  value.Trim().Toupper();
  if (!known || (value != "ON" && value != "OFF")) {
    LogMessage("MQTT: ``%s'' for line ``%s'' ignored",
               LoggableText(payload).c_str(), LoggableText(line).c_str());
    return;
  }
  DoAction(ScriptVariable(value == "ON" ? "@LN+ " : "@LN- ") +
           ScriptVariable(line));
}

void MqttBridge::DiscoveryLeftOver(const std::string &topic,
                                   const std::string &payload) {
  if (payload.empty() || configs_.count(topic)) return;
  LogMessage("MQTT: clearing the discovery config ``%s''",
             LoggableText(topic).c_str());
  link_->Publish(topic, "", true);
}
