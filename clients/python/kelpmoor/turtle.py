"""Python's turtle module on a Kelpmoor arena: a lesson written for it runs here with only its
import changed.

    import kelpmoor.turtle as turtle

    turtle.color("red", "yellow")
    turtle.begin_fill()
    for _ in range(5):
        turtle.forward(200)
        turtle.right(144)
    turtle.end_fill()
    turtle.done()

The module-level functions drive one default turtle, created at the first call; every Turtle()
is a connection of its own (to KELPMOOR_HOST or 127.0.0.1, port KELPMOOR_PORT or 2222). The
names and arguments are the turtle module's; so are the coordinates: the origin at the centre
of the field, x to the east, y to the north, headings in degrees counter-clockwise from east.
A new turtle starts at (0, 0) facing east with its pen down.

What differs, because the arena is shared and drawn by Kelpmoor:

- The field runs from -256 to +256 on both axes; a figure beyond it is off the floor.
- The floor is dark, so a new turtle's pen is white, not black ("black" draws dark on dark).
  Screen().bgcolor() sets the floor colour for everyone and clears everybody's drawings;
  clear() and Screen().clear() clear the whole floor too. On an arena started with
  KELPMOOR_FIELD_COMMANDS=local they do nothing unless the lesson runs on the arena's machine.
- Turtles are solid: a step into another turtle stops short, and goto() jumps only when no
  other turtle is within 20 (otherwise the turtle walks there). Filling and dot() are painted
  with jumps, so they need that room too.
- Each move takes one frame of the arena, whatever speed() says; tracer() and update() do
  nothing. A filled shape is painted in pieces after end_fill(), a few frames each, and its
  outline drawn again on top.
- write() prints in one small font at the turtle, whatever `font` says; align is estimated
  from that font. At most 127 characters of Latin-1 (others become "?").
- dot() is a filled polygon. There are no shapes, stamps, undo or events: shape(),
  shapesize(), hideturtle(), showturtle(), listen(), onkey(), onclick(), ontimer(), setup(),
  title(), tracer(), update() and delay() are accepted and do nothing else.
- done(), mainloop(), bye() and exitonclick() return at once, after closing every turtle's
  connection; the turtles stay on the field as zombies until the arena removes them.
- Bad arguments raise TurtleGraphicsError, which is kelpmoor.ArgumentError.
"""

from __future__ import annotations

import math
from typing import Optional

from . import client as _client
from .colors import rgb_of_name
from .protocol import MAX_PRINT, QUERY_PARSERS, ArgumentError, hex_text, number

TurtleGraphicsError = ArgumentError

_FIELD = 512  # the field's width and height
_CHAR_WIDTH = 7.0  # average width of a printed character, for write()'s align and move
_SPEEDS = {"fastest": 0, "fast": 10, "normal": 6, "slow": 3, "slowest": 1}


class Vec2D(tuple):
    """A 2-D vector as the turtle module's: + and - add, * is the dot product or a scaling,
    abs() the length."""

    def __new__(cls, x: float, y: float) -> "Vec2D":
        return tuple.__new__(cls, (x, y))

    def __add__(self, other):
        return Vec2D(self[0] + other[0], self[1] + other[1])

    def __sub__(self, other):
        return Vec2D(self[0] - other[0], self[1] - other[1])

    def __mul__(self, other):
        if isinstance(other, Vec2D):
            return self[0] * other[0] + self[1] * other[1]
        return Vec2D(self[0] * other, self[1] * other)

    def __rmul__(self, other):
        return Vec2D(self[0] * other, self[1] * other)

    def __neg__(self):
        return Vec2D(-self[0], -self[1])

    def __abs__(self) -> float:
        return math.hypot(*self)

    def rotate(self, angle: float) -> "Vec2D":
        """This vector turned counter-clockwise by angle degrees."""
        c, s = math.cos(math.radians(angle)), math.sin(math.radians(angle))
        return Vec2D(self[0] * c - self[1] * s, self[0] * s + self[1] * c)

    def __repr__(self) -> str:
        return f"({self[0]:.2f},{self[1]:.2f})"


def _point(x, y=None) -> tuple[float, float]:
    if y is not None:
        return float(number(x)), float(number(y))
    if isinstance(x, Turtle):
        return x.position()
    try:
        px, py = x
    except (TypeError, ValueError):
        raise ArgumentError(f"not a point: {x!r} (x, y, a pair or a Turtle)") from None
    return float(number(px)), float(number(py))


# ---- Filling: the polygon cut into convex pieces that the arena's fill mode paints exactly.

def _crossing_ys(edges) -> list[float]:
    ys = {y for (_, y0), (_, y1) in edges for y in (y0, y1)}
    for i, ((ax, ay), (bx, by)) in enumerate(edges):
        for (cx, cy), (dx, dy) in edges[i + 1:]:
            den = (bx - ax) * (dy - cy) - (by - ay) * (dx - cx)
            if den == 0:
                continue
            t = ((cx - ax) * (dy - cy) - (cy - ay) * (dx - cx)) / den
            u = ((cx - ax) * (by - ay) - (cy - ay) * (bx - ax)) / den
            if 0 < t < 1 and 0 < u < 1:
                ys.add(ay + t * (by - ay))
    return sorted(ys)


def fill_pieces(path: list[tuple[float, float]]) -> list[list[tuple[float, float]]]:
    """The inside of the closed path (even-odd, as Tk fills it) as convex polygons of at most
    four corners: trapezoids between the horizontals through every corner and crossing."""
    pts = [p for i, p in enumerate(path) if i == 0 or p != path[i - 1]]
    edges = [(pts[i], pts[(i + 1) % len(pts)]) for i in range(len(pts))]
    edges = [e for e in edges if e[0][1] != e[1][1]]
    ys = _crossing_ys(edges)

    def x_at(edge, y):
        (ax, ay), (bx, by) = edge
        return ax + (bx - ax) * (y - ay) / (by - ay)

    pieces, open_spans = [], {}
    for y0, y1 in zip(ys, ys[1:]):
        ym = (y0 + y1) / 2
        across = sorted((e for e in edges if min(e[0][1], e[1][1]) < ym < max(e[0][1], e[1][1])),
                        key=lambda e: x_at(e, ym))
        spans = {}
        for a, b in zip(across[::2], across[1::2]):
            start = open_spans.pop((id(a), id(b)), y0)  # one trapezoid while the edges go on
            spans[(id(a), id(b))] = start
        for (ia, ib), start in open_spans.items():
            pieces.append((ia, ib, start, y0))
        open_spans = spans
        last_y = y1
    for (ia, ib), start in open_spans.items():
        pieces.append((ia, ib, start, last_y))
    by_id = {id(e): e for e in edges}
    out = []
    for ia, ib, ya, yb in pieces:
        a, b = by_id[ia], by_id[ib]
        corners = [(x_at(a, ya), ya), (x_at(b, ya), ya), (x_at(b, yb), yb), (x_at(a, yb), yb)]
        out.append([c for i, c in enumerate(corners) if c != corners[i - 1]])
    return [p for p in out if len(p) >= 3]


class _Screen:
    """The arena's field as the turtle module's Screen: one for all turtles."""

    def __init__(self) -> None:
        self._colormode = 1.0
        self._turtles: list[Turtle] = []
        self._bg = "black"

    def _any(self) -> "Turtle":
        return self._turtles[0] if self._turtles else getturtle()

    def colormode(self, cmode: Optional[float] = None):
        """1.0 (components from 0 to 1, the default) or 255; without an argument, the mode."""
        if cmode is None:
            return self._colormode
        if cmode not in (1, 1.0, 255):
            raise ArgumentError(f"colormode {cmode!r}: 1.0 or 255")
        self._colormode = 255 if cmode == 255 else 1.0

    def bgcolor(self, *args):
        """The floor's colour for everyone; setting it clears the whole floor."""
        if not args:
            return self._bg
        self._bg = args[0] if len(args) == 1 else args
        r, g, b = _rgb(args, self._colormode)
        self._any()._command(f"H {number(r)} {number(g)} {number(b)}")

    def clear(self):
        """Clear the whole floor (everybody's drawings)."""
        self._any()._command("C F")

    clearscreen = clear

    def reset(self):
        """Reset every turtle of this program."""
        for t in self._turtles:
            t.reset()

    resetscreen = reset

    def turtles(self) -> list["Turtle"]:
        """The turtles of this program."""
        return list(self._turtles)

    def window_width(self) -> int:
        """The field's width, 512."""
        return _FIELD

    def window_height(self) -> int:
        """The field's height, 512."""
        return _FIELD

    def screensize(self, canvwidth=None, canvheight=None, bg=None):
        """(512, 512); the size cannot change, bg sets the floor colour."""
        if bg is not None:
            self.bgcolor(bg)
        return _FIELD, _FIELD

    def textinput(self, title: str, prompt: str) -> str:
        """Asks on the terminal."""
        return input(f"{prompt} ")

    def numinput(self, title, prompt, default=None, minval=None, maxval=None) -> float:
        """Asks on the terminal for a number."""
        text = input(f"{prompt} ")
        return float(text) if text else default

    def bye(self):
        """Close every turtle's connection; the turtles stay on the field as zombies."""
        for t in self._turtles:
            t._close()
        self._turtles.clear()

    done = mainloop = exitonclick = bye

    def tracer(self, n=None, delay=None):
        """Does nothing: every move takes one frame of the arena."""
        return 1 if n is None else None

    def _ignore(self, *args, **kwargs):
        """Accepted and ignored: the arena has no such thing (see the module's docstring)."""

    setup = title = update = delay = listen = onkey = onkeypress = onkeyrelease = _ignore
    onclick = onscreenclick = ontimer = register_shape = addshape = mode = _ignore


_screen: Optional[_Screen] = None
_default: Optional["Turtle"] = None


def Screen() -> _Screen:
    """The one screen of this program."""
    global _screen
    if _screen is None:
        _screen = _Screen()
    return _screen


def _rgb(args: tuple, mode: float) -> tuple[float, float, float]:
    """A colour as the turtle module takes it: a name, "#rrggbb", (r, g, b) or r, g, b."""
    given = args[0] if len(args) == 1 else args
    if isinstance(given, str):
        rgb = rgb_of_name(given)
        if rgb is None:
            raise ArgumentError(f"bad color string: {given!r} (a colour name or '#rrggbb')")
        return rgb
    try:
        r, g, b = (float(number(v)) / mode for v in given)
    except (TypeError, ValueError):
        raise ArgumentError(f"bad color arguments: {given!r} (a name, '#rrggbb' or r, g, b)") \
            from None
    if not all(0 <= v <= 1 for v in (r, g, b)):
        raise ArgumentError(f"bad color sequence: {given!r} (each from 0 to {mode:g})")
    return r, g, b


class Turtle:
    """A turtle of the arena, with the turtle module's methods; each one is a connection."""

    def __init__(self, shape: str = "classic", undobuffersize: int = 0, visible: bool = True,
                 *, host: Optional[str] = None, port: Optional[int] = None) -> None:
        self._t = _client.connect(host, port, timeout=60)
        self._queue: list[str] = []  # sent before the next move or query, in one write
        self._x = self._y = 0.0
        self._h = 0.0  # the arena's heading (not wrapped), with the queued turns
        self._down = True
        self._pen = ("white", (1.0, 1.0, 1.0))  # (as given, rgb from 0 to 1)
        self._fill = ("white", (1.0, 1.0, 1.0))
        self._size = 1.0
        self._visible = visible
        self._speed = 3
        self._path: Optional[list[tuple[float, float]]] = None  # while filling
        Screen()._turtles.append(self)
        self._move("C", "K 1 1 1", "W 1", "P D")

    # ---- Talking to the arena

    def _close(self) -> None:
        if self._queue and not self._t._closed:
            self._flush()
        self._t.close()

    def _command(self, text: str):
        """Sends the queue and one command now; its reply."""
        return self._flush(text)[-1]

    def _flush(self, *texts: str):
        items = [(c, None) for c in self._queue + list(texts)]
        self._queue = []
        return self._t.exchange(items) if items else []

    def _move(self, *texts: str) -> bool:
        """The queue, then the commands (at most one move), then where the turtle is: one
        write, so the move and its queued turns take one frame. True when the move was made."""
        replies = self._t.exchange([(c, None) for c in self._queue + list(texts)] +
                                   [("Q P", QUERY_PARSERS["P"]), ("Q D", QUERY_PARSERS["D"])])
        self._queue = []
        self._x, self._y = replies[-2].value
        self._h = replies[-1].value
        if self._path is not None:
            self._path.append((self._x, self._y))
        return all(r.ok for r in replies[:-2])

    def _walk_to(self, x: float, y: float) -> None:
        """Turn, step, turn back: the line of goto() where a jump is refused."""
        d = math.hypot(x - self._x, y - self._y)
        if d == 0:
            return
        turn = (math.degrees(math.atan2(y - self._y, x - self._x)) - self._h + 180) % 360 - 180
        self._move(f"T L {number(turn)}", f"F {number(d)}", f"T R {number(turn)}")

    def _jump(self, x: float, y: float) -> None:
        if not self._move(f"J {number(x)} {number(y)}"):
            self._walk_to(x, y)

    def _pen_commands(self) -> list[str]:
        r, g, b = self._pen[1]
        pen = [f"K {number(r)} {number(g)} {number(b)}", f"W {number(self._size)}"]
        return pen + (["P D"] if self._down else ["P U"])

    def _paint(self, pieces, rgb) -> None:
        """Fills each convex piece in rgb: pen lifted, a jump to its first corner, pen down in
        fill mode, then one jump a frame to each other corner. Then the pen as it was."""
        x, y = self._x, self._y
        path, self._path = self._path, None
        colour = "K " + " ".join(number(v) for v in rgb)
        for piece in pieces:
            (x0, y0), (x1, y1) = piece[0], piece[1]
            if not self._move("P U", "L S", colour, f"J {number(x0)} {number(y0)}", "P D",
                              f"J {number(x1)} {number(y1)}"):
                continue
            for px, py in piece[2:]:
                self._move(f"J {number(px)} {number(py)}")
        self._queue += ["P U", "L -"]
        self._jump(x, y)
        self._queue += self._pen_commands()
        self._path = path

    # ---- Motion

    def forward(self, distance: float) -> None:
        """Move forward by distance (drawing when the pen is down)."""
        self._move(f"F {number(distance)}")

    def back(self, distance: float) -> None:
        """Move backward by distance, the heading unchanged."""
        self._move(f"B {number(distance)}")

    def left(self, angle: float) -> None:
        """Turn left (counter-clockwise) by angle degrees."""
        self._queue.append(f"T L {number(angle)}")
        self._h += float(angle)

    def right(self, angle: float) -> None:
        """Turn right (clockwise) by angle degrees."""
        self._queue.append(f"T R {number(angle)}")
        self._h -= float(angle)

    fd, bk, backward, lt, rt = forward, back, back, left, right

    def setheading(self, to_angle: float) -> None:
        """Face to_angle degrees: 0 east, 90 north, 180 west, 270 south."""
        self.left((float(number(to_angle)) - self._h + 180) % 360 - 180)

    seth = setheading

    def heading(self) -> float:
        """The heading in degrees, from 0 to 360."""
        return self._h % 360

    def goto(self, x, y=None) -> None:
        """Move to (x, y) (or a pair, or a Turtle's position), drawing when the pen is down;
        the heading stays."""
        self._jump(*_point(x, y))

    setpos = setposition = goto

    def teleport(self, x=None, y=None, *, fill_gap: bool = False) -> None:
        """Move to (x, y) without drawing."""
        x = self._x if x is None else x
        y = self._y if y is None else y
        was_down, self._down = self._down, False
        self._queue.append("P U")
        self._jump(*_point(x, y))
        self._down = was_down
        if was_down:
            self._queue.append("P D")

    def setx(self, x: float) -> None:
        """Move to x, y unchanged."""
        self.goto(x, self._y)

    def sety(self, y: float) -> None:
        """Move to y, x unchanged."""
        self.goto(self._x, y)

    def home(self) -> None:
        """Move to (0, 0) and face east."""
        self.goto(0, 0)
        self.setheading(0)

    def circle(self, radius: float, extent: Optional[float] = None,
               steps: Optional[int] = None) -> None:
        """A circle (or an arc of extent degrees) of radius, centred radius to the left (to
        the right when negative), as a polygon of steps sides (chosen from the size when
        None)."""
        radius = float(number(radius))
        extent = 360.0 if extent is None else float(number(extent))
        if steps is None:
            steps = 1 + int(min(11 + abs(radius) / 6.0, 59.0) * abs(extent) / 360.0)
        w = extent / steps
        w2 = w / 2
        side = 2.0 * radius * math.sin(math.radians(w2))
        if radius < 0:
            side, w, w2 = -side, -w, -w2
        self.left(w2)
        for _ in range(steps):
            self.forward(side)
            self.left(w)
        self.left(-w2)

    def speed(self, speed=None):
        """Accepted for the turtle module's sake (0 to 10 or a name); every move takes one
        frame of the arena. Without an argument, the speed set."""
        if speed is None:
            return self._speed
        self._speed = _SPEEDS.get(speed, speed) if isinstance(speed, str) else int(speed)

    # ---- Where it is

    def position(self) -> Vec2D:
        """(x, y) of the turtle."""
        return Vec2D(self._x, self._y)

    pos = position

    def xcor(self) -> float:
        """x of the turtle."""
        return self._x

    def ycor(self) -> float:
        """y of the turtle."""
        return self._y

    def distance(self, x, y=None) -> float:
        """The distance to (x, y), a pair or a Turtle."""
        px, py = _point(x, y)
        return math.hypot(px - self._x, py - self._y)

    def towards(self, x, y=None) -> float:
        """The heading (0 to 360) from the turtle to (x, y), a pair or a Turtle."""
        px, py = _point(x, y)
        return math.degrees(math.atan2(py - self._y, px - self._x)) % 360

    # ---- The pen

    def penup(self) -> None:
        """Lift the pen: moves draw nothing."""
        self._down = False
        self._queue.append("P U")

    def pendown(self) -> None:
        """Put the pen down: moves draw."""
        self._down = True
        self._queue.append("P D")

    pu = up = penup
    pd = down = pendown

    def isdown(self) -> bool:
        """Whether the pen is down."""
        return self._down

    def pensize(self, width: Optional[float] = None):
        """The line width (1 at start); without an argument, the width."""
        if width is None:
            return self._size
        self._size = float(number(width))
        self._queue.append(f"W {number(width)}")
        if self._down:
            self._queue.append("P D")  # the next line starts in the new width, not fading in

    width = pensize

    def pencolor(self, *args):
        """The pen colour: a name ("red", "dark green"), "#rrggbb", (r, g, b) or r, g, b in
        the screen's colormode. Without an argument, the colour as it was given."""
        if not args:
            return self._pen[0]
        rgb = _rgb(args, Screen()._colormode)
        self._pen = (args[0] if len(args) == 1 else args, rgb)
        self._queue.append("K " + " ".join(number(v) for v in rgb))
        if self._down:
            self._queue.append("P D")  # the next line starts in the new colour, not fading in

    def fillcolor(self, *args):
        """The colour of filled shapes, given as for pencolor."""
        if not args:
            return self._fill[0]
        self._fill = (args[0] if len(args) == 1 else args, _rgb(args, Screen()._colormode))

    def color(self, *args):
        """color(c): pen and fill colour; color(pen, fill); without an argument, both."""
        if not args:
            return self._pen[0], self._fill[0]
        if len(args) == 2 and not all(isinstance(a, (int, float)) for a in args):
            self.pencolor(args[0])
            self.fillcolor(args[1])
        else:
            self.pencolor(*args)
            self.fillcolor(*args)

    def colormode(self, cmode: Optional[float] = None):
        """The screen's colormode: 1.0 or 255."""
        return Screen().colormode(cmode)

    def begin_fill(self) -> None:
        """Start a shape to be filled: its corners are the points the turtle goes through."""
        self._path = [(self._x, self._y)]

    def end_fill(self) -> None:
        """Fill the shape since begin_fill() in the fill colour, then draw its outline again
        on top when the pen is down."""
        path, self._path = self._path, None
        if path is None or len(path) < 3:
            return
        self._paint(fill_pieces(path), self._fill[1])
        if self._down:
            self._move("P U", f"J {number(path[0][0])} {number(path[0][1])}", "P D")
            for x, y in path[1:]:
                self._move(f"J {number(x)} {number(y)}")

    def filling(self) -> bool:
        """Whether a shape is being filled."""
        return self._path is not None

    def dot(self, size: Optional[float] = None, *color) -> None:
        """A filled round dot of diameter size (by default from the pen size) at the turtle, in
        the given colour or the pen colour."""
        if size is None:
            size = max(self._size + 4, 2 * self._size)
        elif isinstance(size, str) or isinstance(size, tuple):
            color, size = (size, *color), max(self._size + 4, 2 * self._size)
        rgb = _rgb(color, Screen()._colormode) if color else self._pen[1]
        r = float(number(size)) / 2
        n = max(8, min(24, int(r)))
        ring = [(self._x + r * math.cos(2 * math.pi * k / n),
                 self._y + r * math.sin(2 * math.pi * k / n)) for k in range(n)]
        self._paint(fill_pieces(ring), rgb)

    def write(self, arg, move: bool = False, align: str = "left", font=None) -> None:
        """Print str(arg) on the floor at the turtle in the pen colour; align "left", "center"
        or "right" of the turtle; move=True leaves the turtle at the end of the text."""
        text = str(arg)
        if len(text) > MAX_PRINT:
            raise ArgumentError(f"text of {len(text)} characters: at most {MAX_PRINT}")
        if align not in ("left", "center", "right"):
            raise ArgumentError(f"align {align!r}: 'left', 'center' or 'right'")
        w = _CHAR_WIDTH * len(text)
        x0 = self._x - {"left": 0, "center": w / 2, "right": w}[align]
        x, y = self._x, self._y
        if x0 == x:
            self._move(f"S {hex_text(text, MAX_PRINT)}")
        else:
            self._move("P U", f"J {number(x0)} {number(y)}", f"S {hex_text(text, MAX_PRINT)}")
            self._move(f"J {number(x)} {number(y)}", "P D" if self._down else "P U")
        if move:
            self.goto(x0 + w, y)

    # ---- Appearance and the rest

    def hideturtle(self) -> None:
        """Recorded only: the arena always shows its turtles."""
        self._visible = False

    def showturtle(self) -> None:
        """Recorded only: the arena always shows its turtles."""
        self._visible = True

    ht, st = hideturtle, showturtle

    def isvisible(self) -> bool:
        """Whether hideturtle() or showturtle() was called last."""
        return self._visible

    def shape(self, name: Optional[str] = None):
        """Accepted; the arena has one shape."""
        return "classic" if name is None else None

    def shapesize(self, stretch_wid=None, stretch_len=None, outline=None):
        """Accepted; the arena's turtles keep their size."""
        return (1.0, 1.0, 1) if stretch_wid is None else None

    turtlesize = shapesize

    def clear(self) -> None:
        """Clear the whole floor: the arena keeps no drawing per turtle."""
        self._command("C F")

    def reset(self) -> None:
        """Clear the floor and start again: at (0, 0) facing east, pen down, white, width 1."""
        self._pen = self._fill = ("white", (1.0, 1.0, 1.0))
        self._size, self._down, self._path = 1.0, True, None
        self._queue.append("C F")
        self._move("C", *self._pen_commands())

    def getscreen(self) -> _Screen:
        """The screen."""
        return Screen()

    def getturtle(self) -> "Turtle":
        """This turtle."""
        return self

    getpen = getturtle


Pen = RawTurtle = Turtle


def getturtle() -> Turtle:
    """The default turtle of the module-level functions, connected at the first call."""
    global _default
    if _default is None or _default._t._closed:
        _default = Turtle()
    return _default


getpen = getturtle


def _turtle_function(name: str):
    def call(*args, **kwargs):
        return getattr(getturtle(), name)(*args, **kwargs)
    call.__name__ = name
    call.__doc__ = getattr(Turtle, name).__doc__
    return call


def _screen_function(name: str):
    def call(*args, **kwargs):
        return getattr(Screen(), name)(*args, **kwargs)
    call.__name__ = name
    call.__doc__ = getattr(_Screen, name).__doc__
    return call


_TURTLE_FUNCTIONS = (
    "forward fd back bk backward left lt right rt setheading seth heading goto setpos "
    "setposition teleport setx sety home circle speed position pos xcor ycor distance towards "
    "penup pu up pendown pd down isdown pensize width pencolor fillcolor color begin_fill "
    "end_fill filling dot write hideturtle ht showturtle st isvisible shape shapesize "
    "turtlesize clear reset").split()
_SCREEN_FUNCTIONS = (
    "colormode bgcolor clearscreen resetscreen turtles window_width window_height screensize "
    "textinput numinput bye done mainloop exitonclick tracer setup title update delay listen "
    "onkey onkeypress onkeyrelease onclick onscreenclick ontimer register_shape addshape "
    "mode").split()

for _name in _TURTLE_FUNCTIONS:
    globals()[_name] = _turtle_function(_name)
for _name in _SCREEN_FUNCTIONS:
    globals()[_name] = _screen_function(_name)
