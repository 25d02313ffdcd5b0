#!/usr/bin/env python3
"""Makes the README's browser pictures: a painted field seen by the browser viewer (overview
and following a turtle) and the window's own capture of the same moment.

    tools/viewer_pictures.py build/kelpmoor docs

Runs the program in an arena of its own (tests/clients/arena.py, under Xvfb) and writes
DIR/viewer.png, DIR/viewer-window.png and DIR/viewer-follow.png.
"""

import glob
import math
import os
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path[:0] = [os.path.join(ROOT, "tests", "clients"), os.path.join(ROOT, "tools")]
from arena import Connection  # noqa: E402
from check_examples import press_key  # noqa: E402
from chromium_page import ChromiumPage  # noqa: E402

SIZE = 512  # the window's side; the browser's pictures are as large


def client(port, name, commands):
    c = Connection(port, 10)
    for command in ["N " + name.encode().hex()] + commands:
        c.ask(command)
    return c


def paint(port):
    """A spiral in changing colours, a filled square, printed text, turtles of four teams."""
    spiral = ["J 60 -40", "T E", "W 3", "P D"]
    for i in range(90):
        a = i / 90 * 2 * math.pi
        spiral += ["K %.2f %.2f %.2f" % (0.5 + 0.5 * math.cos(a), 0.5 + 0.5 * math.sin(a), 0.8),
                   "F %.1f" % (2 + i * 0.12), "T L 16"]
    square = ["J -200 -200", "T E", "K 1 0.1 0.1", "L S", "P D"] + ["F 90", "T L 90"] * 4
    text = ["P U", "L -", "J -200 150", "K 1 1 0.3", "S " + b"HELLO FROM KELPMOOR".hex()]
    clients = [client(port, "painter", ["H 0.05 0.1 0.3"] + spiral + ["P U"] + square + text +
                      ["J -120 -60", "T N"])]
    for name, x, y, team, heading in (("alpha", 150, 150, 1, "T S"), ("beta", -40, 60, 2, "T R 40"),
                                      ("gamma", 200, -180, 3, "T W")):
        clients.append(client(port, name, ["J %d %d" % (x, y), "T E", heading, "I %d" % team]))
    return clients


def window_capture(path):
    home = os.environ["KELPMOOR_HOME"]
    before = set(glob.glob(os.path.join(home, "kelpmoor-capture-*.png")))
    press_key("p")
    for _ in range(600):
        new = set(glob.glob(os.path.join(home, "kelpmoor-capture-*.png"))) - before
        if new:
            source = new.pop()
            size = -1
            while size != os.path.getsize(source):  # until the window has written it all
                size = os.path.getsize(source)
                time.sleep(0.5)
            os.replace(source, path)
            return
        time.sleep(0.1)
    raise SystemExit("the window wrote no capture")


def browser_shot(url, path):
    with ChromiumPage(SIZE, SIZE) as page:
        page.open(url)
        if not page.wait_for("window.kelpmoorViewer && kelpmoorViewer.state().floor !== null && "
                             "kelpmoorViewer.state().floor === "
                             "kelpmoorViewer.state().floorWanted"):
            raise SystemExit("the viewer did not show the floor at " + url)
        time.sleep(1)  # the labels' first frames
        with open(path, "wb") as f:
            f.write(page.screenshot())


def main():
    if len(sys.argv) != 3:
        raise SystemExit(__doc__)
    if "KELPMOOR_PORT" not in os.environ:
        sys.exit(subprocess.call([sys.executable, os.path.join(ROOT, "tests", "clients",
                                                               "arena.py"),
                                  sys.argv[1], "--", sys.executable, *sys.argv]))
    out = sys.argv[2]
    port = int(os.environ["KELPMOOR_PORT"])
    base = "http://127.0.0.1:%s/" % os.environ["KELPMOOR_HTTP_PORT"]
    clients = paint(port)  # noqa: F841 (kept open: a closed client leaves a zombie)
    for key in "ns":  # the window's name and score labels
        press_key(key)
    time.sleep(1)
    window_capture(os.path.join(out, "viewer-window.png"))
    browser_shot(base, os.path.join(out, "viewer.png"))
    browser_shot(base + "beta/", os.path.join(out, "viewer-follow.png"))
    print("pictures in " + out)


if __name__ == "__main__":
    main()
