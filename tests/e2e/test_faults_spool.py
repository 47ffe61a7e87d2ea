"""Spool and state directories that cannot be written and a disk that is
full: every failure is logged, no half-written file is handed over or left
as the state, the daemon keeps running, and what could not be stored is
stored by the first write that can be."""
import os
import subprocess
import unittest

from harness import Daemon, parse_ini, wait_for

CONFIG = """[general]
log = {dir}/hovantra.log
state = @STATE@
defaultstate = alert.a
watchdog = 0
[console]
port = {console_port}
trusted = 127.0.0.1
[sms]
outgoing = @SPOOL@/outgoing
composing = @SPOOL@/composing
proceeded = @SPOOL@/proceeded
[notification alarm]
phones = +100
message = ALARM on the roof
[event alarm]
notification = alarm
[command alarm]
event = alarm
response = sent
[event go]
subevents = to_%1%
""" + "".join("""[event to_{s}]
fsm = alert
transit = alert.* -> alert.{s}
""".format(s=s) for s in "bcde") + """[command go]
event = go %1%
args = 1
response = now %1%
[variable note]
enable = yes
[command note]
action = @SET note %1%
args = 1
response = noted
""" + "".join("""[variable big{n}]
enable = yes
""".format(n=n) for n in range(8)) + """[command big]
action = """ + "\n ".join("@SET big%d %s" % (n, "B%d" % n * 300) for n in range(8)) + """
response = big
"""


def big_value(n):
    return "B%d" % n * 300


class SpoolFaults(unittest.TestCase):
    def make(self, state=None, spool=None):
        self.d = Daemon("")
        self.spool = spool or self.d.spool
        for sub in ("outgoing", "composing", "proceeded"):
            os.makedirs(os.path.join(self.spool, sub), exist_ok=True)
        self.d.write_config(CONFIG.replace("@STATE@", state or "{dir}/hovantra.state")
                            .replace("@SPOOL@", self.spool))
        return self.d

    def tearDown(self):
        self.d.cleanup()

    def files(self, sub):
        return sorted(os.listdir(os.path.join(self.spool, sub)))

    def replace_by_file(self, sub):
        path = os.path.join(self.spool, sub)
        os.rmdir(path)
        with open(path, "w") as f:
            f.write("not a directory\n")
        return path

    def restore_dir(self, sub):
        path = os.path.join(self.spool, sub)
        os.unlink(path)
        os.mkdir(path)

    def test_composing_directory_that_is_a_file(self):
        d = self.make()
        path = self.replace_by_file("composing")
        d.start()
        c = d.console()
        self.addCleanup(c.close)
        self.assertEqual(c.command("alarm"), "sent\n")
        line = d.wait_log("Couldn't open ``%s/HOVANTRA_OUTG." % path)[0]
        self.assertTrue(line.endswith("'' for writing: Not a directory"), line)
        self.assertEqual(self.files("outgoing"), [])
        # The daemon goes on and sends as soon as the directory is there.
        self.restore_dir("composing")
        self.assertEqual(c.command("alarm"), "sent\n")
        wait_for(lambda: len(self.files("outgoing")) == 1, what="the second message")
        name = self.files("outgoing")[0]
        with open(os.path.join(self.spool, "outgoing", name), "rb") as f:
            self.assertEqual(f.read(), b"To: +100\n\nALARM on the roof")
        self.assertEqual(self.files("composing"), [])

    def test_outgoing_directory_that_is_a_file(self):
        d = self.make()
        out = self.replace_by_file("outgoing")
        d.start()
        c = d.console()
        self.addCleanup(c.close)
        self.assertEqual(c.command("alarm"), "sent\n")
        line = d.wait_log("Couldn't rename ``")[0]
        self.assertRegex(line, r"^Couldn't rename ``%s/composing/(HOVANTRA_OUTG\.[0-9.]+)'' to "
                         r"``%s/\1'': Not a directory$" % (self.spool, out))
        # The written message stays where it was composed, whole.
        kept = self.files("composing")
        self.assertEqual(len(kept), 1)
        with open(os.path.join(self.spool, "composing", kept[0]), "rb") as f:
            self.assertEqual(f.read(), b"To: +100\n\nALARM on the roof")
        self.restore_dir("outgoing")
        self.assertEqual(c.command("go b"), "now b\n")
        d.wait_log("STATE is now ``alert.b")
        self.assertEqual(c.command("alarm"), "sent\n")
        wait_for(lambda: len(self.files("outgoing")) == 1, what="the next message")
        self.assertIsNone(d.process.poll())

    def test_state_file_in_a_missing_directory(self):
        d = self.make(state="{dir}/missing/hovantra.state")
        state = os.path.join(d.dir, "missing", "hovantra.state")
        d.start()
        d.wait_log("%s:-1: warning: reading state file problem: couldn't open the file" % state)
        c = d.console()
        self.addCleanup(c.close)
        self.assertEqual(c.command("go b"), "now b\n")
        d.wait_log("STATE is now ``alert.b")
        self.assertEqual(c.command("note kept"), "noted\n")
        self.assertEqual(c.command("go c"), "now c\n")
        d.wait_log("STATE is now ``alert.c")
        self.assertFalse(os.path.exists(state))
        # Everything held in memory meanwhile is written by the first save
        # that can write.
        os.mkdir(os.path.dirname(state))
        self.assertEqual(c.command("go d"), "now d\n")
        wait_for(lambda: os.path.exists(state), what="the state file")
        with open(state) as f:
            doc = parse_ini(f.read())
        self.assertEqual(doc[("State", "")]["alert"].split(), ["alert.d"])
        self.assertEqual(doc[("Variables", "")]["note"], "kept")


class FullDisk(unittest.TestCase):
    """State file and spool on a small memory file system filled to the last
    block."""

    def setUp(self):
        self.d = Daemon("")
        self.disk = os.path.join(self.d.dir, "disk")
        os.mkdir(self.disk)
        mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=256k", "tmpfs", self.disk],
                                 capture_output=True)
        if mounted.returncode != 0:
            self.d.cleanup()
            self.skipTest("cannot mount a small file system here")
        self.mounted = True
        self.spool = os.path.join(self.disk, "sms")
        for sub in ("outgoing", "composing", "proceeded"):
            os.makedirs(os.path.join(self.spool, sub))
        self.state = os.path.join(self.disk, "hovantra.state")
        self.d.write_config(CONFIG.replace("@STATE@", self.state).replace("@SPOOL@", self.spool))

    def tearDown(self):
        self.d.stop()
        subprocess.run(["umount", self.disk], capture_output=True)
        self.d.cleanup()

    def fill(self):
        filler = os.path.join(self.disk, "filler")
        with open(filler, "ab", buffering=0) as f:
            try:
                while True:
                    f.write(b"x" * 4096)
            except OSError:
                pass
        # The last partial block too.
        with open(filler, "ab", buffering=0) as f:
            try:
                while True:
                    f.write(b"x")
            except OSError:
                pass
        return filler

    def stored(self):
        with open(self.state) as f:
            return parse_ini(f.read())

    def test_full_disk_keeps_the_old_state_file_whole_and_hands_over_no_sms(self):
        d = self.d
        d.start()
        c = d.console()
        self.addCleanup(c.close)
        self.assertEqual(c.command("go b"), "now b\n")
        wait_for(lambda: "alert.b" in self.stored()[("State", "")]["alert"], what="alert.b stored")
        filler = self.fill()

        # Eight values of 600 bytes each outgrow the file's one block, so
        # each save needs room the disk does not have.
        self.assertEqual(c.command("big"), "big\n")
        self.assertEqual(c.command("go c"), "now c\n")
        d.wait_log("STATE is now ``alert.c")
        doc = self.stored()
        self.assertEqual(doc[("State", "")]["alert"].split(), ["alert.b"])
        self.assertNotIn(("Variables", ""), doc)

        # A message that cannot be written whole is not handed over.
        self.assertEqual(c.command("alarm"), "sent\n")
        line = d.wait_log("Couldn't write ``%s/composing/HOVANTRA_OUTG." % self.spool)[0]
        self.assertTrue(line.endswith("'': No space left on device"), line)
        self.assertEqual(c.command("go d"), "now d\n")  # the daemon goes on
        self.assertEqual(self.files("outgoing"), [])
        self.assertEqual(self.files("composing"), [])
        self.assertEqual([n for n in os.listdir(self.disk) if n.startswith("hovantra.state.")], [])

        os.unlink(filler)
        self.assertEqual(c.command("go e"), "now e\n")
        wait_for(lambda: "alert.e" in self.stored()[("State", "")]["alert"], what="alert.e stored")
        variables = self.stored()[("Variables", "")]
        self.assertEqual([variables.get("big%d" % n) for n in range(8)],
                         [big_value(n) for n in range(8)])
        self.assertEqual(c.command("alarm"), "sent\n")
        wait_for(lambda: len(self.files("outgoing")) == 1, what="the message after space came back")
        self.assertIsNone(d.process.poll())

    def files(self, sub):
        return sorted(os.listdir(os.path.join(self.spool, sub)))


if __name__ == "__main__":
    unittest.main()
