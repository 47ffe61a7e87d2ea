"""An alarm system driven through the console and a simulated board:
arming with an exit delay, a door opening an entry delay, the alarm with its
SMS notification, the lamp and sounder, restart and quit."""
import os
import unittest

from harness import Daemon, wait_for

CONFIG = """[general]
name = e2e-house
log = {dir}/hovantra.log
state = {dir}/hovantra.state
defaultstate = security.disarmed
watchdog = 0
[console]
port = {console_port}
trusted = 127.0.0.1
greeting = hello
[webserver]
port = {web_port}
[sms]
outgoing = {spool}/outgoing
composing = {spool}/composing
proceeded = {spool}/proceeded
incoming = {spool}/incoming
[device 1]
output:0 = ^lamp
output:1 = ^sound
output:2 = pump
output_sync:2 = yes
input:0 = door
input_on:0 = door_open front
input_off:0 = door_closed front
[state security.disarmed]
lamp = off
sound = off
[state security.exit_delay]
lamp = 300:300
transit = 1:security.armed
[state security.armed]
lamp = on
[state security.entry_delay]
transit = 1:security.alarm:siren
[state security.alarm]
lamp = 200:200
sound = withlamp
notification = alarm %newstate%
[event door_open]
fsm = security
transit = security.armed -> security.entry_delay
[event siren]
action = @LN+ pump
[event arm]
fsm = security
transit = security.disarmed -> security.exit_delay
[event disarm]
fsm = security
transit = security.* -> security.disarmed
[notification alarm]
phones = +100 +200
message = ALARM %1% at %sysname%
[command arm]
event = arm
response = arming
[command disarm]
event = disarm
response = disarmed
[command status]
unpriv = yes
response = %state% door:%line:door:open:closed:?%
[command restart]
action = @RESTART
[command quit]
action = @QUIT
"""


# The default machine always exists with an empty state; it iterates after
# "security", so the states text ends in a blank.
class Security(unittest.TestCase):
    def setUp(self):
        self.d = Daemon(CONFIG)
        self.d.board("add", "house", "1:1:1")
        self.d.board("set", "house", "inputs", "44")
        self.d.start()

    def tearDown(self):
        self.d.cleanup()

    def outgoing(self):
        out = os.path.join(self.d.spool, "outgoing")
        return sorted(os.listdir(out))

    def test_arm_entry_alarm_and_notification(self):
        d = self.d
        c = d.console()
        self.assertEqual(c.read_until("hello"), "hello")
        self.assertEqual(c.command("status"), "security.disarmed  door:closed\n")
        self.assertEqual(c.command("arm"), "arming\n")
        d.wait_log("STATE is now ``security.exit_delay ''")
        d.wait_log("STATE is now ``security.armed ''", timeout=5)
        # The state file is written right after the log line.
        wait_for(lambda: "alert = security.armed" in d.state_file(), what="armed stored")

        d.board("close", "house", 0)
        d.wait_log("Processing event ``door_open front''")
        d.wait_log("STATE is now ``security.entry_delay ''")
        d.wait_log("STATE is now ``security.alarm ''", timeout=5)
        d.wait_log("Processing event ``siren''")
        files = wait_for(lambda: len(self.outgoing()) == 2 and self.outgoing(), what="two SMS")
        texts = []
        for name in files:
            self.assertRegex(name, r"^HOVANTRA_OUTG\.[0-9]+\.[0-9]+\.[0-9]+$")
            with open(os.path.join(d.spool, "outgoing", name), "rb") as f:
                texts.append(f.read())
        self.assertEqual(sorted(texts), [b"To: +100\n\nALARM security.alarm at e2e-house",
                                         b"To: +200\n\nALARM security.alarm at e2e-house"])
        # The pump is synced: switched on by the siren event and remembered.
        wait_for(lambda: "pump = on" in d.state_file(), what="pump remembered")
        self.assertEqual(c.command("disarm"), "disarmed\n")
        d.wait_log("STATE is now ``security.disarmed ''")
        c.close()

    def test_restart_keeps_states_without_notifications(self):
        d = self.d
        c = d.console()
        c.command("arm")
        d.wait_log("STATE is now ``security.armed ''", timeout=5)
        c.send("restart\n")
        d.wait_log("START=>", count=2, timeout=10)
        d.wait_log("starting in the mode security.armed", timeout=10)
        self.assertEqual(d.process.poll(), None)
        self.assertEqual(self.outgoing(), [])
        c.close()

    def test_quit_ends_with_status_zero(self):
        c = self.d.console()
        c.send("quit\n")
        self.assertEqual(self.d.process.wait(timeout=10), 0)
        c.close()

    def test_lamp_blinks_on_the_board(self):
        d = self.d
        c = d.console()
        c.command("arm")
        d.wait_log("STATE is now ``security.exit_delay ''")
        seen = set()

        def both_seen():
            out = d.board("outputs", "house")
            seen.add(out)
            return len(seen) >= 2
        wait_for(both_seen, timeout=5, what="the lamp to change on the board")
        c.close()


if __name__ == "__main__":
    unittest.main()
