// walls.h: the walls of battle mode as drawn: stone faces WALL_HEIGHT high, set off along each
// record's normal, and flat caps over them. Main thread, inside the frame, with
// frame_rendering_mutex held.
#pragma once

inline constexpr double WALL_HEIGHT = 15.0;  // field units, floor to cap

// The walls' material: what draw_walls leaves set, for the drawing after it.
void set_wall_material();
// Every record of the wall table: faces first, then the caps of the records that have one.
// Reads nwall and each record's ends, normal and status: the scenery key (scenery.h) must
// hold all of them.
void draw_walls();
