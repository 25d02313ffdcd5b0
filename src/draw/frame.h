// frame.h: the window, the main loop and the frame. Main thread only, with the window's GL
// context current.
#pragma once

#include <vector>

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
void display();        // display_frame(), then the capture if one was asked for, then the swap
void keep_freed_memory();  // start-up: the renderer's freed memory stays for the next frame
void display_frame();  // everything of one frame up to and including rendering_is_done
extern unsigned int bg_textures;             // the paint layer's texture name
extern std::vector<unsigned char> bg_tex_buffer;  // initial pixels of the paint layer

void set_ttl_color(int tid);
void draw_turtle_body(int tid, double x, double y, double angle, double delta1, double delta2);
void draw_beam(int tid);
void draw_turtle(int tid);
extern char window_title[256];  // "Kelpmoor @ host"
