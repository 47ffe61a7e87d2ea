// The configuration, the discovery payloads and the bridge's payload path,
// against a link that records what would go to the broker.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>

#include "config/configuration.h"
#include "core/event_selector.h"
#include "core/log_test_support.h"
#include "core/process_state.h"
#include "fsm/states.h"
#include "mqtt/discovery.h"
#include "mqtt/json_text.h"
#include "mqtt/mosquitto_library.h"
#include "mqtt/mqtt_bridge.h"
#include "mqtt/mqtt_client.h"
#include "mqtt/mqtt_connection.h"
#include "mqtt/mqtt_settings.h"

namespace {

struct Sent {
  std::string topic, payload;
  bool retain;
  bool operator==(const Sent &o) const {
    return topic == o.topic && payload == o.payload && retain == o.retain;
  }
};

class RecordingLink : public MqttLink {
 public:
  void Publish(const std::string &topic, const std::string &payload,
               bool retain) override {
    sent.push_back({topic, payload, retain});
  }
  void Subscribe(const std::string &filter) override {
    filters.push_back(filter);
  }
  // Payloads sent on topic, oldest first.
  std::vector<std::string> On(const std::string &topic) const {
    std::vector<std::string> out;
    for (const Sent &s : sent)
      if (s.topic == topic) out.push_back(s.payload);
    return out;
  }
  std::vector<Sent> sent;
  std::vector<std::string> filters;
};

const char kBase[] =
    "[general]\n"
    "name = box\n"
    "password = 1234\n"
    "[command hello]\n"
    "unpriv = yes\n"
    "response = hi\n"
    "[command secret]\n"
    "response = classified\n";

class MqttTest : public ::testing::Test {
 protected:
  void Configure(const std::string &mqtt) {
    log_.Dir().Write("test.ini", std::string(kBase) + "[mqtt]\n" + mqtt);
    ASSERT_TRUE(LoadConfiguration(log_.Dir().File("test.ini")));
  }
  ~MqttTest() override { ResetProcessState(); }
  TestLog log_;
};

TEST_F(MqttTest, SettingsDefaultsAndPairs) {
  Configure("host = broker\n");
  MqttSettings s = ReadMqttSettings();
  EXPECT_EQ(s.host, "broker");
  EXPECT_EQ(s.port, 1883);
  EXPECT_EQ(s.client_id, "box");
  EXPECT_EQ(s.prefix, "hovantra/box");
  EXPECT_EQ(s.keepalive, 60);
  EXPECT_FALSE(s.trusted);
  EXPECT_TRUE(s.discovery);
  EXPECT_EQ(s.discovery_prefix, "homeassistant");

  Configure(
      "host = broker\nport = 99999\nkeepalive = 2\nprefix = a/b//\n"
      "trusted = YES\ndiscovery = no\npanel = default alarm\n"
      "states:default = idle:disarmed\n"
      "commands:alarm = arm_away:arm+now DISARM:off bad :x y:\n"
      "code:alarm = yes\n");
  s = ReadMqttSettings();
  EXPECT_EQ(s.port, 1883);
  EXPECT_EQ(s.keepalive, 60);
  EXPECT_TRUE(
      log_.Contains("conf. error: mqtt port ``99999'' is not a number "
                    "from 1 to 65535; using 1883"));
  EXPECT_EQ(s.prefix, "a/b");
  EXPECT_TRUE(s.trusted);
  EXPECT_FALSE(s.discovery);
  ASSERT_EQ(s.panels.size(), 2u);
  EXPECT_EQ(s.panels[0].machine, "");
  EXPECT_EQ(s.panels[0].topic_name, "default");
  EXPECT_EQ(s.panels[0].states.at("idle"), "disarmed");
  EXPECT_FALSE(s.panels[0].code);
  EXPECT_EQ(s.panels[1].commands,
            (std::map<std::string, std::string>{{"ARM_AWAY", "arm now"},
                                                {"DISARM", "off"}}));
  EXPECT_TRUE(s.panels[1].code);
  for (const char *word : {"bad", ":x", "y:"})
    EXPECT_TRUE(log_.Contains(std::string("conf. error: mqtt commands: ``") +
                              word + "'' is not a pair name:value"));

  Configure("port = 1884\n");
  EXPECT_EQ(ReadMqttSettings().host, "");
}

TEST_F(MqttTest, WithoutTheLibraryNoClientStarts) {
  Configure("host = 127.0.0.1\n");
  OVKEventSelector selector;
  const char kAbsent[] = "libhovantra-absent.so.1";
  EXPECT_FALSE(StartMqtt(&selector, kAbsent));
  EXPECT_FALSE(StartMqtt(&selector, kAbsent));
  std::vector<std::string> lines = log_.Lines();
  // One line, however often asked, and no attempt to connect.
  ASSERT_EQ(lines.size(), 1u);
  const std::string prefix = std::string("MQTT: cannot load ") + kAbsent + ": ";
  const std::string suffix = "; running without MQTT";
  EXPECT_EQ(lines[0].compare(0, prefix.size(), prefix), 0) << lines[0];
  ASSERT_GT(lines[0].size(), prefix.size() + suffix.size()) << lines[0];
  EXPECT_EQ(lines[0].substr(lines[0].size() - suffix.size()), suffix);
}

TEST_F(MqttTest, WithoutAHostTheLibraryIsNotLoaded) {
  // In a fresh process, as another test of this binary loads the library.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        Configure("port = 1883\n");
        OVKEventSelector selector;
        bool started = StartMqtt(&selector);
        bool loaded = dlopen(kMosquittoLibraryFile, RTLD_NOW | RTLD_NOLOAD);
        std::exit(started || loaded ? 1 : 0);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(MqttLibrary, LoadsEveryFunctionOnce) {
  const MosquittoLibrary *lib = LoadMosquittoLibrary();
  ASSERT_NE(lib, nullptr);
  EXPECT_EQ(LoadMosquittoLibrary(), lib);
  EXPECT_STRNE(lib->strerror(MOSQ_ERR_NOMEM), "");
  EXPECT_STRNE(lib->connack_string(5), "");
  // A client made and freed through the table; no broker is needed.
  struct mosquitto *m = lib->create("hovantra-test", true, nullptr);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(lib->socket(m), -1);
  EXPECT_FALSE(lib->want_write(m));
  EXPECT_EQ(lib->will_set(m, "t/status", 7, "offline", 1, true),
            MOSQ_ERR_SUCCESS);
  EXPECT_EQ(lib->publish(m, nullptr, "t", 1, "x", 0, false), MOSQ_ERR_NO_CONN);
  lib->destroy(m);
}

TEST(MqttJson, EscapesWhatJsonMust) {
  EXPECT_EQ(JsonString("a\"b\\c\n\x01\xc2\xb0"),
            "\"a\\\"b\\\\c\\u000a\\u0001\xc2\xb0\"");
  EXPECT_EQ(JsonObject()
                .Add("k", "v")
                .Add("t", true)
                .AddJson("a", JsonStringArray({}))
                .Text(),
            "{\"k\":\"v\",\"t\":true,\"a\":[]}");
}

TEST(MqttDiscovery, IdsAndFeatures) {
  EXPECT_EQ(DiscoveryId("front door/1.x"), "front_door_1_x");
  EXPECT_EQ(DiscoveryId(""), "_");
  EXPECT_EQ(PanelFeature("ARM_CUSTOM_BYPASS"), "arm_custom_bypass");
  EXPECT_EQ(PanelFeature("DISARM"), "");
  EXPECT_EQ(PanelFeature("OPEN"), "");
  MqttSettings s;
  s.client_id = "my box";
  s.system_name = "house";
  s.prefix = "p";
  MqttPanel panel;
  panel.topic_name = "sec";
  panel.commands = {{"DISARM", "d"}, {"TRIGGER", "t"}, {"ARM_HOME", "h"}};
  s.panels.push_back(panel);
  DiscoveredEntities e;
  e.inputs = {"a\"b"};
  auto configs = DiscoveryConfigs(s, e);
  ASSERT_EQ(configs.size(), 2u);
  const std::string &p =
      configs.at("homeassistant/alarm_control_panel/my_box/sec/config");
  EXPECT_NE(p.find("\"supported_features\":[\"arm_home\",\"trigger\"]"),
            std::string::npos)
      << p;
  EXPECT_NE(p.find("\"unique_id\":\"my_box_panel_sec\""), std::string::npos);
  EXPECT_EQ(p.find("REMOTE_CODE"), std::string::npos);
  const std::string &b =
      configs.at("homeassistant/binary_sensor/my_box/a_b/config");
  EXPECT_NE(b.find("\"state_topic\":\"p/line/a\\\"b\""), std::string::npos)
      << b;
  EXPECT_EQ(DiscoveryNodeFilter(s), "homeassistant/+/my_box/+/config");
}

TEST(MqttBackoff, DoublesUpToAMinute) {
  std::vector<int> delays;
  for (int n = 0; n <= 8; n++)
    delays.push_back(MqttConnection::BackoffSeconds(n));
  EXPECT_EQ(delays, (std::vector<int>{1, 2, 4, 8, 16, 32, 60, 60, 60}));
}

class BridgeTest : public MqttTest {
 protected:
  void Start(const std::string &mqtt) {
    Configure("host = h\nprefix = p\n" + mqtt);
    bridge_.reset(new MqttBridge(ReadMqttSettings(), &link_));
    bridge_->Connected();
  }
  RecordingLink link_;
  std::unique_ptr<MqttBridge> bridge_;
};

TEST_F(BridgeTest, ConnectionSendsEverythingThenOnlyChanges) {
  CurrentStates().Set("", "idle");
  CurrentStates().Set("alarm", "off");
  CurrentStates().Set("empty", "");
  Start(
      "panel = alarm\nstates:alarm = off:disarmed on:armed_away\n"
      "commands:alarm = DISARM:hello\n");
  EXPECT_EQ(link_.filters,
            (std::vector<std::string>{"p/command", "p/panel/+/set",
                                      "homeassistant/+/box/+/config"}));
  EXPECT_EQ(link_.sent.front(), (Sent{"p/status", "online", true}));
  EXPECT_EQ(link_.On("p/state/default"), std::vector<std::string>{"idle"});
  EXPECT_EQ(link_.On("p/state/alarm"), std::vector<std::string>{"off"});
  EXPECT_TRUE(link_.On("p/state/empty").empty());
  EXPECT_EQ(link_.On("p/panel/alarm/state"),
            std::vector<std::string>{"disarmed"});
  EXPECT_EQ(
      link_.On("homeassistant/alarm_control_panel/box/alarm/config").size(),
      1u);

  size_t before = link_.sent.size();
  bridge_->Refresh();
  EXPECT_EQ(link_.sent.size(), before);
  CurrentStates().Set("alarm", "on");
  bridge_->Refresh();
  EXPECT_EQ(link_.On("p/panel/alarm/state"),
            (std::vector<std::string>{"disarmed", "armed_away"}));
  // A state without a Home Assistant state is logged once, not published.
  CurrentStates().Set("alarm", "odd");
  bridge_->Refresh();
  bridge_->Refresh();
  EXPECT_EQ(link_.On("p/panel/alarm/state").size(), 2u);
  EXPECT_EQ(link_.On("p/state/alarm").back(), "odd");
  EXPECT_TRUE(log_.Contains(
      "MQTT: panel ``alarm'' has no Home Assistant state for ``odd''"));

  // Disconnected: nothing goes out; the next connection sends it all.
  bridge_->Disconnected();
  before = link_.sent.size();
  bridge_->Refresh();
  bridge_->EventProcessed("door");
  EXPECT_EQ(link_.sent.size(), before);
  bridge_->Connected();
  EXPECT_EQ(link_.On("p/state/default").size(), 2u);
  bridge_->EventProcessed("door");
  EXPECT_EQ(link_.sent.back(), (Sent{"p/event", "door", false}));
}

TEST_F(BridgeTest, CommandsAnswerOnlyWhenTrusted) {
  Start("");
  bridge_->Received("p/command", "hello", false);
  bridge_->Received("p/command", "secret", false);
  EXPECT_TRUE(link_.On("p/response").empty());
  EXPECT_TRUE(log_.Contains("Rejecting command secret(4:)/-1..."));
  bridge_->Received("p/command", "&m 1234 secret hello", false);
  bridge_->Received("p/command", "&m 999 secret", false);
  EXPECT_EQ(link_.On("p/response"), std::vector<std::string>{"classifiedhi"});

  Start("trusted = yes\n");
  bridge_->Received("p/command", "secret", false);
  EXPECT_EQ(link_.On("p/response").back(), "classified");
}

TEST_F(BridgeTest, PanelCodes) {
  CurrentStates().Set("alarm", "off");
  Start(
      "panel = alarm\nstates:alarm = off:disarmed\n"
      "commands:alarm = ARM_AWAY:secret DISARM:hello\ncode:alarm = yes\n");
  size_t states = link_.On("p/panel/alarm/state").size();
  for (const char *payload :
       {"ARM_AWAY", "ARM_AWAY 12345", "arm_away  1234", "ARM_AWAY 1234 "})
    bridge_->Received("p/panel/alarm/set", payload, false);
  EXPECT_TRUE(link_.On("p/response").empty());
  // Each refusal shows the panel's real state again.
  EXPECT_EQ(link_.On("p/panel/alarm/state").size(), states + 4);
  EXPECT_TRUE(
      log_.Contains("MQTT: wrong code for panel ``alarm'', ARM_AWAY refused"));
  bridge_->Received("p/panel/alarm/set", "arm_away 1234", false);
  EXPECT_EQ(link_.On("p/response"), std::vector<std::string>{"classified"});
  bridge_->Received("p/panel/alarm/set", "ARM_HOME 1234", false);
  EXPECT_TRUE(
      log_.Contains("MQTT: panel ``alarm'' has no command for ``ARM_HOME''"));
  bridge_->Received("p/panel/other/set", "DISARM 1234", false);
  EXPECT_EQ(link_.On("p/response").size(), 1u);

  // Without a code the untrusted caller needs unprivileged commands.
  Start("panel = alarm\ncommands:alarm = ARM_AWAY:secret DISARM:hello\n");
  bridge_->Received("p/panel/alarm/set", "ARM_AWAY", false);
  bridge_->Received("p/panel/alarm/set", "DISARM", false);
  EXPECT_TRUE(link_.On("p/response").size() == 1u);
  EXPECT_TRUE(log_.Contains("Rejecting command secret(4:)/-1..."));
}

TEST_F(BridgeTest, HostilePayloadsAreDropped) {
  Start("trusted = yes\n");
  bridge_->Received("p/command", std::string(kMqttMaxPayload + 1, 'a'), false);
  EXPECT_TRUE(
      log_.Contains("MQTT: message of 4097 bytes on ``p/command'' "
                    "dropped (limit 4096)"));
  bridge_->Received("p/command", std::string("hello\0x", 7), false);
  EXPECT_TRUE(
      log_.Contains("MQTT: message on ``p/command'' with control bytes "
                    "dropped: hello\\x00x"));
  bridge_->Received("p/command", std::string(300, '\x01'), false);
  std::string escaped;
  for (size_t i = 0; i < kMqttLoggedBytes; i++) escaped += "\\x01";
  EXPECT_TRUE(
      log_.Contains("MQTT: message on ``p/command'' with control bytes "
                    "dropped: " +
                    escaped + "..."));
  bridge_->Received("p/command", "hello", true);
  EXPECT_TRUE(log_.Contains("MQTT: retained message on ``p/command'' ignored"));
  bridge_->Received("p/line/none/set", "ON", false);
  EXPECT_TRUE(log_.Contains("MQTT: ``ON'' for line ``none'' ignored"));
  bridge_->Received("p/command\x1b", "hello", false);
  bridge_->Received("p/line//set", "ON", false);
  EXPECT_TRUE(link_.On("p/response").empty());
  // A full-size line still runs.
  bridge_->Received("p/command",
                    "hello" + std::string(kMqttMaxPayload - 5, ' '), false);
  EXPECT_EQ(link_.On("p/response"), std::vector<std::string>{"hi"});
}

TEST_F(BridgeTest, LeftOverDiscoveryConfigsAreCleared) {
  Start("panel = alarm\n");
  const std::string mine = "homeassistant/alarm_control_panel/box/alarm/config";
  const std::string old = "homeassistant/switch/box/pump/config";
  size_t before = link_.sent.size();
  bridge_->Received(mine, "{}", true);
  bridge_->Received(old, "", true);
  EXPECT_EQ(link_.sent.size(), before);
  bridge_->Received(old, "{\"name\":\"pump\"}", true);
  EXPECT_EQ(link_.sent.back(), (Sent{old, "", true}));
  EXPECT_TRUE(
      log_.Contains("MQTT: clearing the discovery config ``" + old + "''"));
}

}  // namespace
