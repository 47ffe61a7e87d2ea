"""Command line, configuration errors, the start lines and daemon mode."""
import os
import re
import socket
import subprocess
import tempfile
import unittest

from harness import DAEMON, Daemon, LOG_PREFIX, wait_for

USAGE = [
    "usage: hovantra <options>",
    "  options:  -c <file>       set the configuration file",
    "            -l <file>       set the log file",
    "            -f              (foreground) don't daemonize",
]

MINIMAL = """[general]
name = {name}
log = {dir}/hovantra.log
state = {dir}/hovantra.state
watchdog = 0
[console]
port = {console_port}
[webserver]
port = {web_port}
"""


def run(*args, cwd=None):
    return subprocess.run([DAEMON] + list(args), capture_output=True, text=True,
                          cwd=cwd, timeout=30)


class CommandLine(unittest.TestCase):
    def check_usage(self, result):
        lines = result.stdout.split("\n")
        self.assertTrue(lines[0].startswith("hovantra vers. 1.65"), lines[0])
        self.assertEqual(lines[1:5], USAGE)
        self.assertEqual(result.returncode, 1)

    def test_errors_print_usage_and_message(self):
        cases = [(["-c"], "``-c'' requires parameter"),
                 (["-l"], "``-l'' requires parameter"),
                 (["hovantra.ini"], "unknown key ``hovantra.ini''"),
                 (["-x"], "unknown key ``-x''")]
        for args, message in cases:
            result = run(*args)
            self.check_usage(result)
            lines = result.stderr.strip("\n").split("\n")
            self.assertEqual(len(lines), 1, result.stderr)
            self.assertRegex(lines[0], LOG_PREFIX.pattern + re.escape(message) + "$")

    def test_duplicate_log_goes_into_first_log_file(self):
        with tempfile.TemporaryDirectory() as d:
            first, second = os.path.join(d, "one.log"), os.path.join(d, "two.log")
            result = run("-l", first, "-l", second)
            self.check_usage(result)
            self.assertEqual(result.stderr, "")
            with open(first) as f:
                text = f.read()
            self.assertRegex(text, "^" + LOG_PREFIX.pattern + "duplicate ``-l''\n$")
            self.assertFalse(os.path.exists(second))

    def test_configuration_errors(self):
        cases = [("[general]\nname=x\n", 2, "invalid dictionary line syntax"),
                 ("key = v\n", 1, "data outside of a section"),
                 ("[a b c]\n", 1, "invalid header syntax"),
                 ("  text\n", 1, "data outside of a parameter"),
                 ("[g]\nk = " + "x" * 1100 + "\n", 2, "line too long (max 1024)")]
        with tempfile.TemporaryDirectory() as d:
            path = os.path.join(d, "bad.ini")
            for text, line, error in cases:
                with open(path, "w") as f:
                    f.write(text)
                # Foreground or not, a bad configuration ends before any fork.
                for extra in ([], ["-f"]):
                    result = run("-c", path, *extra)
                    self.assertEqual(result.returncode, 1)
                    lines = [LOG_PREFIX.sub("", l) for l in result.stderr.strip().split("\n")]
                    self.assertEqual(lines, ["%s:%d: %s" % (path, line, error),
                                             "%s: error loading configuration file" % path])
            result = run("-c", os.path.join(d, "missing.ini"))
            self.assertIn(":-1: couldn't open the file", result.stderr)
            self.assertEqual(result.returncode, 1)

    def test_last_configuration_wins(self):
        with Daemon(MINIMAL.replace("{name}", "second")) as d:
            first = os.path.join(d.dir, "first.ini")
            with open(first, "w") as f:
                f.write("[general]\nname = first\nlog = %s/first.log\n" % d.dir)
            d.process = subprocess.Popen([DAEMON, "-f", "-c", first, "-c", d.config_path],
                                         cwd=d.dir, env=d.env(), stdout=subprocess.PIPE,
                                         stderr=subprocess.PIPE)
            d.wait_log("System name: second")
            self.assertFalse(os.path.exists(os.path.join(d.dir, "first.log")))


class StartLines(unittest.TestCase):
    def test_start_lines_in_order(self):
        with Daemon(MINIMAL.replace("{name}", "house")) as d:
            d.start()
            lines = d.log_lines()
            self.assertRegex(lines[0], r"^START=> Hovantra vers\. 1\.65 compiled at "
                             r"[A-Z][a-z]{2} [ 0-9][0-9] [0-9]{4} [0-9:]{8} by \S+$")
            self.assertEqual(lines[1], "Configuration: " + d.config_path)
            self.assertEqual(lines[2], "System name: house")
            with open(d.log_path) as f:
                raw = f.readline()
            self.assertRegex(raw, LOG_PREFIX.pattern)
            self.assertIn("  [0] START=>", raw)

    def test_unnamed_system(self):
        with Daemon(MINIMAL.replace("name = {name}\n", "")) as d:
            d.start()
            self.assertIn("System name: *NONAME*", d.log_lines())

    def test_log_is_appended(self):
        with Daemon(MINIMAL.replace("{name}", "x")) as d:
            with open(d.log_path, "w") as f:
                f.write("earlier line\n")
            d.start()
            with open(d.log_path) as f:
                self.assertEqual(f.readline(), "earlier line\n")


class PortsInUse(unittest.TestCase):
    def test_each_interface_that_cannot_listen_is_logged(self):
        with Daemon(MINIMAL.replace("{name}", "busy")) as d:
            taken = []
            for port in (d.console_port, d.web_port):
                s = socket.socket()
                s.bind(("127.0.0.1", port))
                s.listen(1)
                taken.append(s)
            try:
                d.start()
                d.wait_log("Cannot listen for the console on ``127.0.0.1:%d'': "
                           "Address already in use" % d.console_port)
                d.wait_log("Cannot listen for the web server on ``127.0.0.1:%d'': "
                           "Address already in use" % d.web_port)
                self.assertIsNone(d.process.poll())
            finally:
                for s in taken:
                    s.close()


class RealUsb(unittest.TestCase):
    def test_real_bus_without_boards(self):
        # Without the simulation the board library walks the machine's real
        # USB buses through libusb; there is no board here.
        with Daemon(MINIMAL.replace("{name}", "usb") + "[device 1a2b]\noutput:0 = x\n") as d:
            env = d.env()
            del env["HOVANTRA_SIMULATED_BOARDS"]
            d.env = lambda: env
            d.start()
            self.assertIn("QTR0xx device 1a2b not found, check connections", d.log_lines())


class DaemonMode(unittest.TestCase):
    def test_detaches_and_keeps_running(self):
        with Daemon(MINIMAL.replace("{name}", "bg")) as d:
            result = subprocess.run([DAEMON, "-c", d.config_path], env=d.env(),
                                    capture_output=True, timeout=30)
            self.assertEqual(result.returncode, 0)
            lines = d.wait_log("starting in the mode")
            pid = int(subprocess.run(["pgrep", "-f", "-n", "hovantra -c " + d.config_path],
                                     capture_output=True, text=True).stdout.split()[0])
            try:
                self.assertEqual(os.readlink("/proc/%d/cwd" % pid), "/")
                self.assertEqual(os.getsid(pid), pid)
                self.assertEqual(os.readlink("/proc/%d/fd/0" % pid), "/dev/null")
            finally:
                os.kill(pid, 9)


if __name__ == "__main__":
    unittest.main()
