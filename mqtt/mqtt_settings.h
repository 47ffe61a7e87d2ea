// The `mqtt` section (the first of its type): the broker, the topic
// prefixes, trust, and what is shown to Home Assistant.  No section or no
// host means no client at all.
#ifndef HOVANTRA_MQTT_MQTT_SETTINGS_H
#define HOVANTRA_MQTT_MQTT_SETTINGS_H

#include <map>
#include <string>
#include <vector>

#include "util/script_variable.h"

// One machine shown as an alarm panel.  The default machine (the one
// without a name) is written "default" in `panel` and in the qualifiers.
struct MqttPanel {
  std::string machine;     // "" for the default machine
  std::string topic_name;  // "default" for it, else the machine name
  std::map<std::string, std::string> states;    // machine state -> HA state
  std::map<std::string, std::string> commands;  // ACTION (upper case) -> line
  bool code = false;
};

struct MqttSettings {
  std::string host;  // empty: no client
  int port = 1883;
  std::string client_id;
  std::string user, password;  // user empty: no login
  std::string cafile;          // empty: plain TCP
  int keepalive = 60;
  std::string prefix;  // P, without a trailing slash
  bool trusted = false;
  std::vector<MqttPanel> panels;
  std::map<std::string, std::string> classes;  // input line -> device class
  bool discovery = true;
  std::string discovery_prefix = "homeassistant";
  std::string system_name;
};

// Reads the section; faulty values are logged ("conf. error ...") and the
// default taken.
MqttSettings ReadMqttSettings();

// The panel of one word of `panel`, with its qualified keys; faulty pairs
// are logged and skipped.
MqttPanel ReadMqttPanel(const std::string &word);

// "a:b c:d+e" -> {a: b, c: "d e"}; a word without a colon or with an empty
// side is logged with the key's name and skipped.
std::map<std::string, std::string> ParsePairs(const ScriptVariable &value,
                                              const char *key);

// The machine's name in topics: "default" for the default machine.
std::string MachineTopicName(const std::string &machine);

#endif
