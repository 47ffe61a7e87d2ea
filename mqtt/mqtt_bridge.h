// MqttBridge: what hovantra says on MQTT and what it does with what it
// hears, independent of the connection that carries it.
//
// Published under the prefix P (retained unless said otherwise):
//   P/status               "online" (the connection's will is "offline")
//   P/state/MACHINE        the machine's state, as %stateof:MACHINE% gives it
//   P/panel/MACHINE/state  the panel's Home Assistant state
//   P/line/NAME            "ON"/"OFF"; an input is ON while its contact is
//                          closed
//   P/temp/NAME            whole degrees
//   P/event                each processed event line (not retained)
//   P/response             a command's response (not retained)
// Heard:
//   P/command              a command line for the command processor
//   P/panel/MACHINE/set    "ACTION" or "ACTION CODE"
//   P/line/NAME/set        "ON"/"OFF" for a named output line
//
// Retained values are compared with what was last published on this
// connection, so only changes go out; a new connection starts with nothing
// published and so sends everything again.
#ifndef HOVANTRA_MQTT_MQTT_BRIDGE_H
#define HOVANTRA_MQTT_MQTT_BRIDGE_H

#include <map>
#include <set>
#include <string>

#include "mqtt/discovery.h"
#include "mqtt/mqtt_settings.h"

// The connection as the bridge sees it.
class MqttLink {
 public:
  virtual ~MqttLink() = default;
  virtual void Publish(const std::string &topic, const std::string &payload,
                       bool retain) = 0;
  virtual void Subscribe(const std::string &filter) = 0;
};

// Larger payloads on the heard topics are dropped (with a log line), like
// an over-long console line.
const size_t kMqttMaxPayload = 4096;

class MqttBridge {
 public:
  MqttBridge(const MqttSettings &settings, MqttLink *link);

  // A connection is up: subscribe, say "online", publish discovery and
  // every retained value.  This client's discovery configs that the broker
  // still holds but the configuration no longer names are cleared.
  void Connected();
  void Disconnected();
  bool IsConnected() const { return connected_; }

  // Publishes the retained values that differ from what was sent.
  void Refresh();
  void EventProcessed(const std::string &line);
  // One received message: the payload path from the network.  A retained
  // command would run again at every connection, so it is dropped.
  void Received(const std::string &topic, const std::string &payload,
                bool retained);

  // Topic -> payload of every retained value as it is now (status and
  // discovery aside).
  std::map<std::string, std::string> CurrentValues();

 private:
  void PublishRetained(const std::string &topic, const std::string &payload);
  void RunCommand(const std::string &line, bool trusted);
  void PanelAction(const MqttPanel &panel, const std::string &payload);
  void SwitchLine(const std::string &line, const std::string &payload);
  void DiscoveryLeftOver(const std::string &topic, const std::string &payload);
  const MqttPanel *PanelOfTopic(const std::string &topic) const;

  MqttSettings settings_;
  MqttLink *link_;
  DiscoveredEntities entities_;
  std::map<std::string, std::string> configs_;
  bool connected_ = false;
  std::map<std::string, std::string> published_;
  std::set<std::string> unmapped_logged_;
};

// What the network sent as a log line quotes it: LogSafe, and cut after
// kMqttLoggedBytes bytes with "..." so a hostile message cannot fill the log.
const size_t kMqttLoggedBytes = 200;
std::string LoggableText(const std::string &text);

#endif
