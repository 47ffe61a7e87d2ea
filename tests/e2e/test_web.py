"""The web interface with real clients: Python's urllib Digest handler and
curl, and a hand-made client for the parts of Digest authentication a
library does not show (nonces, stale challenges, session lifetime)."""
import hashlib
import re
import shutil
import subprocess
import time
import unittest
import urllib.error
import urllib.parse
import urllib.request

from harness import Daemon, connect, http_get

CONFIG = """[general]
log = {dir}/hovantra.log
state = {dir}/hovantra.state
defaultstate = security.disarmed
watchdog = 0
[console]
port = {console_port}
[webserver]
port = {web_port}
realm = house
users = alice:wonder, bob:builder
[webpage /]
type = page
content = <p>%stateof:security%</p>
[webpage /ctrl]
type = command
content = <form method="post"></form>
response = <pre>%cmdresponse%</pre>
[event arm]
fsm = security
transit = security.disarmed -> security.armed
[command arm]
event = arm
response = armed
"""

# Web sessions live this long after their last use.
LIFETIME = 15


def md5(text):
    return hashlib.md5(text.encode()).hexdigest()


class Client:
    """Answers taken apart into status, headers and body."""

    def __init__(self, port):
        self.port = port

    def get(self, path="/", authorization=None):
        extra = "Authorization: %s\r\n" % authorization if authorization else ""
        data = http_get(self.port, path, extra)
        head, _, body = data.partition(b"\r\n\r\n")
        lines = head.decode().split("\r\n")
        status = int(lines[0].split()[1])
        headers = {}
        for line in lines[1:]:
            name, _, value = line.partition(":")
            headers[name.strip().lower()] = value.strip()
        return status, headers, body

    @staticmethod
    def challenge(headers):
        text = headers["www-authenticate"]
        if not text.startswith("Digest "):
            raise AssertionError(text)
        return dict(re.findall(r'(\w+)="?([^",]*)"?', text[len("Digest "):]))

    @staticmethod
    def authorization(user, password, realm, nonce, uri="/", upper=False):
        ha1 = md5("%s:%s:%s" % (user, realm, password))
        ha2 = md5("GET:%s" % uri)
        response = md5("%s:%s:%s" % (ha1, nonce, ha2))
        if upper:
            response = response.upper()
        return ('Digest username="%s", realm="%s", nonce="%s", uri="%s", '
                'response="%s"' % (user, realm, nonce, uri, response))


class Web(unittest.TestCase):
    def setUp(self):
        self.d = Daemon(CONFIG)
        self.d.start()
        connect(self.d.web_port).close()
        self.client = Client(self.d.web_port)
        self.url = "http://127.0.0.1:%d" % self.d.web_port

    def tearDown(self):
        self.d.cleanup()

    def nonce(self):
        status, headers, _ = self.client.get()
        self.assertEqual(status, 401)
        fields = self.client.challenge(headers)
        self.assertEqual(fields["realm"], "house")
        self.assertRegex(fields["nonce"], r"^[0-9a-f]{32}$")
        self.assertNotIn("stale", fields)
        return fields["nonce"]

    def test_urllib_digest_handler_reads_a_page_and_posts_a_command(self):
        passwords = urllib.request.HTTPPasswordMgrWithDefaultRealm()
        passwords.add_password(None, self.url, "alice", "wonder")
        opener = urllib.request.build_opener(urllib.request.HTTPDigestAuthHandler(passwords))
        with opener.open(self.url + "/") as answer:
            self.assertEqual(answer.read(), b"<p>disarmed</p>")
        form = urllib.parse.urlencode({"command": "arm"}).encode()
        with opener.open(self.url + "/ctrl", data=form) as answer:
            self.assertEqual(answer.read(), b"<pre>armed</pre>")
        self.d.wait_log("STATE is now ``security.armed ''")
        with opener.open(self.url + "/") as answer:
            self.assertEqual(answer.read(), b"<p>armed</p>")

    def test_curl_digest(self):
        if not shutil.which("curl"):
            self.skipTest("curl is not installed")
        run = lambda *args: subprocess.run(
            ["curl", "-s", "-o", "-", "-w", "\n%{http_code}", "--digest"] + list(args),
            capture_output=True, text=True, timeout=30).stdout
        self.assertEqual(run("-u", "bob:builder", self.url + "/"), "<p>disarmed</p>\n200")
        self.assertTrue(run("-u", "bob:wrong", self.url + "/").endswith("\n401"))

    def test_wrong_answers_get_plain_challenges_and_upper_case_digits_pass(self):
        nonce = self.nonce()
        for user, password, realm in [("alice", "wrong", "house"),
                                      ("alice", "wonder", "garage"),
                                      ("nobody", "wonder", "house")]:
            with self.subTest(user=user, password=password, realm=realm):
                status, headers, _ = self.client.get(
                    authorization=self.client.authorization(user, password, realm, nonce))
                self.assertEqual(status, 401)
                self.assertNotIn("stale", self.client.challenge(headers))
        status, _, body = self.client.get(
            authorization=self.client.authorization("alice", "wonder", "house", nonce, upper=True))
        self.assertEqual((status, body), (200, b"<p>disarmed</p>"))

    def test_sessions_live_on_while_used_and_go_stale_when_idle(self):
        nonce = self.nonce()
        auth = self.client.authorization("alice", "wonder", "house", nonce)
        # Each use restarts the session's lifetime: 2/3 of it, twice over,
        # is longer than one lifetime.
        for _ in range(3):
            status, _, _ = self.client.get(authorization=auth)
            self.assertEqual(status, 200)
            time.sleep(LIFETIME * 2 / 3)
        time.sleep(LIFETIME / 3 + 2)
        # Idle past its lifetime: the same right answer is told its nonce is
        # stale, and the fresh nonce works without asking for a password.
        status, headers, _ = self.client.get(authorization=auth)
        self.assertEqual(status, 401)
        fields = self.client.challenge(headers)
        self.assertEqual(fields.get("stale"), "TRUE")
        self.assertNotEqual(fields["nonce"], nonce)
        status, _, body = self.client.get(
            authorization=self.client.authorization("alice", "wonder", "house", fields["nonce"]))
        self.assertEqual((status, body), (200, b"<p>disarmed</p>"))


if __name__ == "__main__":
    unittest.main()
