// tcpserver.cpp: the command server. One thread waits on the listening socket and every client
// at once, executes complete commands in batches paced by frames, and answers each with one line.
#include "server/tcpserver.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <utility>

#include "world/field.h"
#include "world/turtle.h"

tcpclient client_tab[MAX_CLIENT];
int nclient = 0;
int server_socket = -1;

namespace {

// The pieces of the loop and of the command language; only the server thread calls them.
int accept_connection(int sv_sock);  // the new socket, or -1
int check_client_status();           // 0
int receive_client_packet(int cl);   // bytes read; 0 or less: closed or broken
void disconnect_client(int cl);
void try_to_exec(int cl);
int parse_message_for(int cl, char *msg);  // query code 1..17, 0 OK, -1 ERR
void answer_back(int cl, int ans);

inline constexpr int WAIT_MS = 5;          // longest wait of one pass
inline constexpr int LISTEN_BACKLOG = 10;  // pending connections
inline constexpr int HEX_STEPS = 128;      // longest decoded name or printed text, bytes
inline constexpr int PAYLOAD_SIZE = 1024;  // "%lf %lf" of any double pair fits
inline constexpr int REPLY_SIZE = PAYLOAD_SIZE + 64;

// Query codes of Q: the result value of parse_message_for and the selector of answer_back.
enum query_code {
    Q_POSITION = 1,
    Q_DIRECTION = 2,
    Q_MY_TEAM = 3,
    Q_FINDER = 4,
    Q_RADAR_1 = 5,  // 5..9: radar targets 1..5
    Q_RADAR_5 = 9,
    Q_SONAR = 10,
    Q_ALIVE = 11,
    Q_SCORE = 12,
    Q_TIME = 13,
    Q_N_TURTLE = 14,
    Q_N_COIN = 15,
    Q_MY_COIN = 16,
    Q_TEAM_MSG = 17,
};
inline constexpr int RADAR_TARGETS = Q_RADAR_5 - Q_RADAR_1 + 1;

// Owns one descriptor; closing it is the destructor's job.
class Socket {
public:
    Socket() = default;
    explicit Socket(int fd) : fd_(fd) {}
    Socket(Socket &&other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Socket &operator=(Socket &&other) noexcept {
        if (this != &other) {
            reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    Socket(const Socket &) = delete;
    Socket &operator=(const Socket &) = delete;
    ~Socket() { reset(); }

    int fd() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    // close() is not retried on EINTR: on Linux the descriptor is gone either way.
    void reset() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_ = -1;
};

// What the server thread keeps besides the client table. Never freed: the detached thread uses it
// until the process exits, and static destructors must not close descriptors under it.
struct server_state {
    Socket listener;
    Socket wake;  // eventfd: a frame ended or a client was marked, look again now
    std::array<Socket, MAX_CLIENT> conns;
    bool listener_ready = false;          // result of the last wait
    std::array<short, MAX_CLIENT> ready{};  // poll revents of each client in the last wait
};

server_state &state() {
    static server_state *s = new server_state;
    return *s;
}

std::atomic<int> wake_fd{-1};
std::atomic<int> bound_port{-1};

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

ssize_t send_retry(int fd, const char *data, size_t n) {
    ssize_t r;
    do {
        r = ::send(fd, data, n, MSG_DONTWAIT | MSG_NOSIGNAL);
    } while (r < 0 && errno == EINTR);
    return r;
}

const char *peer_host(const sockaddr_in &addr, char (&host)[INET_ADDRSTRLEN]) {
    if (inet_ntop(AF_INET, &addr.sin_addr, host, sizeof host) == nullptr) host[0] = '\0';
    return host;
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
    Socket s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!s.valid()) {
        std::fputs("init_socket(): cannot open TCP socket\n", stderr);
        return {};
    }
    int one = 1;
    setsockopt(s.fd(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    addr.sin_port = htons(port);
    if (bind(s.fd(), reinterpret_cast<sockaddr *>(&addr), sizeof addr) < 0) {
        std::fprintf(stderr, "init_socket(): cannot bind to port %d\n", port);
        return {};
    }
    if (listen(s.fd(), LISTEN_BACKLOG) < 0) {
        std::fprintf(stderr, "init_socket(): listen() failure for port %d\n", port);
        return {};
    }
    for (auto &c : client_tab) free_slot(c);
    nclient = 0;
    return s;
}

// Queues a reply behind what the client has not taken yet; a client that lets more than
// CLIENT_OUTPUT_LIMIT pile up is marked gone. Never blocks.
void client_send(int cl, const char *data, int n) {
    tcpclient &c = client_tab[cl];
    if (c.gone) return;
    int sent = 0;
    if (c.out_len == 0) {
        ssize_t r = send_retry(c.socket, data, n);
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
        ssize_t r = send_retry(c.socket, c.out + c.out_start, c.out_len);
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
        check_connection(server_socket);
        check_client_status();
    }
    return nullptr;
}

int char2int(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return 0;
}

// str receives at most HEX_STEPS bytes and its terminating zero.
void convert_hex2str(const char *hex, char *str) {
    int out = 0;
    for (int step = 0; *hex != '\0' && step < HEX_STEPS; step++) {
        if (*hex == ' ') {
            hex++;
            continue;
        }
        char c0 = *hex++;
        char c1 = *hex;
        if (c1 != '\0') hex++;
        int byte = char2int(c0) * 16 + char2int(c1);
        if (byte != 0) str[out++] = static_cast<char>(byte);
        if (c1 == '\0') break;
    }
    str[out] = '\0';
}

char upper(const char *token) {
    return static_cast<char>(std::toupper(static_cast<unsigned char>(token[0])));
}

// A numeric argument: strtod of the token (empty or non-numeric gives 0); false if not finite.
bool finite_arg(const char *token, double *v) {
    *v = std::strtod(token, nullptr);
    return std::isfinite(*v);
}

int status_of(int result) { return result < 0 ? -1 : 0; }

int query_code_of(const char *letter, const char *index) {
    switch (upper(letter)) {
    case 'P': return Q_POSITION;
    case 'D': return Q_DIRECTION;
    case 'M': return Q_MY_TEAM;
    case 'F': return Q_FINDER;
    case 'R': {
        long n = index[0] == '\0' ? 1 : std::strtol(index, nullptr, 10);
        return n >= 1 && n <= RADAR_TARGETS ? Q_RADAR_1 + static_cast<int>(n) - 1 : -1;
    }
    case 'W': return Q_SONAR;
    case 'A': return Q_ALIVE;
    case 'S': return Q_SCORE;
    case 'T': return Q_TIME;
    case 'N': return Q_N_TURTLE;
    case 'B': return Q_TEAM_MSG;
    default: return -1;
    }
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
    sockaddr_in addr{};
    socklen_t addr_len = sizeof addr;
    if (getsockname(listener.fd(), reinterpret_cast<sockaddr *>(&addr), &addr_len) == 0) {
        bound_port = ntohs(addr.sin_port);
    }
    // Without the eventfd the server still works, only waking at the end of each wait.
    st.wake = Socket(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    wake_fd = st.wake.fd();
    server_socket = listener.fd();
    st.listener = std::move(listener);
    set_world_links({reset_pacing, wake_server, mark_for_disconnection});
    std::thread(server_thread_func, nullptr).detach();
}

int tcp_server_port() { return bound_port; }

namespace {

int accept_connection(int sv_sock) {
    sockaddr_in peer{};
    socklen_t peer_len = sizeof peer;
    int fd;
    do {
        fd = accept4(sv_sock, reinterpret_cast<sockaddr *>(&peer), &peer_len, SOCK_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        // The connection may have been dropped between the wait and the accept.
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != ECONNABORTED) {
            std::fputs("accept_connection(): accept() failure\n", stderr);
        }
        return -1;
    }
    Socket s(fd);
    char host[INET_ADDRSTRLEN];
    peer_host(peer, host);
    int peer_port = ntohs(peer.sin_port);
    if (nclient >= MAX_CLIENT) {
        s.reset();
        std::fputs("accept_connection(): reaches MAX_CLIENT\n", stderr);
        return -1;
    }
    if (private_mode && peer.sin_addr.s_addr != htonl(INADDR_LOOPBACK)) {
        std::fprintf(stderr, "accept_connection(): reject connection from %s %d\n", host,
                     peer_port);
        return -1;
    }
    std::fprintf(stderr, "handling client from %s %d\n", host, peer_port);
    int cl = 0;
    while (cl < MAX_CLIENT && client_tab[cl].socket >= 0) cl++;
    std::lock_guard lock(frame_rendering_mutex);
    int tid = generate_turtle(cl, 0);
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
        ssize_t n;
        do {
            n = ::recv(c.socket, &next, 1, 0);
        } while (n < 0 && errno == EINTR);
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
    ssize_t n;
    do {
        n = ::recv(c.socket, c.buffer + c.len, room, 0);
    } while (n < 0 && errno == EINTR);
    if (n <= 0) return static_cast<int>(n);
    c.len += static_cast<int>(n);
    c.buffer[c.len] = '\0';
    return static_cast<int>(n);
}

void disconnect_client(int cl) {
    if (cl < 0 || cl >= MAX_CLIENT || client_tab[cl].socket < 0) return;
    tcpclient &c = client_tab[cl];
    char host[INET_ADDRSTRLEN];
    std::fprintf(stderr, "closing connection from %s %d\n", peer_host(c.addr, host),
                 ntohs(c.addr.sin_port));
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
        answer_back(cl, -1);
        consumed = ++i;
    }
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
            answer_back(cl, parse_message_for(cl, cmd));
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

int parse_message_for(int cl, char *msg) {
    tcpclient &c = client_tab[cl];
    const int tid = c.tid;

    // cmd, param1, param2, param3; a missing token is empty.
    char token[4][CLIENT_BUFFER_SIZE] = {};
    const char *p = msg;
    const char *rest = "";
    for (int t = 0; t < 4; t++) {
        while (*p == ' ') p++;
        int n = 0;
        while (*p != '\0' && *p != ' ') token[t][n++] = *p++;
        token[t][n] = '\0';
        if (t == 0) {
            rest = p;
            while (*rest == ' ') rest++;
        }
    }
    const char *param1 = token[1], *param2 = token[2], *param3 = token[3];
    const char sub = upper(param1);
    double a = 0.0, b = 0.0, d = 0.0;
    char text[HEX_STEPS + 1];

    switch (upper(token[0])) {
    case 'F':
    case 'B':
        if (!finite_arg(param1, &a)) return -1;
        c.nup++;
        return status_of(turtle_step_forward(tid, upper(token[0]) == 'F' ? a : -a));
    case 'T':
        if ((sub == 'L' || sub == 'R') && !finite_arg(param2, &a)) return -1;
        c.nup++;
        switch (sub) {
        case 'L': return status_of(turtle_turn(tid, a));
        case 'R': return status_of(turtle_turn(tid, -a));
        case 'E': return status_of(turtle_head(tid, 1));
        case 'N': return status_of(turtle_head(tid, 2));
        case 'W': return status_of(turtle_head(tid, 3));
        case 'S': return status_of(turtle_head(tid, 4));
        default: return -1;
        }
    case 'J':
    case 'G':
        if (!finite_arg(param1, &a) || !finite_arg(param2, &b)) return -1;
        c.nup++;
        return status_of(upper(token[0]) == 'J' ? turtle_jump(tid, a, b)
                                                : turtle_rjump(tid, a, b));
    case 'C':
        if (!finite_arg(param1, &a)) return -1;
        c.nup++;
        switch (sub) {
        case 'A': field_clear_all_turtles(); break;
        case 'F': field_clear(); break;
        case 'H': turtle_home(tid); break;
        default: turtle_reset(tid, cl); break;
        }
        return status_of(turtle_step_forward(tid, a));
    case 'P':
        c.nup++;
        if (sub == 'D' || sub == '+') return status_of(turtle_pen_down(tid));
        if (sub == 'U' || sub == '-') return status_of(turtle_pen_up(tid));
        return 0;
    case 'L': {
        c.nup++;
        int r = std::min({turtle_unset_brush(tid), turtle_unset_fill_poly(tid),
                          turtle_unset_point_mode(tid)});
        if (sub == 'S' || sub == '+') r = turtle_set_fill_poly(tid);
        if (sub == 'B') r = turtle_set_brush(tid);
        if (sub == 'P') r = turtle_set_point_mode(tid);
        return status_of(r);
    }
    case 'S':
        c.nup++;
        convert_hex2str(rest, text);
        return status_of(turtle_print_string(tid, text));
    case 'H':
        if (!finite_arg(param1, &a) || !finite_arg(param2, &b) || !finite_arg(param3, &d)) {
            return -1;
        }
        c.nup++;
        field_set_color(a, b, d);
        field_clear();
        return 0;
    case 'K':
        if (!finite_arg(param1, &a) || !finite_arg(param2, &b) || !finite_arg(param3, &d)) {
            return -1;
        }
        return status_of(turtle_set_color(tid, a, b, d));
    case 'W':
        if (!finite_arg(param1, &a)) return -1;
        return status_of(turtle_line_width(tid, a));
    case 'N':
        convert_hex2str(rest, text);
        return status_of(turtle_name(tid, text));
    case 'U':
        return status_of(turtle_broadcast_message(tid, rest));
    case 'I':
        turtle_set_team(tid, static_cast<int>(std::strtol(param1, nullptr, 10)));
        return 0;
    case 'Y': {
        auto code = static_cast<unsigned int>(std::strtol(param2, nullptr, 10));
        if (param1[0] == '+') return status_of(turtle_enable_event(tid, code));
        if (param1[0] == '-') return status_of(turtle_disable_event(tid, code));
        return 0;
    }
    case 'E':
        if (!finite_arg(param1, &a)) return -1;
        return status_of(turtle_finder_range(tid, a));
    case 'D':
        return status_of(turtle_generate_doughnut(tid));
    case 'R':
        return status_of(generate_turtle(-1, ST_SYSTEM));
    case '!':
        if (sub == 'U' || sub == '-') {
            field_unset_battle_mode();
        } else {
            field_set_battle_mode();
        }
        return 0;
    case '.':
        return 0;
    case 'Q':
        return query_code_of(param1, param2);
    default:
        return -1;
    }
}

void answer_back(int cl, int ans) {
    const int tid = client_tab[cl].tid;
    unsigned int eventcode = turtle_get_and_reset_eventcode(tid);
    char payload[PAYLOAD_SIZE] = "";
    int status = 0;
    double x = 0.0, y = 0.0;
    int i = 0, j = 0, k = 0;
    switch (ans) {
    case Q_POSITION:
        status = qt_position(tid, &x, &y);
        std::snprintf(payload, sizeof payload, "%lf %lf", x, y);
        break;
    case Q_DIRECTION:
        status = qt_direction(tid, &x);
        std::snprintf(payload, sizeof payload, "%lf", x);
        break;
    case Q_MY_TEAM:
        status = qt_my_team(tid);
        std::snprintf(payload, sizeof payload, "%d", status);
        break;
    case Q_FINDER:
        status = qt_finder(tid, &i, &j);
        std::snprintf(payload, sizeof payload, "%d %d", i, j);
        break;
    case Q_SONAR:
        status = qt_sonar(tid, &i, &j, &k);
        std::snprintf(payload, sizeof payload, "%d %d %d", i, j, k);
        break;
    case Q_ALIVE:
        status = qt_alive(tid, &i);
        std::snprintf(payload, sizeof payload, "%d", i);
        break;
    case Q_SCORE:
        status = qt_score(tid, &i);
        std::snprintf(payload, sizeof payload, "%d", i);
        break;
    case Q_TIME: {
        unsigned long t = 0;
        status = qf_elapsed_time(&t);
        std::snprintf(payload, sizeof payload, "%lu", t);
        break;
    }
    case Q_N_TURTLE:
        status = qf_n_turtle(&i);
        std::snprintf(payload, sizeof payload, "%d", i);
        break;
    case Q_TEAM_MSG: {
        unsigned int t = 0;
        char text[HEX_STEPS + 1] = {};
        status = qt_team_msg(tid, &t, text);
        std::snprintf(payload, sizeof payload, "%u %s", t, text);
        break;
    }
    default:
        if (ans >= Q_RADAR_1 && ans <= Q_RADAR_5) {
            status = qt_angular_rader(tid, ans - Q_RADAR_1, &x, &i);
            std::snprintf(payload, sizeof payload, "%lf %d", x, i);
        }
        break;
    }
    char line[REPLY_SIZE];
    int n = std::snprintf(line, sizeof line, "%s%s%s @ %lu %u\n", payload,
                          payload[0] != '\0' ? " " : "", ans < 0 || status < 0 ? "ERR" : "OK",
                          static_cast<unsigned long>(elapsed_time.load()), eventcode);
    client_send(cl, line, n < static_cast<int>(sizeof line) ? n : static_cast<int>(sizeof line) - 1);
}

}  // namespace
