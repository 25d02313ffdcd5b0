#!/usr/bin/env python3
"""Text keeps its accents: a name and a printed text with "ë" go to the arena on KELPMOOR_PORT
through the Python library as Latin-1, and the turtle document of KELPMOOR_HTTP_PORT shows
the name as the character itself; a character outside Latin-1 arrives as "?"."""

import os
import sys
import time
import urllib.request

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "clients", "python"))

import kelpmoor  # noqa: E402


def document_shows(text):
    """The turtle document holds text, once the frames have published the change."""
    url = f"http://127.0.0.1:{os.environ['KELPMOOR_HTTP_PORT']}/turtle"
    deadline = time.monotonic() + 60
    while True:
        with urllib.request.urlopen(url, timeout=60) as r:
            if text in r.read().decode("ascii"):
                return True
        if time.monotonic() > deadline:
            return False
        time.sleep(0.05)


def main():
    failures = 0

    def expect(ok, what):
        nonlocal failures
        failures += not ok
        print(("ok: " if ok else "FAILED: ") + what)

    with kelpmoor.connect(timeout=60) as t:
        expect(t.name("Zoë").ok, "the name is taken")
        expect(document_shows('"Zo\\u00eb"'), 'the turtle document holds "Zo\\u00eb"')
        expect(t.print_text("Zoë, José").ok, "the printed text is taken")
        t.name("Zoë 日本")
        expect(document_shows('"Zo\\u00eb ??"'), "outside Latin-1: one ? a character")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
