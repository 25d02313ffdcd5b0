// httpd.cpp: the web viewer server's sockets and threads: the listening thread, which accepts
// and starts one thread per connection (at most HTTP_MAX_CONNECTIONS; at the cap the connection
// idle longest gives way), the connection thread's request loop, the responses (each in one
// gather write), the hand-over of event streams to their writer, and stopping it all.
#include "server/httpd.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <list>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include "server/net.h"
#include "world/field.h"

namespace {

using clock_type = std::chrono::steady_clock;

constexpr int LISTEN_BACKLOG = 10;
constexpr int ACCEPT_RETRY_MS = 100;  // pause after a transient accept() failure
constexpr int SEND_TIMEOUT_S = 60;    // a peer that takes nothing for this long is dropped
constexpr int GIVE_WAY_MS = 200;      // longest wait for an idle connection to give way
constexpr int STOP_WAIT_MS = 2000;    // longest wait for the connection threads at a stop
constexpr const char *SERVER_NAME = "Kelpmoor";
constexpr const char *SERVER_VERSION = "0.1";

std::atomic<int> bound_port{-1};
std::atomic<int> connections{0};
std::atomic<bool> stopping{false};

// The open connections, so that the longest idle can be made to give way and a stop can end
// them all. The connection thread owns its socket; others only shut it down, under the lock
// that the thread takes before closing it.
struct open_connection {
    int fd;
    bool idle;                     // waiting for its next request
    clock_type::time_point since;  // when it began to wait
};
std::mutex open_mutex;
std::list<open_connection> open_connections;

Socket listener;       // owned here so that stop_httpd can wake the acceptor
std::thread acceptor;  // guarded by open_mutex

void set_idle(std::list<open_connection>::iterator me, bool idle) {
    std::lock_guard lock(open_mutex);
    me->idle = idle;
    me->since = clock_type::now();
}

// Sends every piece, in as few calls as the socket allows. False on an error or a timeout.
bool send_gathered(int fd, std::vector<iovec> &pieces) {
    std::size_t first = 0;
    while (first < pieces.size()) {
        msghdr m{};
        m.msg_iov = &pieces[first];
        m.msg_iovlen = std::min<std::size_t>(pieces.size() - first, IOV_MAX);
        ssize_t n = ::sendmsg(fd, &m, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        while (first < pieces.size() && static_cast<std::size_t>(n) >= pieces[first].iov_len) {
            n -= static_cast<ssize_t>(pieces[first].iov_len);
            first++;
        }
        if (first < pieces.size()) {
            pieces[first].iov_base = static_cast<char *>(pieces[first].iov_base) + n;
            pieces[first].iov_len -= static_cast<std::size_t>(n);
        }
    }
    return true;
}

// Waits until fd is readable, taking the time waited from budget_ms. False on timeout, error
// or an exhausted budget.
bool wait_readable(int fd, long &budget_ms) {
    while (budget_ms > 0) {
        pollfd p{fd, POLLIN, 0};
        const auto start = clock_type::now();
        const int r = ::poll(&p, 1, static_cast<int>(budget_ms));
        budget_ms -=
            std::chrono::duration_cast<std::chrono::milliseconds>(clock_type::now() - start)
                .count();
        if (r > 0) return true;
        if (r == 0 || errno != EINTR) return false;
    }
    return false;
}

// The request loop of one connection. Ends with the connection, or hands it to the stream
// writer once it asked for the event stream.
void serve_connection(Socket conn, std::list<open_connection>::iterator me) {
    const int fd = conn.fd();
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    timeval send_timeout{SEND_TIMEOUT_S, 0};
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &send_timeout, sizeof send_timeout);

    long budget_ms = HTTP_IDLE_BUDGET_MS;
    char buf[HTTP_RECEIVE_BYTES];
    bool adopted = false;
    while (!stopping.load()) {
        if (!wait_readable(fd, budget_ms)) break;
        set_idle(me, false);
        const ssize_t n = receive_some(fd, buf, sizeof buf);
        if (n <= 0) break;
        http_request req;
        if (!parse_request(buf, static_cast<std::size_t>(n), req)) break;
        const content_ptr body = generate_content(req.uri.c_str());
        if (!send_response(fd, req, body.get())) break;
        if (body->stream && req.method == HTTP_GET) {
            adopted = true;
            break;
        }
        if (req.keep < 0) break;
        set_idle(me, true);
    }
    std::lock_guard lock(open_mutex);
    open_connections.erase(me);
    if (adopted && !stopping.load()) {
        timeval none{0, 0};
        setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &none, sizeof none);
        if (stream_adopt(std::move(conn))) return;
    }
    ::shutdown(fd, SHUT_RDWR);
    conn.reset();
}

// The connection idle longest, shut down so that its thread ends; false when every one is in
// the middle of a request.
bool make_one_give_way() {
    std::lock_guard lock(open_mutex);
    auto oldest = open_connections.end();
    for (auto it = open_connections.begin(); it != open_connections.end(); ++it) {
        if (it->idle && (oldest == open_connections.end() || it->since < oldest->since))
            oldest = it;
    }
    if (oldest == open_connections.end()) return false;
    ::shutdown(oldest->fd, SHUT_RDWR);
    oldest->idle = false;  // not chosen twice
    return true;
}

bool transient_accept_error(int err) {
    return err == EINTR || err == ECONNABORTED || err == EMFILE || err == ENFILE ||
           err == ENOBUFS || err == ENOMEM || err == EPROTO || err == EPERM;
}

// Room for one more connection thread: there is, or the longest idle gave way in time.
bool room_for_one_more() {
    if (connections.load() < HTTP_MAX_CONNECTIONS) return true;
    if (!make_one_give_way()) return false;
    const auto end = clock_type::now() + std::chrono::milliseconds(GIVE_WAY_MS);
    while (connections.load() >= HTTP_MAX_CONNECTIONS && clock_type::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return connections.load() < HTTP_MAX_CONNECTIONS;
}

void start_connection(Socket conn) {
    std::list<open_connection>::iterator me;
    {
        std::lock_guard lock(open_mutex);
        me = open_connections.insert(open_connections.end(), {conn.fd(), true, clock_type::now()});
    }
    // Counted before the thread exists, so a burst cannot overshoot the cap.
    connections.fetch_add(1);
    try {
        std::thread([c = std::move(conn), me]() mutable {
            serve_connection(std::move(c), me);
            connections.fetch_sub(1);
        }).detach();
    } catch (const std::system_error &) {
        connections.fetch_sub(1);
        std::lock_guard lock(open_mutex);
        open_connections.erase(me);
        std::fputs("error creating new thread for handle_connection()\n", stderr);
    }
}

void httpd(int listen_fd) {
    std::fprintf(stderr, "httpd: listening for connections on port %d...\n", bound_port.load());
    while (!stopping.load()) {
        sockaddr_in peer{};
        Socket conn = accept_peer(listen_fd, &peer);
        if (!conn.valid()) {
            const int err = errno;
            if (stopping.load()) return;
            if (err == ECONNABORTED) continue;
            std::fputs("cannot accept connection\n", stderr);
            if (!transient_accept_error(err)) return;  // the port stays bound, unserved
            std::this_thread::sleep_for(std::chrono::milliseconds(ACCEPT_RETRY_MS));
            continue;
        }
        const peer_text who = format_peer(peer);
        if (private_mode.load() != 0 && !peer_is_local_host(peer)) {
            std::fprintf(stderr, "accept_connection(): reject connection from %s %d\n", who.host,
                         who.port);
            continue;
        }
        if (!room_for_one_more()) {
            std::fprintf(stderr, "httpd(): %d connections open, closing the one from %s %d\n",
                         HTTP_MAX_CONNECTIONS, who.host, who.port);
            continue;
        }
        std::fprintf(stderr, "http connected from %s %d\n", who.host, conn.fd());
        start_connection(std::move(conn));
    }
}

}  // namespace

bool send_response(int fd, const http_request &req, const container *body) {
    const bool get = req.method == HTTP_GET;
    char server[64], type[96], length[64];
    std::snprintf(server, sizeof server, "Server: %s/%s\r\n", SERVER_NAME, SERVER_VERSION);
    std::vector<iovec> pieces;
    pieces.reserve(8 + (body != nullptr ? body->length / HTTP_PIECE_BYTES : 0));
    const auto text = [&](const char *t) {
        pieces.push_back({const_cast<char *>(t), std::strlen(t)});
    };
    if (body == nullptr || body->not_found) {
        text("HTTP/1.1 404 Not Found\r\n");
        text(server);
        if (get) {
            text("Content-Type: text/html; charset=iso-8859-1\r\n");
            std::snprintf(length, sizeof length, "Content-Length: %d\r\n",
                          static_cast<int>(std::strlen(msg404)));
            text(length);
        }
        text("\r\n");
        if (get) text(msg404);
    } else {
        text("HTTP/1.1 200 OK\r\n");
        std::snprintf(type, sizeof type, "Content-Type: %s\r\n", mime_type_name(body->mimetype));
        text(type);
        if (get && !body->stream) {
            std::snprintf(length, sizeof length, "Content-Length: %d\r\n", body->length);
            text(length);
        }
        text("Connection: Keep-Alive\r\n");
        text(server);
        if (!body->headers.empty()) text(body->headers.c_str());
        text("\r\n");
        for (int at = 0; get && at < body->length; at += HTTP_PIECE_BYTES) {
            const int n = std::min(HTTP_PIECE_BYTES, body->length - at);
            pieces.push_back(
                {const_cast<unsigned char *>(body->data + at), static_cast<std::size_t>(n)});
        }
    }
    if (send_gathered(fd, pieces)) return true;
    std::fputs("error sending data to client\n", stderr);
    return false;
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
    std::lock_guard lock(open_mutex);
    stopping = false;
    stream_start();
    listener = std::move(s);
    try {
        acceptor = std::thread(httpd, listener.fd());
    } catch (const std::system_error &) {
        bound_port = -1;
        listener.reset();
        return -1;
    }
    // Quitting stops the server before exit() runs any destructor; a plain exit() does too.
    static const bool stop_at_exit = (add_quit_hook(stop_httpd), std::atexit(stop_httpd), true);
    (void)stop_at_exit;
    return 0;
}

void stop_httpd() {
    std::thread accepting;
    {
        std::lock_guard lock(open_mutex);
        stopping = true;
        if (listener.valid()) ::shutdown(listener.fd(), SHUT_RDWR);
        for (const open_connection &c : open_connections) ::shutdown(c.fd, SHUT_RDWR);
        accepting = std::move(acceptor);
    }
    if (accepting.joinable()) accepting.join();
    stream_stop();
    const auto end = clock_type::now() + std::chrono::milliseconds(STOP_WAIT_MS);
    while (connections.load() > 0 && clock_type::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    std::lock_guard lock(open_mutex);
    listener.reset();
    bound_port = -1;
}

int httpd_port() { return bound_port.load(); }

int httpd_connections() { return connections.load(); }
