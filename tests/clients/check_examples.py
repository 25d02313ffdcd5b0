#!/usr/bin/env python3
"""Runs one example bot for a few seconds against the arena of tests/clients/arena.py and checks
that it left the effect it exists for.

    check_examples.py spiral | wall | coins COIN_COLLECTOR | battle | team

spiral: the program's own capture (key p, sent to its window) shows a spiral of many colours;
wall: the follower kept the wall beside it and went along it; coins: a coin was picked; battle:
a shot was fired (it cost a point); team: the team script ran its bots to the end.
"""

import glob
import math
import os
import re
import subprocess
import sys
import time

from arena import read_png

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
EXAMPLES = os.path.join(ROOT, "examples")
RUN_LIMIT = 300  # seconds a bot may take, sanitizer builds included


def run(cmd):
    print("running:", " ".join(cmd), flush=True)
    done = subprocess.run(cmd, capture_output=True, text=True, timeout=RUN_LIMIT)
    sys.stdout.write(done.stdout)
    sys.stderr.write(done.stderr)
    if done.returncode != 0:
        raise SystemExit(f"exit status {done.returncode}")
    return done.stdout


def tally(out, line_start):
    """The last line starting with line_start, as {word: number} of its word-number pairs."""
    lines = [l for l in out.splitlines() if l.startswith(line_start)]
    if not lines:
        raise SystemExit(f"no line starting with {line_start!r} in the output")
    words = lines[-1].split()
    return {w: float(v) for w, v in zip(words, words[1:]) if re.fullmatch(r"-?[\d.]+", v)}


# ---- The capture: key p sent to the arena's window, then the PNG it writes. ----

def press_key(key, shift=False):
    """Sends a key press and release to the arena's window: the window named "... Kelpmoor @
    host" on this display (arena.py gives every arena a display of its own)."""
    found = subprocess.run(["xdotool", "search", "--name", "Kelpmoor @ "], capture_output=True,
                           text=True).stdout.split()
    if len(found) != 1:
        raise SystemExit(f"{len(found)} Kelpmoor windows on this display, not one")
    subprocess.run(["xdotool", "key", "--window", found[0], ("shift+" if shift else "") + key],
                   check=True)


def capture():
    home = os.environ["KELPMOOR_HOME"]
    before = set(glob.glob(os.path.join(home, "kelpmoor-capture-*.png")))
    press_key("p")
    deadline = time.monotonic() + 60
    while time.monotonic() < deadline:
        new = set(glob.glob(os.path.join(home, "kelpmoor-capture-*.png"))) - before
        if new:
            path = new.pop()
            time.sleep(0.5)  # let the frame finish writing it
            with open(path, "rb") as f:
                return read_png(f.read())
        time.sleep(0.1)
    raise SystemExit("the arena wrote no capture")


# ---- The checks ----

def check_spiral():
    turns = 3
    run([sys.executable, os.path.join(EXAMPLES, "spiral_painter.py"), "--turns", str(turns)])
    time.sleep(0.5)  # the last strokes are painted at the next frame
    width, height, rows = capture()
    # Painted: strongly coloured pixels (the floor is black, turtles' labels are off).
    points = [(x, y, rgb) for y, row in enumerate(rows) for x, rgb in enumerate(row)
              if max(rgb) - min(rgb) >= 100]
    if len(points) < 1000:
        raise SystemExit(f"only {len(points)} painted pixels in the capture")
    cx = sum(p[0] for p in points) / len(points)
    cy = sum(p[1] for p in points) / len(points)
    # A spiral crosses every direction from its centre once per turn, farther out each time.
    sectors = [set() for _ in range(12)]
    for x, y, _ in points:
        r = math.hypot(x - cx, y - cy)
        if r >= 8:
            a = (math.atan2(y - cy, x - cx) + math.pi) / (2 * math.pi)
            sectors[min(11, int(a * 12))].add(int(r // 4))
    crossed = [sum(1 for b in bins if b - 1 not in bins) for bins in sectors]  # runs of radii
    hues = {max(range(3), key=lambda i: rgb[i]) for _, _, rgb in points}
    print(f"painted pixels {len(points)}, centre ({cx:.0f}, {cy:.0f}), arms per sector "
          f"{crossed}, dominant channels {sorted(hues)}")
    if sum(c >= turns - 1 for c in crossed) < 10:
        raise SystemExit("the painting is not a spiral of several turns")
    if len(hues) < 3:
        raise SystemExit("the spiral does not run through the colours")


def check_wall(node):
    out = run([node, os.path.join(EXAMPLES, "wall_follower.js"), "--seconds", "15"])
    t = tally(out, "steps")
    print(t)
    if t["steps"] < 20 or t["along_wall"] < 0.5 * t["steps"]:
        raise SystemExit("the follower did not keep the wall beside it")
    if t["travelled"] < 100:
        raise SystemExit("the follower did not go along the wall")
    x, y = (float(v) for v in out.split("end")[-1].split()[:2])
    if max(abs(x), abs(y)) < 256 - 40:
        raise SystemExit(f"the follower ended at ({x}, {y}), away from every wall")


def check_coins(collector):
    out = run([collector, "--seconds", "30", "--scatter", "20"])
    t = tally(out, "picked")
    if t["picked"] < 1 or t["held"] < 1:
        raise SystemExit("no coin was picked")


def check_battle(node):
    out = run([node, os.path.join(EXAMPLES, "battle_bot.js"), "--seconds", "15", "--battle",
               "--robots", "3"])
    t = tally(out, "shots")
    if t["shots"] < 1:
        raise SystemExit("no shot was fired")


def check_team(node):
    out = run([sys.executable, os.path.join(EXAMPLES, "team_vs_robots.py"), "--bots", "2",
               "--robots", "2", "--seconds", "5"])
    if len(re.findall(r"^bot \d+: shots \d+", out, re.M)) != 2:
        raise SystemExit("the team did not report")


def main(argv):
    what = argv[1] if len(argv) > 1 else ""
    node = os.environ.get("KELPMOOR_NODE", "node")
    checks = {"spiral": check_spiral, "wall": lambda: check_wall(node),
              "coins": lambda: check_coins(argv[2]), "battle": lambda: check_battle(node),
              "team": lambda: check_team(node)}
    if what not in checks:
        print(__doc__, file=sys.stderr)
        return 2
    checks[what]()
    print(f"{what}: ok")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
