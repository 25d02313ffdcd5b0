// cpp_client_test.cpp: the C++ client against the arena on KELPMOOR_PORT (tests/clients/arena.py
// starts one), and against small fake servers for failures a real arena does not produce.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <sstream>
#include <thread>

#include "kelpmoor_client.h"

namespace {

using kelpmoor::FramingError;
using kelpmoor::ProtocolError;
using kelpmoor::Reply;
using kelpmoor::Turtle;
namespace cmd = kelpmoor::cmd;
using namespace std::chrono_literals;

// A connection whose turtle is alone at the centre. An earlier test's turtle becomes a zombie,
// which C A removes, only once the server has seen its connection close: clear until then.
Turtle fresh() {
    Turtle t = Turtle::connect("127.0.0.1", 0, 20.0);
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (t.clear_all().ok && t.turtles() != 1 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(50ms);
    }
    t.home();
    return t;
}

// Accepts one connection on a free port, reads one receive, then sends `answer` (after
// `delay`) and closes.
class FakeServer {
public:
    FakeServer(std::string answer, std::chrono::milliseconds delay = 0ms) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        bind(listener_, reinterpret_cast<sockaddr *>(&a), sizeof a);
        listen(listener_, 1);
        getsockname(listener_, reinterpret_cast<sockaddr *>(&a), &len);
        port = ntohs(a.sin_port);
        thread_ = std::thread([this, answer, delay] {
            const int fd = accept(listener_, nullptr, nullptr);
            std::this_thread::sleep_for(delay);
            char buf[256];
            if (!answer.empty() && recv(fd, buf, sizeof buf, 0) > 0) {
                send(fd, answer.data(), answer.size(), MSG_NOSIGNAL);
            }
            ::close(fd);
        });
    }
    ~FakeServer() {
        thread_.join();
        ::close(listener_);
    }
    int port = 0;

private:
    int listener_ = socket(AF_INET, SOCK_STREAM, 0);
    std::thread thread_;
};

TEST(AgainstArena, EveryCommandAndQuery) {
    Turtle t = fresh();
    EXPECT_TRUE(t.position().x == 0.0 && t.position().y == 0.0);
    // A braced list runs its calls in order.
    // clang-format off
    const Reply replies[] = {
        t.forward(10), t.back(5), t.left(90), t.right(45), t.head('n'), t.jump(-20, 30),
        t.jump_by(5, 5), t.pen_down(), t.color(0, 0.5, 1), t.width(2), t.line_style("brush"),
        t.print_text("Hi \xc3\xbc"), t.name("spiral;bot"), t.line_style("line"), t.pen_up(),
        t.join_team(2), t.post("hello board"), t.enable_events(0xFFFF),
        t.disable_events(kelpmoor::SEEN_BY_RADAR), t.finder_range(50), t.noop(),
        t.borrow_coins(), t.drop_coin(), t.pick_coin(), t.clear_floor(), t.reset(), t.home(),
        t.floor_color(0.1, 0.1, 0.2)};
    // clang-format on
    for (const Reply &r : replies) EXPECT_TRUE(r.ok && r.payload.empty()) << &r - replies;
    EXPECT_TRUE(t.heading() == 0.0 && t.team() == 0 && t.finder().kind == kelpmoor::NOTHING);
    EXPECT_EQ(t.radar(5).found, t.last().ok);
    t.sonar();
    t.board();
    EXPECT_TRUE(t.alive() && t.score() == 100 && t.tick() > 0u && t.turtles() >= 1);
    EXPECT_TRUE(t.coins_near() >= 0 && t.coins_held() == 0);
    EXPECT_TRUE(t.print_text(std::string(127, 'x')).ok);
    EXPECT_THROW(t.print_text(std::string(128, 'x')), FramingError);
}

TEST(AgainstArena, TeamMessagesAndEvents) {
    Turtle t = fresh();
    Turtle other = Turtle::connect("127.0.0.1", 0, 20.0);
    t.join_team(2);
    other.join_team(2);
    t.post("meet at 0 0");
    EXPECT_EQ(other.board().text, "meet at 0 0");
    EXPECT_TRUE(other.last().events.team_message());
    EXPECT_TRUE(other.take_events().team_message());
    EXPECT_EQ(other.take_events().bits, 0u);
    t.head('E');
    other.jump(30, 0);
    const Reply r = t.forward(15);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.events.names(), std::vector<std::string>{"bumped_turtle"});
}

TEST(AgainstArena, PipelinedRepliesComeInOrder) {
    Turtle t = fresh();
    std::vector<std::string> commands = {cmd::join_team(3), cmd::query('M'), "Q Z"};
    for (int i = 0; i < 150; i++) {
        commands.push_back(cmd::left(1));
        commands.push_back(cmd::query('D'));
    }
    const auto replies = t.pipeline(commands);
    ASSERT_EQ(replies.size(), commands.size());
    EXPECT_EQ(kelpmoor::as_long(replies[1]), 3);
    EXPECT_FALSE(replies[2].ok);
    for (int i = 0; i < 150; i++) {
        EXPECT_EQ(kelpmoor::as_double(replies[4 + 2 * i]), i + 1.0) << "heading " << i;
    }
}

// Beyond the misuse table: misuses on a live connection leave it in step.
TEST(AgainstArena, TextThatBreaksFramingIsNeverSent) {
    Turtle t = fresh();
    EXPECT_THROW(t.send("Q P\n"), FramingError);
    EXPECT_THROW(t.send("U " + std::string(510, 'x')), FramingError);
    EXPECT_THROW(t.name(std::string("a\0b", 3)), FramingError);
    EXPECT_THROW(t.pipeline({cmd::noop(), "F 1;F 2"}), FramingError);
    EXPECT_EQ(t.team(), 0);  // still in step
}

// Last of the arena's tests: the robot it spawns wanders for the rest of the run.
TEST(AgainstArena, BattleCoinsAndSpawns) {
    Turtle t = fresh();
    EXPECT_TRUE(t.battle_mode(true).ok && t.fire().ok);
    EXPECT_EQ(t.score(), 99);
    EXPECT_FALSE(t.jump(0, 0).ok);
    EXPECT_TRUE(t.battle_mode(false).ok && t.scatter_coin().ok && t.doughnut().ok);
    EXPECT_TRUE(t.robot().ok);
}

// A server that closes mid-reply ends the wait at once; a silent one times out; garbage is a
// protocol error.
TEST(AgainstFakeServers, ClosedSilentAndGarbage) {
    {
        FakeServer server("OK @ 1 0\n12.5 -3");
        Turtle t = Turtle::connect("127.0.0.1", server.port, 30);
        const auto start = std::chrono::steady_clock::now();
        try {
            t.pipeline({cmd::noop(), cmd::query('P'), cmd::query('P')});
            ADD_FAILURE() << "no error";
        } catch (const kelpmoor::ConnectionClosed &e) {
            EXPECT_NE(std::string(e.what()).find("2 replies awaited (one cut short)"),
                      std::string::npos)
                << e.what();
        }
        EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
        EXPECT_THROW(t.noop(), kelpmoor::ConnectionClosed);
    }
    {
        FakeServer server("", 600ms);
        Turtle t = Turtle::connect("127.0.0.1", server.port, 0.3);
        EXPECT_THROW(t.position(), kelpmoor::ReplyTimeout);
    }
    FakeServer server("hello\n");
    Turtle t = Turtle::connect("127.0.0.1", server.port, 5);
    EXPECT_THROW(t.noop(), ProtocolError);
}

// One argument of a line of the misuse table: a number or a text.
struct Arg {
    double num = 0;
    std::string text;
};

std::vector<Arg> table_args(const std::string &field) {
    std::vector<Arg> out;
    static const std::regex token(R"re("((?:[^"\\]|\\.)*)"|(\S+))re");
    static const std::regex repeat(R"(\{(\d+)\*(.)\})");
    for (std::sregex_iterator m(field.begin(), field.end(), token), end; m != end; ++m) {
        Arg a;
        if ((*m)[2].matched) {
            a.num = std::strtod((*m)[2].str().c_str(), nullptr);
        } else {
            std::string t = (*m)[1].str(), expanded;
            std::smatch r;
            while (std::regex_search(t, r, repeat)) {
                expanded += r.prefix().str() + std::string(std::stoul(r[1].str()), r[2].str()[0]);
                t = r.suffix().str();
            }
            a.text = std::regex_replace(expanded + t, std::regex(R"(\\n)"), "\n");
        }
        out.push_back(a);
    }
    return out;
}

std::string kind_of(const std::exception &e) {
    if (dynamic_cast<const FramingError *>(&e)) return "FramingError";
    if (dynamic_cast<const kelpmoor::ArgumentError *>(&e)) return "ArgumentError";
    if (dynamic_cast<const kelpmoor::ConnectionClosed *>(&e)) return "ConnectionClosed";
    return "something else";
}

// The table of misuses shared by the three libraries (misuses.txt): each throws its kind of
// error with its message.
TEST(Misuses, TheSharedTable) {
    using V = const std::vector<Arg> &;
    const std::map<std::string, std::function<void(V)>> methods = {
        {"head", [](V a) { cmd::head(a[0].text); }},
        {"line_style", [](V a) { cmd::line_style(a[0].text); }},
        {"radar", [](V a) { cmd::radar(static_cast<int>(a[0].num)); }},
        {"color", [](V a) { cmd::color(a[0].num, a[1].num, a[2].num); }},
        {"floor_color", [](V a) { cmd::floor_color(a[0].num, a[1].num, a[2].num); }},
        {"join_team", [](V a) { cmd::join_team(static_cast<int>(a[0].num)); }},
        {"forward", [](V a) { cmd::forward(a[0].num); }},
        {"jump", [](V a) { cmd::jump(a[0].num, a[1].num); }},
        {"post", [](V a) { cmd::post(a[0].text); }},
        {"print_text", [](V a) { cmd::print_text(a[0].text); }},
        {"name", [](V a) { cmd::name(a[0].text); }},
        {"send", [](V a) { cmd::check(a[0].text); }},
        {"noop",
         [](V) {
             FakeServer closing("");
             Turtle::connect("127.0.0.1", closing.port, 10).noop();
         }},
    };
    std::ifstream table(MISUSES_TABLE);
    ASSERT_TRUE(table.good()) << MISUSES_TABLE;
    int rows = 0;
    for (std::string line; std::getline(table, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> f;
        std::stringstream fields(line);
        for (std::string x; std::getline(fields, x, '|');) {
            f.push_back(std::regex_replace(x, std::regex("^ +| +$"), ""));
        }
        ASSERT_EQ(f.size(), 5u) << line;
        ASSERT_EQ(methods.count(f[1]), 1u) << "no such method: " << f[1];
        rows++;
        try {
            methods.at(f[1])(table_args(f[2]));
            ADD_FAILURE() << line << ": nothing thrown";
        } catch (const kelpmoor::Error &e) {
            EXPECT_EQ(kind_of(e), f[3]) << line;
            EXPECT_NE(std::string(e.what()).find(f[4]), std::string::npos)
                << line << ": " << e.what();
        }
    }
    EXPECT_GT(rows, 0);
}

// Texts are UTF-8 here and Latin-1 on the wire, both ways.
TEST(Parsing, Latin1Text) {
    EXPECT_EQ(cmd::name("Zo\u00eb"), "N 5a6feb");
    EXPECT_EQ(cmd::print_text("Jos\u00e9 \u65e5"), "S 4a6f73e9203f");  // outside Latin-1: '?'
    EXPECT_EQ(cmd::name("Zo\xeb"), "N 5a6feb");  // not UTF-8: a Latin-1 byte already
    EXPECT_EQ(cmd::post("Zo\u00eb"), "U Zo?");   // the server keeps printable ASCII only
    EXPECT_EQ(kelpmoor::as_board(kelpmoor::parse_reply("5 Zo\xeb OK @ 9 0")).text, "Zo\u00eb");
}

TEST(Parsing, ReplyLines) {
    const Reply r = kelpmoor::parse_reply("12.000000 -40.500000 OK @ 1500 258");
    EXPECT_TRUE(r.ok && r.tick == 1500u && kelpmoor::as_position(r).y == -40.5);
    EXPECT_EQ(r.events.names(), (std::vector<std::string>{"bumped_turtle", "team_message"}));
    const auto b = kelpmoor::as_board(kelpmoor::parse_reply("7 OK went @ home OK @ 9 0"));
    EXPECT_TRUE(b.tick == 7u && b.text == "OK went @ home");
    EXPECT_EQ(kelpmoor::as_board(kelpmoor::parse_reply("0  OK @ 9 0")).text, "");
    const auto radar = kelpmoor::as_radar(kelpmoor::parse_reply("-3.500000 0 ERR @ 2 0"));
    EXPECT_TRUE(!radar.found && radar.direction == -3.5);
    EXPECT_THROW(kelpmoor::parse_reply("OK @ 1"), ProtocolError);
    EXPECT_THROW(kelpmoor::parse_reply("MAYBE @ 1 2"), ProtocolError);
    EXPECT_THROW(kelpmoor::as_position(kelpmoor::parse_reply("OK @ 1 2")), ProtocolError);
}

}  // namespace
