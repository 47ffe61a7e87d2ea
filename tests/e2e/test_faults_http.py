"""Web clients that stall, never read, vanish or flood the daemon while the
alarm changes state: the console stays prompt, every change is made and
stored, the daemon lives and its memory stays small."""
import os
import resource
import socket
import time
import unittest

from harness import Daemon, http_get, longest_poll_gap, polls_kept_pace, rss_kib, wait_for

CONFIG = """[general]
log = {dir}/hovantra.log
state = {dir}/hovantra.state
defaultstate = security.disarmed
watchdog = 2
[console]
port = {console_port}
trusted = 127.0.0.1
[webserver]
port = {web_port}
[webpage /]
type = page
public = yes
content = <p>%state%</p>
[webpage /big]
type = file
public = yes
path = {dir}/big.bin
[webpage /huge]
type = file
public = yes
path = {dir}/huge.bin
[device 1]
input_on:0 = door_open
[event arm]
fsm = security
transit = security.disarmed -> security.armed
[event disarm]
fsm = security
transit = security.* -> security.disarmed
[command arm]
event = arm
response = %state%
[command disarm]
event = disarm
response = %state%
"""

BIG = 900 * 1024        # more than the socket buffers hold, less than the queue bound
HUGE = 3 * 1024 * 1024 // 2

# Loose, for a loaded machine: the sanitizer build answers a command in a
# few milliseconds, while a daemon held by a client would wait for that
# client's 20-second idle timeout.
PROMPT = 5.0


def open_connection(port):
    s = socket.socket()
    s.setblocking(False)
    s.connect_ex(("127.0.0.1", port))
    return s


class HostileWebClients(unittest.TestCase):
    def setUp(self):
        # Memory is measured: a sanitizer build must not hold freed blocks
        # back in its quarantine (no effect on other builds).
        options = os.environ.get("ASAN_OPTIONS", "")
        self.addCleanup(os.environ.__setitem__, "ASAN_OPTIONS", options)
        os.environ["ASAN_OPTIONS"] = (options + ":" if options else "") + "quarantine_size_mb=0"
        self.d = Daemon(CONFIG)
        with open(os.path.join(self.d.dir, "big.bin"), "wb") as f:
            f.write(b"b" * BIG)
        with open(os.path.join(self.d.dir, "huge.bin"), "wb") as f:
            f.write(b"h" * HUGE)
        self.sockets = []

    def tearDown(self):
        for s in self.sockets:
            s.close()
        self.d.cleanup()

    def timed(self, console, line):
        start = time.monotonic()
        answer = console.command(line)
        self.assertLess(time.monotonic() - start, PROMPT, line)
        return answer

    def test_stalled_silent_vanishing_and_flooding_clients_while_the_alarm_switches(self):
        d = self.d
        d.board("add", "house", "1:1:1")
        d.start()
        c = d.console()
        self.addCleanup(c.close)
        baseline = rss_kib(d.process.pid)
        idle_gap = longest_poll_gap(d, "house", lambda: time.sleep(2))

        slow = socket.create_connection(("127.0.0.1", d.web_port))
        self.sockets.append(slow)
        request = b"GET / HTTP/1.1\r\nHost: x\r\nX-Pad: " + b"p" * 40

        # Clients that ask for a large page and never read the answer.
        for _ in range(3):
            s = socket.socket()
            s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
            s.connect(("127.0.0.1", d.web_port))
            s.sendall(b"GET /big HTTP/1.1\r\n\r\n")
            self.sockets.append(s)

        # Clients that ask and are gone with a reset before the answer.
        for _ in range(50):
            s = socket.create_connection(("127.0.0.1", d.web_port))
            s.sendall(b"GET /big HTTP/1.1\r\n\r\n")
            s.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\x01\x00\x00\x00\x00\x00\x00\x00")
            s.close()

        # A flood opened at once: silent ones and ones stopping mid-head.
        flood = [open_connection(d.web_port) for _ in range(300)]
        self.sockets.extend(flood)
        wait_for(lambda: self.connected(flood), 10, "the flood to connect")
        for s in flood[::2]:
            s.send(b"GET / HTTP/1.1\r\nX-Half: ")

        expected = "security.disarmed"

        def switch_the_alarm():
            nonlocal expected
            for step in range(24):
                slow.send(request[step:step + 1])
                line = "arm" if step % 2 == 0 else "disarm"
                expected = "security.armed" if line == "arm" else "security.disarmed"
                self.assertEqual(self.timed(c, line).split(), [expected])
                time.sleep(0.2)  # the slow client's pace
        busy_gap = longest_poll_gap(d, "house", switch_the_alarm)
        self.assertIn("alert = %s" % expected, d.state_file())
        # The board is polled at its pace whatever the web clients do.
        self.assertTrue(polls_kept_pace(busy_gap, idle_gap), (busy_gap, idle_gap))

        # The slow client completes its request and gets its answer.
        slow.sendall(request[24:] + b"\r\n\r\n")
        slow.settimeout(10)
        answer = b""
        while True:
            chunk = slow.recv(65536)
            if not chunk:
                break
            answer += chunk
        self.assertTrue(answer.startswith(b"HTTP/1.1 200 OK\r\n"), answer[:100])
        self.assertIn(b"<p>%s" % expected.encode(), answer)

        self.assertTrue(http_get(d.web_port, "/").startswith(b"HTTP/1.1 200 OK\r\n"))
        self.assertIsNone(d.process.poll())
        self.assertLess(rss_kib(d.process.pid) - baseline, 8 * 1024)

    def connected(self, sockets):
        for s in sockets:
            if s.getsockopt(socket.SOL_SOCKET, socket.SO_ERROR) != 0:
                raise AssertionError("a flood connection failed")
            try:
                s.getpeername()
            except OSError:
                return False
        return True

    def daemon_fds(self):
        return len(os.listdir("/proc/%d/fd" % self.d.process.pid))

    def test_more_connections_than_a_select_set_holds(self):
        soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
        want = 1400
        if hard != resource.RLIM_INFINITY and hard < want:
            self.skipTest("descriptor limit %d too low" % hard)
        if soft != resource.RLIM_INFINITY and soft < want:
            resource.setrlimit(resource.RLIMIT_NOFILE, (want, hard))
            self.addCleanup(resource.setrlimit, resource.RLIMIT_NOFILE, (soft, hard))
        d = self.d
        d.start()
        c = d.console()
        self.addCleanup(c.close)
        base = self.daemon_fds()
        flood = self.sockets
        for _ in range(1100):
            # The listening queue is short: let the daemon take each
            # connection before the next, or the kernel drops the surplus.
            flood.append(socket.create_connection(("127.0.0.1", d.web_port)))
            wait_for(lambda: self.daemon_fds() >= base + len(flood), 10,
                     "the daemon to accept connection %d" % len(flood))
        # Each flood connection is a descriptor of the daemon; the ones past
        # the select limit must be served or refused, never corrupt memory.
        self.assertGreater(self.daemon_fds(), 1100)
        self.assertEqual(self.timed(c, "arm").split(), ["security.armed"])
        late = d.console()
        self.addCleanup(late.close)
        self.assertEqual(self.timed(late, "disarm").split(), ["security.disarmed"])
        # The newest connections hold the highest descriptors.  A daemon
        # polling them answers; one refusing them has closed them.
        for s in flood[-50:]:
            s.send(b"GET / HTTP/1.1\r\n\r\n")
        for s in flood[-50:]:
            s.settimeout(10)
            answer = s.recv(65536)
            self.assertTrue(answer == b"" or answer.startswith(b"HTTP/1.1 200 OK\r\n"), answer[:100])
        self.assertTrue(http_get(d.web_port, "/").startswith(b"HTTP/1.1 200 OK\r\n"))
        self.assertIsNone(d.process.poll())

    def test_oversized_input_is_refused_without_growing_the_process(self):
        d = self.d
        d.start()
        c = d.console()
        self.addCleanup(c.close)
        baseline = rss_kib(d.process.pid)

        with socket.create_connection(("127.0.0.1", d.web_port), timeout=10) as s:
            s.sendall(b"POST / HTTP/1.1\r\nContent-Length: 100000000\r\n\r\n")
            answer = self.push_until_answered(s, b"x" * 65536)
        self.assertTrue(answer.startswith(b"HTTP/1.1 413 Request Entity Too Large\r\n"), answer[:100])

        with socket.create_connection(("127.0.0.1", d.web_port), timeout=10) as s:
            s.sendall(b"GET / HTTP/1.1\r\nX-Long: ")
            answer = self.push_until_answered(s, b"y" * 4096)
        self.assertTrue(answer.startswith(b"HTTP/1.1 413 Request Entity Too Large\r\n"), answer[:100])

        with socket.create_connection(("127.0.0.1", d.console_port), timeout=10) as s:
            self.push_until_answered(s, b"z" * 65536)
        d.wait_log("Console: line too long, closing the session")

        self.assertEqual(self.timed(c, "arm").split(), ["security.armed"])
        self.assertLess(rss_kib(d.process.pid) - baseline, 8 * 1024)

    def push_until_answered(self, s, piece, limit=64 * 1024 * 1024):
        """Sends piece after piece until the peer answers or closes; gives
        the answer.  Fails if limit bytes go unanswered."""
        s.setblocking(False)
        sent = 0
        answer = b""
        deadline = time.monotonic() + 20
        while time.monotonic() < deadline:
            try:
                chunk = s.recv(65536)
                if not chunk:
                    return answer
                answer += chunk
                continue
            except BlockingIOError:
                pass
            except ConnectionResetError:
                return answer
            if sent >= limit:
                time.sleep(0.01)
                continue
            try:
                sent += s.send(piece)
            except BlockingIOError:
                time.sleep(0.01)
            except (BrokenPipeError, ConnectionResetError):
                return answer
        raise AssertionError("%d bytes unanswered" % sent)

    # The console's output bound must not apply to an HTTP answer, which is
    # queued whole at once: a file page over 1 MiB reaches a reading client.
    def test_a_page_larger_than_the_output_bound_reaches_a_reading_client(self):
        self.d.start()
        answer = http_get(self.d.web_port, "/huge")
        self.assertTrue(answer.startswith(b"HTTP/1.1 200 OK\r\n"), answer[:100])
        self.assertTrue(answer.endswith(b"h" * HUGE))


if __name__ == "__main__":
    unittest.main()
