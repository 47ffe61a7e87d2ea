"""Boards that fail every kind of transfer, vanish in the middle of polling
and come back: the daemon loses them, finds them again, raises their events
afterwards and never stops."""
import unittest

from harness import Daemon, wait_for

BOARDS = (1, 2, 3, 4, 5)

CONFIG = """[general]
log = {dir}/hovantra.log
state = {dir}/hovantra.state
defaultstate = idle
watchdog = 2
[console]
port = {console_port}
trusted = 127.0.0.1
[command pumpon]
action = @LN+ pump
response = pump on
""" + "".join("""[device {n}]
output:2 = {pump}
output_sync:2 = yes
input:0 = contact{n}
input_on:0 = closed {n}
input_off:0 = opened {n}
""".format(n=n, pump="pump" if n == 1 else "pump%d" % n) for n in BOARDS)


def good(n):
    # A connection whose version read fails is not announced at all, so
    # every good line carries the true version.
    return "QTR0xx %x is [1:1:%x], vers. 4000001, good" % (n, n)


def lost(n):
    return "QTR0xx %04x is LOST!" % n


class FailingBoards(unittest.TestCase):
    def setUp(self):
        self.d = Daemon(CONFIG)
        for n in BOARDS:
            self.d.board("add", "b%d" % n, "1:1:%x" % n)
            self.d.board("set", "b%d" % n, "inputs", "44")
        self.d.start()
        for n in BOARDS:
            self.d.wait_log(good(n))

    def tearDown(self):
        self.d.cleanup()

    def count(self, text):
        return sum(1 for l in self.d.log_lines()[self.d.mark:] if l.startswith(text))

    def wait_exact(self, text, count=1, timeout=15.0):
        wait_for(lambda: self.count(text) >= count, timeout, "%d x %r" % (count, text))

    def report(self, console):
        return console.command("&r")

    def test_every_kind_of_failing_transfer_loses_and_regains_the_board(self):
        d = self.d
        c = d.console()
        self.addCleanup(c.close)
        for n in BOARDS:
            d.board("close", "b%d" % n, 0)
        for n in BOARDS:
            self.wait_exact("Processing event ``closed %d''" % n)

        # A failed input range read alone only empties the range of that
        # poll; the counters read after it must fail too.
        d.board("fault", "b1", "short-reads", 2)
        d.board("fault", "b2", "timeouts", 2)
        d.board("fault", "b3", "stall", 6)          # the counters report
        d.board("unplug", "b4")                     # vanishes and comes back
        d.board("plug", "b4")                       # before the next poll
        d.board("unplug", "b5")
        for n in BOARDS:
            self.wait_exact(lost(n))

        # Gone boards answer the report without being asked.
        self.assertIn("[0005: ?!]", self.report(c))
        d.board("set", "b5", "open-fails", "yes")
        d.board("plug", "b5")
        for n in (1, 2, 4):
            self.wait_exact(good(n), count=2)
        # The stalled board is found but its counters fail, so it stays away;
        # the one that cannot be opened is not even found.
        self.wait_exact(good(3), count=3)
        text = self.report(c)
        self.assertIn("[0003: ?!]", text)
        self.assertIn("[0005: ?!]", text)
        self.assertEqual(self.count(good(5)), 1)

        d.board("fault", "b3", "clear")
        d.board("set", "b5", "open-fails", "no")
        self.wait_exact(good(3), count=4)
        self.wait_exact(good(5), count=2)
        wait_for(lambda: " ?!" not in self.report(c), 10, "every board back")

        # What happened while a board was away raises nothing; what happens
        # now raises its events.
        for n in BOARDS:
            d.board("open", "b%d" % n, 0)
        for n in BOARDS:
            self.wait_exact("Processing event ``opened %d''" % n)
        self.assertEqual([n for n in BOARDS if self.count("Processing event ``opened %d''" % n) != 1], [])
        self.assertIsNone(d.process.poll())

    def test_garbage_counters_and_repeated_timeouts_do_not_stop_polling(self):
        d = self.d
        c = d.console()
        self.addCleanup(c.close)
        d.board("garbage", "b2", 0, 1000)
        d.wait_log("XXX: ignoring garbaged counter in=0 l_i_s[]=0(0) cnt[]=1000(3e8)")
        # A board that times out on every transfer for a while is lost and
        # retried quietly on every reconnect poll while the others go on.
        d.board("fault", "b1", "timeouts", 1000000)
        self.wait_exact(lost(1))
        d.board("close", "b2", 0)
        self.wait_exact("Processing event ``closed 2''")
        self.assertIn("[0001: ?!]", self.report(c))
        d.board("fault", "b1", "clear")
        self.wait_exact(good(1), count=2)
        d.board("close", "b1", 0)
        self.wait_exact("Processing event ``closed 1''")
        self.assertEqual(self.count("Processing event ``closed 2''"), 1)
        self.assertIsNone(d.process.poll())

    def test_a_failed_write_is_healed_by_the_next_sync(self):
        d = self.d
        c = d.console()
        self.addCleanup(c.close)
        d.board("fault", "b1", "failed-writes", 1)
        self.assertEqual(c.command("pumpon"), "pump on\n")
        # The write was lost on the way, but the wanted state is remembered
        # and the sync poll brings the board to it.
        self.assertIn("pump = on", d.state_file())
        self.assertIn("2:off", d.board("outputs", "b1"))
        d.wait_log("sync: line 2 (pump) => on", timeout=15)
        wait_for(lambda: "2:on" in d.board("outputs", "b1"), 5, "pump on at the board")
        self.assertIsNone(d.process.poll())


if __name__ == "__main__":
    unittest.main()
