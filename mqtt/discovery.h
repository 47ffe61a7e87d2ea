// Home Assistant discovery: the retained configuration payloads that make
// the panels, lines and sensors appear without any YAML.
//
//   D/alarm_control_panel/NODE/MACHINE/config   per panel
//   D/binary_sensor/NODE/LINE/config            per named input line
//   D/switch/NODE/LINE/config                   per named output line
//   D/sensor/NODE/SENSOR/config                 per temperature sensor
//
// NODE is the client id and the last topic level the entity's name, both
// with every byte other than letters, digits, '_' and '-' made '_' (the
// only bytes discovery accepts there).  The unique ids are built from the
// same two parts, so they stay the same across restarts.
#ifndef HOVANTRA_MQTT_DISCOVERY_H
#define HOVANTRA_MQTT_DISCOVERY_H

#include <map>
#include <string>
#include <vector>

#include "mqtt/mqtt_settings.h"

struct DiscoveredEntities {
  std::vector<std::string> inputs, outputs, sensors;
};

std::string DiscoveryId(const std::string &name);

// Config topic -> JSON payload for every entity.
std::map<std::string, std::string> DiscoveryConfigs(
    const MqttSettings &settings, const DiscoveredEntities &entities);

// The subscription that finds this node's config topics left on the broker
// by an earlier run.
std::string DiscoveryNodeFilter(const MqttSettings &settings);

// Home Assistant's feature name of a panel action ("ARM_AWAY" ->
// "arm_away"); empty for DISARM and for unknown actions.
std::string PanelFeature(const std::string &action);
bool IsPanelAction(const std::string &action);

#endif
