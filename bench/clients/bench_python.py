#!/usr/bin/env python3
"""The Python client against a running Kelpmoor, for compare.py: "Q P" sequentially or 64 per
pipeline, in rounds asked for on standard input ("seq|pipe SECONDS" a line); prints each
round's replies per second.

    bench_python.py PORT
"""
import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                                "clients", "python"))
import kelpmoor  # noqa: E402


def main(port):
    with kelpmoor.connect(port=int(port)) as t:
        batch = [("Q P", kelpmoor.protocol.QUERY_PARSERS["P"])] * 64
        for line in sys.stdin:
            mode, seconds = line.split()
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
            print(f"{replies / (now - start):.0f}", flush=True)


if __name__ == "__main__":
    main(sys.argv[1])
