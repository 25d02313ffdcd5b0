// kelpmoor.cpp: the world tables and flags, the field-wide operations and modes, and the
// local controls (keys and menu) that act on them. No GL here: the frame lives elsewhere.
#include "kelpmoor.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "geofunc.h"
#include "httpd.h"
#include "tcpserver.h"
#include "turtle.h"

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
int field_is_painted = 0;
int disp_help = 0, disp_score = 0, disp_name = 0;
int menuitem_need_to_change = 0;
std::atomic<int> socket_error_occurred{0};
double view_rotation_angle = 0.0;
double view_fov_angle = 55.0;
char window_title[256] = "";
std::array<int, NCOIN> coin_list{};
std::string capture_request;

namespace {

inline constexpr double FOV_MIN = 15.0, FOV_MAX = 60.0;  // degrees
inline constexpr double FOV_STEP = 5.0;
inline constexpr double ROTATION_STEP = 2.5;  // degrees

int first_call = 1;  // kill-all disconnects nobody until start-up's own kill-all has run

int flip(int flag) { return flag == 0 ? 1 : 0; }

}  // namespace

// ---- Start-up ----

const char copyright[60] = "Copyright (C) 2026 the Kelpmoor developers";
const char build_date[] = __DATE__;

cmdline_action scan_command_line(int argc, char **argv) {
    for (int i = 0; i < argc; i++) {
        if (std::strncmp(argv[i], "-js", 3) == 0 && i + 1 < argc) {
            set_jscript_src(argv[i + 1]);
            i++;
        } else if (std::strncmp(argv[i], "-h", 2) == 0) {
            return CMDLINE_HELP;
        }
    }
    return CMDLINE_RUN;
}

void print_help() {
    std::fputs("options:\n", stderr);
    std::fputs(" -js \"URL1;URL2;...\"\n", stderr);
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

void field_set_socket_error() { socket_error_occurred = 1; }

int field_set_color(double r, double g, double b) {
    bgcol = {r, g, b};
    turtle_field_is_cleared = 0;
    return 0;
}

int field_set_disp_help() {
    disp_help = 1;
    return 0;
}

int field_unset_disp_help() {
    disp_help = 0;
    return 0;
}

int field_toggle_disp_help() {
    disp_help = flip(disp_help);
    return 0;
}

int field_toggle_disp_score() {
    disp_score = flip(disp_score);
    return 0;
}

int field_toggle_disp_name() {
    disp_name = flip(disp_name);
    return 0;
}

int field_toggle_bird_view_mode() {
    bird_view_mode = flip(bird_view_mode);
    return 0;
}

int field_toggle_bounded_area_mode() {
    bounded_area_mode = flip(bounded_area_mode);
    return 0;
}

int field_set_boundary_mode(int bmode) {
    if (bmode == bounded_area_mode) return 1;
    return field_toggle_bounded_area_mode();
}

int field_set_disp_name(int flag) {
    if (flag == disp_name) return 1;
    return field_toggle_disp_name();
}

int field_set_disp_score(int flag) {
    if (flag == disp_score) return 1;
    return field_toggle_disp_score();
}

int qf_elapsed_time(unsigned long *tim) {
    *tim = elapsed_time.load();
    return 0;
}

int qf_n_turtle(int *na) {
    int n = 0;
    for (int t = 0; t < ntmax; t++) {
        if ((ttl[t].status & ST_ALIVE) && !(ttl[t].status & ST_STONE)) n++;
    }
    *na = n;
    return 0;
}

int qf_n_moving_obj(int *nobj) {
    int n = 0;
    for (int t = 0; t < ntmax; t++) {
        const uint32_t s = ttl[t].status;
        if ((s & ST_ALIVE) && !(s & (ST_ZOMBIE | ST_STONE | ST_DOUGHNUT))) n++;
    }
    *nobj = n;
    return 0;
}

// ---- Field operations and modes ----

int field_clear() {
    turtle_field_is_cleared = 0;
    return 0;
}

void field_clear_zombie() {
    for (int t = 0; t < ntmax; t++) {
        if (ttl[t].status & ST_ZOMBIE) ttl[t].status = 0;
    }
}

int field_clear_all_turtles() {
    field_clear_zombie();
    return field_clear();
}

void field_kill_all_turtles() {
    for (int t = 0; t < NTURTLE; t++) {
        if (first_call == 0 && (ttl[t].status & ST_ALIVE) && ttl[t].cid >= 0) {
            disconnect_client_for(t, ttl[t].cid);
        }
        ttl[t].status = 0;
        ttl[t].cid = -1;
        ttl[t].pos[0] = {0.0, 0.0};
    }
    ntmax = 0;
    first_call = 0;
}

int reset_wall() {
    nwall = 0;
    generate_boundary_wall();
    return 0;
}

int field_set_battle_mode() {
    field_set_boundary_mode(1);
    field_set_disp_name(1);
    field_set_disp_score(1);
    battle_mode = 1;
    menuitem_need_to_change = 1;
    turtle_field_is_cleared = 0;
    std::fputs("entering battle mode...\n", stderr);
    return 0;
}

int field_unset_battle_mode() {
    field_set_boundary_mode(0);
    field_set_disp_name(0);
    field_set_disp_score(0);
    battle_mode = 0;
    menuitem_need_to_change = 1;
    turtle_field_is_cleared = 0;
    std::fputs("entering turtle graphics mode...\n", stderr);
    return 0;
}

int field_toggle_battle_mode() {
    return battle_mode ? field_unset_battle_mode() : field_set_battle_mode();
}

void field_set_maze_mode() {
    field_kill_all_turtles();
    reset_wall();
    generate_maze();
    field_set_battle_mode();
    maze_mode = 1;
    std::fputs("entering maze mode...\n", stderr);
}

void field_unset_maze_mode() {
    field_kill_all_turtles();
    reset_wall();
    maze_mode = 0;
    std::fputs("exited from maze mode...\n", stderr);
}

int field_toggle_maze_mode() {
    if (maze_mode) {
        field_unset_maze_mode();
    } else {
        field_set_maze_mode();
    }
    return 0;
}

int field_toggle_private_mode() {
    private_mode = toggle_localhost_mode();
    std::fputs(private_mode ? "entering private mode...\n" : "entering public mode...\n", stderr);
    menuitem_need_to_change = 1;
    return 0;
}

std::string capture_file_name(const char *home, unsigned long tick) {
    char base[64];
    std::snprintf(base, sizeof base, "kelpmoor-capture-%ld.png", static_cast<long>(tick));
    struct stat st{};
    if (home != nullptr && home[0] != '\0' && stat(home, &st) == 0) {
        return std::string(home) + "/" + base;
    }
    return base;
}

int field_capture_screen() {
    // The window is read by the next frame, before its swap: only the back buffer of a frame
    // being drawn holds the picture everywhere (a software renderer's front buffer may not).
    capture_request = capture_file_name(std::getenv("HOME"), elapsed_time.load());
    return 1;
}

void field_reset_world() {
    bounded_area_mode = battle_mode = maze_mode = bird_view_mode = 0;
    accept_only_localhost = 1;
    private_mode = 1;
    bgcol = {0.0, 0.0, 0.0};
    field_is_painted = 0;
    disp_help = disp_score = disp_name = 0;
    socket_error_occurred = 0;
    view_rotation_angle = 0.0;
    view_fov_angle = 55.0;
    capture_request.clear();
    elapsed_time = 0;
    field_kill_all_turtles();
    reset_wall();
    init_teaminfo();
    turtle_field_is_cleared = 0;
    menuitem_need_to_change = 0;
}

// ---- Local controls ----

const std::array<menu_entry, 9> field_menu{{
    {"Clear Field", 1},
    {"Erase Zombie", 2},
    {"Toggle Graphics/Battle Mode", 3},
    {"Toggle Private/Public Mode", 4},
    {"Capture Screen", 5},
    {"- - - - - - - - -", 0},
    {"About Kelpmoor", 7},
    {"Kill All Turtles", 8},
    {"Exit", 9},
}};

double view_zoom(double fov, double delta) { return std::clamp(fov + delta, FOV_MIN, FOV_MAX); }

double view_rotate(double angle, double delta) {
    angle += delta;
    if (angle < -180.0) angle += 360.0;
    if (angle > 180.0) angle -= 360.0;
    return angle;
}

namespace {

// Keys and menu entries run on the main thread between frames, while the command server may
// be executing a client's batch: the ones that change the world take the frame lock.
template <typename F>
void with_world_locked(F &&action) {
    std::lock_guard<std::mutex> lock(frame_rendering_mutex);
    action();
}

}  // namespace

void keyboardfunc(unsigned char key, int /*x*/, int /*y*/) {
    switch (key) {
    case 27: field_unset_disp_help(); break;
    case '!': with_world_locked(field_toggle_battle_mode); break;
    case '@': with_world_locked(field_toggle_private_mode); break;
    case '3': field_toggle_bird_view_mode(); break;
    case '+':
    case ';': view_fov_angle = view_zoom(view_fov_angle, -FOV_STEP); break;
    case '-':
    case '=': view_fov_angle = view_zoom(view_fov_angle, FOV_STEP); break;
    case ',':
    case '<': view_rotation_angle = view_rotate(view_rotation_angle, -ROTATION_STEP); break;
    case '.':
    case '>': view_rotation_angle = view_rotate(view_rotation_angle, ROTATION_STEP); break;
    case 'B':
    case 'b': with_world_locked(field_toggle_bounded_area_mode); break;
    case 'C':
    case 'c': with_world_locked(field_clear); break;
    case 'H':
    case 'h': field_toggle_disp_help(); break;
    case 'K': with_world_locked(field_kill_all_turtles); break;
    case 'M': with_world_locked(field_toggle_maze_mode); break;
    case 'N':
    case 'n': field_toggle_disp_name(); break;
    case 'O':
    case 'o': with_world_locked([] { scatter_stone(1); }); break;
    case 'P':
    case 'p': field_capture_screen(); break;
    case 'Q': std::exit(0);
    case 'S':
    case 's': field_toggle_disp_score(); break;
    case 'Z':
    case 'z': with_world_locked(field_clear_zombie); break;
    default: break;
    }
}

void menu_action(int value) {
    switch (value) {
    case 1: with_world_locked(field_clear); break;
    case 2: with_world_locked(field_clear_zombie); break;
    case 3: with_world_locked(field_toggle_battle_mode); break;
    case 4: with_world_locked(field_toggle_private_mode); break;
    case 5: field_capture_screen(); break;
    case 7: field_set_disp_help(); break;
    case 8: with_world_locked(field_kill_all_turtles); break;
    case 9: std::exit(0);
    default: break;
    }
}
