#!/usr/bin/env python3
"""One round of the Python client against a running Kelpmoor, for compare.py: "Q P"
sequentially or 64 per pipeline. Prints replies per second.

    bench_python.py PORT seq|pipe SECONDS
"""
import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                                "clients", "python"))
import kelpmoor  # noqa: E402


def main(port, mode, seconds):
    with kelpmoor.connect(port=int(port)) as t:
        t.clear_all()  # earlier rounds' turtles are zombies now: free their slots
        batch = [("Q P", kelpmoor.protocol.QUERY_PARSERS["P"])] * 64
        replies = 0
        start = now = time.perf_counter()
        end = start + float(seconds)
        while now < end:
            if mode == "pipe":
                replies += len(t.exchange(batch))
            else:
                t.position()
                replies += 1
            now = time.perf_counter()
        print(f"{replies / (now - start):.0f}")


if __name__ == "__main__":
    main(*sys.argv[1:4])
