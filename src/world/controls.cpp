// controls.cpp: the local controls: what each key and menu entry does to the world and the
// view. GL-free; the window hands the toolkit's callbacks here.
#include <algorithm>
#include <mutex>

#include "world/field.h"
#include "world/maze.h"

namespace {

inline constexpr double FOV_MIN = 15.0, FOV_MAX = 60.0;  // degrees
inline constexpr double FOV_STEP = 5.0;
inline constexpr double ROTATION_STEP = 2.5;  // degrees

void (*record_key)() = nullptr;

}  // namespace

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

void set_record_key(void (*action)()) { record_key = action; }

double view_zoom(double fov, double delta) { return std::clamp(fov + delta, FOV_MIN, FOV_MAX); }

double view_rotate(double angle, double delta) {
    angle += delta;
    if (angle < -180.0) angle += 360.0;
    if (angle > 180.0) angle -= 360.0;
    return angle;
}

// Keys and menu entries run on the main thread between frames, while the command server may be
// executing a client's batch and HTTP threads copying the world: every action holds the lock.
// Quitting does not: the servers' threads it stops may be waiting for the lock. Nor does the
// recording key, which only asks the recorder's thread.
void keyboardfunc(unsigned char key, int /*x*/, int /*y*/) {
    if (key == 'Q') field_quit();
    if (key == 'r') {
        if (record_key != nullptr) record_key();
        return;
    }
    std::lock_guard<std::mutex> lock(frame_rendering_mutex);
    switch (key) {
    case 27: field_unset_disp_help(); break;
    case '!': field_toggle_battle_mode(); break;
    case '@': field_toggle_private_mode(); break;
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
    case 'b': field_toggle_bounded_area_mode(); break;
    case 'C':
    case 'c': field_clear(); break;
    case 'H':
    case 'h': field_toggle_disp_help(); break;
    case 'K': field_kill_all_turtles(); break;
    case 'M': field_toggle_maze_mode(); break;
    case 'N':
    case 'n': field_toggle_disp_name(); break;
    case 'O':
    case 'o': scatter_stone(1); break;
    case 'P':
    case 'p': field_capture_screen(); break;
    case 'S':
    case 's': field_toggle_disp_score(); break;
    case 'Z':
    case 'z': field_clear_zombie(); break;
    default: break;
    }
}

void menu_action(int value) {
    if (value == 9) field_quit();
    std::lock_guard<std::mutex> lock(frame_rendering_mutex);
    switch (value) {
    case 1: field_clear(); break;
    case 2: field_clear_zombie(); break;
    case 3: field_toggle_battle_mode(); break;
    case 4: field_toggle_private_mode(); break;
    case 5: field_capture_screen(); break;
    case 7: field_set_disp_help(); break;
    case 8: field_kill_all_turtles(); break;
    default: break;
    }
}
