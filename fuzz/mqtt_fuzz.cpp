// One MQTT message through the client's payload path, to a client that
// runs commands untrusted and to one that runs them trusted: the command
// topic, panel actions with and without a code, line switches, stale
// discovery configs and topics of any other form.  The first byte picks
// the topic and the retain flag; the rest up to the first newline names
// the panel, line or topic, and what follows is the payload.
#include <unistd.h>

#include <cstring>
#include <string>

#include "actions/actions.h"
#include "config/configuration.h"
#include "config/state_file.h"
#include "core/event_selector.h"
#include "core/event_sink.h"
#include "core/log.h"
#include "daemon/system_variables.h"
#include "devices/lamp_blinker.h"
#include "fsm/events.h"
#include "fsm/state_machines.h"
#include "fsm/states.h"
#include "fuzz/fuzz_support.h"
#include "mqtt/mqtt_bridge.h"
#include "subst/substitution.h"

namespace {

const char kConfig[] =
    "[general]\n"
    "name = fuzzbox\n"
    "password = gpass\n"
    "defaultstate = security.idle heat.eco\n"
    "[command arm]\n"
    "args = 1\n"
    "event = arm%1%\n"
    "response = armed %state%\n"
    "[command disarm]\n"
    "event = disarm\n"
    "[command eco]\n"
    "unpriv = yes\n"
    "event = eco\n"
    "response = %stateof:heat%\n"
    "[command lamp]\n"
    "args = 1\n"
    "action = @LN+ %1%\n"
    "[event arm]\n"
    "fsm = security\n"
    "transit = security.idle -> security.armed\n"
    "[event disarm]\n"
    "fsm = security\n"
    "transit = security.* -> security.idle\n"
    "subevents = eco\n"
    "[event eco]\n"
    "fsm = heat\n"
    "transit = heat.* -> heat.eco\n"
    "[mqtt]\n"
    "host = 127.0.0.1\n"
    "prefix = p\n"
    "panel = security heat default\n"
    "states:security = idle:disarmed armed:armed_away\n"
    "commands:security = ARM_AWAY:arm DISARM:disarm+&a ARM_NIGHT:arm+night\n"
    "code:security = yes\n"
    "commands:heat = DISARM:eco ARM_HOME:arm\n";

// Checks what the bridge sends: an untrusted client answers only lines
// that logged in, and never on a message it had to drop.
class CheckingLink : public MqttLink {
 public:
  void Publish(const std::string &topic, const std::string &payload,
               bool) override {
    FUZZ_CHECK(!topic.empty());
    if (topic == "p/response") {
      FUZZ_CHECK(may_answer);
      answered = true;
    }
    (void)payload;
  }
  void Subscribe(const std::string &filter) override {
    FUZZ_CHECK(!filter.empty());
  }
  bool may_answer = true;
  bool answered = false;
};

void SetUpOnce() {
  static bool done = false;
  if (done) return;
  done = true;
  const std::string config = ScratchPath("hovantra.ini");
  WriteWholeFile(config, std::string(kConfig));
  OpenLogFile(ScratchPath("hovantra.log").c_str());
  FUZZ_CHECK(LoadConfiguration(config.c_str()));
  SetEventSink(&ProcessEvent);
  RegisterSystemVariables(MainSubstitution());
}

void StartOver(OVKEventSelector *loop) {
  ResetActions();
  ResetStateMachines();
  ResetStateFile();
  const std::string state = ScratchPath("hovantra.state");
  unlink(state.c_str());
  OpenStateFile(state.c_str());
  InitStateMachines(loop);
  SetActionEventLoop(loop);
  if (LogFileNumber() >= 0 && ftruncate(LogFileNumber(), 0) != 0) abort();
  LogResume();
}

bool MayLogIn(const std::string &payload) {
  ScriptVariable lower(payload);
  lower.Tolower();
  return lower.Str().find("&m") != std::string::npos ||
         lower.Str().find("&p") != std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  SetUpOnce();
  if (size == 0) return 0;
  const int form = data[0] & 7;
  const bool retained = data[0] & 8;
  std::string rest(reinterpret_cast<const char *>(data + 1), size - 1);
  size_t newline = rest.find('\n');
  std::string name =
      newline == std::string::npos ? "" : rest.substr(0, newline);
  std::string payload =
      newline == std::string::npos ? rest : rest.substr(newline + 1);
  static const char *const kPanels[] = {"security", "heat", "default"};
  std::string topic;
  switch (form) {
    case 0:
      topic = "p/command";
      break;
    case 1:
      topic =
          "p/panel/" + std::string(kPanels[data[0] >> 4 & 1 ? 1 : 0]) + "/set";
      break;
    case 2:
      topic = "p/panel/" + name + "/set";
      break;
    case 3:
      topic = "p/line/" + name + "/set";
      break;
    case 4:
      topic = "homeassistant/switch/fuzzbox/" + name + "/config";
      break;
    case 5:
      topic = "p/panel/default/set";
      break;
    default:
      topic = name;
      break;
  }
  OVKEventSelector loop;
  for (bool trusted : {false, true}) {
    StartOver(&loop);
    MqttSettings settings = ReadMqttSettings();
    settings.trusted = trusted;
    CheckingLink link;
    MqttBridge bridge(settings, &link);
    bridge.Connected();
    // Untrusted, only a password or the panel's right code gains an answer.
    link.may_answer = !retained && payload.size() <= kMqttMaxPayload &&
                      (trusted || MayLogIn(payload) ||
                       payload.find("gpass") != std::string::npos);
    bridge.Received(topic, payload, retained);
    bridge.EventProcessed(payload);
    bridge.Refresh();
  }
  ResetActions();
  ResetStateMachines();
  lamp_blinker_destroy();
  return 0;
}
