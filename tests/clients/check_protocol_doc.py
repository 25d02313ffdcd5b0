#!/usr/bin/env python3
"""Runs every example session of docs/protocol.md against the arena on KELPMOOR_PORT and checks
each reply. The notation is described at the end of that file. Raw sockets on purpose: the
reference must hold whatever the client libraries do.

    check_protocol_doc.py docs/protocol.md
"""

import os
import re
import sys

from arena import Connection, clear_until, fenced_blocks, matcher, report_examples

TIMEOUT = 20.0  # seconds for one reply; sanitizer builds under load are slow

PLACEHOLDERS = {
    "tick": r"\d+",
    "events": r"\d+",
    "int": r"-?\d+",
    "real": r"-?\d+\.\d{6}",
    "ok": r"(?:OK|ERR)",
    "any": r".*",
}


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


def reply_pattern(text):
    return matcher(text, PLACEHOLDERS)


def run_session(port, start, lines):
    conns, failures = {}, []
    # Open the connections in order of first use before anything runs, as the notation says.
    for name, _, _, _ in lines:
        if name not in conns:
            conns[name] = Connection(port, TIMEOUT)
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
        if not reply_pattern(text).match(got):
            failures.append(f"line {number}: expected {text!r}, got {got!r}")
    for name, c in conns.items():
        c.send(".")
        try:
            got = c.line()
        except (OSError, ConnectionError) as e:
            got = f"no reply ({e})"
        if not reply_pattern("OK @ {tick} {events}").match(got):
            failures.append(f"session at line {start}, connection {name}: a reply not in the "
                            f"example came first: {got!r}")
        c.sock.close()
    return failures


def main(argv):
    path = argv[1] if len(argv) > 1 else "docs/protocol.md"
    port = int(os.environ.get("KELPMOOR_PORT", "2222"))
    with open(path) as f:
        found = sessions(f.read())
    return report_examples(path, found, lambda start, lines: run_session(port, start, lines),
                           "example sessions")


if __name__ == "__main__":
    sys.exit(main(sys.argv))
