// http_stream.cpp: the live view's event stream. Each published frame that changed what a viewer
// shows becomes one event, formatted once for every viewer; one writer thread sends it to every
// stream socket without blocking, each viewer's unsent bytes waiting in its own backlog.
#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstring>
#include <deque>
#include <system_error>
#include <thread>

#include "server/httpd.h"

namespace {

using clock_type = std::chrono::steady_clock;

constexpr std::size_t MAX_BACKLOG_BYTES = 2 << 20;  // a viewer further behind is dropped
constexpr int WRITER_PASS_MS = 10;                  // longest wait between the writer's passes
constexpr const char *HEARTBEAT = ": \n\n";
// The kernel's share of a viewer's backlog: what lies beyond it waits in the viewer's own
// backlog, where its age can be seen.
constexpr int SEND_BUFFER_BYTES = 64 << 10;

// Positions and headings to the hundredth; a value that is not finite as null.
void put(std::string &out, double v) {
    if (std::isfinite(v))
        append_number(out, v, 2);
    else
        out += "null";
}
void put(std::string &out, int v) { append_number(out, v); }

const char *kind_of(uint32_t status) {
    if (status & ST_STONE) return "stone";
    if (status & ST_DOUGHNUT) return "doughnut";
    if (status & ST_SYSTEM) return "robot";
    return "player";
}

const char *status_of(const turtle_snapshot &t) {
    if (t.ttl > 0) return "dying";
    if (t.status & ST_ZOMBIE) return "zombie";
    return "alive";
}

std::string turtle_object(const turtle_snapshot &t) {
    std::string o = "{\"id\":";
    put(o, t.tid);
    o += ",\"name\":\"";
    append_json_escaped(o, std::string_view(t.name, strnlen(t.name, sizeof t.name)));
    o += "\",\"x\":";
    put(o, t.pos.x);
    o += ",\"y\":";
    put(o, t.pos.y);
    o += ",\"heading\":";
    put(o, std::fmod(t.heading, 360.0));
    o += ",\"score\":";
    put(o, t.score);
    o += ",\"team\":";
    put(o, t.team);
    o += ",\"ncoin\":";
    put(o, t.ncoin);
    o += ",\"ttl\":";
    put(o, t.ttl);
    o += ",\"bttf\":";
    put(o, t.bttf);
    o += ",\"status\":\"";
    o += status_of(t);
    o += "\",\"kind\":\"";
    o += kind_of(t.status);
    o += "\",\"bullet\":";
    if (t.status & ST_BULLET) {
        o += '[';
        put(o, t.bullet.x);
        o += ',';
        put(o, t.bullet.y);
        o += ',';
        put(o, std::fmod(t.bheading, 360.0));
        o += ']';
    } else {
        o += "null";
    }
    o += ",\"flash\":";
    if (t.bttf > 0) {
        o += '[';
        put(o, t.bullet.x);
        o += ',';
        put(o, t.bullet.y);
        o += ']';
    } else {
        o += "null";
    }
    o += '}';
    return o;
}

}  // namespace

// Each piece of an event as it would be written for one snapshot; an event holds the pieces
// that differ from the previous snapshot's.
struct stream_events::shown {
    uint32_t tick = 0;
    std::string modes, labels, floor, walls, coins;
    std::array<std::string, NTURTLE> turtles;  // empty for a slot not in use

    explicit shown(const frame_snapshot &s) {
        tick = s.tick;
        modes = "{\"battle\":" + std::to_string(s.battle_mode != 0) +
                ",\"bounded\":" + std::to_string(s.bounded_area_mode != 0) +
                ",\"maze\":" + std::to_string(s.maze_mode != 0) +
                ",\"private\":" + std::to_string(s.private_mode != 0) + "}";
        labels = "{\"name\":" + std::to_string(s.disp_name != 0) +
                 ",\"score\":" + std::to_string(s.disp_score != 0) + "}";
        floor = "{\"version\":" + std::to_string(s.floor_version) + ",\"color\":[";
        put(floor, s.bgcol.r);
        floor += ',';
        put(floor, s.bgcol.g);
        floor += ',';
        put(floor, s.bgcol.b);
        floor += "]}";
        walls = "[";
        for (int i = 0; i < s.nwall; i++) {
            const wall &w = s.walls[i];
            if (w.status & WALL_BACK_FACE) continue;
            if (walls.size() > 1) walls += ',';
            walls += '[';
            put(walls, w.startp.x);
            walls += ',';
            put(walls, w.startp.y);
            walls += ',';
            put(walls, w.endp.x);
            walls += ',';
            put(walls, w.endp.y);
            walls += ']';
        }
        walls += ']';
        coins = "[";
        for (int i = 0; i < s.ncoin; i++) {
            const coin &c = s.coins[i];
            if (!(c.status & COIN_ON_FIELD)) continue;
            if (coins.size() > 1) coins += ',';
            coins += '[';
            put(coins, c.pos.x);
            coins += ',';
            put(coins, c.pos.y);
            coins += ',';
            put(coins, c.order);
            coins += ']';
        }
        coins += ']';
        for (int t = 0; t < s.ntmax; t++) {
            if (s.turtles[t].status & ST_ALIVE) turtles[t] = turtle_object(s.turtles[t]);
        }
    }
};

namespace {

// The event from `before` (null: a full one) to `now`; "" when nothing differs.
std::string event_between(const stream_events::shown *before, const stream_events::shown &now) {
    std::string e = "data: {\"tick\":" + std::to_string(now.tick);
    e += before == nullptr ? ",\"full\":true" : ",\"full\":false";
    const std::size_t head = e.size();
    const auto piece = [&](const char *key, const std::string &mine, const std::string *theirs) {
        if (theirs != nullptr && *theirs == mine) return;
        e += ",\"";
        e += key;
        e += "\":";
        e += mine;
    };
    piece("modes", now.modes, before ? &before->modes : nullptr);
    piece("labels", now.labels, before ? &before->labels : nullptr);
    piece("floor", now.floor, before ? &before->floor : nullptr);
    std::string changed, gone;
    for (int t = 0; t < NTURTLE; t++) {
        const std::string &mine = now.turtles[t];
        const std::string *theirs = before ? &before->turtles[t] : nullptr;
        if (!mine.empty() && (theirs == nullptr || *theirs != mine)) {
            changed += changed.empty() ? "" : ",";
            changed += mine;
        } else if (mine.empty() && theirs != nullptr && !theirs->empty()) {
            gone += gone.empty() ? "" : ",";
            gone += std::to_string(t);
        }
    }
    if (before == nullptr || !changed.empty()) e += ",\"turtles\":[" + changed + "]";
    if (!gone.empty()) e += ",\"gone\":[" + gone + "]";
    piece("walls", now.walls, before ? &before->walls : nullptr);
    piece("coins", now.coins, before ? &before->coins : nullptr);
    if (before != nullptr && e.size() == head) return {};
    return e + "}\n\n";
}

}  // namespace

std::string stream_events::next(const frame_snapshot &now) {
    auto s = std::make_shared<const shown>(now);
    std::string e = last_ == nullptr ? std::string() : event_between(last_.get(), *s);
    last_ = std::move(s);
    return e;
}

std::string stream_events::full() const {
    return last_ == nullptr ? std::string() : event_between(nullptr, *last_);
}

namespace {

// One stream viewer: its socket and the bytes it has not taken yet, with the time each event
// among them was queued.
struct viewer {
    Socket s;
    std::string backlog;
    std::deque<std::pair<std::size_t, clock_type::time_point>> queued;  // event ends, times
    bool waiting_first = true;  // its first (whole) event is not queued yet

    void queue(const std::string &text, clock_type::time_point now) {
        backlog += text;
        queued.emplace_back(backlog.size(), now);
    }
    // False when the viewer is gone (an error or the peer's end).
    bool flush() {
        std::size_t sent = 0;
        while (sent < backlog.size()) {
            const ssize_t n = send_some(s.fd(), backlog.data() + sent, backlog.size() - sent);
            if (n < 0) {
                if (errno != EAGAIN && errno != EWOULDBLOCK) return false;
                break;
            }
            sent += static_cast<std::size_t>(n);
        }
        backlog.erase(0, sent);
        while (!queued.empty() && queued.front().first <= sent) queued.pop_front();
        for (auto &q : queued) q.first -= sent;
        return true;
    }
    bool too_far_behind(clock_type::time_point now) const {
        return backlog.size() > MAX_BACKLOG_BYTES ||
               (!queued.empty() &&
                now - queued.front().second > std::chrono::milliseconds(STREAM_BACKLOG_MS));
    }
};

std::mutex adopt_mutex;  // guards newcomers, writer and the flags below
std::vector<Socket> newcomers;
std::thread writer;
bool stopping = false;
std::atomic<int> nviewers{0};

// Reads what a viewer sent and discards it; false once it has closed its end.
bool still_there(int fd) {
    char buf[512];
    for (;;) {
        const ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
        if (n > 0) continue;
        return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR);
    }
}

void write_streams() {
    std::vector<viewer> viewers;
    std::vector<pollfd> fds;
    stream_events events;
    uint64_t serial = 0;
    auto last_event = clock_type::now() - std::chrono::seconds(1);
    auto last_sent = clock_type::now();
    for (;;) {
        {
            std::lock_guard lock(adopt_mutex);
            if (stopping) break;
            for (Socket &s : newcomers) viewers.push_back(viewer{std::move(s), {}, {}, true});
            newcomers.clear();
        }
        const auto since = clock_type::now() - last_event;
        const auto spacing = std::chrono::microseconds(1000000 / STREAM_EVENTS_PER_SECOND);
        frame_ptr frame;
        if (since < spacing) {
            std::this_thread::sleep_for(spacing - since);
            frame = latest_frame();
        } else {
            frame = wait_for_frame(serial, WRITER_PASS_MS);
        }
        floor_absorb();  // keeps the queue of floor patches short
        const auto now = clock_type::now();
        std::string event;
        if (frame != nullptr && frame->serial != serial) {
            serial = frame->serial;
            event = events.next(*frame);
            last_event = now;
        }
        if (event.empty() && now - last_sent > std::chrono::milliseconds(STREAM_HEARTBEAT_MS)) {
            event = HEARTBEAT;
        }
        if (!event.empty()) last_sent = now;
        std::string first;
        for (viewer &v : viewers) {
            if (v.waiting_first && events.started()) {
                if (first.empty()) first = events.full();
                v.queue(first, now);
                v.waiting_first = false;
            } else if (!v.waiting_first && !event.empty()) {
                v.queue(event, now);
            }
        }
        std::erase_if(viewers, [&](viewer &v) {
            const bool gone = !v.flush() || !still_there(v.s.fd());
            if (!gone && !v.too_far_behind(now)) return false;
            if (!gone) std::fputs("stream viewer too far behind: dropped\n", stderr);
            ::shutdown(v.s.fd(), SHUT_RDWR);
            return true;
        });
        nviewers = static_cast<int>(viewers.size());
    }
    for (viewer &v : viewers) ::shutdown(v.s.fd(), SHUT_RDWR);
    nviewers = 0;
}

}  // namespace

bool stream_adopt(Socket &&s) {
    if (!set_nonblocking(s.fd())) return false;
    setsockopt(s.fd(), SOL_SOCKET, SO_SNDBUF, &SEND_BUFFER_BYTES, sizeof SEND_BUFFER_BYTES);
    std::lock_guard lock(adopt_mutex);
    if (stopping || nviewers.load() + static_cast<int>(newcomers.size()) >= MAX_STREAMS) {
        return false;
    }
    if (!writer.joinable()) {
        try {
            writer = std::thread(write_streams);
        } catch (const std::system_error &) {
            return false;
        }
    }
    newcomers.push_back(std::move(s));
    return true;
}

void stream_stop() {
    std::thread w;
    {
        std::lock_guard lock(adopt_mutex);
        stopping = true;
        w = std::move(writer);
    }
    if (w.joinable()) w.join();
    std::lock_guard lock(adopt_mutex);
    newcomers.clear();
}

void stream_start() {
    std::lock_guard lock(adopt_mutex);
    stopping = false;
}

int httpd_streams() { return nviewers.load(); }
