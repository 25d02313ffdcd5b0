#!/usr/bin/env python3
"""Run under arena.py: the Q key, typed with xdotool while clients drive turtles, a browser
reads documents and another watches the event stream, ends Kelpmoor (arena.py then checks its
status is 0) with nothing from a sanitizer in its log."""

import os
import subprocess
import sys
import threading
import time
import urllib.request

from arena import Connection, listening

port, http_port = int(os.environ["KELPMOOR_PORT"]), int(os.environ["KELPMOOR_HTTP_PORT"])
replies, stopping = [], threading.Event()


def drive():
    try:
        c = Connection(port, 30)
        while not stopping.is_set():
            for command in ("P D", "F 3", "T L 7", "Q P", "Q T;Q N;Q S"):
                c.send(command)
                replies.extend(c.line() for _ in range(command.count(";") + 1))
    except (OSError, ConnectionError):
        pass  # the program went away under it, as quitting does


def read(names):
    while not stopping.is_set():
        for name in names:
            try:
                urllib.request.urlopen(f"http://127.0.0.1:{http_port}/{name}", timeout=30).read()
            except OSError:
                return


workers = [threading.Thread(target=drive) for _ in range(3)]
workers += [threading.Thread(target=read, args=(names,))
            for names in (("turtle", "wall", "coin", "camera"), ("live/stream",))]
for w in workers:
    w.start()
time.sleep(2)
answered = len(replies)
# xdotool may complain of the window that vanished under it: the port tells what happened.
subprocess.run(["xdotool", "search", "--sync", "--name", "Kelpmoor", "windowfocus", "--sync",
                "key", "Q"], capture_output=True, timeout=60)
deadline = time.monotonic() + 60
while listening(port) and time.monotonic() < deadline:
    time.sleep(0.1)
stopping.set()
for w in workers:
    w.join(60)
time.sleep(1)
with open(os.path.join(os.environ["KELPMOOR_HOME"], "kelpmoor.log"), errors="replace") as f:
    log = f.read()
problems = [f"only {answered} replies before Q"] if answered < 10 else []
problems += ["still listening after Q"] if listening(port) else []
problems += [m for m in ("Sanitizer", "runtime error:") if m in log]
if problems:
    sys.exit("quit_while_busy: " + "; ".join(problems))
print(f"quit_while_busy: Q ended kelpmoor after {answered} replies")
