// unit_lifecycle.cpp: spawning, placing objects, doughnut limit, reset and home.
#include <cstdlib>
#include <cstring>

#include "geofunc.h"
#include "kelpmoor.h"
#include "support.h"
#include "turtle.h"

namespace {

void place(int tid, double x, double y, double heading = 0.0) {
    init_turtle(tid, tid, x, y, heading);
    ntmax = tid >= ntmax ? tid + 1 : ntmax;
}

// Slot tid stands in the square of side `size` from (x0, y0) and keeps `gap` from walls and slots.
void expect_spawned(int tid, double x0, double y0, double size, double gap) {
    const position p = ttl[tid].pos[0];
    EXPECT_TRUE(p.x >= x0 && p.x <= x0 + size && p.y >= y0 && p.y <= y0 + size &&
                dist_to_wall_from(p.x, p.y) >= gap && dist_to_nn(tid) >= gap)
        << "slot " << tid << " at " << p.x << "," << p.y;
}

}  // namespace

TEST(Spawn, OpenRegimeKindsSlotsClearanceAndDoughnutLimit) {
    reset_world();
    srandom(11);
    for (int n = 0; n < 10; ++n) {
        ASSERT_EQ(n == 1 ? generate_turtle(-1, ST_SYSTEM) : generate_turtle(n + 5, 0), n);
        expect_spawned(n, -245.5, -245.5, 491.0, 20.0);
        EXPECT_TRUE(ttl[n].heading >= -90.0 && ttl[n].heading <= 90.0) << ttl[n].heading;
    }
    EXPECT_TRUE(ttl[0].status == ST_ALIVE && ttl[0].cid == 5);
    EXPECT_TRUE(ttl[1].status == (ST_SYSTEM | ST_ALIVE) && ttl[1].cid == -1);
    for (int n = 0; n < MAX_DOUGHNUTS; ++n) ASSERT_EQ(turtle_generate_doughnut(3), 0) << n;
    EXPECT_EQ(turtle_generate_doughnut(3), -1);
    EXPECT_EQ(ttl[3].ndonut, MAX_DOUGHNUTS);
    EXPECT_EQ(ttl[19].status, ST_DOUGHNUT | ST_SYSTEM | ST_ALIVE);
    ttl[2].status &= ~ST_ALIVE;  // a freed slot is reused first and ntmax stays
    EXPECT_EQ(generate_turtle(9, 0), 2);
    EXPECT_EQ(ntmax, 20);
}

TEST(Spawn, MazeRegimeUsesTheCornerCellFacingEast) {
    reset_world();
    maze_mode = 1;
    srandom(21);
    for (int n = 0; n < 3; ++n) {
        ASSERT_EQ(generate_turtle(n, 0), n);
        expect_spawned(n, Xmin, Ymin, 32.0, 10.0);
        EXPECT_EQ(ttl[n].heading, 0.0);
    }
    ASSERT_EQ(turtle_generate_doughnut(0), 0);  // doughnuts still use the open regime
    expect_spawned(3, -245.5, -245.5, 491.0, 20.0);
}

TEST(Spawn, FullTableOrNoFreePlaceFails) {
    reset_world();
    for (int i = 0; i < NTURTLE; ++i) {
        place(i, -240 + 16.0 * i, 0);
    }
    EXPECT_EQ(generate_turtle(1, 0), -1);
    EXPECT_EQ(set_object_at(0, 200, ST_STONE), -1);
    EXPECT_EQ(turtle_generate_doughnut(0), -1);
    EXPECT_TRUE(ntmax == NTURTLE && ttl[0].ndonut == 0 && ttl[NTURTLE - 1].status == ST_ALIVE);

    reset_world();  // a wall every 30 units leaves no point 20 from every wall
    nwall = 0;
    for (int k = -9; k <= 9; ++k) {
        setup_wall(-300, 30.0 * k, 300, 30.0 * k, 0, 1, 0);
    }
    srandom(1);
    EXPECT_EQ(generate_turtle(0, 0), -1);
    EXPECT_EQ(ttl[0].status & ST_ALIVE, 0u);
    EXPECT_EQ(ntmax, 0);
}

TEST(SetObjectAt, MoreThanTwentyAwayAndNoLeftovers) {
    reset_world();
    place(0, 0, 0);
    EXPECT_EQ(set_object_at(20.0, 0, ST_STONE), -1);
    EXPECT_EQ(set_object_at(12.0, 16.0, ST_STONE), -1);
    EXPECT_EQ(ntmax, 1);
    std::memset(&ttl[1], 0x5A, sizeof(turtle));  // as a previous occupant left it
    ttl[1].status = ST_PEN_DOWN;
    ASSERT_EQ(set_object_at(20.000001, 0, ST_STONE), 0);
    const turtle &t = ttl[1];
    EXPECT_TRUE(t.status == (ST_STONE | ST_ALIVE) && t.cid == -1 && t.event == 0);
    EXPECT_TRUE(t.heading == 0.0 && t.frange == 20.0) << t.heading << " " << t.frange;
    EXPECT_TRUE(t.pos[0].x == 20.000001 && t.pos[NHISTORY - 1].x == 20.000001 &&
                t.width[NHISTORY - 1] == 1.0);
    EXPECT_EQ(ntmax, 2);
}

TEST(ResetAndHome, OwnClientOnlyAndRefusals) {
    reset_world();
    place(0, 40, 50, 30);
    ttl[0].cid = 3;
    ttl[0].score = 7;
    ttl[0].status |= ST_PEN_DOWN;
    EXPECT_EQ(turtle_reset(0, 5), 0);  // another client's reset changes nothing
    battle_mode = 1;
    EXPECT_EQ(turtle_reset(0, 3) + turtle_home(0), 2);
    EXPECT_TRUE(ttl[0].pos[0].x == 40.0 && ttl[0].score == 7);
    battle_mode = 0;
    EXPECT_EQ(turtle_home(0), 0);  // the whole history to the centre, pen and score kept
    EXPECT_TRUE(ttl[0].pos[NHISTORY - 1].x == 0.0 && ttl[0].pos[0].y == 0.0 && ttl[0].heading == 0.0 &&
                ttl[0].status == (ST_ALIVE | ST_PEN_DOWN) && ttl[0].score == 7);
    ttl[0].pos[3] = {40, 50};
    EXPECT_EQ(turtle_reset(0, 3), 0);
    EXPECT_TRUE(ttl[0].pos[3].x == 0.0 && ttl[0].score == 100 && ttl[0].status == ST_ALIVE &&
                ttl[0].cid == 3);
    place(1, 40, 50, 30);
    make_zombie(1);
    EXPECT_EQ(turtle_reset(1, 1) + turtle_home(1), 2);
    EXPECT_TRUE(ttl[1].pos[0].x == 40.0 && ttl[1].heading == 30.0);
}
