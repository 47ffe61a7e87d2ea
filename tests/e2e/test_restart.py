"""Restart in place, the watchdog and the process alarm."""
import os
import signal
import subprocess
import time
import unittest

from harness import DAEMON, Daemon, wait_for

CONFIG = """[general]
log = hovantra.log
state = hovantra.state
defaultstate = idle
watchdog = {watchdog}
[console]
port = {console_port}
trusted = 127.0.0.1
[webserver]
port = {web_port}
[event go]
transit = idle -> busy
[command go]
event = go
[command restart]
action = @RESTART
[command quit]
action = @QUIT
"""


def running_pid(_config_path):
    out = subprocess.run(["pgrep", "-f", "-n", "hovantra -c hovantra.ini"],
                         capture_output=True, text=True).stdout.split()
    return int(out[0]) if out else None


class RestartInPlace(unittest.TestCase):
    def test_daemon_started_by_relative_path_restarts_with_relative_files(self):
        # Relative configuration, log and state paths, a program path with a
        # slash in it, daemon mode: after the restart the new image must run
        # the same binary from the start directory and find the same files.
        with Daemon(CONFIG.replace("{watchdog}", "0")) as d:
            program = os.path.relpath(DAEMON, d.dir)
            self.assertIn("/", program)
            subprocess.run([program, "-c", "hovantra.ini"], cwd=d.dir, env=d.env(),
                           check=True, timeout=30)
            d.wait_log("starting in the mode")
            c = d.console()
            c.send("go\n")
            d.wait_log("STATE is now ``busy''")
            c.send("restart\n")
            lines = d.wait_log("Configuration: hovantra.ini", count=2, timeout=15)
            self.assertEqual(len(lines), 2)
            d.wait_log("starting in the mode busy", timeout=10)
            pid = wait_for(lambda: running_pid(d.config_path), what="the new daemon")
            self.assertEqual(os.readlink("/proc/%d/exe" % pid), os.path.realpath(DAEMON))
            with open("/proc/%d/cmdline" % pid, "rb") as f:
                argv = f.read().split(b"\0")[:-1]
            self.assertEqual(argv[1:], [b"-c", b"hovantra.ini"])
            self.assertEqual(argv[0], os.path.join(d.dir, program).encode())
            c.close()
            os.kill(pid, signal.SIGKILL)

    def test_foreground_restart_keeps_the_process(self):
        with Daemon(CONFIG.replace("{watchdog}", "0")) as d:
            d.start()
            pid = d.process.pid
            c = d.console()
            c.send("restart\n")
            d.wait_log("START=>", count=2, timeout=15)
            d.wait_log("starting in the mode", count=2, timeout=10)
            self.assertIsNone(d.process.poll())
            self.assertEqual(d.process.pid, pid)
            # Nothing but the standard descriptors and the new image's own
            # survived the exec: the console port is listening again.
            c2 = d.console()
            c2.send("quit\n")
            self.assertEqual(d.process.wait(timeout=10), 0)
            c.close()
            c2.close()

    def test_daemon_found_through_path_restarts_itself(self):
        with Daemon(CONFIG.replace("{watchdog}", "0")) as d:
            env = d.env()
            env["PATH"] = os.path.dirname(os.path.abspath(DAEMON)) + os.pathsep + env.get("PATH", "")
            d.mark = len(d.log_lines())
            d.process = subprocess.Popen(["hovantra", "-f", "-c", "hovantra.ini"], cwd=d.dir,
                                         env=env, stdout=subprocess.PIPE,
                                         stderr=subprocess.PIPE)
            d.wait_log("starting in the mode")
            c = d.console()
            c.send("go\n")
            d.wait_log("STATE is now ``busy''")
            c.send("restart\n")
            d.wait_log("starting in the mode busy", timeout=15)
            self.assertIsNone(d.process.poll())
            with open("/proc/%d/cmdline" % d.process.pid, "rb") as f:
                argv = f.read().split(b"\0")[:-1]
            self.assertEqual(argv, [b"hovantra", b"-f", b"-c", b"hovantra.ini"])
            self.assertEqual([l for l in d.log_lines() if "Restarting" in l], [])
            c.close()


class Watchdog(unittest.TestCase):
    def test_ticks_and_alarm_ends_a_stalled_loop(self):
        with Daemon(CONFIG.replace("{watchdog}", "1")) as d:
            d.start()
            d.wait_log("Watchdog interval is 1000 milliseconds")
            d.wait_log("Watchdog: I'm still alive", count=2, timeout=5)
            # A stopped process stands for a stalled loop: the alarm two
            # intervals ahead ends it once it runs again.
            os.kill(d.process.pid, signal.SIGSTOP)
            time.sleep(2.5)
            os.kill(d.process.pid, signal.SIGCONT)
            self.assertEqual(d.process.wait(timeout=10), -signal.SIGALRM)

    def test_negative_interval_is_refused(self):
        with Daemon(CONFIG.replace("{watchdog}", "-1")) as d:
            d.start()
            d.wait_log("Negative watchdog interval -1 ignored, running without watchdog")
            c = d.console()
            c.send("go\n")
            d.wait_log("STATE is now ``busy''")
            c.close()
            self.assertFalse([l for l in d.log_lines() if "still alive" in l])

    def test_interval_past_the_timer_range_is_refused(self):
        with Daemon(CONFIG.replace("{watchdog}", "2147484")) as d:
            d.start()
            d.wait_log("Watchdog interval 2147484 too large (at most 2147483 seconds), "
                       "running without watchdog")
            c = d.console()
            c.send("go\n")
            d.wait_log("STATE is now ``busy''")
            c.close()
            # Without the refusal each tick would resume the flood guard.
            self.assertFalse([l for l in d.log_lines() if "Watchdog" in l and "too large" not in l])

    def test_no_watchdog_with_zero(self):
        with Daemon(CONFIG.replace("{watchdog}", "0")) as d:
            d.start()
            self.assertFalse([l for l in d.log_lines() if "Watchdog" in l])


if __name__ == "__main__":
    unittest.main()
