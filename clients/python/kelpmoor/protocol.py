"""Kelpmoor's command language: replies, events, typed query results and command texts.

Nothing here touches a socket; client.py sends what these functions build. Text travels as
Latin-1, the encoding of the floor's fonts and of the viewer's documents: names and printed
texts are encoded with it (a character outside it becomes "?"), replies are decoded with it.
"""

from __future__ import annotations

import math
import re
from typing import Callable, NamedTuple, Optional

DEFAULT_PORT = 2222
MAX_COMMAND = 511  # characters of one command; a longer one is answered ERR and ignored
MAX_PRINT = 127  # bytes of a text printed on the floor
MAX_NAME = 128  # bytes of a name or a team message kept by the server

# Event bits, as reported in the last number of every reply.
HIT = 1
BUMPED_TURTLE = 2
BUMPED_DOUGHNUT = 4
BUMPED_STONE = 8
BUMPED_WALL = 16
COIN_NEARBY = 32
SEEN_BY_FINDER = 64
SEEN_BY_RADAR = 128
TEAM_MESSAGE = 256

_EVENT_NAMES = (
    ("hit", HIT),
    ("bumped_turtle", BUMPED_TURTLE),
    ("bumped_doughnut", BUMPED_DOUGHNUT),
    ("bumped_stone", BUMPED_STONE),
    ("bumped_wall", BUMPED_WALL),
    ("coin_nearby", COIN_NEARBY),
    ("seen_by_finder", SEEN_BY_FINDER),
    ("seen_by_radar", SEEN_BY_RADAR),
    ("team_message", TEAM_MESSAGE),
)

# Finder kinds.
NOTHING, TURTLE, DOUGHNUT, STONE, WALL = range(5)


class KelpmoorError(Exception):
    """Base of every error this library raises."""


class ConnectionClosed(KelpmoorError, ConnectionError):
    """The server closed the connection (or it broke) before every reply arrived."""


class ReplyTimeout(KelpmoorError, TimeoutError):
    """No complete reply within the connection's timeout; the connection is closed with it."""


class ProtocolError(KelpmoorError):
    """A line from the server that is not a reply."""


class ArgumentError(KelpmoorError, ValueError):
    """An argument the command cannot take; the message names what it can. Nothing was sent."""


class FramingError(ArgumentError):
    """An argument that would split or break the command (";", a line end, too long)."""


class Events(int):
    """The event bits of a reply, with one property per event."""

    def names(self) -> list[str]:
        """The names of the events set, in bit order ("hit", "bumped_turtle", ...)."""
        return [name for name, bit in _EVENT_NAMES if self & bit]

    def __repr__(self) -> str:
        return f"Events({int(self)}: {', '.join(self.names()) or 'none'})"

    def __or__(self, other: int) -> "Events":
        return Events(int(self) | int(other))


for _name, _bit in _EVENT_NAMES:
    setattr(Events, _name, property(lambda self, bit=_bit: bool(self & bit)))


class Reply(NamedTuple):
    """One reply line: "[payload ]OK|ERR @ tick events". value is the typed payload of a query."""

    ok: bool
    tick: int
    events: Events
    payload: str
    value: object = None

    def __bool__(self) -> bool:
        return self.ok


class Position(NamedTuple):
    """Where the turtle is (Q P)."""

    x: float
    y: float


class Finder(NamedTuple):
    """What lies straight ahead within the finder range (Q F)."""

    kind: int  # NOTHING, TURTLE, DOUGHNUT, STONE or WALL
    team: int


class Radar(NamedTuple):
    """The n-th nearest other thing (Q R n)."""

    found: bool  # False: fewer other things on the field; direction is then noise
    direction: float  # degrees relative to the heading, positive = to the left
    team: int


class Sonar(NamedTuple):
    """Something near at +45, 0 and -45 degrees (Q W)."""

    left: bool
    front: bool
    right: bool


class Board(NamedTuple):
    """The team's latest message (Q B)."""

    tick: int  # when the message was posted, 0 for none
    text: str


class FieldModes(NamedTuple):
    """The field's modes (Q G). Walls stop turtles only while bounded_area is on."""

    battle: bool
    bounded_area: bool
    maze: bool
    private: bool  # only clients on the arena's own machine are let in


_REPLY = re.compile(r"^(?:(.*) )?(OK|ERR) @ (\d+) (\d+)$")


def parse_reply(line: str, parse: Optional[Callable[[str, bool], object]] = None) -> Reply:
    """A reply line without its line feed; parse turns the payload into the typed value."""
    m = _REPLY.match(line)
    if m is None:
        raise ProtocolError(f"not a reply: {line!r}")
    payload = m.group(1) or ""
    ok = m.group(2) == "OK"
    value = None
    if parse is not None and payload:
        try:
            value = parse(payload, ok)
        except (ValueError, IndexError) as e:
            raise ProtocolError(f"unexpected payload {payload!r}: {e}") from None
    return Reply(ok, int(m.group(3)), Events(int(m.group(4))), payload, value)


def _floats(payload: str) -> list[float]:
    return [float(v) for v in payload.split()]


def _ints(payload: str) -> list[int]:
    return [int(v) for v in payload.split()]


def parse_board(payload: str, ok: bool = True) -> Board:
    """The payload of Q B: "tick text", the text possibly empty."""
    tick, _, text = payload.partition(" ")
    return Board(int(tick), text)


def parse_radar(payload: str, ok: bool) -> Radar:
    """The payload of Q R n: "direction team"; an ERR reply means nothing was found."""
    direction, team = payload.split()
    return Radar(ok, float(direction), int(team))


# Parsers of the query payloads, by query letter.
QUERY_PARSERS: dict[str, Callable[[str, bool], object]] = {
    "P": lambda p, ok: Position(*_floats(p)),
    "D": lambda p, ok: _floats(p)[0],
    "M": lambda p, ok: _ints(p)[0],
    "F": lambda p, ok: Finder(*_ints(p)),
    "W": lambda p, ok: Sonar(*(v != 0 for v in _ints(p))),
    "A": lambda p, ok: _ints(p)[0] != 0,
    "S": lambda p, ok: _ints(p)[0],
    "T": lambda p, ok: _ints(p)[0],
    "N": lambda p, ok: _ints(p)[0],
    "C": lambda p, ok: _ints(p)[0],
    "O": lambda p, ok: _ints(p)[0],
    "B": parse_board,
    "R": parse_radar,
    "G": lambda p, ok: FieldModes(*(v != 0 for v in _ints(p))),
}


def number(v: float) -> str:
    """A numeric argument as the server reads it; refuses what it would refuse."""
    try:
        f = float(v)
    except (TypeError, ValueError):
        raise ArgumentError(f"not a number: {v!r}") from None
    if not math.isfinite(f):
        raise ArgumentError(f"not a finite number: {v!r}")
    return str(int(f)) if f == int(f) and abs(f) < 1e15 else repr(f)


def latin1(text: str) -> bytes:
    """text in Latin-1, each character outside it as "?"."""
    return text.encode("latin-1", "replace")


def hex_text(text: str | bytes, limit: int) -> str:
    """Text for S and N: its bytes (Latin-1 for str) as hex pairs. A zero byte would be
    dropped."""
    data = latin1(text) if isinstance(text, str) else bytes(text)
    if b"\0" in data:
        raise FramingError("text with a zero byte")
    if len(data) > limit:
        raise FramingError(f"text of {len(data)} bytes, at most {limit}")
    return data.hex()


def plain_text(text: str) -> str:
    """Text for U. The server drops every byte that is not printable ASCII from a command, so
    each other character becomes "?"; ";" and line ends, which would end the command, are
    refused."""
    for ch in (";", "\n", "\r"):
        if ch in text:
            raise FramingError(f"team message with {ch!r}: any text without ';' or a line end")
    return "".join(ch if " " <= ch <= "~" else "?" for ch in text)


_NOT_IN_A_COMMAND = re.compile(r"[^ -:<-~]")  # anything but printable ASCII without ";"


def check_command(text: str) -> str:
    """A whole command: one line, no separator inside, within the server's length."""
    bad = _NOT_IN_A_COMMAND.search(text)
    if bad:
        raise FramingError(f"command with {bad.group()!r}: one command per call, printable ASCII")
    if not text.strip(" "):
        raise FramingError("empty command")
    if len(text) > MAX_COMMAND:
        raise FramingError(f"command of {len(text)} characters, at most {MAX_COMMAND}")
    return text
