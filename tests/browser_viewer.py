#!/usr/bin/env python3
"""browser_viewer.py: the browser viewer end to end in headless Chromium, beside the arena of
tests/clients/arena.py.

    arena.py PROGRAM -- browser_viewer.py floor SCREENSHOT.png
        a client paints a red square and prints text on a dark blue floor, turtles stand in
        teams: the screenshot shows the paint, the floor colour and the window's team colour,
        from the event stream and, with the stream unavailable, from polling
    arena.py PROGRAM -- browser_viewer.py memory
        rounds of a battle (turtles joining, driving, firing and leaving, coins scattered and
        picked, labels shown, the maze switched): the viewer's GPU memory stays flat
    arena.py PROGRAM -- browser_viewer.py replay
        the key r records a red square painted, then a green one: /replay/NAME sought to the
        tick between them shows only the red one, sought to the end both
"""
import json
import math
import os
import random
import re
import sys
import time
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [os.path.join(HERE, "clients"), os.path.join(os.path.dirname(HERE), "tools")]
from arena import Connection, read_png  # noqa: E402
from chromium_page import ChromiumPage  # noqa: E402
from check_examples import press_key  # noqa: E402

FOV_DEGREES = 64       # the viewer's field of view (web/viewer.js)
OVERVIEW_HEIGHT = 450  # the overview camera's height
SHELL_TOP = 5          # the turtle's shell is widest at this height
WINDOW = (800, 600)
TURTLES = [("alpha", -150, 100, 1), ("beta", 120, -80, 0), ('q"\xe9', 40, 150, 3)]
FLOOR = (0, 0, 128)    # H 0 0 0.5
SQUARE = (-200, -60, 80)  # lower left corner and side of the red square
# The window's team-1 body seen from above: diffuse (0.7, 0.3, 1.0) under the light straight
# down, plus 0.2 ambient on 0.6 of it.
TEAM1 = tuple(min(255, round(255 * c * 1.12)) for c in (0.7, 0.3, 1.0))
failed = []
port = int(os.environ.get("KELPMOOR_PORT", "2222"))
base = "http://127.0.0.1:%s/" % os.environ.get("KELPMOOR_HTTP_PORT", "2280")


def check(ok, message):
    if not ok:
        print("FAIL: " + message, file=sys.stderr)
        failed.append(message)


def near(rgb, want, tolerance=40):
    return all(abs(a - b) <= tolerance for a, b in zip(rgb, want))


def client(port, name, *commands):
    c = Connection(port, 10)
    for command in ("N " + name.encode("latin-1").hex(),) + commands:
        c.ask(command)
    return c


def viewer_ready(page):
    page.wait_for("window.kelpmoorViewer && kelpmoorViewer.state().source !== 'none' && "
                  "kelpmoorViewer.state().floor !== null && "
                  "kelpmoorViewer.state().floor === kelpmoorViewer.state().floorWanted")
    return page.evaluate("kelpmoorViewer.state()")


def overview_pixels(png):
    """A function from a field point (x, y, height z) to its pixel in an overview screenshot."""
    w, h, rows = read_png(png)
    scale = (h / 2) / (OVERVIEW_HEIGHT * math.tan(math.radians(FOV_DEGREES / 2)))

    def at(x, y, z=0):
        s = scale * OVERVIEW_HEIGHT / (OVERVIEW_HEIGHT - z)
        return rows[round(h / 2 - y * s)][round(w / 2 + x * s)]
    return at


def check_floor_shot(png, source):
    at = overview_pixels(png)
    x0, y0, side = SQUARE
    for dx, dy in ((0.5, 0.5), (0.2, 0.2), (0.8, 0.8)):
        rgb = at(x0 + side * dx, y0 + side * dy)
        check(near(rgb, (255, 0, 0)), "%s: not red inside the square: %s" % (source, rgb))
    for x, y in ((0, 0), (-200, -200), (200, 50), (100, -220)):
        rgb = at(x, y)
        check(near(rgb, FLOOR, 20), "%s: not the floor colour at (%d, %d): %s" % (source, x, y, rgb))
    for name, x, y, team in TURTLES:
        rgb = at(x, y, SHELL_TOP)
        check(not near(rgb, FLOOR, 30), "%s: no turtle drawn at (%d, %d)" % (source, x, y))
        if team == 1:
            check(near(rgb, TEAM1, 25), "%s: team 1's turtle is %s, not %s" % (source, rgb, TEAM1))


def floor_test(screenshot):
    x0, y0, side = SQUARE
    square = ["L S", "P D"] + ["F %d" % side, "T L 90"] * 4
    clients = [client(port, "painter", "H 0 0 0.5", "J %d %d" % (x0, y0), "T E", "K 1 0 0",
                      *square, "P U", "L -", "J -180 -180", "K 1 1 0",
                      "S " + b"HELLO".hex(), "J 230 230")]
    for name, x, y, team in TURTLES:  # kept open: a closed client's turtle becomes a zombie
        clients.append(client(port, name, "J %d %d" % (x, y), "T N", "I %d" % team))

    with ChromiumPage(*WINDOW) as page:
        page.open(base)
        state = viewer_ready(page)
        check(state["source"] == "stream", "the viewer is not on the stream: %s" % state)
        png = page.screenshot()
        with open(screenshot, "wb") as f:
            f.write(png)
        check_floor_shot(png, "stream")
        names = page.evaluate("Array.from(document.querySelectorAll('[id^=score]'))"
                              ".map(function (e) { return e.textContent; }).join('\\n')")
        for name, _, _, _ in TURTLES:
            check(re.search("^" + re.escape(name) + ": 100 points", names, re.M),
                  "no score line names %r:\n%s" % (name, names))

    with ChromiumPage(*WINDOW) as page:
        page.before_load("window.EventSource = undefined;")
        page.open(base)
        state = viewer_ready(page)
        check(state["source"] == "poll", "without the stream the viewer does not poll: %s" % state)
        page.wait_for("/turtles alive/.test(document.getElementById('result').textContent)")
        check_floor_shot(page.screenshot(), "polling")


def battle_round(port, rng, round_no):
    """Turtles join, drive and fire while coins are scattered and picked; then the maze is
    switched, which removes them all and changes the walls."""
    clients = []
    for i in range(4):
        for attempt in range(10):  # the last round's kill-all may still take a newcomer
            try:
                clients.append(client(port, "r%d-%d" % (round_no, i), "I %d" % (i % 5)))
                break
            except ConnectionError:
                time.sleep(0.5)
    for step in range(60):
        for c in list(clients):
            try:
                c.ask(rng.choice(["F 6", "T L 25", "T R 25", "X", "O"]))
                if step % 10 == 0:
                    c.ask("O X")
            except ConnectionError:  # its turtle exploded
                clients.remove(c)
    return clients


def memory_test():
    rng = random.Random(5)
    Connection(port, 10).ask("!")
    with ChromiumPage(*WINDOW) as page:
        page.open(base)
        viewer_ready(page)
        for key, flag in (("n", "name"), ("s", "score")):  # the window's labels
            shown = "kelpmoorViewer.state().labels.%s === 1" % flag
            for attempt in range(5):  # a window still starting may miss a key
                if page.evaluate(shown):
                    break
                press_key(key)
                page.wait_for(shown, 3)
            check(page.evaluate(shown), "no %s labels shown" % flag)
        samples = []  # after each switch back out of the maze: no turtle, the same walls
        for round_no in range(8):
            clients = battle_round(port, rng, round_no)
            maze = 1 - round_no % 2
            press_key("M", shift=True)
            check(page.wait_for("kelpmoorViewer.state().modes.maze === %d && "
                                "/ 0 turtles alive/.test(document.getElementById('result')"
                                ".textContent)" % maze), "the maze was not switched")
            for c in clients:
                c.sock.close()
            if maze == 0:
                samples.append(page.evaluate("kelpmoorViewer.state()"))
        print("viewer memory with the field emptied:", [s["memory"] for s in samples])
        first, last = samples[0]["memory"], samples[-1]["memory"]
        check(samples[-1]["source"] == "stream", "the viewer left the stream: %s" % samples[-1])
        for kind in ("geometries", "textures"):
            check(last[kind] <= first[kind], "%s grew from %d to %d over %d rounds" %
                  (kind, first[kind], last[kind], len(samples) - 1))


def replay_test():
    def document(path):
        with urllib.request.urlopen(base + path, timeout=10) as r:
            return json.load(r)

    painter = client(port, "painter", "H 0 0 0.5", "L S")
    listed = []
    for attempt in range(5):  # a window still starting may miss a key
        press_key("r")
        deadline = time.monotonic() + 3
        while not listed and time.monotonic() < deadline:
            time.sleep(0.2)
            listed = document("live/recordings")
        if listed:
            break
    check(len(listed) == 1, "the key r made no single recording: %s" % listed)
    if not listed:
        return
    side = 80
    squares = {"red": ((-200, -60), (1, 0, 0)), "green": ((60, 40), (0, 1, 0))}
    ticks = {}
    for name in ("red", "green"):
        (x, y), rgb = squares[name]
        square = ["J %d %d" % (x, y), "T E", "K %d %d %d" % rgb, "P D"]
        for command in square + ["F %d" % side, "T L 90"] * 4 + ["P U"]:
            painter.ask(command)
        time.sleep(1)  # the floor is read back and recorded within a frame or two
        ticks[name] = document("turtle")[0]["time"]

    def square_colours(png):
        at = overview_pixels(png)
        return {name: [at(x + side * d, y + side * d) for d in (0.3, 0.5, 0.7)]
                for name, ((x, y), _) in squares.items()}

    with ChromiumPage(*WINDOW) as page:
        # The first instant is sought by the page's address (built from the key frame), the
        # second through the page (the frames after the one shown).
        page.open(base + "replay/%s?t=%d" % (listed[0]["name"], ticks["red"]))
        shown = "(kelpmoorViewer.state().replay || {}).tick"
        for want, painted in ((ticks["red"], ("red",)), (ticks["green"], ("red", "green"))):
            if want != ticks["red"]:
                page.evaluate("kelpmoorViewer.seekTick(%d)" % want)
            page.wait_for("window.kelpmoorViewer && %s != null && "
                          "%s === kelpmoorViewer.state().replay.wantedTick" % (shown, shown))
            tick = page.evaluate(shown)
            check(tick is not None and tick <= want,
                  "sought to tick %d, the page shows tick %s" % (want, tick))
            page.evaluate("new Promise(function (r) { requestAnimationFrame(r); })")
            for name, pixels in square_colours(page.screenshot()).items():
                rgb = tuple(255 * c for c in squares[name][1])
                for p in pixels:
                    check(near(p, rgb) if name in painted else near(p, FLOOR, 20),
                          "tick %d: the %s square's pixel is %s" % (want, name, p))


def main():
    if sys.argv[1:2] == ["floor"]:
        floor_test(sys.argv[2])
    elif sys.argv[1:2] == ["memory"]:
        memory_test()
    elif sys.argv[1:2] == ["replay"]:
        replay_test()
    else:
        raise SystemExit(__doc__)
    if failed:
        sys.exit(1)
    print("browser viewer: all checks passed")


if __name__ == "__main__":
    main()
