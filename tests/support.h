// support.h: what every test needs: a fresh world, turtles placed by hand, a window for drawing
// tests.
#pragma once

#include <gtest/gtest.h>

// The standard headers most tests use.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "draw/frame.h"
#include "kelpmoor.h"
#include "world/field.h"
#include "world/turtle.h"

// Returns the world and every flag to the state start-up leaves them in. Every test starts
// so: support.cpp resets the world, under the frame lock, before each test begins.
void reset_world();

// A live slot at (x, y) facing heading, driven by client tid, with extra kind bits
// (ST_STONE, ST_ZOMBIE...) and a team; ntmax grows to cover it.
void place(int tid, double x, double y, double heading = 0.0, uint32_t kind = 0, int team = 0);

// A stroke in progress behind slot tid: history entry k at (10 k + 1, -5 k), in colour
// (0.1 k, 0.5, 1 - 0.1 k), with width 1 + k.
void fill_history(int tid);

// Opens the real 512 x 512 window once per process (Xvfb in CI) and resets the world.
// Drawing tests call display() or glutMainLoopEvent() themselves.
void open_test_window();
