#!/usr/bin/env python3
# browser_viewer.py: the browser viewer end to end. Starts the real program on free ports,
# places turtles through the command port, loads the viewer page in headless Chromium and
# checks the screenshot (turtles drawn where they stand) and the page (their names in the
# score elements). Also reads the turtle document with a JSON parser, names with quotes and
# bytes above 0x7e included.
#
#   browser_viewer.py PROGRAM SCREENSHOT.png
import json
import math
import os
import re
import socket
import struct
import subprocess
import sys
import tempfile
import time
import urllib.request
import zlib

FOV_DEGREES = 64       # the viewer's field of view (web/viewer.js)
OVERVIEW_HEIGHT = 450  # the overview camera's height
SHELL_TOP = 26 * 46 / 64  # height of a turtle's top as the viewer draws it
WINDOW = (800, 600)
TURTLES = [("alpha", -150, 100), ("beta", 120, -80), ('q"\xe9', 40, 150)]


def fail(message):
    print("FAIL: " + message, file=sys.stderr)
    sys.exit(1)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for(predicate, seconds, what):
    end = time.time() + seconds
    while time.time() < end:
        if predicate():
            return
        time.sleep(0.1)
    fail("timed out waiting for " + what)


def command(conn, text):
    conn.sendall((text + "\n").encode("latin-1"))
    reply = b""
    while not reply.endswith(b"\n"):
        chunk = conn.recv(1000)
        if not chunk:
            fail("command server closed the connection after " + text)
        reply += chunk
    return reply.decode("latin-1").strip()


def read_png(data):
    """RGB rows of an 8-bit RGB or RGBA PNG (what Chromium writes)."""
    pos, idat = 8, b""
    while pos < len(data):
        n, kind = struct.unpack(">I4s", data[pos:pos + 8])
        if kind == b"IHDR":
            w, h, depth, colour = struct.unpack(">IIBB", data[pos + 8:pos + 18])
        elif kind == b"IDAT":
            idat += data[pos + 8:pos + 8 + n]
        pos += 12 + n
    if depth != 8 or colour not in (2, 6):
        fail("unexpected screenshot format %d/%d" % (depth, colour))
    bpp = 3 if colour == 2 else 4
    raw, stride, rows, prev, i = zlib.decompress(idat), w * bpp, [], bytearray(w * bpp), 0
    for _ in range(h):
        f, row = raw[i], bytearray(raw[i + 1:i + 1 + stride])
        i += 1 + stride
        for x in range(stride):
            a = row[x - bpp] if x >= bpp else 0
            b = prev[x]
            c = prev[x - bpp] if x >= bpp else 0
            if f == 1:
                row[x] = (row[x] + a) & 255
            elif f == 2:
                row[x] = (row[x] + b) & 255
            elif f == 3:
                row[x] = (row[x] + (a + b) // 2) & 255
            elif f == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                row[x] = (row[x] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append([tuple(row[x:x + 3]) for x in range(0, stride, bpp)])
        prev = row
    return w, h, rows


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
    program, screenshot = sys.argv[1], sys.argv[2]
    ports = free_port(), free_port()
    env = dict(os.environ, KELPMOOR_PORT=str(ports[0]), KELPMOOR_HTTP_PORT=str(ports[1]))
    log = tempfile.TemporaryFile()
    kelpmoor = subprocess.Popen([program], env=env, stderr=log, stdout=log)
    clients = []
    try:
        def listening():
            log.seek(0)
            text = log.read()
            if kelpmoor.poll() is not None:
                fail("kelpmoor exited:\n" + text.decode("latin-1"))
            return b"httpd: listening for connections on port %d" % ports[1] in text
        wait_for(listening, 30, "the HTTP server")
        base = "http://127.0.0.1:%d/" % ports[1]

        for name, x, y in TURTLES:
            c = socket.create_connection(("127.0.0.1", ports[0]), timeout=10)
            clients.append(c)
            command(c, "N " + " ".join("%02x" % ord(ch) for ch in name))
            command(c, "J %d %d" % (x, y))
            command(c, "T N")

        # The turtle document parses as JSON, whatever the names hold.
        doc = json.loads(urllib.request.urlopen(base + "turtle", timeout=10).read())
        for name, x, y in TURTLES:
            found = [t for t in doc if t["alive"] and t["name"] == name]
            if len(found) != 1 or (found[0]["x"], found[0]["y"]) != (x, y):
                fail("turtle %r not at (%d, %d) in %r" % (name, x, y, doc))

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
    finally:
        for c in clients:
            c.close()
        kelpmoor.terminate()
        try:
            kelpmoor.wait(10)
        except subprocess.TimeoutExpired:
            kelpmoor.kill()


if __name__ == "__main__":
    main()
