"""The Python client against the arena on KELPMOOR_PORT (see tests/clients/arena.py), and
against small fake servers for the failures a real arena does not produce on demand."""

import os
import socket
import sys
import threading
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), ".."))

import kelpmoor  # noqa: E402

PORT = int(os.environ.get("KELPMOOR_PORT", "2222"))


class FakeServer:
    """Accepts one connection and runs script(conn) on it in a thread."""

    def __init__(self, script):
        self.listener = socket.socket()
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(1)
        self.port = self.listener.getsockname()[1]
        self.thread = threading.Thread(target=self._serve, args=(script,), daemon=True)
        self.thread.start()

    def _serve(self, script):
        conn, _ = self.listener.accept()
        with conn:
            script(conn)
        self.listener.close()


class AgainstArena(unittest.TestCase):
    def setUp(self):
        self.t = kelpmoor.connect(port=PORT, timeout=20)
        # An earlier test's turtle becomes a zombie, which C A removes, only once the server
        # has seen its connection close: clear until this turtle is alone.
        deadline = time.monotonic() + 20
        while self.t.clear_all() and self.t.turtles() != 1 and time.monotonic() < deadline:
            time.sleep(0.05)
        self.t.home()

    def tearDown(self):
        self.t.close()

    def test_every_command_and_query(self):
        t = self.t
        self.assertEqual(t.position(), (0.0, 0.0))
        for i, command in enumerate((lambda: t.forward(10), lambda: t.back(5), lambda: t.left(90),
                        lambda: t.right(45), lambda: t.head("n"), lambda: t.jump(-20, 30),
                        lambda: t.jump_by(5, 5), t.pen_down, lambda: t.color(0, 0.5, 1),
                        lambda: t.width(2), lambda: t.line_style("brush"),
                        lambda: t.print_text("Hi ü"), lambda: t.name("spiral;bot"),
                        lambda: t.line_style("line"), t.pen_up, lambda: t.join_team(2),
                        lambda: t.post("hello board"), lambda: t.enable_events(0xFFFF),
                        lambda: t.disable_events(kelpmoor.SEEN_BY_RADAR),
                        lambda: t.finder_range(50), t.noop, t.borrow_coins, t.drop_coin,
                        t.pick_coin, t.clear_floor, t.reset, t.home,
                        lambda: t.floor_color(0.1, 0.1, 0.2))):
            reply = command()
            self.assertIsInstance(reply, kelpmoor.Reply)
            self.assertTrue(reply.ok, f"command {i}: {reply}")
            self.assertEqual(reply.payload, "")
        self.assertEqual(t.heading(), 0.0)  # after the home
        self.assertEqual(t.team(), 0)  # the reset left the team
        self.assertEqual(t.finder(), (kelpmoor.NOTHING, 0))
        radar = t.radar(5)
        self.assertIsInstance(radar, kelpmoor.Radar)
        self.assertIsInstance(radar.direction, float)
        self.assertEqual(radar.found, t.last.ok)
        self.assertIsInstance(t.sonar(), kelpmoor.Sonar)
        self.assertIs(t.alive(), True)
        self.assertEqual(t.score(), 100)
        self.assertGreater(t.tick(), 0)
        self.assertGreaterEqual(t.turtles(), 1)
        self.assertIsInstance(t.coins_near(), int)
        self.assertEqual(t.coins_held(), 0)  # the reset dropped the borrowed ones
        board = t.board()
        self.assertIsInstance(board, kelpmoor.Board)
        self.assertTrue(t.print_text("x" * 127).ok)
        with self.assertRaises(kelpmoor.FramingError):
            t.print_text("x" * 128)

    def test_team_messages_and_events(self):
        other = kelpmoor.connect(port=PORT, timeout=20)
        try:
            self.t.join_team(4)
            other.join_team(4)
            self.t.post("meet at 0 0")
            self.assertEqual(other.board().text, "meet at 0 0")
            self.assertTrue(other.last.events.team_message)
            self.assertTrue(other.take_events().team_message)
            self.assertEqual(other.take_events(), 0)
            # A bump: the other turtle next to us, then a step into it.
            self.t.head("E")
            other.jump(30, 0)
            reply = self.t.forward(15)
            self.assertFalse(reply.ok)
            self.assertTrue(reply.events.bumped_turtle)
            self.assertEqual(reply.events.names(), ["bumped_turtle"])
        finally:
            other.close()

    def test_pipelined_replies_come_in_order(self):
        t = self.t
        with t.pipeline() as b:
            b.join_team(3)
            b.team()
            b.send("Q Z")
            for _ in range(150):  # more than one window
                b.left(1)
                b.heading()
        replies = b.replies
        self.assertEqual(len(replies), 3 + 300)
        self.assertEqual(replies[1].value, 3)
        self.assertFalse(replies[2].ok)
        headings = [r.value for r in replies[4::2]]
        self.assertEqual(headings, [float(k) for k in range(1, 151)])
        self.assertEqual(t.pipeline(lambda b: (b.noop(), b.position()))[1].value, (0.0, 0.0))

    def test_refused_text_is_never_sent(self):
        t = self.t
        for bad in (lambda: t.post("a;b"), lambda: t.post("a\nb"),
                    lambda: t.send("F 1;F 2"), lambda: t.send("Q P\n"),
                    lambda: t.send("U " + "x" * 510), lambda: t.name("a\0b")):
            with self.assertRaises(kelpmoor.FramingError):
                bad()
        with self.assertRaises(ValueError):
            t.forward(float("inf"))
        # Still in step: the next reply answers the next query.
        self.assertEqual(t.team(), 0)

    def test_battle_coins_and_spawns(self):
        t = self.t
        try:
            self.assertTrue(t.battle_mode(True).ok)
            self.assertTrue(t.fire().ok)
            self.assertEqual(t.score(), 99)
            self.assertFalse(t.jump(0, 0).ok)
        finally:
            t.battle_mode(False)
        self.assertTrue(t.scatter_coin().ok)
        self.assertTrue(t.doughnut().ok)
        self.assertTrue(t.robot().ok)


def load_tests(loader, tests, pattern):
    """The arena's tests in their order of definition, so that the one spawning a robot, which
    wanders for the rest of the run, comes last."""
    suite = unittest.TestSuite()
    for case in (AgainstArena, AgainstFakeServers, Parsing):
        names = [n for n in vars(case) if n.startswith("test_")]
        suite.addTests(case(n) for n in names)
    return suite


class AgainstFakeServers(unittest.TestCase):
    def test_server_closing_mid_reply_raises_at_once(self):
        def script(conn):
            conn.recv(100)
            conn.sendall(b"OK @ 1 0\n12.5 -3")
            time.sleep(0.1)

        server = FakeServer(script)
        t = kelpmoor.connect(port=server.port, timeout=30)
        start = time.monotonic()
        with self.assertRaises(kelpmoor.ConnectionClosed) as caught:
            t.pipeline(lambda b: (b.noop(), b.position(), b.position()))
        self.assertLess(time.monotonic() - start, 5)
        self.assertIn("2 replies awaited", str(caught.exception))
        with self.assertRaises(kelpmoor.ConnectionClosed):
            t.noop()

    def test_silent_server_times_out(self):
        release = threading.Event()
        server = FakeServer(lambda conn: release.wait(5))
        t = kelpmoor.connect(port=server.port, timeout=0.3)
        with self.assertRaises(kelpmoor.ReplyTimeout):
            t.position()
        release.set()
        t.close()

    def test_garbage_is_a_protocol_error(self):
        server = FakeServer(lambda conn: (conn.recv(100), conn.sendall(b"hello\n")))
        with kelpmoor.connect(port=server.port, timeout=5) as t:
            with self.assertRaises(kelpmoor.ProtocolError):
                t.noop()


class Parsing(unittest.TestCase):
    def test_reply_lines(self):
        p = kelpmoor.protocol.QUERY_PARSERS
        r = kelpmoor.parse_reply("12.000000 -40.500000 OK @ 1500 258", p["P"])
        self.assertEqual((r.ok, r.tick, r.value), (True, 1500, (12.0, -40.5)))
        self.assertEqual(r.events.names(), ["bumped_turtle", "team_message"])
        r = kelpmoor.parse_reply("7 OK went @ home OK @ 9 0", p["B"])
        self.assertEqual(r.value, (7, "OK went @ home"))
        self.assertEqual(kelpmoor.parse_reply("0  OK @ 9 0", p["B"]).value, (0, ""))
        r = kelpmoor.parse_reply("-3.500000 0 ERR @ 2 0", p["R"])
        self.assertEqual(r.value, (False, -3.5, 0))
        self.assertIsNone(kelpmoor.parse_reply("ERR @ 2 0", p["R"]).value)


if __name__ == "__main__":
    unittest.main()
