"""Debian's mosquitto broker on a free loopback port, and its command-line
clients, for the MQTT end-to-end tests."""
import os
import shutil
import socket
import subprocess
import tempfile

from harness import free_port, wait_for

# Debian installs the broker in /usr/sbin, which a user's PATH may lack.
MOSQUITTO = shutil.which("mosquitto") or "/usr/sbin/mosquitto"


class Broker:
    """One broker without persistence: a restart forgets every retained
    message, so what is there afterwards was published again."""

    def __init__(self, tls=False):
        self.dir = tempfile.mkdtemp(prefix="hovantra-broker-")
        self.port = free_port()
        self.conf = os.path.join(self.dir, "mosquitto.conf")
        self.client_args = ["-h", "127.0.0.1", "-p", str(self.port)]
        with open(self.conf, "w") as f:
            f.write("listener %d 127.0.0.1\nallow_anonymous true\n" % self.port)
            if tls:
                self.cafile = self._make_certificates()
                f.write("cafile %s\ncertfile %s/server.crt\nkeyfile %s/server.key\n"
                        % (self.cafile, self.dir, self.dir))
                self.client_args += ["--cafile", self.cafile]
        self.process = None
        self.subscribers = []

    def _make_certificates(self):
        """A CA of its own and a server certificate for 127.0.0.1."""
        def openssl(*args):
            subprocess.run(["openssl"] + list(args), cwd=self.dir, check=True,
                           capture_output=True)
        openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key",
                "-out", "ca.crt", "-days", "2", "-subj", "/CN=hovantra test CA")
        openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", "server.key",
                "-out", "server.csr", "-subj", "/CN=127.0.0.1")
        with open(os.path.join(self.dir, "san"), "w") as f:
            f.write("subjectAltName=IP:127.0.0.1\n")
        openssl("x509", "-req", "-in", "server.csr", "-CA", "ca.crt", "-CAkey", "ca.key",
                "-CAcreateserial", "-out", "server.crt", "-days", "2", "-extfile", "san")
        # The broker drops root's rights before it reads the key.
        os.chmod(os.path.join(self.dir, "server.key"), 0o644)
        os.chmod(self.dir, 0o755)
        return os.path.join(self.dir, "ca.crt")

    def start(self):
        with open(os.path.join(self.dir, "broker.log"), "ab") as log:
            self.process = subprocess.Popen([MOSQUITTO, "-c", self.conf],
                                            stdout=subprocess.DEVNULL, stderr=log)
        wait_for(self._listening, what="the broker on port %d" % self.port)
        return self

    def _listening(self):
        try:
            socket.create_connection(("127.0.0.1", self.port), 0.5).close()
            return True
        except OSError:
            return False

    def stop(self):
        if self.process and self.process.poll() is None:
            self.process.terminate()
            self.process.wait()

    def cleanup(self):
        for sub in self.subscribers:
            sub.stop()
        self.stop()
        shutil.rmtree(self.dir, ignore_errors=True)

    def publish(self, topic, payload, retain=False):
        argv = ["mosquitto_pub"] + self.client_args + ["-t", topic, "-q", "1"]
        if retain:
            argv.append("-r")
        if payload == b"" or payload == "":
            argv.append("-n")
        else:
            argv += ["-m", payload]
        subprocess.run(argv, check=True, timeout=10)

    def retained(self, topic):
        """The retained payload of one topic (bytes), or None."""
        out = subprocess.run(
            ["mosquitto_sub"] + self.client_args +
            ["-t", topic, "--retained-only", "-C", "1", "-W", "1", "-F", "%x"],
            capture_output=True, timeout=10).stdout.strip()
        return bytes.fromhex(out.decode()) if out else None

    def wait_retained(self, topic, payload, timeout=10.0):
        if isinstance(payload, str):
            payload = payload.encode()
        wait_for(lambda: self.retained(topic) == payload, timeout,
                 "%s to be %r (it is %r)" % (topic, payload, self.retained(topic)))

    def subscribe(self, topic_filter):
        sub = Subscriber(self, topic_filter)
        self.subscribers.append(sub)
        return sub


class Subscriber:
    """mosquitto_sub in the background; messages() gives what arrived as
    (retained, topic, payload bytes)."""

    def __init__(self, broker, topic_filter):
        fd, self.path = tempfile.mkstemp(dir=broker.dir, suffix=".sub")
        self.out = os.fdopen(fd, "wb")
        marker = "hovantra-e2e/ready/" + os.path.basename(self.path)
        self.process = subprocess.Popen(
            ["mosquitto_sub"] + broker.client_args +
            ["-t", topic_filter, "-t", marker, "-q", "1", "-F", "%r\t%t\t%x"],
            stdout=self.out, stderr=subprocess.DEVNULL)
        # Subscribed once a message of our own comes back.
        def ready():
            broker.publish(marker, "1")
            return any(t == marker for _, t, _ in self.messages())
        wait_for(ready, what="the subscriber")

    def messages(self):
        with open(self.path, "rb") as f:
            result = []
            for line in f.read().decode(errors="replace").split("\n"):
                parts = line.split("\t")
                if len(parts) == 3:
                    result.append((parts[0] == "1", parts[1], bytes.fromhex(parts[2])))
            return result

    def wait(self, topic, payload, timeout=10.0):
        """Waits for a message on topic with payload; returns all messages."""
        if isinstance(payload, str):
            payload = payload.encode()
        wait_for(lambda: any(t == topic and p == payload for _, t, p in self.messages()),
                 timeout, "%s %r" % (topic, payload))
        return self.messages()

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            self.process.wait()
        self.out.close()
