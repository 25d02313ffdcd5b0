#!/usr/bin/env python3
# browser_viewer.py: the browser viewer end to end, beside the arena of tests/clients/arena.py.
# Places turtles through the command port, loads the viewer page in headless Chromium and
# checks the screenshot (turtles drawn where they stand) and the page (their names in the
# score elements), names with quotes and bytes above 0x7e included.
#
#   arena.py PROGRAM -- browser_viewer.py SCREENSHOT.png
import math
import os
import re
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "clients"))
from arena import Connection, read_png  # noqa: E402

FOV_DEGREES = 64       # the viewer's field of view (web/viewer.js)
OVERVIEW_HEIGHT = 450  # the overview camera's height
SHELL_TOP = 26 * 46 / 64  # height of a turtle's top as the viewer draws it
WINDOW = (800, 600)
TURTLES = [("alpha", -150, 100), ("beta", 120, -80), ('q"\xe9', 40, 150)]


def fail(message):
    print("FAIL: " + message, file=sys.stderr)
    sys.exit(1)


def shell_pixels(rows, cx, cy, radius=12):
    """Pixels of turtle-shell brown (red well above blue) in a square around (cx, cy)."""
    n = 0
    for y in range(max(0, cy - radius), min(len(rows), cy + radius + 1)):
        for x in range(max(0, cx - radius), min(len(rows[0]), cx + radius + 1)):
            r, g, b = rows[y][x]
            n += r > b + 40 and r > 50
    return n


def chromium(url, *args):
    with tempfile.TemporaryDirectory() as profile:
        return subprocess.run(
            ["chromium", "--headless", "--no-sandbox", "--enable-unsafe-swiftshader",
             "--user-data-dir=" + profile, "--window-size=%d,%d" % WINDOW,
             "--virtual-time-budget=3000", *args, url],
            capture_output=True, timeout=120)


def main():
    screenshot = sys.argv[1]
    base = "http://127.0.0.1:%s/" % os.environ["KELPMOOR_HTTP_PORT"]
    clients = []  # kept open: a closed client's turtle would become a zombie
    for name, x, y in TURTLES:
        clients.append(Connection(int(os.environ["KELPMOOR_PORT"]), 10))
        for command in ("N " + " ".join("%02x" % ord(ch) for ch in name), "J %d %d" % (x, y),
                        "T N"):
            clients[-1].ask(command)

    page = chromium(base, "--dump-dom").stdout.decode("utf-8", "replace")
    for name, _, _ in TURTLES:
        if not re.search(r'<div id="score\d+"[^>]*><span[^>]*>' + re.escape(name) + ":", page):
            fail("no score element names %r:\n%s" % (name, page[-2500:]))
    if not re.search(r'<div id="score29"><span></span><br><div id="result">tick \d+, '
                     r'3 turtles alive</div>', page):
        fail("result line missing:\n" + page[-600:])

    shot = chromium(base, "--screenshot=" + screenshot)
    if shot.returncode != 0 or not os.path.exists(screenshot):
        fail("no screenshot: " + shot.stderr.decode("latin-1")[-2000:])
    with open(screenshot, "rb") as f:
        w, h, rows = read_png(f.read())
    colours = {rows[y][x] for y in range(0, h, 4) for x in range(0, w, 4)}
    if len(colours) < 50:
        fail("the canvas looks blank: %d colours" % len(colours))
    scale = (h / 2) / ((OVERVIEW_HEIGHT - SHELL_TOP) * math.tan(math.radians(FOV_DEGREES / 2)))
    for name, x, y in TURTLES:
        px, py = round(w / 2 + x * scale), round(h / 2 - y * scale)
        if shell_pixels(rows, px, py) < 10:
            fail("no turtle drawn at (%d, %d), pixel (%d, %d)" % (x, y, px, py))
    if shell_pixels(rows, round(w / 2), round(h / 2)) != 0:
        fail("turtle colours at the empty centre of the field")
    print("viewer shows %d turtles; screenshot in %s" % (len(TURTLES), screenshot))


if __name__ == "__main__":
    main()
