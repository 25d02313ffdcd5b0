// cpp_client_test.cpp: the C++ client against the arena on KELPMOOR_PORT (tests/clients/arena.py
// starts one), and against small fake servers for failures a real arena does not produce.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <functional>
#include <thread>

#include "kelpmoor_client.h"

namespace {

using kelpmoor::Reply;
using kelpmoor::Turtle;
namespace cmd = kelpmoor::cmd;

constexpr double TIMEOUT_S = 20.0;

// A connection whose turtle is alone at the centre. An earlier test's turtle becomes a zombie,
// which C A removes, only once the server has seen its connection close: clear until then.
Turtle fresh() {
    Turtle t = Turtle::connect("127.0.0.1", 0, TIMEOUT_S);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (t.clear_all().ok && t.turtles() != 1 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    t.home();
    return t;
}

// Accepts one connection on a free port and runs script(fd) in a thread.
class FakeServer {
public:
    explicit FakeServer(std::function<void(int)> script) {
        listener_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        bind(listener_, reinterpret_cast<sockaddr *>(&a), sizeof a);
        listen(listener_, 1);
        getsockname(listener_, reinterpret_cast<sockaddr *>(&a), &len);
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this, script] {
            int fd = accept(listener_, nullptr, nullptr);
            script(fd);
            ::close(fd);
        });
    }
    ~FakeServer() {
        thread_.join();
        ::close(listener_);
    }
    int port() const { return port_; }

private:
    int listener_ = -1;
    int port_ = 0;
    std::thread thread_;
};

void send_text(int fd, const char *text) { ::send(fd, text, strlen(text), MSG_NOSIGNAL); }

TEST(AgainstArena, EveryCommandAndQuery) {
    Turtle t = fresh();
    auto p = t.position();
    EXPECT_EQ(p.x, 0.0);
    EXPECT_EQ(p.y, 0.0);
    std::vector<std::function<Reply()>> commands = {
        [&] { return t.forward(10); },
        [&] { return t.back(5); },
        [&] { return t.left(90); },
        [&] { return t.right(45); },
        [&] { return t.head('n'); },
        [&] { return t.jump(-20, 30); },
        [&] { return t.jump_by(5, 5); },
        [&] { return t.pen_down(); },
        [&] { return t.color(0, 0.5, 1); },
        [&] { return t.width(2); },
        [&] { return t.line_style("brush"); },
        [&] { return t.print_text("Hi \xc3\xbc"); },
        [&] { return t.name("spiral;bot"); },
        [&] { return t.line_style("line"); },
        [&] { return t.pen_up(); },
        [&] { return t.join_team(2); },
        [&] { return t.post("hello board"); },
        [&] { return t.enable_events(0xFFFF); },
        [&] { return t.disable_events(kelpmoor::SEEN_BY_RADAR); },
        [&] { return t.finder_range(50); },
        [&] { return t.noop(); },
        [&] { return t.borrow_coins(); },
        [&] { return t.drop_coin(); },
        [&] { return t.pick_coin(); },
        [&] { return t.clear_floor(); },
        [&] { return t.reset(); },
        [&] { return t.home(); },
        [&] { return t.floor_color(0.1, 0.1, 0.2); },
    };
    for (std::size_t i = 0; i < commands.size(); i++) {
        Reply r = commands[i]();
        EXPECT_TRUE(r.ok) << "command " << i;
        EXPECT_EQ(r.payload, "");
    }
    EXPECT_EQ(t.heading(), 0.0);
    EXPECT_EQ(t.team(), 0);
    auto f = t.finder();
    EXPECT_EQ(f.kind, kelpmoor::NOTHING);
    auto radar = t.radar(5);
    EXPECT_EQ(radar.found, t.last().ok);
    t.sonar();
    EXPECT_TRUE(t.alive());
    EXPECT_EQ(t.score(), 100);
    EXPECT_GT(t.tick(), 0u);
    EXPECT_GE(t.turtles(), 1);
    EXPECT_GE(t.coins_near(), 0);
    EXPECT_EQ(t.coins_held(), 0);
    t.board();
    EXPECT_TRUE(t.print_text(std::string(127, 'x')).ok);
    EXPECT_THROW(t.print_text(std::string(128, 'x')), kelpmoor::FramingError);
}

TEST(AgainstArena, TeamMessagesAndEvents) {
    Turtle t = fresh();
    Turtle other = Turtle::connect("127.0.0.1", 0, TIMEOUT_S);
    t.join_team(2);
    other.join_team(2);
    t.post("meet at 0 0");
    EXPECT_EQ(other.board().text, "meet at 0 0");
    EXPECT_TRUE(other.last().events.team_message());
    EXPECT_TRUE(other.take_events().team_message());
    EXPECT_EQ(other.take_events().bits, 0u);
    t.head('E');
    other.jump(30, 0);
    Reply r = t.forward(15);
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
    auto replies = t.pipeline(commands);
    ASSERT_EQ(replies.size(), commands.size());
    EXPECT_EQ(kelpmoor::as_long(replies[1]), 3);
    EXPECT_FALSE(replies[2].ok);
    for (int i = 0; i < 150; i++) {
        EXPECT_EQ(kelpmoor::as_double(replies[4 + 2 * i]), i + 1.0) << "heading " << i;
    }
}

TEST(AgainstArena, TextThatBreaksFramingIsNeverSent) {
    Turtle t = fresh();
    EXPECT_THROW(t.post("a;b"), kelpmoor::FramingError);
    EXPECT_THROW(t.post("a\nb"), kelpmoor::FramingError);
    EXPECT_THROW(t.post("caf\xc3\xa9"), kelpmoor::FramingError);
    EXPECT_THROW(t.send("F 1;F 2"), kelpmoor::FramingError);
    EXPECT_THROW(t.send("Q P\n"), kelpmoor::FramingError);
    EXPECT_THROW(t.send("U " + std::string(510, 'x')), kelpmoor::FramingError);
    EXPECT_THROW(t.name(std::string("a\0b", 3)), kelpmoor::FramingError);
    EXPECT_THROW(t.forward(INFINITY), kelpmoor::FramingError);
    EXPECT_THROW(t.pipeline({cmd::noop(), "F 1;F 2"}), kelpmoor::FramingError);
    EXPECT_EQ(t.team(), 0);  // still in step
}

// Last of the arena's tests: the robot it spawns wanders for the rest of the run.
TEST(AgainstArena, BattleCoinsAndSpawns) {
    Turtle t = fresh();
    EXPECT_TRUE(t.battle_mode(true).ok);
    EXPECT_TRUE(t.fire().ok);
    EXPECT_EQ(t.score(), 99);
    EXPECT_FALSE(t.jump(0, 0).ok);
    EXPECT_TRUE(t.battle_mode(false).ok);
    EXPECT_TRUE(t.scatter_coin().ok);
    EXPECT_TRUE(t.doughnut().ok);
    EXPECT_TRUE(t.robot().ok);
}

TEST(AgainstFakeServers, ServerClosingMidReplyThrowsAtOnce) {
    FakeServer server([](int fd) {
        char buf[256];
        recv(fd, buf, sizeof buf, 0);
        send_text(fd, "OK @ 1 0\n12.5 -3");
    });
    Turtle t = Turtle::connect("127.0.0.1", server.port(), 30);
    auto start = std::chrono::steady_clock::now();
    try {
        t.pipeline({cmd::noop(), cmd::query('P'), cmd::query('P')});
        FAIL() << "no error";
    } catch (const kelpmoor::ConnectionClosed &e) {
        EXPECT_NE(std::string(e.what()).find("2 replies awaited (one cut short)"),
                  std::string::npos)
            << e.what();
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_THROW(t.noop(), kelpmoor::ConnectionClosed);
}

TEST(AgainstFakeServers, SilentServerTimesOutAndGarbageIsAProtocolError) {
    {
        FakeServer server([](int) { std::this_thread::sleep_for(std::chrono::milliseconds(600)); });
        Turtle t = Turtle::connect("127.0.0.1", server.port(), 0.3);
        EXPECT_THROW(t.position(), kelpmoor::ReplyTimeout);
    }
    FakeServer server([](int fd) {
        char buf[256];
        recv(fd, buf, sizeof buf, 0);
        send_text(fd, "hello\n");
    });
    Turtle t = Turtle::connect("127.0.0.1", server.port(), 5);
    EXPECT_THROW(t.noop(), kelpmoor::ProtocolError);
}

TEST(Parsing, ReplyLines) {
    Reply r = kelpmoor::parse_reply("12.000000 -40.500000 OK @ 1500 258");
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.tick, 1500u);
    EXPECT_EQ(kelpmoor::as_position(r).y, -40.5);
    EXPECT_EQ(r.events.names(), (std::vector<std::string>{"bumped_turtle", "team_message"}));
    auto b = kelpmoor::as_board(kelpmoor::parse_reply("7 OK went @ home OK @ 9 0"));
    EXPECT_EQ(b.tick, 7u);
    EXPECT_EQ(b.text, "OK went @ home");
    EXPECT_EQ(kelpmoor::as_board(kelpmoor::parse_reply("0  OK @ 9 0")).text, "");
    auto radar = kelpmoor::as_radar(kelpmoor::parse_reply("-3.500000 0 ERR @ 2 0"));
    EXPECT_FALSE(radar.found);
    EXPECT_EQ(radar.direction, -3.5);
    EXPECT_THROW(kelpmoor::parse_reply("OK @ 1"), kelpmoor::ProtocolError);
    EXPECT_THROW(kelpmoor::parse_reply("MAYBE @ 1 2"), kelpmoor::ProtocolError);
    EXPECT_THROW(kelpmoor::as_position(kelpmoor::parse_reply("OK @ 1 2")), kelpmoor::ProtocolError);
}

}  // namespace
