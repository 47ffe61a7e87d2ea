"""The TCP console through the real daemon: trust by network, greetings,
command lines, closing, the idle timeout, the line length cap, peers that
vanish, and many clients at once while a board input keeps changing."""
import os
import selectors
import socket
import struct
import threading
import time
import unittest

from harness import Daemon, finish, poll_rate, wait_for

CONFIG = """[general]
log = {dir}/hovantra.log
state = {dir}/hovantra.state
watchdog = 0
password = master
[console]
port = {console_port}
@CONSOLE@
[webserver]
port = {web_port}
[device 1]
input_on:0 = door_open
input_off:0 = door_closed
[event door_open]
exec = echo open >> {dir}/opened
[event door_closed]
exec = echo closed >> {dir}/closed
[command ping]
unpriv = yes
response = pong
[command arm]
event = armed_event
response = armed
[command big]
unpriv = yes
response = @BIG@
[command echo]
args = 1
unpriv = yes
action = @ACT- %1%
response = %1%
"""


# 100 KB of answer from one command, written as continuation lines.
BIG = "\n+".join(["z" * 1000] * 100)


def config(console):
    return CONFIG.replace("@CONSOLE@", console).replace("@BIG@", BIG)


def read_to_end(c, timeout=10.0):
    """Everything until the daemon closes, a reset counting as a close."""
    c.sock.settimeout(timeout)
    data = c.buffer
    while True:
        try:
            chunk = c.sock.recv(65536)
        except ConnectionResetError:
            break
        if not chunk:
            break
        data += chunk
    c.buffer = b""
    return data.decode(errors="replace")


def connection_line(d, c):
    port = c.sock.getsockname()[1]
    lines = d.wait_log("Console: connection from 7f000001:%d -- " % port)
    return lines[0].rsplit(" ", 1)[1]


class Trust(unittest.TestCase):
    # (console section, trusted, greeting received)
    CASES = [
        ("trusted = 127.0.0.1\ngreeting:trusted = T>\ngreeting:untrusted = U>\ngreeting = G>",
         True, "T>"),
        ("trusted = 10.0.0.0/8\ngreeting:trusted = T>\ngreeting:untrusted = U>\ngreeting = G>",
         False, "U>"),
        ("trusted = 10.0.0.0/8, 127.0.0.0/8\ngreeting = G>", True, "G>"),
        ("trusted = 0.0.0.0/0", True, ""),
        ("trusted = 127.0.0.1/33\ngreeting:trusted = T>", False, ""),
        ("trusted = 10.0.0.1 x, 127.0.0.1\ngreeting = G>", False, "G>"),
        ("greeting:untrusted = U>", False, "U>"),
    ]

    def test_trust_greeting_and_privileges(self):
        daemons = [Daemon(config(console)) for console, _, _ in self.CASES]
        for d in daemons:
            self.addCleanup(finish, d)
            d.start(wait_line=None)
        for d in daemons:
            d.wait_log("starting in the mode")
        for d, (console, trusted, greeting) in zip(daemons, self.CASES):
            with self.subTest(console=console):
                self.check(d, trusted, greeting)

    def check(self, d, trusted, greeting):
        c = d.console()
        self.assertEqual(connection_line(d, c), "trusted" if trusted else "untrusted")
        # A wrong password takes trust away for the rest of its line; the
        # general password gives it.
        c.send("&a ping\nping arm\n&m wrong arm\n&m master arm\n\n")
        expected = greeting + ("[!] pong\npongarmed\n" if trusted else "") + "armed\n"
        self.assertEqual(read_to_end(c), expected)
        c.close()
        rejected = d.wait_log("Rejecting command arm(3:armed_event)/-1...")
        processed = d.wait_log("Processing command arm(3:armed_event)/-1...")
        d.wait_log("Console session closed (destructor)")
        self.assertEqual(len(rejected), 1 if trusted else 2)
        self.assertEqual(len(processed), 2 if trusted else 1)


class Lines(unittest.TestCase):
    def setUp(self):
        self.d = Daemon(config("trusted = 127.0.0.1\ngreeting = hello>"))
        self.d.start()

    def tearDown(self):
        finish(self.d)

    def test_commands_in_one_line_and_lines_in_one_packet(self):
        c = self.d.console()
        self.assertEqual(c.read_until("hello>"), "hello>")
        c.send("PING foo ping\r\n&a ping\n")
        self.assertEqual(c.read_until("[!] pong\n"), "pongUnknown cmd foo\npong\n[!] pong\n")
        self.d.wait_log("Console: handling [PING foo ping]")
        self.d.wait_log("Console: handling [&a ping]")
        # A command taking one argument leaves the next word a command.
        self.assertEqual(c.command("echo one ping", "pong\n"), "onepong\n")
        # A line may come in pieces: nothing runs before its line feed.
        c.sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        c.send("pi")
        time.sleep(0.05)
        self.assertEqual(c.command("ng"), "pong\n")
        self.d.wait_log("Console: handling [ping]")
        c.close()

    def test_empty_line_closes(self):
        d = self.d
        c = d.console()
        c.send("ping\n\n")
        self.assertEqual(read_to_end(c), "hello>pong\n")
        c.close()
        c = d.console()
        c.send("\n")
        self.assertEqual(read_to_end(c), "hello>")
        c.close()
        self.assertEqual(len(d.wait_log("Console: shutting down the session", count=2)), 2)
        d.wait_log("Console session closed (destructor)", count=2)

    def test_line_length_cap(self):
        d = self.d
        c = d.console()
        c.read_until("hello>")
        longest = "echo " + "x" * 4091
        self.assertEqual(c.command(longest), "x" * 4091 + "\n")
        c.send("echo " + "y" * 4092)
        d.wait_log("Console: line too long, closing the session")
        self.assertEqual(read_to_end(c), "")
        c.close()
        c = d.console()
        self.assertEqual(c.command("ping", "pong\n"), "hello>pong\n")
        c.close()
        self.assertIsNone(d.process.poll())

    def test_output_to_a_vanished_client(self):
        d = self.d
        c = d.console()
        c.sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        c.send(("echo " + "z" * 4000 + "\n") * 100)
        d.wait_log("Console: handling [echo zzz", count=100)
        # Reset the connection while most of the answers are still queued.
        c.sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        c.close()
        d.wait_log("Console session closed (destructor)")
        c = d.console()
        self.assertEqual(c.command("ping", "pong\n"), "hello>pong\n")
        c.close()
        self.assertIsNone(d.process.poll())


class Timeout(unittest.TestCase):
    def test_idle_session_is_told_and_closed(self):
        d = Daemon(config("timeout = 1\ngreeting = hello>"))
        self.addCleanup(finish, d)
        d.start()
        c = d.console()
        self.assertEqual(read_to_end(c), "hello>Timed out, sorry...\n")
        d.wait_log("Console: shutting down the session")
        d.wait_log("Console session closed (destructor)")
        c.close()


class Load(unittest.TestCase):
    CLIENTS = 200
    COMMANDS = 1000

    def test_many_clients_while_an_input_pulses(self):
        d = Daemon(config("trusted = 127.0.0.1"))
        self.addCleanup(finish, d)
        d.board("add", "house", "1:1:1")
        d.start()
        idle_rate = poll_rate(d, "house", lambda: time.sleep(2))
        done = threading.Event()
        pulses = []
        failures = []

        def count(name):
            try:
                with open(os.path.join(d.dir, name)) as f:
                    return len(f.read().split())
            except FileNotFoundError:
                return 0

        def pulser():
            # Each pulse must reach the state machines within a few
            # poll periods, however busy the console is.  The log is no
            # witness here: its flood guard silences it under this load.
            try:
                while not done.is_set() or len(pulses) < 3:
                    d.board("pulse", "house", 0)
                    pulses.append(time.monotonic())
                    wait_for(lambda: count("closed") == len(pulses), timeout=10,
                             what="pulse %d handled" % len(pulses))
            except Exception as e:  # reported by the main thread
                failures.append(e)

        thread = threading.Thread(target=pulser)
        thread.start()
        answers = []
        try:
            busy_rate = poll_rate(d, "house", lambda: answers.extend(self.run_clients(d)))
        finally:
            done.set()
            thread.join(timeout=60)
        self.assertFalse(thread.is_alive())
        self.assertEqual(failures, [])
        for i, got in enumerate(answers):
            self.assertEqual(got, ["c%d-%d" % (i, j) for j in range(self.COMMANDS)])
        # The two commands of a pulse are separate children: either may end first.
        wait_for(lambda: count("opened") == len(pulses), timeout=5, what="every opening")
        self.assertEqual(count("closed"), len(pulses))
        self.assertIsNone(d.process.poll())
        # The board is read as often under this load as when idle.
        self.assertGreater(busy_rate, 0.8 * idle_rate, (busy_rate, idle_rate))

    def test_client_that_never_reads_is_paused_then_timed_out(self):
        d = Daemon(config("trusted = 127.0.0.1\ntimeout = 2"))
        self.addCleanup(finish, d)
        d.board("add", "house", "1:1:1")
        d.start()
        stalled = d.console()
        stalled.sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        stalled.send("big\n" * 40)
        d.wait_log("Console: handling [big]")
        # The loop went on: a pulse is handled and another client answered.
        d.board("pulse", "house", 0)
        d.wait_log("Processing event ``door_closed''")
        c = d.console()
        self.assertEqual(c.command("ping"), "pong\n")
        c.close()
        # Paused, the session handled only what the socket buffers took;
        # its idle timeout ends it.
        d.wait_log("Console: the client reads nothing, closing the session")
        handled = [l for l in d.log_lines() if l == "Console: handling [big]"]
        self.assertLess(len(handled), 40)
        self.assertEqual([l for l in d.log_lines() if "Session output queue" in l], [])
        # What the kernel had taken still arrives, from the first answer on.
        answer = BIG.replace("\n+", "\n") + "\n"
        self.assertTrue(stalled.read_until(answer) == answer)
        stalled.sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        stalled.close()

    def run_clients(self, d):
        sel = selectors.DefaultSelector()
        answers = []
        for i in range(self.CLIENTS):
            s = socket.create_connection(("127.0.0.1", d.console_port), timeout=10)
            s.setblocking(False)
            answers.append([])
            sel.register(s, selectors.EVENT_READ, [i, b""])
        for key in list(sel.get_map().values()):
            key.fileobj.send(b"echo c%d-0\n" % key.data[0])
        deadline = time.monotonic() + 300
        open_clients = self.CLIENTS
        try:
            while open_clients and time.monotonic() < deadline:
                for key, _ in sel.select(timeout=1):
                    s, state = key.fileobj, key.data
                    chunk = s.recv(65536)
                    self.assertTrue(chunk, "client %d closed early" % state[0])
                    state[1] += chunk
                    while b"\n" in state[1]:
                        line, state[1] = state[1].split(b"\n", 1)
                        got = answers[state[0]]
                        got.append(line.decode())
                        if len(got) < self.COMMANDS:
                            s.send(b"echo c%d-%d\n" % (state[0], len(got)))
                        else:
                            open_clients -= 1
            self.assertEqual(open_clients, 0, "clients still waiting at the deadline")
        finally:
            for key in list(sel.get_map().values()):
                key.fileobj.close()
            sel.close()
        return answers


def numbered_answer(lines):
    """A configured response of lines of 1000 bytes, each starting with its
    number, as the configuration writes it and as the console sends it."""
    texts = ["%07d" % i + "z" * 993 for i in range(lines)]
    return "\n+".join(texts), ("\n".join(texts) + "\n").encode()


class LargeAnswers(unittest.TestCase):
    """Answers far larger than the output bound reach clients that read
    them, slowly or quickly, whole and in order, while others are served."""

    def test_answers_of_10_and_18_mib(self):
        small_text, small = numbered_answer(10 * 1024 * 1024 // 1000)
        large_text, large = numbered_answer(18 * 1024 * 1024 // 1000)
        text = (config("trusted = 127.0.0.1")
                + "[command big10]\nresponse = " + small_text + "\n"
                + "[command big18]\nresponse = " + large_text + "\n")
        d = Daemon(text)
        self.addCleanup(finish, d)
        d.start(wait_line=None)
        d.wait_log("starting in the mode", timeout=60)
        results = {}

        def reader(name, command, slow):
            c = d.console()
            try:
                if slow:
                    c.sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 16384)
                # The line behind waits until the answer has drained.
                c.send(command + "\nping\n")
                data = b""
                c.sock.settimeout(60)
                while not data.endswith(b"pong\n"):
                    chunk = c.sock.recv(16384 if slow else 1 << 20)
                    if not chunk:
                        break
                    data += chunk
                    if slow:
                        time.sleep(0.001)
                results[name] = data
            finally:
                c.close()

        threads = [threading.Thread(target=reader, args=args) for args in
                   (("slow10", "big10", True), ("quick18", "big18", False),
                    ("slow18", "big18", True), ("quick10", "big10", False))]
        for t in threads:
            t.start()
        served = 0
        while any(t.is_alive() for t in threads):
            c = d.console()
            self.assertEqual(c.command("ping"), "pong\n")
            c.close()
            served += 1
            time.sleep(0.05)
        for t in threads:
            t.join()
        self.assertGreater(served, 1)
        for name, expected in (("slow10", small), ("quick10", small),
                               ("slow18", large), ("quick18", large)):
            got = results.get(name, b"")
            self.assertEqual(len(got), len(expected) + len("pong\n"), name)
            self.assertTrue(got == expected + b"pong\n", name)
        self.assertIsNone(d.process.poll())


if __name__ == "__main__":
    unittest.main()
