// unit_geometry.cpp: disc-to-wall, ray, point and half-line distances.
#include <cmath>

#include "geofunc.h"
#include "kelpmoor.h"
#include "support.h"

namespace {

constexpr double EPS = 1e-9;

// The vertical wall x = 50 between y = -100 and 100 with the given normal.
double to_wall_x50(double heading, double nx) {
    return net_dist_to_lineseg(0, 0, heading, 50, -100, 50, 100, nx, 0);
}

}  // namespace

TEST(NetDistToLineseg, StraightAtFrontFaceStopsOneRadiusShort) {
    EXPECT_NEAR(to_wall_x50(0, -1), 40.0, EPS);
    // A normal of any length counts only by its direction.
    EXPECT_NEAR(to_wall_x50(0, -7.5), 40.0, EPS);
}

TEST(NetDistToLineseg, BackFaceAndMovingAwayNeverHit) {
    EXPECT_EQ(to_wall_x50(0, 1), NO_HIT_DISTANCE);
    EXPECT_EQ(to_wall_x50(180, -1), NO_HIT_DISTANCE);
    // Parallel to the wall.
    EXPECT_EQ(to_wall_x50(90, -1), NO_HIT_DISTANCE);
}

TEST(NetDistToLineseg, ObliqueApproach) {
    // Path crosses the line after 50 / cos 45; the disc stops 10 / cos 45 earlier.
    double expected = 50.0 / std::cos(PI / 4) - 10.0 / std::cos(PI / 4);
    EXPECT_NEAR(to_wall_x50(45, -1), expected, EPS);
    EXPECT_NEAR(to_wall_x50(45, -1), 56.5685424949, 1e-9);
    EXPECT_NEAR(to_wall_x50(-45, -1), expected, EPS);
}

TEST(NetDistToLineseg, GrazingTheEndHitsTheRoundedEnd) {
    double d = net_dist_to_lineseg(0, 0, 0, 20, 5, 20, 100, -1, 0);
    EXPECT_NEAR(d, (40.0 - std::sqrt(300.0)) / 2.0, EPS);
    EXPECT_NEAR(d, 11.3397459622, 1e-9);
    // Passing 10 or more below the end misses it.
    EXPECT_EQ(net_dist_to_lineseg(0, 0, 0, 20, 10, 20, 100, -1, 0), NO_HIT_DISTANCE);
    // A segment pointing the other way is found the same.
    EXPECT_NEAR(net_dist_to_lineseg(0, 0, 0, 20, 100, 20, 5, -1, 0), d, EPS);
}

TEST(NetDistToLineseg, OverlapGivesNegativeDistance) {
    // Centre 4 in front of the face: the disc already reaches 6 past the line.
    EXPECT_NEAR(net_dist_to_lineseg(46, 0, 0, 50, -100, 50, 100, -1, 0), -6.0, EPS);
    // Already inside the circle around the end (5, 3): the distance to leave it.
    double d = net_dist_to_lineseg(0, 0, 0, 5, 3, 5, 100, -1, 0);
    EXPECT_NEAR(d, (10.0 + std::sqrt(364.0)) / 2.0, EPS);
}

TEST(DistToLineseg, RayCastWithoutRadius) {
    EXPECT_NEAR(dist_to_lineseg(0, 0, 0, 50, -100, 50, 100, -1, 0), 50.0, EPS);
    EXPECT_NEAR(dist_to_lineseg(0, 0, 45, 50, -100, 50, 100, -1, 0), 50.0 * std::sqrt(2.0), EPS);
    EXPECT_EQ(dist_to_lineseg(0, 0, 0, 50, -100, 50, 100, 1, 0), NO_HIT_DISTANCE);
    // The ray passes beside the segment's end.
    EXPECT_EQ(dist_to_lineseg(0, 0, 0, 20, 5, 20, 100, -1, 0), NO_HIT_DISTANCE);
    // The segment lies behind the start.
    EXPECT_EQ(dist_to_lineseg(100, 0, 0, 50, -100, 50, 100, -1, 0), NO_HIT_DISTANCE);
}

TEST(DistLinesegToPoint, NearestPointClampedToTheSegment) {
    EXPECT_NEAR(dist_lineseg_to_point(0, 0, 10, 0, 5, 3), 3.0, EPS);
    EXPECT_NEAR(dist_lineseg_to_point(0, 0, 10, 0, -3, 4), 5.0, EPS);
    EXPECT_NEAR(dist_lineseg_to_point(0, 0, 10, 0, 13, 4), 5.0, EPS);
    // Shorter than sqrt(0.00001): the distance to the start point.
    EXPECT_NEAR(dist_lineseg_to_point(0, 0, 0.002, 0, 3, 4), 5.0, EPS);
}

TEST(DistHalflineToPoint, FootAndDistance) {
    double fx = 0, fy = 0, d = 0;
    dist_halfline_to_point(0, 0, 10, 0, 5, 3, &fx, &fy, &d);
    EXPECT_NEAR(fx, 5.0, EPS);
    EXPECT_NEAR(fy, 0.0, EPS);
    EXPECT_NEAR(d, 3.0, EPS);

    // Far beyond the second point the half-line runs on.
    dist_halfline_to_point(0, 0, 10, 0, 500, -7, &fx, &fy, &d);
    EXPECT_NEAR(fx, 500.0, EPS);
    EXPECT_NEAR(d, 7.0, EPS);

    // Beside the start but slightly behind: no hit, the foot is still written.
    dist_halfline_to_point(0, 0, 10, 0, -0.01, 3, &fx, &fy, &d);
    EXPECT_EQ(d, NO_HIT_DISTANCE);
    EXPECT_NEAR(fx, -0.01, EPS);

    // A point-like half-line: the foot is the start.
    dist_halfline_to_point(1, 1, 1, 1.001, 4, 5, &fx, &fy, &d);
    EXPECT_EQ(fx, 1.0);
    EXPECT_EQ(fy, 1.0);
    EXPECT_NEAR(d, 5.0, EPS);
}
