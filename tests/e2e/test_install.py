"""The installed tree and the .deb: the systemd unit names files that the
installation put there, a second installation keeps the administrator's
configuration, the configurations it installs pass the checker and start a
working daemon with the styled web interface, and the package is named,
laid out and scripted as Debian expects."""
import json
import os
import re
import shutil
import subprocess
import tempfile
import unittest
import urllib.error
import urllib.request

from harness import BUILD, Daemon, free_port

SOURCE = os.environ.get("HOVANTRA_SOURCE_DIR",
                        os.path.join(os.path.dirname(__file__), "..", ".."))


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

    def installed_config(self, name, users=False):
        """An installed configuration moved into this tree, on free ports."""
        _, config = self.exec_start()
        with open(self.path(os.path.join(os.path.dirname(config), name))) as f:
            text = f.read()
        for sub in ("var/lib/hovantra/sms", "var/lib/hovantra/sms_done",
                    "var/spool/sms/incoming", "var/spool/sms/outgoing",
                    "var/spool/sms/failed", "var/log/hovantra"):
            os.makedirs(self.path(sub), exist_ok=True)
        for prefix in ("/var/lib/hovantra", "/var/log/hovantra", "/var/spool/sms",
                       "/usr/share/hovantra"):
            text = text.replace(prefix, self.path(prefix))
        self.console_port, self.web_port = free_port(), free_port()
        text = text.replace("port = 7280", "port = %d" % self.console_port)
        text = text.replace("port = 7281", "port = %d" % self.web_port)
        if users:
            text = text.replace("# users = admin:choose-a-password", "users = admin:pw")
        path = os.path.join(self.root, "moved-" + name)
        with open(path, "w") as f:
            f.write(text)
        return path

    def check(self, config):
        program = self.path(re.search(r"^ExecStartPre=(\S+)", self.unit(), re.M).group(1))
        r = subprocess.run([program, "-c", config], capture_output=True, text=True)
        return r.returncode, r.stdout

    def test_the_unit_checks_the_configuration_before_it_starts(self):
        program, config = self.exec_start()
        pre = re.search(r"^ExecStartPre=(.*)$", self.unit(), re.M).group(1).split()
        self.assertEqual(pre, [os.path.join(os.path.dirname(program), "hovantra-check"),
                               "-e", "-c", config])
        self.assertTrue(os.access(self.path(pre[0]), os.X_OK))

    def test_tools_pages_manuals_and_copyright_are_installed(self):
        program, _ = self.exec_start()
        sbin = os.path.dirname(program)
        for tool in ("hovantra-check", "hovantra-probe"):
            self.assertTrue(os.access(self.path(os.path.join(sbin, tool)), os.X_OK), tool)
        prefix = os.path.dirname(sbin)
        self.assertTrue(os.access(self.path(prefix + "/bin/hovantra-console"), os.X_OK))
        for page in ("man8/hovantra.8.gz", "man8/hovantra-check.8.gz",
                     "man8/hovantra-probe.8.gz", "man1/hovantra-console.1.gz",
                     "man5/hovantra.ini.5.gz"):
            with open(self.path(prefix + "/share/man/" + page), "rb") as f:
                self.assertEqual(f.read(2), b"\x1f\x8b", page)
        for doc in ("copyright", "changelog.gz"):
            self.assertTrue(os.path.isfile(self.path(prefix + "/share/doc/hovantra/" + doc)))
        for asset in ("style.css", "icon.svg"):
            self.assertTrue(os.path.isfile(self.path(prefix + "/share/hovantra/www/" + asset)))

    def test_the_installed_configurations_pass_the_checker(self):
        status, out = self.check(self.installed_config("hovantra.ini"))
        self.assertEqual(status, 0, out)
        self.assertEqual(len(out.splitlines()), 1, out)  # the note on web users
        self.assertIn("note: webserver has no users yet", out)
        status, out = self.check(self.installed_config("hovantra.ini.example"))
        self.assertEqual((status, out), (0, ""))

    def test_the_installed_web_interface_and_its_json_page(self):
        config = self.installed_config("hovantra.ini", users=True)
        text = open(config).read().replace("{", "{{").replace("}", "}}")
        for prefix in ("/var/lib/hovantra", "/var/log/hovantra"):
            text = text.replace(self.path(prefix), "{dir}")
        with Daemon(text, boards=[("add", "house", "1:1:1")]) as d:
            d.start()
            passwords = urllib.request.HTTPPasswordMgrWithDefaultRealm()
            base = "http://127.0.0.1:%d" % self.web_port
            passwords.add_password(None, base, "admin", "pw")
            opener = urllib.request.build_opener(
                urllib.request.HTTPDigestAuthHandler(passwords))
            # Without the password: the styled page a browser shows when
            # its user gives up.
            with self.assertRaises(urllib.error.HTTPError) as refused:
                urllib.request.urlopen(base + "/", timeout=10)
            self.assertEqual(refused.exception.code, 401)
            page = refused.exception.read().decode()
            self.assertIn('<link rel="stylesheet" href="/style.css">', page)
            self.assertIn("<h2>Password needed</h2>", page)
            page = opener.open(base + "/", timeout=10).read().decode()
            self.assertIn('<link rel="stylesheet" href="/style.css">', page)
            self.assertIn('id="security">disarmed<', page)
            css = urllib.request.urlopen(base + "/style.css", timeout=10)
            self.assertEqual(css.headers["Content-Type"], "text/css")
            self.assertIn(b".cause", css.read())
            answer = opener.open(base + "/ctrl", data=b"command=arm", timeout=10).read().decode()
            self.assertIn('<pre id="answer">arming: exit delay of 30 seconds</pre>', answer)
            self.assertIn('content="30; url=/ctrl"', answer)
            state = json.loads(opener.open(base + "/state.json", timeout=10).read())
            self.assertEqual((state["security"], state["front_door"], state["trigger"]),
                             ("exit_delay", "closed", ""))

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
            self.assertEqual(c.command("arm"), "not arming: security is exit_delay\n")
            c.close()


class DebianPackage(unittest.TestCase):
    """The .deb as cpack builds it; lintian judges it where it is installed
    (scripts/test installs it)."""

    @classmethod
    def setUpClass(cls):
        cls.out = tempfile.mkdtemp(prefix="hovantra-deb-")
        subprocess.run(["cpack", "--config", os.path.join(BUILD, "CPackConfig.cmake"),
                        "-B", cls.out], check=True, capture_output=True, timeout=600)
        debs = [f for f in os.listdir(cls.out) if f.endswith(".deb")]
        assert len(debs) == 1, debs
        cls.deb = os.path.join(cls.out, debs[0])

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.out, True)

    def field(self, name):
        return subprocess.run(["dpkg-deb", "-f", self.deb, name], check=True,
                              capture_output=True, text=True).stdout.strip()

    def test_named_as_debian_names_packages(self):
        self.assertEqual(os.path.basename(self.deb), "hovantra_%s_%s.deb"
                         % (self.field("Version"), self.field("Architecture")))

    def test_recommends_the_library_loaded_at_run_time(self):
        # libmosquitto is opened only when a client is configured, so the
        # automatic dependencies cannot see it.
        self.assertIn("libmosquitto1", self.field("Recommends"))
        self.assertIn("libc6", self.field("Depends"))

    def test_maintainer_scripts_keep_the_data_until_purge(self):
        with tempfile.TemporaryDirectory() as control:
            subprocess.run(["dpkg-deb", "-e", self.deb, control], check=True)
            self.assertEqual(sorted(os.listdir(control)),
                             ["conffiles", "control", "md5sums", "postinst", "postrm", "prerm"])
            with open(os.path.join(control, "prerm")) as f:
                self.assertRegex(f.read(), r"remove.*\n.*stop hovantra.service")
            with open(os.path.join(control, "postrm")) as f:
                postrm = f.read()
            self.assertIn("disable hovantra.service", postrm)
            # Removing the data is reached only on purge.
            purge = postrm.index('if [ "$1" = purge ]')
            self.assertGreater(postrm.index("rm -rf /var/lib/hovantra"), purge)
            with open(os.path.join(control, "conffiles")) as f:
                self.assertIn("/etc/hovantra/hovantra.ini\n", f.read())

    def test_lintian_finds_no_error(self):
        if not shutil.which("lintian"):
            if os.environ.get("CI"):
                self.fail("lintian is not installed")
            self.skipTest("lintian is not installed")
        r = subprocess.run(["lintian", "--fail-on", "error", self.deb],
                           capture_output=True, text=True, timeout=600)
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)


if __name__ == "__main__":
    unittest.main()
