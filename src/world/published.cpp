// published.cpp: the latest published frame and the queue of floor patches, each behind a
// small lock of its own so that readers never wait for a frame.
#include "world/published.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <utility>

namespace {

std::mutex frame_mutex;  // guards latest and wakes the waiters; held only to swap a pointer
std::condition_variable frame_published;
frame_ptr latest;
uint64_t serial = 0;

// Patches a reader does not take (no server running) are dropped past this many; the drawing
// side then hands over the whole floor once.
constexpr std::size_t MAX_PENDING_PATCHES = 256;
constexpr floor_rect WHOLE_FLOOR{0, 0, FLOOR_SIDE, FLOOR_SIDE};

// Readers share each patch; a copy is made only when one takes it.
struct reader_queue {
    bool following = false;
    bool lost = false;  // patches were dropped: nothing until a whole floor
    std::vector<std::shared_ptr<const floor_patch>> pending;
};
std::mutex floor_mutex;
std::array<reader_queue, FLOOR_READERS> readers{{{true, false, {}}, {}}};
uint64_t floor_counter = 0;

}  // namespace

floor_rect rect_union(const floor_rect &a, const floor_rect &b) {
    if (a.empty()) return b;
    if (b.empty()) return a;
    const int x0 = std::min(a.x, b.x), y0 = std::min(a.y, b.y);
    const int x1 = std::max(a.x + a.w, b.x + b.w), y1 = std::max(a.y + a.h, b.y + b.h);
    return {x0, y0, x1 - x0, y1 - y0};
}

void take_snapshot(frame_snapshot &s, const frame_report *rep) {
    s.tick = elapsed_time.load();
    s.ntmax = std::clamp(ntmax, 0, NTURTLE);
    for (int t = 0; t < NTURTLE; t++) {
        s.turtles[t] = snapshot_turtle(t);
        s.battle[t] = battle_draw{};
    }
    if (rep != nullptr) {
        for (int i = 0; i < rep->nslots; i++) s.battle[rep->slots[i].tid] = rep->slots[i].battle;
    }
    s.nwall = std::clamp(nwall, 0, NWALL);
    std::copy_n(walls.begin(), s.nwall, s.walls.begin());
    s.ncoin = std::clamp(ncoin, 0, NCOIN);
    std::copy_n(coins.begin(), s.ncoin, s.coins.begin());
    s.battle_mode = battle_mode;
    s.bounded_area_mode = bounded_area_mode;
    s.maze_mode = maze_mode;
    s.private_mode = private_mode.load();
    s.disp_name = disp_name;
    s.disp_score = disp_score;
    s.bgcol = bgcol;
    s.floor_version = floor_version();
    s.floor_clears = floor_clears;
    s.kill_alls = kill_alls;
}

void publish_frame(const frame_report *rep) {
    auto s = std::make_shared<frame_snapshot>();
    take_snapshot(*s, rep);
    {
        std::lock_guard lock(frame_mutex);
        s->serial = ++serial;
        latest = std::move(s);
    }
}

void frame_drawn() { frame_published.notify_all(); }

frame_ptr latest_frame() {
    std::lock_guard lock(frame_mutex);
    return latest;
}

frame_ptr wait_for_frame(uint64_t after, int timeout_ms) {
    std::unique_lock lock(frame_mutex);
    frame_published.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                             [after] { return serial > after; });
    return latest;
}

bool publish_floor_patch(floor_patch patch) {
    std::lock_guard lock(floor_mutex);
    patch.version = ++floor_counter;
    const bool whole = patch.rect == WHOLE_FLOOR;
    const auto shared = std::make_shared<const floor_patch>(std::move(patch));
    bool complete = true;
    for (reader_queue &r : readers) {
        if (!r.following) continue;
        if (r.lost && whole) r.lost = false;
        if (!r.lost && r.pending.size() >= MAX_PENDING_PATCHES) {
            r.pending.clear();
            r.lost = true;
        }
        if (r.lost) {
            complete = false;
        } else {
            r.pending.push_back(shared);
        }
    }
    return complete;
}

uint64_t floor_version() {
    std::lock_guard lock(floor_mutex);
    return floor_counter;
}

std::vector<floor_patch> take_floor_patches(floor_reader who) {
    std::vector<std::shared_ptr<const floor_patch>> taken;
    {
        std::lock_guard lock(floor_mutex);
        taken = std::exchange(readers[static_cast<int>(who)].pending, {});
    }
    std::vector<floor_patch> out;
    out.reserve(taken.size());
    for (const auto &p : taken) out.push_back(*p);
    return out;
}

void follow_floor(floor_reader who, bool on) {
    std::lock_guard lock(floor_mutex);
    reader_queue &r = readers[static_cast<int>(who)];
    r.following = on;
    r.lost = on;
    r.pending.clear();
}
