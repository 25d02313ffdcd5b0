"""A connection to Kelpmoor's command port: one turtle, its commands and queries, pipelining."""

from __future__ import annotations

import os
import socket
from typing import Callable, Optional

from .protocol import (
    DEFAULT_PORT,
    ArgumentError,
    FieldModes,
    MAX_NAME,
    MAX_PRINT,
    QUERY_PARSERS,
    Board,
    ConnectionClosed,
    Events,
    Finder,
    Position,
    Radar,
    Reply,
    ReplyTimeout,
    Sonar,
    check_command,
    hex_text,
    number,
    parse_reply,
    plain_text,
)

# Why a connection may be closed before its first reply.
NOT_TAKEN_IN = (" before its first reply: the arena may be full (KELPMOOR_MAX_CLIENTS) or in "
                "private mode (only its own machine is let in)")

# Commands sent before their replies are read, at most: keeps the replies the server must hold
# for us far below what it allows a client to leave unread.
PIPELINE_WINDOW = 64

_Parser = Optional[Callable[[str, bool], object]]

_COMPASS = {"E": "E", "N": "N", "W": "W", "S": "S", "EAST": "E", "NORTH": "N", "WEST": "W",
            "SOUTH": "S"}
_LINE_STYLES = {"line": "-", "fill": "S", "points": "P", "brush": "B"}


def default_port() -> int:
    """KELPMOOR_PORT when set, else 2222."""
    value = os.environ.get("KELPMOOR_PORT", "")
    return int(value) if value else DEFAULT_PORT


def default_host() -> str:
    """KELPMOOR_HOST when set, else 127.0.0.1."""
    return os.environ.get("KELPMOOR_HOST", "") or "127.0.0.1"


def _choice(table: dict, value, what: str, allowed: str) -> str:
    key = value.upper() if isinstance(value, str) else value
    if key not in table:
        raise ArgumentError(f"not {what}: {value!r} ({allowed})")
    return table[key]


def _rgb(r: float, g: float, b: float) -> str:
    for v in (r, g, b):
        if not 0 <= float(number(v)) <= 1:
            raise ArgumentError(f"colour component {v!r}: from 0 to 1")
    return f"{number(r)} {number(g)} {number(b)}"


class Commands:
    """Every command and query once. Turtle runs each at once and returns its Reply (queries:
    the typed value); Batch queues them for Turtle.pipeline. Arguments the server would
    misread raise ArgumentError before anything is sent."""

    def _do(self, text: str, parse: _Parser = None):
        raise NotImplementedError

    def _query(self, letter: str, extra: str = ""):
        return self._do(f"Q {letter}{extra}", QUERY_PARSERS[letter])

    # Motion (each waits for the next frame before the turtle's next command is read).
    def forward(self, distance: float):
        """Step forward by distance (negative: backwards). ERR when something blocks it."""
        return self._do(f"F {number(distance)}")

    def back(self, distance: float):
        """Step back by distance, the heading unchanged."""
        return self._do(f"B {number(distance)}")

    def left(self, degrees: float):
        """Turn counter-clockwise by degrees."""
        return self._do(f"T L {number(degrees)}")

    def right(self, degrees: float):
        """Turn clockwise by degrees."""
        return self._do(f"T R {number(degrees)}")

    def head(self, compass: str):
        """Face "E" (0 degrees), "N" (90), "W" (180) or "S" (-90); "east" ... also do."""
        return self._do(f"T {_choice(_COMPASS, compass, 'a compass heading', 'E, N, W, S')}")

    def jump(self, x: float, y: float):
        """Jump to (x, y), drawing a line when the pen is down. ERR in battle mode or with
        another thing within 20."""
        return self._do(f"J {number(x)} {number(y)}")

    def jump_by(self, dx: float, dy: float):
        """Jump by (dx, dy); as jump."""
        return self._do(f"G {number(dx)} {number(dy)}")

    def reset(self):
        """Back to (0, 0), heading 0, pen up, red, width 1, no team, no coins."""
        return self._do("C")

    def home(self):
        """To (0, 0), heading 0; pen and colours stay."""
        return self._do("C H")

    def clear_floor(self):
        """Clear everybody's painting (a field-wide command)."""
        return self._do("C F")

    def clear_all(self):
        """Remove zombies and clear the floor (a field-wide command)."""
        return self._do("C A")

    # Pen and appearance.
    def pen_down(self):
        """Put the pen down: moves paint from here on."""
        return self._do("P D")

    def pen_up(self):
        """Lift the pen."""
        return self._do("P U")

    def color(self, r: float, g: float, b: float):
        """Pen colour, each component from 0 to 1."""
        return self._do(f"K {_rgb(r, g, b)}")

    def width(self, w: float):
        """Pen width in field units (pixels of the top view)."""
        return self._do(f"W {number(w)}")

    def line_style(self, style: str):
        """"line", "fill" (filled polygons of the last points), "points" or "brush"."""
        if style not in _LINE_STYLES:
            raise ArgumentError(f"not a line style: {style!r} (line, fill, points, brush)")
        return self._do(f"L {_LINE_STYLES[style]}")

    def print_text(self, text: str | bytes):
        """Print text on the floor at the turtle, in the pen colour, at the next frame. At
        most 127 bytes of Latin-1."""
        return self._do(f"S {hex_text(text, MAX_PRINT)}")

    def name(self, text: str | bytes):
        """Name the turtle (shown with key n and in the browser viewer); Latin-1, at most 128
        bytes."""
        return self._do(f"N {hex_text(text, MAX_NAME)}")

    def floor_color(self, r: float, g: float, b: float):
        """Set the floor colour, each component from 0 to 1; this clears the floor (a
        field-wide command)."""
        return self._do(f"H {_rgb(r, g, b)}")

    # Teams, events, field.
    def join_team(self, team: int):
        """Join team 1 to 4 (there is no way back to team 0)."""
        if team not in (1, 2, 3, 4):
            raise ArgumentError(f"team {team!r}: 1, 2, 3 or 4")
        return self._do(f"I {int(team)}")

    def post(self, message: str):
        """Post a team message (printable ASCII; other characters become "?")."""
        return self._do(f"U {plain_text(message)}")

    def enable_events(self, mask: int):
        """Report the events of mask (a bit set of the event constants) again."""
        return self._do(f"Y + {int(mask)}")

    def disable_events(self, mask: int):
        """Stop reporting the events of mask, dropping any of them pending."""
        return self._do(f"Y - {int(mask)}")

    def finder_range(self, distance: float):
        """How far the finder (Q F) looks; 20 at start."""
        return self._do(f"E {number(distance)}")

    def doughnut(self):
        """Spawn a doughnut, a target for battle, at a random place."""
        return self._do("D")

    def robot(self):
        """Spawn a robot (a field-wide command)."""
        return self._do("R")

    def battle_mode(self, on: bool = True):
        """Switch battle mode on or off for the whole field (a field-wide command)."""
        return self._do("!" if on else "! U")

    def noop(self):
        """Nothing: the reply carries the tick and the events."""
        return self._do(".")

    # Battle and coins.
    def fire(self):
        """Fire one bullet along the heading (battle mode), costing a point."""
        return self._do("X")

    def pick_coin(self):
        """Pick up the nearest coin within 20 (OK also when there is none)."""
        return self._do("O")

    def drop_coin(self):
        """Drop a held coin where the turtle stands; ERR when it holds none."""
        return self._do("O S")

    def scatter_coin(self):
        """Scatter one coin from the bank at a random place (a field-wide command)."""
        return self._do("O X")

    def borrow_coins(self):
        """Borrow ten coins from the bank."""
        return self._do("O B")

    # Queries: Turtle returns the typed value, Batch the Reply with it in .value.
    def position(self) -> Position:
        """(x, y) of the turtle."""
        return self._query("P")

    def heading(self) -> float:
        """Heading in degrees, counter-clockwise from east, as turned (never wrapped)."""
        return self._query("D")

    def team(self) -> int:
        """Team number, 0 (none) to 4."""
        return self._query("M")

    def finder(self) -> Finder:
        """What lies straight ahead within the finder range: Finder(kind, team)."""
        return self._query("F")

    def radar(self, n: int = 1) -> Radar:
        """The n-th nearest other thing (1 to 5): Radar(found, direction, team)."""
        if n not in (1, 2, 3, 4, 5):
            raise ArgumentError(f"radar target {n!r}: from 1 to 5")
        return self._query("R", f" {int(n)}")

    def sonar(self) -> Sonar:
        """Sonar(left, front, right): something near at +45, 0 and -45 degrees."""
        return self._query("W")

    def alive(self) -> bool:
        """Whether the turtle is alive."""
        return self._query("A")

    def score(self) -> int:
        """Points: 100 at start, changed by battle."""
        return self._query("S")

    def tick(self) -> int:
        """The field's tick counter."""
        return self._query("T")

    def turtles(self) -> int:
        """Live turtles, robots and doughnuts on the field."""
        return self._query("N")

    def coins_near(self) -> int:
        """Coins within reach (20)."""
        return self._query("C")

    def coins_held(self) -> int:
        """Coins the turtle holds."""
        return self._query("O")

    def board(self) -> Board:
        """The team's board: Board(tick, text) of its latest message."""
        return self._query("B")

    def modes(self) -> FieldModes:
        """The field's modes: FieldModes(battle, bounded_area, maze, private)."""
        return self._query("G")


class Batch(Commands):
    """Commands queued for Turtle.pipeline; each method returns None."""

    def __init__(self) -> None:
        self.items: list[tuple[str, _Parser]] = []

    def _do(self, text: str, parse: _Parser = None):
        self.items.append((check_command(text), parse))

    def send(self, text: str) -> None:
        """A raw command, checked to be one command."""
        self._do(text)


class Turtle(Commands):
    """One connection and the turtle it drives. Not thread-safe."""

    def __init__(self, sock: socket.socket, timeout: Optional[float]) -> None:
        self._sock = sock
        self._sock.settimeout(timeout)
        self._pending = b""
        self._closed = False
        self._answered = False  # a reply came: the server took us in
        self.last: Optional[Reply] = None  # the latest reply
        self.events = Events(0)  # events of every reply since take_events()

    def close(self) -> None:
        """Close the connection; the turtle stays on the field as a zombie."""
        if not self._closed:
            self._closed = True
            self._sock.close()

    def __enter__(self) -> "Turtle":
        return self

    def __exit__(self, *exc) -> None:
        self.close()

    def take_events(self) -> Events:
        """The events gathered since the last call, cleared."""
        e, self.events = self.events, Events(0)
        return e

    def send(self, text: str) -> Reply:
        """A raw command; its Reply."""
        return self._do(text)

    def pipeline(self, build: Callable[[Batch], None] | None = None) -> "_Pipeline":
        """Send many commands in one write and match their replies in order:

            replies = turtle.pipeline(lambda b: (b.forward(5), b.position()))
        or
            with turtle.pipeline() as b: ...      then b.replies
        """
        p = _Pipeline(self)
        if build is not None:
            build(p)
            return p.run()
        return p

    def _do(self, text: str, parse: _Parser = None):
        # One command: the same as exchange() without its lists, since bots mostly do this.
        check_command(text)
        self._send((text + "\n").encode("latin-1"))
        reply = parse_reply(self._read_line(1), parse)
        if reply.events:
            self.events = self.events | reply.events
        self.last = reply
        return reply.value if parse is not None else reply

    def exchange(self, items: list[tuple[str, _Parser]]) -> list[Reply]:
        """Send the commands (PIPELINE_WINDOW at a time), read one reply for each, in order."""
        replies: list[Reply] = []
        for start in range(0, len(items), PIPELINE_WINDOW):
            window = items[start:start + PIPELINE_WINDOW]
            self._send("".join(text + "\n" for text, _ in window).encode("latin-1"))
            for i, (_, parse) in enumerate(window):
                line = self._read_line(len(window) - i)
                reply = parse_reply(line, parse)
                if reply.events:
                    self.events = self.events | reply.events
                self.last = reply
                replies.append(reply)
        return replies

    def _send(self, data: bytes) -> None:
        if self._closed:
            raise ConnectionClosed("connection already closed")
        try:
            self._sock.sendall(data)
        except socket.timeout:
            self.close()
            raise ReplyTimeout("the server does not take our commands; connection closed") \
                from None
        except OSError as e:
            self.close()
            raise ConnectionClosed(f"connection lost while sending: {e}{self._hint()}") from None

    def _hint(self) -> str:
        return "" if self._answered else NOT_TAKEN_IN

    def _read_line(self, outstanding: int) -> str:
        while True:
            lf = self._pending.find(b"\n")
            if lf >= 0:
                line = self._pending[:lf]
                self._pending = self._pending[lf + 1:]
                self._answered = True
                return line.decode("latin-1")
            try:
                chunk = self._sock.recv(65536)
            except socket.timeout:
                # Replies may still come: later ones would be matched to the wrong commands.
                self.close()
                raise ReplyTimeout(f"no reply within the timeout ({outstanding} awaited); "
                                   "connection closed") from None
            except OSError as e:
                self.close()
                raise ConnectionClosed(f"connection lost: {e}{self._hint()}") from None
            if not chunk:
                self.close()
                raise ConnectionClosed(
                    f"the server closed the connection with {outstanding} replies awaited"
                    + (" (one cut short)" if self._pending else "") + self._hint())
            self._pending += chunk


class _Pipeline(Batch):
    def __init__(self, turtle: Turtle) -> None:
        super().__init__()
        self._turtle = turtle
        self.replies: list[Reply] = []

    def run(self) -> list[Reply]:
        self.replies = self._turtle.exchange(self.items)
        self.items = []
        return self.replies

    def __enter__(self) -> "_Pipeline":
        return self

    def __exit__(self, exc_type, *exc) -> None:
        if exc_type is None:
            self.run()


def connect(host: Optional[str] = None, port: Optional[int] = None,
            timeout: Optional[float] = 10.0) -> Turtle:
    """Connect and get a turtle. host None: KELPMOOR_HOST or 127.0.0.1; port None:
    KELPMOOR_PORT or 2222. timeout in seconds for connecting and for each reply (None waits
    for ever). ConnectionClosed when nothing listens there, ReplyTimeout when the connection
    takes longer than timeout."""
    host, port = host or default_host(), port or default_port()
    try:
        sock = socket.create_connection((host, port), timeout=timeout)
    except socket.timeout:
        raise ReplyTimeout(f"no connection to {host}:{port} within {timeout} s") from None
    except OSError as e:
        raise ConnectionClosed(f"cannot connect to {host}:{port}: {e} (is Kelpmoor running "
                               "there, on this port?)") from None
    sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    return Turtle(sock, timeout)
