// unit_geometry.cpp: how far a disc or a ray travels before it meets a wall segment.
#include <cmath>

#include "geofunc.h"
#include "kelpmoor.h"
#include "support.h"

namespace {

constexpr double EPS = 1e-9;
constexpr double NONE = NO_HIT_DISTANCE;

using seg_fn = double (*)(double, double, double, double, double, double, double, double, double);

struct seg_case {
    seg_fn fn;
    double x, y, heading, x0, y0, x1, y1, nx, want;
};

}  // namespace

TEST(Geometry, DiscAndRayAgainstSegments) {
    const seg_fn disc = net_dist_to_lineseg, ray = dist_to_lineseg;
    const double r2 = std::sqrt(2.0);
    // Mostly the wall x = 50, y in [-100, 100], approached from the origin; disc radius 10.
    const seg_case cases[] = {
        {disc, 0, 0, 0, 50, -100, 50, 100, -1, 40.0},
        {disc, 0, 0, -45, 50, -100, 50, 100, -7.5, 40.0 * r2},  // ~56.569; normal's length unused
        {disc, 0, 0, 0, 20, 5, 20, 100, -1, (40.0 - std::sqrt(300.0)) / 2},  // rounded end, ~11.340
        {disc, 0, 0, 0, 20, 100, 20, 5, -1, (40.0 - std::sqrt(300.0)) / 2},  // same, reversed
        {disc, 46, 0, 0, 50, -100, 50, 100, -1, -6.0},  // already 6 past the line
        {disc, 0, 0, 0, 5, 3, 5, 100, -1, (10.0 + std::sqrt(364.0)) / 2},  // inside the end circle
        {disc, 0, 0, 0, 50, -100, 50, 100, 1, NONE},   // back face
        {disc, 0, 0, 180, 50, -100, 50, 100, -1, NONE},  // moving away
        {disc, 0, 0, 90, 50, -100, 50, 100, -1, NONE},   // parallel
        {disc, 0, 0, 0, 20, 10, 20, 100, -1, NONE},      // passes 10 below the end
        {ray, 0, 0, 0, 50, -100, 50, 100, -1, 50.0},
        {ray, 0, 0, 45, 50, -100, 50, 100, -1, 50.0 * r2},
        {ray, 0, 0, 0, 50, -100, 50, 100, 1, NONE},
        {ray, 0, 0, 0, 20, 5, 20, 100, -1, NONE},        // beside the end
        {ray, 100, 0, 0, 50, -100, 50, 100, -1, NONE},   // behind the start
    };
    for (const seg_case &c : cases) {
        double d = c.fn(c.x, c.y, c.heading, c.x0, c.y0, c.x1, c.y1, c.nx, 0);
        EXPECT_TRUE(c.want == NONE ? d == NONE : std::fabs(d - c.want) < EPS)
            << (c.fn == disc ? "disc" : "ray") << " case " << (&c - cases) << ": " << d;
    }
}
