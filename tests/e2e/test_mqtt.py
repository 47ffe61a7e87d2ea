"""MQTT with Debian's broker and its clients: retained states, panels,
lines and temperatures, commands and their responses, panel actions with
and without a code, discovery as Home Assistant reads it, the will on a
killed daemon, broker outages, and hostile payloads."""
import json
import os
import signal
import subprocess
import time
import unittest

from broker import Broker
from harness import Daemon, finish, longest_poll_gap, polls_kept_pace, wait_for

P = "hovantra/testbox"
D = "homeassistant"

CONFIG = """[general]
name = testbox
log = {dir}/hovantra.log
state = {dir}/hovantra.state
defaultstate = idle security.disarmed heat.eco
watchdog = 0
password = 1234
[console]
port = {console_port}
trusted = 127.0.0.1
[webserver]
port = {web_port}
[device a7]
input:0 = door
input:1 = window
input_on:0 = door_open
output:1 = siren
[device 2]
onewire = yes
[temp_sensor living]
id = A100000000000028
[event arm]
fsm = security
transit = security.disarmed -> security.armed
[event armnight]
fsm = security
transit = security.disarmed -> security.night
[event disarm]
fsm = security
transit = security.* -> security.disarmed
[event comfort]
fsm = heat
transit = heat.eco -> heat.comfort
[event eco]
fsm = heat
transit = heat.* -> heat.eco
[command arm]
args = 1
event = arm%1%
response = armed
[command disarm]
event = disarm
response = disarmed
[command comfort]
unpriv = yes
event = comfort
response = warm now
[command eco]
unpriv = yes
event = eco
[command status]
unpriv = yes
response = %stateof:security%
[mqtt]
host = 127.0.0.1
port = {mqtt_port}
keepalive = 5
panel = security heat
states:security = disarmed:disarmed armed:armed_away night:armed_night
commands:security = ARM_AWAY:arm DISARM:disarm ARM_NIGHT:arm+night
code:security = yes
states:heat = eco:disarmed comfort:armed_home
commands:heat = ARM_HOME:comfort DISARM:eco
class:door = door
"""


def config(broker, extra=""):
    return CONFIG.replace("{mqtt_port}", str(broker.port)) + extra


class MqttCase(unittest.TestCase):
    def setUp(self):
        self.broker = Broker().start()
        self.d = None

    def tearDown(self):
        try:
            if self.d:
                finish(self.d)
        finally:
            self.broker.cleanup()

    def start(self, extra=""):
        self.d = Daemon(config(self.broker, extra))
        self.d.board("add", "house", "1:1:a7")
        self.d.board("add", "heat", "1:2:2")
        self.d.board("temp", "heat", "28000000000000A1", 21)
        self.d.start()
        self.d.wait_log("MQTT: connected to 127.0.0.1:%d" % self.broker.port)
        return self.d


class Topics(MqttCase):
    def test_retained_values_follow_the_daemon(self):
        d, b = self.start(), self.broker
        b.wait_retained(P + "/status", "online")
        b.wait_retained(P + "/state/default", "idle")
        b.wait_retained(P + "/state/security", "disarmed")
        b.wait_retained(P + "/state/heat", "eco")
        b.wait_retained(P + "/panel/security/state", "disarmed")
        b.wait_retained(P + "/panel/heat/state", "disarmed")
        b.wait_retained(P + "/line/door", "OFF")
        b.wait_retained(P + "/line/window", "OFF")
        b.wait_retained(P + "/line/siren", "OFF")
        b.wait_retained(P + "/temp/living", "21")

        sub = b.subscribe(P + "/#")
        d.board("close", "house", 0)   # raises door_open
        d.board("close", "house", 1)   # no event: seen by the refresh
        d.board("temp", "heat", "28000000000000A1", 25)
        sub.wait(P + "/line/door", "ON")
        sub.wait(P + "/line/window", "ON")
        sub.wait(P + "/temp/living", "25")
        messages = sub.wait(P + "/event", "door_open")
        # Each value goes out once per change; events are not retained.
        self.assertEqual([p for _, t, p in messages if t == P + "/line/door"],
                         [b"OFF", b"ON"])
        b.wait_retained(P + "/line/door", "ON")
        self.assertIsNone(b.retained(P + "/event"))

        # A change from the console shows on the state and panel topics.
        c = d.console()
        self.assertEqual(c.command("comfort"), "warm now\n")
        c.close()
        b.wait_retained(P + "/state/heat", "comfort")
        b.wait_retained(P + "/panel/heat/state", "armed_home")

    def test_commands_and_their_responses(self):
        d, b = self.start(), self.broker
        sub = b.subscribe(P + "/response")
        # Untrusted: a privileged command is refused and nothing answers.
        b.publish(P + "/command", "arm")
        d.wait_log("Rejecting command arm(3:arm%1%)/1...")
        # An unprivileged one runs, but the line ended untrusted: no answer,
        # as on an untrusted console.
        b.publish(P + "/command", "comfort")
        b.wait_retained(P + "/state/heat", "comfort")
        # With the general password the line is trusted and answered.
        b.publish(P + "/command", "&m 1234 &a arm")
        sub.wait(P + "/response", "armed")
        b.wait_retained(P + "/state/security", "armed")
        b.publish(P + "/command", "&m 1234 status nosuch")
        sub.wait(P + "/response", "armedUnknown cmd nosuch\n")
        self.assertEqual([p for _, t, p in sub.messages() if t == P + "/response"],
                         [b"armed", b"armedUnknown cmd nosuch\n"])
        # A wrong password leaves the line untrusted.
        b.publish(P + "/command", "&m 9999 disarm")
        d.wait_log("Rejecting command disarm(3:disarm)/-1...")
        self.assertEqual(b.retained(P + "/state/security"), b"armed")

    def test_trusted_commands(self):
        d, b = self.start("trusted = yes\n"), self.broker
        sub = b.subscribe(P + "/response")
        b.publish(P + "/command", "arm")
        sub.wait(P + "/response", "armed")
        b.wait_retained(P + "/state/security", "armed")

    def test_panel_actions_with_and_without_a_code(self):
        d, b = self.start(), self.broker
        b.wait_retained(P + "/panel/security/state", "disarmed")
        for payload in ("ARM_AWAY 9999", "ARM_AWAY", "ARM_AWAY  1234"):
            b.publish(P + "/panel/security/set", payload)
        d.wait_log("MQTT: wrong code for panel ``security'', ARM_AWAY refused", count=3)
        self.assertEqual(b.retained(P + "/state/security"), b"disarmed")

        b.publish(P + "/panel/security/set", "ARM_NIGHT 1234")
        b.wait_retained(P + "/panel/security/state", "armed_night")
        b.wait_retained(P + "/state/security", "night")
        b.publish(P + "/panel/security/set", "DISARM 1234")
        b.wait_retained(P + "/panel/security/state", "disarmed")
        b.publish(P + "/panel/security/set", "ARM_VACATION 1234")
        d.wait_log("MQTT: panel ``security'' has no command for ``ARM_VACATION''")

        # The heating panel asks for no code; its commands are unprivileged.
        b.publish(P + "/panel/heat/set", "ARM_HOME")
        b.wait_retained(P + "/panel/heat/state", "armed_home")
        b.publish(P + "/panel/heat/set", "DISARM")
        b.wait_retained(P + "/panel/heat/state", "disarmed")

    def test_switching_an_output_line(self):
        d, b = self.start(), self.broker
        b.publish(P + "/line/siren/set", "ON")
        b.wait_retained(P + "/line/siren", "ON")
        self.assertEqual(d.board("outputs", "house").split()[1], "1:on")
        b.publish(P + "/line/siren/set", "OFF")
        b.wait_retained(P + "/line/siren", "OFF")
        # Inputs and unknown lines cannot be switched.
        b.publish(P + "/line/door/set", "ON")
        d.wait_log("MQTT: ``ON'' for line ``door'' ignored")
        b.publish(P + "/line/siren/set", "maybe")
        d.wait_log("MQTT: ``maybe'' for line ``siren'' ignored")
        self.assertEqual(b.retained(P + "/line/siren"), b"OFF")

    def test_hostile_payloads_are_dropped(self):
        b = self.broker
        # A retained command would run again at each connection.
        b.publish(P + "/command", "arm", retain=True)
        d = self.start("trusted = yes\n")
        d.wait_log("MQTT: retained message on ``%s/command'' ignored" % P)
        b.publish(P + "/command", "", retain=True)
        b.publish(P + "/command", "x" * 5000)
        d.wait_log("MQTT: message of 5000 bytes on ``%s/command'' dropped (limit 4096)" % P)
        b.publish(P + "/command", "arm\x01\x7f")
        d.wait_log("MQTT: message on ``%s/command'' with control bytes dropped: arm\\x01\\x7f" % P)
        b.publish(P + "/panel/nosuch/set", "DISARM")
        b.publish(P + "/panel/security/set", "")
        d.wait_log("MQTT: panel ``security'' has no command for ``''")
        self.assertEqual(b.retained(P + "/state/security"), b"disarmed")
        # Still serving.
        b.publish(P + "/command", "status")
        b.wait_retained(P + "/status", "online")
        self.assertIsNone(d.process.poll())


class Discovery(MqttCase):
    def config_of(self, component, name):
        text = self.broker.retained("%s/%s/testbox/%s/config" % (D, component, name))
        self.assertIsNotNone(text, (component, name))
        return json.loads(text.decode())

    def test_discovery_payloads(self):
        b = self.broker
        # Left over from an earlier configuration: cleared at the start.
        old = "%s/binary_sensor/testbox/garage/config" % D
        b.publish(old, '{"name":"garage"}', retain=True)
        other = "%s/binary_sensor/otherbox/garage/config" % D
        b.publish(other, '{"name":"garage"}', retain=True)
        self.start()
        wait_for(lambda: b.retained(old) is None, what="the old config cleared")
        self.assertEqual(b.retained(other), b'{"name":"garage"}')

        device = {"identifiers": ["hovantra_testbox"], "name": "testbox",
                  "model": "hovantra", "sw_version": "1.65"}
        common = {"availability_topic": P + "/status", "payload_available": "online",
                  "payload_not_available": "offline", "device": device}
        panel = self.config_of("alarm_control_panel", "security")
        self.assertEqual(panel, dict(common, **{
            "name": "security", "unique_id": "testbox_panel_security",
            "state_topic": P + "/panel/security/state",
            "command_topic": P + "/panel/security/set",
            "supported_features": ["arm_away", "arm_night"],
            "code": "REMOTE_CODE", "code_arm_required": True,
            "code_disarm_required": True, "code_trigger_required": True,
            "command_template": "{{ action }} {{ code }}"}))
        heat = self.config_of("alarm_control_panel", "heat")
        self.assertEqual(heat["supported_features"], ["arm_home"])
        self.assertNotIn("code", heat)
        self.assertNotIn("command_template", heat)
        self.assertFalse(heat["code_arm_required"])

        door = self.config_of("binary_sensor", "door")
        self.assertEqual(door, dict(common, **{
            "name": "door", "unique_id": "testbox_input_door",
            "state_topic": P + "/line/door", "payload_on": "ON",
            "payload_off": "OFF", "device_class": "door"}))
        self.assertNotIn("device_class", self.config_of("binary_sensor", "window"))
        siren = self.config_of("switch", "siren")
        self.assertEqual(siren["command_topic"], P + "/line/siren/set")
        self.assertEqual(siren["state_topic"], P + "/line/siren")
        self.assertEqual(siren["unique_id"], "testbox_output_siren")
        living = self.config_of("sensor", "living")
        self.assertEqual((living["state_topic"], living["device_class"],
                          living["unit_of_measurement"], living["unique_id"]),
                         (P + "/temp/living", "temperature", "\u00b0C", "testbox_temp_living"))

    def test_discovery_off_and_own_prefixes(self):
        b = self.broker
        # Turning discovery off removes what an earlier run announced.
        earlier = "ha/switch/box-1/siren/config"
        b.publish(earlier, '{"name":"siren"}', retain=True)
        self.start("discovery = no\ndiscovery_prefix = ha/\nprefix = home/alarm/\n"
                   "client_id = box-1\n")
        b.wait_retained("home/alarm/status", "online")
        b.wait_retained("home/alarm/state/security", "disarmed")
        wait_for(lambda: b.retained(earlier) is None, what="the config cleared")
        self.assertIsNone(b.retained("ha/alarm_control_panel/box-1/security/config"))
        self.assertIsNone(b.retained(D + "/alarm_control_panel/testbox/security/config"))


class Outages(MqttCase):
    def test_killed_daemon_is_offline(self):
        d, b = self.start(), self.broker
        b.wait_retained(P + "/status", "online")
        d.process.send_signal(signal.SIGKILL)
        d.process.wait()
        d.cleanup()
        self.d = None
        # The will: the broker sees the socket close at once.
        b.wait_retained(P + "/status", "offline")

    def test_restart_in_place(self):
        # The socket is not inherited by the new program: the broker sees
        # the old connection end (its will) before the new one says online.
        d = self.start("trusted = yes\n[command restart]\naction = @RESTART\n")
        b = self.broker
        sub = b.subscribe(P + "/status")
        b.publish(P + "/command", "restart")
        d.wait_log("MQTT: connected to 127.0.0.1:%d" % b.port, count=2, timeout=20)
        def statuses():
            return [p for _, t, p in sub.messages() if t == P + "/status"]
        wait_for(lambda: len(statuses()) >= 3, what="offline and online again")
        self.assertEqual(statuses(), [b"online", b"offline", b"online"])
        b.wait_retained(P + "/status", "online")

    def test_broker_restart_and_changes_while_away(self):
        d, b = self.start(), self.broker
        b.wait_retained(P + "/state/security", "disarmed")
        b.stop()
        d.wait_log("MQTT: connection to 127.0.0.1:%d lost" % b.port)
        c = d.console()
        c.command("arm")
        d.board("close", "house", 0)
        d.board("temp", "heat", "28000000000000A1", 18)
        d.wait_log("MQTT: cannot connect to 127.0.0.1:%d (Connection refused); "
                   "trying again in 4 s" % b.port)
        b.start()
        d.wait_log("MQTT: connected to 127.0.0.1:%d" % b.port, count=2, timeout=15)
        # The broker forgot everything; the daemon said it all again.
        b.wait_retained(P + "/status", "online")
        b.wait_retained(P + "/state/security", "armed")
        b.wait_retained(P + "/panel/security/state", "armed_away")
        b.wait_retained(P + "/line/door", "ON")
        b.wait_retained(P + "/temp/living", "18")
        self.assertIsNotNone(b.retained(D + "/alarm_control_panel/testbox/security/config"))
        # Commands work on the new connection.
        sub = b.subscribe(P + "/response")
        b.publish(P + "/command", "&m 1234 disarm")
        sub.wait(P + "/response", "disarmed")
        c.close()
        # Back-off: a few attempts, not one a second.
        attempts = [l for l in d.log_lines() if l.startswith("MQTT: connecting")]
        self.assertLessEqual(len(attempts), 6, attempts)

    def test_frozen_broker_is_noticed_by_the_keep_alive(self):
        # A broker that stops answering looks like a network gone: the TCP
        # connection stays, only the keep-alive can tell.
        d, b = self.start(), self.broker
        b.wait_retained(P + "/status", "online")
        b.process.send_signal(signal.SIGSTOP)
        try:
            d.wait_log("MQTT: connection to 127.0.0.1:%d lost (no answer within the "
                       "keep-alive)" % b.port, timeout=30)
            c = d.console()
            c.command("arm")
            c.close()
        finally:
            b.process.send_signal(signal.SIGCONT)
        d.wait_log("MQTT: connected to 127.0.0.1:%d" % b.port, count=2, timeout=30)
        b.wait_retained(P + "/state/security", "armed")

    def test_absent_broker_and_polls_under_a_command_flood(self):
        b = self.broker
        b.stop()
        d = self.d = Daemon(config(b))
        d.board("add", "house", "1:1:a7")
        d.board("add", "heat", "1:2:2")
        d.start()
        d.wait_log("MQTT: cannot connect to 127.0.0.1:%d (Connection refused); "
                   "trying again in 2 s" % b.port)
        c = d.console()
        self.assertEqual(c.command("status"), "disarmed\n")
        c.close()
        b.start()
        d.wait_log("MQTT: connected to 127.0.0.1:%d" % b.port, timeout=15)

        idle_gap = longest_poll_gap(d, "house", lambda: time.sleep(2))
        lines = "".join("&m 1234 status\n" if i % 2 else "comfort\n" for i in range(10000))

        def flood():
            subprocess.run(["mosquitto_pub", "-h", "127.0.0.1", "-p", str(b.port),
                            "-t", P + "/command", "-q", "1", "-l"],
                           input=lines.encode(), check=True, timeout=60)
            # The broker may drop what queues up for the daemon; the last
            # word is sent until it is heard.
            def armed():
                b.publish(P + "/command", "&m 1234 arm")
                return b.retained(P + "/state/security") == b"armed"
            wait_for(armed, timeout=60, what="the end of the flood")
        busy_gap = longest_poll_gap(d, "house", flood)
        # The boards are polled on while the commands are handled.
        self.assertTrue(polls_kept_pace(busy_gap, idle_gap), (busy_gap, idle_gap))


class Tls(unittest.TestCase):
    def test_tls_broker_down_and_up(self):
        b = Broker(tls=True)
        d = Daemon(config(b, "cafile = %s\n" % b.cafile))
        try:
            d.start()
            # Refused: the attempt fails at once rather than waiting in the
            # handshake for the keep-alive.
            d.wait_log("MQTT: cannot connect to 127.0.0.1:%d (the connection failed); "
                       "trying again in 2 s" % b.port)
            b.start()
            d.wait_log("MQTT: connected to 127.0.0.1:%d" % b.port, timeout=15)
            b.wait_retained(P + "/state/security", "disarmed")
            sub = b.subscribe(P + "/response")
            b.publish(P + "/command", "&m 1234 &a status")
            sub.wait(P + "/response", "disarmed")
        finally:
            try:
                finish(d)
            finally:
                b.cleanup()


class NoClient(unittest.TestCase):
    def test_section_without_host_changes_nothing(self):
        d = Daemon(CONFIG.replace("host = 127.0.0.1\n", "").replace("{mqtt_port}", "1"))
        try:
            d.start()
            c = d.console()
            self.assertEqual(c.command("status"), "disarmed\n")
            c.close()
            self.assertEqual([l for l in d.log_lines() if "MQTT" in l], [])
            # libmosquitto, and OpenSSL with it, is loaded only for a client.
            with open("/proc/%d/maps" % d.process.pid) as f:
                maps = f.read()
            for lib in ("libmosquitto", "libssl", "libcrypto"):
                self.assertNotIn(lib, maps)
        finally:
            finish(d)


if __name__ == "__main__":
    unittest.main()
