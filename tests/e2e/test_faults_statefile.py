"""The state file under kill -9 at random instants while the state machines
change state as fast as the daemon can go: after every kill the file loads
whole and holds one of the two states, and the next start resumes it."""
import os
import random
import shutil
import tempfile
import time
import unittest

from harness import Daemon, parse_ini

PADS = 40


def pad_value(i):
    return ("v%02d" % i) * 60


# A burst is one command whose event has a hundred subevents, each flipping
# machine alert between a and b; every flip rewrites the whole file, which
# the pads make several kilobytes long.
CONFIG = ("""[general]
log = {dir}/hovantra.log
state = @STATEDIR@/hovantra.state
defaultstate = alert.a
watchdog = 0
[console]
port = {console_port}
trusted = 127.0.0.1
"""
          + "".join("[variable pad%d]\nenable = yes\n" % i for i in range(PADS))
          + "[command fill]\naction = "
          + "\n ".join("@SET pad%d %s" % (i, pad_value(i)) for i in range(PADS))
          + "\nresponse = filled\n"
          + """[event flip]
fsm = alert
transit = alert.a -> alert.b
 alert.b -> alert.a
[event burst]
subevents = """ + "\n ".join("flip" for _ in range(100)) + """
[command burst]
event = burst
response = done
""")

STATES = ("alert.a", "alert.b")


def state_dir_parent():
    # A state change costs two fsyncs; on a memory file system they are
    # free, so thousands of changes fit into a few seconds.
    return "/dev/shm" if os.path.isdir("/dev/shm") else None


class StateFileUnderKill(unittest.TestCase):
    def setUp(self):
        self.state_dir = tempfile.mkdtemp(prefix="hovantra-state-", dir=state_dir_parent())
        self.d = Daemon(CONFIG.replace("@STATEDIR@", self.state_dir))
        self.path = os.path.join(self.state_dir, "hovantra.state")

    def tearDown(self):
        self.d.cleanup()
        shutil.rmtree(self.state_dir, ignore_errors=True)

    def check_file(self):
        """The file parses and holds a state and every pad whole; gives the
        state."""
        with open(self.path) as f:
            text = f.read()
        try:
            doc = parse_ini(text)
        except ValueError as e:
            self.fail("state file does not parse: %s\n%r" % (e, text[:400]))
        alert = doc.get(("State", ""), {}).get("alert", "").split()
        self.assertEqual(len(alert), 1, "alert in %r" % text[:400])
        self.assertIn(alert[0], STATES)
        variables = doc.get(("Variables", ""), {})
        for i in range(PADS):
            self.assertEqual(variables.get("pad%d" % i), pad_value(i),
                             "pad%d lost from a %d-byte file" % (i, len(text)))
        return alert[0]

    def temporaries(self):
        return [n for n in os.listdir(self.state_dir) if n != "hovantra.state"]

    def burst_and_kill(self, rng):
        """Keeps three consoles flipping and kills the daemon at a random
        instant after the first burst ended; gives the flips confirmed."""
        d = self.d
        consoles = [d.console() for _ in range(3)]
        for c in consoles:
            c.send("burst\n" * 20)
        consoles[0].read_until("done")
        time.sleep(rng.uniform(0.0, 0.15))
        d.process.kill()
        d.process.wait()
        d.stop()
        confirmed = 100
        for c in consoles:
            try:
                confirmed += 100 * c.read_all(timeout=2).count("done")
            except OSError:
                pass
            c.close()
        return confirmed

    def test_every_kill_leaves_a_whole_file_and_a_resumable_state(self):
        d = self.d
        rng = random.Random(os.getpid())
        d.start()
        c = d.console()
        self.assertEqual(c.command("fill"), "filled\n")
        c.close()
        self.assertEqual(self.check_file(), "alert.a")

        flips = 0
        for _ in range(20):
            flips += self.burst_and_kill(rng)
            stored = self.check_file()
            # One save can be cut short; its temporary is the only debris.
            self.assertLessEqual(len(self.temporaries()), 1, self.temporaries())
            d.start()
            mode = d.wait_log("starting in the mode")[0]
            self.assertEqual(mode.split()[-1], stored)
            self.assertEqual([l for l in d.log_lines()[d.mark:] if "state file" in l], [])
            for name in self.temporaries():
                os.unlink(os.path.join(self.state_dir, name))
        self.assertGreater(flips, 1000)

    # A save cut short by the kill leaves its temporary
    # (.hovantra.state.saving-XXXXXX) behind; the next start removes it, so crashes
    # never pile up stale files beside the state file.
    def test_stale_temporaries_do_not_pile_up(self):
        d = self.d
        rng = random.Random(os.getpid() + 1)
        d.start()
        for _ in range(40):
            self.burst_and_kill(rng)
            if len(self.temporaries()) > 1:
                break
            d.start()
        self.assertLessEqual(len(self.temporaries()), 1, self.temporaries())

SMALL = """[general]
log = {dir}/hovantra.log
state = @STATE@
defaultstate = alert.a
watchdog = 0
[console]
port = {console_port}
trusted = 127.0.0.1
[event flip]
fsm = alert
transit = alert.a -> alert.b
 alert.b -> alert.a
[command flip]
event = flip
response = done
"""


class WhatTheOperatorSetUp(unittest.TestCase):
    """The save keeps the operator's files, the file's mode, owner and
    symbolic link, and says when it cannot save."""

    def daemon(self, state):
        d = Daemon(SMALL.replace("@STATE@", state))
        self.addCleanup(d.cleanup)
        return d

    def flip(self, d, times=1):
        c = d.console()
        for _ in range(times):
            self.assertEqual(c.command("flip"), "done\n")
        c.close()

    def test_files_beside_the_state_file_survive_restarts(self):
        d = self.daemon("{dir}/hovantra.state")
        mine = ["hovantra.state.backup", "hovantra.state.before", "hovantra.state.a1B2c3"]
        for name in mine:
            with open(os.path.join(d.dir, name), "w") as f:
                f.write("mine\n")
        for _ in range(2):
            d.start()
            self.flip(d)
            d.stop()
        for name in mine:
            with open(os.path.join(d.dir, name)) as f:
                self.assertEqual(f.read(), "mine\n")

    def test_mode_owner_and_link_are_kept(self):
        d = self.daemon("{dir}/etc/hovantra.state")
        os.makedirs(os.path.join(d.dir, "etc"))
        os.makedirs(os.path.join(d.dir, "data"))
        link = os.path.join(d.dir, "etc", "hovantra.state")
        real = os.path.join(d.dir, "data", "hovantra.state")
        with open(real, "w") as f:
            f.write("[State ]\n\nalert = alert.b\n\n\n")
        os.chmod(real, 0o600)
        owner = (4321, 4322) if os.geteuid() == 0 else (os.getuid(), os.getgid())
        os.chown(real, *owner)
        os.symlink("../data/hovantra.state", link)
        d.start()
        self.assertEqual(d.wait_log("starting in the mode")[0].split()[-1], "alert.b")
        self.flip(d, 3)
        self.assertTrue(os.path.islink(link))
        st = os.stat(real)
        self.assertEqual(st.st_mode & 0o7777, 0o600)
        self.assertEqual((st.st_uid, st.st_gid), owner)
        with open(real) as f:
            self.assertEqual(parse_ini(f.read())[("State", "")]["alert"], "alert.a")
        self.assertEqual(sorted(os.listdir(os.path.join(d.dir, "data"))), ["hovantra.state"])

    def test_a_failing_save_is_logged_once_per_run(self):
        d = self.daemon("{dir}/state/hovantra.state")
        state_dir = os.path.join(d.dir, "state")
        os.makedirs(state_dir)
        d.start()
        self.flip(d)
        shutil.rmtree(state_dir)
        self.flip(d, 3)
        line = ("Cannot save the state file ``%s/hovantra.state'': No such file or directory"
                % state_dir)
        self.assertEqual([l for l in d.log_lines() if "Cannot save" in l], [line])
        # Saved again: the state in memory reaches the file, and a new run
        # of failures is told again.
        os.makedirs(state_dir)
        self.flip(d)
        with open(os.path.join(state_dir, "hovantra.state")) as f:
            self.assertEqual(parse_ini(f.read())[("State", "")]["alert"], "alert.b")
        shutil.rmtree(state_dir)
        self.flip(d, 2)
        self.assertEqual([l for l in d.log_lines() if "Cannot save" in l], [line, line])


if __name__ == "__main__":
    unittest.main()
