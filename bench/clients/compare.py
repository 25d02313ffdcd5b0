#!/usr/bin/env python3
"""Queries per second on one connection for each client library, sequential and pipelined (64
queries a write), against the raw-socket client of bench_command_latency, in one run against
one arena. Every client keeps one connection for the whole run and measures a round when told
to; rounds alternate between the clients, so all of them see the same machine load. The
medians are printed with their ratios to the raw client.

    python3 bench/clients/compare.py [BUILD_DIR] [--rounds 25] [--seconds 0.2]

Starts its own Kelpmoor (through tests/clients/arena.py) unless KELPMOOR_PORT is set.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("build", nargs="?", default=os.path.join(ROOT, "build"))
    ap.add_argument("--rounds", type=int, default=25)
    ap.add_argument("--seconds", type=float, default=0.2)
    args = ap.parse_args()
    build = os.path.abspath(args.build)
    if "KELPMOOR_PORT" not in os.environ:
        return subprocess.call([sys.executable, os.path.join(ROOT, "tests", "clients", "arena.py"),
                                os.path.join(build, "kelpmoor"), "--", sys.executable,
                                *sys.argv])
    port = os.environ["KELPMOOR_PORT"]
    clients = {
        "raw socket (C++)": [os.path.join(build, "bench_command_latency")],
        "C++ library": [os.path.join(build, "bench_client_cpp")],
        "Python library": [sys.executable, os.path.join(HERE, "bench_python.py")],
    }
    node = shutil.which("node")
    if node:
        clients["JavaScript library"] = [node, os.path.join(HERE, "bench_js.mjs")]
    procs = {name: subprocess.Popen(cmd + [port], stdin=subprocess.PIPE,
                                    stdout=subprocess.PIPE, text=True)
             for name, cmd in clients.items()}
    rates = {(name, mode): [] for name in clients for mode in ("seq", "pipe")}
    for _ in range(args.rounds):
        for mode in ("seq", "pipe"):
            for name, proc in procs.items():
                proc.stdin.write(f"{mode} {args.seconds}\n")
                proc.stdin.flush()
                line = proc.stdout.readline()
                if not line:
                    raise SystemExit(f"{name}: the benchmark client stopped")
                rates[(name, mode)].append(float(line))
    for proc in procs.values():
        proc.stdin.close()
        proc.wait()
    raw = {mode: statistics.median(rates[("raw socket (C++)", mode)]) for mode in ("seq", "pipe")}
    print(f"queries per second on one connection, median of {args.rounds} rounds of "
          f"{args.seconds:g} s (ratio to the raw client)")
    print(f"{'client':<22}{'sequential':>18}{'pipelined (64)':>22}")
    for name in clients:
        cells = []
        for mode in ("seq", "pipe"):
            m = statistics.median(rates[(name, mode)])
            cells.append(f"{m:>10.0f} ({m / raw[mode]:.2f})")
        print(f"{name:<22}{cells[0]:>18}{cells[1]:>22}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
