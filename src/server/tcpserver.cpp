// tcpserver.cpp: the command server. One thread waits on the listening socket and every client
// at once, executes complete commands in batches paced by frames, and answers each with one line.
#include "server/tcpserver.h"

#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

#include "server/client_io.h"
#include "server/commands.h"
#include "server/net.h"
#include "world/field.h"
#include "world/turtle.h"

int nclient = 0;
int server_socket = -1;

namespace {

// The lock as the server holds it while it reads and executes: handed over to a frame that
// waits, and given up for a moment whenever it has been held for HOLD_LIMIT.
class command_hold {
public:
    command_hold() : lock_(frame_rendering_mutex), since_(hold_clock::now()) {}
    hold_clock::time_point yield_at() const { return since_ + HOLD_LIMIT; }
    bool should_yield() const { return frame_is_waiting() || hold_clock::now() >= yield_at(); }
    void yield() {
        if (!let_frame_in(lock_)) {
            lock_.unlock();
            std::this_thread::yield();
            lock_.lock();
        }
        since_ = hold_clock::now();
    }

private:
    static constexpr auto HOLD_LIMIT = std::chrono::microseconds(1000);
    std::unique_lock<std::mutex> lock_;
    hold_clock::time_point since_;
};

// The pieces of the loop; only the server thread calls them.
int accept_connection(int sv_sock);                    // the new socket, or -1
int accept_socket(Socket s, const sockaddr_in &peer);  // the new socket, or -1
int check_client_status();                             // 0
void disconnect_client(int cl);

inline constexpr int WAIT_MS = 5;             // longest wait of one pass
inline constexpr int LISTEN_BACKLOG = 10;     // pending connections
inline constexpr int COMMANDS_PER_TURN = 16;  // one client's commands before the next client's

// What the server thread keeps besides the client table. Never freed: a test process ends
// with its server thread still running, and static destructors must not close under it.
struct server_state {
    Socket listener;
    Socket wake;  // eventfd: a frame ended, a client was marked or a stop asked for: look now
    std::thread thread;
    std::atomic<bool> stop{false};
    bool listener_ready = false;            // result of the last wait
    std::array<short, MAX_CLIENT> ready{};  // poll revents of each client in the last wait
    int first = 0;                          // client served first in the next pass
    // The serving window: from one frame's end to the next, at most SERVE_WINDOW long.
    hold_clock::time_point window_start{};
    hold_clock::duration busy{};  // spent in the window on turns that left commands waiting
    uint64_t frames_seen = 0;     // frames_ended when the window began
};

server_state &state() {
    static server_state *s = new server_state;
    return *s;
}

std::atomic<uint64_t> frames_ended{0};

// Clients that send commands far faster than they are answered (floods of pipelined queries)
// would keep the server busy on a whole core, and on a machine with few cores the frame would
// get a share no larger than theirs. A turn that leaves commands waiting in the client's buffer
// is such work: within each window the server spends SERVE_BUDGET at most on it, then serves
// only the clients with nothing waiting until the window ends (at the next frame's end at the
// latest). A client that asks and waits, however fast, never leaves commands waiting.
inline constexpr auto SERVE_WINDOW = std::chrono::milliseconds(8);
inline constexpr auto SERVE_BUDGET = std::chrono::milliseconds(2);

// How long the server rests before it may serve again; zero when it may serve now.
hold_clock::duration serving_rest() {
    server_state &st = state();
    const auto now = hold_clock::now();
    const uint64_t frames = frames_ended.load();
    if (frames != st.frames_seen || now - st.window_start >= SERVE_WINDOW) {
        st.window_start = now;
        st.busy = {};
        st.frames_seen = frames;
    }
    if (st.busy < SERVE_BUDGET) return {};
    return st.window_start + SERVE_WINDOW - now;
}

bool may_serve(int cl, bool resting) { return !resting || !client_tab[cl].pending; }

std::atomic<int> wake_fd{-1};
std::atomic<int> bound_port{-1};
std::atomic<int> served_clients{DEFAULT_CLIENT_LIMIT};

void wake_server() {
    int fd = wake_fd.load(std::memory_order_relaxed);
    if (fd < 0) return;
    uint64_t one = 1;
    ssize_t r;
    do {
        r = ::write(fd, &one, sizeof one);
    } while (r < 0 && errno == EINTR);
}

void drain_wake() {
    uint64_t count;
    ssize_t r;
    do {
        r = ::read(state().wake.fd(), &count, sizeof count);
    } while (r < 0 && errno == EINTR);
}

void free_slot(tcpclient &c) {
    c.socket.reset();
    c.addr = sockaddr_in{};
    c.tid = -1;
    c.buffer[0] = '\0';
    c.len = 0;
    c.nup = 0;
    c.to_be_disconnected = 0;
    c.discarding = 0;
    c.pending = 0;
    c.gone = 0;
    c.out_start = 0;
    c.out_len = 0;
}

Socket init_socket(unsigned short port) {
    listen_failure failure;
    Socket s = open_listener(port, LISTEN_BACKLOG, &failure);
    switch (failure) {
    case listen_failure::none: break;
    case listen_failure::socket:
        std::fputs("init_socket(): cannot open TCP socket\n", stderr);
        break;
    case listen_failure::bind:
        std::fprintf(stderr, "init_socket(): cannot bind to port %d\n", port);
        break;
    case listen_failure::listen:
        std::fprintf(stderr, "init_socket(): listen() failure for port %d\n", port);
        break;
    }
    if (!s.valid()) return {};
    set_nonblocking(s.fd());  // the loop polls it and must never wait in accept
    for (auto &c : client_tab) free_slot(c);
    nclient = 0;
    return s;
}

// Closes the clients marked by the main thread (turtle dead or killed, left alone) and those
// that stopped reading their replies (turtle left as a zombie). The one place clients close.
void close_marked_clients() {
    bool any = false;
    for (const auto &c : client_tab) {
        if (c.socket.valid() && (c.to_be_disconnected || c.gone)) any = true;
    }
    if (!any) return;
    std::lock_guard lock(frame_rendering_mutex);
    for (int cl = 0; cl < MAX_CLIENT; cl++) {
        tcpclient &c = client_tab[cl];
        if (!c.socket.valid()) continue;
        if (c.to_be_disconnected) {
            disconnect_client(cl);
        } else if (c.gone) {
            make_zombie(c.tid);
            disconnect_client(cl);
        }
    }
}

// One wait on the listening socket, the wake-up descriptor, the clients that may be read now
// (nup 0, nothing left of their last read) and the clients with replies still to send: at most
// WAIT_MS, or none at all while some client has commands left to execute.
void wait_for_activity(int sv_sock) {
    server_state &st = state();
    std::array<pollfd, 2 + MAX_CLIENT> fds{};
    std::array<int, MAX_CLIENT> index{};
    int n = 0;
    fds[n++] = {sv_sock, POLLIN, 0};
    int wake_index = -1;
    if (st.wake.valid()) {
        wake_index = n;
        fds[n++] = {st.wake.fd(), POLLIN, 0};
    }
    const auto rest = serving_rest();
    const bool resting = rest > hold_clock::duration::zero();
    int timeout = WAIT_MS;
    if (resting) {
        timeout = static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(rest).count());
    }
    for (int cl = 0; cl < MAX_CLIENT; cl++) {
        const tcpclient &c = client_tab[cl];
        index[cl] = -1;
        if (!c.socket.valid() || c.gone || c.to_be_disconnected) continue;
        const bool serve = may_serve(cl, resting);
        if (c.pending && serve) timeout = 0;
        short events = 0;
        if (serve && !c.pending && c.nup.load(std::memory_order_relaxed) == 0) events |= POLLIN;
        if (c.out_len > 0) events |= POLLOUT;
        if (events == 0) continue;
        index[cl] = n;
        fds[n++] = {c.socket.fd(), events, 0};
    }
    st.listener_ready = false;
    st.ready.fill(0);
    // EINTR and other errors count as a timeout: the loop comes straight back here.
    if (poll(fds.data(), n, timeout) <= 0) return;
    st.listener_ready = (fds[0].revents & POLLIN) != 0;
    if (wake_index >= 0 && (fds[wake_index].revents & POLLIN)) drain_wake();
    for (int cl = 0; cl < MAX_CLIENT; cl++) {
        if (index[cl] >= 0) st.ready[cl] = fds[index[cl]].revents;
    }
}

void check_connection(int sv_sock) {
    if (state().listener_ready) accept_connection(sv_sock);
}

void server_thread_func() {
    std::signal(SIGPIPE, SIG_IGN);
    while (!state().stop.load()) {
        wait_for_activity(server_socket);
        // Clients first: one that left frees its slot before a newcomer is counted against
        // MAX_CLIENT, so a client arriving just after others left is never refused.
        check_client_status();
        check_connection(server_socket);
    }
}

}  // namespace

namespace {

// The world's links, called on the main thread.
void reset_pacing() {
    for (auto &c : client_tab) c.nup = 0;
    frames_ended++;
}

// Marks client cl for disconnection at the server's next pass if it still drives turtle tid;
// its turtle is left as it is.
void mark_for_disconnection(int tid, int cl) {
    if (cl < 0 || cl >= MAX_CLIENT) return;
    if (client_tab[cl].tid == tid) {
        client_tab[cl].to_be_disconnected = 1;
        wake_server();
    }
}

}  // namespace

void start_tcp_server(int port) {
    server_state &st = state();
    Socket listener = init_socket(static_cast<unsigned short>(port));
    if (!listener.valid()) {
        server_socket = -1;
        field_set_socket_error();
        return;
    }
    bound_port = local_port(listener.fd());
    // Without the eventfd the server still works, only waking at the end of each wait.
    st.wake = Socket(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    wake_fd = st.wake.fd();
    server_socket = listener.fd();
    st.listener = std::move(listener);
    set_world_links({reset_pacing, wake_server, mark_for_disconnection});
    st.thread = std::thread(server_thread_func);
    add_quit_hook(stop_tcp_server);
}

int tcp_server_port() { return bound_port; }

void stop_tcp_server() {
    server_state &st = state();
    if (!st.thread.joinable()) return;
    st.stop = true;
    wake_server();
    st.thread.join();
    std::lock_guard lock(frame_rendering_mutex);
    for (int cl = 0; cl < MAX_CLIENT; cl++) disconnect_client(cl);
    server_socket = -1;
    st.listener.reset();
}

void set_client_limit(int limit) { served_clients = std::clamp(limit, 1, MAX_CLIENT); }
int client_limit() { return served_clients; }
void set_field_commands_local_only(bool on) { field_commands_local_only = on; }

int adopt_client(int fd) {
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int taken = accept_socket(Socket(fd), peer);
    if (taken < 0) return -1;
    for (int cl = 0; cl < MAX_CLIENT; cl++) {
        if (client_tab[cl].socket.fd() == taken) return cl;
    }
    return -1;
}

bool serve_client(int cl) {
    tcpclient &c = client_tab[cl];
    if (!c.socket.valid()) return false;
    {
        std::lock_guard lock(frame_rendering_mutex);
        if (receive_client_packet(cl) <= 0) {
            make_zombie(c.tid);
            disconnect_client(cl);
            return false;
        }
        while (try_to_exec(cl, INT_MAX, hold_clock::time_point::max())) {
        }
    }
    flush_output(cl);
    close_marked_clients();
    return c.socket.valid();
}

namespace {

int accept_connection(int sv_sock) {
    sockaddr_in peer{};
    Socket s = accept_peer(sv_sock, &peer);
    if (!s.valid()) {
        // The connection may have been dropped between the wait and the accept.
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != ECONNABORTED) {
            std::fputs("accept_connection(): accept() failure\n", stderr);
        }
        return -1;
    }
    return accept_socket(std::move(s), peer);
}

int accept_socket(Socket s, const sockaddr_in &peer) {
    const int fd = s.fd();
    // Replies leave at the end of each turn. With Nagle's algorithm the second send of a batch
    // would wait for the client's delayed acknowledgement: pipelining clients would crawl.
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    const peer_text from = format_peer(peer);
    if (nclient >= served_clients) {
        std::fputs("accept_connection(): reaches MAX_CLIENT\n", stderr);
        s.reset();  // after the line: a test sees the close and then reads the log
        return -1;
    }
    if (private_mode && !peer_is_local_host(peer)) {
        std::fprintf(stderr, "accept_connection(): reject connection from %s %d\n", from.host,
                     from.port);
        return -1;
    }
    std::fprintf(stderr, "handling client from %s %d\n", from.host, from.port);
    int cl = 0;
    while (cl < MAX_CLIENT && client_tab[cl].socket.valid()) cl++;
    std::lock_guard lock(frame_rendering_mutex);
    int tid = generate_client_turtle(cl);
    if (tid < 0) return -1;
    tcpclient &c = client_tab[cl];
    free_slot(c);
    c.socket = std::move(s);
    c.addr = peer;
    c.tid = tid;
    state().ready[cl] = 0;
    nclient++;
    return fd;
}

// Under one hold, each client in turn (the first one rotating from pass to pass): what is left
// of its last read, or else a new read if it may be read; at most COMMANDS_PER_TURN commands
// each, the hold yielded between two turns whenever it should be.
int check_client_status() {
    server_state &st = state();
    close_marked_clients();
    auto readable = [&](int cl) {
        const tcpclient &c = client_tab[cl];
        return c.socket.valid() && !c.gone && !c.to_be_disconnected && !c.pending && c.nup == 0 &&
               (st.ready[cl] & (POLLIN | POLLHUP | POLLERR)) != 0;
    };
    const bool resting = serving_rest() > hold_clock::duration::zero();
    auto has_work = [&](int cl) {
        const tcpclient &c = client_tab[cl];
        return may_serve(cl, resting) &&
               (readable(cl) || (c.socket.valid() && c.pending && !c.gone));
    };
    bool any = false;
    for (int cl = 0; cl < MAX_CLIENT; cl++) any = any || has_work(cl);
    if (any) {
        command_hold hold;
        for (int k = 0; k < MAX_CLIENT; k++) {
            const int cl = (st.first + k) % MAX_CLIENT;
            tcpclient &c = client_tab[cl];
            if (!has_work(cl)) continue;
            const auto began = hold_clock::now();
            if (!c.pending) {
                if (receive_client_packet(cl) <= 0) {
                    make_zombie(c.tid);
                    disconnect_client(cl);
                    break;  // later clients are served in the next pass
                }
            }
            c.pending = try_to_exec(cl, COMMANDS_PER_TURN, hold.yield_at());
            flush_output(cl);
            if (c.pending) st.busy += hold_clock::now() - began;
            if (hold.should_yield()) hold.yield();
        }
        st.first = (st.first + 1) % MAX_CLIENT;
    }
    for (int cl = 0; cl < MAX_CLIENT; cl++) {
        const tcpclient &c = client_tab[cl];
        if (c.socket.valid() && c.out_len > 0 && (st.ready[cl] & (POLLOUT | POLLERR | POLLHUP))) {
            flush_output(cl);
        }
    }
    close_marked_clients();
    return 0;
}

void disconnect_client(int cl) {
    if (cl < 0 || cl >= MAX_CLIENT || !client_tab[cl].socket.valid()) return;
    tcpclient &c = client_tab[cl];
    const peer_text from = format_peer(c.addr);
    std::fprintf(stderr, "closing connection from %s %d\n", from.host, from.port);
    free_slot(c);
    nclient--;
}

}  // namespace
