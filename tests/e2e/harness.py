"""Runs the real daemon for end-to-end tests.

A Daemon lives in its own temporary directory with its configuration,
log, state file, simulated boards and SMS spool.  Everything waits for what
it expects with a deadline instead of sleeping.
"""
import contextlib
import fcntl
import os
import re
import shutil
import signal
import socket
import subprocess
import tempfile
import threading
import time

BUILD = os.environ.get("HOVANTRA_BUILD_DIR",
                       os.path.join(os.path.dirname(__file__), "..", "..", "build"))
DAEMON = os.path.join(BUILD, "hovantra")
BOARD_TOOL = os.path.join(BUILD, "hovantra-board")
SMS_TOOL = os.path.join(BUILD, "hovantra-sms")

LOG_PREFIX = re.compile(r"^[A-Z][a-z]{2} [0-9 ][0-9] [0-9]{2}:[0-9]{2}:[0-9]{2}  \[[0-9]+\] ")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for(predicate, timeout=10.0, what="condition"):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        result = predicate()
        if result:
            return result
        time.sleep(0.02)
    raise AssertionError("timed out waiting for " + what)


class Daemon:
    """One daemon process in a temporary directory.

    The configuration text may use {dir}, {console_port}, {web_port} and
    {spool} placeholders.
    """

    def __init__(self, config, boards=None):
        self.dir = tempfile.mkdtemp(prefix="hovantra-e2e-")
        self.console_port = free_port()
        self.web_port = free_port()
        self.spool = os.path.join(self.dir, "sms")
        for sub in ("incoming", "outgoing", "composing", "proceeded", "failed"):
            os.makedirs(os.path.join(self.spool, sub))
        self.boards = os.path.join(self.dir, "boards")
        os.makedirs(self.boards)
        self.config_path = os.path.join(self.dir, "hovantra.ini")
        self.log_path = os.path.join(self.dir, "hovantra.log")
        self.state_path = os.path.join(self.dir, "hovantra.state")
        self.write_config(config)
        self.process = None
        self.mark = 0  # wait_log looks only at lines after this one
        for board in boards or []:
            self.board(*board)

    def write_config(self, config):
        with open(self.config_path, "w") as f:
            f.write(config.format(dir=self.dir, console_port=self.console_port,
                                  web_port=self.web_port, spool=self.spool))

    def env(self):
        env = dict(os.environ)
        env["HOVANTRA_SIMULATED_BOARDS"] = self.boards
        return env

    def start(self, *args, wait_line="starting in the mode", preexec_fn=None):
        """preexec_fn runs in the child before the daemon is executed (to
        lower a resource limit, say)."""
        argv = [DAEMON, "-f", "-c", self.config_path] + list(args)
        self.mark = len(self.log_lines())
        self.process = subprocess.Popen(argv, cwd=self.dir, env=self.env(),
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                        preexec_fn=preexec_fn)
        if wait_line:
            self.wait_log(wait_line)
        return self

    def stop(self):
        if self.process and self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        if self.process:
            self.process.stdout.close()
            self.process.stderr.close()

    def cleanup(self):
        self.stop()
        shutil.rmtree(self.dir, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.cleanup()

    # log
    def log_lines(self):
        """Message texts of the log, prefixes stripped."""
        try:
            with open(self.log_path, errors="replace") as f:
                return [LOG_PREFIX.sub("", line.rstrip("\n")) for line in f]
        except FileNotFoundError:
            return []

    def wait_log(self, text, timeout=10.0, count=1):
        """Waits until count lines since the last start contain text;
        returns those lines."""
        def found():
            hits = [l for l in self.log_lines()[self.mark:] if text in l]
            return hits if len(hits) >= count else None
        return wait_for(found, timeout, "log line %r" % text)

    def state_file(self):
        with open(self.state_path) as f:
            return f.read()

    # tools
    def board(self, *args):
        return subprocess.run([BOARD_TOOL] + [str(a) for a in args], env=self.env(),
                              check=True, capture_output=True, text=True).stdout

    @contextlib.contextmanager
    def between_polls(self):
        """Board changes made inside land together before the next poll:
        the daemon is stopped meanwhile, at a moment it holds no board
        (the tool would wait for it for ever)."""
        with open(os.path.join(self.boards, ".lock"), "a+") as lock:
            while True:
                self.process.send_signal(signal.SIGSTOP)
                try:
                    fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
                    fcntl.flock(lock, fcntl.LOCK_UN)
                    break
                except BlockingIOError:
                    self.process.send_signal(signal.SIGCONT)
                    time.sleep(0.01)
        try:
            yield
        finally:
            self.process.send_signal(signal.SIGCONT)

    def sms(self, *args):
        return subprocess.run([SMS_TOOL, "-c", self.config_path] + [str(a) for a in args],
                              env=self.env(), check=True, capture_output=True, text=True).stdout

    # console
    def console(self):
        return Console(self.console_port)


def connect(port, timeout=10.0):
    """A connection to a local port.  The console and the web server start
    listening just after the "starting in the mode" line, so a refused
    connection is retried until the deadline."""
    def attempt():
        try:
            return socket.create_connection(("127.0.0.1", port), timeout=10)
        except ConnectionRefusedError:
            return None
    return wait_for(attempt, timeout, "port %d to listen" % port)


def http_get(port, path, headers=""):
    """The whole answer to one GET: the server closes after each answer.
    headers are extra header lines, each ending in CR LF."""
    with connect(port) as s:
        s.sendall(("GET %s HTTP/1.1\r\nHost: 127.0.0.1\r\n%s\r\n" % (path, headers)).encode())
        data = b""
        while True:
            chunk = s.recv(65536)
            if not chunk:
                return data
            data += chunk


class Console:
    def __init__(self, port, timeout=10.0):
        self.sock = connect(port, timeout)
        self.buffer = b""

    def send(self, text):
        self.sock.sendall(text.encode())

    def read_until(self, marker, timeout=10.0):
        deadline = time.monotonic() + timeout
        while marker.encode() not in self.buffer:
            self.sock.settimeout(max(0.01, deadline - time.monotonic()))
            try:
                chunk = self.sock.recv(65536)
            except socket.timeout:
                raise AssertionError("no %r in %r" % (marker, self.buffer))
            if not chunk:
                break
            self.buffer += chunk
        if marker.encode() not in self.buffer:
            raise AssertionError("connection closed without %r in %r" % (marker, self.buffer))
        head, _, self.buffer = self.buffer.partition(marker.encode())
        return (head + marker.encode()).decode(errors="replace")

    def command(self, line, marker="\n"):
        self.send(line + "\n")
        return self.read_until(marker)

    def read_all(self, timeout=10.0):
        """Everything until the daemon closes the connection."""
        self.sock.settimeout(timeout)
        data = self.buffer
        while True:
            chunk = self.sock.recv(65536)
            if not chunk:
                break
            data += chunk
        self.buffer = b""
        return data.decode(errors="replace")

    def close(self):
        self.sock.close()


# Helpers for fault tests.

# The daemon polls its boards every half second.
POLL_INTERVAL = 0.5

def longest_poll_gap(daemon, board, work, every=0.02):
    """The longest time, in seconds, in which a simulated board saw no USB
    read while work() ran: the daemon's polling pace, measured so that a
    short piece of work still shows one stalled poll (a rate over a second
    or two mostly counts where the polls happened to fall).  The board's
    file is read directly: starting the board tool for every sample would
    itself be late on a busy machine."""
    path = os.path.join(daemon.boards, board + ".board")

    def reads():
        # The tool and the daemon replace the file by rename: a read sees
        # one whole version.
        with open(path) as f:
            for line in f:
                if line.startswith("reads "):
                    return int(line.split()[1])
        raise ValueError("no reads line in " + path)
    changes = []
    done = threading.Event()

    def sample():
        last = reads()
        changes.append(time.monotonic())
        while not done.is_set():
            now = reads()
            if now != last:
                last = now
                changes.append(time.monotonic())
            done.wait(every)
        changes.append(time.monotonic())
    sampler = threading.Thread(target=sample)
    sampler.start()
    try:
        work()
    finally:
        done.set()
        sampler.join()
    return max(b - a for a, b in zip(changes, changes[1:]))


def polls_kept_pace(busy_gap, idle_gap):
    """A poll may come late on a busy machine (the sanitizer build serving
    a flood on two shared cores); a stall of several polls in a row is the
    fault looked for."""
    return busy_gap < idle_gap + 4 * POLL_INTERVAL


def parse_ini(text):
    """Parses the configuration file format strictly enough to notice a
    damaged file: {(type, name): {key: value}}; raises ValueError."""
    doc = {}
    section = None
    last = None
    for number, line in enumerate(text.split("\n"), 1):
        if line.strip() == "" or line.lstrip()[:1] in ("#", ";"):
            continue
        if line[0] in " \t+":
            if last is None:
                raise ValueError("line %d: continuation without a parameter" % number)
            section[last] += "\n" + line[1:].rstrip()
            continue
        if line[0] == "[":
            m = re.match(r"^\[\s*([^\s\]]*)(?:\s+([^\s\]]*))?\s*\]", line)
            if not m:
                raise ValueError("line %d: invalid header %r" % (number, line))
            section = doc.setdefault((m.group(1), m.group(2) or ""), {})
            continue
        m = re.match(r"^(\S+)\s+=\s*(.*)$", line)
        if not m or section is None:
            raise ValueError("line %d: invalid parameter %r" % (number, line))
        last = m.group(1)
        value = m.group(2).rstrip()
        section[last] = section[last] + "," + value if section.get(last) else value
    return doc


def rss_kib(pid):
    """Resident memory of a process in KiB (VmRSS)."""
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    raise AssertionError("no VmRSS for %d" % pid)


def edit_board(daemon, name, key, value):
    """Sets one field of a simulated board's file, under the boards' lock and
    by atomic rename like the board tool, for what the tool has no command
    for: an output line switched by hand on the board, for example."""
    path = os.path.join(daemon.boards, name + ".board")
    with open(os.path.join(daemon.boards, ".lock"), "a+") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        with open(path) as f:
            lines = f.read().split("\n")
        for i, line in enumerate(lines):
            if line.split(" ", 1)[0] == key:
                lines[i] = "%s %s" % (key, value)
                break
        else:
            raise KeyError(key)
        with open(path + ".tmp", "w") as f:
            f.write("\n".join(lines))
        os.rename(path + ".tmp", path)


def finish(daemon):
    """Cleans up after a test; a daemon that ended on its own meanwhile (a
    crash, or a sanitizer report) fails the test with its error output."""
    died = daemon.process is not None and daemon.process.poll() is not None
    err = daemon.process.stderr.read().decode(errors="replace") if died else ""
    code = daemon.process.returncode if died else None
    daemon.cleanup()
    if died:
        raise AssertionError("the daemon ended with %s:\n%s" % (code, err[-4000:]))
