// net_hostile.cpp: hostile clients against the real command server: odd framing, each case
// with the number of replies it must get, and clients that try to lock the arena: one that
// never reads, one that sends a byte at a time, hundreds that connect and leave. After each, a
// well-behaved client must still be answered.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <mutex>
#include <thread>

#include "server/tcpserver.h"
#include "support.h"

namespace {

using namespace std::chrono_literals;
constexpr auto WAIT = 3000ms;  // longest wait for something that must happen
constexpr int QUIET_MS = 50;   // how long "nothing more arrives" is watched

// A frame as the window draws it: the server's pacing is reset.
void frame() {
    rendering_started();
    rendering_is_done();
}

struct Client {
    explicit Client(int receive_buffer = 0) {
        if (receive_buffer > 0) {
            setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receive_buffer, sizeof receive_buffer);
        }
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(tcp_server_port()));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected = ::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
    }
    Client(const Client &) = delete;
    Client &operator=(const Client &) = delete;
    ~Client() { ::close(fd); }

    void send(const std::string &s) { ::send(fd, s.data(), s.size(), MSG_NOSIGNAL); }
    // Reads for up to ms, drawing frames; 0 once the server closed, -1 when nothing came.
    ssize_t fill(int ms) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        do {
            frame();
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 1) > 0) {
                char buf[65536];
                const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
                if (n <= 0) return 0;
                got.append(buf, static_cast<size_t>(n));
                return n;
            }
        } while (std::chrono::steady_clock::now() < end);
        return -1;
    }
    int lines() const { return static_cast<int>(std::count(got.begin(), got.end(), '\n')); }
    // Reads until n lines came, then watches for more; the lines counted.
    int replies(int n) {
        const auto end = std::chrono::steady_clock::now() + WAIT;
        while (lines() < n && std::chrono::steady_clock::now() < end && fill(10) != 0) {
        }
        while (fill(QUIET_MS) > 0) {
        }
        return lines();
    }
    bool closed_by_server() {
        const auto end = std::chrono::steady_clock::now() + WAIT;
        while (std::chrono::steady_clock::now() < end) {
            if (fill(10) == 0) return true;
        }
        return false;
    }

    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    bool connected = false;
    std::string got;
};

// "[payload ]OK|ERR @ <tick> <events>" for every line.
bool all_well_formed(const std::string &text) {
    std::size_t start = 0;
    for (std::size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1) {
        const std::string line = text.substr(start, nl - start);
        const std::size_t at = line.rfind(" @ ");
        if (at == std::string::npos) return false;
        const std::string head = line.substr(0, at);
        const std::string tail = line.substr(at + 3);
        const bool status =
            head == "OK" || head == "ERR" || head.ends_with(" OK") || head.ends_with(" ERR");
        const std::size_t sp = tail.find(' ');
        if (!status || sp == 0 || sp == std::string::npos || sp + 1 == tail.size() ||
            tail.find_first_not_of("0123456789 ") != std::string::npos) {
            return false;
        }
    }
    return start == text.size();
}

// A client that connects after the hostile one is answered at once.
void expect_normal_client_served() {
    Client c;
    ASSERT_TRUE(c.connected);
    c.send("Q T\nF 1\n");
    EXPECT_EQ(c.replies(2), 2) << c.got;
    EXPECT_TRUE(all_well_formed(c.got)) << c.got;
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
    const std::string nuls("Q\0 T\n\0\0;\0", 9);
    const struct {
        const char *name;
        std::vector<std::string> pieces;
        int pause_ms;
        bool half_close;
        int replies;
    } rows[] = {
        {"over-long line", {"F " + std::string(2000, '1') + "\nQ T\n"}, 0, false, 2},
        {"over-long over pieces",
         {"Q " + std::string(600, 'x'), std::string(600, 'y'), ";Q N\n"},
         20,
         false,
         2},
        {"511 bytes then more", {"Q T" + std::string(508, ' ') + "zz\nQ T\n"}, 0, false, 2},
        {"bytes >= 0x80", {"\x80\xffQ \xc3\xa9T\n\xfe\xfe\xfe\n"}, 0, false, 1},
        {"NULs", {nuls}, 0, false, 1},
        {"lone separators", {"\n", ";", "\r\n", ";;\n\n", " ; \t;"}, 10, false, 0},
        {"';' flood", {std::string(100000, ';') + "Q T\n"}, 0, false, 1},
        {"space flood",
         {std::string(5000, ' ') + "Q N;" + std::string(5000, ' ') + "\n"},
         0,
         false,
         1},
        {"many commands in one send",
         {[] {
             std::string s;
             for (int i = 0; i < 300; i++) s += i % 2 ? "Q T;" : "F 1;";
             return s;
         }()},
         0,
         false,
         300},
        {"slow sender", {"Q", " ", "T", "\n", "F", " 1", ";", "Q N", "\n"}, 15, false, 3},
        {"half-close after commands", {"Q T\nF 2\nQ N\n"}, 0, true, 3},
        {"half-close mid-command", {"Q T\nQ N"}, 0, true, 1},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        {
            Client c;
            ASSERT_TRUE(c.connected);
            for (const std::string &piece : row.pieces) {
                c.send(piece);
                if (row.pause_ms > 0) c.fill(row.pause_ms);
            }
            if (row.half_close) ::shutdown(c.fd, SHUT_WR);
            EXPECT_EQ(c.replies(row.replies), row.replies) << c.got;
            EXPECT_TRUE(all_well_formed(c.got)) << c.got;
            if (row.half_close) {
                EXPECT_TRUE(c.closed_by_server());
            }
        }
        expect_normal_client_served();
    }
}

// Clients that would keep others out: hundreds that connect and leave at once, each leaving a
// zombie, never fill the table for good; of a burst beyond the client limit, the excess is
// closed and the rest served, and once they all leave, a newcomer is served at once. (A client
// that never reads: net_server.cpp.)
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

    const auto end = std::chrono::steady_clock::now() + WAIT;
    auto clients = [] {
        std::lock_guard lock(frame_rendering_mutex);
        return nclient;
    };
    while (clients() > 0) {
        ASSERT_LT(std::chrono::steady_clock::now(), end);
        std::this_thread::sleep_for(1ms);
    }
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
        std::this_thread::sleep_for(50ms);  // the server now waits for the lock
        burst.clear();
        Client newcomer;
        ASSERT_TRUE(newcomer.connected);
        std::this_thread::sleep_for(50ms);  // every close and the connection have arrived
        lock.unlock();
        newcomer.send("Q T\n");
        EXPECT_EQ(newcomer.replies(1), 1) << "a newcomer refused by a table of departed clients";
    }
    expect_normal_client_served();
}
