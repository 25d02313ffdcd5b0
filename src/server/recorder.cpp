// recorder.cpp: the recorder thread, which makes the records of each recording from the
// published frames, and the writer thread, which appends them to its file. A frame is dropped
// whole before it is encoded when the writer falls behind: its events and floor patches are
// then part of the next frame recorded, so the file's chain of deltas never breaks.
#include "server/recorder.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "server/httpd.h"
#include "server/recording_file.h"

namespace {

using clock_type = std::chrono::steady_clock;

// One file being written. The writer appends to it; whoever drops the last record for it
// closes it.
struct open_file {
    std::string path;
    int fd = -1;
    uint64_t written = 0;             // bytes written so far
    std::atomic<bool> failed{false};  // a write failed: nothing more goes to it
    ~open_file() {
        if (fd >= 0) ::close(fd);
    }
};
using file_ptr = std::shared_ptr<open_file>;

struct queued_bytes {
    file_ptr file;
    std::string bytes;  // whole records
};

std::mutex queue_mutex;  // guards the queue, writer_done and limits
std::condition_variable queue_changed;
std::deque<queued_bytes> queue;
std::size_t queue_size = 0;  // bytes in queue
bool writer_done = false;
recorder_limits limits;

std::mutex control_mutex;  // guards the threads, the directory and the path below
std::thread recorder_thread, writer_thread;
std::string directory, current_path;
std::atomic<bool> running{false}, toggle_asked{false}, stop_asked{false};
std::string stop_reason = "quit";  // read by the recorder thread after stop_asked

bool write_all(int fd, const char *p, std::size_t n) {
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += w;
        n -= static_cast<std::size_t>(w);
    }
    return true;
}

// Appends one queued piece of whole records in one write. A failed write stops the file; its
// torn tail stays (never cut off: a listing may have the file mapped), and readers stop there.
void append(queued_bytes &q) {
    open_file &f = *q.file;
    if (f.failed.load()) return;
    uint64_t limit = 0;
    {
        std::lock_guard lock(queue_mutex);
        limit = limits.file_bytes;
    }
    int err = 0;
    if (limit > 0 && f.written + q.bytes.size() > limit) {
        const std::size_t fits = f.written < limit ? limit - f.written : 0;
        write_all(f.fd, q.bytes.data(), fits);
        err = ENOSPC;
    } else if (!write_all(f.fd, q.bytes.data(), q.bytes.size())) {
        err = errno;
    }
    if (err == 0) {
        f.written += q.bytes.size();
        return;
    }
    f.failed = true;
    std::fprintf(stderr, "recording stopped: %s: %s\n", f.path.c_str(), std::strerror(err));
}

// Recording must not take a core from the frame: on a machine with few cores the frame, the
// X server and these threads share them, so both threads run at a lower priority (Linux sets
// nice values per thread). Failure only leaves the default. The name is what top and a
// profiler show.
void yield_to_the_frame(const char *name) {
    (void)setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 10);
    (void)pthread_setname_np(pthread_self(), name);
}

void write_records() {
    yield_to_the_frame("kelpmoor-write");
    for (;;) {
        queued_bytes q;
        {
            std::unique_lock lock(queue_mutex);
            queue_changed.wait(
                lock, [] { return writer_done || (!queue.empty() && !limits.writer_paused); });
            if (queue.empty()) return;
            q = std::move(queue.front());
            queue.pop_front();
            queue_size -= q.bytes.size();
        }
        append(q);
    }
}

void enqueue(const file_ptr &f, std::string bytes) {
    {
        std::lock_guard lock(queue_mutex);
        queue_size += bytes.size();
        queue.push_back({f, std::move(bytes)});
    }
    queue_changed.notify_one();
}

bool writer_behind() {
    std::lock_guard lock(queue_mutex);
    return queue_size > limits.queue_bytes;
}

int64_t now_ms() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

// A new file kelpmoor-YYYYMMDD-HHMMSS[-N].krec in dir, created (never replaced) with its
// header queued; null after a message when it cannot be.
file_ptr create_file(const std::string &dir, int64_t started_ms) {
    const std::time_t t = static_cast<std::time_t>(started_ms / 1000);
    std::tm local{};
    localtime_r(&t, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    auto f = std::make_shared<open_file>();
    for (int n = 1; n < 1000; n++) {
        f->path = dir + "/kelpmoor-" + stamp + (n > 1 ? "-" + std::to_string(n) : "") + ".krec";
        f->fd = ::open(f->path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0644);
        if (f->fd >= 0 || errno != EEXIST) break;
    }
    if (f->fd < 0) {
        std::fprintf(stderr, "recording: cannot create %s: %s\n", f->path.c_str(),
                     std::strerror(errno));
        return nullptr;
    }
    enqueue(f, recording_header(started_ms));
    return f;
}

std::string name_of(const turtle_snapshot &t) {
    const std::string n(t.name, strnlen(t.name, sizeof t.name));
    return n.empty() ? "$" + std::to_string(t.tid) : n;
}

// The markers from one snapshot to the next, kill-alls aside.
std::vector<std::string> markers_between(const frame_snapshot &a, const frame_snapshot &b) {
    std::vector<std::string> m;
    for (int t = 0; t < NTURTLE; t++) {
        const turtle_snapshot &was = a.turtles[t], &is = b.turtles[t];
        const bool dying = (is.status & ST_ALIVE) && is.ttl > 0;
        if (dying && !((was.status & ST_ALIVE) && was.ttl > 0)) {
            m.push_back(marker_json(b.tick, "kill", name_of(is)));
        }
        const int e0 = a.battle[t].explosion_ttl, e1 = b.battle[t].explosion_ttl;
        if (e1 > 0 && (e0 == 0 || e1 > e0)) {
            m.push_back(marker_json(b.tick, "explosion", name_of(is.name[0] ? is : was)));
        }
    }
    const auto mode = [&](int was, int is, const char *name) {
        if ((was != 0) != (is != 0)) {
            m.push_back(marker_json(b.tick, "mode", std::string(name) + (is ? " on" : " off")));
        }
    };
    mode(a.battle_mode, b.battle_mode, "battle");
    mode(a.maze_mode, b.maze_mode, "maze");
    mode(a.bounded_area_mode, b.bounded_area_mode, "bounded");
    if (a.floor_clears != b.floor_clears)
        m.push_back(marker_json(b.tick, "clear", "floor cleared"));
    return m;
}

// One recording being made, with what its next frame must carry.
struct recording {
    file_ptr file;
    recording_encoder encoder;
    stream_events events;
    std::vector<floor_patch> patches;  // since the frame recorded last
    std::string markers;               // M records since then
    clock_type::time_point began;
    uint32_t first_tick = 0, last_tick = 0;
    bool any_frame = false, said_behind = false;

    uint32_t ms() const {
        using namespace std::chrono;
        return static_cast<uint32_t>(
            duration_cast<milliseconds>(clock_type::now() - began).count());
    }
    void mark(const std::vector<std::string> &ms_json, uint32_t tick) {
        for (const std::string &j : ms_json) markers += marker_record(tick, ms(), j);
    }
    // Records the snapshot unless nothing a viewer sees changed; `must`: even then, and even
    // when the writer is behind.
    void frame(const frame_snapshot &s, bool must) {
        if (!must && writer_behind()) {
            if (!said_behind) {
                std::fprintf(stderr, "recording falls behind: dropping frames of %s\n",
                             file->path.c_str());
                said_behind = true;
            }
            return;
        }
        const std::string delta = events.next(s);
        if (any_frame && !must && delta.empty() && patches.empty() && markers.empty()) return;
        const uint32_t at = ms();
        // The whole event is made only for a key frame.
        const std::string full = encoder.key_frame_due(at) ? events.full() : "";
        const std::string record = encoder.frame(s.tick, at, full, delta, patches);
        if (record.empty()) return;  // over RECORD_MAX_BYTES: never for a field of this size
        std::string bytes = std::move(markers);
        markers.clear();
        bytes += record;
        patches.clear();
        if (!any_frame) first_tick = s.tick;
        any_frame = true;
        last_tick = s.tick;
        enqueue(file, std::move(bytes));
    }
    void end(const char *reason) {
        const uint32_t ticks = last_tick - first_tick;
        const std::string json =
            "{\"ticks\":" + std::to_string(ticks) + ",\"reason\":\"" + reason + "\"}";
        enqueue(file, end_record(last_tick, ms(), json));
        std::fprintf(stderr, "recording stopped: %s, %d ticks\n", file->path.c_str(),
                     static_cast<int>(ticks));
    }
};

void set_current(const std::string &path) {
    std::lock_guard lock(control_mutex);
    current_path = path;
}

// A recording that begins with the floor as the recorder holds it.
std::unique_ptr<recording> begin_recording(const std::string &dir,
                                           const std::vector<unsigned char> &canvas) {
    if (dir.empty()) {
        std::fputs("recording: no directory to record to (KELPMOOR_RECORD or HOME)\n", stderr);
        return nullptr;
    }
    const int64_t started = now_ms();
    file_ptr f = create_file(dir, started);
    if (f == nullptr) return nullptr;
    auto r = std::make_unique<recording>();
    r->file = std::move(f);
    r->began = clock_type::now();
    floor_patch whole;
    whole.rect = {0, 0, FLOOR_SIDE, FLOOR_SIDE};
    whole.rgb = canvas;
    r->patches.push_back(std::move(whole));
    std::fprintf(stderr, "recording to %s...\n", r->file->path.c_str());
    set_current(r->file->path);
    return r;
}

bool fits(const floor_patch &p) {
    const floor_rect &r = p.rect;
    return r.x >= 0 && r.y >= 0 && r.w > 0 && r.h > 0 && r.x + r.w <= FLOOR_SIDE &&
           r.y + r.h <= FLOOR_SIDE && p.rgb.size() == static_cast<std::size_t>(r.w) * r.h * 3;
}

void lay(std::vector<unsigned char> &canvas, const floor_patch &p) {
    const std::size_t row = static_cast<std::size_t>(p.rect.w) * 3;
    for (int i = 0; i < p.rect.h; i++) {
        std::memcpy(&canvas[(static_cast<std::size_t>(p.rect.y + i) * FLOOR_SIDE + p.rect.x) * 3],
                    &p.rgb[row * i], row);
    }
}

void record_frames(std::string dir, bool record_now) {
    yield_to_the_frame("kelpmoor-record");
    std::vector<unsigned char> canvas(FLOOR_BYTES, 0);
    std::vector<floor_patch> later;  // newer than the snapshot last seen
    std::unique_ptr<recording> rec;
    frame_ptr before;
    bool begin_due = record_now;
    const auto spacing = std::chrono::microseconds(1000000 / RECORD_FRAMES_PER_SECOND);
    auto last_look = clock_type::now() - spacing;
    // A snapshot published before the start may be long past: the first is a newer one.
    const frame_ptr past = latest_frame();
    uint64_t serial = past != nullptr ? past->serial : 0;
    while (!stop_asked.load()) {
        const auto since = clock_type::now() - last_look;
        if (since < spacing) std::this_thread::sleep_for(spacing - since);
        frame_ptr now = wait_for_frame(serial, RECORD_POLL_MS);
        last_look = clock_type::now();
        if (toggle_asked.exchange(false)) {
            if (rec != nullptr) {
                rec->end("stopped");
                rec.reset();
                set_current("");
                begin_due = false;
            } else {
                begin_due = true;
            }
        }
        if (rec != nullptr && rec->file->failed.load()) {
            rec.reset();
            set_current("");
        }
        for (floor_patch &p : take_floor_patches(floor_reader::recorder)) {
            later.push_back(std::move(p));
        }
        if (now == nullptr || now->serial == serial) continue;
        serial = now->serial;
        std::size_t taken = 0;
        for (; taken < later.size() && later[taken].version <= now->floor_version; taken++) {
            if (!fits(later[taken])) continue;
            lay(canvas, later[taken]);
            if (rec != nullptr) rec->patches.push_back(std::move(later[taken]));
        }
        later.erase(later.begin(), later.begin() + static_cast<std::ptrdiff_t>(taken));
        std::vector<std::string> marks;
        if (before != nullptr) marks = markers_between(*before, *now);
        if (rec != nullptr && before != nullptr && now->kill_alls != before->kill_alls) {
            rec->mark({marker_json(now->tick, "kill-all", "kill-all")}, now->tick);
            rec->frame(*now, true);
            rec->end("kill-all");
            rec.reset();
            set_current("");
            begin_due = true;
        }
        if (begin_due) {
            rec = begin_recording(dir, canvas);
            begin_due = false;
        }
        if (rec != nullptr) {
            rec->mark(marks, now->tick);
            rec->frame(*now, false);
        }
        before = std::move(now);
    }
    if (rec != nullptr) rec->end(stop_reason.c_str());
    set_current("");
}

}  // namespace

int start_recorder(const char *dir, bool record_now) {
    std::lock_guard lock(control_mutex);
    if (running.load()) return 0;
    const char *home = std::getenv("HOME");
    directory = dir != nullptr ? dir : home != nullptr ? home : "";
    stop_asked = false;
    toggle_asked = false;
    {
        std::lock_guard q(queue_mutex);
        writer_done = false;
    }
    follow_floor(floor_reader::recorder, true);
    try {
        writer_thread = std::thread(write_records);
        recorder_thread = std::thread(record_frames, directory, record_now);
    } catch (const std::system_error &) {
        std::fputs("recording: cannot start its threads\n", stderr);
        {
            std::lock_guard q(queue_mutex);
            writer_done = true;
        }
        queue_changed.notify_one();
        if (writer_thread.joinable()) writer_thread.join();
        follow_floor(floor_reader::recorder, false);
        return -1;
    }
    running = true;
    // Quitting ends the recording; a plain exit() does too.
    static const bool stop_at_exit = (add_quit_hook([] { stop_recorder("quit"); }),
                                      std::atexit([] { stop_recorder("quit"); }), true);
    (void)stop_at_exit;
    return 0;
}

void stop_recorder(const char *reason) {
    std::thread r, w;
    {
        std::lock_guard lock(control_mutex);
        stop_reason = reason;
        stop_asked = true;
        r = std::move(recorder_thread);
        w = std::move(writer_thread);
        running = false;
    }
    if (r.joinable()) r.join();
    {
        std::lock_guard lock(queue_mutex);
        writer_done = true;
    }
    queue_changed.notify_one();
    if (w.joinable()) w.join();
    follow_floor(floor_reader::recorder, false);
}

bool recorder_toggle() {
    if (!running.load()) return false;
    toggle_asked = true;
    return true;
}

std::string recording_dir() {
    std::lock_guard lock(control_mutex);
    return directory;
}

std::string recording_path() {
    std::lock_guard lock(control_mutex);
    return current_path;
}

void set_recorder_limits(const recorder_limits &l) {
    {
        std::lock_guard lock(queue_mutex);
        limits = l;
    }
    queue_changed.notify_one();
}
