// net_server.cpp: the command server, started in the test process and driven through real
// sockets, with a frame stand-in for the missing window. Its connections: pacing against
// frames, the client limit, private mode, zombies and disconnection marks, over-long commands
// and a client that never reads its replies. Its language: splitting, every command and query,
// hex texts, events, refused numbers.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <thread>

#include "support.h"
#include "server/tcpserver.h"

namespace {

constexpr int NET_TIMEOUT_MS = 3000;  // longest wait for something that must happen
constexpr int NET_QUIET_MS = 30;      // how long "nothing arrives" is watched

// What a frame does to the server: take the lock, reset every nup, release, wake the server.
void frame() {
    rendering_started();
    rendering_is_done();
}

// Polls until done() holds, drawing frames as the window would; false after NET_TIMEOUT_MS.
template <typename Pred>
bool eventually(Pred done) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(NET_TIMEOUT_MS);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        frame();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

class TestClient {
public:
    // Connects from the local address `from` when given; receive_buffer > 0 sets SO_RCVBUF
    // before connecting, so the window is small from the start.
    explicit TestClient(const char *from = nullptr, int receive_buffer = 0) {
        if (receive_buffer > 0) {
            setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receive_buffer, sizeof receive_buffer);
        }
        sockaddr_in a{};
        a.sin_family = AF_INET;
        if (from != nullptr) {
            inet_pton(AF_INET, from, &a.sin_addr);
            ::bind(fd_, reinterpret_cast<sockaddr *>(&a), sizeof a);
        }
        a.sin_port = htons(static_cast<uint16_t>(tcp_server_port()));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::connect(fd_, reinterpret_cast<sockaddr *>(&a), sizeof a);
    }
    TestClient(const TestClient &) = delete;
    TestClient &operator=(const TestClient &) = delete;
    ~TestClient() { ::close(fd_); }

    void send(std::string_view text) { ::send(fd_, text.data(), text.size(), MSG_NOSIGNAL); }
    // The next reply line without its line feed, or nothing when the server falls silent.
    std::optional<std::string> line() {
        while (pending_.find('\n') == std::string::npos) {
            if (fill(NET_TIMEOUT_MS) <= 0) return {};
        }
        std::string l = pending_.substr(0, pending_.find('\n'));
        pending_.erase(0, l.size() + 1);
        return l;
    }
    // One command and its reply.
    std::string ask(std::string_view command) {
        send(std::string(command) + "\n");
        return line().value_or("<no reply>");
    }
    // True when no byte arrives within NET_QUIET_MS and the connection stays open.
    bool quiet() { return pending_.empty() && fill(NET_QUIET_MS) < 0; }
    // True when the server closes the connection (after any replies still in flight).
    bool closed_by_server() { return eventually([&] { return fill(10) == 0; }); }

private:
    // Bytes read within timeout_ms; 0 when the connection was closed, -1 when nothing came.
    ssize_t fill(int timeout_ms) {
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, timeout_ms) <= 0) return -1;
        char buf[4096];
        ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        if (n <= 0) return 0;
        pending_.append(buf, static_cast<size_t>(n));
        return n;
    }

    int fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    std::string pending_;
};

// The server's log since CaptureStderr() holds every one of the lines. The server thread logs
// an accepted, refused or closed connection before the client or the tests can see the effect.
void expect_logged(std::initializer_list<const char *> lines) {
    const std::string log = testing::internal::GetCapturedStderr();
    for (const char *l : lines) EXPECT_NE(log.find(l), std::string::npos) << l << " in:\n" << log;
}

// f() under the lock, as a frame or a key action would run it.
template <typename F>
auto locked(F f) {
    std::lock_guard lock(frame_rendering_mutex);
    return f();
}
int clients() { return locked([] { return nclient; }); }
int turtle_of(int cl) { return locked([cl] { return client_tab[cl].tid; }); }  // -1: free
turtle snapshot(int tid) { return locked([tid] { return ttl[tid]; }); }
bool wait_clients(int n) { return eventually([n] { return clients() == n; }); }

// Starts the server once per process on a free port. The world is fresh before any client
// member of a derived fixture connects, and the test ends when the server has let its clients go.
class NetTest : public ::testing::Test {
protected:
    ~NetTest() override { EXPECT_TRUE(wait_clients(0)); }
    static void SetUpTestSuite() {  // before any client member of a fixture connects
        static const bool started = (start_tcp_server(0), true);
        (void)started;
    }
    void SetUp() override { ASSERT_GT(tcp_server_port(), 0); }
};

// The reply line the server must send for a payload (empty for none) at the current tick.
std::string reply(const std::string &payload, bool ok = true, unsigned events = 0) {
    return payload + (payload.empty() ? "" : " ") + (ok ? "OK @ " : "ERR @ ") +
           std::to_string(elapsed_time.load()) + " " + std::to_string(events);
}

using Connections = NetTest;

// World-changing commands are paced by frames; an over-long command is refused once and the
// client stays.
TEST_F(Connections, PacingByFramesAndOverLongCommands) {
    TestClient c;
    ASSERT_EQ(c.ask("J 0 0"), reply(""));
    TestClient other;  // spawned after the jump, so it cannot stand in the way of it
    ASSERT_EQ(other.ask("J 100 100"), reply(""));
    frame();
    const int tid = turtle_of(0);
    ASSERT_EQ(c.ask("T E"), reply(""));

    // A move in a later segment than the turn waits for the frame, even behind the other
    // client's queries. (Commands of one segment all run at once: see the splitting test.)
    c.send("F 1\n");
    EXPECT_EQ(other.ask("Q T"), reply("0"));
    EXPECT_TRUE(c.quiet() && snapshot(tid).pos[0].x == 0.0);
    frame();
    EXPECT_EQ(c.line(), reply(""));
    EXPECT_EQ(snapshot(tid).pos[0].x, 1.0);

    // Queries alone are served on every pass without any frame, but never during one.
    frame();
    for (int i = 0; i < 200; i++) ASSERT_EQ(c.ask("Q T"), reply("0")) << i;
    rendering_started();
    c.send("Q T\n");
    bool quiet_during_frame = c.quiet();
    rendering_is_done();
    EXPECT_TRUE(quiet_during_frame);
    EXPECT_EQ(c.line(), reply("0"));

    // An over-long command is refused once and the client stays: 511 characters still make
    // one command; 512 do not.
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

// The client limit, a leaving client's zombie, and clients closed by marks and by kill-all.
TEST_F(Connections, ClientsAreRefusedAndClosed) {
    testing::internal::CaptureStderr();
    std::vector<std::unique_ptr<TestClient>> cs;
    for (int i = 0; i < MAX_CLIENT; i++) {
        cs.push_back(std::make_unique<TestClient>());
        ASSERT_EQ(cs.back()->ask("."), reply(""));
    }
    TestClient eleventh;
    EXPECT_TRUE(eleventh.closed_by_server());
    EXPECT_EQ(clients(), MAX_CLIENT);

    const int tid = turtle_of(3);
    cs[3].reset();
    ASSERT_TRUE(wait_clients(MAX_CLIENT - 1));
    expect_logged({"handling client from 127.0.0.1 ", "accept_connection(): reaches MAX_CLIENT\n",
                   "closing connection from 127.0.0.1 "});
    EXPECT_TRUE(snapshot(tid).status == (ST_ALIVE | ST_ZOMBIE) && turtle_of(3) == -1);
    TestClient late;  // takes the lowest free slot, with a turtle of its own
    EXPECT_EQ(late.ask("."), reply(""));
    EXPECT_TRUE(snapshot(turtle_of(3)).cid == 3 && turtle_of(3) != tid);

    // A mark for a turtle the client no longer drives does nothing; a dying turtle's mark
    // closes its client at the next pass and leaves the turtle alone.
    const int t0 = turtle_of(0), t1 = turtle_of(1);
    locked([&] { disconnect_client_for(t1, 0); });
    EXPECT_EQ(cs[0]->ask("."), reply(""));
    locked([&] { disconnect_client_for(t0, 0); });
    EXPECT_TRUE(cs[0]->closed_by_server() && snapshot(t0).status == ST_ALIVE);

    // Kill-all empties the table and closes every remaining client.
    locked(field_kill_all_turtles);
    EXPECT_TRUE(wait_clients(0) && snapshot(t1).status == 0u);
}

// Private mode serves only the local host; a full turtle table refuses robots and new clients.
TEST_F(Connections, PrivateModeAndAFullTurtleTableRefuseClients) {
    testing::internal::CaptureStderr();
    TestClient outsider("127.0.0.2");
    EXPECT_TRUE(outsider.closed_by_server());
    expect_logged({"accept_connection(): reject connection from 127.0.0.2 "});
    EXPECT_EQ(clients(), 0);

    locked(field_toggle_private_mode);
    TestClient welcome("127.0.0.2");
    EXPECT_EQ(welcome.ask("."), reply(""));
    locked(field_toggle_private_mode);

    for (int i = 1; i < NTURTLE; i++) ASSERT_EQ(welcome.ask("R"), reply("")) << i;
    EXPECT_EQ(welcome.ask("R"), reply("", false));
    TestClient late;
    EXPECT_TRUE(late.closed_by_server());
    EXPECT_EQ(clients(), 1);
}

TEST_F(Connections, ClientThatNeverReadsIsDroppedWithoutStoppingTheField) {
    TestClient mover;
    ASSERT_EQ(mover.ask("."), reply(""));
    TestClient flooder(nullptr, 4096);  // a small window backs the server's output up sooner
    ASSERT_EQ(flooder.ask("."), reply(""));
    const int flooder_tid = turtle_of(1);

    std::string burst;
    for (int i = 0; i < 100; i++) burst += "Q P\n";
    for (int rounds = 0; turtle_of(1) == flooder_tid; rounds++) {
        ASSERT_LT(rounds, 20000) << "the flooder was never dropped";
        flooder.send(burst);  // lost once the server has closed it
        frame();
        ASSERT_EQ(mover.ask("T L 1"), reply("")) << "round " << rounds;
    }
    EXPECT_EQ(clients(), 1);
    EXPECT_EQ(snapshot(flooder_tid).status, ST_ALIVE | ST_ZOMBIE);
    frame();
    EXPECT_EQ(mover.ask("T L 1"), reply(""));
}

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

// A client whose turtle stands at the centre facing east, in a fresh frame.
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
    EXPECT_TRUE(std::fabs(me().pos[0].x - 10) < 1e-9 && std::fabs(me().pos[0].y - 10) < 1e-9);

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
    auto heading = [&](double h) { return [&, h] { return me().heading == h; }; };
    auto team = [&](int n) { return [&, n] { return me().team == n; }; };
    auto bits = [&](uint32_t set, uint32_t mask) {
        return [&, set, mask] { return (me().status & mask) == set; };
    };
    auto masked = [&](bool off) { return [&, off] { return !(me().eventmask & 4) == off; }; };
    auto at = [&](double x, double y) {
        return [&, x, y] { return me().pos[0] == position{x, y}; };
    };
    auto nothing = [] { return true; };
    const uint32_t pen = ST_PEN_DOWN, styles = ST_FILL_MODE | ST_BRUSH_MODE | ST_POINT_MODE;
    const struct {
        std::string command;
        bool ok;
        std::function<bool()> effect;
    } rows[] = {
        {"FORWARD 10", true, at(10, 0)}, {"b 4", true, at(6, 0)}, {"T L 90", true, heading(90)},
        {"t r 45", true, heading(45)}, {"TL 90", false, heading(45)},
        {"T X 90", false, heading(45)},
        {"C H 7", true, [&] { return me().pos[0].x == 0.0 && me().heading == 0.0; }},
        {"T N", true, heading(90)}, {"T w", true, heading(180)}, {"T S", true, heading(-90)},
        {"t e", true, heading(0)}, {"J -30 40", true, at(-30, 40)}, {"g 5 -5", true, at(-25, 35)},
        {"I 2", true, team(2)},
        {"C 5", true, [&] { return me().pos[0].x == 5.0 && me().team == 0; }},  // reset, step
        {"P D", true, bits(pen, pen)}, {"p -", true, bits(0, pen)}, {"P +", true, bits(pen, pen)},
        {"P x", true, bits(pen, pen)}, {"P u", true, bits(0, pen)},
        {"L S", true, bits(ST_FILL_MODE, styles)}, {"L b", true, bits(ST_BRUSH_MODE, styles)},
        {"l P", true, bits(ST_POINT_MODE, styles)}, {"L +", true, bits(ST_FILL_MODE, styles)},
        {"L x", true, bits(0, styles)},
        {"K 0 0.5 1", true, [&] { return me().col[0].g == 0.5 && me().col[0].b == 1.0; }},
        {"W 3", true, [&] { return me().width[0] == 3.0; }},
        {"E 55", true, [&] { return me().frange == 55.0; }},
        {"N 41 42 43", true, [&] { return std::string(me().name) == "ABC"; }},
        {"S 4b656C70", true, [&] { return std::string(me().msg) == "Kelp"; }},
        {"S " + std::string(256, '6'), false, [&] { return std::string(me().msg) == "Kelp"; }},
        {"S " + std::string(254, '6'), true, [&] { return me().msg == std::string(127, 'f'); }},
        {"Y - 4", true, masked(true)}, {"Y x 4", true, masked(true)},
        {"y + 4", true, masked(false)},
        {"I 3", true, team(3)}, {"I 7", true, team(3)},
        {"U hello there", true, [] { return std::string(teams[3].msg) == "hello there"; }},
        {"C F", true, [&] { return !turtle_field_is_cleared && snapshot(zombie).status != 0; }},
        {"c a", true, [&] { return snapshot(zombie).status == 0; }},
        {"H 0.25 0.5 0.75", true, [] { return bgcol.r == 0.25 && bgcol.b == 0.75; }},
        {"!", true, [] { return battle_mode == 1; }}, {"! u", true, [] { return !battle_mode; }},
        {"D", true, [] { return count_turtles(ST_DOUGHNUT, ST_DOUGHNUT) == 1; }},
        {"R", true, [] { return count_turtles(~0u, ST_ALIVE | ST_SYSTEM) == 1; }},
        {".", true, nothing}, {"Z 1", false, nothing}, {"#", false, nothing},
    };
    for (const auto &row : rows) {
        EXPECT_EQ(act(c, row.command), reply("", row.ok)) << row.command;
        EXPECT_TRUE(row.effect()) << row.command;
    }
}

// Queries and their payloads, and events in the reply. (Who is told of a team message, and
// masking, are tested on the turtle itself.)
TEST_F(Protocol, QueriesTheirPayloadsAndEvents) {
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

    // A second turtle 30 ahead joins the team: a message posted now is an event in its next
    // reply, once; the finder sees it (a turtle of team 4), so does the sonar's front probe.
    TestClient other;
    ASSERT_EQ(other.ask("I 4"), reply(""));
    ASSERT_EQ(other.ask("J 42 -40.5"), reply(""));
    ASSERT_EQ(act(c, "U high tide"), reply(""));
    EXPECT_EQ(other.ask("."), reply("", true, EV_TEAM_MSG));
    EXPECT_EQ(other.ask("."), reply(""));
    ASSERT_EQ(act(c, "T E"), reply(""));
    EXPECT_EQ(act(c, "Q N"), reply("2"));
    EXPECT_EQ(act(c, "Q F"), reply("1 4"));
    EXPECT_EQ(act(c, "Q W"), reply("0 1 0"));
    // The radar's direction carries noise; only one other turtle, so the second target fails.
    for (auto [query, status] : {std::pair{"Q R", "OK"}, {"Q R 1", "OK"}, {"q r 2", "ERR"}}) {
        const std::string r = act(c, query), tail = std::string(status) + " @ 1234 0";
        double dir = NAN;  // with six decimals, then a team number and the status
        int team = -1, end = 0;
        std::sscanf(r.c_str(), "%lf %d %n", &dir, &team, &end);
        EXPECT_TRUE(std::isfinite(dir) && team >= 0 && r.find('.') + 7 == r.find(' ') &&
                    r.substr(end) == tail)
            << query << ": " << r;
    }
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
