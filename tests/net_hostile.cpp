// net_hostile.cpp: hostile clients against the real command server: odd framing, each case
// with the number of replies it must get, and clients that try to lock the arena out: hundreds
// that connect and leave, bursts beyond the client limit. After each, a well-behaved client must
// still be answered. (Over-long commands and a client that never reads: net_server.cpp.)
#include <sys/socket.h>

#include <chrono>
#include <memory>
#include <thread>

#include "reply_format.h"
#include "server/tcpserver.h"
#include "support.h"

namespace {

// A client that draws frames while it waits, as the window would.
struct Client : LoopClient {
    Client() : LoopClient(tcp_server_port()) { idle = server_frame; }
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
    Client c;
    ASSERT_TRUE(c.connected);
    c.send("Q T\nF 1\n");
    c.replies(2);
    EXPECT_EQ(count_reply_lines(c.got), 2) << c.got;
}

class Hostile : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static const bool started = (start_tcp_server(0), true);
        (void)started;
    }
    void SetUp() override { ASSERT_GT(tcp_server_port(), 0); }
};

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
            Client c;
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
        Client c;
        ASSERT_TRUE(c.connected);
        if (i % 20 == 0) {
            c.send("Q T\n");
            ASSERT_EQ(c.replies(1), 1) << "cycle " << i;
        }
    }
    expect_normal_client_served();

    ASSERT_TRUE(eventually([] { return locked([] { return nclient; }) == 0; }));
    std::vector<std::unique_ptr<Client>> burst;
    for (int i = 0; i < MAX_CLIENT + 5; i++) burst.push_back(std::make_unique<Client>());
    int served = 0;
    for (auto &c : burst) {
        c->send("Q T\n");
        served += c->replies(1) == 1;
    }
    EXPECT_EQ(served, MAX_CLIENT);
    burst.resize(MAX_CLIENT);

    // The whole table leaves and a newcomer arrives before the server's next look: the server
    // is held in a batch (a command waiting, the lock taken) while they do.
    {
        std::unique_lock lock(frame_rendering_mutex);
        burst[0]->send("Q T\n");
        std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the server waits for it
        burst.clear();
        Client newcomer;
        ASSERT_TRUE(newcomer.connected);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));  // every close has arrived
        lock.unlock();
        newcomer.send("Q T\n");
        EXPECT_EQ(newcomer.replies(1), 1) << "a newcomer refused by a table of departed clients";
    }
    expect_normal_client_served();
}
