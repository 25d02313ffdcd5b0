// kelpmoor.h: the field. World records and tables, mode and display flags, field operations
// and modes, the local controls, and (in kelpmoor_frame.cpp / kelpmoor_loop.cpp) the window,
// the main loop and the frame.
//
// Threads: world functions run on the command server thread with frame_rendering_mutex held,
// or on the main thread (inside a frame, or from a key or menu action, which takes the lock).
// Nothing declared above the "Window and frame" section calls GL or GLUT.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

// ---- Constants ----------------------------------------------------------------------------
inline constexpr int NTURTLE = 30;   // slots of ttl
inline constexpr int NWALL = 700;    // records of walls
inline constexpr int NCOIN = 300;    // records of coins
inline constexpr int NTEAM = 5;      // team boards 0..4
inline constexpr int NHISTORY = 7;   // pen history entries, 0 = current
inline constexpr double NO_HIT_DISTANCE = 3.4028234663852886e38;  // largest float, as double
inline constexpr double PI = 3.141592653589793;
inline constexpr int WINDOW_SIZE = 512;  // pixels; one field unit per pixel in the top view

// Bits of turtle::status.
inline constexpr uint32_t ST_ALIVE = 0x1;
inline constexpr uint32_t ST_PEN_DOWN = 0x2;
inline constexpr uint32_t ST_POINT_MODE = 0x4;
inline constexpr uint32_t ST_FILL_MODE = 0x8;
inline constexpr uint32_t ST_BRUSH_MODE = 0x10;
inline constexpr uint32_t ST_BULLET = 0x80;
inline constexpr uint32_t ST_ZOMBIE = 0x100;
inline constexpr uint32_t ST_SYSTEM = 0x200;    // driven by the program (robots, spawned doughnuts)
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
    int cid;                              // client index, -1 when no client drives it
    double heading;                       // degrees, counter-clockwise from +x, never normalised
    std::array<position, NHISTORY> pos;   // pen history, 0 = current, newest first
    std::array<color, NHISTORY> col;      // pen colour of each history point
    std::array<double, NHISTORY> width;   // pen width of each history point
    double bheading;                      // degrees, direction of the bullet in flight
    position bullet;                      // bullet in flight, or place of its hit flash
    int ttl;                              // dying countdown in frames, 0 = not dying
    int bttf;                             // hit-flash countdown in frames
    int score;                            // 100 at spawn
    int team;                             // 0..4, 0 = no team
    double frange;                        // finder range, 20.0 at spawn
    uint32_t status;                      // ST_* bits
    uint32_t event;                       // EV_* bits not yet reported
    uint32_t eventmask;                   // EV_* bits that are reported
    int target_of_rader;                  // slot last caught by the radar, or -1
    int target_of_finder;                 // slot last caught by the finder, or -1
    int ndonut;                           // doughnuts created, at most 10
    int ncoin;                            // coins held
    int nstroke;                          // painting steps since the pen went down
    char msg[129];                        // text to print on the floor at the next frame
    char name[129];                       // shown below the turtle
};

struct wall {
    int wid;          // never assigned, stays 0
    position startp;
    position endp;
    position normal;  // unit, 90 degrees counter-clockwise from startp -> endp
    uint32_t status;  // WALL_BACK_FACE on the reversed record of a pair
};

struct coin {
    int id;           // own index in coins
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

// ---- World tables and counters (kelpmoor.cpp) ---------------------------------------------
extern std::array<turtle, NTURTLE> ttl;
extern int ntmax;  // one more than the highest slot used since the last kill-all
extern std::array<wall, NWALL> walls;
extern int nwall;
extern std::array<coin, NCOIN> coins;
extern int ncoin;  // one more than the highest coin slot used since the last coin reset
extern int stock_of_coin;
extern std::array<teaminfo, NTEAM> teams;
// Tick counter; the timer increments it on the main thread outside the lock, replies read it.
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
extern int turtle_field_is_cleared;  // 1 while the paint layer is valid
extern int field_is_painted;         // something reached the paint layer in this frame
extern int disp_help, disp_score, disp_name;
extern int menuitem_need_to_change;
extern std::atomic<int> socket_error_occurred;
extern double view_rotation_angle;  // degrees, -180..180
extern double view_fov_angle;       // degrees, 15..60
extern char window_title[256];
extern std::array<int, NCOIN> coin_list;  // per frame: order -> coin index, or -1
extern std::string capture_request;       // file the next frame writes, empty for none

// ---- Start-up (kelpmoor.cpp) -------------------------------------------------------------
extern const char copyright[60];  // the banner's and the help screen's notice
extern const char build_date[];   // "Mmm dd yyyy", fixed at build time
enum cmdline_action { CMDLINE_RUN, CMDLINE_HELP };
// Scans every argument (the program name too) for -js (prefix test; the next argument goes to
// set_jscript_src) and -h (prefix test). CMDLINE_HELP as soon as -h is met.
cmdline_action scan_command_line(int argc, char **argv);
void print_help();  // the two usage lines on standard error

// ---- World model (kelpmoor.cpp) -----------------------------------------------------------
void setup_wall(double x0, double y0, double x1, double y1, double nx, double ny,
                uint32_t stat);  // ignored once nwall is NWALL
void init_teaminfo();
void refresh_teaminfo();  // clears every board's posting lock; once per frame
void field_set_socket_error();
int field_set_color(double r, double g, double b);  // floor colour at the next clear; 0
int field_set_disp_help();
int field_unset_disp_help();
int field_toggle_disp_help();
int field_toggle_disp_score();
int field_toggle_disp_name();
int field_toggle_bird_view_mode();
int field_toggle_bounded_area_mode();
int field_set_boundary_mode(int bmode);  // 1 when already so, else toggles and 0
int field_set_disp_name(int flag);       // 1 when already so, else toggles and 0
int field_set_disp_score(int flag);      // 1 when already so, else toggles and 0
int qf_elapsed_time(unsigned long *tim);  // 0
int qf_n_turtle(int *na);                // alive slots that are not stones; 0
int qf_n_moving_obj(int *nobj);          // alive, not zombie, stone or doughnut; 0

// ---- Field operations and modes (kelpmoor.cpp) --------------------------------------------
int field_clear();                 // erase the floor at the next frame; 0
void field_clear_zombie();
int field_clear_all_turtles();     // zombies, then the floor; 0
void field_kill_all_turtles();     // empties ttl, marks clients for disconnection, resets coins
int reset_wall();                  // boundary walls only; 0
int field_set_battle_mode();
int field_unset_battle_mode();
int field_toggle_battle_mode();
void field_set_maze_mode();
void field_unset_maze_mode();
int field_toggle_maze_mode();
int field_toggle_private_mode();
int field_capture_screen();  // records capture_request for the next frame; always 1
std::string capture_file_name(const char *home, unsigned long tick);  // the capture's path

// Returns the world and every flag to the state field_start leaves them in (tests use it).
void field_reset_world();

// ---- Local controls, GL-free (kelpmoor.cpp) -----------------------------------------------
// Main thread. World-changing actions take frame_rendering_mutex for their duration.
double view_zoom(double fov, double delta);         // clamped into 15..60
double view_rotate(double angle, double delta);     // wrapped into -180..180
void keyboardfunc(unsigned char key, int x, int y);  // Q exits with status 0
void menu_action(int value);                         // Exit (9) exits with status 0

// Menu entries in the order they are added: title and value.
struct menu_entry {
    const char *title;
    int value;
};
extern const std::array<menu_entry, 9> field_menu;

// ---- Window, main loop and frame (kelpmoor_loop.cpp, kelpmoor_frame.cpp; main thread) ------
int field_start(int argc, char **argv);  // never returns in normal operation
// Steps 1 to 13 of the start-up: window, callbacks, menu, paint layer, light, timer, world.
// Tests use it to get a real window without entering the event loop.
void field_open_window(int argc, char **argv);
void timerfunc(int dummy);
void reshapefunc(int x, int y);
void menufunc(int value);
void change_menuitem();
void display();        // display_frame(), then the capture if one was asked for, then the swap
void keep_freed_memory();  // start-up: the renderer's freed memory stays for the next frame
void display_frame();  // everything of one frame up to and including rendering_is_done
extern unsigned int bg_textures;             // the paint layer's texture name
extern std::vector<unsigned char> bg_tex_buffer;  // initial pixels of the paint layer

void set_ttl_color(int tid);
void draw_turtle_body(int tid, double x, double y, double angle, double delta1, double delta2);
void draw_beam(int tid);
void draw_walls();
void draw_turtle(int tid);
