"""Kelpmoor client: drive one turtle of a Kelpmoor arena from Python.

    import kelpmoor
    with kelpmoor.connect() as t:      # 127.0.0.1, KELPMOOR_PORT or 2222
        t.pen_down()
        t.forward(50)
        x, y = t.position()
"""

from .client import PIPELINE_WINDOW, Batch, Turtle, connect, default_port
from .protocol import (
    BUMPED_DOUGHNUT, BUMPED_STONE, BUMPED_TURTLE, BUMPED_WALL, COIN_NEARBY, DOUGHNUT, HIT,
    MAX_COMMAND, NOTHING, SEEN_BY_FINDER, SEEN_BY_RADAR, STONE, TEAM_MESSAGE, TURTLE, WALL,
    Board, ConnectionClosed, Events, Finder, FramingError, KelpmoorError, Position,
    ProtocolError, Radar, Reply, ReplyTimeout, Sonar, parse_reply,
)

__version__ = "0.1.0"
