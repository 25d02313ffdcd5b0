// world.h: the shared world. Records and their fixed tables, bounds, the tick counter, mode and
// display flags, and the one lock that guards them all.
//
// The lock rule: every read and write of the state declared here (and of the client table
// and the painter's state) happens with frame_rendering_mutex held, except what is declared
// std::atomic. Holders: the command server thread while it spawns a client's turtle or
// executes a batch, the frame through its frame_turn, key and menu actions, and the timer's
// look at the turtle table. The HTTP threads read the frames published at the end of each
// frame (published.h) instead; they take the lock only before the first one (tests without a
// frame loop). Nobody blocks on a socket while holding it.
//
// Nothing in world/ calls GL or GLUT: drawing reads the world, never the other way round.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "world/geometry.h"

// ---- Constants ----------------------------------------------------------------------------
inline constexpr int NTURTLE = 30;       // slots of ttl
inline constexpr int NWALL = 700;        // records of walls
inline constexpr int NCOIN = 300;        // records of coins
inline constexpr int NTEAM = 5;          // team boards 0..4
inline constexpr int NHISTORY = 7;       // pen history entries, 0 = current
inline constexpr int WINDOW_SIZE = 512;  // pixels; one field unit per pixel in the top view

// Bits of turtle::status.
inline constexpr uint32_t ST_ALIVE = 0x1;
inline constexpr uint32_t ST_PEN_DOWN = 0x2;
inline constexpr uint32_t ST_POINT_MODE = 0x4;
inline constexpr uint32_t ST_FILL_MODE = 0x8;
inline constexpr uint32_t ST_BRUSH_MODE = 0x10;
inline constexpr uint32_t ST_BULLET = 0x80;
inline constexpr uint32_t ST_ZOMBIE = 0x100;
inline constexpr uint32_t ST_SYSTEM = 0x200;  // driven by the program (robots, spawned doughnuts)
inline constexpr uint32_t ST_STONE = 0x400;
inline constexpr uint32_t ST_DOUGHNUT = 0x800;
inline constexpr uint32_t ST_PAINTED = 0x1000;     // newest pen segment is on the floor
inline constexpr uint32_t ST_PEN_LIFTED = 0x2000;  // a brush stroke must be closed
inline constexpr uint32_t ST_LATCH_TURTLE = 0x10000;
inline constexpr uint32_t ST_LATCH_DOUGHNUT = 0x20000;
inline constexpr uint32_t ST_LATCH_STONE = 0x40000;
inline constexpr uint32_t ST_LATCH_WALL = 0x80000;
inline constexpr uint32_t ST_NEAR_COIN = 0x100000;

// Bits of turtle::event / eventmask.
inline constexpr uint32_t EV_HIT = 1;
inline constexpr uint32_t EV_BUMP_TURTLE = 2;
inline constexpr uint32_t EV_BUMP_DOUGHNUT = 4;
inline constexpr uint32_t EV_BUMP_STONE = 8;
inline constexpr uint32_t EV_BUMP_WALL = 16;
inline constexpr uint32_t EV_COIN = 32;
inline constexpr uint32_t EV_FINDER = 64;
inline constexpr uint32_t EV_RADAR = 128;
inline constexpr uint32_t EV_TEAM_MSG = 256;

inline constexpr uint32_t WALL_BACK_FACE = 0x100000;  // wall::status
inline constexpr uint32_t COIN_ON_FIELD = 0x1000000;  // coin::status

// ---- Records ------------------------------------------------------------------------------
struct position {
    double x, y;
    bool operator==(const position &) const = default;
};

struct color {
    double r, g, b;  // 0..1, not validated
};

struct turtle {
    int cid;                             // client index, -1 when no client drives it
    double heading;                      // degrees, counter-clockwise from +x, never normalised
    std::array<position, NHISTORY> pos;  // pen history, 0 = current, newest first
    std::array<color, NHISTORY> col;     // pen colour of each history point
    std::array<double, NHISTORY> width;  // pen width of each history point
    double bheading;                     // degrees, direction of the bullet in flight
    position bullet;                     // bullet in flight, or place of its hit flash
    int ttl;                             // dying countdown in frames, 0 = not dying
    int bttf;                            // hit-flash countdown in frames
    int score;                           // 100 at spawn
    int team;                            // 0..4, 0 = no team
    double frange;                       // finder range, 20.0 at spawn
    uint32_t status;                     // ST_* bits
    uint32_t event;                      // EV_* bits not yet reported
    uint32_t eventmask;                  // EV_* bits that are reported
    int target_of_rader;                 // slot last caught by the radar, or -1
    int target_of_finder;                // slot last caught by the finder, or -1
    int ndonut;                          // doughnuts created, at most 10
    int ncoin;                           // coins held
    int nstroke;                         // painting steps since the pen went down
    char msg[129];                       // text to print on the floor at the next frame
    char name[129];                      // shown below the turtle
};

struct wall {
    int wid;  // never assigned, stays 0
    position startp;
    position endp;
    position normal;  // unit, 90 degrees counter-clockwise from startp -> endp
    uint32_t status;  // WALL_BACK_FACE on the reversed record of a pair
};

struct coin {
    int id;  // own index in coins
    position pos;
    int order;        // stacking rank on the field, 0 = oldest; -1 when not on the field
    coin *coinp;      // next coin in the same coin-grid cell, or nullptr
    uint32_t status;  // COIN_ON_FIELD
};

struct teaminfo {
    int id;
    char msg[257];      // at most 128 characters stored
    uint32_t msg_time;  // elapsed_time when posted
    uint32_t status;    // 0x1 blocks posting; cleared every frame
};

extern const char copyright[60];  // the banner's and the help screen's notice
extern const char build_date[];   // "Mmm dd yyyy", fixed at build time

// A slot index of ttl: 0..NTURTLE-1.
inline bool valid_tid(int tid) { return tid >= 0 && tid < NTURTLE; }
inline bool alive(const turtle &t) { return (t.status & ST_ALIVE) != 0; }

// ---- World tables and counters (world.cpp) ------------------------------------------------
extern std::array<turtle, NTURTLE> ttl;
extern int ntmax;  // one more than the highest slot used since the last kill-all
extern std::array<wall, NWALL> walls;
extern int nwall;
extern std::array<coin, NCOIN> coins;
extern int ncoin;  // one more than the highest coin slot used since the last coin reset
extern int stock_of_coin;
extern std::array<teaminfo, NTEAM> teams;
// Tick counter; the timer increments it on the main thread, replies read it.
extern std::atomic<uint32_t> elapsed_time;
extern double Xmin, Xmax, Ymin, Ymax;

// Mode flags, 0 or 1.
extern int bounded_area_mode;
extern int battle_mode;
extern int maze_mode;
extern int bird_view_mode;
extern std::atomic<int> private_mode;  // read by the HTTP threads without the lock

// Field-module state read by the frame and the painter.
extern color bgcol;
// The one hand-off between the world and the frame: the world's clears (floor colour, mode
// changes, C F) set it to 0, and the frame that then paints a fresh floor sets it to 1.
extern int turtle_field_is_cleared;  // 1 while the paint layer is valid
extern uint64_t floor_clears;        // calls of field_clear so far
extern uint64_t kill_alls;           // calls of field_kill_all_turtles so far
extern int disp_help, disp_score, disp_name;
extern int menuitem_need_to_change;
extern std::atomic<int> socket_error_occurred;
extern double view_rotation_angle;   // degrees, -180..180
extern double view_fov_angle;        // degrees, 15..60
extern std::string capture_request;  // file the next frame writes, empty for none

extern std::mutex frame_rendering_mutex;

// ---- World model (world.cpp) --------------------------------------------------------------
void setup_wall(double x0, double y0, double x1, double y1, double nx, double ny,
                uint32_t stat);  // ignored once nwall is NWALL
void init_teaminfo();
void refresh_teaminfo();  // clears every board's posting lock; once per frame

// ---- Frames and the links to the command server (world.cpp) ---------------------------------
// A frame holds the lock through a frame_turn: it announces itself before taking the lock, and
// the command server, which may hold the lock through long runs of commands, hands it over to
// an announced frame between two commands (let_frame_in). A plain mutex would not do that by
// itself: the thread that releases it usually takes it straight back.
class frame_turn {
public:
    frame_turn();   // rendering_started: announces the frame, then locks frame_rendering_mutex
    ~frame_turn();  // rendering_is_done: the frame-end link, unlock, then the wake link
    frame_turn(const frame_turn &) = delete;
    frame_turn &operator=(const frame_turn &) = delete;
};
bool frame_is_waiting();  // some frame_turn is waiting for the lock; any thread
// The caller holds frame_rendering_mutex through `lock`. When a frame is waiting, releases the
// lock until that frame has taken it, then takes it back (so after the frame ended) and returns
// true; otherwise returns false at once, the lock held throughout.
bool let_frame_in(std::unique_lock<std::mutex> &lock);
// The server registers these at start; until then they are no-ops. The world calls
// disconnect_client_for when a client's turtle dies or all are killed; the link marks the
// client for closing at the server's next pass. Caller holds the lock.
struct world_links {
    void (*frame_done)() = nullptr;                 // under the lock, at the end of a frame
    void (*wake)() = nullptr;                       // after the lock is released
    void (*disconnect)(int tid, int cl) = nullptr;  // mark client cl if it drives tid
};
void set_world_links(const world_links &links);
void disconnect_client_for(int tid, int cl);

// ---- Ending the process (world.cpp) ---------------------------------------------------------
// The Q key and the Exit entry. Runs the stop hooks that servers registered, the newest first
// (each stops its threads and joins them), then exit(0), whose handlers stop the rest (the
// HTTP server registers its stop with atexit). Main thread, lock not held.
[[noreturn]] void field_quit();
void add_quit_hook(void (*stop)());  // at most MAX_QUIT_HOOKS; further hooks are ignored
inline constexpr int MAX_QUIT_HOOKS = 4;
