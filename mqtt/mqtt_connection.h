// MqttConnection: libmosquitto driven by the daemon's one event loop.
//
// The library's socket is a descriptor handler (read, and write while the
// library has output queued); its keep-alive step runs on a one-second
// timer; connecting uses the library's non-blocking connect, and a failed
// or lost connection is tried again on a timer whose delay doubles from 1 s
// to 60 s.  The socket is a new one after each reconnection, so the handler
// follows mosquitto_socket() after every library call.  No library thread
// is started and nothing blocks, except the name lookup of a broker given
// by name (an address does not need one).  The library is called through
// the table LoadMosquittoLibrary gives.
#ifndef HOVANTRA_MQTT_MQTT_CONNECTION_H
#define HOVANTRA_MQTT_MQTT_CONNECTION_H

#include <string>

#include "core/event_selector.h"
#include "mqtt/mqtt_bridge.h"
#include "mqtt/mqtt_settings.h"

struct MosquittoLibrary;
struct mosquitto;
struct mosquitto_message;

class MqttConnection : public MqttLink {
 public:
  // Sets up the client (login, TLS, the will on P/status) with lib, which
  // must outlive it; nothing connects before Start.
  MqttConnection(OVKEventSelector *selector, const MqttSettings &settings,
                 const MosquittoLibrary &lib);
  ~MqttConnection() override;
  MqttConnection(const MqttConnection &) = delete;
  MqttConnection &operator=(const MqttConnection &) = delete;

  // The bridge hears of connections, losses and messages.
  void SetBridge(MqttBridge *bridge) { bridge_ = bridge; }
  // The first attempt, at once.
  void Start();

  void Publish(const std::string &topic, const std::string &payload,
               bool retain) override;
  void Subscribe(const std::string &filter) override;

  // The delay before the next attempt after the given number of failed
  // ones in a row: 1, 2, 4, ... 60 seconds.
  static int BackoffSeconds(int failures);

 private:
  class SocketWatch;
  class MiscTimer;
  class RetryTimer;

  void Attempt();
  // Follows the library's socket; notices a connection that ended.
  void SyncSocket();
  void Ended();
  void HandleSocket(bool readable, bool writable);
  bool WantWrite() const;
  void Misc();

  static void OnConnect(struct mosquitto *, void *self, int rc);
  static void OnDisconnect(struct mosquitto *, void *self, int rc);
  static void OnMessage(struct mosquitto *, void *self,
                        const struct mosquitto_message *message);

  OVKEventSelector *selector_;
  const MosquittoLibrary &lib_;
  MqttSettings settings_;
  MqttBridge *bridge_ = nullptr;
  struct mosquitto *mosq_ = nullptr;
  SocketWatch *watch_;
  MiscTimer *misc_;
  RetryTimer *retry_;
  bool watching_ = false;
  bool misc_armed_ = false;
  bool retry_armed_ = false;
  bool connected_ = false;  // CONNACK accepted, socket still open
  int failures_ = 0;        // attempts in a row that did not connect
  std::string reason_;      // why the last connection ended
};

#endif
