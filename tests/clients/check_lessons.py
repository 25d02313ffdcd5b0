#!/usr/bin/env python3
"""Runs one lesson written for Python's turtle module (tests/clients/lessons/, only the import
changed to kelpmoor.turtle) against the arena of tests/clients/arena.py, then checks the
window capture: each figure where the turtle module would draw it, in its colours.

    check_lessons.py square | star | spiral
"""

import math
import os
import subprocess
import sys
import time

from check_examples import ROOT, RUN_LIMIT, capture

LESSONS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "lessons")
COLOURS = {"red": (255, 0, 0), "orange": (255, 165, 0), "yellow": (255, 255, 0),
           "green": (0, 128, 0), "blue": (0, 0, 255), "cyan": (0, 255, 255),
           "magenta": (255, 0, 255), "white": (255, 255, 255), "floor": (0, 0, 0)}


def run_lesson(name):
    env = dict(os.environ, PYTHONPATH=os.path.join(ROOT, "clients", "python"))
    subprocess.run([sys.executable, os.path.join(LESSONS, name + ".py")], env=env, check=True,
                   timeout=RUN_LIMIT)
    time.sleep(0.5)  # the last strokes are painted at the next frame
    return capture()[2]


def near(rows, x, y, colour, reach=2):
    """Some pixel within reach of field point (x, y) has the colour (top view: one pixel a
    unit, y up)."""
    want = COLOURS[colour]
    px, py = round(256 + x), round(256 - y)
    return any(sum(abs(a - b) for a, b in zip(rows[j][i], want)) < 90
               for j in range(py - reach, py + reach + 1)
               for i in range(px - reach, px + reach + 1))


def expect(ok, what):
    print(("ok: " if ok else "FAILED: ") + what)
    return ok


def check_square(rows):
    sides = [("red", 75, 0), ("green", 150, 75), ("blue", 75, 150), ("yellow", 0, 75)]
    good = [expect(near(rows, x, y, c), f"{c} side at ({x}, {y})") for c, x, y in sides]
    good.append(expect(near(rows, 75, 75, "floor", 0), "the inside is the floor"))
    return all(good)


def check_star(rows):
    # From (-100, 30) facing east: five sides of 200, turning right 144 after each.
    corners, (x, y), h = [], (-100.0, 30.0), 0.0
    for _ in range(5):
        corners.append((x, y))
        x, y = x + 200 * math.cos(math.radians(h)), y + 200 * math.sin(math.radians(h))
        h -= 144
    cx = sum(p[0] for p in corners) / 5
    cy = sum(p[1] for p in corners) / 5
    good = []
    for px, py in corners:  # inside each point of the star, near its tip
        tx, ty = px + 0.2 * (cx - px), py + 0.2 * (cy - py)
        good.append(expect(near(rows, tx, ty, "yellow", 0), f"point at ({tx:.0f}, {ty:.0f})"))
    good.append(expect(near(rows, cx, cy, "floor", 0), "the pentagon inside is left empty"))
    ox, oy = (corners[0][0] + corners[1][0]) / 2, (corners[0][1] + corners[1][1]) / 2
    good.append(expect(near(rows, ox, oy, "red"), "the outline on top of the fill"))
    return all(good)


def check_spiral(rows):
    names = ["red", "orange", "yellow", "green", "cyan", "magenta"]
    good = []
    for i in range(12):
        h, r = math.radians(30 * i), 30 + 5 * i
        cx, cy = -r * math.sin(h), r * math.cos(h)  # a circle's centre is radius to the left
        samples = [(cx + r * math.cos(a), cy + r * math.sin(a))
                   for a in (2 * math.pi * k / 36 for k in range(36))]
        hits = sum(near(rows, x, y, names[i % 6]) for x, y in samples if math.hypot(x, y) > 20)
        good.append(expect(hits >= 12, f"circle {i} ({names[i % 6]}, centre ({cx:.0f}, "
                                       f"{cy:.0f}), radius {r}): {hits} points on it"))
    good.append(expect(near(rows, 0, 0, "white", 0) and near(rows, 10, 0, "white", 0),
                       "the white dot at the centre"))
    text = sum(near(rows, x, y, "cyan", 0) for x in range(-40, 41) for y in range(-198, -186))
    right = sum(near(rows, x, y, "cyan", 0) for x in range(45, 120) for y in range(-198, -186))
    good.append(expect(text >= 10, f"the title centred under the spiral ({text} pixels)"))
    good.append(expect(right == 0, "nothing of the title beyond its centred width"))
    return all(good)


def main(argv):
    checks = {"square": check_square, "star": check_star, "spiral": check_spiral}
    if len(argv) != 2 or argv[1] not in checks:
        print(__doc__, file=sys.stderr)
        return 2
    return 0 if checks[argv[1]](run_lesson(argv[1])) else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
