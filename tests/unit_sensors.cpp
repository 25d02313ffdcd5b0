// unit_sensors.cpp: finder, sonar and angular radar of one turtle.
#include <cmath>

#include "kelpmoor.h"
#include "support.h"
#include "turtle.h"

namespace {

// A live slot at (x, y) facing heading; extra adds kind bits (ST_STONE, ST_ZOMBIE...).
void place(int tid, double x, double y, double heading = 0.0, uint32_t extra = 0, int team = 0) {
    init_turtle(tid, tid, x, y, heading);
    ttl[tid].status = ST_ALIVE | extra;
    ttl[tid].team = team;
    ntmax = tid >= ntmax ? tid + 1 : ntmax;
}

// A two-sided wall x = wx, y in [-100, 100], its front facing -x.
void vertical_wall(double wx) {
    setup_wall(wx, -100, wx, 100, -1, 0, 0);
    setup_wall(wx, 100, wx, -100, 1, 0, WALL_BACK_FACE);
}

// Slot 0's finder as yn * 10 + team, and its sonar as left * 100 + front * 10 + right.
int finder0() {
    int yn = -1, team = -1;
    EXPECT_EQ(qt_finder(0, &yn, &team), 0);
    return yn * 10 + team;
}
int sonar0() {
    int l = -1, f = -1, r = -1;
    EXPECT_EQ(qt_sonar(0, &l, &f, &r), 0);
    return l * 100 + f * 10 + r;
}

}  // namespace

TEST(Sensors, FinderStoneAheadAndItsRange) {
    reset_world();
    place(0, 0, 0);
    place(1, 15, 0, 0.0, ST_STONE);
    EXPECT_EQ(finder0(), 30);  // a stone, no team
    EXPECT_TRUE((ttl[1].event & EV_FINDER) && ttl[0].target_of_finder == 1);

    EXPECT_EQ(turtle_finder_range(0, 100.0), 0);
    place(1, 90, 0, 0.0, 0, 2);  // contact after 70
    EXPECT_EQ(finder0(), 12);    // a turtle of team 2
    ttl[1].pos[0] = {130, 0};    // contact after 110, beyond the range
    ttl[1].event = 0;
    EXPECT_EQ(finder0(), 0);
    EXPECT_EQ(ttl[1].event, 0u);
}

TEST(Sensors, WallsCountForTheFinderOnlyInBoundedMode) {
    reset_world();
    place(0, 0, 0);
    turtle_finder_range(0, 200.0);
    vertical_wall(50);  // the body reaches it after 40
    place(1, 80, 0, 0.0, 0, 1);  // contact after 60
    EXPECT_EQ(finder0(), 11);
    bounded_area_mode = 1;
    ttl[0].target_of_finder = -1;
    ttl[1].event = 0;
    EXPECT_EQ(finder0(), 40);  // a wall
    EXPECT_TRUE(ttl[0].target_of_finder == -1 && ttl[1].event == 0u);
    ttl[1].pos[0] = {30, 0};  // now the turtle is touched first (after 10)
    EXPECT_EQ(finder0(), 11);
    ttl[1].status = 0;
    turtle_finder_range(0, 30.0);  // the wall is beyond the range
    EXPECT_EQ(finder0(), 0);
}

TEST(Sensors, SonarDirectionsAndCloseWalls) {
    reset_world();
    const double a = 35.0 / std::sqrt(2.0);  // 35 away at 45 degrees off the heading
    place(0, 0, 0);
    place(1, a, a);
    EXPECT_EQ(sonar0(), 100);
    ttl[1].pos[0] = {a, -a};
    EXPECT_EQ(sonar0(), 1);
    ttl[0].heading = 450.0;  // facing north, the thing is behind to the right
    EXPECT_EQ(sonar0(), 0);

    ttl[1].status = 0;  // walls count whatever the mode: 8 free ahead, about 11.3 at 45 degrees
    ttl[0].heading = 0.1;
    vertical_wall(18);
    EXPECT_EQ(sonar0(), 10);
    EXPECT_EQ(ttl[0].heading, 0.1);  // the side probes turn it only for the probe
}

TEST(Sensors, RadarRanksFiveByDistanceTiesByLowerSlot) {
    reset_world();
    place(0, 0, 0);
    place(1, 100, 0, 0.0, ST_STONE, 1);  // farthest, lowest slot
    place(2, 0, 30, 0.0, 0, 2);
    place(3, 0, -30, 0.0, 0, 3);  // as near as slot 2
    double dir;
    int team;
    for (int nb = 0; nb < 3; ++nb) {
        EXPECT_EQ(qt_angular_rader(0, nb, &dir, &team), 0);
        EXPECT_TRUE(team == (nb + 1) % 3 + 1 && ttl[0].target_of_rader == team) << nb;  // 2, 3, 1
    }
    EXPECT_EQ(ttl[1].event & EV_RADAR, EV_RADAR);
    ttl[3].event = 0;  // beyond the count: nothing reported, target and events untouched
    EXPECT_EQ(qt_angular_rader(0, 3, &dir, &team), -1);
    EXPECT_TRUE(team == 0 && ttl[0].target_of_rader == 1 && ttl[3].event == 0u);

    for (int t = 4; t <= 7; t++) {  // slots 4..7 nearer than all, at 36 - 2 t
        place(t, 2.0 * t - 36.0, 0);
    }
    EXPECT_EQ(qt_angular_rader(0, 4, &dir, &team), 0);
    EXPECT_EQ(ttl[0].target_of_rader, 2);  // fifth: slot 2 before slot 3 at the same 30
    EXPECT_EQ(qt_angular_rader(0, 5, &dir, &team), -1);  // only five are ranked
}

TEST(Sensors, RadarBearingIsRelativeWithBoundedNoise) {
    reset_world();
    place(0, 0, 0);
    place(1, 0, 0);
    const double cases[][4] = {
        // heading, target (x, y), bearing
        {0.0, 0, 50, 90.0},         // left is positive
        {0.0, 0, -50, -90.0},       // right is negative
        {350.0, 50, 50, 55.0},      // wraps across 0
        {890.0, -50, -1e-9, 10.0},  // heading beyond 360, target just under -180
        {-170.0, -50, 1e-9, -10.0},
    };
    for (const auto &c : cases) {
        ttl[0].heading = c[0];
        ttl[1].pos[0] = {c[1], c[2]};
        double sum = 0, lo = 1e9, hi = -1e9, dir;
        int team;
        for (int i = 0; i < 2000; i++) {
            ASSERT_EQ(qt_angular_rader(0, 0, &dir, &team), 0);
            sum += dir;
            lo = std::fmin(lo, dir);
            hi = std::fmax(hi, dir);
        }
        EXPECT_NEAR(sum / 2000, c[3], 1.5) << c[0];
        // Every draw within 20 degrees, and the noise spans nearly all of it.
        EXPECT_TRUE(lo >= c[3] - 20 && lo < c[3] - 18 && hi <= c[3] + 20 && hi > c[3] + 18)
            << c[0] << ": " << lo << ".." << hi;
    }
}
