// fuzz_commands.cpp: libFuzzer target for a client's byte stream. The input, cut into pieces
// of pseudo-random sizes with a frame after each, goes through a socket pair into a client slot
// and the server's own reading, splitting and executing (adopt_client, serve_client). Checks:
// one well-formed reply line per complete command, none for the unfinished rest, the client's
// buffer always zero-terminated within its size, the client never closed by its own bytes.
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

#include "../reply_format.h"
#include "server/tcpserver.h"
#include "world/field.h"
#include "world/turtle.h"

namespace {

[[noreturn]] void fail(const char *what, const std::string &detail) {
    std::fprintf(stderr, "fuzz_commands: %s: [%s]\n", what, detail.c_str());
    std::abort();
}

// Complete commands in the bytes: separator-terminated runs holding at least one byte that
// can start a command (printable, not a space).
int complete_commands(const uint8_t *data, size_t n) {
    int count = 0;
    bool started = false;
    for (size_t i = 0; i < n; i++) {
        if (data[i] == '\n' || data[i] == ';') {
            count += started;
            started = false;
        } else if (data[i] > ' ' && data[i] < 128) {
            started = true;
        }
    }
    return count;
}

void read_available(int fd, std::string &out) {
    char buf[4096];
    for (ssize_t r; (r = ::read(fd, buf, sizeof buf)) > 0;) out.append(buf, static_cast<size_t>(r));
}

bool readable(int fd) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & POLLIN);
}

void end_frame() {
    std::lock_guard lock(frame_rendering_mutex);
    elapsed_time++;
    for (auto &c : client_tab) c.nup = 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    {
        std::lock_guard lock(frame_rendering_mutex);
        field_reset_world();
    }
    int sv[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, sv) != 0) fail("socketpair", "");
    const int mine = sv[0];
    ::fcntl(mine, F_SETFL, O_NONBLOCK);
    const int cl = adopt_client(sv[1]);
    if (cl < 0) fail("no slot", "");
    const int server_fd = client_tab[cl].socket.fd();

    // Piece sizes from a generator seeded by the input, so that the same input cuts the same.
    uint32_t seed = 2166136261u;
    for (size_t i = 0; i < size && i < 16; i++) seed = (seed ^ data[i]) * 16777619u;
    std::string replies;
    for (size_t at = 0; at < size;) {
        seed ^= seed << 13;
        seed ^= seed >> 17;
        seed ^= seed << 5;
        const size_t piece = std::min<size_t>(size - at, 1 + seed % 700);
        if (::write(mine, data + at, piece) != static_cast<ssize_t>(piece)) fail("write", "");
        at += piece;
        while (readable(server_fd)) {
            if (!serve_client(cl)) fail("client closed by its own bytes", "");
            const tcpclient &c = client_tab[cl];
            if (c.len < 0 || c.len >= CLIENT_BUFFER_SIZE || c.buffer[c.len] != '\0') {
                fail("buffer", std::to_string(c.len));
            }
            end_frame();
        }
        read_available(mine, replies);
    }
    read_available(mine, replies);

    const int lines = count_reply_lines(replies);
    if (lines < 0) fail("malformed or unfinished reply", replies.substr(0, 300));
    const int expected = complete_commands(data, size);
    if (lines != expected) {
        fail("reply count", std::to_string(lines) + " for " + std::to_string(expected));
    }

    ::close(mine);
    while (serve_client(cl)) {
    }
    if (nclient != 0) fail("slot not freed", std::to_string(nclient));
    return 0;
}
