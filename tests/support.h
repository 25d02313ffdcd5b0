// support.h: what every test needs: a fresh world, a window for drawing tests, captured output.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <string>

// Returns the world and every flag to the state start-up leaves them in.
void reset_world();

// Opens the real 512 x 512 window once per process (Xvfb in CI) and resets the world.
// Drawing tests call display() or glutMainLoopEvent() themselves.
void open_test_window();

// One frame as the event loop would draw it.
void draw_one_frame();

// RGB of the back buffer's pixel at window coordinates (x, y), origin bottom-left, read after
// the frame was drawn and before any swap (draw_one_frame leaves the back buffer readable).
std::array<unsigned char, 3> read_pixel(int x, int y);

// Window pixel of a field point in the top view: field (-256, -256) is pixel (0, 0).
inline int field_to_pixel(double v) { return static_cast<int>(v + 256.0); }
