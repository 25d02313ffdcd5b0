// net_connections.cpp: the command server's connections through real sockets: pacing against
// frames, the client limit, private mode, zombies and disconnection marks, over-long commands,
// and a client that never reads its replies.
#include <memory>
#include <string>
#include <vector>

#include "net_support.h"

namespace {

using Connections = NetTest;

TEST_F(Connections, WorldChangingCommandsArePacedByFrames) {
    TestClient c;
    ASSERT_EQ(c.ask("J 0 0"), reply(""));
    TestClient other;  // spawned after the jump, so it cannot stand in the way of it
    ASSERT_EQ(other.ask("J 100 100"), reply(""));
    frame();
    int tid = turtle_of(0);
    ASSERT_EQ(c.ask("T E"), reply(""));
    frame();

    // Two moves in one segment: both run and are answered before the next frame.
    c.send("F 1\nF 1\n");
    EXPECT_EQ(c.line(), reply(""));
    EXPECT_EQ(c.line(), reply(""));
    EXPECT_NEAR(snapshot(tid).pos[0].x, 2.0, 1e-9);

    // A move in a later segment waits for the frame, even behind the other client's queries.
    c.send("F 1\n");
    EXPECT_EQ(other.ask("Q T"), reply("0"));
    EXPECT_TRUE(c.quiet());
    EXPECT_NEAR(snapshot(tid).pos[0].x, 2.0, 1e-9);
    frame();
    EXPECT_EQ(c.line(), reply(""));
    EXPECT_NEAR(snapshot(tid).pos[0].x, 3.0, 1e-9);

    // Queries alone are served on every pass without any frame, but never during one.
    frame();
    for (int i = 0; i < 200; i++) ASSERT_EQ(c.ask("Q T"), reply("0")) << i;
    rendering_started();
    c.send("Q T\n");
    bool quiet_during_frame = c.quiet();
    rendering_is_done();
    EXPECT_TRUE(quiet_during_frame);
    EXPECT_EQ(c.line(), reply("0"));
}

TEST_F(Connections, EleventhClientIsClosedAndALeavingOneLeavesAZombie) {
    LogCapture log;
    std::vector<std::unique_ptr<TestClient>> cs;
    for (int i = 0; i < MAX_CLIENT; i++) {
        cs.push_back(std::make_unique<TestClient>());
        ASSERT_EQ(cs.back()->ask("."), reply(""));
    }
    EXPECT_TRUE(log.wait_for("handling client from 127.0.0.1 "));
    TestClient eleventh;
    EXPECT_TRUE(eleventh.closed_by_server());
    EXPECT_TRUE(log.wait_for("accept_connection(): reaches MAX_CLIENT\n"));
    EXPECT_EQ(clients(), MAX_CLIENT);

    int tid = turtle_of(3);
    cs[3]->close();
    ASSERT_TRUE(wait_clients(MAX_CLIENT - 1));
    EXPECT_TRUE(log.wait_for("closing connection from 127.0.0.1 "));
    EXPECT_EQ(snapshot(tid).status, ST_ALIVE | ST_ZOMBIE);
    EXPECT_EQ(turtle_of(3), -1);
    TestClient late;  // takes the lowest free slot, with a turtle of its own
    EXPECT_EQ(late.ask("."), reply(""));
    EXPECT_EQ(snapshot(turtle_of(3)).cid, 3);
    EXPECT_NE(turtle_of(3), tid);
}

TEST_F(Connections, PrivateModeServesOnlyTheLocalHost) {
    LogCapture log;
    TestClient outsider("127.0.0.2");
    EXPECT_TRUE(outsider.closed_by_server());
    EXPECT_TRUE(log.wait_for("accept_connection(): reject connection from 127.0.0.2 "));
    EXPECT_EQ(clients(), 0);

    EXPECT_EQ(toggle_localhost_mode(), 0);
    TestClient welcome("127.0.0.2");
    EXPECT_EQ(welcome.ask("."), reply(""));
    EXPECT_EQ(toggle_localhost_mode(), 1);
}

TEST_F(Connections, MarkedClientsAreClosedAtTheNextPass) {
    TestClient a, b, c;
    for (TestClient *x : {&a, &b, &c}) ASSERT_EQ(x->ask("."), reply(""));
    int ta = turtle_of(0), tb = turtle_of(1);

    // A mark for a turtle the client no longer drives does nothing; a dying turtle's mark
    // closes its client and leaves the turtle alone.
    locked([&] { disconnect_client_for(tb, 0); });
    EXPECT_EQ(a.ask("."), reply(""));
    locked([&] { disconnect_client_for(ta, 0); });
    EXPECT_TRUE(a.closed_by_server());
    EXPECT_EQ(snapshot(ta).status, ST_ALIVE);

    // Kill-all empties the table and closes every remaining client.
    locked(field_kill_all_turtles);
    EXPECT_TRUE(b.closed_by_server());
    EXPECT_TRUE(c.closed_by_server());
    EXPECT_EQ(snapshot(tb).status, 0u);
}

TEST_F(Connections, FullTurtleTableRefusesRobotsAndNewClients) {
    TestClient c;
    for (int i = 1; i < NTURTLE; i++) ASSERT_EQ(c.ask("R"), reply("")) << i;
    EXPECT_EQ(c.ask("R"), reply("", false));
    TestClient late;
    EXPECT_TRUE(late.closed_by_server());
    EXPECT_EQ(clients(), 1);
}

TEST_F(Connections, OverLongCommandIsRefusedOnceAndTheClientStays) {
    TestClient c, other;
    ASSERT_EQ(c.ask("."), reply(""));
    ASSERT_EQ(other.ask("."), reply(""));

    // 511 characters still make one command; 512 do not.
    EXPECT_EQ(c.ask("Q T" + std::string(508, ' ')), reply("0"));
    EXPECT_EQ(c.ask("Q T" + std::string(509, ' ')), reply("", false));

    // Over several reads: one ERR for the whole text, then the next command. The other
    // client's answers show the server has read each part.
    c.send("F " + std::string(400, '1'));
    ASSERT_EQ(other.ask("."), reply(""));
    c.send(std::string(400, '2'));
    ASSERT_EQ(other.ask("."), reply(""));
    c.send(std::string(400, '3') + ";Q N\n");
    EXPECT_EQ(c.line(), reply("", false));
    EXPECT_EQ(c.line(), reply("2"));

    // Separators and leading spaces filling the buffer are no command at all.
    c.send(std::string(300, ';') + std::string(300, ' ') + "Q N\n");
    EXPECT_EQ(c.line(), reply("2"));
    EXPECT_TRUE(c.quiet());
}

TEST_F(Connections, ClientThatNeverReadsIsDroppedWithoutStoppingTheField) {
    TestClient mover;
    ASSERT_EQ(mover.ask("."), reply(""));
    TestClient flooder(nullptr, 4096);  // a small window backs the server's output up sooner
    ASSERT_EQ(flooder.ask("."), reply(""));
    int flooder_tid = turtle_of(1);

    std::string burst;
    for (int i = 0; i < 100; i++) burst += "Q P\n";
    for (int rounds = 0; turtle_of(1) == flooder_tid; rounds++) {
        ASSERT_LT(rounds, 20000) << "the flooder was never dropped";
        flooder.send(burst);  // fails once the server has closed it
        frame();
        ASSERT_EQ(mover.ask("T L 1"), reply("")) << "round " << rounds;
    }
    EXPECT_EQ(clients(), 1);
    EXPECT_EQ(snapshot(flooder_tid).status, ST_ALIVE | ST_ZOMBIE);
    frame();
    EXPECT_EQ(mover.ask("T L 1"), reply(""));
}

}  // namespace
