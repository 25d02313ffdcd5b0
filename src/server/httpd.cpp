// httpd.cpp: the web viewer server's sockets and threads: the listening thread, which accepts
// and starts one thread per connection (at most HTTP_MAX_CONNECTIONS), and the connection
// thread's request loop and responses. Sockets, listening and accepting come from net.h; the
// responses have their own blocking send, which net.h's non-blocking helpers do not cover.
#include "server/httpd.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <system_error>
#include <thread>
#include <utility>

#include "server/net.h"
#include "world/field.h"

namespace {

constexpr int LISTEN_BACKLOG = 10;
constexpr int ACCEPT_RETRY_MS = 100;  // pause after a transient accept() failure
constexpr int SEND_TIMEOUT_S = 60;    // a peer that takes nothing for this long is dropped
constexpr const char *SERVER_NAME = "Kelpmoor";
constexpr const char *SERVER_VERSION = "0.1";

std::atomic<int> bound_port{-1};
std::atomic<int> connections{0};

// Ends the count of a connection thread that accept counted before starting it.
struct connection_slot {
    connection_slot() = default;
    connection_slot(const connection_slot &) = delete;
    connection_slot &operator=(const connection_slot &) = delete;
    ~connection_slot() { connections.fetch_sub(1); }
};

// One piece of a response. More pieces follow when `more` is set: the kernel holds them back
// and sends the response in as few segments as it can, without waiting for acknowledgements.
bool send_piece(int fd, const void *data, std::size_t n, bool more) {
    const char *p = static_cast<const char *>(data);
    const int flags = MSG_NOSIGNAL | (more ? MSG_MORE : 0);
    while (n > 0) {
        const ssize_t r = ::send(fd, p, n, flags);
        if (r < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += r;
        n -= static_cast<std::size_t>(r);
    }
    return true;
}

// One NUL-terminated text as one piece; a failure is reported on standard error.
bool send_data(int fd, const char *out, bool more = true) {
    if (send_piece(fd, out, std::strlen(out), more)) return true;
    std::fputs("error sending data to client\n", stderr);
    return false;
}

// Waits until fd is readable, taking the time waited from budget_ms. False on timeout, error
// or an exhausted budget.
bool wait_readable(int fd, long &budget_ms) {
    using clock = std::chrono::steady_clock;
    while (budget_ms > 0) {
        pollfd p{fd, POLLIN, 0};
        const auto start = clock::now();
        const int r = ::poll(&p, 1, static_cast<int>(budget_ms));
        budget_ms -=
            std::chrono::duration_cast<std::chrono::milliseconds>(clock::now() - start).count();
        if (r > 0) return true;
        if (r == 0 || errno != EINTR) return false;
    }
    return false;
}

void handle_connection(Socket conn) {
    const connection_slot counted;
    const int fd = conn.fd();
    // Responses leave in whole pieces (MSG_MORE); the last one must not wait for an ACK.
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    timeval send_timeout{SEND_TIMEOUT_S, 0};
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &send_timeout, sizeof send_timeout);

    long budget_ms = HTTP_IDLE_BUDGET_MS;
    char buf[HTTP_RECEIVE_BYTES];
    for (;;) {
        if (!wait_readable(fd, budget_ms)) break;
        const ssize_t n = receive_some(fd, buf, sizeof buf);
        if (n <= 0) break;
        http_request req;
        if (!parse_request(buf, static_cast<std::size_t>(n), req)) break;
        const content_ptr body = generate_content(req.uri.c_str());
        if (!send_response(fd, req, body.get())) break;
        if (req.keep < 0) break;
    }
    ::shutdown(fd, SHUT_RDWR);
    conn.reset();
}

bool transient_accept_error(int err) {
    return err == EINTR || err == ECONNABORTED || err == EMFILE || err == ENFILE ||
           err == ENOBUFS || err == ENOMEM || err == EPROTO || err == EPERM;
}

void httpd(Socket listener) {
    std::fprintf(stderr, "httpd: listening for connections on port %d...\n", bound_port.load());
    for (;;) {
        sockaddr_in peer{};
        Socket conn = accept_peer(listener.fd(), &peer);
        if (!conn.valid()) {
            const int err = errno;
            if (err == ECONNABORTED) continue;
            std::fputs("cannot accept connection\n", stderr);
            if (!transient_accept_error(err)) return;  // the listener stays open
            std::this_thread::sleep_for(std::chrono::milliseconds(ACCEPT_RETRY_MS));
            continue;
        }
        const peer_text who = format_peer(peer);
        if (private_mode.load() != 0 && !peer_is_local_host(peer)) {
            std::fprintf(stderr, "accept_connection(): reject connection from %s %d\n", who.host,
                         who.port);
            continue;
        }
        if (connections.load() >= HTTP_MAX_CONNECTIONS) {
            std::fprintf(stderr, "httpd(): %d connections open, closing the one from %s %d\n",
                         HTTP_MAX_CONNECTIONS, who.host, who.port);
            continue;
        }
        std::fprintf(stderr, "http connected from %s %d\n", who.host, conn.fd());
        // Counted before the thread exists, so a burst cannot overshoot the cap.
        connections.fetch_add(1);
        try {
            std::thread(handle_connection, std::move(conn)).detach();
        } catch (const std::system_error &) {
            connections.fetch_sub(1);
            std::fputs("error creating new thread for handle_connection()\n", stderr);
        }
    }
}

}  // namespace

bool send_response(int fd, const http_request &req, const container *body) {
    char line[1024];
    const bool get = req.method == HTTP_GET;
    if (body == nullptr) {
        if (!send_data(fd, "HTTP/1.1 404 Not Found\r\n")) return false;
        std::snprintf(line, sizeof line, "Server: %s/%s\r\n", SERVER_NAME, SERVER_VERSION);
        if (!send_data(fd, line)) return false;
        if (get) {
            if (!send_data(fd, "Content-Type: text/html; charset=iso-8859-1\r\n")) return false;
            std::snprintf(line, sizeof line, "Content-Length: %d\r\n",
                          static_cast<int>(std::strlen(msg404)));
            if (!send_data(fd, line)) return false;
        }
        if (!send_data(fd, "\r\n", get)) return false;
        return !get || send_data(fd, msg404, false);
    }
    if (!send_data(fd, "HTTP/1.1 200 OK\r\n")) return false;
    std::snprintf(line, sizeof line, "Content-Type: %s\r\n", mime_type_name(body->mimetype));
    if (!send_data(fd, line)) return false;
    if (get) {
        std::snprintf(line, sizeof line, "Content-Length: %d\r\n", body->length);
        if (!send_data(fd, line)) return false;
    }
    if (!send_data(fd, "Connection: Keep-Alive\r\n")) return false;
    std::snprintf(line, sizeof line, "Server: %s/%s\r\n", SERVER_NAME, SERVER_VERSION);
    if (!send_data(fd, line)) return false;
    const bool with_body = get && body->length > 0;
    if (!send_data(fd, "\r\n", with_body)) return false;
    if (!with_body) return true;
    for (int at = 0; at < body->length; at += HTTP_PIECE_BYTES) {
        const int n = std::min(HTTP_PIECE_BYTES, body->length - at);
        if (!send_piece(fd, body->data + at, static_cast<std::size_t>(n), at + n < body->length)) {
            std::fputs("error sending data to client\n", stderr);
            return false;
        }
    }
    return true;
}

int start_httpd(int port) {
    // A browser that goes away mid-response must not end the program.
    std::signal(SIGPIPE, SIG_IGN);
    listen_failure failure;
    Socket s = open_listener(static_cast<unsigned short>(port), LISTEN_BACKLOG, &failure);
    if (failure == listen_failure::socket) {
        std::fputs("cannot create socket\n", stderr);
        return -1;
    }
    if (!s.valid()) {
        std::fprintf(stderr,
                     failure == listen_failure::bind ? "httpd(): cannot bind to port %d\n"
                                                     : "httpd(): cannot listen to port %d\n",
                     port);
        field_set_socket_error();
        return -1;
    }
    bound_port = local_port(s.fd());
    try {
        std::thread(httpd, std::move(s)).detach();
    } catch (const std::system_error &) {
        bound_port = -1;
        return -1;
    }
    return 0;
}

int httpd_port() { return bound_port.load(); }

int httpd_connections() { return connections.load(); }
