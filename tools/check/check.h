// hovantra-check: reads a configuration file as the daemon does and
// reports what the daemon would find only at run time, or never.
//
// Each Check* function covers one group of sections; they share the index
// of the file, the findings and the names the whole file defines.  The
// configuration is the daemon's own global document (config/configuration.h)
// so that the checks read values through the daemon's accessors.
#ifndef HOVANTRA_TOOLS_CHECK_CHECK_H
#define HOVANTRA_TOOLS_CHECK_CHECK_H

#include <cstdio>
#include <map>
#include <set>
#include <string>

#include "tools/check/config_index.h"
#include "tools/check/findings.h"
#include "tools/check/log_capture.h"

struct CheckContext {
  const ConfigIndex &index;
  Findings &findings;
  LogCapture &log;
  // Full names of the states that have a section.
  std::set<std::string> state_sections;
  // Full names of every state the file names anywhere.
  std::set<std::string> named_states;
  // Line names of the device sections, with the line that defines them.
  std::map<std::string, int> outputs;
  std::map<std::string, int> inputs;
  bool notifications_used = false;

  // The value as the daemon reads it ("" when missing).
  std::string Value(const ConfigIndex::Section &s,
                    const std::string &key) const;
  int Line(const ConfigIndex::Section &s, const std::string &key) const;
  // "type name key" as findings name a key ("console greeting" for the
  // single-instance sections).
  static std::string Where(const ConfigIndex::Section &s,
                           const std::string &key);
};

// Section types and keys: unknown ones, with the nearest known name.
void CheckKeys(CheckContext &c);
// general, console, webserver and sms values; the two ports.
void CheckSettings(CheckContext &c);
// States, events, transitions, notifications, commands and variables.
void CheckMachines(CheckContext &c);
// Boards, their lines, 1-Wire sensors and watermarks; lines named in
// actions and templates.
void CheckHardware(CheckContext &c);
// Web pages and the %html:NAME% fragments they use.
void CheckWebPages(CheckContext &c);
// Alarm panels and line classes shown over MQTT.
void CheckMqtt(CheckContext &c);

// Loads path, runs every check and prints the findings to out; the exit
// status (0 clean, 1 errors, 2 warnings only).
int CheckConfigurationFile(const std::string &path, FILE *out);

#endif
