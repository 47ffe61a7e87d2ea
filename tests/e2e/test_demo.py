"""The demo as its tour uses it: every command answers with the state the
machine actually entered, the alarm page names what set it off, and the
console client talks to the console."""
import json
import os
import subprocess
import unittest
import urllib.request

from harness import BUILD, Daemon

SOURCE = os.environ.get("HOVANTRA_SOURCE_DIR",
                        os.path.join(os.path.dirname(__file__), "..", ".."))


def demo_config():
    """The demo configuration as scripts/demo runs it, on the harness's
    ports and directories, with a one-second exit delay."""
    with open(os.path.join(SOURCE, "examples/demo/hovantra.ini")) as f:
        text = f.read().replace("{", "{{").replace("}", "}}")
    text = text.replace("/tmp/hovantra-demo/sms", "{spool}").replace("/tmp/hovantra-demo", "{dir}")
    text = text.replace("path = www/", "path = %s/examples/demo/www/" % os.path.abspath(SOURCE))
    text = text.replace("port = 7280", "port = {console_port}")
    text = text.replace("port = 7281", "port = {web_port}")
    assert "transit = 10:security.armed" in text
    return text.replace("transit = 10:security.armed", "transit = 1:security.armed")


BOARDS = [("add", "house", "1:1:1"), ("set", "house", "inputs", "44"),
          ("add", "heating", "1:1:2"), ("temp", "heating", "28000000000000A1", "22")]


class Demo(unittest.TestCase):
    def setUp(self):
        self.d = Daemon(demo_config(), boards=BOARDS)
        self.addCleanup(self.d.cleanup)
        self.d.start()
        self.c = self.d.console()
        self.addCleanup(self.c.close)
        self.c.read_until("Try: help\n")

    def command(self, line):
        return self.c.command(line).strip()

    def web(self, path):
        base = "http://127.0.0.1:%d" % self.d.web_port
        passwords = urllib.request.HTTPPasswordMgrWithDefaultRealm()
        passwords.add_password(None, base, "demo", "demo")
        opener = urllib.request.build_opener(urllib.request.HTTPDigestAuthHandler(passwords))
        return opener.open(base + path, timeout=10).read().decode()

    def arm_until_armed(self):
        self.assertEqual(self.command("arm"), "arming: exit delay of 10 seconds")
        self.d.wait_log("YYY newstate security.armed ")

    def test_arm_answers_with_what_the_machine_did(self):
        self.d.board("close", "house", 1)  # the window opens
        self.d.wait_log("Processing event ``window_open''")
        self.assertEqual(self.command("arm"), "arming refused: not ready, window open")
        self.assertTrue(self.command("status").startswith("heat.eco security.disarmed"))
        self.d.board("open", "house", 1)
        self.d.wait_log("Processing event ``window_closed''")
        self.assertEqual(self.command("arm"), "arming: exit delay of 10 seconds")
        self.assertEqual(self.command("arm"), "not arming: security is exit_delay")
        self.d.wait_log("YYY newstate security.armed ")
        self.assertEqual(self.command("arm"), "not arming: security is armed")
        self.assertEqual(self.command("disarm"), "security is disarmed")

    def test_the_alarm_page_names_what_set_it_off(self):
        self.arm_until_armed()
        self.d.board("close", "house", 0)  # the front door opens
        self.d.wait_log("YYY newstate security.entry_delay ")
        page = self.web("/")
        self.assertIn('<p class="cause on-entry_delay" id="cause">Set off by: door front</p>', page)
        state = json.loads(self.web("/state.json"))
        self.assertEqual((state["security"], state["trigger"], state["front_door"]),
                         ("entry_delay", "door front", "open"))
        self.assertEqual(self.command("disarm"), "security is disarmed")
        state = json.loads(self.web("/state.json"))
        self.assertEqual((state["security"], state["trigger"]), ("disarmed", ""))
        # The control page refreshes to a fresh form, like the status page.
        self.assertIn('<meta http-equiv="refresh" content="10; url=/ctrl">', self.web("/ctrl"))

    def test_arming_by_sms_answers_the_phone(self):
        self.d.sms("deliver", "+100200300", "&p secret &a arm")
        self.d.wait_log("YYY newstate security.exit_delay ")
        outgoing = os.path.join(self.d.spool, "outgoing")

        def answer():
            for name in os.listdir(outgoing):
                with open(os.path.join(outgoing, name)) as f:
                    return f.read()
        from harness import wait_for
        text = wait_for(answer, what="the answer SMS")
        self.assertIn("To: +100200300\n", text)
        self.assertTrue(text.endswith("\narming: exit delay of 10 seconds"), text)

    def test_the_console_client(self):
        r = subprocess.run([os.path.join(SOURCE, "tools/hovantra-console"),
                            "-c", self.d.config_path],
                           input="status\ntarget 23\n\n", capture_output=True,
                           text=True, timeout=30)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn("hovantra demo console (trusted). Try: help", r.stdout)
        self.assertRegex(r.stdout, r"heat\.eco security\.disarmed +at \d{8} \d\d:\d\d; "
                                   r"door closed, living 22 C, target 21\n")
        self.assertIn("target is now 23\n", r.stdout)
        self.assertIn("[connection closed]", r.stdout)


if __name__ == "__main__":
    unittest.main()
