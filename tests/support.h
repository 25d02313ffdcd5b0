// support.h: what every test needs: a fresh world, turtles placed by hand, a window for drawing
// tests, the frame lock, and a loopback client for the servers started inside the test process.
#pragma once

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

// The standard headers most tests use.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "draw/frame.h"
#include "kelpmoor.h"
#include "world/field.h"
#include "world/turtle.h"

// Returns the world and every flag to the state start-up leaves them in. Every test starts
// so: support.cpp resets the world, under the frame lock, before each test begins.
void reset_world();

// A live slot at (x, y) facing heading, driven by client tid, with extra kind bits
// (ST_STONE, ST_ZOMBIE...) and a team; ntmax grows to cover it.
void place(int tid, double x, double y, double heading = 0.0, uint32_t kind = 0, int team = 0);

// A stroke in progress behind slot tid: history entry k at (10 k + 1, -5 k), in colour
// (0.1 k, 0.5, 1 - 0.1 k), with width 1 + k.
void fill_history(int tid);

// Opens the real 512 x 512 window once per process (Xvfb in CI) and resets the world.
// Drawing tests call display() or glutMainLoopEvent() themselves.
void open_test_window();

// The back buffer once drawing has finished, bottom row first: read after a frame, before any
// swap. pixel_at gives the pixel of field point (x, y) in the top view.
using rgb8 = std::array<unsigned char, 3>;
std::vector<rgb8> window_pixels();
rgb8 pixel_at(const std::vector<rgb8> &px, double x, double y);
// A PNG's pixels as RGB, rows from the top; empty unless it is a w x h picture.
std::vector<rgb8> png_pixels(const std::string &png, unsigned w, unsigned h);
std::string read_file(const std::string &path);  // its bytes; empty when it cannot be read

// f() under the frame lock, as a frame or a key action would run it.
template <typename F>
auto locked(F f) {
    std::lock_guard lock(frame_rendering_mutex);
    return f();
}

// What was written to standard error since CaptureStderr() holds every one of the lines. The
// servers log an accepted, refused or closed connection before a client can see the effect.
inline void expect_logged(std::initializer_list<const char *> lines) {
    const std::string log = testing::internal::GetCapturedStderr();
    for (const char *l : lines) EXPECT_NE(log.find(l), std::string::npos) << l << " in:\n" << log;
}

inline constexpr int NET_TIMEOUT_MS = 3000;  // longest wait for something that must happen

// Polls until done() holds, running idle() (when given) between looks; false after
// NET_TIMEOUT_MS.
bool eventually(const std::function<bool()> &done, const std::function<void()> &idle = {});

// What a frame does to the command server: resets every client's pacing and wakes it.
void server_frame();

// The command server's reply line for a payload (empty for none) at the current tick.
std::string reply(const std::string &payload, bool ok = true, unsigned events = 0);

// A TCP client of a server in this process on 127.0.0.1. `from` binds that local address and
// receive_buffer > 0 sets SO_RCVBUF, both before connecting; port 0 leaves the connecting to
// connect_to(). With idle set, every wait runs idle() about once a millisecond.
struct LoopClient {
    explicit LoopClient(int port, const char *from = nullptr, int receive_buffer = 0);
    ~LoopClient() { ::close(fd); }
    LoopClient(const LoopClient &) = delete;
    LoopClient &operator=(const LoopClient &) = delete;

    bool connect_to(int port);
    void send(std::string_view text) { ::send(fd, text.data(), text.size(), MSG_NOSIGNAL); }
    ssize_t fill(int ms);         // bytes read into got within ms; 0 once closed, -1 when none came
    std::string take(size_t n) {  // up to n bytes of got, taken off
        while (got.size() < n && fill(NET_TIMEOUT_MS) > 0) {
        }
        std::string head = got.substr(0, n);
        got.erase(0, head.size());
        return head;
    }
    // got through the next `end`, taken off; nothing when the server falls silent or closes.
    std::optional<std::string> take_through(std::string_view end, int ms = NET_TIMEOUT_MS) {
        while (got.find(end) == std::string::npos) {
            if (fill(ms) <= 0) return {};
        }
        return take(got.find(end) + end.size());
    }
    std::optional<std::string> line(int ms = NET_TIMEOUT_MS) {  // without its line feed
        auto l = take_through("\n", ms);
        if (l) l->pop_back();
        return l;
    }
    std::string ask(std::string_view command) {  // one command and its reply line
        send(std::string(command) + "\n");
        return line().value_or("<no reply>");
    }
    // An HTTP request sent, and its response: the head and as much body as its Content-Length
    // announces; empty when none came.
    std::string respond(const std::string &request) {
        send(request);
        const std::string h = take_through("\r\n\r\n").value_or("");
        const size_t at = h.find("Content-Length: ");
        return at == std::string::npos ? h : h + take(std::stoul(h.substr(at + 16)));
    }
    std::string get(const std::string &path) {  // the body of GET /path, or "<no response>"
        const std::string r = respond("GET /" + path + " HTTP/1.1\r\nHost: x\r\n\r\n");
        return r.empty() ? "<no response>" : r.substr(r.find("\r\n\r\n") + 4);
    }
    // Nothing arrives within ms and the connection stays open.
    bool quiet(int ms = 50) { return got.empty() && fill(ms) < 0; }
    // The server closes the connection (after any replies still in flight).
    bool closed_by_server() {
        return eventually([&] { return fill(10) == 0; }, idle);
    }

    int fd;
    bool connected = false;
    std::string got;  // received and not taken yet
    std::function<void()> idle;
};
