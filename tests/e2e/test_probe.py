"""hovantra-probe on simulated boards: the sections it prints name the
boards and sensors so that the daemon finds them, and probing takes no
input change away from a running daemon."""
import os
import re
import shutil
import subprocess
import tempfile
import unittest

from harness import BOARD_TOOL, BUILD

PROBE = os.path.join(BUILD, "hovantra-probe")
CHECK = os.path.join(BUILD, "hovantra-check")


class Probe(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="hovantra-probe-")
        self.addCleanup(shutil.rmtree, self.dir, True)
        self.env = dict(os.environ, HOVANTRA_SIMULATED_BOARDS=self.dir)

    def board(self, *args):
        subprocess.run([BOARD_TOOL] + list(args), env=self.env, check=True,
                       capture_output=True)

    def probe(self):
        r = subprocess.run([PROBE], env=self.env, capture_output=True, text=True)
        return r.returncode, r.stdout, r.stderr

    def test_no_board(self):
        status, out, err = self.probe()
        self.assertEqual((status, out), (1, ""))
        self.assertIn("no boards found", err)

    def test_sections_for_boards_and_sensors(self):
        self.board("add", "house", "1:1:1a2b")
        self.board("set", "house", "inputs", "40")  # inputs 4..7
        self.board("close", "house", "5")
        self.board("temp", "house", "28582c1f000000b6", "21.5")
        self.board("sensor", "house", "2800000000000001", "0x8000")
        self.board("add", "old", "1:1:7", "2120202")
        self.board("legacy", "museum", "1:1:5")
        status, out, _ = self.probe()
        self.assertEqual(status, 0, out)
        # Boards in bus order: house, museum, old.
        self.assertEqual(re.findall(r"^\[device (\w+)\]$", out, re.M), ["1a2b", "7"])
        house = out[out.index("[device 1a2b]"):out.index("# A board")]
        self.assertIn("# Board 1a2b: serial 1:1:1a2b, firmware version 4000001, "
                      "new status layout\n# inputs 4 to 7\n", out)
        # Outputs 4..7 share their status bits with inputs 4..7.
        self.assertEqual(re.findall(r"^# output:(\d+) ", house, re.M),
                         ["0", "1", "2", "3", "8", "9", "10", "11"])
        self.assertIn("# input:5 = NAME    (contact now closed)\n", house)
        self.assertIn("# input:4 = NAME    (contact now open)\n", house)
        self.assertNotIn("# input:3 ", house)
        self.assertIn("onewire = yes\n", house)
        self.assertIn("# sensor on board 1a2b: 21.50 degrees now\n"
                      "[temp_sensor sensor1]\nid = B6000000" "1F2C5828\n", house)
        self.assertIn("# sensor on board 1a2b: no reading now\n"
                      "[temp_sensor sensor2]\nid = 0100000000000028\n", house)
        self.assertIn("too old for hovantra", out)
        old = out[out.index("[device 7]"):]
        self.assertNotIn("onewire", old)  # firmware before 1-Wire

    def test_the_printed_sections_configure_the_daemon(self):
        self.board("add", "house", "1:1:2")
        self.board("temp", "house", "28000000000000a1", "19")
        _, out, _ = self.probe()
        sections = out.replace("# input:0 = NAME", "input:0 = door") \
                      .replace("# input_on:0 = EVENT", "input_on:0 = door_open")
        config = os.path.join(self.dir, "h.ini")
        with open(config, "w") as f:
            f.write(sections + "[event door_open]\n[webserver]\nusers = a:b\n"
                    "port = 0\n[console]\nport = 0\n")
        r = subprocess.run([CHECK, "-c", config], capture_output=True, text=True)
        self.assertEqual((r.returncode, r.stdout), (0, ""))
        # The daemon reads the sensor under the printed id.
        log = os.path.join(self.dir, "h.log")
        with open(config, "a") as f:
            f.write("[general]\nlog = %s\nstate = %s/h.state\n"
                    "[command t]\nresponse = %%temp:sensor1%%\n" % (log, self.dir))
        d = subprocess.Popen([os.path.join(BUILD, "hovantra"), "-f", "-c", config],
                             env=self.env, cwd=self.dir,
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            from harness import wait_for
            wait_for(lambda: os.path.exists(log) and
                     "sensor1" in open(log).read() and
                     "QTR0xx 2 is [1:1:2], vers. 4000001, good" in open(log).read(),
                     what="the board and the sensor")
        finally:
            d.terminate()
            d.wait(10)

    def test_transfer_faults_are_said_not_guessed(self):
        self.board("add", "house", "1:1:1")
        self.board("fault", "house", "timeouts", "1")  # the version read
        status, out, _ = self.probe()
        self.assertEqual(status, 0)
        self.assertIn("# The firmware version could not be read: probe again\n", out)
        self.board("fault", "house", "stall", "7")
        _, out, _ = self.probe()
        self.assertIn("onewire = yes\n\n# 1-Wire readings failed: ", out)
        self.assertNotIn("[temp_sensor", out)

    def test_probing_leaves_the_counters_to_the_daemon(self):
        self.board("add", "house", "1:1:1")
        self.board("pulse", "house", "2", "3")
        before = subprocess.run([BOARD_TOOL, "show", "house"], env=self.env,
                                capture_output=True, text=True).stdout
        self.probe()
        after = subprocess.run([BOARD_TOOL, "show", "house"], env=self.env,
                               capture_output=True, text=True).stdout
        counters = re.compile(r"^  inputs .*$", re.M)
        self.assertEqual(counters.search(before).group(0),
                         counters.search(after).group(0))
        self.assertIn("2:open/6", counters.search(after).group(0))


if __name__ == "__main__":
    unittest.main()
