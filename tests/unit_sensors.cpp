// unit_sensors.cpp: state queries, finder, sonar and angular radar of one turtle.
#include <cmath>

#include "kelpmoor.h"
#include "support.h"
#include "turtle.h"

namespace {

// A live slot at (x, y) facing heading; extra adds kind bits (ST_STONE, ST_ZOMBIE...).
int place(int tid, double x, double y, double heading = 0.0, uint32_t extra = 0) {
    init_turtle(tid, tid, x, y, heading);
    ttl[tid].status = ST_ALIVE | extra;
    if (tid >= ntmax) ntmax = tid + 1;
    return tid;
}

// A two-sided vertical wall at x from y0 to y1, both faces, as the field stores walls.
void vertical_wall(double x, double y0, double y1) {
    setup_wall(x, y0, x, y1, -1.0, 0.0, 0);
    setup_wall(x, y1, x, y0, 1.0, 0.0, WALL_BACK_FACE);
}

struct Finder {
    int yn = -1, team = -1;
};

Finder finder(int tid) {
    Finder f;
    EXPECT_EQ(qt_finder(tid, &f.yn, &f.team), 0);
    return f;
}

class Sensors : public ::testing::Test {
protected:
    void SetUp() override { reset_world(); }
};

TEST_F(Sensors, PlainQueriesOfLiveAndFreeSlots) {
    place(0, 12.5, -7.0, 725.0);
    ttl[0].score = 42;
    ttl[0].team = 3;
    double x = 1, y = 1, dir = 1;
    int s = -1;
    EXPECT_EQ(qt_position(0, &x, &y), 0);
    EXPECT_EQ(x, 12.5);
    EXPECT_EQ(y, -7.0);
    EXPECT_EQ(qt_direction(0, &dir), 0);
    EXPECT_EQ(dir, 725.0);  // not normalised
    EXPECT_EQ(qt_alive(0, &s), 0);
    EXPECT_EQ(s, 1);
    EXPECT_EQ(qt_score(0, &s), 0);
    EXPECT_EQ(s, 42);

    ttl[0].status &= ~ST_ALIVE;  // a dead slot keeps its other fields
    EXPECT_EQ(qt_position(0, &x, &y), -1);
    EXPECT_EQ(x, 0.0);
    EXPECT_EQ(y, 0.0);
    EXPECT_EQ(qt_direction(0, &dir), -1);
    EXPECT_EQ(dir, 0.0);
    EXPECT_EQ(qt_alive(0, &s), 0);
    EXPECT_EQ(s, 0);
    EXPECT_EQ(qt_score(0, &s), 0);
    EXPECT_EQ(s, 0);
    EXPECT_EQ(qt_my_team(0), 3);  // live or not

    place(1, 12.5 + 30, -7.0 + 40);
    EXPECT_EQ(dist_t2t(0, 1), NO_HIT_DISTANCE);
    ttl[0].status |= ST_ALIVE;
    EXPECT_DOUBLE_EQ(dist_t2t(1, 0), 50.0);
}


TEST_F(Sensors, TidOutsideTheTableIsRefused) {
    double x = 1, y = 1, dir = 1;
    int s = 1, yn = 1, team = 1, l = 1, f = 1, r = 1;
    for (int tid : {-1, NTURTLE, 1000}) {
        EXPECT_EQ(qt_position(tid, &x, &y), -1);
        EXPECT_EQ(qt_direction(tid, &dir), -1);
        EXPECT_EQ(qt_alive(tid, &s), 0);
        EXPECT_EQ(s, 0);
        EXPECT_EQ(qt_my_team(tid), 0);
        EXPECT_EQ(dist_t2t(tid, 0), NO_HIT_DISTANCE);
        EXPECT_EQ(turtle_finder_range(tid, 50), 1);
        EXPECT_EQ(qt_finder(tid, &yn, &team), 0);
        EXPECT_EQ(yn, 0);
        EXPECT_EQ(qt_sonar(tid, &l, &f, &r), 0);
        EXPECT_EQ(l + f + r, 0);
        EXPECT_EQ(qt_angular_rader(tid, 0, &dir, &team), -1);
    }
}

TEST_F(Sensors, LoneTurtleSensesNothing) {
    place(0, 0, 0, 30.0);
    ttl[0].event = EV_FINDER | EV_RADAR | EV_HIT;  // the sensors clear their own bits
    Finder f = finder(0);
    EXPECT_EQ(f.yn, 0);
    EXPECT_EQ(f.team, 0);

    int l = -1, fr = -1, r = -1;
    EXPECT_EQ(qt_sonar(0, &l, &fr, &r), 0);
    EXPECT_EQ(l, 0);
    EXPECT_EQ(fr, 0);
    EXPECT_EQ(r, 0);

    double dir = 99;
    int team = -1;
    EXPECT_EQ(qt_angular_rader(0, 0, &dir, &team), -1);
    EXPECT_EQ(team, 0);
    EXPECT_LE(std::fabs(dir), 20.0);
    EXPECT_EQ(ttl[0].event, EV_HIT);
    EXPECT_EQ(ttl[0].target_of_finder, -1);
    EXPECT_EQ(ttl[0].target_of_rader, -1);
}

TEST_F(Sensors, StoneAheadIsFoundAndMarked) {
    place(0, 0, 0);
    place(1, 15, 0, 0.0, ST_STONE);
    Finder f = finder(0);
    EXPECT_EQ(f.yn, 3);
    EXPECT_EQ(f.team, 0);
    EXPECT_EQ(ttl[1].event & EV_FINDER, EV_FINDER);
    EXPECT_EQ(ttl[0].target_of_finder, 1);

    int l, fr, r;
    qt_sonar(0, &l, &fr, &r);
    EXPECT_EQ(fr, 1);
}


TEST_F(Sensors, FinderRangeDecidesWhatIsInReach) {
    place(0, 0, 0);
    EXPECT_EQ(turtle_finder_range(0, 100.0), 0);
    EXPECT_EQ(ttl[0].frange, 100.0);

    place(1, 90, 0);  // contact after 70
    ttl[1].team = 2;
    Finder near = finder(0);
    EXPECT_EQ(near.yn, 1);
    EXPECT_EQ(near.team, 2);

    ttl[1].pos[0] = {130, 0};  // contact after 110, beyond the range
    ttl[1].event = 0;
    Finder far = finder(0);
    EXPECT_EQ(far.yn, 0);
    EXPECT_EQ(far.team, 0);
    EXPECT_EQ(ttl[1].event, 0u);
}

TEST_F(Sensors, FinderReportsWhatWouldBeTouchedFirst) {
    place(0, 0, 0);
    turtle_finder_range(0, 50.0);
    place(1, 30, 19, 0.0, ST_STONE);  // foot nearer (30) but contact after about 23.8
    place(2, 33, 0);                  // foot at 33, contact after 13
    Finder f = finder(0);
    EXPECT_EQ(f.yn, 1);
    EXPECT_EQ(ttl[0].target_of_finder, 2);
    EXPECT_EQ(ttl[2].event & EV_FINDER, EV_FINDER);
    EXPECT_EQ(ttl[1].event & EV_FINDER, 0u);
}

TEST_F(Sensors, WallsCountForTheFinderOnlyInBoundedMode) {
    place(0, 0, 0);
    turtle_finder_range(0, 200.0);
    vertical_wall(50, -100, 100);  // the body reaches it after 40
    place(1, 80, 0);               // contact after 60
    ttl[1].team = 1;

    ASSERT_EQ(bounded_area_mode, 0);
    Finder open = finder(0);
    EXPECT_EQ(open.yn, 1);
    EXPECT_EQ(open.team, 1);

    bounded_area_mode = 1;
    ttl[0].target_of_finder = -1;
    ttl[1].event = 0;
    Finder bounded = finder(0);
    EXPECT_EQ(bounded.yn, 4);
    EXPECT_EQ(bounded.team, 0);
    EXPECT_EQ(ttl[0].target_of_finder, -1);
    EXPECT_EQ(ttl[1].event, 0u);

    ttl[1].pos[0] = {30, 0};  // now the turtle is touched first (after 10)
    EXPECT_EQ(finder(0).yn, 1);

    ttl[1].status = 0;  // only the wall is in range
    EXPECT_EQ(finder(0).yn, 4);
    turtle_finder_range(0, 30.0);  // the wall is beyond the range
    EXPECT_EQ(finder(0).yn, 0);
}

TEST_F(Sensors, ZombieKeepsItsFinderRange) {
    place(0, 0, 0, 0.0, ST_ZOMBIE);
    EXPECT_EQ(turtle_finder_range(0, 150.0), 1);
    EXPECT_EQ(ttl[0].frange, 20.0);
}

TEST_F(Sensors, SonarProbesLeftFrontAndRight) {
    const double a = 35.0 / std::sqrt(2.0);  // 35 away at 45 degrees off the heading
    place(0, 0, 0, 0.0);
    place(1, a, a);
    int l, f, r;
    qt_sonar(0, &l, &f, &r);
    EXPECT_EQ(l, 1);
    EXPECT_EQ(f, 0);
    EXPECT_EQ(r, 0);

    ttl[1].pos[0] = {a, -a};
    qt_sonar(0, &l, &f, &r);
    EXPECT_EQ(l, 0);
    EXPECT_EQ(f, 0);
    EXPECT_EQ(r, 1);

    // Turned to face north, the same thing at south-east is behind to the right: not seen.
    ttl[0].heading = 450.0;
    qt_sonar(0, &l, &f, &r);
    EXPECT_EQ(l + f + r, 0);
    EXPECT_EQ(ttl[0].heading, 450.0);
}

TEST_F(Sensors, SonarSeesCloseWallsWhateverTheMode) {
    place(0, 0, 0, 0.1);
    vertical_wall(18, -100, 100);  // 8 of free travel ahead, about 11.3 at 45 degrees
    ASSERT_EQ(bounded_area_mode, 0);
    int l, f, r;
    qt_sonar(0, &l, &f, &r);
    EXPECT_EQ(l, 0);
    EXPECT_EQ(f, 1);
    EXPECT_EQ(r, 0);
    EXPECT_EQ(ttl[0].heading, 0.1);

    double dl, df, dr;
    distance_to_walls_3dir(0, &dl, &df, &dr);
    EXPECT_NEAR(df, 8.0, 0.01);
    EXPECT_GT(dl, 10.0);
    EXPECT_GT(dr, 10.0);

    nwall -= 2;  // replace it by a wall along the left side, 12 from the centre
    setup_wall(100, 12, -100, 12, 0.0, -1.0, 0);
    setup_wall(-100, 12, 100, 12, 0.0, 1.0, WALL_BACK_FACE);
    qt_sonar(0, &l, &f, &r);
    EXPECT_EQ(l, 1);
    EXPECT_EQ(f, 0);
    EXPECT_EQ(r, 0);
    distance_to_walls_3dir(0, &dl, &df, &dr);
    EXPECT_NEAR(dl, 2.0 / std::sin(45.1 * PI / 180.0), 0.01);
    EXPECT_GT(dr, 300.0);  // only the boundary, far to the south-east
}


TEST_F(Sensors, RadarRanksByDistanceAndEqualDistancesByLowerSlot) {
    place(0, 0, 0);
    place(1, 100, 0, 0.0, ST_STONE);  // farthest, lowest slot
    place(2, 0, 30);
    place(3, 0, -30);
    ttl[1].team = 1;
    ttl[2].team = 2;
    ttl[3].team = 3;
    double dir;
    int team;
    EXPECT_EQ(qt_angular_rader(0, 0, &dir, &team), 0);
    EXPECT_EQ(team, 2);
    EXPECT_EQ(ttl[0].target_of_rader, 2);
    EXPECT_EQ(qt_angular_rader(0, 1, &dir, &team), 0);
    EXPECT_EQ(team, 3);
    EXPECT_EQ(ttl[0].target_of_rader, 3);
    EXPECT_EQ(qt_angular_rader(0, 2, &dir, &team), 0);
    EXPECT_EQ(team, 1);
    EXPECT_EQ(ttl[0].target_of_rader, 1);
    EXPECT_EQ(ttl[1].event & EV_RADAR, EV_RADAR);
}

TEST_F(Sensors, RadarKeepsTheFiveNearest) {
    place(0, 0, 0);
    for (int t = 1; t <= 7; t++) {  // slot t at distance 200 - 20 t: the highest slots nearest
        place(t, 0, 200.0 - 20.0 * t);
        ttl[t].team = t % 5;
    }
    double dir;
    int team;
    EXPECT_EQ(qt_angular_rader(0, 4, &dir, &team), 0);
    EXPECT_EQ(ttl[0].target_of_rader, 3);
    EXPECT_EQ(team, 3);
    EXPECT_EQ(qt_angular_rader(0, 5, &dir, &team), -1);  // only five are ranked
    EXPECT_EQ(ttl[0].target_of_rader, 3);
}

TEST_F(Sensors, RadarBeyondTheCountLeavesTheTarget) {
    place(0, 0, 0);
    place(1, 50, 0);
    ttl[1].team = 4;
    ttl[0].target_of_rader = 17;
    double dir = 99;
    int team = -1;
    EXPECT_EQ(qt_angular_rader(0, 1, &dir, &team), -1);
    EXPECT_EQ(team, 0);
    EXPECT_EQ(ttl[0].target_of_rader, 17);
    EXPECT_EQ(ttl[1].event & EV_RADAR, 0u);
    EXPECT_LE(std::fabs(dir), 20.0);
}


// Bearing of a thing relative to the heading, averaged over many noisy draws; also
// checks that every draw lies within 20 degrees of the true bearing.
double mean_bearing(double heading, double tx, double ty, double *lo, double *hi) {
    ttl[0].heading = heading;
    ttl[1].pos[0] = {tx, ty};
    const int draws = 2000;
    double sum = 0;
    *lo = 1e9;
    *hi = -1e9;
    for (int i = 0; i < draws; i++) {
        double dir;
        int team;
        EXPECT_EQ(qt_angular_rader(0, 0, &dir, &team), 0);
        sum += dir;
        *lo = std::fmin(*lo, dir);
        *hi = std::fmax(*hi, dir);
    }
    return sum / draws;
}

TEST_F(Sensors, RadarBearingIsRelativeWithBoundedNoise) {
    place(0, 0, 0);
    place(1, 0, 0);
    struct Case {
        double heading, tx, ty, bearing;
    };
    const Case cases[] = {
        {0.0, 0, 50, 90.0},       // left is positive
        {0.0, 0, -50, -90.0},     // right is negative
        {350.0, 50, 50, 55.0},    // wraps across 0
        {890.0, -50, -1e-9, 10.0},  // heading beyond 360, target just under -180
        {-170.0, -50, 1e-9, -10.0},
    };
    for (const Case &c : cases) {
        double lo, hi;
        double mean = mean_bearing(c.heading, c.tx, c.ty, &lo, &hi);
        SCOPED_TRACE(c.heading);
        EXPECT_NEAR(mean, c.bearing, 1.5);
        EXPECT_GE(lo, c.bearing - 20.0);
        EXPECT_LE(hi, c.bearing + 20.0);
        EXPECT_LT(lo, c.bearing - 18.0);  // the noise spans the whole +-20
        EXPECT_GT(hi, c.bearing + 18.0);
    }
}

}  // namespace
