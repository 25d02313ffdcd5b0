#!/usr/bin/env python3
"""A team of battle bots (team 1) against robots: switches battle mode on, spawns the robots,
starts the bots, and prints each bot's tally when the time is up.

    python3 examples/team_vs_robots.py [--bots 3] [--robots 4] [--seconds 60]

Needs Node for the bots (examples/battle_bot.js). Battle mode is switched off at the end.
"""

import argparse
import os
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--bots", type=int, default=3)
    ap.add_argument("--robots", type=int, default=4)
    ap.add_argument("--seconds", type=float, default=60)
    ap.add_argument("--team", type=int, default=1)
    args = ap.parse_args()
    node = shutil.which("node") or shutil.which("nodejs")
    if node is None:
        sys.exit("team_vs_robots: node is needed for the battle bots")

    bots = []
    for k in range(args.bots):
        cmd = [node, os.path.join(HERE, "battle_bot.js"), "--seconds", str(args.seconds),
               "--team", str(args.team), "--name", f"team {args.team} #{k + 1}"]
        if k == 0:  # the first one sets the field up
            cmd += ["--battle", "--robots", str(args.robots)]
        bots.append(subprocess.Popen(cmd, stdout=subprocess.PIPE, text=True))
    failed = 0
    for k, bot in enumerate(bots):
        out, _ = bot.communicate()
        failed += bot.returncode != 0
        print(f"bot {k + 1}: {out.strip() or 'no tally (its turtle may have died)'}")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
