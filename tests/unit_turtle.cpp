// unit_turtle.cpp: a turtle's lifecycle (spawning, objects, doughnut limit, reset and home) and
// its motion (steps, the obstacle probe and contact latches, turns, compass, jumps, walls), with
// the distance geometry against wall segments beneath them.
#include <cstring>
#include <limits>

#include "support.h"
#include "world/coins.h"
#include "world/geometry.h"
#include "world/maze.h"

namespace {

// Slot tid stands in the square of side `size` from (x0, y0) and keeps `gap` from walls and slots.
void expect_spawned(int tid, double x0, double y0, double size, double gap) {
    const position p = ttl[tid].pos[0];
    EXPECT_TRUE(p.x >= x0 && p.x <= x0 + size && p.y >= y0 && p.y <= y0 + size &&
                dist_to_wall_from(p.x, p.y) >= gap && dist_to_nn(tid) >= gap)
        << "slot " << tid << " at " << p.x << "," << p.y;
}

constexpr double EPS = 1e-9;
constexpr double INF = std::numeric_limits<double>::infinity();

double x_of(int tid) { return ttl[tid].pos[0].x; }
double y_of(int tid) { return ttl[tid].pos[0].y; }

}  // namespace

TEST(Spawn, RegimesKindsSlotsClearanceAndLimits) {
    srandom(11);
    for (int n = 0; n < 10; ++n) {
        ASSERT_EQ(n == 1 ? generate_turtle(-1, ST_SYSTEM) : generate_turtle(n + 5, 0), n);
        expect_spawned(n, -245.5, -245.5, 491.0, 20.0);
        EXPECT_TRUE(ttl[n].heading >= -90.0 && ttl[n].heading <= 90.0) << ttl[n].heading;
    }
    EXPECT_TRUE(ttl[0].status == ST_ALIVE && ttl[0].cid == 5);
    EXPECT_TRUE(ttl[1].status == (ST_SYSTEM | ST_ALIVE) && ttl[1].cid == -1);
    for (int n = 0; n < MAX_DOUGHNUTS; ++n) ASSERT_EQ(turtle_generate_doughnut(3), 0) << n;
    EXPECT_TRUE(turtle_generate_doughnut(3) == -1 && ttl[3].ndonut == MAX_DOUGHNUTS);
    EXPECT_EQ(ttl[19].status, ST_DOUGHNUT | ST_SYSTEM | ST_ALIVE);
    ttl[2].status &= ~ST_ALIVE;  // a freed slot is reused first and ntmax stays
    EXPECT_TRUE(generate_turtle(9, 0) == 2 && ntmax == 20);

    reset_world();  // in maze mode: facing east, the corner cell first, then along its row and
    maze_mode = 1;  // column, each where a body fits
    srandom(21);
    ASSERT_EQ(generate_turtle(0, 0), 0);
    expect_spawned(0, Xmin + 10.0, Ymin + 10.0, 12.0, 10.0);
    EXPECT_EQ(ttl[0].heading, 0.0);
    ASSERT_EQ(generate_turtle(1, 0), 1);
    expect_spawned(1, Xmin + 42.0, Ymin + 10.0, 12.0, 10.0);
    ASSERT_EQ(turtle_generate_doughnut(0), 0);  // doughnuts still use the open regime
    expect_spawned(2, -245.5, -245.5, 491.0, 20.0);
    for (int round = 0; round < 20; ++round) {  // ten newcomers in a real maze: all come in apart
        field_set_maze_mode();
        for (int n = 0; n < 10; ++n) ASSERT_GE(generate_client_turtle(n), 0) << round << " " << n;
        for (int t = 0; t < ntmax; ++t) {
            if (!(ttl[t].status & ST_DOUGHNUT)) {
                EXPECT_GE(dist_to_nn(t), 20.0) << round << " " << t;
            }
        }
    }

    reset_world();  // a full table, then no free place
    for (int i = 0; i < NTURTLE; ++i) place(i, -240 + 16.0 * i, 0);
    EXPECT_EQ(generate_turtle(1, 0) + set_object_at(0, 200, ST_STONE) + turtle_generate_doughnut(0),
              -3);
    EXPECT_TRUE(ntmax == NTURTLE && ttl[0].ndonut == 0 && ttl[NTURTLE - 1].status == ST_ALIVE);
    // A new client takes the slot of the zombie whose client left first, then none.
    make_zombie(12);
    make_zombie(4);
    EXPECT_EQ(generate_client_turtle(7), 12);
    EXPECT_TRUE(ttl[12].cid == 7 && ttl[12].status == ST_ALIVE && ttl[4].status & ST_ZOMBIE);
    EXPECT_TRUE(generate_client_turtle(8) == 4 && generate_client_turtle(9) == -1);
    EXPECT_EQ(ttl[9].cid, 9);  // nothing taken from a live turtle

    reset_world();  // a wall every 30 units leaves no point 20 from every wall
    nwall = 0;
    for (int k = -9; k <= 9; ++k) setup_wall(-300, 30.0 * k, 300, 30.0 * k, 0, 1, 0);
    srandom(1);
    EXPECT_TRUE(generate_turtle(0, 0) == -1 && !(ttl[0].status & ST_ALIVE) && ntmax == 0);
}

// An object is placed only more than 20 away from any slot, with nothing left over from the
// slot's previous occupant.
TEST(Lifecycle, ObjectsResetAndHome) {
    place(0, 0, 0);
    EXPECT_EQ(set_object_at(20.0, 0, ST_STONE) + set_object_at(12.0, 16.0, ST_STONE), -2);
    EXPECT_EQ(ntmax, 1);
    std::memset(&ttl[1], 0x5A, sizeof(turtle));  // as a previous occupant left it
    ttl[1].status = ST_PEN_DOWN;
    ASSERT_EQ(set_object_at(20.000001, 0, ST_STONE), 0);
    const turtle &t = ttl[1];
    EXPECT_TRUE(t.status == (ST_STONE | ST_ALIVE) && t.cid == -1 && t.event == 0 && ntmax == 2);
    EXPECT_TRUE(t.heading == 0.0 && t.frange == 20.0 && t.pos[0].x == 20.000001 &&
                t.pos[NHISTORY - 1].x == 20.000001 && t.width[NHISTORY - 1] == 1.0);

    // Reset and home: only by the turtle's own client, refused in battle mode and for zombies.
    reset_world();
    place(0, 40, 50, 30, ST_PEN_DOWN);
    ttl[0].cid = 3;
    ttl[0].score = 7;
    EXPECT_EQ(turtle_reset(0, 5), 0);  // another client's reset changes nothing
    battle_mode = 1;
    EXPECT_EQ(turtle_reset(0, 3) + turtle_home(0), 2);
    EXPECT_TRUE(ttl[0].pos[0].x == 40.0 && ttl[0].score == 7);
    battle_mode = 0;
    EXPECT_EQ(turtle_home(0), 0);  // the whole history to the centre, pen and score kept
    EXPECT_TRUE(ttl[0].pos[NHISTORY - 1].x == 0.0 && ttl[0].pos[0].y == 0.0 &&
                ttl[0].heading == 0.0 && ttl[0].status == (ST_ALIVE | ST_PEN_DOWN) &&
                ttl[0].score == 7);
    ttl[0].pos[3] = {40, 50};
    EXPECT_EQ(turtle_reset(0, 3), 0);
    EXPECT_TRUE(ttl[0].pos[3].x == 0.0 && ttl[0].score == 100 && ttl[0].status == ST_ALIVE &&
                ttl[0].cid == 3);
    place(1, 40, 50, 30);
    make_zombie(1);
    EXPECT_EQ(turtle_reset(1, 1) + turtle_home(1), 2);
    EXPECT_TRUE(ttl[1].pos[0].x == 40.0 && ttl[1].heading == 30.0);
    ttl[0].ttl = 1;  // dying
    EXPECT_EQ(turtle_reset(0, 3) + turtle_home(0), 2);

    // Two turtles sent home stand on one spot, and walk apart.
    reset_world();
    place(0, 30, 30, 45);
    place(1, -40, 10, 90);
    ASSERT_EQ(turtle_home(0) + turtle_home(1), 0);
    EXPECT_EQ(turtle_step_forward(0, 10), 0);
    EXPECT_EQ(turtle_step_forward(1, 5), -1);  // the other now 10 ahead
    EXPECT_EQ(turtle_step_forward(0, 30), 0);
    EXPECT_EQ(turtle_step_forward(1, 10), 0);
}

// The probe: the least contact distance wins, nothing beside or behind stops a step. Steps
// stop 20 from another body, with a latch for each kind of obstacle.
TEST(Step, ProbeContactsAndALatchForEachKindOfObstacle) {
    place(0, 0, 0);
    place(1, 40, 19.9, 0, ST_STONE);  // foot at 40, touched after about 38.0
    place(2, 45, 0);                  // foot at 45, touched after 25
    double possible = 0;
    int target = -1;
    EXPECT_EQ(check_how_far_it_can_go(0, 30, &possible, &target), 1);
    EXPECT_TRUE(target == 2 && std::fabs(possible - 25.0) < EPS) << target << " " << possible;
    target = -1;  // beyond the step the obstacle is reported without blocking
    EXPECT_EQ(check_how_far_it_can_go(0, 20, &possible, &target), 0);
    EXPECT_TRUE(possible == 20.0 && target == 2);

    reset_world();
    place(0, 10, 20, 30);
    place(1, 41, 67);  // about 25 beside the path
    place(2, -5, 10);  // overlapping, but behind
    EXPECT_EQ(turtle_step_forward(0, 100), 0);
    EXPECT_TRUE(std::fabs(x_of(0) - (10 + 100 * std::cos(PI / 6))) < EPS &&
                std::fabs(y_of(0) - 70.0) < EPS);

    reset_world();
    place(0, 0, 0);
    place(1, 30, 0);
    EXPECT_EQ(turtle_step_forward(0, 5), 0);
    EXPECT_EQ(turtle_step_forward(0, 15), -1);
    EXPECT_TRUE(x_of(0) == 5.0 && ttl[0].event == EV_BUMP_TURTLE &&
                (ttl[0].status & ST_LATCH_TURTLE));
    ttl[0].event = 0;  // latched: bumping again raises nothing, not even after a turn by 0
    EXPECT_EQ(turtle_step_forward(0, 15), -1);
    turtle_turn(0, 0);
    EXPECT_TRUE(turtle_step_forward(0, 15) == -1 && ttl[0].event == 0u);
    turtle_turn(0, 1);  // a real turn clears the latch
    turtle_turn(0, -1);
    EXPECT_TRUE(turtle_step_forward(0, 15) == -1 && ttl[0].event == EV_BUMP_TURTLE);
    // So does a step the probe lets through.
    EXPECT_TRUE(turtle_step_forward(0, -1) == 0 && !(ttl[0].status & ST_LATCH_TURTLE));
    place(1, 24, 0);  // touching blocks even a zero step forward, not a step back
    EXPECT_EQ(turtle_step_forward(0, 0), -1);
    EXPECT_EQ(turtle_step_forward(0, -5), 0);

    reset_world();
    place(0, 0, 0);
    place(1, 25, 0, 0, ST_DOUGHNUT);
    place(2, 0, 25, 0, ST_STONE);
    EXPECT_EQ(turtle_step_forward(0, 10), -1);
    EXPECT_TRUE(ttl[0].event == EV_BUMP_DOUGHNUT && (ttl[0].status & ST_LATCH_DOUGHNUT));
    ttl[0].heading = 90;  // the doughnut's latch does not hide the stone's event
    EXPECT_TRUE(turtle_step_forward(0, 10) == -1 &&
                ttl[0].event == (EV_BUMP_DOUGHNUT | EV_BUMP_STONE));
}

TEST(Battle, CompassStepAndTurnLimitsAndScore) {
    place(0, 0, 0, 350, ST_LATCH_TURTLE);
    EXPECT_TRUE(turtle_head(0, 5) == 0 && ttl[0].heading == 350.0);  // no direction: unchanged
    EXPECT_TRUE(turtle_head(0, 4) == 0 && ttl[0].heading == -90.0);  // south
    EXPECT_TRUE(ttl[0].status & ST_LATCH_TURTLE);  // the compass keeps the latches
    battle_mode = 1;
    EXPECT_EQ(turtle_head(0, 1), 1);
    ttl[0].heading = 0;
    const double steps[][2] = {{100, 2.0}, {-100, 0.0}, {1.5, 1.5}};  // step, x after
    for (const auto &s : steps) EXPECT_TRUE(turtle_step_forward(0, s[0]) == 0 && x_of(0) == s[1]);
    EXPECT_TRUE(turtle_turn(0, 90) == 0 && ttl[0].heading == 3.0);
    EXPECT_TRUE(turtle_turn(0, -90) == 0 && ttl[0].heading == 0.0);
    ttl[0].score = 0;
    EXPECT_EQ(turtle_step_forward(0, 1) + turtle_turn(0, 1), -2);
    EXPECT_TRUE(x_of(0) == 1.5 && ttl[0].heading == 0.0);
}

// Walls are ignored outside bounded mode and stop the body inside; beneath, how far a disc or a
// ray travels before it meets a wall segment.
TEST(Walls, IgnoredOutsideBoundedModeStopTheBodyInsideAndTheirGeometry) {
    place(0, 240, 0);
    EXPECT_EQ(turtle_step_forward(0, 30), 0);
    EXPECT_TRUE(std::fabs(x_of(0) - 270.0) < EPS && ttl[0].event == 0u);
    bounded_area_mode = 1;
    ttl[0].pos[0] = {240, 0};
    EXPECT_EQ(turtle_step_forward(0, 10), -1);  // 6 are free
    EXPECT_TRUE(x_of(0) == 240.0 && ttl[0].event == EV_BUMP_WALL &&
                (ttl[0].status & ST_LATCH_WALL));
    ttl[0].event = 0;
    EXPECT_TRUE(turtle_step_forward(0, 10) == -1 && ttl[0].event == 0u);
    // Exactly up to the touch, clearing the latch.
    EXPECT_TRUE(turtle_step_forward(0, 6) == 0 && !(ttl[0].status & ST_LATCH_WALL));
    EXPECT_EQ(turtle_step_forward(0, 0), 0);
    EXPECT_EQ(turtle_step_forward(0, 0.001), -1);
    EXPECT_EQ(turtle_step_forward(0, -20), 0);

    // Each boundary wall, 14 from the body on either side, stops a step of more than 4
    // outwards from inside (its front face) and inwards from outside (its back face).
    for (int side = 0; side < 4; side++) {
        const double out = 90.0 * side, c = std::cos(out * PI / 180), s = std::sin(out * PI / 180);
        for (const auto &[from, heading] : {std::pair(242.0, out), std::pair(270.0, out + 180)}) {
            place(0, from * c - 30 * s, from * s + 30 * c, heading);
            EXPECT_EQ(turtle_step_forward(0, 4.01), -1) << side << " from " << from;
            EXPECT_EQ(turtle_step_forward(0, 3.99), 0) << side << " from " << from;
        }
    }

    // Beneath it all: how far a disc or a ray travels before it meets a wall segment.
    const bool disc = true, ray = false;
    const double r2 = std::sqrt(2.0), NONE = NO_HIT_DISTANCE;
    // Mostly the wall x = 50, y in [-100, 100], approached from the origin; disc radius 10.
    const struct {
        bool disc;
        double x, y, heading, x0, y0, x1, y1, nx, want;
    } cases[] = {
        {disc, 0, 0, 0, 50, -100, 50, 100, -1, 40.0},
        {disc, 0, 0, -45, 50, -100, 50, 100, -7.5, 40.0 * r2},  // ~56.569; normal's length unused
        {disc, 0, 0, 0, 20, 5, 20, 100, -1, (40.0 - std::sqrt(300.0)) / 2},  // rounded end, ~11.340
        {disc, 0, 0, 0, 20, 100, 20, 5, -1, (40.0 - std::sqrt(300.0)) / 2},  // same, reversed
        {disc, 46, 0, 0, 50, -100, 50, 100, -1, -6.0},  // already 6 past the line
        {disc, 0, 0, 0, 5, 3, 5, 100, -1, (10.0 + std::sqrt(364.0)) / 2},  // inside the end circle
        {disc, 0, 0, 0, 50, -100, 50, 100, 1, NONE},                       // back face
        {disc, 0, 0, 180, 50, -100, 50, 100, -1, NONE},                    // moving away
        {disc, 0, 0, 90, 50, -100, 50, 100, -1, NONE},                     // parallel
        {disc, 0, 0, 0, 20, 10, 20, 100, -1, NONE},  // passes 10 below the end
        {ray, 0, 0, 0, 50, -100, 50, 100, -1, 50.0},
        {ray, 0, 0, 45, 50, -100, 50, 100, -1, 50.0 * r2},
        {ray, 0, 0, 0, 50, -100, 50, 100, 1, NONE},
        {ray, 0, 0, 0, 20, 5, 20, 100, -1, NONE},       // beside the end
        {ray, 100, 0, 0, 50, -100, 50, 100, -1, NONE},  // behind the start
    };
    for (const auto &c : cases) {
        const double d = (c.disc ? net_dist_to_lineseg : dist_to_lineseg)(
            c.x, c.y, c.heading, c.x0, c.y0, c.x1, c.y1, c.nx, 0);
        EXPECT_TRUE(c.want == NONE ? d == NONE : std::fabs(d - c.want) < EPS)
            << "case " << (&c - cases) << ": " << d;
    }
}

TEST(Jump, ShiftsHistoryAndRefusalsAndNonFiniteMovesAreRefused) {
    place(0, 5, 6, 45);
    place(1, 24.9, 6);
    ttl[0].status |= ST_PAINTED | ST_LATCH_STONE;
    // 19.9 from slot 1, wherever the target.
    EXPECT_TRUE(turtle_jump(0, 200, 200) == -1 && turtle_rjump(0, -100, 0) == -1 && x_of(0) == 5.0);
    ttl[1].pos[0] = {25, 6};
    EXPECT_EQ(turtle_jump(0, 1000, -1000), 0);  // anywhere with bounded-area mode off
    EXPECT_TRUE(x_of(0) == 1000.0 && y_of(0) == -1000.0 && ttl[0].pos[1].x == 5.0);
    EXPECT_TRUE(ttl[0].heading == 45.0 &&
                (ttl[0].status & (ST_PAINTED | ST_LATCH_STONE)) == ST_LATCH_STONE);
    EXPECT_EQ(turtle_rjump(0, -975, 1006), 0);  // the target is not tested against slot 1
    EXPECT_TRUE(x_of(0) == 25.0 && y_of(0) == 6.0 && ttl[0].pos[2].x == 5.0);

    ttl[1].status = 0;
    bounded_area_mode = 1;
    EXPECT_EQ(turtle_jump(0, 300, 0) + turtle_jump(0, 0, -250), -2);  // outside; 6 from the wall
    EXPECT_EQ(turtle_jump(0, 0, -246), 0);                            // exactly 10
    battle_mode = 1;
    EXPECT_EQ(turtle_jump(0, 0, 0), -1);
    battle_mode = 0;
    make_zombie(0);
    EXPECT_EQ(turtle_rjump(0, 1, 1), -1);
    EXPECT_TRUE(x_of(0) == 0.0 && y_of(0) == -246.0);

    reset_world();  // non-finite numbers, and moves whose result would overflow
    place(0, 1, 2, 3);
    for (double v : {std::numeric_limits<double>::quiet_NaN(), INF, -INF}) {
        EXPECT_EQ(turtle_step_forward(0, v) + turtle_turn(0, v) + turtle_jump(0, v, 0) +
                      turtle_jump(0, 0, v) + turtle_rjump(0, v, 0) + turtle_rjump(0, 0, v),
                  -6)
            << v;
    }
    ttl[0].pos[0] = {1.5e308, 2};  // a finite step or jump whose result would overflow
    EXPECT_EQ(turtle_step_forward(0, 1.5e308) + turtle_rjump(0, 1.5e308, 0), -2);
    EXPECT_TRUE(x_of(0) == 1.5e308 && y_of(0) == 2.0 && ttl[0].pos[1].x == 1.0);
    EXPECT_TRUE(ttl[0].heading == 3.0 && ttl[0].status == ST_ALIVE && ttl[0].event == 0u);

    // A turn that would leave the heading beyond 1e15 degrees is refused: past it no step
    // could be taken again. Up to it the heading stays un-normalised.
    ttl[0].pos[0] = {1, 2};
    EXPECT_EQ(turtle_turn(0, 1e308), -1);
    EXPECT_EQ(ttl[0].heading, 3.0);
    EXPECT_EQ(turtle_turn(0, 1e15 - 3.0), 0);
    EXPECT_EQ(turtle_turn(0, 1.0), -1);
    EXPECT_EQ(turtle_turn(0, -2e15), 0);  // -1e15 exactly
    EXPECT_EQ(turtle_step_forward(0, 1.0), 0);
}
