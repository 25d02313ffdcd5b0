#!/usr/bin/env python3
"""Runs every example of docs/http.md against the arena on KELPMOOR_HTTP_PORT (and its command
port, KELPMOOR_PORT) and checks each response. The notation is described at the end of that
file.

    check_http_doc.py docs/http.md
"""

import os
import re
import sys
import time

from arena import Connection, clear_until, fenced_blocks, matcher, read_png, report_examples

TIMEOUT = 20.0
SETTLE = 0.3  # seconds between a command and a request, so that a frame has published it

PLACEHOLDERS = {"int": r"-?\d+", "real": r"-?\d+\.\d+", "any": r".*"}


def pattern(text):
    return matcher(text, PLACEHOLDERS)


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
        if not pattern(text).match(got):
            failures.append(f"line {number}: expected {text!r}, got {got!r}")
    if len(head) != blank:
        failures.append(f"line {expected[0][0]}: {len(head)} head lines, not {blank}")
    body = expected[blank + 1:]
    if stream:
        for number, text in body:
            got = http.line()
            if not pattern(text).match(got):
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
    elif not pattern("\n".join(t for _, t in body)).match(data.decode("latin-1")):
        failures.append(f"line {number}: expected {text!r}, got {data[:300]!r}")


def run_block(start, lines):
    command, http, i, failures = None, None, 0, []
    while i < len(lines):
        number, text = lines[i]
        if text.startswith("> "):
            if command is None:
                command = Connection(int(os.environ.get("KELPMOOR_PORT", "2222")), TIMEOUT)
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
            http = Connection(int(os.environ.get("KELPMOOR_HTTP_PORT", "2280")), TIMEOUT)
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
    path = argv[1] if len(argv) > 1 else "docs/http.md"
    with open(path) as f:
        found = fenced_blocks(f.read(), "http")
    return report_examples(path, found, run_block, "examples")


if __name__ == "__main__":
    sys.exit(main(sys.argv))
