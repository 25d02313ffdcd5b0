// unit_commands.cpp: the command language without sockets: each command reaches its operation
// with its arguments, each query's payload format, events in the reply, refused numbers.
// (Splitting a client's bytes and pacing are the server's: net_server.cpp; the replies of
// docs/protocol.md's sessions are checked by clients_protocol_reference.)
#include "server/commands.h"
#include "support.h"

namespace {

// Client 0's reply to one command, without its line feed; *paced as the command left it.
std::string run(const std::string &command, bool *paced = nullptr, int tid = 0) {
    std::string line = execute_command(tid, tid, command.c_str(), paced);
    EXPECT_TRUE(!line.empty() && line.back() == '\n') << command;
    if (!line.empty()) line.pop_back();
    return line;
}

long count_turtles(uint32_t mask, uint32_t bits) {
    return std::count_if(ttl.begin(), ttl.end(),
                         [=](const turtle &t) { return (t.status & mask) == bits; });
}

}  // namespace

// In order, each command's status, then what it changed.
TEST(Commands, EveryCommandReachesItsOperation) {
    place(0, 0, 0);  // client 0's turtle at the centre, facing east
    place(1, 100, 100);
    make_zombie(1);
    turtle_field_is_cleared = 1;
    const turtle &me = ttl[0];
    auto heading = [&](double h) { return [&, h] { return me.heading == h; }; };
    auto team = [&](int n) { return [&, n] { return me.team == n; }; };
    auto bits = [&](uint32_t set, uint32_t mask) {
        return [&, set, mask] { return (me.status & mask) == set; };
    };
    auto masked = [&](bool off) { return [&, off] { return !(me.eventmask & 4) == off; }; };
    auto at = [&](double x, double y) { return [&, x, y] { return me.pos[0] == position{x, y}; }; };
    auto nothing = [] { return true; };
    const uint32_t pen = ST_PEN_DOWN, styles = ST_FILL_MODE | ST_BRUSH_MODE | ST_POINT_MODE;
    const struct {
        std::string command;
        bool ok;
        std::function<bool()> effect;
    } rows[] = {
        {"FORWARD 10", true, at(10, 0)},
        {"b 4", true, at(6, 0)},
        {"T L 90", true, heading(90)},
        {"t r 45", true, heading(45)},
        {"C H 7", true, [&] { return me.pos[0].x == 0.0 && me.heading == 0.0; }},
        {"T N", true, heading(90)},
        {"T w", true, heading(180)},
        {"T S", true, heading(-90)},
        {"t e", true, heading(0)},
        {"J -30 40", true, at(-30, 40)},
        {"g 5 -5", true, at(-25, 35)},
        {"I 2", true, team(2)},
        {"C 5", true, [&] { return me.pos[0].x == 5.0 && me.team == 0; }},  // reset, step
        {"P D", true, bits(pen, pen)},
        {"p -", true, bits(0, pen)},
        {"P +", true, bits(pen, pen)},
        {"P x", true, bits(pen, pen)},
        {"P u", true, bits(0, pen)},
        {"L S", true, bits(ST_FILL_MODE, styles)},
        {"L b", true, bits(ST_BRUSH_MODE, styles)},
        {"l P", true, bits(ST_POINT_MODE, styles)},
        {"L +", true, bits(ST_FILL_MODE, styles)},
        {"L x", true, bits(0, styles)},
        {"K 0 0.5 1", true, [&] { return me.col[0].g == 0.5 && me.col[0].b == 1.0; }},
        {"W 3", true, [&] { return me.width[0] == 3.0; }},
        {"E 55", true, [&] { return me.frange == 55.0; }},
        {"N 41 42 43", true, [&] { return std::string(me.name) == "ABC"; }},
        {"N 4", true, [&] { return std::string(me.name) == "@"; }},
        {"S 4b656C70", true, [&] { return std::string(me.msg) == "Kelp"; }},
        {"S " + std::string(256, '6'), false, [&] { return std::string(me.msg) == "Kelp"; }},
        {"S " + std::string(254, '6'), true, [&] { return me.msg == std::string(127, 'f'); }},
        {"Y - 4", true, masked(true)},
        {"Y x 4", true, masked(true)},
        {"y + 4", true, masked(false)},
        {"I 3", true, team(3)},
        {"I -4294967295", true, team(3)},  // no number wraps through its narrowing
        {"Y - 4294967300", true, masked(false)},
        {"Y - -4", true, masked(false)},
        {"U hello there", true, [] { return std::string(teams[3].msg) == "hello there"; }},
        {"C F", true, [&] { return !turtle_field_is_cleared && ttl[1].status != 0; }},
        {"c a", true, [&] { return ttl[1].status == 0; }},
        {"H 0.25 0.5 0.75", true, [] { return bgcol.r == 0.25 && bgcol.b == 0.75; }},
        {"!", true, [] { return battle_mode == 1; }},
        {"! u", true, [] { return !battle_mode; }},
        {"!", true, [] { return battle_mode == 1; }},
        {"! -", true, [] { return !battle_mode; }},
        {"D", true, [] { return count_turtles(ST_DOUGHNUT, ST_DOUGHNUT) == 1; }},
        {"R", true, [] { return count_turtles(~0u, ST_ALIVE | ST_SYSTEM) == 1; }},
        {".", true, nothing},
        {"Z 1", false, nothing},
        {"#", false, nothing},
        {"", false, nothing},
    };
    for (const auto &row : rows) {
        EXPECT_EQ(run(row.command), reply("", row.ok)) << row.command;
        EXPECT_TRUE(row.effect()) << row.command;
    }
}

// Every query row's payload, and events in the reply: read once, before the query is asked.
TEST(Commands, QueriesTheirPayloadsAndEvents) {
    elapsed_time = 1234;
    place(0, 12, -40.5, 33.25, 0, 4);
    ASSERT_EQ(run("U tide is low"), reply(""));
    const std::pair<const char *, const char *> answers[] = {{"Q P", "12.000000 -40.500000"},
                                                             {"q p", "12.000000 -40.500000"},
                                                             {"Q D", "33.250000"},
                                                             {"Q M", "4"},
                                                             {"Q T", "1234"},
                                                             {"Q B", "1234 tide is low"},
                                                             {"Q C", "0"}};
    for (auto [query, payload] : answers) EXPECT_EQ(run(query), reply(payload)) << query;
    for (const char *query : {"Q Z", "QP", "Q", "Q R 9", "Q R 0", "Q R -1", "Q R 4294967297",
                              "Q R 18446744073709551617"}) {
        EXPECT_EQ(run(query), reply("", false)) << query;
    }
    // A dead turtle's position is refused, and still carries the payload.
    ttl[0].status = 0;
    EXPECT_EQ(run("Q P"), reply("0.000000 0.000000", false));

    // A team mate 30 ahead: it is told of a message in its next reply, once (its Q B below has
    // the finder's event alone); the finder sees it
    // (a turtle of team 4), so does the sonar's front probe. The finder's own event bit is
    // cleared by the query, after the reply has read it.
    place(0, 12, -40.5, 0.0, 0, 4);
    place(1, 42, -40.5, 0.0, 0, 4);
    ASSERT_EQ(run("U high tide"), reply(""));
    EXPECT_EQ(run(".", nullptr, 1), reply("", true, EV_TEAM_MSG));
    EXPECT_EQ(run("Q N"), reply("2"));
    EXPECT_EQ(run("Q F"), reply("1 4"));
    EXPECT_EQ(run("Q W"), reply("0 1 0"));
    EXPECT_EQ(run("Q B", nullptr, 1), reply("1234 high tide", true, EV_FINDER));
    // The radar's direction carries noise; only one other turtle, so the second target fails.
    for (auto [query, status] : {std::pair{"Q R", "OK"}, {"Q R 1", "OK"}, {"q r 2", "ERR"}}) {
        const std::string r = run(query), tail = std::string(status) + " @ 1234 0";
        double dir = NAN;  // with six decimals, then a team number and the status
        int team = -1, end = 0;
        std::sscanf(r.c_str(), "%lf %d %n", &dir, &team, &end);
        EXPECT_TRUE(std::isfinite(dir) && team >= 0 && r.find('.') + 7 == r.find(' ') &&
                    r.substr(end) == tail)
            << query << ": " << r;
    }

    // Every query letter in the table has its payload checked: here, in FiringAndCoins, or in
    // docs/protocol.md's sessions (clients_protocol_reference).
    std::string asked;
    for (auto [query, payload] : answers) asked += query[2];
    asked += "RNFW";  // with the team mate
    asked += "SO";    // in FiringAndCoins
    asked += "AG";    // in the protocol reference
    for (const query_row &q : query_table()) {
        EXPECT_NE(asked.find(q.letter), std::string::npos) << "Q " << q.letter << " untested";
    }
}

// X fires once and costs a point; the O variants move coins between the bank, the floor and
// the turtle; Q O and Q C count what it holds and what lies within its reach.
TEST(Commands, FiringAndCoins) {
    place(0, 0, 0);
    const std::pair<const char *, std::string> steps[] = {
        {"X", reply("")},          {"x", reply("")},    {"Q S", reply("99")}, {"O", reply("")},
        {"O S", reply("", false)}, {"O B", reply("")},  {"O S", reply("")},   {"o s", reply("")},
        {"O +", reply("")},        {"Q O", reply("7")}, {"Q C", reply("3")},  {"o", reply("")},
        {"Q C", reply("2")},       {"Q O", reply("8")}, {"O X", reply("")},
    };
    for (const auto &[command, answer] : steps) EXPECT_EQ(run(command), answer) << command;
    EXPECT_EQ(stock_of_coin, NCOIN - 11);
    stock_of_coin = 0, ttl[0].score = 0;
    for (const char *refused : {"O X", "O B", "X"}) EXPECT_EQ(run(refused), reply("", false));
}

TEST(Commands, NonFiniteNumbersAreRefusedAndChangeNothing) {
    place(0, 0, 0);
    ASSERT_EQ(run("K 0.5 0.5 0.5"), reply(""));
    turtle_field_is_cleared = 1;
    auto state = [] {
        const turtle &t = ttl[0];
        return std::tuple(t.pos[0].x, t.pos[0].y, t.heading, t.col[0].g, t.width[0], t.frange,
                          bgcol.r, turtle_field_is_cleared);
    };
    const auto before = state();
    for (const char *command : {"F nan", "B inf", "T L 1e999", "t r -inf", "J nan 0", "G 0 inf",
                                "C inf", "C nan", "H nan 0 0", "K 0 inf 0", "W nan", "E inf"}) {
        bool paced = true;
        EXPECT_EQ(run(command, &paced), reply("", false)) << command;
        EXPECT_FALSE(paced) << command;  // refused before it could change anything
    }
    EXPECT_EQ(state(), before);
    EXPECT_EQ(run("F 1"), reply(""));
}
