// kelpmoor_client.cpp: the Kelpmoor client: command texts, reply parsing, and the connection.
#include "kelpmoor_client.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <utility>

namespace kelpmoor {

namespace {

const char *const EVENT_NAMES[] = {
    "hit",         "bumped_turtle",  "bumped_doughnut", "bumped_stone", "bumped_wall",
    "coin_nearby", "seen_by_finder", "seen_by_radar",   "team_message"};

std::string number(double v) {
    if (!std::isfinite(v)) throw ArgumentError("not a finite number: " + std::to_string(v));
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.17g", v);
    return buf;
}

std::string rgb(double r, double g, double b) {
    for (double v : {r, g, b}) {
        number(v);
        if (v < 0 || v > 1) throw ArgumentError("colour component " + number(v) + ": from 0 to 1");
    }
    return number(r) + " " + number(g) + " " + number(b);
}

// The code points of UTF-8 text; a byte that starts no valid sequence stands for itself.
template <typename F>
void for_each_code_point(std::string_view s, F f) {
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        const std::size_t n = c >= 0xF0 && c < 0xF5 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 1;
        char32_t cp = n == 1 ? c : c & (0x7F >> n);
        bool valid = n == 1 || i + n <= s.size();
        for (std::size_t k = 1; valid && k < n; k++) {
            const auto cont = static_cast<unsigned char>(s[i + k]);
            valid = (cont & 0xC0) == 0x80;
            cp = (cp << 6) | (cont & 0x3F);
        }
        if (!valid) {
            f(c);
            i++;
        } else {
            f(cp);
            i += n;
        }
    }
}

std::string hex_text(std::string_view utf8, std::size_t limit) {
    const std::string text = latin1(utf8);
    if (text.find('\0') != std::string_view::npos) throw FramingError("text with a zero byte");
    if (text.size() > limit) {
        throw FramingError("text of " + std::to_string(text.size()) + " bytes, at most " +
                           std::to_string(limit));
    }
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : text) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

bool printable(char c) { return c >= ' ' && c <= '~'; }

std::string quoted(std::string_view s) { return "\"" + std::string(s) + "\""; }

// The payload's numbers; throws ProtocolError when there are not `count` of them.
std::vector<double> numbers(const Reply &r, std::size_t count) {
    std::vector<double> v;
    const char *p = r.payload.c_str();
    while (*p != '\0') {
        char *end = nullptr;
        double d = std::strtod(p, &end);
        if (end == p) break;
        v.push_back(d);
        p = end;
    }
    if (v.size() != count) throw ProtocolError("unexpected payload: \"" + r.payload + "\"");
    return v;
}

Reply checked_query(const Reply &r) {
    if (r.payload.empty()) throw ProtocolError("a query answered without a payload");
    return r;
}

}  // namespace

std::string latin1(std::string_view utf8) {
    std::string out;
    for_each_code_point(utf8,
                        [&](char32_t cp) { out += cp <= 0xFF ? static_cast<char>(cp) : '?'; });
    return out;
}

std::string from_latin1(std::string_view text) {
    std::string out;
    for (unsigned char c : text) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::vector<std::string> Events::names() const {
    std::vector<std::string> out;
    for (unsigned i = 0; i < 9; i++) {
        if (bits & (1u << i)) out.emplace_back(EVENT_NAMES[i]);
    }
    return out;
}

Reply parse_reply(std::string_view line) {
    // "[payload ]OK|ERR @ <tick> <events>": the last " @ " is the reply's own, since only
    // digits follow it.
    auto bad = [&] { return ProtocolError("not a reply: \"" + std::string(line) + "\""); };
    auto digits = [&](std::string_view s) {
        if (s.empty() || s.size() > 19) throw bad();
        unsigned long v = 0;
        for (char c : s) {
            if (!std::isdigit(static_cast<unsigned char>(c))) throw bad();
            v = v * 10 + static_cast<unsigned long>(c - '0');
        }
        return v;
    };
    std::size_t at = line.rfind(" @ ");
    if (at == std::string_view::npos) throw bad();
    std::string_view tail = line.substr(at + 3);
    std::size_t sp = tail.find(' ');
    if (sp == std::string_view::npos) throw bad();
    Reply r;
    r.tick = digits(tail.substr(0, sp));
    r.events.bits = static_cast<unsigned>(digits(tail.substr(sp + 1)));
    std::string_view head = line.substr(0, at);
    std::size_t last = head.rfind(' ');
    std::string_view status = last == std::string_view::npos ? head : head.substr(last + 1);
    if (last != std::string_view::npos) r.payload = std::string(head.substr(0, last));
    if (status == "OK") {
        r.ok = true;
    } else if (status != "ERR") {
        throw bad();
    }
    return r;
}

Position as_position(const Reply &r) {
    auto v = numbers(checked_query(r), 2);
    return {v[0], v[1]};
}
double as_double(const Reply &r) { return numbers(checked_query(r), 1)[0]; }
long as_long(const Reply &r) { return static_cast<long>(numbers(checked_query(r), 1)[0]); }
bool as_flag(const Reply &r) { return as_long(r) != 0; }
Finder as_finder(const Reply &r) {
    auto v = numbers(checked_query(r), 2);
    return {static_cast<int>(v[0]), static_cast<int>(v[1])};
}
Radar as_radar(const Reply &r) {
    auto v = numbers(checked_query(r), 2);
    return {r.ok, v[0], static_cast<int>(v[1])};
}
Sonar as_sonar(const Reply &r) {
    auto v = numbers(checked_query(r), 3);
    return {v[0] != 0, v[1] != 0, v[2] != 0};
}
Board as_board(const Reply &r) {
    checked_query(r);
    std::size_t sp = r.payload.find(' ');
    Board b;
    b.tick = std::strtoul(r.payload.c_str(), nullptr, 10);
    if (sp != std::string::npos) b.text = from_latin1(r.payload.substr(sp + 1));
    return b;
}
FieldModes as_modes(const Reply &r) {
    auto v = numbers(checked_query(r), 4);
    return {v[0] != 0, v[1] != 0, v[2] != 0, v[3] != 0};
}

namespace cmd {
std::string check(std::string_view command) {
    if (command.find_first_not_of(' ') == std::string_view::npos) {
        throw FramingError("empty command");
    }
    for (char c : command) {
        if (c == ';' || !printable(c)) {
            throw FramingError(
                "command with a ';' or a byte that is not printable ASCII: one command per call, "
                "printable ASCII");
        }
    }
    if (command.size() > MAX_COMMAND) {
        throw FramingError("command of " + std::to_string(command.size()) +
                           " characters, at most " + std::to_string(MAX_COMMAND));
    }
    return std::string(command);
}
std::string forward(double d) { return "F " + number(d); }
std::string back(double d) { return "B " + number(d); }
std::string left(double a) { return "T L " + number(a); }
std::string right(double a) { return "T R " + number(a); }
std::string head(char compass) { return head(std::string_view(&compass, 1)); }
std::string head(std::string_view compass) {
    std::string c;
    for (char ch : compass) c += static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    for (const char *name : {"EAST", "NORTH", "WEST", "SOUTH"}) {
        if (c == name || (c.size() == 1 && c[0] == name[0])) return std::string("T ") + name[0];
    }
    throw ArgumentError("not a compass heading: " + quoted(compass) + " (E, N, W, S)");
}
std::string jump(double x, double y) { return "J " + number(x) + " " + number(y); }
std::string jump_by(double dx, double dy) { return "G " + number(dx) + " " + number(dy); }
std::string reset() { return "C"; }
std::string home() { return "C H"; }
std::string clear_floor() { return "C F"; }
std::string clear_all() { return "C A"; }
std::string pen_down() { return "P D"; }
std::string pen_up() { return "P U"; }
std::string color(double r, double g, double b) { return "K " + rgb(r, g, b); }
std::string width(double w) { return "W " + number(w); }
std::string line_style(std::string_view style) {
    if (style == "line") return "L -";
    if (style == "fill") return "L S";
    if (style == "points") return "L P";
    if (style == "brush") return "L B";
    throw ArgumentError("not a line style: " + quoted(style) + " (line, fill, points, brush)");
}
std::string print_text(std::string_view text) { return "S " + hex_text(text, MAX_PRINT); }
std::string name(std::string_view text) { return "N " + hex_text(text, MAX_NAME); }
std::string floor_color(double r, double g, double b) { return "H " + rgb(r, g, b); }
std::string join_team(int team) {
    if (team < 1 || team > 4)
        throw ArgumentError("team " + std::to_string(team) + ": 1, 2, 3 or 4");
    return "I " + std::to_string(team);
}
std::string post(std::string_view message) {
    if (message.find_first_of(";\n\r") != std::string_view::npos) {
        throw FramingError(
            "team message with ';' or a line end: any text without ';' or a line end");
    }
    // The server drops every byte that is not printable ASCII from a command.
    std::string text = "U ";
    for_each_code_point(message, [&](char32_t cp) {
        text += cp >= ' ' && cp <= '~' ? static_cast<char>(cp) : '?';
    });
    return check(text);
}
std::string enable_events(unsigned mask) { return "Y + " + std::to_string(mask); }
std::string disable_events(unsigned mask) { return "Y - " + std::to_string(mask); }
std::string finder_range(double d) { return "E " + number(d); }
std::string doughnut() { return "D"; }
std::string robot() { return "R"; }
std::string battle_mode(bool on) { return on ? "!" : "! U"; }
std::string noop() { return "."; }
std::string fire() { return "X"; }
std::string pick_coin() { return "O"; }
std::string drop_coin() { return "O S"; }
std::string scatter_coin() { return "O X"; }
std::string borrow_coins() { return "O B"; }
std::string query(char letter) { return check(std::string("Q ") + letter); }
std::string radar(int n) {
    if (n < 1 || n > 5) throw ArgumentError("radar target " + std::to_string(n) + ": from 1 to 5");
    return "Q R " + std::to_string(n);
}
}  // namespace cmd

Turtle Turtle::connect(const std::string &host_or_empty, int port, double timeout) {
    const char *env_host = std::getenv("KELPMOOR_HOST");
    const std::string host = !host_or_empty.empty()                     ? host_or_empty
                             : env_host != nullptr && *env_host != '\0' ? env_host
                                                                        : "127.0.0.1";
    if (port == 0) {
        const char *env = std::getenv("KELPMOOR_PORT");
        port = env != nullptr && *env != '\0' ? std::atoi(env) : DEFAULT_PORT;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *res = nullptr;
    std::string where = host + ":" + std::to_string(port);
    if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &res) != 0) {
        throw ConnectionClosed("cannot resolve " + host);
    }
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        freeaddrinfo(res);
        throw ConnectionClosed("cannot open a socket");
    }
    int rc = ::connect(fd, res->ai_addr, res->ai_addrlen);
    freeaddrinfo(res);
    Turtle t(fd, timeout);
    if (rc != 0 && errno == EINPROGRESS) {
        pollfd p{fd, POLLOUT, 0};
        int ready;
        do {
            ready = poll(&p, 1, t.timeout_ms_ > 0 ? t.timeout_ms_ : -1);
        } while (ready < 0 && errno == EINTR);
        int err = 0;
        socklen_t len = sizeof err;
        if (ready == 1) getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
        rc = ready == 1 && err == 0 ? 0 : -1;
        if (ready == 0) throw ReplyTimeout("no connection to " + where + " within the timeout");
        errno = err;
    }
    if (rc != 0) {
        throw ConnectionClosed("cannot connect to " + where + ": " + std::strerror(errno) +
                               " (is Kelpmoor running there, on this port?)");
    }
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    // From here on blocking calls, with the timeout kept by the kernel: one system call per
    // read, as a plain client would make.
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (t.timeout_ms_ > 0) {
        timeval tv{t.timeout_ms_ / 1000, (t.timeout_ms_ % 1000) * 1000};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    }
    return t;
}

Turtle::Turtle(Turtle &&o) noexcept
    : fd_(std::exchange(o.fd_, -1)),
      timeout_ms_(o.timeout_ms_),
      answered_(o.answered_),
      pending_(std::move(o.pending_)),
      last_(std::move(o.last_)),
      events_(o.events_) {}

Turtle &Turtle::operator=(Turtle &&o) noexcept {
    if (this != &o) {
        close();
        fd_ = std::exchange(o.fd_, -1);
        timeout_ms_ = o.timeout_ms_;
        answered_ = o.answered_;
        pending_ = std::move(o.pending_);
        last_ = std::move(o.last_);
        events_ = o.events_;
    }
    return *this;
}

Turtle::~Turtle() { close(); }

void Turtle::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

Events Turtle::take_events() { return std::exchange(events_, Events{}); }

void Turtle::record(const Reply &r) {
    events_.bits |= r.events.bits;
    last_ = r;
}

Reply Turtle::send(std::string_view command) {
    std::string text = cmd::check(command);
    if (fd_ < 0) throw ConnectionClosed("connection already closed");
    write_all(text + "\n");
    Reply r = parse_reply(read_line(1));
    record(r);
    return r;
}

std::vector<Reply> Turtle::pipeline(const std::vector<std::string> &commands) {
    for (const auto &c : commands) cmd::check(c);
    if (fd_ < 0) throw ConnectionClosed("connection already closed");
    std::vector<Reply> replies;
    replies.reserve(commands.size());
    for (std::size_t start = 0; start < commands.size(); start += PIPELINE_WINDOW) {
        std::size_t end = std::min(commands.size(), start + PIPELINE_WINDOW);
        std::string data;
        for (std::size_t i = start; i < end; i++) data += commands[i] + "\n";
        write_all(data);
        for (std::size_t i = start; i < end; i++) {
            replies.push_back(parse_reply(read_line(end - i)));
            record(replies.back());
        }
    }
    return replies;
}

void Turtle::write_all(const std::string &data) {
    std::size_t off = 0;
    while (off < data.size()) {
        ssize_t n = ::send(fd_, data.data() + off, data.size() - off, MSG_NOSIGNAL);
        if (n > 0) {
            off += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        bool timed_out = n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
        std::string why = std::strerror(errno);
        close();
        if (timed_out)
            throw ReplyTimeout("the server does not take our commands; connection closed");
        throw ConnectionClosed("connection lost while sending: " + why +
                               (answered_ ? "" : NOT_TAKEN_IN));
    }
}

std::string Turtle::read_line(std::size_t awaited) {
    for (;;) {
        std::size_t lf = pending_.find('\n');
        if (lf != std::string::npos) {
            std::string line = pending_.substr(0, lf);
            pending_.erase(0, lf + 1);
            answered_ = true;
            return line;
        }
        char buf[65536];
        ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        if (n > 0) {
            pending_.append(buf, static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // Replies may still come: later ones would be matched to the wrong commands.
            close();
            throw ReplyTimeout("no reply within the timeout (" + std::to_string(awaited) +
                               " awaited); connection closed");
        }
        std::string why = n == 0 ? "" : std::string(": ") + std::strerror(errno);
        bool cut = !pending_.empty();
        close();
        throw ConnectionClosed("the server closed the connection with " + std::to_string(awaited) +
                               " replies awaited" + (cut ? " (one cut short)" : "") + why +
                               (answered_ ? "" : NOT_TAKEN_IN));
    }
}

}  // namespace kelpmoor
