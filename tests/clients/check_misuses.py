#!/usr/bin/env python3
"""The table of misuses (tests/clients/misuses.txt) against the Python library: each raises
its kind of error with its message, before anything reaches a server.

    check_misuses.py
"""

import os
import re
import socket
import sys
import threading

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "clients", "python"))

import kelpmoor  # noqa: E402


def misuses():
    """(where, method, arguments, kind, message part) of each line of the table."""
    with open(os.path.join(HERE, "misuses.txt"), encoding="utf-8") as f:
        rows = [line.rstrip("\n") for line in f if line.strip() and not line.startswith("#")]
    return [[field.strip() for field in row.split("|")] for row in rows]


def arguments(text):
    out = []
    for quoted, bare in re.findall(r'"((?:[^"\\]|\\.)*)"|(\S+)', text):
        if bare:
            out.append(int(bare) if re.fullmatch(r"-?\d+", bare) else float(bare))
        else:
            text = re.sub(r"\{(\d+)\*(.)\}", lambda m: m.group(2) * int(m.group(1)), quoted)
            out.append(text.replace("\\n", "\n"))
    return out


def closing_server():
    """A port where every connection is accepted and closed at once."""
    listener = socket.create_server(("127.0.0.1", 0))

    def serve():
        while True:
            listener.accept()[0].close()

    threading.Thread(target=serve, daemon=True).start()
    return listener.getsockname()[1]


def main():
    port, failures = closing_server(), 0
    for where, method, args, kind, part in misuses():
        target = kelpmoor.Batch() if where == "batch" else kelpmoor.connect(port=port, timeout=10)
        try:
            getattr(target, method)(*arguments(args))
            problem = "nothing raised"
        except kelpmoor.KelpmoorError as e:
            problem = (f"{type(e).__name__} raised" if type(e).__name__ != kind else
                       f"message {str(e)!r}" if part not in str(e) else None)
        failures += bool(problem)
        print(f"{'FAILED' if problem else 'ok'}: {method}({args}) -> {kind}"
              + (f": {problem}" if problem else ""))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
