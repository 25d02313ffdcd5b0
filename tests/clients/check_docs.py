#!/usr/bin/env python3
"""Runs every example of a reference document against the arena on KELPMOOR_PORT and
KELPMOOR_HTTP_PORT and checks each reply: the sessions of docs/protocol.md (kelpmoor blocks)
on the command port, the requests of docs/http.md (http blocks, with commands before them) on
the viewer port. Each notation is described at the end of its document. Raw sockets on
purpose: the reference must hold whatever the client libraries do.

    check_docs.py docs/protocol.md | docs/http.md
"""

import os
import re
import sys
import time

from arena import Connection, clear_until, fenced_blocks, matcher, read_png, report_examples

TIMEOUT = 20.0  # seconds for one reply; sanitizer builds under load are slow
SETTLE = 0.3  # seconds between a command and a request, so that a frame has published it
PORT = int(os.environ.get("KELPMOOR_PORT", "2222"))
HTTP_PORT = int(os.environ.get("KELPMOOR_HTTP_PORT", "2280"))

REPLY = {
    "tick": r"\d+",
    "events": r"\d+",
    "int": r"-?\d+",
    "real": r"-?\d+\.\d{6}",
    "ok": r"(?:OK|ERR)",
    "any": r".*",
}
RESPONSE = {"int": r"-?\d+", "real": r"-?\d+\.\d+", "any": r".*"}


def sessions(markdown):
    """(first line number, [(connection, kind, text, line number)]) per kelpmoor block."""
    found = []
    for start, lines in fenced_blocks(markdown, "kelpmoor"):
        steps = []
        for number, line in lines:
            m = re.match(r"^([a-z]?)([<>]) ?(.*)$", line)
            if m is None:
                raise SystemExit(f"line {number}: not an example line: {line!r}")
            steps.append((m.group(1) or "-", m.group(2), m.group(3), number))
        found.append((start, steps))
    return found


def expand_command(text):
    return re.sub(r"\{(\d+)\*(.)\}", lambda m: m.group(2) * int(m.group(1)), text)


def run_session(start, lines):
    conns, failures = {}, []
    # Open the connections in order of first use before anything runs, as the notation says.
    for name, _, _, _ in lines:
        if name not in conns:
            conns[name] = Connection(PORT, TIMEOUT)
            conns[name].ask("C A")
    clear_until(next(iter(conns.values())), len(conns), TIMEOUT)
    for name, kind, text, number in lines:
        c = conns[name]
        if kind == ">":
            c.send(expand_command(text))
            continue
        try:
            got = c.line()
        except (OSError, ConnectionError) as e:
            failures.append(f"line {number}: expected {text!r}, got no reply ({e})")
            return failures
        if not matcher(text, REPLY).match(got):
            failures.append(f"line {number}: expected {text!r}, got {got!r}")
    for name, c in conns.items():
        c.send(".")
        try:
            got = c.line()
        except (OSError, ConnectionError) as e:
            got = f"no reply ({e})"
        if not matcher("OK @ {tick} {events}", REPLY).match(got):
            failures.append(f"session at line {start}, connection {name}: a reply not in the "
                            f"example came first: {got!r}")
        c.sock.close()
    return failures


def png_size(data):
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        return None
    width, height, _ = read_png(data)
    return f"{width}x{height}"


def check_response(http, expected, failures):
    """expected: [(line number, text)] of the response: head lines, "", body lines."""
    head, length, stream = [], None, False
    while True:
        line = http.line().rstrip("\r")
        if not line:
            break
        head.append(line)
        if line.startswith("Content-Length: "):
            length = int(line[16:])
        stream = stream or line == "Content-Type: text/event-stream"
    blank = next((i for i, (_, t) in enumerate(expected) if t == ""), len(expected))
    for i, (number, text) in enumerate(expected[:blank]):
        got = head[i] if i < len(head) else "<none>"
        if not matcher(text, RESPONSE).match(got):
            failures.append(f"line {number}: expected {text!r}, got {got!r}")
    if len(head) != blank:
        failures.append(f"line {expected[0][0]}: {len(head)} head lines, not {blank}")
    body = expected[blank + 1:]
    if stream:
        for number, text in body:
            got = http.line()
            if not matcher(text, RESPONSE).match(got):
                failures.append(f"line {number}: expected {text!r}, got {got[:300]!r}")
        return
    data = http.take(length or 0)
    if not body:
        return
    number, text = body[0]
    m = re.fullmatch(r"\{png (\d+x\d+)\}", text)
    if m:
        if png_size(data) != m.group(1):
            failures.append(f"line {number}: expected a {m.group(1)} PNG")
    elif not matcher("\n".join(t for _, t in body), RESPONSE).match(data.decode("latin-1")):
        failures.append(f"line {number}: expected {text!r}, got {data[:300]!r}")


def run_block(start, lines):
    command, http, i, failures = None, None, 0, []
    while i < len(lines):
        number, text = lines[i]
        if text.startswith("> "):
            if command is None:
                command = Connection(PORT, TIMEOUT)
                clear_until(command, 1, TIMEOUT)
            command.ask(text[2:])
            time.sleep(SETTLE)
            i += 1
            continue
        m = re.fullmatch(r"(GET|HEAD|POST) (\S+)", text)
        if m is None:
            failures.append(f"line {number}: not a request: {text!r}")
            return failures
        response = []
        i += 1
        while i < len(lines) and lines[i][1].startswith("<"):
            response.append((lines[i][0], lines[i][1][2:] if len(lines[i][1]) > 1 else ""))
            i += 1
        if http is None:
            http = Connection(HTTP_PORT, TIMEOUT)
        http.sock.sendall(f"{m.group(1)} {m.group(2)} HTTP/1.1\r\nHost: doc\r\n\r\n".encode())
        try:
            check_response(http, response, failures)
        except (OSError, ConnectionError) as e:
            failures.append(f"line {number}: no response ({e})")
            return failures
        if "/live/stream" in text:
            http.sock.close()
            http = None
    for c in (command, http):
        if c is not None:
            c.sock.close()
    return failures


def main(argv):
    if len(argv) != 2:
        raise SystemExit(__doc__)
    path = argv[1]
    with open(path) as f:
        markdown = f.read()
    if fenced_blocks(markdown, "http"):
        return report_examples(path, fenced_blocks(markdown, "http"), run_block, "examples")
    return report_examples(path, sessions(markdown), run_session, "example sessions")


if __name__ == "__main__":
    sys.exit(main(sys.argv))
