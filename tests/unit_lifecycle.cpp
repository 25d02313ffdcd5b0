// unit_lifecycle.cpp: initial state, spawning, placing objects, reset, home, clearance queries.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "geofunc.h"
#include "kelpmoor.h"
#include "support.h"
#include "turtle.h"

namespace {

// Fills slot tid with junk, as a previous occupant might have left it (not alive).
void dirty_slot(int tid) {
    std::memset(&ttl[tid], 0x5A, sizeof(turtle));
    ttl[tid].status = ST_PEN_DOWN | ST_FILL_MODE | ST_LATCH_WALL;
}

// Every field a failed operation could have touched is as it was.
void expect_table_unchanged(const std::array<turtle, NTURTLE> &before) {
    for (int i = 0; i < NTURTLE; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(ttl[i].status, before[i].status);
        EXPECT_EQ(ttl[i].cid, before[i].cid);
        EXPECT_EQ(ttl[i].heading, before[i].heading);
        EXPECT_EQ(ttl[i].pos[0].x, before[i].pos[0].x);
        EXPECT_EQ(ttl[i].pos[0].y, before[i].pos[0].y);
        EXPECT_EQ(ttl[i].score, before[i].score);
        EXPECT_EQ(ttl[i].ndonut, before[i].ndonut);
    }
}

void place(int tid, double x, double y, double heading = 0.0) {
    init_turtle(tid, tid, x, y, heading);
    if (tid >= ntmax) {
        ntmax = tid + 1;
    }
}

}  // namespace

TEST(InitTurtle, WritesTheWholeInitialState) {
    reset_world();
    dirty_slot(4);
    init_turtle(4, 2, 10.0, -20.0, 33.0);
    const turtle &t = ttl[4];
    EXPECT_EQ(t.cid, 2);
    EXPECT_EQ(t.heading, 33.0);
    for (int i = 0; i < NHISTORY; ++i) {
        EXPECT_EQ(t.pos[i].x, 10.0);
        EXPECT_EQ(t.pos[i].y, -20.0);
        EXPECT_EQ(t.col[i].r, 1.0);
        EXPECT_EQ(t.col[i].g, 0.0);
        EXPECT_EQ(t.col[i].b, 0.0);
        EXPECT_EQ(t.width[i], 1.0);
    }
    EXPECT_EQ(t.score, 100);
    EXPECT_EQ(t.frange, 20.0);
    EXPECT_EQ(t.ttl + t.bttf + t.team + t.ndonut + t.ncoin + t.nstroke, 0);
    EXPECT_STREQ(t.msg, "");
    EXPECT_STREQ(t.name, "");
    EXPECT_EQ(t.status, ST_ALIVE);
    EXPECT_EQ(t.event, 0u);
    EXPECT_EQ(t.eventmask, 0xFFFFFFFFu);
    EXPECT_EQ(t.target_of_rader + t.target_of_finder, -2);

    init_turtle(5, -1, 0, 0, 0);
    EXPECT_EQ(ttl[5].status, ST_SYSTEM | ST_ALIVE);

    auto before = ttl;
    init_turtle(30, 0, 1, 1, 1);
    init_turtle(-1, 0, 1, 1, 1);
    expect_table_unchanged(before);
}

TEST(Clearance, EmptyFieldValues) {
    reset_world();
    nwall = 0;
    EXPECT_EQ(dist_to_nn_from(-1, 3, 4), 1.844674352395373e19);
    EXPECT_EQ(dist_to_wall_from(3, 4), NO_HIT_DISTANCE);
    reset_world();
    EXPECT_NEAR(dist_to_wall_from(200, 0), 56.0, 1e-12);
}

TEST(Spawn, StatusOfEachKind) {
    reset_world();
    srandom(3);
    int client = generate_turtle(4, 0);
    int robot = generate_turtle(-1, ST_SYSTEM);
    ASSERT_EQ(client, 0);
    ASSERT_EQ(robot, 1);
    EXPECT_EQ(ttl[client].status, 0x1u);
    EXPECT_EQ(ttl[client].cid, 4);
    EXPECT_EQ(ttl[robot].status, 0x201u);
    EXPECT_EQ(ttl[robot].cid, -1);
    ASSERT_EQ(turtle_generate_doughnut(client), 0);
    EXPECT_EQ(ttl[2].status, 0xA01u);
    EXPECT_EQ(ttl[client].ndonut, 1);
    EXPECT_EQ(ntmax, 3);
    ASSERT_EQ(set_object_at(100, 100, ST_STONE), 0);
    EXPECT_EQ(ttl[3].status, 0x401u);
    EXPECT_EQ(ntmax, 4);
}

TEST(Spawn, OpenRegimeAreaHeadingAndClearance) {
    reset_world();
    srandom(11);
    for (int n = 0; n < 25; ++n) {
        int slot = generate_turtle(n % 10, 0);
        ASSERT_EQ(slot, n);
        const turtle &t = ttl[slot];
        EXPECT_LE(std::fabs(t.pos[0].x), 245.5);
        EXPECT_LE(std::fabs(t.pos[0].y), 245.5);
        EXPECT_GE(t.heading, -90.0);
        EXPECT_LE(t.heading, 90.0);
        EXPECT_GE(dist_to_nn(slot), 20.0);
        EXPECT_GE(dist_to_wall_from(t.pos[0].x, t.pos[0].y), 20.0);
    }
    EXPECT_EQ(ntmax, 25);
}

TEST(Spawn, FillsTheLowestFreeSlotAndKeepsNtmax) {
    reset_world();
    srandom(5);
    for (int n = 0; n < 5; ++n) {
        ASSERT_EQ(generate_turtle(n, 0), n);
    }
    ttl[2].status &= ~ST_ALIVE;
    EXPECT_EQ(generate_turtle(9, 0), 2);
    EXPECT_EQ(ntmax, 5);
}

TEST(Spawn, FailsWhenTheTableIsFull) {
    reset_world();
    for (int i = 0; i < NTURTLE; ++i) {
        place(i, -240 + 16.0 * i, 0);
    }
    auto before = ttl;
    EXPECT_EQ(generate_turtle(1, 0), -1);
    EXPECT_EQ(set_object_at(0, 200, ST_STONE), -1);
    EXPECT_EQ(turtle_generate_doughnut(0), -1);
    expect_table_unchanged(before);
    EXPECT_EQ(ntmax, NTURTLE);
}

TEST(Spawn, FailsWhenNoPlaceIsFree) {
    reset_world();
    // A wall every 30 units leaves no point 20 from every wall.
    nwall = 0;
    for (int k = -9; k <= 9; ++k) {
        setup_wall(-300, 30.0 * k, 300, 30.0 * k, 0, 1, 0);
    }
    srandom(1);
    EXPECT_EQ(generate_turtle(0, 0), -1);
    EXPECT_EQ(ttl[0].status & ST_ALIVE, 0u);
    EXPECT_EQ(ntmax, 0);
}

TEST(Spawn, MazeRegimeCornerCellHeadingZero) {
    reset_world();
    maze_mode = 1;
    srandom(21);
    for (int n = 0; n < 3; ++n) {
        int slot = generate_turtle(n, 0);
        ASSERT_EQ(slot, n);
        const turtle &t = ttl[slot];
        EXPECT_EQ(t.heading, 0.0);
        EXPECT_GE(t.pos[0].x, Xmin);
        EXPECT_LE(t.pos[0].x, Xmin + 32);
        EXPECT_GE(t.pos[0].y, Ymin);
        EXPECT_LE(t.pos[0].y, Ymin + 32);
        EXPECT_GE(dist_to_wall_from(t.pos[0].x, t.pos[0].y), 10.0);
        EXPECT_GE(dist_to_nn(slot), 10.0);
    }
    // A doughnut spawned in maze mode uses the open regime.
    ASSERT_EQ(turtle_generate_doughnut(0), 0);
    const turtle &d = ttl[3];
    EXPECT_EQ(d.status, 0xA01u);
    EXPECT_GE(dist_to_wall_from(d.pos[0].x, d.pos[0].y), 20.0);
    EXPECT_GE(dist_to_nn(3), 20.0);
}

TEST(Doughnut, EleventhRequestIsRefused) {
    reset_world();
    srandom(8);
    place(0, 0, 0);
    for (int n = 0; n < MAX_DOUGHNUTS; ++n) {
        ASSERT_EQ(turtle_generate_doughnut(0), 0) << n;
    }
    int before = ntmax;
    EXPECT_EQ(turtle_generate_doughnut(0), -1);
    EXPECT_EQ(ttl[0].ndonut, MAX_DOUGHNUTS);
    EXPECT_EQ(ntmax, before);
}

TEST(SetObjectAt, DistanceLimitAndInitialState) {
    reset_world();
    place(0, 0, 0);
    EXPECT_EQ(set_object_at(20.0, 0, ST_STONE), -1);
    EXPECT_EQ(set_object_at(12.0, 16.0, ST_STONE), -1);
    EXPECT_EQ(ntmax, 1);

    dirty_slot(1);
    ASSERT_EQ(set_object_at(20.000001, 0, ST_STONE), 0);
    const turtle &t = ttl[1];
    EXPECT_EQ(t.cid, -1);
    EXPECT_EQ(t.status, ST_STONE | ST_ALIVE);
    // No leftovers of the slot's previous occupant.
    EXPECT_EQ(t.heading, 0.0);
    EXPECT_EQ(t.frange, 20.0);
    for (int i = 0; i < NHISTORY; ++i) {
        EXPECT_EQ(t.pos[i].x, 20.000001);
        EXPECT_EQ(t.pos[i].y, 0.0);
        EXPECT_EQ(t.col[i].r, 0.5);
        EXPECT_EQ(t.col[i].g, 0.5);
        EXPECT_EQ(t.col[i].b, 0.5);
        EXPECT_EQ(t.width[i], 1.0);
    }
    EXPECT_EQ(t.ttl + t.bttf + t.score + t.team + t.ndonut + t.ncoin + t.nstroke, 0);
    EXPECT_STREQ(t.msg, "");
    EXPECT_STREQ(t.name, "");
    EXPECT_EQ(t.event, 0u);
    EXPECT_EQ(t.eventmask, 0xFFFFFFFFu);
    EXPECT_EQ(t.target_of_finder + t.target_of_rader, -2);
    EXPECT_EQ(ntmax, 2);
}

TEST(Reset, ReinitialisesOnlyForItsOwnClient) {
    reset_world();
    place(0, 40, 50, 30);
    ttl[0].cid = 3;
    ttl[0].score = 7;
    ttl[0].ncoin = 4;
    ttl[0].status |= ST_PEN_DOWN | ST_BRUSH_MODE;
    std::snprintf(ttl[0].name, sizeof ttl[0].name, "kim");

    EXPECT_EQ(turtle_reset(0, 5), 0);  // another client: nothing changes
    EXPECT_EQ(ttl[0].pos[0].x, 40.0);
    EXPECT_EQ(ttl[0].score, 7);

    EXPECT_EQ(turtle_reset(0, 3), 0);
    EXPECT_EQ(ttl[0].pos[0].x, 0.0);
    EXPECT_EQ(ttl[0].pos[6].y, 0.0);
    EXPECT_EQ(ttl[0].heading, 0.0);
    EXPECT_EQ(ttl[0].score, 100);
    EXPECT_EQ(ttl[0].ncoin, 0);
    EXPECT_EQ(ttl[0].status, ST_ALIVE);
    EXPECT_STREQ(ttl[0].name, "");
    EXPECT_EQ(ttl[0].cid, 3);
}

TEST(Reset, RefusedInBattleModeAndForZombies) {
    reset_world();
    place(0, 40, 50, 30);
    battle_mode = 1;
    EXPECT_EQ(turtle_reset(0, 0), 1);
    EXPECT_EQ(turtle_home(0), 1);
    EXPECT_EQ(ttl[0].pos[0].x, 40.0);
    battle_mode = 0;
    make_zombie(0);
    EXPECT_EQ(turtle_reset(0, 0), 1);
    EXPECT_EQ(turtle_home(0), 1);
    EXPECT_EQ(ttl[0].pos[0].x, 40.0);
    EXPECT_EQ(ttl[0].heading, 30.0);
}

TEST(Home, MovesTheWholeHistoryAndKeepsThePen) {
    reset_world();
    place(0, 40, 50, 30);
    ttl[0].col[0] = {0, 1, 0};
    ttl[0].width[3] = 4.0;
    ttl[0].status |= ST_PEN_DOWN;
    EXPECT_EQ(turtle_home(0), 0);
    for (int i = 0; i < NHISTORY; ++i) {
        EXPECT_EQ(ttl[0].pos[i].x, 0.0);
        EXPECT_EQ(ttl[0].pos[i].y, 0.0);
    }
    EXPECT_EQ(ttl[0].heading, 0.0);
    EXPECT_EQ(ttl[0].col[0].g, 1.0);
    EXPECT_EQ(ttl[0].width[3], 4.0);
    EXPECT_EQ(ttl[0].status, ST_ALIVE | ST_PEN_DOWN);
}
