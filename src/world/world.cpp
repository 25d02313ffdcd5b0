// world.cpp: the world tables and flags, the one lock, walls and team boards, and the links
// through which the world reaches the command server without depending on it.
#include "world/world.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

const char copyright[60] = "Copyright (C) 2026 the Kelpmoor developers";
const char build_date[] = __DATE__;

// ---- World tables and counters ----
std::array<turtle, NTURTLE> ttl{};
int ntmax = 0;
std::array<wall, NWALL> walls{};
int nwall = 0;
std::array<coin, NCOIN> coins{};
int ncoin = 0;
int stock_of_coin = NCOIN;
std::array<teaminfo, NTEAM> teams{};
std::atomic<uint32_t> elapsed_time{0};
double Xmin = -256.0, Xmax = 256.0;
double Ymin = -256.0, Ymax = 256.0;

int bounded_area_mode = 0;
int battle_mode = 0;
int maze_mode = 0;
int bird_view_mode = 0;
std::atomic<int> private_mode{1};

color bgcol{0.0, 0.0, 0.0};
int turtle_field_is_cleared = 0;
uint64_t floor_clears = 0, kill_alls = 0;
int disp_help = 0, disp_score = 0, disp_name = 0;
int menuitem_need_to_change = 0;
std::atomic<int> socket_error_occurred{0};
double view_rotation_angle = 0.0;
double view_fov_angle = 55.0;
std::string capture_request;

std::mutex frame_rendering_mutex;

namespace {
world_links links;
}  // namespace

void set_world_links(const world_links &l) { links = l; }

void disconnect_client_for(int tid, int cl) {
    if (links.disconnect != nullptr) links.disconnect(tid, cl);
}

namespace {

std::atomic<int> frames_waiting{0};
std::atomic<uint64_t> frame_turns_taken{0};

void rendering_started() {
    frames_waiting.fetch_add(1);
    frame_rendering_mutex.lock();
    frames_waiting.fetch_sub(1);
    frame_turns_taken.fetch_add(1);
    frame_turns_taken.notify_all();
}

void rendering_is_done() {
    if (links.frame_done != nullptr) links.frame_done();
    frame_rendering_mutex.unlock();
    if (links.wake != nullptr) links.wake();
}

}  // namespace

frame_turn::frame_turn() { rendering_started(); }
frame_turn::~frame_turn() { rendering_is_done(); }

bool frame_is_waiting() { return frames_waiting.load(std::memory_order_relaxed) > 0; }

bool let_frame_in(std::unique_lock<std::mutex> &lock) {
    if (frames_waiting.load() == 0) return false;
    // Read under the lock: the waiting frame cannot have counted its turn yet.
    const uint64_t taken = frame_turns_taken.load();
    lock.unlock();
    frame_turns_taken.wait(taken);
    lock.lock();
    return true;
}

namespace {
std::array<void (*)(), MAX_QUIT_HOOKS> quit_hooks{};
int nquit_hooks = 0;
}  // namespace

void add_quit_hook(void (*stop)()) {
    if (nquit_hooks < MAX_QUIT_HOOKS) quit_hooks[nquit_hooks++] = stop;
}

void field_quit() {
    for (int i = nquit_hooks - 1; i >= 0; i--) quit_hooks[i]();
    std::exit(0);
}

// ---- World model ----

void setup_wall(double x0, double y0, double x1, double y1, double nx, double ny, uint32_t stat) {
    if (nwall >= NWALL) return;
    wall &w = walls[nwall];
    w.startp = {x0, y0};
    w.endp = {x1, y1};
    w.normal = {nx, ny};
    w.status = stat;
    nwall++;
}

void init_teaminfo() {
    for (int i = 0; i < NTEAM; i++) {
        teams[i].id = i;
        std::memset(teams[i].msg, 0, sizeof teams[i].msg);
        teams[i].msg_time = 0;
        teams[i].status = 0;
    }
}

void refresh_teaminfo() {
    for (auto &t : teams) t.status = 0;
}
