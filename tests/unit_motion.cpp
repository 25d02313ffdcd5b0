// unit_motion.cpp: steps, the obstacle probe and contact latches, turns, compass, jumps, walls.
#include <cmath>
#include <limits>

#include "geofunc.h"
#include "kelpmoor.h"
#include "support.h"
#include "turtle.h"

namespace {

constexpr double EPS = 1e-9;
constexpr double INF = std::numeric_limits<double>::infinity();

void place(int tid, double x, double y, double heading = 0.0, uint32_t kind = 0) {
    init_turtle(tid, tid, x, y, heading);
    ttl[tid].status |= kind;
    ntmax = tid >= ntmax ? tid + 1 : ntmax;
}

double x_of(int tid) { return ttl[tid].pos[0].x; }
double y_of(int tid) { return ttl[tid].pos[0].y; }

}  // namespace

TEST(Probe, LeastContactDistanceWinsOverNearestFoot) {
    reset_world();
    place(0, 0, 0);
    place(1, 40, 19.9, 0, ST_STONE);  // foot at 40, touched after about 38.0
    place(2, 45, 0);                  // foot at 45, touched after 25
    double possible = 0;
    int target = -1;
    EXPECT_EQ(check_how_far_it_can_go(0, 30, &possible, &target), 1);
    EXPECT_EQ(target, 2);
    EXPECT_NEAR(possible, 25.0, EPS);
    target = -1;  // beyond the step the obstacle is reported without blocking
    EXPECT_EQ(check_how_far_it_can_go(0, 20, &possible, &target), 0);
    EXPECT_TRUE(possible == 20.0 && target == 2);

    EXPECT_EQ(turtle_step_forward(0, 30), -1);
    EXPECT_TRUE(x_of(0) == 0.0 && ttl[0].event == EV_BUMP_TURTLE);
}

TEST(Step, ThirtyApartAndTheContactLatch) {
    reset_world();
    place(0, 0, 0);
    place(1, 30, 0);
    EXPECT_EQ(turtle_step_forward(0, 5), 0);
    EXPECT_EQ(turtle_step_forward(0, 15), -1);
    EXPECT_NEAR(x_of(0), 5.0, EPS);
    EXPECT_TRUE(ttl[0].event == EV_BUMP_TURTLE && (ttl[0].status & ST_LATCH_TURTLE));
    ttl[0].event = 0;  // latched: bumping again raises nothing, not even after a turn by 0
    EXPECT_EQ(turtle_step_forward(0, 15), -1);
    turtle_turn(0, 0);
    EXPECT_EQ(turtle_step_forward(0, 15), -1);
    EXPECT_EQ(ttl[0].event, 0u);
    turtle_turn(0, 1);  // a real turn clears the latch
    turtle_turn(0, -1);
    EXPECT_EQ(turtle_step_forward(0, 15), -1);
    EXPECT_EQ(ttl[0].event, EV_BUMP_TURTLE);
    EXPECT_EQ(turtle_step_forward(0, -1), 0);  // so does a step the probe lets through
    EXPECT_FALSE(ttl[0].status & ST_LATCH_TURTLE);
    place(1, 24, 0);  // touching blocks even a zero step forward, not a step back
    EXPECT_EQ(turtle_step_forward(0, 0), -1);
    EXPECT_EQ(turtle_step_forward(0, -5), 0);
}

TEST(Step, DoughnutsAndStonesHaveTheirOwnEventsAndLatches) {
    reset_world();
    place(0, 0, 0);
    place(1, 25, 0, 0, ST_DOUGHNUT);
    place(2, 0, 25, 0, ST_STONE);
    EXPECT_EQ(turtle_step_forward(0, 10), -1);
    EXPECT_TRUE(ttl[0].event == EV_BUMP_DOUGHNUT && (ttl[0].status & ST_LATCH_DOUGHNUT));
    ttl[0].heading = 90;  // the doughnut's latch does not hide the stone's event
    EXPECT_EQ(turtle_step_forward(0, 10), -1);
    EXPECT_EQ(ttl[0].event, EV_BUMP_DOUGHNUT | EV_BUMP_STONE);
}

TEST(Step, FollowsTheHeadingPastObstaclesBesideAndBehind) {
    reset_world();
    place(0, 10, 20, 30);
    place(1, 41, 67);  // about 25 beside the path
    place(2, -5, 10);  // overlapping, but behind
    EXPECT_EQ(turtle_step_forward(0, 100), 0);
    EXPECT_NEAR(x_of(0), 10 + 100 * std::cos(PI / 6), EPS);
    EXPECT_NEAR(y_of(0), 70.0, EPS);
}

TEST(Battle, CompassStepAndTurnLimitsAndScore) {
    reset_world();
    place(0, 0, 0, 350);
    ttl[0].status |= ST_LATCH_TURTLE;
    const double expected[6] = {0, 0, 90, 180, -90, -90};  // 5 is no direction: unchanged
    for (int d = 1; d <= 5; ++d) {
        EXPECT_TRUE(turtle_head(0, d) == 0 && ttl[0].heading == expected[d]) << d;
    }
    EXPECT_TRUE(ttl[0].status & ST_LATCH_TURTLE);  // the compass keeps the latches
    battle_mode = 1;
    EXPECT_EQ(turtle_head(0, 1), 1);
    ttl[0].heading = 0;
    const double steps[][2] = {{100, 2.0}, {-100, 0.0}, {1.5, 1.5}};  // step, x after
    for (const auto &s : steps) {
        EXPECT_EQ(turtle_step_forward(0, s[0]), 0);
        EXPECT_NEAR(x_of(0), s[1], EPS) << s[0];
    }
    EXPECT_TRUE(turtle_turn(0, 90) == 0 && ttl[0].heading == 3.0);
    EXPECT_TRUE(turtle_turn(0, -90) == 0 && ttl[0].heading == 0.0);
    ttl[0].score = 0;
    EXPECT_EQ(turtle_step_forward(0, 1) + turtle_turn(0, 1), -2);
    EXPECT_TRUE(x_of(0) == 1.5 && ttl[0].heading == 0.0);
}

TEST(Walls, IgnoredOutsideBoundedModeAndStopTheBodyInside) {
    reset_world();
    place(0, 240, 0);
    EXPECT_EQ(turtle_step_forward(0, 30), 0);
    EXPECT_TRUE(std::fabs(x_of(0) - 270.0) < EPS && ttl[0].event == 0u);
    bounded_area_mode = 1;
    ttl[0].pos[0] = {230, 0};
    EXPECT_EQ(turtle_step_forward(0, 10), 0);   // 16 were free
    EXPECT_EQ(turtle_step_forward(0, 10), -1);  // 6 are free
    EXPECT_NEAR(x_of(0), 240.0, EPS);
    EXPECT_TRUE(ttl[0].event == EV_BUMP_WALL && (ttl[0].status & ST_LATCH_WALL));
    ttl[0].event = 0;
    EXPECT_EQ(turtle_step_forward(0, 10), -1);
    EXPECT_EQ(ttl[0].event, 0u);
    EXPECT_EQ(turtle_step_forward(0, 6), 0);  // exactly up to the touch, clearing the latch
    EXPECT_FALSE(ttl[0].status & ST_LATCH_WALL);
    EXPECT_EQ(turtle_step_forward(0, 0), 0);
    EXPECT_EQ(turtle_step_forward(0, 0.001), -1);
    EXPECT_EQ(turtle_step_forward(0, -20), 0);
}

TEST(Jump, ShiftsHistoryAndRefusals) {
    reset_world();
    place(0, 5, 6, 45);
    place(1, 24.9, 6);
    ttl[0].status |= ST_PAINTED | ST_LATCH_STONE;
    EXPECT_EQ(turtle_jump(0, 200, 200), -1);  // 19.9 from slot 1, wherever the target
    EXPECT_EQ(turtle_rjump(0, -100, 0), -1);
    EXPECT_EQ(x_of(0), 5.0);
    ttl[1].pos[0] = {25, 6};
    EXPECT_EQ(turtle_jump(0, 1000, -1000), 0);  // anywhere with bounded-area mode off
    EXPECT_TRUE(x_of(0) == 1000.0 && y_of(0) == -1000.0 && ttl[0].pos[1].x == 5.0);
    EXPECT_EQ(ttl[0].heading, 45.0);
    EXPECT_EQ(ttl[0].status & (ST_PAINTED | ST_LATCH_STONE), ST_LATCH_STONE);
    EXPECT_EQ(turtle_rjump(0, -975, 1006), 0);  // the target is not tested against slot 1
    EXPECT_TRUE(x_of(0) == 25.0 && y_of(0) == 6.0 && ttl[0].pos[2].x == 5.0);

    ttl[1].status = 0;
    bounded_area_mode = 1;
    EXPECT_EQ(turtle_jump(0, 300, 0), -1);
    EXPECT_EQ(turtle_jump(0, 0, -250), -1);  // 6 from the wall
    EXPECT_EQ(turtle_jump(0, 0, -246), 0);   // exactly 10
    battle_mode = 1;
    EXPECT_EQ(turtle_jump(0, 0, 0), -1);
    battle_mode = 0;
    make_zombie(0);
    EXPECT_EQ(turtle_rjump(0, 1, 1), -1);
    EXPECT_TRUE(x_of(0) == 0.0 && y_of(0) == -246.0);
}

TEST(NonFinite, RefusedAndNothingChanges) {
    reset_world();
    place(0, 1, 2, 3);
    for (double v : {std::numeric_limits<double>::quiet_NaN(), INF, -INF}) {
        EXPECT_EQ(turtle_step_forward(0, v), -1);
        EXPECT_EQ(turtle_turn(0, v), -1);
        EXPECT_EQ(turtle_jump(0, v, 0) + turtle_jump(0, 0, v), -2);
        EXPECT_EQ(turtle_rjump(0, v, 0) + turtle_rjump(0, 0, v), -2);
    }
    ttl[0].pos[0] = {1.5e308, 2};  // a finite step or jump whose result would overflow
    EXPECT_EQ(turtle_step_forward(0, 1.5e308), -1);
    EXPECT_EQ(turtle_rjump(0, 1.5e308, 0), -1);
    EXPECT_TRUE(x_of(0) == 1.5e308 && y_of(0) == 2.0 && ttl[0].pos[1].x == 1.0);
    EXPECT_TRUE(ttl[0].heading == 3.0 && ttl[0].status == ST_ALIVE && ttl[0].event == 0u);
}
