"""The small house of hovantra.ini(5)'s EXAMPLES, as an administrator
would take it from the manual: it passes the checker and protects the
house on simulated boards (short delays instead of the manual's)."""
import os
import re
import subprocess
import unittest

from harness import BUILD, Daemon, wait_for

SOURCE = os.environ.get("HOVANTRA_SOURCE_DIR",
                        os.path.join(os.path.dirname(__file__), "..", ".."))


def manual_house():
    with open(os.path.join(SOURCE, "packaging/hovantra.ini.5")) as f:
        page = f.read()
    example = re.search(r"^\.SH EXAMPLES\n.*?^\.nf\n(.*?)^\.fi\n", page, re.M | re.S).group(1)
    text = example.replace("{", "{{").replace("}", "}}")
    for path, placeholder in (("/var/lib/hovantra/sms_done", "{spool}/proceeded"),
                              ("/var/lib/hovantra/sms", "{spool}/composing"),
                              ("/var/spool/sms/outgoing", "{spool}/outgoing"),
                              ("/var/lib/hovantra", "{dir}")):
        text = text.replace(path, placeholder)
    return text + "\n[console]\nport = {console_port}\ntrusted = 127.0.0.1\n" \
                  "[webserver]\nport = {web_port}\n"


def read(path):
    with open(path) as f:
        return f.read()


BOARDS = [("add", "house", "1:1:1a2b"), ("set", "house", "inputs", "44"),
          ("add", "sensors", "1:1:1a2c"), ("temp", "sensors", "28582c1f000000b6", "20")]


class ManualHouse(unittest.TestCase):
    def test_it_passes_the_checker(self):
        d = Daemon(manual_house())
        self.addCleanup(d.cleanup)
        r = subprocess.run([os.path.join(BUILD, "hovantra-check"), "-c", d.config_path],
                           capture_output=True, text=True)
        self.assertEqual((r.returncode, r.stdout), (0, ""))

    def test_it_protects_the_house_and_heats_the_living_room(self):
        text = manual_house().replace("30:security.armed", "1:security.armed") \
                             .replace("20:security.alarm", "1:security.alarm")
        with Daemon(text, boards=BOARDS) as d:
            d.start()
            c = d.console()
            # A window open: arming is refused.
            d.board("close", "house", 2)
            d.wait_log("Processing event ``window_open kitchen''")
            self.assertEqual(c.command("arm"), "security is disarmed\n")
            d.board("open", "house", 2)
            d.wait_log("Processing event ``window_closed kitchen''")
            self.assertEqual(c.command("arm"), "security is exit_delay\n")
            d.wait_log("YYY newstate security.armed ")
            # The back door opens: entry delay, then the alarm texts both phones.
            d.board("close", "house", 1)
            d.wait_log("YYY newstate security.alarm ")
            outgoing = os.path.join(d.spool, "outgoing")
            texts = wait_for(lambda: len(os.listdir(outgoing)) == 2 and
                             sorted(read(os.path.join(outgoing, n))
                                    for n in os.listdir(outgoing)), what="two SMS")
            self.assertEqual([t.split("\n")[0] for t in texts],
                             ["To: +10000000001", "To: +10000000002"])
            self.assertTrue(all("ALARM at house: " in t for t in texts))
            # The living room cools down: the heating zone switches the boiler.
            d.board("temp", "sensors", "28582c1f000000b6", "18")
            d.wait_log("YYY newstate heat.on ")
            wait_for(lambda: "2:on" in d.board("outputs", "house"), what="the boiler on")
            c.close()


if __name__ == "__main__":
    unittest.main()
