#!/usr/bin/env python3
"""The Q key ends Kelpmoor with status 0 while clients drive turtles and browsers read its
documents, with nothing on standard error from a sanitizer.

    quit_while_busy.py path/to/kelpmoor

Runs the program on an X server of its own, drives it for a while, then types Q into its window
with xdotool. Skipped (status 0, a note) without Xvfb or xdotool.
"""

import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "clients"))
from arena import Connection, free_ports, listening, start_x_server, stop  # noqa: E402

DRIVERS, READERS = 3, 2
DRIVE_SECONDS = 2.0
SANITIZER_MARKS = ("AddressSanitizer", "LeakSanitizer", "ThreadSanitizer", "runtime error:")


def drive(port, stopping, replies):
    try:
        c = Connection(port, 30)
        while not stopping.is_set():
            for command in ("P D", "F 3", "T L 7", "Q P", "Q T;Q N;Q S"):
                c.send(command)
                for _ in range(command.count(";") + 1):
                    c.line()
                    replies.append(1)
    except (OSError, ConnectionError):
        pass  # the program went away under it: what quitting does


def read(http_port, stopping):
    while not stopping.is_set():
        for name in ("turtle", "wall", "coin", "camera"):
            try:
                url = "http://127.0.0.1:%d/%s" % (http_port, name)
                urllib.request.urlopen(url, timeout=30).read()
            except OSError:
                return


def main(program):
    if shutil.which("xdotool") is None:
        print("quit_while_busy: no xdotool, skipped")
        return 0
    xserver, display = start_x_server()
    if xserver is None:
        print("quit_while_busy: no Xvfb, skipped")
        return 0
    port, http_port = free_ports(2)
    home = tempfile.mkdtemp(prefix="kelpmoor-quit-")
    env = dict(os.environ, DISPLAY=display, HOME=home, KELPMOOR_PORT=str(port),
               KELPMOOR_HTTP_PORT=str(http_port))
    log_path = os.path.join(home, "kelpmoor.log")
    stopping = threading.Event()
    with open(log_path, "wb") as log:
        proc = subprocess.Popen([program], env=env, stdout=log, stderr=subprocess.STDOUT)
    try:
        deadline = time.monotonic() + float(os.environ.get("KELPMOOR_START_SECONDS", "90"))
        while not (listening(port) and listening(http_port)):
            if proc.poll() is not None or time.monotonic() > deadline:
                print("quit_while_busy: kelpmoor did not start", file=sys.stderr)
                return 1
            time.sleep(0.1)
        replies = []
        workers = [threading.Thread(target=drive, args=(port, stopping, replies))
                   for _ in range(DRIVERS)]
        workers += [threading.Thread(target=read, args=(http_port, stopping))
                    for _ in range(READERS)]
        for w in workers:
            w.start()
        time.sleep(DRIVE_SECONDS)
        answered = len(replies)
        typed = subprocess.run(["xdotool", "search", "--sync", "--name", "Kelpmoor", "windowfocus",
                                "--sync", "key", "Q"], env=env, capture_output=True, timeout=60)
        try:
            status = proc.wait(60)
        except subprocess.TimeoutExpired:
            status = None
        stopping.set()
        for w in workers:
            w.join(60)
        with open(log_path, errors="replace") as f:
            log_text = f.read()
        problems = []
        if answered < 10:
            problems.append("only %d replies before Q" % answered)
        if status != 0:  # (xdotool may complain of the window that vanished under it)
            problems.append("exit status %s after Q, not 0; xdotool said: %s"
                            % (status, typed.stderr.decode("latin-1")))
        problems += ["%s on standard error" % m for m in SANITIZER_MARKS if m in log_text]
        if problems:
            print("quit_while_busy: " + "; ".join(problems), file=sys.stderr)
            sys.stderr.write("---- kelpmoor's output ----\n" + log_text[-20000:])
            return 1
        print("quit_while_busy: Q ended kelpmoor with status 0 after %d replies" % answered)
        return 0
    finally:
        stopping.set()
        stop(proc)
        stop(xserver)
        shutil.rmtree(home, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
