// net_protocol.cpp: the command language through a real socket: splitting, every command and
// query, hex texts, events, refused numbers.
#include <cstdlib>
#include <string>

#include "net_support.h"

namespace {

// One world-changing command in a fresh frame, so that the client is read at once.
std::string act(TestClient &c, const std::string &command) {
    frame();
    return c.ask(command);
}

std::string position_payload(int tid) {
    turtle t = snapshot(tid);
    char buf[128];
    std::snprintf(buf, sizeof buf, "%lf %lf", t.pos[0].x, t.pos[0].y);
    return buf;
}

class Protocol : public NetTest {
protected:
    void SetUp() override {
        NetTest::SetUp();
        ASSERT_TRUE(c.open());
        ASSERT_EQ(c.ask("."), reply(""));
        tid = turtle_of(0);
        ASSERT_GE(tid, 0);
        ASSERT_EQ(act(c, "J 0 0"), reply(""));
        ASSERT_EQ(act(c, "T E"), reply(""));
        frame();
    }
    void TearDown() override {
        c.close();
        NetTest::TearDown();
    }
    TestClient c{nullptr, false};
    int tid = -1;
};

TEST_F(Protocol, SplitsAtLineFeedsAndSemicolons) {
    // Three commands in one segment: all run before the next frame, three replies in order.
    c.send("F 10;T L 90;F 10\n");
    for (int i = 0; i < 3; i++) EXPECT_EQ(c.line(), reply(""));
    turtle t = snapshot(tid);
    EXPECT_NEAR(t.pos[0].x, 10.0, 1e-9);
    EXPECT_NEAR(t.pos[0].y, 10.0, 1e-9);
    EXPECT_EQ(t.heading, 90.0);

    // Separators alone answer nothing: the next line is the query's own.
    frame();
    c.send(";\n;;\n\n");
    EXPECT_EQ(c.ask("Q N"), reply("1"));

    // Leading spaces, control bytes and bytes above 127 are dropped: this is F 10. A tab does
    // not separate tokens, so F<tab>10 is the single token F10: a step of 0.
    ASSERT_EQ(act(c, "T E"), reply(""));
    frame();
    c.send("  \x01" "F\r 1\t\xff" "0\n");
    EXPECT_EQ(c.line(), reply(""));
    EXPECT_NEAR(snapshot(tid).pos[0].x, 20.0, 1e-9);
    EXPECT_EQ(act(c, "F\t10"), reply(""));
    EXPECT_NEAR(snapshot(tid).pos[0].x, 20.0, 1e-9);

    // A command over two reads runs once, whole. The other client's answered query proves the
    // server has read the first half before the second is sent.
    frame();
    c.send("F 1");
    TestClient other;
    ASSERT_EQ(other.ask("J -200 -200"), reply(""));
    EXPECT_TRUE(c.quiet());
    c.send("0\n");
    EXPECT_EQ(c.line(), reply(""));
    EXPECT_NEAR(snapshot(tid).pos[0].x, 30.0, 1e-9);
}

TEST_F(Protocol, MotionCommands) {
    EXPECT_EQ(act(c, "FORWARD 10"), reply(""));
    EXPECT_EQ(act(c, "b 4"), reply(""));
    EXPECT_NEAR(snapshot(tid).pos[0].x, 6.0, 1e-9);

    EXPECT_EQ(act(c, "T L 90"), reply(""));
    EXPECT_EQ(snapshot(tid).heading, 90.0);
    EXPECT_EQ(act(c, "t r 45"), reply(""));
    EXPECT_EQ(snapshot(tid).heading, 45.0);
    EXPECT_EQ(act(c, "TL 90"), reply("", false));
    EXPECT_EQ(act(c, "T X 90"), reply("", false));
    EXPECT_EQ(snapshot(tid).heading, 45.0);
    const std::pair<const char *, double> compass[] = {
        {"T N", 90.0}, {"T w", 180.0}, {"T S", -90.0}, {"t e", 0.0}};
    for (auto [command, heading] : compass) {
        EXPECT_EQ(act(c, command), reply(""));
        EXPECT_EQ(snapshot(tid).heading, heading) << command;
    }

    EXPECT_EQ(act(c, "J -30 40"), reply(""));
    EXPECT_EQ(act(c, "g 5 -5"), reply(""));
    turtle t = snapshot(tid);
    EXPECT_EQ(t.pos[0].x, -25.0);
    EXPECT_EQ(t.pos[0].y, 35.0);

    // C H: home, then a step of 0 (param1 is the letter).
    EXPECT_EQ(act(c, "T L 30"), reply(""));
    EXPECT_EQ(act(c, "C H 7"), reply(""));
    t = snapshot(tid);
    EXPECT_EQ(t.pos[0].x, 0.0);
    EXPECT_EQ(t.heading, 0.0);
    // C with a number: reset (team back to 0), then the step.
    EXPECT_EQ(act(c, "I 2"), reply(""));
    EXPECT_EQ(act(c, "C 5"), reply(""));
    t = snapshot(tid);
    EXPECT_NEAR(t.pos[0].x, 5.0, 1e-9);
    EXPECT_EQ(t.team, 0);
}

TEST_F(Protocol, FieldCommands) {
    // C A removes zombies; C F only clears the floor.
    int zombie;
    {
        TestClient leaving;
        ASSERT_EQ(leaving.ask("J 100 100"), reply(""));
        zombie = turtle_of(1);
    }
    ASSERT_TRUE(wait_clients(1));
    ASSERT_TRUE(snapshot(zombie).status & ST_ZOMBIE);
    {
        std::lock_guard lock(frame_rendering_mutex);
        turtle_field_is_cleared = 1;
    }
    EXPECT_EQ(act(c, "C F"), reply(""));
    EXPECT_EQ(turtle_field_is_cleared, 0);
    EXPECT_TRUE(snapshot(zombie).status & ST_ZOMBIE);
    EXPECT_EQ(act(c, "c a"), reply(""));
    EXPECT_EQ(snapshot(zombie).status, 0u);

    EXPECT_EQ(act(c, "H 0.25 0.5 0.75"), reply(""));
    EXPECT_EQ(bgcol.r, 0.25);
    EXPECT_EQ(bgcol.g, 0.5);
    EXPECT_EQ(bgcol.b, 0.75);

    EXPECT_EQ(act(c, "!"), reply(""));
    EXPECT_EQ(battle_mode, 1);
    EXPECT_EQ(act(c, "! u"), reply(""));
    EXPECT_EQ(battle_mode, 0);

    // D spawns a doughnut; R spawns robots until the table is full, then answers ERR.
    EXPECT_EQ(act(c, "D"), reply(""));
    int live = 0, doughnuts = 0, robots = 0;
    for (int i = 0; i < NTURTLE - 2; i++) EXPECT_EQ(act(c, "R"), reply(""));
    EXPECT_EQ(act(c, "R"), reply("", false));
    {
        std::lock_guard lock(frame_rendering_mutex);
        for (const turtle &t : ttl) {
            live += (t.status & ST_ALIVE) != 0;
            doughnuts += (t.status & ST_DOUGHNUT) != 0;
            robots += t.status == (ST_ALIVE | ST_SYSTEM) && t.cid == -1;
        }
    }
    EXPECT_EQ(live, NTURTLE);
    EXPECT_EQ(doughnuts, 1);
    EXPECT_EQ(robots, NTURTLE - 2);

    EXPECT_EQ(act(c, "."), reply(""));
    EXPECT_EQ(act(c, "Z 1"), reply("", false));
    EXPECT_EQ(act(c, "#"), reply("", false));
}

TEST_F(Protocol, PenAppearanceAndHexTexts) {
    const std::pair<const char *, uint32_t> pen[] = {
        {"P D", ST_PEN_DOWN}, {"p -", 0}, {"P +", ST_PEN_DOWN}, {"P x", ST_PEN_DOWN}, {"P u", 0}};
    for (auto [command, bit] : pen) {
        EXPECT_EQ(act(c, command), reply(""));
        EXPECT_EQ(snapshot(tid).status & ST_PEN_DOWN, bit) << command;
    }
    constexpr uint32_t styles = ST_FILL_MODE | ST_BRUSH_MODE | ST_POINT_MODE;
    const std::pair<const char *, uint32_t> style[] = {{"L S", ST_FILL_MODE},
        {"L b", ST_BRUSH_MODE}, {"l P", ST_POINT_MODE}, {"L +", ST_FILL_MODE}, {"L x", 0}};
    for (auto [command, bits] : style) {
        EXPECT_EQ(act(c, command), reply(""));
        EXPECT_EQ(snapshot(tid).status & styles, bits) << command;
    }

    EXPECT_EQ(act(c, "K 0 0.5 1"), reply(""));
    EXPECT_EQ(act(c, "W 3"), reply(""));
    turtle t = snapshot(tid);
    EXPECT_EQ(t.col[0].g, 0.5);
    EXPECT_EQ(t.col[0].b, 1.0);
    EXPECT_EQ(t.width[0], 3.0);
    EXPECT_EQ(act(c, "E 55"), reply(""));
    EXPECT_EQ(snapshot(tid).frange, 55.0);

    EXPECT_EQ(act(c, "N 41 42 43"), reply(""));
    EXPECT_STREQ(snapshot(tid).name, "ABC");
    EXPECT_EQ(act(c, "n 4"), reply(""));
    EXPECT_STREQ(snapshot(tid).name, "@");

    EXPECT_EQ(act(c, "S 4b656C70"), reply(""));
    EXPECT_STREQ(snapshot(tid).msg, "Kelp");
    std::string pairs127, pairs128;
    for (int i = 0; i < 127; i++) pairs127 += "61";
    pairs128 = pairs127 + "62";
    EXPECT_EQ(act(c, "S " + pairs128), reply("", false));
    EXPECT_STREQ(snapshot(tid).msg, "Kelp");
    EXPECT_EQ(act(c, "S " + pairs127), reply(""));
    EXPECT_EQ(std::string(snapshot(tid).msg), std::string(127, 'a'));

    // I: teams 1..4 only, always OK.
    EXPECT_EQ(act(c, "I 3"), reply(""));
    EXPECT_EQ(act(c, "I 7"), reply(""));
    EXPECT_EQ(snapshot(tid).team, 3);

    // U takes the plain text up to the separator; the rest is a command of its own (W 0).
    c.send("U hello there;world\n");
    EXPECT_EQ(c.line(), reply(""));
    EXPECT_EQ(c.line(), reply(""));
    EXPECT_STREQ(teams[3].msg, "hello there");
    EXPECT_EQ(snapshot(tid).width[0], 0.0);
}

TEST_F(Protocol, QueriesAndTheirPayloads) {
    ASSERT_EQ(act(c, "J 12 -40.5"), reply(""));
    elapsed_time = 1234;
    EXPECT_EQ(act(c, "Q P"), reply("12.000000 -40.500000"));
    EXPECT_EQ(act(c, "q p"), reply(position_payload(tid)));
    ASSERT_EQ(act(c, "T L 33.25"), reply(""));
    EXPECT_EQ(act(c, "Q D"), reply("33.250000"));
    EXPECT_EQ(act(c, "I 4"), reply(""));
    EXPECT_EQ(act(c, "Q M"), reply("4"));
    EXPECT_EQ(act(c, "Q A"), reply("1"));
    EXPECT_EQ(act(c, "Q S"), reply("100"));
    EXPECT_EQ(act(c, "Q T"), reply("1234"));
    EXPECT_EQ(act(c, "Q N"), reply("1"));

    // A second turtle close by and in front: the sensors see it.
    TestClient other;
    ASSERT_EQ(other.ask("J 42 -40.5"), reply(""));
    ASSERT_EQ(act(c, "T E"), reply(""));
    EXPECT_EQ(act(c, "Q N"), reply("2"));
    int yn = 0, team = 0, left = 0, front = 0, right = 0;
    double dir = 0.0;
    {
        std::lock_guard lock(frame_rendering_mutex);
        qt_finder(tid, &yn, &team);
        qt_sonar(tid, &left, &front, &right);
    }
    EXPECT_EQ(act(c, "Q F"), reply(std::to_string(yn) + " " + std::to_string(team)));
    EXPECT_EQ(act(c, "Q W"), reply(std::to_string(left) + " " + std::to_string(front) + " " +
                                  std::to_string(right)));
    // The radar adds noise from random(): seed it alike for the expected value and the reply.
    auto radar = [&](int nb) {
        std::lock_guard lock(frame_rendering_mutex);
        srandom(7);
        int found = qt_angular_rader(tid, nb, &dir, &team);
        srandom(7);
        char payload[64];
        std::snprintf(payload, sizeof payload, "%lf %d", dir, team);
        return reply(payload, found == 0);
    };
    std::string expected = radar(0);
    EXPECT_EQ(act(c, "Q R"), expected);
    expected = radar(0);
    EXPECT_EQ(act(c, "Q R 1"), expected);
    expected = radar(1);  // only one other slot: a payload, and ERR
    EXPECT_EQ(act(c, "q r 2"), expected);
    EXPECT_NE(expected.find(" ERR @"), std::string::npos);
    EXPECT_EQ(act(c, "Q R 9"), reply("", false));
    EXPECT_EQ(act(c, "Q R 0"), reply("", false));

    ASSERT_EQ(act(c, "U tide is low"), reply(""));
    EXPECT_EQ(act(c, "Q B"), reply("1234 tide is low"));
    EXPECT_EQ(act(c, "Q Z"), reply("", false));
    EXPECT_EQ(act(c, "QP"), reply("", false));
    EXPECT_EQ(act(c, "Q"), reply("", false));
}

TEST_F(Protocol, EventsAreReportedOnceAndMasked) {
    TestClient mate;
    ASSERT_EQ(mate.ask("I 1"), reply(""));
    ASSERT_EQ(c.ask("I 1"), reply(""));
    ASSERT_EQ(c.ask("U one"), reply(""));
    EXPECT_EQ(mate.ask("Q T"), reply("0", true, EV_TEAM_MSG));
    EXPECT_EQ(mate.ask("Q T"), reply("0"));
    EXPECT_EQ(c.ask("."), reply(""));  // the poster is not told

    ASSERT_EQ(mate.ask("Y - 256"), reply(""));
    ASSERT_EQ(c.ask("U two"), reply(""));
    EXPECT_EQ(mate.ask("."), reply(""));
    ASSERT_EQ(mate.ask("Y + 256"), reply(""));
    ASSERT_EQ(c.ask("U three"), reply(""));
    EXPECT_EQ(mate.ask("."), reply("", true, EV_TEAM_MSG));
    EXPECT_EQ(mate.ask("Y x 256"), reply(""));
}

TEST_F(Protocol, NonFiniteNumbersAreRefusedAndChangeNothing) {
    ASSERT_EQ(c.ask("K 0.5 0.5 0.5"), reply(""));
    turtle before = snapshot(tid);
    color floor = bgcol;
    int cleared = turtle_field_is_cleared = 1;
    // No frame between them: a command that counted as world-changing would block the next.
    for (const char *command : {"F nan", "B inf", "T L 1e999", "t r -inf", "J nan 0", "G 0 inf",
                                "C inf", "C nan", "H nan 0 0", "K 0 inf 0", "W nan", "E inf"}) {
        EXPECT_EQ(c.ask(command), reply("", false)) << command;
    }
    turtle after = snapshot(tid);
    EXPECT_EQ(after.pos[0].x, before.pos[0].x);
    EXPECT_EQ(after.pos[0].y, before.pos[0].y);
    EXPECT_EQ(after.heading, before.heading);
    EXPECT_EQ(after.col[0].g, before.col[0].g);
    EXPECT_EQ(after.width[0], before.width[0]);
    EXPECT_EQ(after.frange, before.frange);
    EXPECT_EQ(bgcol.r, floor.r);
    EXPECT_EQ(turtle_field_is_cleared, cleared);
    EXPECT_EQ(c.ask("F 1"), reply(""));
}

}  // namespace
