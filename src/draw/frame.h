// frame.h: the window, the main loop and the frame. Main thread only, with the window's GL
// context current.
#pragma once

#include <vector>

#include "world/frame_rules.h"
#include "world/world.h"

// ---- Window and main loop (window.cpp) ----------------------------------------------------
// The window, its callbacks and menu, the paint layer, the light and the timer, and a fresh
// world.
// Tests use it to get a real window without entering the event loop.
void field_open_window(int argc, char **argv);
void timerfunc(int dummy);
void reshapefunc(int x, int y);
void menufunc(int value);
void change_menuitem();
void display();  // display_frame(), then the capture if one was asked for, then the swap
// A frame while the window cannot be seen (covered, minimised, unmapped), when the toolkit
// draws none: the same frame and capture, off-screen where the GL allows, without a swap.
void display_hidden();
void write_requested_capture();  // the capture asked for, from the frame just drawn
void window_status(int state);   // the toolkit's visibility callback
void keep_freed_memory();        // start-up: the renderer's freed memory stays for the next frame
// Everything of one frame, inside its frame_turn: the world's rules for the
// frame (field_advance_frame), then the drawing of its report.
void display_frame();

// ---- Drawing one slot of the frame's report (frame.cpp) ------------------------------------
void set_ttl_color(int team);  // the body's material in its team's colour
// The body (or the stone or doughnut icon, or the coin it carries) at (x, y), turned by angle
// degrees; delta1 swings the legs, delta2 bobs the head.
void draw_turtle_body(const slot_view &view, double x, double y, double angle, double delta1,
                      double delta2);
void draw_beam(const slot_view &v);    // its finder and radar beams
void draw_turtle(const slot_view &v);  // beams, body and labels
extern char window_title[256];         // "Kelpmoor @ host"
