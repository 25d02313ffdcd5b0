"""A connection to Kelpmoor's command port: one turtle, its commands and queries, pipelining."""

from __future__ import annotations

import os
import socket
from typing import Callable, Optional

from .protocol import (
    DEFAULT_PORT,
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


class Commands:
    """Every command and query once. Turtle runs each at once; Batch queues them."""

    def _do(self, text: str, parse: _Parser = None):
        raise NotImplementedError

    def _query(self, letter: str, extra: str = ""):
        return self._do(f"Q {letter}{extra}", QUERY_PARSERS[letter])

    # Motion (each waits for the next frame before the turtle's next command is read).
    def forward(self, distance: float):
        return self._do(f"F {number(distance)}")

    def back(self, distance: float):
        return self._do(f"B {number(distance)}")

    def left(self, degrees: float):
        return self._do(f"T L {number(degrees)}")

    def right(self, degrees: float):
        return self._do(f"T R {number(degrees)}")

    def head(self, compass: str):
        """Face "E" (0 degrees), "N" (90), "W" (180) or "S" (-90)."""
        return self._do(f"T {_COMPASS[compass.upper()]}")

    def jump(self, x: float, y: float):
        return self._do(f"J {number(x)} {number(y)}")

    def jump_by(self, dx: float, dy: float):
        return self._do(f"G {number(dx)} {number(dy)}")

    def reset(self):
        return self._do("C")

    def home(self):
        return self._do("C H")

    def clear_floor(self):
        return self._do("C F")

    def clear_all(self):
        """Remove zombies and clear the floor."""
        return self._do("C A")

    # Pen and appearance.
    def pen_down(self):
        return self._do("P D")

    def pen_up(self):
        return self._do("P U")

    def color(self, r: float, g: float, b: float):
        return self._do(f"K {number(r)} {number(g)} {number(b)}")

    def width(self, w: float):
        return self._do(f"W {number(w)}")

    def line_style(self, style: str):
        """"line", "fill" (filled polygons), "points" or "brush"."""
        return self._do(f"L {_LINE_STYLES[style]}")

    def print_text(self, text: str | bytes):
        return self._do(f"S {hex_text(text, MAX_PRINT)}")

    def name(self, text: str | bytes):
        return self._do(f"N {hex_text(text, MAX_NAME)}")

    def floor_color(self, r: float, g: float, b: float):
        """Set the floor colour; this clears the floor."""
        return self._do(f"H {number(r)} {number(g)} {number(b)}")

    # Teams, events, field.
    def join_team(self, team: int):
        return self._do(f"I {int(team)}")

    def post(self, message: str):
        return self._do(f"U {plain_text(message)}")

    def enable_events(self, mask: int):
        return self._do(f"Y + {int(mask)}")

    def disable_events(self, mask: int):
        return self._do(f"Y - {int(mask)}")

    def finder_range(self, distance: float):
        return self._do(f"E {number(distance)}")

    def doughnut(self):
        return self._do("D")

    def robot(self):
        return self._do("R")

    def battle_mode(self, on: bool = True):
        return self._do("!" if on else "! U")

    def noop(self):
        return self._do(".")

    # Battle and coins.
    def fire(self):
        return self._do("X")

    def pick_coin(self):
        return self._do("O")

    def drop_coin(self):
        return self._do("O S")

    def scatter_coin(self):
        return self._do("O X")

    def borrow_coins(self):
        return self._do("O B")

    # Queries: Turtle returns the typed value, Batch the Reply with it in .value.
    def position(self) -> Position:
        return self._query("P")

    def heading(self) -> float:
        return self._query("D")

    def team(self) -> int:
        return self._query("M")

    def finder(self) -> Finder:
        return self._query("F")

    def radar(self, n: int = 1) -> Radar:
        """The n-th nearest other thing (1..5)."""
        return self._query("R", f" {int(n)}")

    def sonar(self) -> Sonar:
        return self._query("W")

    def alive(self) -> bool:
        return self._query("A")

    def score(self) -> int:
        return self._query("S")

    def tick(self) -> int:
        return self._query("T")

    def turtles(self) -> int:
        return self._query("N")

    def coins_near(self) -> int:
        return self._query("C")

    def coins_held(self) -> int:
        return self._query("O")

    def board(self) -> Board:
        return self._query("B")


class Batch(Commands):
    """Commands queued for Turtle.pipeline; each method returns None."""

    def __init__(self) -> None:
        self.items: list[tuple[str, _Parser]] = []

    def _do(self, text: str, parse: _Parser = None):
        self.items.append((check_command(text), parse))

    def send(self, text: str) -> None:
        """A raw command."""
        self._do(text)


class Turtle(Commands):
    """One connection and the turtle it drives. Not thread-safe."""

    def __init__(self, sock: socket.socket, timeout: Optional[float]) -> None:
        self._sock = sock
        self._sock.settimeout(timeout)
        self._pending = b""
        self._closed = False
        self.last: Optional[Reply] = None  # the latest reply
        self.events = Events(0)  # events of every reply since take_events()

    def close(self) -> None:
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
        self._send((text + "\n").encode("ascii"))
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
            self._send("".join(text + "\n" for text, _ in window).encode("ascii"))
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
            raise ConnectionClosed(f"connection lost while sending: {e}") from None

    def _read_line(self, outstanding: int) -> str:
        while True:
            lf = self._pending.find(b"\n")
            if lf >= 0:
                line = self._pending[:lf]
                self._pending = self._pending[lf + 1:]
                return line.decode("ascii", "replace")
            try:
                chunk = self._sock.recv(65536)
            except socket.timeout:
                # Replies may still come: later ones would be matched to the wrong commands.
                self.close()
                raise ReplyTimeout(f"no reply within the timeout ({outstanding} awaited); "
                                   "connection closed") from None
            except OSError as e:
                self.close()
                raise ConnectionClosed(f"connection lost: {e}") from None
            if not chunk:
                self.close()
                raise ConnectionClosed(
                    f"the server closed the connection with {outstanding} replies awaited"
                    + (" (one cut short)" if self._pending else ""))
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


def connect(host: str = "127.0.0.1", port: Optional[int] = None,
            timeout: Optional[float] = 10.0) -> Turtle:
    """Connect and get a turtle. port None: KELPMOOR_PORT or 2222. timeout in seconds for
    connecting and for each reply (None waits for ever)."""
    sock = socket.create_connection((host, port or default_port()), timeout=timeout)
    sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    return Turtle(sock, timeout)
