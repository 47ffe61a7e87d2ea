"""Simulated boards through the real daemon: input transitions and counters,
garbage counters, loss and reconnection, output synchronisation, the two
status word layouts, the devices report and the blinking lamp."""
import unittest

from harness import Daemon, finish, edit_board, wait_for

HEAD = """[general]
log = {dir}/hovantra.log
state = {dir}/hovantra.state
watchdog = 0
[console]
port = {console_port}
trusted = 127.0.0.1
[webserver]
port = {web_port}
[command on]
args = 1
action = @LN+ %1%
response = ok
[command off]
args = 1
action = @LN- %1%
response = ok
"""


def mark(d):
    """Makes the daemon's log waits look only at lines from now on."""
    d.mark = len(d.log_lines())


def since(d, *prefixes):
    """Log lines after the mark that start with one of the prefixes."""
    return [l for l in d.log_lines()[d.mark:] if l.startswith(prefixes)]


# The clock board comes first in the file, so it is polled last in every
# cycle: once its event is logged, the house board has been read in that
# cycle and changes made now all land before the next read.
INPUTS = HEAD + """[device 2c]
input_on:7 = clock
[device a7]
input:0 = door
input_on:0 = door_open front
input_off:0 = door_closed front
[command door]
response = %line:door:yes:no:?%
"""


class Inputs(unittest.TestCase):
    def setUp(self):
        self.d = Daemon(INPUTS)
        self.d.board("add", "clock", "1:1:2c")
        self.d.board("add", "house", "1:2:a7")
        self.d.start()
        self.c = self.d.console()

    def tearDown(self):
        self.c.close()
        finish(self.d)

    def tick(self):
        """Returns right after a poll cycle has read every board."""
        seen = len(since(self.d, "Processing event ``clock''"))
        self.d.board("pulse", "clock", 7)
        self.d.wait_log("Processing event ``clock''", count=seen + 1)

    def door_lines(self):
        return since(self.d, "XXX: in=0", "Processing event ``door")

    def test_pulse_between_polls_raises_on_then_off(self):
        d = self.d
        mark(d)
        d.board("pulse", "house", 0)
        d.wait_log("Processing event ``door_closed front''")
        self.assertEqual(self.door_lines(), [
            "XXX: in=0 l_i_s[]=0 cnt[]=2 c=1",
            "Processing event ``door_open front''",
            "XXX: in=0 l_i_s[]=0 cnt[]=2 c=2",
            "Processing event ``door_closed front''"])
        self.assertEqual(self.c.command("door"), "no\n")

    def test_counter_three_then_two(self):
        d = self.d
        mark(d)
        with d.between_polls():
            d.board("close", "house", 0)
            d.board("pulse", "house", 0)
        d.wait_log("Processing event ``door_open front''", count=2)
        self.assertEqual(self.door_lines(), [
            "XXX: in=0 l_i_s[]=0 cnt[]=3 c=1",
            "Processing event ``door_open front''",
            "XXX: in=0 l_i_s[]=0 cnt[]=3 c=2",
            "Processing event ``door_closed front''",
            "XXX: in=0 l_i_s[]=0 cnt[]=3 c=3",
            "Processing event ``door_open front''"])
        self.assertEqual(self.c.command("door"), "yes\n")
        # From level 1 a counter of 2 is the opening only.
        mark(d)
        d.board("open", "house", 0)
        d.wait_log("Processing event ``door_closed front''")
        self.assertEqual(self.door_lines(), [
            "XXX: in=0 l_i_s[]=1 cnt[]=2 c=2",
            "Processing event ``door_closed front''"])

    def test_garbage_counter_keeps_the_level(self):
        d = self.d
        mark(d)
        d.board("garbage", "house", 0, 101)
        d.wait_log("XXX: ignoring garbaged counter in=0 l_i_s[]=0(0) cnt[]=101(65)")
        self.tick()
        self.assertEqual(self.door_lines(), [])
        # 100 is still a counter: fifty closings and fifty openings.
        d.board("garbage", "house", 0, 100)
        d.wait_log("XXX: in=0 l_i_s[]=0 cnt[]=100 c=100")
        self.assertEqual(len(since(d, "Processing event ``door_open front''")), 50)
        self.assertEqual(len(since(d, "Processing event ``door_closed front''")), 50)
        self.assertEqual(since(d, "XXX: ignoring"),
                         ["XXX: ignoring garbaged counter in=0 l_i_s[]=0(0) cnt[]=101(65)"])
        # The last level stayed 0 through the garbage: a real pulse counts 2.
        mark(d)
        d.board("pulse", "house", 0)
        d.wait_log("Processing event ``door_closed front''")
        self.assertEqual(self.door_lines()[0], "XXX: in=0 l_i_s[]=0 cnt[]=2 c=1")

    def test_lost_once_and_reconnected(self):
        d = self.d
        mark(d)
        d.board("unplug", "house")
        d.wait_log("QTR0xx 00a7 is LOST!")
        d.board("close", "house", 0)
        for _ in range(3):
            self.tick()
        self.assertEqual(self.c.command("door"), "?\n")
        d.board("plug", "house")
        d.wait_log("QTR0xx a7 is [1:2:a7], vers. 4000001, good", timeout=8)
        self.assertEqual(len(since(d, "QTR0xx 00a7 is LOST!")), 1)
        # Looking for it again is quiet.
        self.assertEqual(since(d, "QTR0xx device"), [])
        # The closing happened while away: it is the new level, not an event.
        self.tick()
        self.tick()
        self.assertEqual(since(d, "Processing event ``door"), [])
        self.assertEqual(self.c.command("door"), "yes\n")
        d.board("open", "house", 0)
        d.wait_log("Processing event ``door_closed front''")

    def test_failed_transfers_lose_the_board_until_it_answers(self):
        d = self.d
        # The counter step's first read (the input range) answers short.
        mark(d)
        d.board("fault", "house", "short-reads", 1)
        d.wait_log("QTR0xx 00a7 is LOST!")
        d.wait_log("QTR0xx a7 is [1:2:a7], vers. 4000001, good", timeout=8)
        self.assertEqual(self.c.command("door"), "no\n")
        # A board that refuses its counters is found again and again but
        # never connected, quietly, until it answers.
        mark(d)
        d.board("fault", "house", "stall", 6)
        d.wait_log("QTR0xx 00a7 is LOST!")
        d.wait_log("QTR0xx a7 is [1:2:a7], vers. 4000001, good", timeout=8)
        self.tick()
        self.assertEqual(self.c.command("door"), "?\n")
        self.assertEqual(since(d, "QTR0xx device"), [])
        self.assertEqual(len(since(d, "QTR0xx 00a7 is LOST!")), 1)
        d.board("fault", "house", "clear")
        wait_for(lambda: self.c.command("door") == "no\n", timeout=8, what="reconnection")
        d.board("pulse", "house", 0)
        d.wait_log("Processing event ``door_closed front''")

    # A configuration read (report 2) that fails leaves the counters unread
    # (reading them would start the board's counts afresh with nothing
    # taken), and the failed read loses the board like any other, so the
    # trouble is in the log instead of a pulse vanishing without a trace.
    def test_failed_configuration_read_loses_the_board_visibly(self):
        d = self.d
        mark(d)
        with d.between_polls():
            d.board("fault", "house", "short-reads", 1)
            d.board("pulse", "house", 0)
        d.wait_log("QTR0xx 00a7 is LOST!")
        wait_for(lambda: self.c.command("door") == "no\n", timeout=8, what="reconnection")
        d.board("pulse", "house", 0)
        d.wait_log("Processing event ``door_closed front''")

    # A board whose version and input range reads fail while it is being
    # connected is not taken as good with version 0 and no inputs: the
    # connection fails, and a later one sees its inputs.
    def test_failed_reads_at_connection_fail_the_connection(self):
        d = self.d
        d.board("unplug", "house")
        d.wait_log("QTR0xx 00a7 is LOST!")
        mark(d)
        d.board("fault", "house", "short-reads", 2)
        d.board("plug", "house")
        d.wait_log("QTR0xx a7 is [1:2:a7], vers. 4000001, good", timeout=12)
        self.assertEqual(since(d, "QTR0xx a7 is"), ["QTR0xx a7 is [1:2:a7], vers. 4000001, good"])
        d.board("pulse", "house", 0)
        d.wait_log("Processing event ``door_closed front''")


SYNC = HEAD + """[device 1a2b]
output:2 = heater
output_sync:2 = yes
output:5 = pump
output_sync:5 = yes
output:6 = fan
[device 2c]
output:5 = valve
output_sync:5 = yes
"""


class Sync(unittest.TestCase):
    def outputs(self, board):
        return self.d.board("outputs", board).split()

    def test_synced_lines_are_restored(self):
        self.d = d = Daemon(SYNC)
        self.addCleanup(finish, d)
        d.board("add", "house", "1:2:1a2b")
        d.board("add", "shed", "1:1:2c")
        d.start()
        c = d.console()
        self.addCleanup(c.close)

        # The valve is switched off while its board is away.
        self.assertEqual(c.command("on valve"), "ok\n")
        wait_for(lambda: self.outputs("shed")[5] == "5:on", what="valve on")
        d.board("unplug", "shed")
        d.wait_log("QTR0xx 002c is LOST!")
        self.assertEqual(c.command("off valve", "ok\n"), "Action ``@LN- valve'' failed\nok\n")
        d.wait_log("Can't control channel ``valve'': the device 2c is unavailable")
        self.assertIn("valve = off", d.state_file())

        # The command that would switch the pump on never reaches the board;
        # switching does not look at the transfer, the next sync does.
        d.board("fault", "house", "failed-writes", 1)
        self.assertEqual(c.command("on pump off heater"), "okok\n")
        wait_for(lambda: "pump = on" in d.state_file() and "heater = off" in d.state_file(),
                 what="pump and heater remembered")
        self.assertEqual(self.outputs("house")[5], "5:off")
        # By hand on the board: heater on, the unsynced fan on.
        mark(d)
        edit_board(d, "house", "outputs", "044")
        d.board("plug", "shed")

        d.wait_log("Warning: [4004] sync: line 5 (pump) => on", timeout=15)
        self.assertEqual(since(d, "Warning: [4004]"),
                         ["Warning: [4004] sync: line 2 (heater) => off",
                          "Warning: [4004] sync: line 5 (pump) => on"])
        # The warning comes just before the switching.
        wait_for(lambda: [self.outputs("house")[i] for i in (2, 5, 6)] == ["2:off", "5:on", "6:on"],
                 what="heater and pump restored, fan left alone")

        d.wait_log("QTR0xx 2c is [1:1:2c], vers. 4000001, good", timeout=8)
        d.wait_log("Warning: [2000] sync: line 5 (valve) => off", timeout=15)
        wait_for(lambda: self.outputs("shed")[5] == "5:off", what="valve off")


# One board of each status layout, a section that is no hexadecimal number
# and a board that is not there.  Lines 5 and 9 and inputs 1 and 5 trade
# status bits 9 and 13 between the layouts.
LAYOUTS = HEAD + """[device 1a2b]
output:0 = nsiren
output:5 = n5
output:9 = n9
input:1 = ni1
input:5 = ni5
[device 1a2g]
output:0 = bogus
[device 2c]
output:0 = osiren
output:5 = o5
output:9 = o9
input:1 = oi1
input:5 = oi5
[device 77]
output:0 = ghost
[device 5]
output:0 = relic
[command lines]
response = %line:n5:on:off:?% %line:n9:on:off:?% %line:ni1:yes:no:?% %line:ni5:yes:no:?% | \
%line:o5:on:off:?% %line:o9:on:off:?% %line:oi1:yes:no:?% %line:oi5:yes:no:?% \
%line:ghost:on:off:?%
[command rep]
response = %devices_report%
"""


class Layouts(unittest.TestCase):
    def setUp(self):
        self.d = Daemon(LAYOUTS)
        self.d.board("add", "new", "1:2:1a2b", 4000001)
        self.d.board("add", "old", "1:1:2c", 3999999)
        self.d.board("legacy", "relic", "1:1:5")
        self.d.start()
        self.c = self.d.console()

    def tearDown(self):
        self.c.close()
        finish(self.d)

    def lines_become(self, expected):
        # A line query caches the status word until the board's next poll.
        last = []

        def matches():
            last[:] = [self.c.command("lines")]
            return last[0] == expected + "\n"
        try:
            wait_for(matches, timeout=5, what="lines %r" % expected)
        except AssertionError:
            self.assertEqual(last[0], expected + "\n")

    def test_configuration_lines(self):
        lines = self.d.log_lines()[self.d.mark:]
        for line in ["Total 5 device configuration entries found",
                     "Device ``1a2b'' output 5: n5 unsync",
                     "QTR0xx 1a2b is [1:2:1a2b], vers. 4000001, good",
                     "Illegal device id ``1a2g'' in conf. file, ignoring",
                     "QTR0xx 2c is [1:1:2c], vers. 3999999, good",
                     "Device ``77'' output 0: ghost unsync",
                     "QTR0xx device 77 not found, check connections",
                     "QTR0xx 5 has incompatible version! Please upgrade the firmware"]:
            self.assertIn(line, lines)
        self.assertFalse([l for l in lines if "1a2g" in l and "Illegal" not in l])
        self.assertEqual(self.c.command("on bogus", "ok\n"), "Action ``@LN+ bogus'' failed\nok\n")
        self.d.wait_log("Output channel name ``bogus'' not found, check config")
        self.assertEqual(self.c.command("on ghost", "ok\n"), "Action ``@LN+ ghost'' failed\nok\n")
        self.d.wait_log("Can't control channel ``ghost'': the device 77 is unavailable")

    def test_status_bits_by_firmware(self):
        c = self.c
        self.lines_become("off off no no | off off no no ?")
        self.assertEqual(c.command("on n5 on o5"), "okok\n")
        self.lines_become("on off no yes | on off yes no ?")
        c.command("off n5 off o5 on n9 on o9")
        self.lines_become("off on yes no | off on no yes ?")
        report = ("[0005: ?!][0077: ?!]"
                  "[002c:+ osiren:off o5:off oi1:no o9:on oi5:yes] "
                  "[1a2b:+ nsiren:off n9:on ni1:yes n5:off ni5:no] ")
        self.assertEqual(c.command("rep"), report + "\n")
        self.assertEqual(c.command("&r"), "[!] " + report + "\n")
        self.assertEqual(self.d.board("outputs", "old").split()[9], "9:on")


LAMP = HEAD.replace("watchdog = 0\n", "watchdog = 0\ndefaultstate = alarm\n") + """[device 1]
output:0 = ^lamp
output:1 = ^sound
[state alarm]
lamp = 500:500
sound = withlamp
"""

LAMP_ON, SOUND_ON = "041c000001000000", "041c000004000000"
LAMP_OFF, SOUND_OFF = "041c000002000000", "041c000008000000"


class Lamp(unittest.TestCase):
    def test_withlamp_switches_lamp_and_sounder_together(self):
        d = Daemon(LAMP)
        self.addCleanup(finish, d)
        d.board("add", "house", "1:1:1")
        d.start()
        seen = set()

        def cycled():
            out = d.board("outputs", "house").split()
            seen.add((out[0], out[1]))
            return len(d.board("commands", "house").split()) >= 8
        wait_for(cycled, timeout=8, what="two blink cycles")
        frames = d.board("commands", "house").split()
        # Lamp first, sounder right after it, on and off in turn.
        for i, frame in enumerate(frames):
            self.assertEqual(frame, [LAMP_ON, SOUND_ON, LAMP_OFF, SOUND_OFF][i % 4],
                             frames)
        self.assertLessEqual({("0:on", "1:on"), ("0:off", "1:off")}, seen)


if __name__ == "__main__":
    unittest.main()
