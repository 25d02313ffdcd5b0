// controls.cpp: the local controls: what each key and menu entry does to the world and the
// view. GL-free; the window hands the toolkit's callbacks here.
#include <algorithm>
#include <cstdlib>
#include <mutex>

#include "world/field.h"
#include "world/maze.h"

namespace {

inline constexpr double FOV_MIN = 15.0, FOV_MAX = 60.0;  // degrees
inline constexpr double FOV_STEP = 5.0;
inline constexpr double ROTATION_STEP = 2.5;  // degrees

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
