// net_support.h: the command server started in the test process, a socket client that speaks its
// protocol, a frame stand-in for the missing window, and a reader of the server's log lines.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
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

class TestClient {
public:
    // Connects to the command server, from the local address `from` when given; with
    // connect_now false, open() does it later (fixture members exist before the server runs).
    explicit TestClient(const char *from = nullptr, bool connect_now = true) : from_(from) {
        if (connect_now) open();
    }
    // receive_buffer > 0 sets SO_RCVBUF before connecting, so the window is small from the start.
    bool open(int receive_buffer = 0) {
        close();
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        if (receive_buffer > 0) {
            setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receive_buffer, sizeof receive_buffer);
        }
        if (from_ != nullptr) {
            sockaddr_in local{};
            local.sin_family = AF_INET;
            inet_pton(AF_INET, from_, &local.sin_addr);
            ::bind(fd_, reinterpret_cast<sockaddr *>(&local), sizeof local);
        }
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<uint16_t>(tcp_server_port()));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0;
        return connected_;
    }
    TestClient(const TestClient &) = delete;
    TestClient &operator=(const TestClient &) = delete;
    ~TestClient() { close(); }

    void close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
        pending_.clear();
    }
    bool connected() const { return connected_; }
    int fd() const { return fd_; }
    int local_port() const {
        sockaddr_in a{};
        socklen_t n = sizeof a;
        getsockname(fd_, reinterpret_cast<sockaddr *>(&a), &n);
        return ntohs(a.sin_port);
    }

    bool send(std::string_view text) {
        while (!text.empty()) {
            ssize_t n = ::send(fd_, text.data(), text.size(), MSG_NOSIGNAL);
            if (n <= 0) return false;
            text.remove_prefix(static_cast<size_t>(n));
        }
        return true;
    }

    // The next reply line without its line feed, or nothing when none comes in time.
    std::optional<std::string> line(int timeout_ms = NET_TIMEOUT_MS) {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        for (;;) {
            size_t lf = pending_.find('\n');
            if (lf != std::string::npos) {
                std::string l = pending_.substr(0, lf);
                pending_.erase(0, lf + 1);
                return l;
            }
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now());
            if (left.count() < 0 || !fill(static_cast<int>(left.count()))) return std::nullopt;
        }
    }

    // One command and its reply.
    std::string ask(std::string_view command) {
        send(std::string(command) + "\n");
        return line().value_or("<no reply>");
    }

    // True when no byte arrives within ms.
    bool quiet(int ms = NET_QUIET_MS) { return pending_.empty() && !fill(ms); }

    // True when the server closes the connection (after any replies still in flight).
    bool closed_by_server(int timeout_ms = NET_TIMEOUT_MS) {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        while (std::chrono::steady_clock::now() < end) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, 10) <= 0) continue;
            char buf[4096];
            ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
            if (n <= 0) return true;
        }
        return false;
    }

private:
    bool fill(int timeout_ms) {
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, timeout_ms) <= 0) return false;
        char buf[4096];
        ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        if (n <= 0) return false;
        pending_.append(buf, static_cast<size_t>(n));
        return true;
    }

    const char *from_ = nullptr;
    int fd_ = -1;
    bool connected_ = false;
    std::string pending_;
};

// Standard error redirected to a file for the life of the object, readable while it grows.
class LogCapture {
public:
    LogCapture() {
        std::fflush(stderr);
        saved_ = dup(2);
        file_ = std::tmpfile();
        dup2(fileno(file_), 2);
    }
    ~LogCapture() {
        std::fflush(stderr);
        dup2(saved_, 2);
        ::close(saved_);
        std::fclose(file_);
    }
    std::string text() const {
        std::string s;
        char buf[4096];
        size_t n;
        ssize_t got;
        off_t off = 0;
        while ((got = pread(fileno(file_), buf, sizeof buf, off)) > 0) {
            n = static_cast<size_t>(got);
            s.append(buf, n);
            off += got;
        }
        return s;
    }
    bool wait_for(const std::string &needle, int timeout_ms = NET_TIMEOUT_MS) const {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        while (text().find(needle) == std::string::npos) {
            if (std::chrono::steady_clock::now() > end) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }

private:
    int saved_ = -1;
    FILE *file_ = nullptr;
};

// Reads of the server's and the world's state, under the lock as a frame would take it.
inline int clients() {
    std::lock_guard lock(frame_rendering_mutex);
    return nclient;
}
// The turtle that client slot cl drives, -1 when the slot is free.
inline int turtle_of(int cl) {
    std::lock_guard lock(frame_rendering_mutex);
    return client_tab[cl].tid;
}
inline turtle snapshot(int tid) {
    std::lock_guard lock(frame_rendering_mutex);
    return ttl[tid];
}
// Waits, drawing frames as the window would, until the server holds n clients.
inline bool wait_clients(int n) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(NET_TIMEOUT_MS);
    while (clients() != n) {
        if (std::chrono::steady_clock::now() > end) return false;
        frame();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Starts the server once per process on a free port; every test begins with the start-up world
// and no client.
class NetTest : public ::testing::Test {
protected:
    void SetUp() override {
        {
            std::lock_guard lock(frame_rendering_mutex);
            reset_world();
        }
        static bool started = false;
        if (!started) {
            start_tcp_server(0);
            started = true;
        }
        ASSERT_GT(tcp_server_port(), 0);
    }
    void TearDown() override {
        // Tests close their clients; wait until the server has let them go.
        wait_clients(0);
    }
};

// The reply line the server must send for a payload (empty for none) at the current tick.
inline std::string reply(const std::string &payload, bool ok = true, unsigned events = 0) {
    char buf[1200];
    std::snprintf(buf, sizeof buf, "%s%s%s @ %lu %u", payload.c_str(),
                  payload.empty() ? "" : " ", ok ? "OK" : "ERR",
                  static_cast<unsigned long>(elapsed_time.load()), events);
    return buf;
}
