// support.cpp: the shared test helpers.
#include "support.h"

#include <GL/gl.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>

#include <png.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>
#include <thread>

#include "../tools/loopback.h"
#include "server/tcpserver.h"

void reset_world() { field_reset_world(); }

namespace {

struct FreshWorld : testing::EmptyTestEventListener {
    void OnTestStart(const testing::TestInfo &) override {
        std::lock_guard lock(frame_rendering_mutex);
        reset_world();
    }
};
const bool fresh_world_before_each_test =
    (testing::UnitTest::GetInstance()->listeners().Append(new FreshWorld), true);

}  // namespace

void place(int tid, double x, double y, double heading, uint32_t kind, int team) {
    init_turtle(tid, tid, x, y, heading);
    ttl[tid].status |= kind;
    ttl[tid].team = team;
    if (tid >= ntmax) ntmax = tid + 1;
}

void fill_history(int tid) {
    for (int k = 0; k < NHISTORY; k++) {
        ttl[tid].pos[k] = {10.0 * k + 1, -5.0 * k};
        ttl[tid].col[k] = {0.1 * k, 0.5, 1.0 - 0.1 * k};
        ttl[tid].width[k] = 1.0 + k;
    }
}

void open_test_window() {
    static bool opened = false;
    if (!opened) {
        static char arg0[] = "kelpmoor_tests";
        static char *argv[] = {arg0, nullptr};
        field_open_window(1, argv);
        opened = true;
    }
    reset_world();
}

std::vector<rgb8> window_pixels() {
    glFinish();
    std::vector<rgb8> px(static_cast<std::size_t>(WINDOW_SIZE) * WINDOW_SIZE);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadBuffer(GL_BACK);
    glReadPixels(0, 0, WINDOW_SIZE, WINDOW_SIZE, GL_RGB, GL_UNSIGNED_BYTE, px.data());
    return px;
}

rgb8 pixel_at(const std::vector<rgb8> &px, double x, double y) {
    return px[static_cast<std::size_t>(y + 256.0) * WINDOW_SIZE +
              static_cast<std::size_t>(x + 256.0)];
}

bool eventually(const std::function<bool()> &done, const std::function<void()> &idle) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(NET_TIMEOUT_MS);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        if (idle) idle();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void server_frame() { const frame_turn turn; }

std::string reply(const std::string &payload, bool ok, unsigned events) {
    return payload + (payload.empty() ? "" : " ") + (ok ? "OK @ " : "ERR @ ") +
           std::to_string(elapsed_time.load()) + " " + std::to_string(events);
}

LoopClient::LoopClient(int port, const char *from, int receive_buffer)
    : fd(::socket(AF_INET, SOCK_STREAM, 0)) {
    if (receive_buffer > 0) setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receive_buffer, sizeof(int));
    if (from != nullptr) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        inet_pton(AF_INET, from, &a.sin_addr);
        ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
    }
    if (port > 0) connect_to(port);
}

bool LoopClient::connect_to(int port) { return connected = connect_loopback_socket(fd, port); }

ssize_t LoopClient::fill(int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    do {
        if (idle) idle();
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, idle ? 1 : ms) > 0) {
            char buf[65536];
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0) return 0;
            got.append(buf, static_cast<size_t>(n));
            return n;
        }
    } while (idle && std::chrono::steady_clock::now() < end);
    return -1;
}

std::vector<rgb8> png_pixels(const std::string &png, unsigned w, unsigned h) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, png.data(), png.size())) return {};
    image.format = PNG_FORMAT_RGB;
    std::vector<rgb8> px(PNG_IMAGE_SIZE(image) / 3);
    const bool read = png_image_finish_read(&image, nullptr, px.data(), 0, nullptr);
    if (!read || image.width != w || image.height != h) px.clear();
    return px;
}

std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}
