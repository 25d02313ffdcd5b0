// net_protocol.cpp: the command language through a real socket: splitting, every command and
// query, hex texts, events, refused numbers.
#include <algorithm>
#include <cstdint>
#include <functional>
#include <regex>
#include <string>
#include <tuple>
#include <utility>

#include "net_support.h"

namespace {

// One world-changing command in a fresh frame, so that the client is read at once.
std::string act(TestClient &c, const std::string &command) {
    frame();
    return c.ask(command);
}

// Turtles in the table whose status bits under mask are bits.
long count_turtles(uint32_t mask, uint32_t bits) {
    auto match = [=](const turtle &t) { return (t.status & mask) == bits; };
    return locked([&] { return std::count_if(ttl.begin(), ttl.end(), match); });
}

class Protocol : public NetTest {
protected:
    void SetUp() override {
        NetTest::SetUp();
        ASSERT_EQ(c.ask("."), reply(""));
        tid = turtle_of(0);
        ASSERT_GE(tid, 0);
        ASSERT_EQ(act(c, "J 0 0"), reply(""));
        ASSERT_EQ(act(c, "T E"), reply(""));
        frame();
    }
    turtle me() const { return snapshot(tid); }
    TestClient c;
    int tid = -1;
};

TEST_F(Protocol, SplitsAtLineFeedsAndSemicolons) {
    // Three commands in one segment: all run before the next frame, three replies in order.
    c.send("F 10;T L 90;F 10\n");
    for (int i = 0; i < 3; i++) EXPECT_EQ(c.line(), reply(""));
    EXPECT_NEAR(me().pos[0].x, 10.0, 1e-9);
    EXPECT_NEAR(me().pos[0].y, 10.0, 1e-9);

    // Separators alone answer nothing: the next line is the query's own.
    frame();
    c.send(";\n;;\n\n");
    EXPECT_EQ(c.ask("Q N"), reply("1"));

    // Leading spaces, control bytes and bytes above 127 are dropped: the second is F 10.
    frame();
    c.send("T E\n  \x01" "F\r 1\xff" "0\n");
    for (int i = 0; i < 2; i++) EXPECT_EQ(c.line(), reply(""));
    EXPECT_NEAR(me().pos[0].x, 20.0, 1e-9);

    // A command over two reads runs once, whole. The other client's answered query proves the
    // server has read the first half before the second is sent.
    frame();
    c.send("F 1");
    TestClient other;
    ASSERT_EQ(other.ask("J -200 -200"), reply(""));
    EXPECT_TRUE(c.quiet());
    c.send("0\n");
    EXPECT_EQ(c.line(), reply(""));
    EXPECT_NEAR(me().pos[0].x, 30.0, 1e-9);
}

// Each row in a frame of its own, in order: the reply's status, then what the command changed.
TEST_F(Protocol, EveryCommandReachesItsOperation) {
    int zombie;
    {
        TestClient leaving;
        ASSERT_EQ(leaving.ask("J 100 100"), reply(""));
        zombie = turtle_of(1);
    }
    ASSERT_TRUE(wait_clients(1));
    locked([] { turtle_field_is_cleared = 1; });
    auto heading_is = [&](double h) { return [&, h] { return me().heading == h; }; };
    auto team_is = [&](int n) { return [&, n] { return me().team == n; }; };
    auto pen_is = [&](uint32_t bits, uint32_t mask) {
        return [&, bits, mask] { return (me().status & mask) == bits; };
    };
    const uint32_t styles = ST_FILL_MODE | ST_BRUSH_MODE | ST_POINT_MODE;
    const struct {
        std::string command;
        bool ok;
        std::function<bool()> effect;
    } rows[] = {
        {"FORWARD 10", true, [&] { return me().pos[0].x == 10.0; }},
        {"b 4", true, [&] { return me().pos[0].x == 6.0; }},
        {"T L 90", true, heading_is(90)}, {"t r 45", true, heading_is(45)},
        {"TL 90", false, heading_is(45)}, {"T X 90", false, heading_is(45)},
        {"C H 7", true, [&] { return me().pos[0].x == 0.0 && me().heading == 0.0; }},
        {"T N", true, heading_is(90)}, {"T w", true, heading_is(180)},
        {"T S", true, heading_is(-90)}, {"t e", true, heading_is(0)},
        {"J -30 40", true, [&] { return me().pos[0].x == -30.0 && me().pos[0].y == 40.0; }},
        {"g 5 -5", true, [&] { return me().pos[0].x == -25.0 && me().pos[0].y == 35.0; }},
        {"I 2", true, team_is(2)},
        {"C 5", true, [&] { return me().pos[0].x == 5.0 && me().team == 0; }},  // reset, step
        {"P D", true, pen_is(ST_PEN_DOWN, ST_PEN_DOWN)}, {"p -", true, pen_is(0, ST_PEN_DOWN)},
        {"P +", true, pen_is(ST_PEN_DOWN, ST_PEN_DOWN)},
        {"P x", true, pen_is(ST_PEN_DOWN, ST_PEN_DOWN)}, {"P u", true, pen_is(0, ST_PEN_DOWN)},
        {"L S", true, pen_is(ST_FILL_MODE, styles)}, {"L b", true, pen_is(ST_BRUSH_MODE, styles)},
        {"l P", true, pen_is(ST_POINT_MODE, styles)}, {"L +", true, pen_is(ST_FILL_MODE, styles)},
        {"L x", true, pen_is(0, styles)},
        {"K 0 0.5 1", true, [&] { return me().col[0].g == 0.5 && me().col[0].b == 1.0; }},
        {"W 3", true, [&] { return me().width[0] == 3.0; }},
        {"E 55", true, [&] { return me().frange == 55.0; }},
        {"N 41 42 43", true, [&] { return std::string(me().name) == "ABC"; }},
        {"S 4b656C70", true, [&] { return std::string(me().msg) == "Kelp"; }},
        {"S " + std::string(256, '6'), false, [&] { return std::string(me().msg) == "Kelp"; }},
        {"S " + std::string(254, '6'), true, [&] { return me().msg == std::string(127, 'f'); }},
        {"I 3", true, team_is(3)}, {"I 7", true, team_is(3)},
        {"U hello there", true, [] { return std::string(teams[3].msg) == "hello there"; }},
        {"C F", true, [&] { return !turtle_field_is_cleared && snapshot(zombie).status != 0; }},
        {"c a", true, [&] { return snapshot(zombie).status == 0; }},
        {"H 0.25 0.5 0.75", true, [] { return bgcol.r == 0.25 && bgcol.b == 0.75; }},
        {"!", true, [] { return battle_mode == 1; }}, {"! u", true, [] { return !battle_mode; }},
        {"D", true, [] { return count_turtles(ST_DOUGHNUT, ST_DOUGHNUT) == 1; }},
        {"R", true, [] { return count_turtles(~0u, ST_ALIVE | ST_SYSTEM) == 1; }},
        {".", true, [] { return true; }}, {"Z 1", false, [] { return true; }},
        {"#", false, [] { return true; }},
    };
    for (const auto &row : rows) {
        EXPECT_EQ(act(c, row.command), reply("", row.ok)) << row.command;
        EXPECT_TRUE(row.effect()) << row.command;
    }
}

TEST_F(Protocol, QueriesAndTheirPayloads) {
    elapsed_time = 1234;
    for (const char *command : {"J 12 -40.5", "T L 33.25", "I 4", "U tide is low"}) {
        ASSERT_EQ(act(c, command), reply("")) << command;
    }
    const std::pair<const char *, const char *> answers[] = {{"Q P", "12.000000 -40.500000"},
        {"q p", "12.000000 -40.500000"}, {"Q D", "33.250000"}, {"Q M", "4"}, {"Q A", "1"},
        {"Q S", "100"}, {"Q T", "1234"}, {"Q N", "1"}, {"Q B", "1234 tide is low"}};
    for (auto [query, payload] : answers) EXPECT_EQ(act(c, query), reply(payload)) << query;
    for (const char *query : {"Q Z", "QP", "Q", "Q R 9", "Q R 0"}) {
        EXPECT_EQ(act(c, query), reply("", false)) << query;
    }

    // A second turtle close by and in front: the sensors see it.
    TestClient other;
    ASSERT_EQ(other.ask("J 42 -40.5"), reply(""));
    ASSERT_EQ(act(c, "T E"), reply(""));
    EXPECT_EQ(act(c, "Q N"), reply("2"));
    int yn = 0, team = 0, left = 0, front = 0, right = 0;
    locked([&] { return qt_finder(tid, &yn, &team) + qt_sonar(tid, &left, &front, &right); });
    EXPECT_EQ(act(c, "Q F"), reply(std::to_string(yn) + " " + std::to_string(team)));
    EXPECT_EQ(act(c, "Q W"), reply(std::to_string(left) + " " + std::to_string(front) + " " +
                                  std::to_string(right)));
    // The radar's direction carries noise; only one other turtle, so the second target fails.
    for (auto [query, status] : {std::pair{"Q R", "OK"}, {"Q R 1", "OK"}, {"q r 2", "ERR"}}) {
        std::regex form(std::string(R"(-?\d+\.\d{6} -?\d+ )") + status + " @ 1234 0");
        EXPECT_TRUE(std::regex_match(act(c, query), form)) << query;
    }
}

TEST_F(Protocol, EventsAreReportedOnceAndMasked) {
    TestClient mate;
    for (TestClient *x : {&mate, &c}) ASSERT_EQ(x->ask("I 1"), reply(""));
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
    turtle_field_is_cleared = 1;
    auto state = [&] {
        turtle t = me();
        return std::tuple(t.pos[0].x, t.pos[0].y, t.heading, t.col[0].g, t.width[0], t.frange,
                          bgcol.r, turtle_field_is_cleared);
    };
    auto before = state();
    // No frame between them: a command that counted as world-changing would block the next.
    for (const char *command : {"F nan", "B inf", "T L 1e999", "t r -inf", "J nan 0", "G 0 inf",
                                "C inf", "C nan", "H nan 0 0", "K 0 inf 0", "W nan", "E inf"}) {
        EXPECT_EQ(c.ask(command), reply("", false)) << command;
    }
    EXPECT_EQ(state(), before);
    EXPECT_EQ(c.ask("F 1"), reply(""));
}

}  // namespace
