// field.h: field-wide operations and modes, the flag setters and field queries, and the local
// controls (keys and menu) as GL-free actions.
// Threads: the command server thread with frame_rendering_mutex held, or the main thread from
// a key or menu action (which takes the lock itself).
#pragma once

#include <array>
#include <string>

#include "world/world.h"

// ---- Flags and field queries (field.cpp) --------------------------------------------------
void field_set_socket_error();
int field_set_color(double r, double g, double b);  // floor colour at the next clear; 0
int field_set_disp_help();
int field_unset_disp_help();
int field_toggle_disp_help();
int field_toggle_disp_score();
int field_toggle_disp_name();
int field_toggle_bird_view_mode();
int field_toggle_bounded_area_mode();
int field_set_boundary_mode(int bmode);   // 1 when already so, else toggles and 0
int field_set_disp_name(int flag);        // 1 when already so, else toggles and 0
int field_set_disp_score(int flag);       // 1 when already so, else toggles and 0
int qf_elapsed_time(unsigned long *tim);  // 0
int qf_n_turtle(int *na);                 // alive slots that are not stones; 0
int qf_n_moving_obj(int *nobj);           // alive, not zombie, stone or doughnut; 0
inline constexpr int TIMER_FAST_MS = 8;   // the timer's period while something can move
inline constexpr int TIMER_SLOW_MS = 80;  // otherwise
int field_timer_period_ms();  // TIMER_FAST_MS while qf_n_moving_obj counts any, else SLOW

// ---- Field operations and modes (field.cpp) -----------------------------------------------
int field_clear();  // erase the floor at the next frame; 0
void field_clear_zombie();
int field_clear_all_turtles();  // zombies, then the floor; 0
void field_kill_all_turtles();  // empties ttl, marks clients for disconnection, resets coins
int reset_wall();               // boundary walls only; 0
int field_set_battle_mode();
int field_unset_battle_mode();
int field_toggle_battle_mode();
void field_set_maze_mode();
void field_unset_maze_mode();
int field_toggle_maze_mode();
int field_toggle_private_mode();
int field_capture_screen();  // records capture_request for the next frame; always 1
std::string capture_file_name(const char *home, unsigned long tick);  // the capture's path
// Returns the world and every flag to the state start-up leaves them in: kill-all, boundary
// walls, teams, flags. Start-up and tests use it. Caller holds the lock.
void field_reset_world();

// ---- Local controls (controls.cpp) --------------------------------------------------------
// Main thread. World-changing actions take frame_rendering_mutex for their duration.
double view_zoom(double fov, double delta);          // clamped into 15..60
double view_rotate(double angle, double delta);      // wrapped into -180..180
void keyboardfunc(unsigned char key, int x, int y);  // Q exits with status 0
// What the key r does (start-up sets it: the recorder); run without the lock. Null: nothing.
void set_record_key(void (*action)());
void menu_action(int value);  // Exit (9) exits with status 0

// Menu entries in the order they are added: title and value.
struct menu_entry {
    const char *title;
    int value;
};
extern const std::array<menu_entry, 9> field_menu;
