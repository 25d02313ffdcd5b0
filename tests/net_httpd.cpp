// net_httpd.cpp: the web viewer server started in the test process and asked through real
// sockets: responses byte for byte, methods, keep-alive and closing, one request per receive,
// private mode, the documents and images as served, and the cap on connection threads.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <thread>

#include "server/httpd.h"
#include "support.h"

namespace {

constexpr int NET_TIMEOUT_MS = 3000;  // longest wait for something that must happen
constexpr int NET_QUIET_MS = 50;      // how long "nothing arrives" is watched

template <typename Pred>
bool eventually(Pred done) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(NET_TIMEOUT_MS);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

template <typename F>
auto locked(F f) {
    std::lock_guard lock(frame_rendering_mutex);
    return f();
}

class Browser {
public:
    // Connects to the server, from the local address `from` when given; receive_buffer > 0
    // sets SO_RCVBUF first; `later` leaves the connecting to connect_now().
    explicit Browser(const char *from = nullptr, int receive_buffer = 0, bool later = false) {
        if (receive_buffer > 0) {
            setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receive_buffer, sizeof receive_buffer);
        }
        if (from != nullptr) {
            sockaddr_in a{};
            a.sin_family = AF_INET;
            inet_pton(AF_INET, from, &a.sin_addr);
            ::bind(fd_, reinterpret_cast<sockaddr *>(&a), sizeof a);
        }
        if (!later) connect_now();
    }
    void connect_now() {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(httpd_port()));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
    }
    Browser(const Browser &) = delete;
    Browser &operator=(const Browser &) = delete;
    ~Browser() { ::close(fd_); }

    bool connected() const { return connected_; }
    void send(std::string_view text) { ::send(fd_, text.data(), text.size(), MSG_NOSIGNAL); }
    // The header block of the next response, through its empty line; nothing when the server
    // falls silent or closes first.
    std::optional<std::string> head() {
        size_t end;
        while ((end = pending_.find("\r\n\r\n")) == std::string::npos) {
            if (fill(NET_TIMEOUT_MS) <= 0) return {};
        }
        std::string h = pending_.substr(0, end + 4);
        pending_.erase(0, end + 4);
        return h;
    }
    std::string body(size_t n) {
        while (pending_.size() < n) {
            if (fill(NET_TIMEOUT_MS) <= 0) break;
        }
        std::string b = pending_.substr(0, n);
        pending_.erase(0, b.size());
        return b;
    }
    // A GET and its body, checked against the response's own Content-Length.
    std::string get(const std::string &uri) {
        send("GET /" + uri + " HTTP/1.1\r\nHost: x\r\n\r\n");
        const std::string h = head().value_or("");
        const size_t at = h.find("Content-Length: ");
        if (at == std::string::npos) return "<no response>";
        return body(std::stoul(h.substr(at + 16)));
    }
    bool quiet() { return pending_.empty() && fill(NET_QUIET_MS) < 0; }
    bool closed_by_server() {
        return eventually([&] { return fill(10) == 0; });
    }
    const std::string &pending() const { return pending_; }

private:
    // Bytes read within timeout_ms; 0 when the connection was closed, -1 when nothing came.
    ssize_t fill(int timeout_ms) {
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, timeout_ms) <= 0) return -1;
        char buf[65536];
        ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        if (n <= 0) return 0;
        pending_.append(buf, static_cast<size_t>(n));
        return n;
    }

    int fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    bool connected_ = false;
    std::string pending_;
};

std::string ok_head(const char *type, std::optional<size_t> length) {
    std::string h = std::string("HTTP/1.1 200 OK\r\nContent-Type: ") + type + "\r\n";
    if (length) h += "Content-Length: " + std::to_string(*length) + "\r\n";
    return h + "Connection: Keep-Alive\r\nServer: Kelpmoor/0.1\r\n\r\n";
}

std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Starts the server once per process on a free port; every test ends when the server has let
// its connections go, so no connection thread outlives the test that opened it.
class Httpd : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static const int started = start_httpd(0);
        ASSERT_EQ(started, 0);
    }
    void SetUp() override { ASSERT_GT(httpd_port(), 0); }
    void TearDown() override {
        EXPECT_TRUE(eventually([] { return httpd_connections() == 0; }));
    }
};

}  // namespace

TEST_F(Httpd, AnswersGetHeadAndPostAndKeepsTheConnection) {
    Browser b;
    b.send("GET / HTTP/1.1\r\n\r\n");
    const std::string page = generate_html();
    EXPECT_EQ(b.head().value_or(""), ok_head("text/html", page.size()));
    EXPECT_EQ(b.body(page.size()), page);

    b.send("HEAD /turtle HTTP/1.1\r\n\r\n");
    EXPECT_EQ(b.head().value_or(""), ok_head("application/json", {}));
    EXPECT_TRUE(b.quiet()) << "a HEAD response has no body";
    b.send("post /coin HTTP/1.1\r\nContent-Length: 0\r\n\r\n");
    EXPECT_EQ(b.head().value_or(""), ok_head("application/json", {}));
    EXPECT_TRUE(b.quiet());
    b.send("get /img/5 HTTP/1.0\r\n\r\n");
    EXPECT_EQ(b.head().value_or(""), ok_head("image/png", 481));
    EXPECT_EQ(b.body(481).size(), 481u);
}

TEST_F(Httpd, ClosesWithoutAnswerWhatItCannotRead) {
    for (const char *bad : {"PUT / HTTP/1.1\r\n\r\n", "GET / HTTP/1.1", "GE\r\n", "\n"}) {
        Browser b;
        b.send(bad);
        EXPECT_TRUE(b.closed_by_server()) << bad;
        EXPECT_EQ(b.pending(), "") << bad;
    }
}

TEST_F(Httpd, OnlyConnectionCloseEndsTheConnectionAfterTheResponse) {
    Browser closing;
    closing.send("GET /coin HTTP/1.1\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(closing.head().value_or(""), ok_head("application/json", 2));
    EXPECT_EQ(closing.body(2), "[]");
    EXPECT_TRUE(closing.closed_by_server());

    Browser keeping;
    keeping.send("GET /coin HTTP/1.1\r\nConnection: Close\r\n\r\n");
    ASSERT_TRUE(keeping.head().has_value());
    EXPECT_EQ(keeping.body(2), "[]");
    EXPECT_EQ(keeping.get("coin"), "[]");
}

TEST_F(Httpd, AnswersOnlyTheFirstRequestOfOneReceive) {
    Browser b;
    b.send("GET /coin HTTP/1.1\r\n\r\nGET /wall HTTP/1.1\r\n\r\n");
    ASSERT_TRUE(b.head().has_value());
    EXPECT_EQ(b.body(2), "[]");
    EXPECT_TRUE(b.quiet()) << "the second request must be dropped";
    EXPECT_EQ(b.get("coin"), "[]") << "the connection waits for new data";
}

TEST_F(Httpd, SendsHeaderLinesAndBodyPiecesOneByOne) {
    // A packet socket pair keeps the boundaries of each send call.
    int sv[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET, 0, sv), 0);
    auto records = [&] {
        std::vector<std::string> out;
        char buf[4096];
        pollfd p{sv[1], POLLIN, 0};
        while (poll(&p, 1, 0) > 0) {
            const ssize_t n = recv(sv[1], buf, sizeof buf, 0);
            if (n <= 0) break;
            out.emplace_back(buf, static_cast<size_t>(n));
        }
        return out;
    };
    container body;
    body.text.assign(2500, 'x');
    body.data = reinterpret_cast<const unsigned char *>(body.text.data());
    body.length = 2500;
    body.mimetype = 77;
    http_request get;
    ASSERT_TRUE(send_response(sv[0], get, &body));
    EXPECT_EQ(records(),
              (std::vector<std::string>{"HTTP/1.1 200 OK\r\n", "Content-Type: text/plain\r\n",
                                        "Content-Length: 2500\r\n", "Connection: Keep-Alive\r\n",
                                        "Server: Kelpmoor/0.1\r\n", "\r\n", std::string(1024, 'x'),
                                        std::string(1024, 'x'), std::string(452, 'x')}));

    // No body could be made: the not-found response.
    ASSERT_TRUE(send_response(sv[0], get, nullptr));
    EXPECT_EQ(records(),
              (std::vector<std::string>{"HTTP/1.1 404 Not Found\r\n", "Server: Kelpmoor/0.1\r\n",
                                        "Content-Type: text/html; charset=iso-8859-1\r\n",
                                        "Content-Length: 136\r\n", "\r\n", msg404}));
    http_request head;
    head.method = HTTP_HEAD;
    ASSERT_TRUE(send_response(sv[0], head, nullptr));
    EXPECT_EQ(records(), (std::vector<std::string>{"HTTP/1.1 404 Not Found\r\n",
                                                   "Server: Kelpmoor/0.1\r\n", "\r\n"}));
    close(sv[1]);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(send_response(sv[0], get, &body));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "error sending data to client\n");
    close(sv[0]);
}

TEST_F(Httpd, LargeBodiesArriveWhole) {
    Browser b;
    const std::string three = b.get("js/three.min.js");
    EXPECT_EQ(three.size(), generate_content("js/three.min.js")->length + 0u);
    EXPECT_EQ(three, read_file(KELPMOOR_THREE_JS));
    EXPECT_NE(b.get("js/viewer.js").find("function webGLStart()"), std::string::npos);
}

TEST_F(Httpd, ServesTheEightImagesAsTheyAreStored) {
    const std::string images = KELPMOOR_SOURCE_DIR "/images/";
    const struct {
        size_t bytes;
        uint32_t side;
    } expected[8] = {{4240, 64}, {4896, 64}, {3326, 64}, {4181, 64},
                     {3319, 64}, {481, 32},  {691, 32},  {11961, 64}};
    Browser b;
    for (int i = 0; i < 8; i++) {
        const std::string png = b.get("img/" + std::to_string(i));
        EXPECT_EQ(png, read_file(images + "viewer" + std::to_string(i) + ".png")) << i;
        ASSERT_EQ(png.size(), expected[i].bytes) << i;
        // 8-bit RGBA of the given side; chunks IHDR, bKGD, IDAT, IEND.
        auto be32 = [&](size_t at) {
            return uint32_t(uint8_t(png[at])) << 24 | uint32_t(uint8_t(png[at + 1])) << 16 |
                   uint32_t(uint8_t(png[at + 2])) << 8 | uint32_t(uint8_t(png[at + 3]));
        };
        EXPECT_EQ(be32(16), expected[i].side);
        EXPECT_EQ(be32(20), expected[i].side);
        EXPECT_EQ(png.substr(24, 2), std::string("\x08\x06", 2));
        std::string chunks;
        for (size_t at = 8; at + 8 <= png.size(); at += 12 + be32(at)) {
            chunks += png.substr(at + 4, 4) + " ";
        }
        EXPECT_EQ(chunks, "IHDR bKGD IDAT IEND ") << i;
    }
}

TEST_F(Httpd, ServesTheDocumentsOfTheLiveWorld) {
    locked([] {
        reset_world();
        place(0, 10, -5.5, 90);
        std::snprintf(ttl[0].name, sizeof ttl[0].name, "t1");
        elapsed_time = 1234;
        nwall = 0;
        setup_wall(-256, -256, 256, -256, 0, 1, 0);
        setup_wall(256, -256, -256, -256, 0, -1, WALL_BACK_FACE);  // not listed
        coins[0] = coin{0, {12, -40}, 0, nullptr, COIN_ON_FIELD};
        coins[1] = coin{1, {99, 99}, -1, nullptr, 0};  // not on the field
        coins[2] = coin{2, {30.5, 8}, 1, nullptr, COIN_ON_FIELD};
        ncoin = 3;
        return 0;
    });
    Browser b;
    EXPECT_EQ(b.get("turtle"),
              "[{\"tid\":0,\"time\":1234,\"type\":1,\"name\":\"t1\",\"team\":0,\"x\":10.000000,"
              "\"y\":-5.500000,\"head\":90.000000,\"ttl\":0,\"bx\":0.000000,\"by\":0.000000,"
              "\"bttf\":0,\"score\":100,\"ncoin\":0,\"alive\":true,\"firing\":false,"
              "\"got_hit\":false,\"collide\":false,\"detected\":false,\"got_msg\":false}]");
    EXPECT_EQ(b.get("wall"),
              "[{\"x1\":-256.000000,\"y1\":-256.000000,\"x2\":256.000000,\"y2\":-256.000000,"
              "\"nx\":0.000000,\"ny\":1.000000}]");
    EXPECT_EQ(b.get("coin"),
              "[{\"x\":12.000000,\"y\":-40.000000,\"ord\":0},"
              "{\"x\":30.500000,\"y\":8.000000,\"ord\":1}]");
    EXPECT_EQ(b.get("t1/camera"),
              "{\"x0\":10.000000,\"y0\":-5.500000,\"z0\":10.000000,\"x1\":10.000000,"
              "\"y1\":94.500000,\"z1\":10.000000}");
    EXPECT_EQ(b.get("T1/"), generate_html()) << "the page that follows t1";
}

TEST_F(Httpd, PrivateModeServesTheLocalHostOnly) {
    testing::internal::CaptureStderr();
    {
        Browser other("127.0.0.2");
        ASSERT_TRUE(other.connected());
        other.send("GET /coin HTTP/1.1\r\n\r\n");
        EXPECT_TRUE(other.closed_by_server());
        EXPECT_EQ(other.pending(), "");
    }
    Browser local;
    EXPECT_EQ(local.get("coin"), "[]");
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("accept_connection(): reject connection from 127.0.0.2 "), std::string::npos)
        << log;

    private_mode = 0;
    Browser other("127.0.0.2");
    EXPECT_EQ(other.get("coin"), "[]");
    private_mode = 1;
}

TEST_F(Httpd, CapsConnectionThreadsAndServesAgainWhenOneEnds) {
    std::vector<std::unique_ptr<Browser>> open;
    for (int i = 1; i <= HTTP_MAX_CONNECTIONS; i++) {
        open.push_back(std::make_unique<Browser>());
        ASSERT_TRUE(open.back()->connected());
        // One at a time: a burst beyond the listen backlog waits for SYN retransmissions.
        ASSERT_TRUE(eventually([i] { return httpd_connections() == i; }));
    }
    testing::internal::CaptureStderr();
    Browser refused;
    refused.send("GET /coin HTTP/1.1\r\n\r\n");
    EXPECT_TRUE(refused.closed_by_server());
    EXPECT_EQ(refused.pending(), "");
    EXPECT_NE(testing::internal::GetCapturedStderr().find("64 connections open, closing"),
              std::string::npos);

    EXPECT_EQ(open[0]->get("coin"), "[]") << "the open connections are still served";
    open.pop_back();
    ASSERT_TRUE(eventually([] { return httpd_connections() < HTTP_MAX_CONNECTIONS; }));
    Browser next;
    EXPECT_EQ(next.get("coin"), "[]");
    open.clear();
}

TEST_F(Httpd, AcceptFailuresForWantOfDescriptorsArePassing) {
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    testing::internal::CaptureStderr();  // its file is opened before the limit falls
    Browser waiting(nullptr, 0, true);
    // No descriptor left for accept(): the lowest free one is at or above the limit.
    const int probe = open("/dev/null", O_RDONLY);
    ASSERT_GE(probe, 0);
    rlimit low = saved;
    low.rlim_cur = static_cast<rlim_t>(probe);
    close(probe);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
    waiting.connect_now();  // in the listen queue until the server can take it
    ASSERT_TRUE(waiting.connected());
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // some failed accepts
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &saved), 0);
    EXPECT_EQ(waiting.get("coin"), "[]") << "the server must outlive a transient EMFILE";
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("cannot accept connection\n"), std::string::npos) << log;
    Browser next;
    EXPECT_EQ(next.get("coin"), "[]");
}

TEST_F(Httpd, ServesDescriptorsAbove1023) {
    rlimit lim{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &lim), 0);
    if (lim.rlim_max < 1200) GTEST_SKIP() << "descriptor limit " << lim.rlim_max;
    const rlim_t saved = lim.rlim_cur;
    lim.rlim_cur = 1200;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &lim), 0);
    std::vector<int> filler;
    const int null_fd = open("/dev/null", O_RDONLY);
    ASSERT_GE(null_fd, 0);
    filler.push_back(null_fd);
    for (int fd = 0; fd < 1100; fd++) {  // every free descriptor below 1100 taken
        if (fcntl(fd, F_GETFD) < 0 && dup2(null_fd, fd) == fd) filler.push_back(fd);
    }
    testing::internal::CaptureStderr();
    {
        // The accept() waiting now holds the descriptor it reserved before the filling; the
        // next one can only get a descriptor above 1100.
        Browser first;
        EXPECT_EQ(first.get("coin"), "[]");
        Browser b;
        EXPECT_EQ(b.get("coin"), "[]");
        EXPECT_EQ(b.get("wall").front(), '[');
    }
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("http connected from 127.0.0.1 11"), std::string::npos) << log;
    for (int fd : filler) {
        if (fd >= 0) close(fd);
    }
    EXPECT_TRUE(eventually([] { return httpd_connections() == 0; }));
    lim.rlim_cur = saved;
    setrlimit(RLIMIT_NOFILE, &lim);
}

TEST_F(Httpd, ABrowserThatDoesNotReadHoldsUpNobody) {
    Browser stuck(nullptr, 4096);
    // Large bodies it never reads, until its connection thread is blocked in send().
    for (int i = 0; i < 40; i++) stuck.send("GET /js/three.min.js HTTP/1.1\r\n\r\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    for (int i = 0; i < 20; i++) {
        EXPECT_TRUE(locked([] { return true; }));  // the frame lock is free
        Browser other;
        EXPECT_EQ(other.get("coin"), "[]");
    }
}

TEST_F(Httpd, KeepAliveRequestsDoNotWaitForDelayedAcknowledgements) {
    // With the header pieces sent one by one and nothing corked, each request would wait for
    // the peer's delayed ACK, some 40 ms. The bound is far above what a request costs here.
    Browser b;
    b.get("coin");
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 20; i++) ASSERT_EQ(b.get("coin"), "[]");
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - start)
                        .count();
    EXPECT_LT(ms, 400) << "20 requests took " << ms << " ms";
}
