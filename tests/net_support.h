// net_support.h: the command server started in the test process, a socket client that speaks its
// protocol, a frame stand-in for the missing window, and a reader of the server's log lines.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "kelpmoor.h"
#include "support.h"
#include "tcpserver.h"
#include "turtle.h"

inline constexpr int NET_TIMEOUT_MS = 3000;  // longest wait for something that must happen
inline constexpr int NET_QUIET_MS = 30;      // how long "nothing arrives" is watched

// What a frame does to the server: take the lock, reset every nup, release, wake the server.
inline void frame() {
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
    ~TestClient() { close(); }

    void close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    bool send(std::string_view text) {  // false once the server has closed the connection
        return ::send(fd_, text.data(), text.size(), MSG_NOSIGNAL) == ssize_t(text.size());
    }
    // The next reply line without its line feed, or nothing when none comes in time.
    std::optional<std::string> line() {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(NET_TIMEOUT_MS);
        while (pending_.find('\n') == std::string::npos) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now());
            if (left.count() < 0 || fill(static_cast<int>(left.count())) <= 0) return {};
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

// Standard error redirected to a file for the life of the object, readable while it grows.
class LogCapture {
public:
    LogCapture() {
        std::fflush(stderr);
        dup2(fileno(file_), 2);
    }
    ~LogCapture() {
        std::fflush(stderr);
        dup2(saved_, 2);
        ::close(saved_);
        std::fclose(file_);
    }
    bool wait_for(const char *needle) const {  // true once the log holds needle
        char buf[4096];
        return eventually([&] {
            std::string s;
            for (ssize_t n; (n = pread(fileno(file_), buf, sizeof buf, s.size())) > 0;) {
                s.append(buf, static_cast<size_t>(n));
            }
            return s.find(needle) != std::string::npos;
        });
    }

private:
    int saved_ = dup(2);
    FILE *file_ = std::tmpfile();
};

// f() under the lock, as a frame or a key action would run it.
template <typename F>
auto locked(F f) {
    std::lock_guard lock(frame_rendering_mutex);
    return f();
}
inline int clients() { return locked([] { return nclient; }); }
inline int turtle_of(int cl) { return locked([cl] { return client_tab[cl].tid; }); }  // -1: free
inline turtle snapshot(int tid) { return locked([tid] { return ttl[tid]; }); }
inline bool wait_clients(int n) { return eventually([n] { return clients() == n; }); }

// Starts the server once per process on a free port. The world is reset before any client
// member of a derived fixture connects, and the test ends when the server has let its clients go.
class NetTest : public ::testing::Test {
protected:
    NetTest() {
        std::lock_guard lock(frame_rendering_mutex);
        reset_world();
    }
    ~NetTest() override { EXPECT_TRUE(wait_clients(0)); }
    static void SetUpTestSuite() {
        static const bool started = (start_tcp_server(0), true);
        (void)started;
    }
    void SetUp() override { ASSERT_GT(tcp_server_port(), 0); }
};

// The reply line the server must send for a payload (empty for none) at the current tick.
inline std::string reply(const std::string &payload, bool ok = true, unsigned events = 0) {
    char buf[1200];
    std::snprintf(buf, sizeof buf, "%s%s%s @ %lu %u", payload.c_str(),
                  payload.empty() ? "" : " ", ok ? "OK" : "ERR",
                  static_cast<unsigned long>(elapsed_time.load()), events);
    return buf;
}
