#!/usr/bin/env python3
"""Spiral painter: goes to the centre and paints a widening spiral with the brush, its colour
running round the colour wheel.

    python3 examples/spiral_painter.py [--turns 4] [--host H] [--port P]
"""

import argparse
import colorsys
import os
import sys

try:
    import kelpmoor
except ImportError:  # not installed: use the library from this checkout
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..",
                                    "clients", "python"))
    import kelpmoor

TURN = 15.0  # degrees per step
GROWTH = 0.25  # each step this much longer than the last


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--turns", type=float, default=4, help="rounds of the spiral")
    ap.add_argument("--host", default="127.0.0.1")
    ap.add_argument("--port", type=int, default=None, help="default: KELPMOOR_PORT or 2222")
    args = ap.parse_args()

    with kelpmoor.connect(args.host, args.port) as t:
        t.name("spiral painter")
        t.home()  # ERR when something stands at the centre too; the spiral starts there anyway
        t.line_style("brush")
        t.width(6)
        t.pen_down()
        steps = int(args.turns * 360 / TURN)
        length = 2.0
        for i in range(steps):
            r, g, b = colorsys.hsv_to_rgb(i / steps, 1.0, 1.0)
            # One batch a frame: colour, step and turn arrive together.
            t.pipeline(lambda p: (p.color(r, g, b), p.forward(length), p.left(TURN)))
            length += GROWTH
        t.pen_up()
        x, y = t.position()
        print(f"painted a spiral of {steps} steps, ending at ({x:.1f}, {y:.1f})")


if __name__ == "__main__":
    main()
