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
constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

void place(int tid, double x, double y, double heading = 0.0, uint32_t kind = 0) {
    init_turtle(tid, tid, x, y, heading);
    ttl[tid].status |= kind;
    if (tid >= ntmax) {
        ntmax = tid + 1;
    }
}

double x_of(int tid) { return ttl[tid].pos[0].x; }
double y_of(int tid) { return ttl[tid].pos[0].y; }

}  // namespace

TEST(Probe, NearestContactWinsOverNearestFoot) {
    reset_world();
    place(0, 0, 0);
    place(1, 40, 19.9, 0, ST_STONE);  // foot at 40, touched after about 38.0
    place(2, 45, 0);                  // foot at 45, touched after 25
    double possible = 0;
    int target = -1;
    EXPECT_EQ(check_how_far_it_can_go(0, 30, &possible, &target), 1);
    EXPECT_EQ(target, 2);
    EXPECT_NEAR(possible, 25.0, EPS);

    // The step that would overlap the turtle is refused; one that stops short is not.
    EXPECT_EQ(turtle_step_forward(0, 30), -1);
    EXPECT_EQ(x_of(0), 0.0);
    EXPECT_EQ(ttl[0].event, EV_BUMP_TURTLE);
    EXPECT_EQ(turtle_step_forward(0, 24), 0);
    EXPECT_NEAR(x_of(0), 24.0, EPS);
    EXPECT_GE(std::hypot(x_of(2) - x_of(0), y_of(2) - y_of(0)), 20.0);
}

TEST(Probe, ReportsAnObstacleBeyondTheStepWithoutBlocking) {
    reset_world();
    place(0, 0, 0, 90);
    place(1, 3, 100, 0, ST_DOUGHNUT);
    double possible = 0;
    int target = -1;
    EXPECT_EQ(check_how_far_it_can_go(0, 50, &possible, &target), 0);
    EXPECT_EQ(possible, 50.0);
    EXPECT_EQ(target, 1);
    // Contact distance along the path: 100 - sqrt(400 - 9).
    EXPECT_EQ(check_how_far_it_can_go(0, 90, &possible, &target), 2);
    EXPECT_NEAR(possible, 100.0 - std::sqrt(391.0), EPS);

    // Nothing near the path: the target is left alone.
    target = 17;
    EXPECT_EQ(check_how_far_it_can_go(0, -50, &possible, &target), 0);
    EXPECT_EQ(possible, -50.0);
    EXPECT_EQ(target, 17);
}

TEST(Step, ThirtyApartAndTheContactLatch) {
    reset_world();
    place(0, 0, 0);
    place(1, 30, 0);
    EXPECT_EQ(turtle_step_forward(0, 5), 0);
    EXPECT_NEAR(x_of(0), 5.0, EPS);

    EXPECT_EQ(turtle_step_forward(0, 15), -1);
    EXPECT_NEAR(x_of(0), 5.0, EPS);
    EXPECT_EQ(ttl[0].event, EV_BUMP_TURTLE);
    EXPECT_TRUE(ttl[0].status & ST_LATCH_TURTLE);

    ttl[0].event = 0;
    EXPECT_EQ(turtle_step_forward(0, 15), -1);
    EXPECT_EQ(ttl[0].event, 0u);

    EXPECT_EQ(turtle_turn(0, 0), 0);
    EXPECT_TRUE(ttl[0].status & ST_LATCH_TURTLE);
    EXPECT_EQ(turtle_step_forward(0, 15), -1);
    EXPECT_EQ(ttl[0].event, 0u);

    EXPECT_EQ(turtle_turn(0, 1), 0);
    EXPECT_FALSE(ttl[0].status & ST_LATCH_TURTLE);
    EXPECT_EQ(turtle_step_forward(0, 15), -1);
    EXPECT_EQ(ttl[0].event, EV_BUMP_TURTLE);

    // A step the probe lets through clears the latch.
    EXPECT_EQ(turtle_step_forward(0, -1), 0);
    EXPECT_FALSE(ttl[0].status & ST_LATCH_TURTLE);
}

TEST(Step, EachObstacleKindHasItsOwnEventAndLatch) {
    reset_world();
    place(0, 0, 0, 0);
    place(1, 25, 0, 0, ST_DOUGHNUT);
    place(2, 0, 25, 0, ST_STONE);
    place(3, -25, 0, 0, ST_SYSTEM);  // a robot counts as a turtle
    EXPECT_EQ(turtle_step_forward(0, 10), -1);
    EXPECT_EQ(ttl[0].event, EV_BUMP_DOUGHNUT);
    EXPECT_EQ(ttl[0].status & (ST_LATCH_DOUGHNUT | ST_LATCH_STONE), ST_LATCH_DOUGHNUT);
    ttl[0].heading = 90;  // a compass-like change keeps the latches
    EXPECT_EQ(turtle_step_forward(0, 10), -1);
    EXPECT_EQ(ttl[0].event, EV_BUMP_DOUGHNUT | EV_BUMP_STONE);
    EXPECT_EQ(turtle_step_forward(0, -10), 0);  // backwards, away from the stone
    EXPECT_EQ(ttl[0].status & (ST_LATCH_DOUGHNUT | ST_LATCH_STONE), 0u);
    ttl[0].heading = 180;
    ttl[0].pos[0] = {0, 0};
    EXPECT_EQ(turtle_step_forward(0, 10), -1);
    EXPECT_TRUE(ttl[0].event & EV_BUMP_TURTLE);
}

TEST(Step, TouchingBlocksForwardEvenAZeroStepButNotBackwards) {
    reset_world();
    place(0, 0, 0);
    place(1, 20, 0);
    EXPECT_EQ(turtle_step_forward(0, 0), -1);
    EXPECT_EQ(turtle_step_forward(0, 0.5), -1);
    EXPECT_EQ(x_of(0), 0.0);
    EXPECT_EQ(turtle_step_forward(0, -5), 0);
    EXPECT_NEAR(x_of(0), -5.0, EPS);
}

TEST(Step, ObstaclesBesideOrBehindThePathDoNotBlock) {
    reset_world();
    place(0, 0, 0);
    place(1, 50, 25);   // 25 from the path's line
    place(2, -15, 0);   // behind
    EXPECT_EQ(turtle_step_forward(0, 100), 0);
    EXPECT_NEAR(x_of(0), 100.0, EPS);
    EXPECT_EQ(ttl[0].event, 0u);
}

TEST(Step, MovesAlongTheHeadingAndShiftsTheHistory) {
    reset_world();
    place(0, 10, 20, 30);
    ttl[0].col[0] = {0, 0, 1};
    ttl[0].width[0] = 3.0;
    ttl[0].status |= ST_PAINTED;
    EXPECT_EQ(turtle_step_forward(0, 10), 0);
    EXPECT_NEAR(x_of(0), 10 + 10 * std::cos(PI / 6), EPS);
    EXPECT_NEAR(y_of(0), 25.0, EPS);
    EXPECT_EQ(ttl[0].pos[1].x, 10.0);
    EXPECT_EQ(ttl[0].pos[1].y, 20.0);
    EXPECT_EQ(ttl[0].col[1].b, 1.0);
    EXPECT_EQ(ttl[0].col[0].b, 1.0);
    EXPECT_EQ(ttl[0].width[1], 3.0);
    EXPECT_EQ(ttl[0].status & ST_PAINTED, 0u);
    EXPECT_EQ(turtle_step_forward(0, -10), 0);  // backwards keeps the heading
    EXPECT_NEAR(y_of(0), 20.0, EPS);
    EXPECT_EQ(ttl[0].heading, 30.0);
}

TEST(Step, ImmovableSlotsRefuse) {
    reset_world();
    place(0, 0, 0, 0, ST_ZOMBIE);
    place(1, 100, 0, 0, ST_STONE);
    place(2, -100, 0, 0, ST_DOUGHNUT);
    for (int t = 0; t < 3; ++t) {
        double x = x_of(t);
        EXPECT_EQ(turtle_step_forward(t, 5), -1);
        EXPECT_EQ(x_of(t), x);
    }
    EXPECT_EQ(turtle_turn(0, 5), -1);
    EXPECT_EQ(ttl[0].heading, 0.0);
}

TEST(Battle, StepAndTurnLimitsAndScore) {
    reset_world();
    battle_mode = 1;
    place(0, 0, 0);
    EXPECT_EQ(turtle_step_forward(0, 100), 0);
    EXPECT_NEAR(x_of(0), 2.0, EPS);
    EXPECT_EQ(turtle_step_forward(0, -100), 0);
    EXPECT_NEAR(x_of(0), 0.0, EPS);
    EXPECT_EQ(turtle_step_forward(0, 1.5), 0);
    EXPECT_NEAR(x_of(0), 1.5, EPS);
    EXPECT_EQ(turtle_turn(0, 90), 0);
    EXPECT_EQ(ttl[0].heading, 3.0);
    EXPECT_EQ(turtle_turn(0, -90), 0);
    EXPECT_EQ(ttl[0].heading, 0.0);

    ttl[0].score = 0;
    EXPECT_EQ(turtle_step_forward(0, 1), -1);
    EXPECT_EQ(turtle_turn(0, 1), -1);
    EXPECT_NEAR(x_of(0), 1.5, EPS);
    EXPECT_EQ(ttl[0].heading, 0.0);
}

TEST(TurnAndHead, HeadingRules) {
    reset_world();
    place(0, 0, 0, 350);
    EXPECT_EQ(turtle_turn(0, 20), 0);
    EXPECT_EQ(ttl[0].heading, 370.0);  // never normalised
    ttl[0].status |= ST_LATCH_TURTLE;
    const double expected[5] = {0, 0, 90, 180, -90};
    for (int d = 1; d <= 4; ++d) {
        EXPECT_EQ(turtle_head(0, d), 0);
        EXPECT_EQ(ttl[0].heading, expected[d]);
    }
    EXPECT_TRUE(ttl[0].status & ST_LATCH_TURTLE);
    EXPECT_EQ(turtle_head(0, 5), 0);
    EXPECT_EQ(ttl[0].heading, -90.0);
    battle_mode = 1;
    EXPECT_EQ(turtle_head(0, 1), 1);
    battle_mode = 0;
    make_zombie(0);
    EXPECT_EQ(turtle_head(0, 1), 1);
    EXPECT_EQ(ttl[0].heading, -90.0);
}

TEST(Walls, IgnoredWithBoundedAreaModeOff) {
    reset_world();
    place(0, 240, 0);
    EXPECT_EQ(turtle_step_forward(0, 30), 0);
    EXPECT_NEAR(x_of(0), 270.0, EPS);
    EXPECT_EQ(turtle_step_forward(0, 1000), 0);
    EXPECT_EQ(ttl[0].event, 0u);
}

TEST(Walls, StopTheBodyInBoundedAreaMode) {
    reset_world();
    bounded_area_mode = 1;
    place(0, 230, 0);
    EXPECT_EQ(turtle_step_forward(0, 10), 0);  // 16 were free
    EXPECT_EQ(turtle_step_forward(0, 10), -1);  // 6 are free
    EXPECT_NEAR(x_of(0), 240.0, EPS);
    EXPECT_EQ(ttl[0].event, EV_BUMP_WALL);
    EXPECT_TRUE(ttl[0].status & ST_LATCH_WALL);
    ttl[0].event = 0;
    EXPECT_EQ(turtle_step_forward(0, 10), -1);
    EXPECT_EQ(ttl[0].event, 0u);
    // Exactly up to the touch is allowed and clears the latch.
    EXPECT_EQ(turtle_step_forward(0, 6), 0);
    EXPECT_FALSE(ttl[0].status & ST_LATCH_WALL);
    EXPECT_EQ(turtle_step_forward(0, 0), 0);
    EXPECT_EQ(turtle_step_forward(0, 0.001), -1);
    EXPECT_EQ(turtle_step_forward(0, -20), 0);  // away from the wall
}

TEST(Walls, ProbesAgainstAShortWall) {
    reset_world();
    nwall = 0;
    setup_wall(50, -5, 50, 5, -1, 0, 0);
    place(0, 0, 0);
    EXPECT_EQ(is_colliding_to_wall(0, 40), 0);
    EXPECT_EQ(is_colliding_to_wall(0, 40.001), 1);
    EXPECT_EQ(is_colliding_to_wall(0, -40.001), 0);
    EXPECT_NEAR(distance_to_front_wall(0, 1), 40.0, EPS);
    EXPECT_EQ(distance_to_front_wall(0, -1), NO_HIT_DISTANCE);
    // Passing 14 below the wall's lower end: the rounded end stops the body.
    ttl[0].pos[0] = {0, -14};
    double d = 50 - std::sqrt(100.0 - 81.0);
    EXPECT_NEAR(distance_to_front_wall(0, 1), d, 1e-9);
    EXPECT_EQ(is_colliding_to_wall(0, d - 0.001), 0);
    EXPECT_EQ(is_colliding_to_wall(0, d + 0.001), 1);
    nwall = 0;
    EXPECT_EQ(distance_to_front_wall(0, 1), NO_HIT_DISTANCE);
    EXPECT_EQ(is_colliding_to_wall(0, 1e6), 0);

    reset_world();
    ttl[0].pos[0] = {100, 0};
    EXPECT_NEAR(distance_to_front_wall(0, 0), 146.0, EPS);
    EXPECT_NEAR(distance_to_front_wall(0, -5), 346.0, EPS);
}

TEST(Walls, PointHitTest) {
    reset_world();
    EXPECT_EQ(is_hitting_wall(0, 0), 0);
    EXPECT_EQ(is_hitting_wall(250, 0), 0);
    EXPECT_EQ(is_hitting_wall(252, 0), 1);
    EXPECT_EQ(is_hitting_wall(0, -256), 1);
    nwall = 0;
    EXPECT_EQ(is_hitting_wall(256, 256), 0);  // on the bounds is inside
    EXPECT_EQ(is_hitting_wall(256.001, 0), 1);
    EXPECT_EQ(is_hitting_wall(0, -300), 1);
}

TEST(Jump, RefusedNearAnotherSlotWhereverTheTarget) {
    reset_world();
    place(0, 0, 0);
    place(1, 19.9, 0);
    EXPECT_EQ(turtle_jump(0, 200, 200), -1);
    EXPECT_EQ(turtle_rjump(0, -100, 0), -1);
    EXPECT_EQ(x_of(0), 0.0);
    ttl[1].pos[0] = {20, 0};
    // The target is not tested against other slots.
    EXPECT_EQ(turtle_jump(0, 20, 1), 0);
    EXPECT_EQ(x_of(0), 20.0);
}

TEST(Jump, MovesShiftsHistoryKeepsHeadingAndLatches) {
    reset_world();
    place(0, 5, 6, 45);
    ttl[0].status |= ST_PAINTED | ST_LATCH_STONE;
    EXPECT_EQ(turtle_jump(0, 1000, -1000), 0);  // anywhere with bounded-area mode off
    EXPECT_EQ(x_of(0), 1000.0);
    EXPECT_EQ(y_of(0), -1000.0);
    EXPECT_EQ(ttl[0].pos[1].x, 5.0);
    EXPECT_EQ(ttl[0].pos[1].y, 6.0);
    EXPECT_EQ(ttl[0].heading, 45.0);
    EXPECT_EQ(ttl[0].status & ST_PAINTED, 0u);
    EXPECT_TRUE(ttl[0].status & ST_LATCH_STONE);
    EXPECT_EQ(turtle_rjump(0, -990, 1010), 0);
    EXPECT_EQ(x_of(0), 10.0);
    EXPECT_EQ(y_of(0), 10.0);
    EXPECT_EQ(ttl[0].pos[2].x, 5.0);
}

TEST(Jump, BoundedAreaModeAndRefusals) {
    reset_world();
    bounded_area_mode = 1;
    place(0, 0, 0);
    EXPECT_EQ(turtle_jump(0, 300, 0), -1);
    EXPECT_EQ(turtle_jump(0, 0, -250), -1);  // 6 from the wall
    EXPECT_EQ(x_of(0), 0.0);
    EXPECT_EQ(turtle_jump(0, 0, -246), 0);   // exactly 10
    bounded_area_mode = 0;
    battle_mode = 1;
    EXPECT_EQ(turtle_jump(0, 0, 0), -1);
    battle_mode = 0;
    make_zombie(0);
    EXPECT_EQ(turtle_rjump(0, 1, 1), -1);
    EXPECT_EQ(y_of(0), -246.0);
}

TEST(NonFinite, RefusedAndNothingChanges) {
    reset_world();
    place(0, 1, 2, 3);
    EXPECT_EQ(turtle_step_forward(0, NaN), -1);
    EXPECT_EQ(turtle_step_forward(0, INF), -1);
    EXPECT_EQ(turtle_step_forward(0, -INF), -1);
    EXPECT_EQ(turtle_turn(0, NaN), -1);
    EXPECT_EQ(turtle_turn(0, INF), -1);
    EXPECT_EQ(turtle_jump(0, NaN, 0), -1);
    EXPECT_EQ(turtle_jump(0, 0, -INF), -1);
    EXPECT_EQ(turtle_rjump(0, INF, 0), -1);
    EXPECT_EQ(turtle_rjump(0, 0, NaN), -1);
    // A finite step or jump whose result would overflow is refused too.
    ttl[0].pos[0] = {1.5e308, 2};
    EXPECT_EQ(turtle_step_forward(0, 1.5e308), -1);
    EXPECT_EQ(turtle_rjump(0, 1.5e308, 0), -1);
    EXPECT_EQ(x_of(0), 1.5e308);
    EXPECT_EQ(y_of(0), 2.0);
    EXPECT_EQ(ttl[0].pos[1].x, 1.0);
    EXPECT_EQ(ttl[0].heading, 3.0);
    EXPECT_EQ(ttl[0].status, ST_ALIVE);
    EXPECT_EQ(ttl[0].event, 0u);
}
