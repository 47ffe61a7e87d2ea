"""The installed tree: the systemd unit names files that the installation
put there, a second installation keeps the administrator's configuration,
and the configuration it installs starts a working daemon."""
import os
import re
import shutil
import subprocess
import tempfile
import unittest

from harness import BUILD, Daemon


def install(destdir):
    env = dict(os.environ, DESTDIR=destdir)
    return subprocess.run(["cmake", "--install", BUILD], env=env, check=True,
                          capture_output=True, text=True).stdout


class InstalledTree(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="hovantra-install-")
        self.addCleanup(shutil.rmtree, self.root, True)
        install(self.root)

    def path(self, absolute):
        return os.path.join(self.root, absolute.lstrip("/"))

    def unit(self):
        units = [os.path.join(d, f) for d, _, files in os.walk(self.root)
                 for f in files if f == "hovantra.service"]
        self.assertEqual(len(units), 1, units)
        with open(units[0]) as f:
            return f.read()

    def exec_start(self):
        line = re.search(r"^ExecStart=(.*)$", self.unit(), re.M).group(1)
        argv = line.split()
        self.assertEqual(argv[1:3], ["-f", "-c"])
        return argv[0], argv[3]

    def test_the_unit_starts_the_installed_program_on_the_installed_configuration(self):
        program, config = self.exec_start()
        self.assertTrue(os.access(self.path(program), os.X_OK), program)
        self.assertTrue(os.path.isfile(self.path(config)), config)
        self.assertTrue(os.path.isfile(self.path(config) + ".example"))
        unit = self.unit()
        self.assertIn("Restart=on-failure", unit)
        self.assertIn("StateDirectory=hovantra", unit)
        self.assertIn("LogsDirectory=hovantra", unit)

    def test_a_second_installation_keeps_the_edited_configuration(self):
        _, config = self.exec_start()
        with open(self.path(config), "a") as f:
            f.write("# edited by the administrator\n")
        out = install(self.root)
        self.assertIn("Kept: " + self.path(config), out)
        with open(self.path(config)) as f:
            self.assertTrue(f.read().endswith("# edited by the administrator\n"))

    def test_the_installed_configuration_runs(self):
        _, config = self.exec_start()
        with open(self.path(config)) as f:
            text = f.read()
        # Its own directories and ports, as a template for the harness.
        text = text.replace("{", "{{").replace("}", "}}")
        text = text.replace("/var/lib/hovantra", "{dir}").replace("/var/log/hovantra", "{dir}")
        text = text.replace("port = 7280", "port = {console_port}")
        text = text.replace("port = 7281", "port = {web_port}")
        with Daemon(text) as d:
            d.start()
            c = d.console()
            self.assertEqual(c.read_until("\n"), "hovantra console. Try: help\n")
            self.assertTrue(c.command("status").startswith("security.disarmed "))
            self.assertEqual(c.command("arm"), "arming: exit delay of 30 seconds\n")
            d.wait_log("STATE is now ``security.exit_delay ''")
            self.assertIn("alert = security.exit_delay", d.state_file())
            c.close()


if __name__ == "__main__":
    unittest.main()
