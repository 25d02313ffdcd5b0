"""Kelpmoor client: drive one turtle of a Kelpmoor arena from Python.

    import kelpmoor
    with kelpmoor.connect() as t:      # KELPMOOR_HOST or 127.0.0.1, KELPMOOR_PORT or 2222
        t.pen_down()
        t.forward(50)
        x, y = t.position()

kelpmoor.turtle offers the names of Python's turtle module instead, so that a lesson written
for it runs here with only its import changed: `import kelpmoor.turtle as turtle`.

Misuse (an unknown compass heading or line style, a radar target outside 1..5, a colour
outside 0..1, a text that would break the command) raises ArgumentError before anything is
sent; a closed connection raises ConnectionClosed, a silent server ReplyTimeout. All of them
are KelpmoorError.
"""

from .client import (
    NOT_TAKEN_IN, PIPELINE_WINDOW, Batch, Turtle, connect, default_host, default_port,
)
from .protocol import (
    BUMPED_DOUGHNUT, BUMPED_STONE, BUMPED_TURTLE, BUMPED_WALL, COIN_NEARBY, DOUGHNUT, HIT,
    MAX_COMMAND, NOTHING, SEEN_BY_FINDER, SEEN_BY_RADAR, STONE, TEAM_MESSAGE, TURTLE, WALL,
    ArgumentError, Board, ConnectionClosed, Events, FieldModes, Finder, FramingError,
    KelpmoorError, Position, ProtocolError, Radar, Reply, ReplyTimeout, Sonar, parse_reply,
)

__version__ = "0.2.0"
