// field.cpp: the field-wide operations and modes, the flag setters and the field queries.
#include "world/field.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>

#include "world/coins.h"
#include "world/maze.h"
#include "world/turtle.h"

namespace {

int first_call = 1;  // kill-all disconnects nobody until start-up's own kill-all has run

int flip(int flag) { return flag == 0 ? 1 : 0; }

}  // namespace

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

int field_timer_period_ms() {
    int nobj = 0;
    qf_n_moving_obj(&nobj);
    return nobj > 0 ? TIMER_FAST_MS : TIMER_SLOW_MS;
}

// ---- Field operations and modes ----

int field_clear() {
    turtle_field_is_cleared = 0;
    floor_clears++;
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
    reset_coin();
    kill_alls++;
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
    private_mode = private_mode ? 0 : 1;
    std::fputs(private_mode ? "entering private mode...\n" : "entering public mode...\n", stderr);
    menuitem_need_to_change = 1;
    return 0;
}

std::string capture_file_name(const char *home, unsigned long tick) {
    char base[64];
    std::snprintf(base, sizeof base, "kelpmoor-capture-%ld.png", static_cast<long>(tick));
    struct stat st {};
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
    private_mode = 1;
    bgcol = {0.0, 0.0, 0.0};
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
