#include "mqtt/mqtt_client.h"

#include "core/event_selector.h"
#include "fsm/events.h"
#include "mqtt/mqtt_bridge.h"
#include "mqtt/mqtt_connection.h"

namespace {

// Compares what is published with what is current: once a second, and at
// the next pass after an event, which may have changed states and lines.
class RefreshTimer : public OVKTimeoutHandler {
 public:
  RefreshTimer(OVKEventSelector *selector, MqttBridge *bridge)
      : selector_(selector), bridge_(bridge) {
    Arm(1);
  }
  void TimeoutHandle() override {
    bridge_->Refresh();
    Arm(1);
  }
  void Soon() {
    if (soon_) return;
    selector_->RemoveTimeout(this);
    Arm(0);
    soon_ = true;
  }

 private:
  void Arm(long sec) {
    soon_ = false;
    SetFromNow(sec, 0);
    selector_->RegisterTimeout(this);
  }
  OVKEventSelector *selector_;
  MqttBridge *bridge_;
  bool soon_ = false;
};

MqttBridge *the_bridge = nullptr;
RefreshTimer *the_timer = nullptr;

void EventProcessed(const ScriptVariable &line) {
  the_bridge->EventProcessed(line.Str());
  the_timer->Soon();
}

}  // namespace

bool StartMqtt(OVKEventSelector *selector, const char *library) {
  MqttSettings settings = ReadMqttSettings();
  if (settings.host.empty()) return false;
  const MosquittoLibrary *lib = LoadMosquittoLibrary(library);
  if (!lib) return false;
  // Live until the process ends, like the servers.
  auto *connection = new MqttConnection(selector, settings, *lib);
  the_bridge = new MqttBridge(settings, connection);
  connection->SetBridge(the_bridge);
  the_timer = new RefreshTimer(selector, the_bridge);
  SetEventObserver(EventProcessed);
  connection->Start();
  return true;
}
