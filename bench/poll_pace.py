"""Reads of a simulated board per second while the daemon is idle and while
200 console clients send 1,000 commands each and the board's input pulses:
a busy console must not slow the polls (the bar is 0.8 of the idle pace).
The console load test checks every answer and event of the same load; this
only measures the pace."""
import os
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                "..", "tests", "e2e"))
from harness import Daemon, finish, poll_rate  # noqa: E402
import test_console  # noqa: E402


def main():
    d = Daemon(test_console.config("trusted = 127.0.0.1"))
    try:
        d.board("add", "house", "1:1:1")
        d.start()
        idle = poll_rate(d, "house", lambda: time.sleep(2))
        done = threading.Event()

        def pulser():
            while not done.is_set():
                d.board("pulse", "house", 0)
                time.sleep(0.1)

        thread = threading.Thread(target=pulser)
        thread.start()
        load = test_console.Load()
        try:
            busy = poll_rate(d, "house", lambda: load.run_clients(d))
        finally:
            done.set()
            thread.join()
    finally:
        finish(d)
    print("| daemon | board reads/s | ratio to idle |")
    print("|---|---:|---:|")
    print("| idle | %.1f | 1.00 |" % idle)
    print("| %d console clients x %d commands | %.1f | %.2f |"
          % (load.CLIENTS, load.COMMANDS, busy, busy / idle))
    print()
    print("Bar: a ratio of at least 0.80.")


if __name__ == "__main__":
    main()
