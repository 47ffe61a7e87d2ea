"""hovantra-check against the demo, the installed configuration and broken
ones: every fault found on its line, nothing said about correct files."""
import os
import shutil
import socket
import subprocess
import tempfile
import unittest

from harness import BUILD, free_port

CHECK = os.path.join(BUILD, "hovantra-check")
SOURCE = os.environ.get("HOVANTRA_SOURCE_DIR",
                        os.path.join(os.path.dirname(__file__), "..", ".."))


class Checker(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="hovantra-check-")
        self.addCleanup(shutil.rmtree, self.dir, True)
        self.path = os.path.join(self.dir, "hovantra.ini")

    def check(self, text, *args):
        with open(self.path, "w") as f:
            f.write(text)
        r = subprocess.run([CHECK, "-c", self.path] + list(args), cwd=self.dir,
                           capture_output=True, text=True, timeout=60)
        return r.returncode, r.stdout.replace(self.path, "F")

    def ports(self, text):
        return (text.replace("port = 7280", "port = %d" % free_port())
                    .replace("port = 7281", "port = %d" % free_port()))

    def test_the_demo_as_the_demo_script_runs_it_is_clean(self):
        with open(os.path.join(SOURCE, "examples/demo/hovantra.ini")) as f:
            text = f.read()
        for sub in ("incoming", "outgoing", "composing", "proceeded", "failed"):
            os.makedirs(os.path.join(self.dir, "sms", sub))
        text = text.replace("/tmp/hovantra-demo", self.dir)
        text = text.replace("path = www/", "path = %s/examples/demo/www/" % SOURCE)
        status, out = self.check(self.ports(text))
        self.assertEqual((status, out), (0, ""))

    def test_the_installed_configuration_is_clean_but_for_the_missing_user(self):
        with open(os.path.join(SOURCE, "packaging/hovantra.ini")) as f:
            text = f.read()
        text = text.replace("/usr/share/hovantra/www", SOURCE + "/examples/demo/www")
        status, out = self.check(self.ports(text))
        self.assertEqual(status, 0, out)
        self.assertRegex(out, r"^F:\d+: note: webserver has no users yet")
        self.assertEqual(out.count("\n"), 1, out)

    def test_syntax_errors_are_all_reported_as_the_daemon_words_them(self):
        status, out = self.check("[general]\nname=x\n[event door open]\n"
                                 "action = @ACT+ x\n[console]\nport = 1\n"
                                 "+ continued\n" + "x" * 1100 + "\n")
        self.assertEqual(status, 1)
        lines = [l for l in out.splitlines()
                 if not any(w in l for w in ("error:", "warning:", "note:"))]
        self.assertEqual(lines[:3], ["F:2: invalid dictionary line syntax",
                                     "F:3: invalid header syntax",
                                     "F:8: line too long (max 1024)"])
        self.assertEqual(lines[-1], "F: error loading configuration file")
        # A value that spans lines stays on one line of the report.
        self.assertIn("F:6: warning: console port = 1\\n continued is not a whole "
                      "number; the daemon uses 7280\n", out)

    def test_a_missing_file(self):
        r = subprocess.run([CHECK, "-c", "/nonexistent/h.ini"],
                           capture_output=True, text=True)
        self.assertEqual(r.returncode, 1)
        self.assertEqual(r.stdout, "/nonexistent/h.ini:-1: couldn't open the file\n"
                         "/nonexistent/h.ini: error loading configuration file\n")

    def test_faults_the_daemon_finds_only_at_run_time(self):
        config = """\
[general]
defaultstate = security.disarmed
watchdog = 30s
[console]
prot = 7000
greeting:admin = hello
[webserver]
users = a:b
html:head = <title>
[sms]
outgoing = {dir}/nowhere
[alarms]
[device 1]
output:0 = pump
output:12 = nothing
input:0 = door
input_on:0 = door_opened
[device board2]
[temp_sensor living]
id = 28AB
watermarks = 19:x:cold:warm
[state security.disarmed]
lamp = off
[state security.armed]
lamp = blink
sound = loud
[state security.exit_delay]
transit = 10:security.armd
unready = security.disarmed
notification = alarm
[event arm]
fsm = security
transit = security.disarmed -> security.exit_delay
+security.armed -> heat.on
+security.armed security.alarm
action:alarmed = @LN+ siren
subevents = armed_again
[command arm]
event = arm
[command Lamp]
action = @LN+ pump
[command ping]
action = @PING
+@SET target 5
+@LN+ ^lamp
[command loop]
alias_for = loop2
[command loop2]
alias_for = loop
[command missing]
alias_for = nothere
[notification alarm]
message = ALARM
[webpage /]
type = page
content = %html:head%%html:nav% %line:window:open:closed:% %?target% %temp:living% %temp:attic%
[webpage /style.css]
type = file
path = {dir}/style.css
[webpage /ctrl]
type = command
[console]
port = 7280
[webserver]
port = 7281
[variable flag]
enable = true
[phone +100]
auth = trustme
""".replace("{dir}", self.dir)
        status, out = self.check(self.ports(config))
        self.assertEqual(status, 1, out)
        d = self.dir
        expected = [
            "F:3: warning: general watchdog = 30s is not a whole number; the daemon uses 30",
            "F:5: warning: unknown key in [console]: prot: did you mean port?",
            "F:6: warning: console greeting:admin: greeting is read only as greeting:trusted or greeting:untrusted",
            "F:10: warning: sms composing directory /var/hovantra/sms does not exist; notifications cannot be written",
            "F:11: warning: sms outgoing directory %s/nowhere does not exist; notifications cannot be queued" % d,
            "F:12: warning: unknown section type [alarms]",
            "F:15: warning: device 1 output:12: output lines are 0 to 11",
            "F:17: warning: device 1 input_on:0 raises event door_opened, which has no [event] section (it is only logged)",
            "F:18: error: device board2: a board id is a hexadecimal number; the daemon ignores this section",
            "F:19: warning: temp_sensor sections, but no [device] section says onewire = yes: no board reads the sensors",
            "F:20: error: temp_sensor living: id 28AB is not 16 hexadecimal digits; the daemon ignores the sensor",
            "F:21: error: temp_sensor living watermark 19:x:cold:warm: Invalid high temp. for: ``19:x:cold:warm'', ignoring",
            "F:23: error: state security.disarmed sets the lamp, but no [device] section defines the output ^lamp",
            "F:24: error: state security.armed: the daemon refuses to enter it: Incorrect lamp timing for state ``security.armed''",
            "F:28: warning: state security.exit_delay transit names state security.armd, which has no [state] section (entering it has no effect)",
            "F:30: error: state security.exit_delay sends notification alarm, which has no phones",
            "F:33: error: event arm transit: security.armed and heat.on are not states of one machine",
            "F:33: error: event arm transit: no -> in the rule security.armed security.alarm",
            "F:36: warning: event arm action:alarmed: machine security has no state alarmed, so this key is never read",
            "F:36: error: event arm action:alarmed switches output siren, which no [device] section defines",
            "F:37: warning: event arm subevents raises event armed_again, which has no [event] section (it is only logged)",
            "F:40: warning: command Lamp is never found: commands are looked up in lower case",
            "F:43: error: command ping: unknown action @PING",
            "F:43: error: command ping: @SET target stores nothing: no [variable target] section with enable = yes",
            "F:43: error: command ping switches output ^lamp, which no [device] section defines",
            "F:47: error: command loop: conf. error: alias_for loop at ``loop'', giving up",
            "F:49: error: command loop2: conf. error: alias_for loop at ``loop2'', giving up",
            "F:51: error: command missing is an alias for command nothere, which has no section",
            "F:52: error: notification alarm has no phones: it sends nothing",
            "F:56: warning: webpage / content uses %html:nav%, but webserver has no html:nav (it shows nothing)",
            "F:56: warning: webpage / content shows line window, which no [device] section defines",
            "F:56: warning: webpage / content reads %?target%, but variable target is not enabled",
            "F:56: warning: webpage / content shows sensor attic, which has no [temp_sensor] section",
            "F:59: error: webpage /style.css answers 500: %s/style.css: No such file or directory" % d,
            "F:60: error: webpage /ctrl answers 404: conf. error: no content for /ctrl",
            "F:67: warning: variable flag: enable = true counts as no",
            "F:69: warning: phone +100: auth = trustme means nothing; only trusted is known",
        ]
        self.assertEqual(sorted(out.splitlines()), sorted(expected))

    def test_mqtt_panels_and_classes_name_what_exists(self):
        base = self.ports("""\
[general]
defaultstate = idle security.disarmed
[console]
port = 7280
[webserver]
port = 7281
users = a:b
[device 1]
input:0 = door
[state idle]
[state security.disarmed]
[state security.armed]
[event arm]
fsm = security
transit = security.disarmed -> security.armed
[mqtt]
""")
        clean = base + """\
panel = security default
states:security = disarmed:disarmed armed:armed_away
commands:security = ARM_AWAY:arm DISARM:disarm
states:default = idle:disarmed
class:door = door
host = 127.0.0.1
"""
        self.assertEqual(self.check(clean), (0, ""))
        broken = base + """\
panel = security heat
states:security = disarmed:disarmed armd:armed_away armed:away broken
commands:security = ARM_AWAY:arm ARM_OUT:arm
code:garage = yes
class:window = window
keepalive = 2
host = 127.0.0.1
"""
        expected = [
            "F:16: error: conf. error: mqtt states: ``broken'' is not a pair name:value",
            "F:17: error: mqtt panel heat: machine heat has no states, so the panel never shows one",
            "F:18: error: mqtt states:security: machine security has no state armd",
            "F:18: error: mqtt states:security: away is not a state of a Home Assistant alarm panel",
            "F:19: warning: mqtt commands:security: Home Assistant never sends the action ARM_OUT",
            "F:20: warning: mqtt code:garage: garage is not named in panel, so this key is never read",
            "F:21: warning: mqtt class:window: no [device] section defines the input window, so this key is never read",
        ]
        keepalive = ("F:16: error: conf. error: mqtt keepalive ``2'' is not a number "
                     "from 5 to 65535; using 60")
        status, out = self.check(broken)
        self.assertEqual(status, 1, out)
        self.assertEqual(sorted(out.splitlines()), sorted(expected + [keepalive]))
        # A section being prepared, without a host, is checked too, but for
        # the values only a running client reads.
        status, out = self.check(broken.replace("host = 127.0.0.1\n", ""))
        self.assertEqual(status, 1, out)
        self.assertEqual(sorted(out.splitlines()), sorted(expected))

    def test_warnings_alone_give_status_2_and_with_e_0(self):
        config = self.ports("[console]\nport = 7280\ntimout = 5\n[webserver]\nport = 7281\nusers = a:b\n")
        self.assertEqual(self.check(config)[0], 2)
        status, out = self.check(config, "-e")
        self.assertEqual(status, 0)
        self.assertIn("F:3: warning: unknown key in [console]: timout: did you mean timeout?", out)

    def test_a_port_in_use_and_a_shared_port(self):
        with socket.socket() as busy:
            busy.bind(("127.0.0.1", 0))
            busy.listen(1)
            port = busy.getsockname()[1]
            status, out = self.check("[console]\nport = %d\n[webserver]\nport = %d\nusers = a:b\n"
                                     % (port, free_port()))
            self.assertEqual(status, 1)
            self.assertIn("F:2: error: console 127.0.0.1:%d: cannot listen: Address already in use"
                          " (another program, or hovantra already running)" % port, out)
        status, out = self.check("[console]\nport = %d\n[webserver]\nport = %d\nusers = a:b\n"
                                 % (port, port))
        self.assertEqual(status, 1)
        self.assertIn("F:4: error: the console and the web interface share port %d" % port, out)


if __name__ == "__main__":
    unittest.main()
