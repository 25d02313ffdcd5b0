// net_server.cpp: the command server, started in the test process and driven through real
// sockets, with a frame stand-in for the missing window: pacing of every command against
// frames, the client limit, private mode, zombies and disconnection marks, over-long commands,
// splitting bytes into commands, and hostile clients: one that never reads its replies, odd
// framing, hundreds that connect and leave, bursts beyond the client limit. (The language
// itself is tested without sockets: unit_commands.cpp.)
#include <chrono>
#include <memory>
#include <thread>

#include "reply_format.h"
#include "server/commands.h"
#include "server/tcpserver.h"
#include "support.h"
#include "world/battle.h"
#include "world/frame_rules.h"

namespace {

int clients() {
    return locked([] { return nclient; });
}
int turtle_of(int cl) {  // -1: free
    return locked([cl] { return client_tab[cl].tid; });
}
turtle snapshot(int tid) {
    return locked([tid] { return ttl[tid]; });
}
bool wait_clients(int n) {
    return eventually([n] { return clients() == n; }, server_frame);
}

// A client of the command server, connected from `from` when given.
struct Client : LoopClient {
    explicit Client(const char *from = nullptr, int receive_buffer = 0)
        : LoopClient(tcp_server_port(), from, receive_buffer) {}
};

// `limit` clients, each answered, and one more that the server closes at once.
std::vector<std::unique_ptr<Client>> fill_table(int limit) {
    std::vector<std::unique_ptr<Client>> cs;
    for (int i = 0; i < limit; i++) {
        cs.push_back(std::make_unique<Client>());
        EXPECT_EQ(cs.back()->ask("."), reply("")) << i;
    }
    Client one_more;
    EXPECT_TRUE(one_more.closed_by_server());
    EXPECT_EQ(clients(), limit);
    return cs;
}

// A client that draws frames while it waits, as the window would.
struct FramedClient : LoopClient {
    FramedClient() : LoopClient(tcp_server_port()) { idle = server_frame; }
    int lines() const { return static_cast<int>(std::count(got.begin(), got.end(), '\n')); }
    // Reads until n lines came, then watches for more; the lines counted.
    int replies(int n) {
        eventually([&] { return lines() >= n || fill(10) == 0; });
        while (fill(50) > 0) {
        }
        return lines();
    }
};

// A client that connects after the hostile one is answered at once.
void expect_normal_client_served() {
    FramedClient c;
    ASSERT_TRUE(c.connected);
    c.send("Q T\nF 1\n");
    c.replies(2);
    EXPECT_EQ(count_reply_lines(c.got), 2) << c.got;
}

// Starts the server once per process on a free port. The world is fresh before any client
// member of a derived fixture connects, and the test ends when the server has let its clients go.
class NetTest : public ::testing::Test {
protected:
    ~NetTest() override { EXPECT_TRUE(wait_clients(0)); }
    static void SetUpTestSuite() {
        static const bool started = (start_tcp_server(0), true);
        (void)started;
    }
    void SetUp() override { ASSERT_GT(tcp_server_port(), 0); }
};
using Connections = NetTest;
using Hostile = NetTest;

// Queries alone are served on every pass without any frame, but never during one; an over-long
// command is refused once and the client stays.
TEST_F(Connections, QueriesWithoutFramesAndOverLongCommands) {
    Client c, other;
    ASSERT_EQ(c.ask("."), reply(""));
    ASSERT_EQ(other.ask("."), reply(""));
    for (int i = 0; i < 200; i++) ASSERT_EQ(c.ask("Q T"), reply("0")) << i;
    std::optional<frame_turn> frame(std::in_place);
    c.send("Q T\n");
    bool quiet_during_frame = c.quiet(30);
    frame.reset();
    EXPECT_TRUE(quiet_during_frame);
    EXPECT_EQ(c.line(), reply("0"));

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
    EXPECT_TRUE(c.quiet(30));
}

// The client limit, a leaving client's zombie, and clients closed by marks and by kill-all.
TEST_F(Connections, ClientsAreRefusedAndClosed) {
    testing::internal::CaptureStderr();
    auto cs = fill_table(DEFAULT_CLIENT_LIMIT);

    const int tid = turtle_of(3);
    cs[3].reset();
    ASSERT_TRUE(wait_clients(DEFAULT_CLIENT_LIMIT - 1));
    expect_logged({"handling client from 127.0.0.1 ", "accept_connection(): reaches MAX_CLIENT\n",
                   "closing connection from 127.0.0.1 "});
    EXPECT_TRUE(snapshot(tid).status == (ST_ALIVE | ST_ZOMBIE) && turtle_of(3) == -1);
    Client late;  // takes the lowest free slot, with a turtle of its own
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
    Client outsider("127.0.0.2");
    EXPECT_TRUE(outsider.closed_by_server());
    expect_logged({"accept_connection(): reject connection from 127.0.0.2 "});
    EXPECT_EQ(clients(), 0);

    Client local;  // (the other host let in by public mode: ClassroomOptions)
    for (int i = 1; i < NTURTLE; i++) ASSERT_EQ(local.ask("R"), reply("")) << i;
    EXPECT_EQ(local.ask("R"), reply("", false));
    Client late;
    EXPECT_TRUE(late.closed_by_server());
    EXPECT_EQ(clients(), 1);
}

// The classroom options: a larger client limit, and field-wide commands kept to the local host.
TEST_F(Connections, ClassroomOptions) {
    testing::internal::CaptureStderr();
    set_client_limit(20);
    fill_table(20);
    expect_logged({"accept_connection(): reaches MAX_CLIENT\n"});
    ASSERT_TRUE(wait_clients(0));

    set_field_commands_local_only(true);
    locked(field_toggle_private_mode);
    Client outsider("127.0.0.2"), teacher;
    outsider.idle = teacher.idle = server_frame;
    for (const char *command : {"C A", "C F", "H 0 0 0.2", "!", "! U", "R", "O X"}) {
        EXPECT_EQ(outsider.ask(command), reply("", false)) << command;
        EXPECT_EQ(teacher.ask(command), reply("")) << command;
    }
    EXPECT_EQ(outsider.ask("K 0 1 0"), reply("")) << "its own turtle still takes commands";
    EXPECT_EQ(outsider.ask("Q G"), reply("0 0 0 0"));
    locked(field_toggle_private_mode);
}

TEST_F(Connections, ClientThatNeverReadsIsDroppedWithoutStoppingTheField) {
    Client mover;
    ASSERT_EQ(mover.ask("."), reply(""));
    Client flooder(nullptr, 4096);  // a small window backs the server's output up sooner
    ASSERT_EQ(flooder.ask("."), reply(""));
    const int flooder_tid = turtle_of(1);

    std::string burst;
    for (int i = 0; i < 100; i++) burst += "Q P\n";
    for (int rounds = 0; turtle_of(1) == flooder_tid; rounds++) {
        ASSERT_LT(rounds, 20000) << "the flooder was never dropped";
        flooder.send(burst);  // lost once the server has closed it
        server_frame();
        ASSERT_EQ(mover.ask("T L 1"), reply("")) << "round " << rounds;
    }
    EXPECT_EQ(clients(), 1);
    EXPECT_EQ(snapshot(flooder_tid).status, ST_ALIVE | ST_ZOMBIE);
    server_frame();
    EXPECT_EQ(mover.ask("T L 1"), reply(""));
}

// A dying turtle is answered its questions only, whatever the modes do meanwhile, and its
// client is closed when the countdown ends.
TEST_F(Connections, ADyingTurtleCannotUndoItsDeath) {
    Client c;
    ASSERT_EQ(c.ask("!"), reply(""));
    const int tid = turtle_of(0);
    locked([&] {
        ttl[tid].score = 0;
        start_to_kill(tid);
    });
    EXPECT_EQ(c.ask("! U"), reply("", false));
    EXPECT_EQ(locked([] { return battle_mode; }), 1);
    locked(field_unset_battle_mode);  // as the operator's key would
    const turtle before = snapshot(tid);
    for (const char *undo : {"C", "C H", "T L 5", "I 2"}) {
        server_frame();
        EXPECT_EQ(c.ask(undo), reply("", false)) << undo;
    }
    EXPECT_EQ(c.ask("Q S"), reply("0"));
    const turtle after = snapshot(tid);
    EXPECT_TRUE(after.score == 0 && after.heading == before.heading && after.pos == before.pos);
    static frame_report rep;
    for (int f = 0; f < EXPLOSION_FRAMES; f++) {
        locked([] { field_advance_frame(rep); });
        server_frame();
    }
    EXPECT_TRUE(c.closed_by_server());
    EXPECT_EQ(snapshot(tid).status & ST_ALIVE, 0u);
}

// A frame that waits for the lock gets it from a client's run of queries after at most one
// more command.
TEST_F(Connections, QueryRunsLetAWaitingFrameIn) {
    Client c;
    ASSERT_EQ(c.ask("."), reply(""));
    std::string run;
    for (int i = 0; i < 100; i++) run += "Q T\n";
    std::unique_lock lock(frame_rendering_mutex);
    c.send(run);
    int answered_before_frame = -1;
    std::thread frame([&] {
        const frame_turn turn;
        while (c.fill(0) > 0) {
        }
        answered_before_frame = count_reply_lines(c.got);
    });
    ASSERT_TRUE(eventually(frame_is_waiting));
    lock.unlock();
    frame.join();
    EXPECT_LE(answered_before_frame, 1);
    EXPECT_TRUE(eventually([&] { return c.fill(10), count_reply_lines(c.got) == 100; }));
}

// A client whose turtle stands at the centre facing east, in a fresh frame.
class Protocol : public NetTest {
protected:
    void SetUp() override {
        NetTest::SetUp();
        ASSERT_EQ(c.ask("."), reply(""));
        tid = turtle_of(0);
        for (const char *setup : {"J 0 0", "T E"}) {
            server_frame();
            ASSERT_EQ(c.ask(setup), reply(""));
        }
        server_frame();
    }
    double x() const { return snapshot(tid).pos[0].x; }
    Client c;
    int tid = -1;
};

TEST_F(Protocol, SplitsAtLineFeedsAndSemicolons) {
    // Three commands in one segment: all run before the next frame, three replies in order.
    c.send("F 10;T L 90;F 10\n");
    for (int i = 0; i < 3; i++) EXPECT_EQ(c.line(), reply(""));
    EXPECT_TRUE(std::fabs(x() - 10) < 1e-9 && std::fabs(snapshot(tid).pos[0].y - 10) < 1e-9);

    // Leading spaces, control bytes and bytes above 127 are dropped: the second is F 10.
    server_frame();
    c.send(
        "T E\n  \x01"
        "F\r 1\xff"
        "0\n");
    for (int i = 0; i < 2; i++) EXPECT_EQ(c.line(), reply(""));
    EXPECT_NEAR(x(), 20.0, 1e-9);
}

// Each command, then Q T in a later segment with no frame between: the query waits for a frame
// exactly when the command changes the world, whatever its reply; another client is served
// meanwhile. Every row of the command table is tried.
TEST_F(Protocol, WorldChangingCommandsMakeTheClientWaitForAFrame) {
    Client other;
    ASSERT_EQ(other.ask("."), reply(""));
    const std::pair<const char *, bool> cases[] = {
        {"F 1", true},   {"B 1", true},     {"T L 1", true}, {"T R 1", true},    {"T E", true},
        {"T N", true},   {"T W", true},     {"T S", true},   {"T X", true},      {"J 0 0", true},
        {"G 1 1", true}, {"C H", true},     {"C F", true},   {"C A", true},      {"C", true},
        {"P D", true},   {"P +", true},     {"P U", true},   {"P -", true},      {"P X", true},
        {"L S", true},   {"L +", true},     {"L B", true},   {"L P", true},      {"L -", true},
        {"S 41", true},  {"H 0 0 0", true}, {"O", true},     {"O S", true},      {"O +", true},
        {"O X", true},   {"O B", false},    {"X", false},    {"K 1 1 1", false}, {"W 2", false},
        {"N 41", false}, {"U hi", false},   {"I 1", false},  {"Y + 1", false},   {"Y - 1", false},
        {"Y", false},    {"E 30", false},   {"D", false},    {"R", false},       {"!", false},
        {"! U", false},  {"!", false},      {"! -", false},  {".", false},       {"Q P", false},
        {"Z", false},    {"F nan", false},  // unknown, refused: nothing changed
    };
    for (auto [command, paced] : cases) {
        server_frame();
        ASSERT_NE(c.ask(command), "<no reply>") << command;
        c.send("Q T\n");
        if (paced) {
            EXPECT_EQ(other.ask("."), reply("")) << command;
            EXPECT_TRUE(c.quiet(30)) << command << ": answered before a frame";
            server_frame();
        }
        EXPECT_TRUE(c.line().has_value()) << command << (paced ? "" : ": waited for a frame");
    }
    for (const command_row &row : command_table()) {
        bool tried = std::any_of(std::begin(cases), std::end(cases),
                                 [&](const auto &k) { return find_command(k.first) == &row; });
        EXPECT_TRUE(tried) << "no case for the row " << row.letter << " '" << row.sub << "'";
    }
}

}  // namespace

// Odd framing, each sent in pieces with a pause after each; the replies it must get, and
// whether the client half-closes after its last piece (the server then answers and closes).
TEST_F(Hostile, FramingCasesGetOneReplyPerCommand) {
    std::string many;
    for (int i = 0; i < 300; i++) many += i % 2 ? "Q T;" : "F 1;";
    const struct {
        std::vector<std::string> pieces;
        int pause_ms, replies;
        bool half_close;
    } rows[] = {
        {{"\x80\xffQ \xc3\xa9T\n\xfe\xfe\xfe\n"}, 0, 1, false},   // bytes >= 0x80
        {{std::string("Q\0 T\n\0\0;\0", 9)}, 0, 1, false},        // NULs
        {{"\n", ";", "\r\n", ";;\n\n", " ; \t;"}, 10, 0, false},  // lone separators
        {{std::string(100000, ';') + "Q T\n"}, 0, 1, false},
        {{many}, 0, 300, false},  // many commands in one send
        {{"Q", " ", "T", "\n", "F", " 1", ";", "Q N", "\n"}, 15, 3, false},  // a slow sender
        {{"Q T\nF 2\nQ N\n"}, 0, 3, true},
        {{"Q T\nQ N"}, 0, 1, true},  // half-closed mid-command
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(&row - rows);
        {
            FramedClient c;
            ASSERT_TRUE(c.connected);
            for (const std::string &piece : row.pieces) {
                c.send(piece);
                if (row.pause_ms > 0) c.fill(row.pause_ms);
            }
            if (row.half_close) ::shutdown(c.fd, SHUT_WR);
            c.replies(row.replies);
            EXPECT_EQ(count_reply_lines(c.got), row.replies) << c.got;
            if (row.half_close) {
                EXPECT_TRUE(c.closed_by_server());
            }
        }
        expect_normal_client_served();
    }
}

// Hundreds that connect and leave at once, each leaving a zombie, never fill the table for good;
// of a burst beyond the client limit, the excess is closed and the rest served, and once they
// all leave, a newcomer is served at once.
TEST_F(Hostile, NoClientLocksTheArenaOut) {
    for (int i = 0; i < 200; i++) {
        FramedClient c;
        ASSERT_TRUE(c.connected);
        if (i % 20 == 0) {
            c.send("Q T\n");
            ASSERT_EQ(c.replies(1), 1) << "cycle " << i;
        }
    }
    expect_normal_client_served();

    ASSERT_TRUE(eventually([] { return locked([] { return nclient; }) == 0; }));
    std::vector<std::unique_ptr<FramedClient>> burst;
    for (int i = 0; i < DEFAULT_CLIENT_LIMIT + 5; i++) {
        burst.push_back(std::make_unique<FramedClient>());
    }
    int served = 0;
    for (auto &c : burst) {
        c->send("Q T\n");
        served += c->replies(1) == 1;
    }
    EXPECT_EQ(served, DEFAULT_CLIENT_LIMIT);
    burst.resize(DEFAULT_CLIENT_LIMIT);

    // The whole table leaves and a newcomer arrives before the server's next look: the server
    // is held in a batch (a command waiting, the lock taken) while they do.
    {
        std::unique_lock lock(frame_rendering_mutex);
        burst[0]->send("Q T\n");
        std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the server waits for it
        burst.clear();
        FramedClient newcomer;
        ASSERT_TRUE(newcomer.connected);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));  // every close has arrived
        lock.unlock();
        newcomer.send("Q T\n");
        EXPECT_EQ(newcomer.replies(1), 1) << "a newcomer refused by a table of departed clients";
    }
    expect_normal_client_served();
}
