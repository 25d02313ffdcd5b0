// walls.h: the walls of battle mode as drawn: stone faces WALL_HEIGHT high, set off along each
// record's normal, and flat caps over them. Main thread, inside the frame, with
// frame_rendering_mutex held.
#pragma once

#include "draw/scenery.h"

inline constexpr double WALL_HEIGHT = 15.0;  // field units, floor to cap

// The walls of the scenery key (a copy of the wall table): faces first, then the caps of the
// records that have one. Drawing from the key, never the table, keeps the kept scenery copy
// honest: whatever the walls' pixels depend on is in the key.
void draw_walls(const scenery_key &key);
