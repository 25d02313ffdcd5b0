// frame_rules.h: one frame of the world's own rules, GL-free. field_advance_frame runs every
// per-frame step in the frame's order and reports what the frame must draw; the frame draws
// only that report. Main thread, inside the frame, with frame_rendering_mutex held.
#pragma once

#include <array>

#include "world/battle.h"
#include "world/paint.h"
#include "world/world.h"

// A finder or radar beam from a turtle to the slot it caught.
struct beam_view {
    bool on = false;
    position to{};  // the caught slot's position when the beam was taken
};

// One turtle slot as it stands: what the frame draws of it and what viewers are shown.
struct turtle_snapshot {
    int tid = -1;
    int cid = -1;  // its client, -1 for none
    uint32_t status = 0, event = 0;
    position pos{};
    double heading = 0.0;  // degrees
    int team = 0, score = 0, ncoin = 0;
    int ttl = 0;  // dying countdown: the body is translucent while it runs
    int bttf = 0;
    position bullet{};  // bullet in flight, or the place of its hit flash
    double bheading = 0.0;
    char name[129] = {};
};
turtle_snapshot snapshot_turtle(int tid);  // tid 0..NTURTLE-1

// One slot as the frame draws it: the world as it stood when the slot's turn came, after its
// own earlier steps and before its later ones.
struct slot_view : turtle_snapshot {
    bool drawn = false;       // the slot was alive when its turn came; nothing is drawn otherwise
    beam_view finder, radar;  // battle mode only
    // Its bullet (drawn also after the slot was freed), burst, fireball and flash.
    battle_draw battle;
};

struct frame_report {
    // The painter's decisions, slot by slot (0 .. npaint - 1), and whether any slot lived.
    std::array<paint_report, NTURTLE> paint{};
    int npaint = 0;
    bool any_alive = false;
    // The slots in drawing order: objects (stones, doughnuts) first, then the rest, each in
    // slot order.
    std::array<slot_view, NTURTLE> slots{};
    int nslots = 0;
};

// Advances the world by one frame: coin events, team boards' posting locks, the painter's
// decisions, then each slot's steps in drawing order: its bullet, then (if alive) the beams it
// shows this frame (taken and cleared) and its body and labels as they stand, its explosion
// and hit-flash countdowns, and a robot's step.
void field_advance_frame(frame_report &rep);

bool is_object(int tid);  // a stone or a doughnut
