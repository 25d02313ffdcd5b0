// floor_readback.h: the paint layer's changed pixels read back for the viewers: the frame notes
// where its painting landed, and at most FLOOR_READS_PER_SECOND times a second (and once more
// after the last change) the changed rectangle is read and handed over (world/published.h).
// Main thread, inside the frame, with the window's GL context current.
#pragma once

#include <vector>

#include "world/frame_rules.h"
#include "world/published.h"

inline constexpr int FLOOR_READS_PER_SECOND = 20;

// The pixels of the floor picture (published.h) that the painter's decisions of one turtle
// can reach; empty when it paints nothing.
floor_rect paint_report_bounds(const paint_report &rep);

// Call after the paint layer is saved. painted: the frame changed the paint layer; fresh: it
// laid a new floor (all of it changed); flipped: the layer holds its picture upside down.
void floor_readback(const frame_report &rep, bool painted, bool fresh, bool flipped);

// What floor_readback cost each frame that changed the floor or read it back, microseconds,
// oldest first (the last 4096).
std::vector<double> floor_readback_times();
std::vector<double> floor_read_times();  // of the read-backs themselves, likewise
