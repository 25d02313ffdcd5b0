// net_httpd.cpp: the web viewer server started in the test process and asked through real
// sockets: responses byte for byte, methods, keep-alive and closing, one request per receive,
// private mode, the files as served, the cap on connection threads and descriptor troubles.
// (The documents' contents are tested without sockets: unit_http.cpp.)
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <thread>

#include "server/httpd.h"
#include "support.h"

namespace {

// A browser: connects at once unless told `later` (then connect_to(httpd_port())).
struct Browser : LoopClient {
    explicit Browser(const char *from = nullptr, int receive_buffer = 0, bool later = false)
        : LoopClient(later ? 0 : httpd_port(), from, receive_buffer) {}
    // The server closes without a byte of response.
    bool refused() { return closed_by_server() && got.empty(); }
};

std::string ok_head(const char *type, std::optional<size_t> length) {
    std::string h = std::string("HTTP/1.1 200 OK\r\nContent-Type: ") + type + "\r\n";
    if (length) h += "Content-Length: " + std::to_string(*length) + "\r\n";
    return h + "Connection: Keep-Alive\r\nServer: Kelpmoor/0.1\r\n\r\n";
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

// GET, HEAD and POST in any case on one connection; "Connection: close" ends it (which spellings
// do: unit_http.cpp); of two requests in one receive only the first is answered; what cannot be
// read is closed.
TEST_F(Httpd, MethodsKeepAliveAndClosing) {
    Browser b;
    const std::string page = generate_html(), coins = ok_head("application/json", 2) + "[]";
    EXPECT_EQ(b.respond("GET / HTTP/1.1\r\n\r\n"), ok_head("text/html", page.size()) + page);
    // A body after a HEAD or POST response would come before the next response's head.
    EXPECT_EQ(b.respond("HEAD /turtle HTTP/1.1\r\n\r\n"), ok_head("application/json", {}));
    EXPECT_EQ(b.respond("post /coin HTTP/1.1\r\nContent-Length: 0\r\n\r\n"),
              ok_head("application/json", {}));
    const std::string png = b.respond("get /img/5 HTTP/1.0\r\n\r\n");
    EXPECT_EQ(png.substr(0, png.size() - 481), ok_head("image/png", 481));
    EXPECT_EQ(b.respond("GET /coin HTTP/1.1\r\n\r\nGET /wall HTTP/1.1\r\n\r\n"), coins);
    EXPECT_TRUE(b.quiet()) << "the second request must be dropped";
    EXPECT_EQ(b.respond("GET /coin HTTP/1.1\r\nConnection: close\r\n\r\n"), coins)
        << "the connection waits for new data";
    EXPECT_TRUE(b.closed_by_server());

    for (const char *bad : {"PUT / HTTP/1.1\r\n\r\n", "GET / HTTP/1.1", "GE\r\n", "\n"}) {
        Browser refused;
        refused.send(bad);
        EXPECT_TRUE(refused.refused()) << bad;
    }
}

// Each response leaves in one gather write: one record on a packet socket pair.
TEST_F(Httpd, SendsEachResponseInOneWrite) {
    int sv[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET, 0, sv), 0);
    auto records = [&] {
        std::vector<std::string> out;
        char buf[8192];
        pollfd p{sv[1], POLLIN, 0};
        for (ssize_t n; poll(&p, 1, 0) > 0 && (n = recv(sv[1], buf, sizeof buf, 0)) > 0;) {
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
    EXPECT_EQ(records(), (std::vector<std::string>{ok_head("text/plain", 2500) + body.text}));

    // No body could be made: the not-found response.
    ASSERT_TRUE(send_response(sv[0], get, nullptr));
    EXPECT_EQ(records(),
              (std::vector<std::string>{"HTTP/1.1 404 Not Found\r\nServer: Kelpmoor/0.1\r\n"
                                        "Content-Type: text/html; charset=iso-8859-1\r\n"
                                        "Content-Length: 136\r\n\r\n" +
                                        std::string(msg404)}));
    http_request head;
    head.method = HTTP_HEAD;
    ASSERT_TRUE(send_response(sv[0], head, nullptr));
    EXPECT_EQ(records(),
              (std::vector<std::string>{"HTTP/1.1 404 Not Found\r\nServer: Kelpmoor/0.1\r\n\r\n"}));
    close(sv[1]);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(send_response(sv[0], get, &body));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "error sending data to client\n");
    close(sv[0]);
}

// three.js and the eight images arrive whole, as stored. (Which script is at which path:
// unit_http.cpp.)
TEST_F(Httpd, ServesTheFilesAsStored) {
    Browser b;
    EXPECT_EQ(b.get("js/three.min.js"), read_file(KELPMOOR_THREE_JS));
    for (int i = 0; i < 8; i++) {
        const std::string stored =
            read_file(KELPMOOR_SOURCE_DIR "/images/viewer" + std::to_string(i) + ".png");
        EXPECT_FALSE(stored.empty()) << i;
        EXPECT_EQ(b.get("img/" + std::to_string(i)), stored) << i;
    }
}

TEST_F(Httpd, PrivateModeServesTheLocalHostOnly) {
    testing::internal::CaptureStderr();
    {
        Browser other("127.0.0.2");
        ASSERT_TRUE(other.connected);
        other.send("GET /coin HTTP/1.1\r\n\r\n");
        EXPECT_TRUE(other.refused());
    }
    Browser local;
    EXPECT_EQ(local.get("coin"), "[]");
    expect_logged({"accept_connection(): reject connection from 127.0.0.2 "});

    private_mode = 0;
    Browser other("127.0.0.2");
    EXPECT_EQ(other.get("coin"), "[]");
    private_mode = 1;
}

// At the cap the connection that has waited longest for its next request gives way.
TEST_F(Httpd, AtTheCapTheLongestIdleGivesWay) {
    std::vector<std::unique_ptr<Browser>> open;
    for (int i = 1; i <= HTTP_MAX_CONNECTIONS; i++) {
        open.push_back(std::make_unique<Browser>());
        ASSERT_TRUE(open.back()->connected);
        // One at a time: a burst beyond the listen backlog waits for SYN retransmissions.
        ASSERT_TRUE(eventually([i] { return httpd_connections() == i; }));
    }
    EXPECT_EQ(open[1]->get("coin"), "[]");  // now the first has waited longest
    Browser next;
    EXPECT_EQ(next.get("coin"), "[]") << "the newcomer is served at once";
    EXPECT_TRUE(open[0]->closed_by_server());
    EXPECT_EQ(open[1]->get("coin"), "[]") << "the others are still served";
    EXPECT_EQ(httpd_connections(), HTTP_MAX_CONNECTIONS);
    open.clear();
}

TEST_F(Httpd, AcceptFailuresForWantOfDescriptorsArePassing) {
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    // One connection served and ended first: the undefined-behaviour sanitizer checks how a
    // thread starts and ends once per type, with a pipe it could not open without descriptors.
    Browser(nullptr).get("coin");
    ASSERT_TRUE(eventually([] { return httpd_connections() == 0; }));
    testing::internal::CaptureStderr();  // its file is opened before the limit falls
    Browser waiting(nullptr, 0, true);
    // No descriptor left for accept(): the lowest free one is at or above the limit.
    const int probe = open("/dev/null", O_RDONLY);
    ASSERT_GE(probe, 0);
    rlimit low = saved;
    low.rlim_cur = static_cast<rlim_t>(probe);
    close(probe);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
    ASSERT_TRUE(waiting.connect_to(httpd_port()));  // queued until the server can take it
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // some failed accepts
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &saved), 0);
    EXPECT_EQ(waiting.get("coin"), "[]") << "the server must outlive a transient EMFILE";
    expect_logged({"cannot accept connection\n"});
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
    const int null_fd = open("/dev/null", O_RDONLY);
    ASSERT_GE(null_fd, 0);
    std::vector<int> filler = {null_fd};
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
    expect_logged({"http connected from 127.0.0.1 11"});
    for (int fd : filler) close(fd);
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
