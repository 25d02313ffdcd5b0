// published.h: what viewers need of a frame, published by the frame once, under the lock, and
// read by the servers without it: the frame's snapshot (turtles, walls, coins, modes, labels,
// the floor's version) and the floor's changed pixels, handed over by the drawing side.
//
// Threads: snapshot_turtle and publish_frame with frame_rendering_mutex held (publish_frame:
// the frame, main thread); publish_floor_patch on the main thread; everything else on any
// thread, without the frame lock (each hand-off has a small lock of its own).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "world/battle.h"
#include "world/frame_rules.h"
#include "world/world.h"

inline constexpr int FLOOR_SIDE = WINDOW_SIZE;  // floor picture: pixels a side, one per unit

// One pixel rectangle of the floor picture (column x from the left edge, row y from the top).
struct floor_rect {
    int x = 0, y = 0, w = 0, h = 0;
    bool empty() const { return w <= 0 || h <= 0; }
    bool operator==(const floor_rect &) const = default;
};
floor_rect rect_union(const floor_rect &a, const floor_rect &b);  // the smallest that holds both

// Changed floor pixels: 8-bit RGB, rows from the top of rect down.
struct floor_patch {
    uint64_t version = 0;  // set by publish_floor_patch
    floor_rect rect;
    std::vector<unsigned char> rgb;
};

// Everything of a frame a viewer is shown, as the frame stood when it was published.
struct frame_snapshot {
    uint64_t serial = 0;  // counts the publications from 1
    uint32_t tick = 0;    // elapsed_time
    int ntmax = 0;
    std::array<turtle_snapshot, NTURTLE> turtles{};
    std::array<battle_draw, NTURTLE> battle{};  // each slot's glows, bullet and burst this frame
    int nwall = 0;
    std::array<wall, NWALL> walls{};
    int ncoin = 0;
    std::array<coin, NCOIN> coins{};
    int battle_mode = 0, bounded_area_mode = 0, maze_mode = 0, private_mode = 0;
    int disp_name = 0, disp_score = 0;
    color bgcol{};
    uint64_t floor_version = 0;                // of the newest floor patch handed over
    uint64_t floor_clears = 0, kill_alls = 0;  // the world's counts (world.h)
};
using frame_ptr = std::shared_ptr<const frame_snapshot>;

// Copies the world into a new snapshot and makes it the latest. rep: the frame's report
// (battle steps of each slot), or null.
void publish_frame(const frame_report *rep);
// Wakes wait_for_frame for the snapshot published last. The frame calls it once it is drawn,
// so that the viewers' and the recorder's work on it does not share the cores with the
// drawing.
void frame_drawn();
frame_ptr latest_frame();  // null until the first frame is published
// Waits until a snapshot newer than `serial` is published or timeout_ms pass; the latest.
frame_ptr wait_for_frame(uint64_t serial, int timeout_ms);
// The world as it stands, as a snapshot that is not published (serial 0). Caller holds the
// lock.
void take_snapshot(frame_snapshot &out, const frame_report *rep);

// ---- The floor (drawing side hands over, servers take) ----
// Each reader has a queue of its own. The HTTP server's always takes patches; the recorder's
// only while it follows the floor.
enum class floor_reader { http, recorder };
inline constexpr int FLOOR_READERS = 2;
// Gives the patch the next floor version and queues it for every reader. Main thread. False
// when a reader's queue was full and has been dropped (or a reader began to follow): the next
// patch must be the whole floor. Such a reader is given nothing until a whole floor comes.
bool publish_floor_patch(floor_patch patch);
uint64_t floor_version();  // of the newest patch handed over; 0 for none
// The patches queued for a reader since its last call.
std::vector<floor_patch> take_floor_patches(floor_reader who = floor_reader::http);
// Starts (with an empty queue, waiting for a whole floor) or stops queueing for a reader.
void follow_floor(floor_reader who, bool on);
