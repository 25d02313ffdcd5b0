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
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <utility>

#include "server/commands.h"
#include "server/net.h"
#include "world/field.h"
#include "world/turtle.h"

tcpclient client_tab[MAX_CLIENT];
int nclient = 0;
int server_socket = -1;

namespace {

// The pieces of the loop; only the server thread calls them.
int accept_connection(int sv_sock);                    // the new socket, or -1
int accept_socket(Socket s, const sockaddr_in &peer);  // the new socket, or -1
int check_client_status();                             // 0
int receive_client_packet(int cl);                     // bytes read; 0 or less: closed or broken
void disconnect_client(int cl);
void try_to_exec(int cl);

inline constexpr int WAIT_MS = 5;          // longest wait of one pass
inline constexpr int LISTEN_BACKLOG = 10;  // pending connections

// What the server thread keeps besides the client table. Never freed: the detached thread uses it
// until the process exits, and static destructors must not close descriptors under it.
struct server_state {
    Socket listener;
    Socket wake;  // eventfd: a frame ended or a client was marked, look again now
    std::array<Socket, MAX_CLIENT> conns;
    bool listener_ready = false;            // result of the last wait
    std::array<short, MAX_CLIENT> ready{};  // poll revents of each client in the last wait
};

server_state &state() {
    static server_state *s = new server_state;
    return *s;
}

std::atomic<int> wake_fd{-1};
std::atomic<int> bound_port{-1};
std::atomic<int> served_clients{DEFAULT_CLIENT_LIMIT};
std::atomic<bool> field_commands_local_only{false};

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
    c.socket = -1;
    c.addr = sockaddr_in{};
    c.tid = -1;
    c.buffer[0] = '\0';
    c.len = 0;
    c.nup = 0;
    c.to_be_disconnected = 0;
    c.discarding = 0;
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

// Queues a reply behind what the client has not taken yet; a client that lets more than
// CLIENT_OUTPUT_LIMIT pile up is marked gone. Never blocks.
void reply(int cl, const std::string &line) {
    const char *data = line.data();
    const int n = static_cast<int>(line.size());
    tcpclient &c = client_tab[cl];
    if (c.gone) return;
    int sent = 0;
    if (c.out_len == 0) {
        ssize_t r = send_some(c.socket, data, n);
        if (r < 0) {
            // A broken connection is noticed by the next read; its replies are dropped.
            if (errno != EAGAIN && errno != EWOULDBLOCK) return;
            r = 0;
        }
        sent = static_cast<int>(r);
    }
    int rest = n - sent;
    if (rest == 0) return;
    if (c.out_len + rest > CLIENT_OUTPUT_LIMIT) {
        c.gone = 1;
        c.out_start = c.out_len = 0;
        return;
    }
    if (c.out_start + c.out_len + rest > CLIENT_OUTPUT_LIMIT) {
        std::memmove(c.out, c.out + c.out_start, c.out_len);
        c.out_start = 0;
    }
    std::memcpy(c.out + c.out_start + c.out_len, data + sent, rest);
    c.out_len += rest;
}

void flush_output(int cl) {
    tcpclient &c = client_tab[cl];
    while (c.out_len > 0) {
        ssize_t r = send_some(c.socket, c.out + c.out_start, c.out_len);
        if (r < 0) {
            if (errno != EAGAIN && errno != EWOULDBLOCK) c.out_len = 0;
            break;
        }
        c.out_start += static_cast<int>(r);
        c.out_len -= static_cast<int>(r);
    }
    if (c.out_len == 0) c.out_start = 0;
}

// Closes the clients marked by the main thread (turtle dead or killed, left alone) and those
// that stopped reading their replies (turtle left as a zombie). The one place clients close.
void close_marked_clients() {
    bool any = false;
    for (const auto &c : client_tab) {
        if (c.socket >= 0 && (c.to_be_disconnected || c.gone)) any = true;
    }
    if (!any) return;
    std::lock_guard lock(frame_rendering_mutex);
    for (int cl = 0; cl < MAX_CLIENT; cl++) {
        tcpclient &c = client_tab[cl];
        if (c.socket < 0) continue;
        if (c.to_be_disconnected) {
            disconnect_client(cl);
        } else if (c.gone) {
            make_zombie(c.tid);
            disconnect_client(cl);
        }
    }
}

// One wait, at most WAIT_MS, on the listening socket, the wake-up descriptor, the clients that
// may be read now (nup 0) and the clients with replies still to send.
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
    for (int cl = 0; cl < MAX_CLIENT; cl++) {
        const tcpclient &c = client_tab[cl];
        index[cl] = -1;
        if (c.socket < 0 || c.gone || c.to_be_disconnected) continue;
        short events = 0;
        if (c.nup.load(std::memory_order_relaxed) == 0) events |= POLLIN;
        if (c.out_len > 0) events |= POLLOUT;
        if (events == 0) continue;
        index[cl] = n;
        fds[n++] = {c.socket, events, 0};
    }
    st.listener_ready = false;
    st.ready.fill(0);
    // EINTR and other errors count as a timeout: the loop comes straight back here.
    if (poll(fds.data(), n, WAIT_MS) <= 0) return;
    st.listener_ready = (fds[0].revents & POLLIN) != 0;
    if (wake_index >= 0 && (fds[wake_index].revents & POLLIN)) drain_wake();
    for (int cl = 0; cl < MAX_CLIENT; cl++) {
        if (index[cl] >= 0) st.ready[cl] = fds[index[cl]].revents;
    }
}

void check_connection(int sv_sock) {
    if (state().listener_ready) accept_connection(sv_sock);
}

void *server_thread_func(void *) {
    std::signal(SIGPIPE, SIG_IGN);
    while (server_socket > 0) {
        wait_for_activity(server_socket);
        // Clients first: one that left frees its slot before a newcomer is counted against
        // MAX_CLIENT, so a client arriving just after others left is never refused.
        check_client_status();
        check_connection(server_socket);
    }
    return nullptr;
}

}  // namespace

namespace {

// The world's links, called on the main thread.
void reset_pacing() {
    for (auto &c : client_tab) c.nup = 0;
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
    std::thread(server_thread_func, nullptr).detach();
}

int tcp_server_port() { return bound_port; }

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
        if (client_tab[cl].socket == taken) return cl;
    }
    return -1;
}

bool serve_client(int cl) {
    tcpclient &c = client_tab[cl];
    if (c.socket < 0) return false;
    {
        std::lock_guard lock(frame_rendering_mutex);
        if (receive_client_packet(cl) <= 0) {
            make_zombie(c.tid);
            disconnect_client(cl);
            return false;
        }
        try_to_exec(cl);
    }
    flush_output(cl);
    close_marked_clients();
    return c.socket >= 0;
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
    // Each reply leaves as it is made. With Nagle's algorithm the second reply of a batch waited
    // for the client's delayed acknowledgement, up to 40 ms: pipelining clients crawled.
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    const peer_text from = format_peer(peer);
    if (nclient >= served_clients) {
        s.reset();
        std::fputs("accept_connection(): reaches MAX_CLIENT\n", stderr);
        return -1;
    }
    if (private_mode && !peer_is_local_host(peer)) {
        std::fprintf(stderr, "accept_connection(): reject connection from %s %d\n", from.host,
                     from.port);
        return -1;
    }
    std::fprintf(stderr, "handling client from %s %d\n", from.host, from.port);
    int cl = 0;
    while (cl < MAX_CLIENT && client_tab[cl].socket >= 0) cl++;
    std::lock_guard lock(frame_rendering_mutex);
    int tid = generate_client_turtle(cl);
    if (tid < 0) return -1;
    tcpclient &c = client_tab[cl];
    free_slot(c);
    c.socket = fd;
    c.addr = peer;
    c.tid = tid;
    state().conns[cl] = std::move(s);
    state().ready[cl] = 0;
    nclient++;
    return fd;
}

int check_client_status() {
    server_state &st = state();
    close_marked_clients();
    auto readable = [&](int cl) {
        const tcpclient &c = client_tab[cl];
        return c.socket >= 0 && !c.gone && !c.to_be_disconnected && c.nup == 0 &&
               (st.ready[cl] & (POLLIN | POLLHUP | POLLERR)) != 0;
    };
    bool any = false;
    for (int cl = 0; cl < MAX_CLIENT; cl++) any = any || readable(cl);
    if (any) {
        std::lock_guard lock(frame_rendering_mutex);
        for (int cl = 0; cl < MAX_CLIENT; cl++) {
            if (!readable(cl)) continue;
            if (receive_client_packet(cl) <= 0) {
                make_zombie(client_tab[cl].tid);
                disconnect_client(cl);
                break;  // later clients are served in the next pass
            }
            try_to_exec(cl);
        }
    }
    for (int cl = 0; cl < MAX_CLIENT; cl++) {
        const tcpclient &c = client_tab[cl];
        if (c.socket >= 0 && c.out_len > 0 && (st.ready[cl] & (POLLOUT | POLLERR | POLLHUP))) {
            flush_output(cl);
        }
    }
    close_marked_clients();
    return 0;
}

int receive_client_packet(int cl) {
    tcpclient &c = client_tab[cl];
    int room = CLIENT_BUFFER_SIZE - 1 - c.len;
    if (room == 0) {
        // The buffer holds one 511-character command (try_to_exec leaves it full for no other
        // reason): only a separator may follow it, and it takes the terminating zero's place.
        char next;
        ssize_t n = receive_some(c.socket, &next, 1);
        if (n <= 0) return static_cast<int>(n);
        auto byte = static_cast<unsigned char>(next);
        if (byte == '\n' || byte == ';') {
            c.buffer[c.len++] = next;
        } else if (byte >= 32 && byte < 128) {
            c.len = 0;
            c.buffer[0] = '\0';
            c.discarding = 1;
        }
        return 1;
    }
    ssize_t n = receive_some(c.socket, c.buffer + c.len, room);
    if (n <= 0) return static_cast<int>(n);
    c.len += static_cast<int>(n);
    c.buffer[c.len] = '\0';
    return static_cast<int>(n);
}

void disconnect_client(int cl) {
    if (cl < 0 || cl >= MAX_CLIENT || client_tab[cl].socket < 0) return;
    tcpclient &c = client_tab[cl];
    const peer_text from = format_peer(c.addr);
    std::fprintf(stderr, "closing connection from %s %d\n", from.host, from.port);
    state().conns[cl].reset();
    free_slot(c);
    nclient--;
}

void try_to_exec(int cl) {
    tcpclient &c = client_tab[cl];
    int i = 0;
    int consumed = 0;
    if (c.discarding) {
        while (i < c.len && c.buffer[i] != '\n' && c.buffer[i] != ';') i++;
        if (i == c.len) {
            c.len = 0;
            c.buffer[0] = '\0';
            return;
        }
        c.discarding = 0;
        reply(cl, answer_back(c.tid, command_result{}));  // ERR for the thrown-away command
        consumed = ++i;
    }
    const bool may_change_field = !field_commands_local_only || peer_is_local_host(c.addr);
    char cmd[CLIENT_BUFFER_SIZE];
    int cmd_len = 0;
    int cmd_start = 0;  // buffer index of the pending command's first byte
    for (; i < c.len; i++) {
        if (c.gone) {
            c.len = 0;  // the client is closed at the end of this pass
            c.buffer[0] = '\0';
            return;
        }
        auto byte = static_cast<unsigned char>(c.buffer[i]);
        if (byte == '\n' || byte == ';') {
            if (cmd_len == 0) continue;
            cmd[cmd_len] = '\0';
            bool paced = false;
            const std::string line = execute_command(cl, c.tid, cmd, &paced, may_change_field);
            if (paced) c.nup++;
            reply(cl, line);
            consumed = i + 1;
            cmd_len = 0;
        } else if (byte < 32 || byte >= 128 || (byte == ' ' && cmd_len == 0)) {
            continue;
        } else {
            if (cmd_len == 0) cmd_start = i;
            cmd[cmd_len++] = static_cast<char>(byte);
        }
    }
    c.len -= consumed;
    std::memmove(c.buffer, c.buffer + consumed, c.len);
    cmd_start -= consumed;
    if (c.len == CLIENT_BUFFER_SIZE - 1) {
        // Full without a separator. Bytes before the pending command only make room; a
        // command that fills the buffer by itself waits for its separator (see
        // receive_client_packet), anything else is thrown away.
        int drop = cmd_len == 0 ? c.len : cmd_start;
        c.len -= drop;
        std::memmove(c.buffer, c.buffer + drop, c.len);
    }
    c.buffer[c.len] = '\0';
}

}  // namespace
