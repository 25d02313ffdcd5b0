// unit_brush.cpp: brush-stroke geometry, read from the dabs it hands to a recording sink.
#include <algorithm>
#include <cmath>
#include <vector>

#include "kelpmoor.h"
#include "paint.h"
#include "support.h"
#include "turtle.h"

namespace {

struct dab {
    double x, y, size, r;
};
std::vector<dab> dabs;

void record(double x, double y, double size, double r, double, double) {
    dabs.push_back({x, y, size, r});
}
bool all_at_x(double x) {
    return std::all_of(dabs.begin(), dabs.end(), [x](const dab &d) { return d.x == x; });
}

class Brush : public ::testing::Test {
protected:
    void SetUp() override { dabs.clear(); }
};

TEST_F(Brush, DabSpacingItsCapAndShortPieces) {
    EXPECT_EQ(brush_intervals(10.0, 2.0), 100);  // 10 / 0.1005 = 99.5
    EXPECT_EQ(brush_intervals(400.0, 0.5), BRUSH_MAX_INTERVALS);
    EXPECT_EQ(brush_intervals(10.0, NAN), BRUSH_MAX_INTERVALS);

    brushLine(0, 0, 2, 0, 10, 2, 0.2, 0, 0, 0, record);  // upwards: uniform running style
    ASSERT_TRUE(dabs.size() == 100u || dabs.size() == 101u) << dabs.size();
    EXPECT_NEAR(dabs[37].y, 3.7, 1e-9);
    EXPECT_DOUBLE_EQ(dabs[37].size, 2.0);

    dabs.clear();  // 512 intervals spread wider than a twentieth of the size
    brushLine(0, -200, 0.5, 0, 200, 0.5, 1, 1, 1, 0, record);
    ASSERT_LE(dabs.size(), 513u);
    EXPECT_NEAR(dabs[1].y - dabs[0].y, 400.0 / 512, 1e-9);

    dabs.clear();  // length 1.077: one dab at the start with the start size
    brushLine(3, 4, 5, 4, 4.4, 9, 1, 0, 0, 1, record);
    ASSERT_EQ(dabs.size(), 1u);
    EXPECT_DOUBLE_EQ(dabs[0].x, 3.0);
    EXPECT_DOUBLE_EQ(dabs[0].size, 5.0);
}

TEST_F(Brush, StylesByLengthAndDirection) {
    const double angles[] = {0, 29.9, 30, 89.9, 90, 180, -0.1, -79.9, -80, -180};
    const int closing[] = {7, 7, 2, 2, 3, 3, 4, 4, 5, 5};
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(strokeStyle(1.0, 100.0, angles[i], 1), closing[i]) << angles[i];
    }
    EXPECT_EQ(strokeStyle(10.0, 2.0, 0.0, 0), 1);  // long and forward: waisted
    EXPECT_EQ(strokeStyle(8.0, 2.0, 0.0, 0), 0);
    EXPECT_EQ(strokeStyle(10.0, 2.0, 30.0, 0), 0);

    brushLine(0, 0, 2, 10, 10, 2, 0, 0, 1, 1, record);  // closing at 45 degrees: 1 - sqrt(t)
    ASSERT_GT(dabs.size(), 100u);
    for (const dab &d : dabs) EXPECT_NEAR(d.size, 2.0 * (1.0 - std::sqrt(d.x / 10.0)), 1e-9);
}

TEST_F(Brush, CurvesThroughThreeAndFourPoints) {
    drawCurve3(0, 0, 2, 10, 0, 3, 20, 5, 4, 0.5, 0.5, 0.5, record);
    ASSERT_TRUE(dabs.size() == 100u || dabs.size() == 101u) << dabs.size();
    EXPECT_NEAR(dabs[1].x, 0.15473, 1e-5);
    EXPECT_NEAR(dabs[1].y, -0.02214, 1e-5);
    EXPECT_NEAR(dabs[1].size, 2.01, 1e-9);
    // Halfway: a quarter of each end and half the control point (7.7639, -1.1180).
    EXPECT_NEAR(dabs[50].x, 2.5 + 0.5 * 7.76393, 1e-4);
    EXPECT_NEAR(dabs[50].y, 0.5 * -1.11803, 1e-4);

    dabs.clear();  // a sharp turn (cosine 0) is a straight piece along p0 -> p1
    drawCurve3(0, 0, 2, 0, 10, 2, -10, 10, 2, 0.5, 0.5, 0.5, record);
    EXPECT_TRUE(all_at_x(0));

    dabs.clear();  // tangents (20, 5) at p1 and (20, 15) at p2 meet at (15, 3.75)
    drawCurve4(-10, -5, 2, 0, 0, 2, 10, 0, 2, 20, 15, 2, 1, 1, 0, record);
    ASSERT_GE(dabs.size(), 100u);
    EXPECT_NEAR(dabs[50].x, 0.5 * 15 + 0.25 * 10, 1e-9);
    EXPECT_NEAR(dabs[50].y, 0.5 * 3.75, 1e-9);
}

TEST_F(Brush, ZeroLengthSegmentsPaintStraightPiecesWithoutNaN) {
    drawCurve3(0, 0, 2, 0, 10, 3, 0, 10, 4, 1, 0, 0, record);  // p1 = p2
    EXPECT_GE(dabs.size(), 100u);
    EXPECT_TRUE(all_at_x(0));
    dabs.clear();  // p0 = p1 in the closing curve: straight from p1 to p2
    drawCurve3asLastStroke(5, 5, 2, 5, 5, 2, 5, 15, 2, 1, 0, 0, record);
    EXPECT_GE(dabs.size(), 100u);
    EXPECT_TRUE(all_at_x(5));

    // Every coincidence of consecutive points, in the running and the closing strokes.
    for (int mask = 0; mask < 8; ++mask) {
        double x[4] = {0, 10, 10, 20}, y[4] = {0, 0, 10, 10};
        for (int i = 0; i < 3; ++i) {
            if (mask & (1 << i)) {
                x[i + 1] = x[i];
                y[i + 1] = y[i];
            }
        }
        dabs.clear();
        drawCurve4(x[0], y[0], 2, x[1], y[1], 2, x[2], y[2], 2, x[3], y[3], 2, 1, 0, 0, record);
        EXPECT_FALSE(dabs.empty()) << mask;
        brushLine3(x[0], y[0], 2, x[1], y[1], 2, x[2], y[2], 2, x[3], y[3], 2, 1, 0, 0, record);
        brushLine2(x[0], y[0], 2, x[1], y[1], 2, x[2], y[2], 2, 1, 0, 0, record);
        brushLine(NAN, 0, 2, 10, 0, 2, 1, 0, 0, 0, record);  // never reaches the sink
        for (const dab &d : dabs) {
            ASSERT_TRUE(std::isfinite(d.x) && std::isfinite(d.y) && std::isfinite(d.size)) << mask;
        }
    }
}

// Which history points and colour a running step (from nstroke 4) and the closing stroke use.
TEST(BrushTurtle, StrokeFollowsTheHistoryTwoPointsBehind) {
    reset_world();
    init_turtle(0, 0, 0, 0, 0);
    ntmax = 1;
    turtle &t = ttl[0];
    for (int k = 0; k < NHISTORY; ++k) {
        t.pos[k] = {100.0 - 20.0 * k, 3.0 * k};
        t.width[k] = 1.0 + k;
        t.col[k] = {0.1 * k, 0.0, 0.0};
    }
    const struct {
        int nstroke, last_stroke, first_point, colour;
    } cases[] = {{4, 0, 3, 4}, {9, 0, 3, 4}, {5, 1, 3, 4}, {3, 1, 2, 3}, {2, 1, 1, 2},
                 {3, 0, -1, 0}};  // the last: no running step before nstroke 4
    for (const auto &e : cases) {
        dabs.clear();
        t.nstroke = e.nstroke;
        paint_by_brush(0, e.last_stroke, record);
        if (e.first_point < 0) {
            EXPECT_TRUE(dabs.empty());
            continue;
        }
        ASSERT_FALSE(dabs.empty()) << e.nstroke;
        EXPECT_DOUBLE_EQ(dabs.front().x, t.pos[e.first_point].x) << e.nstroke;
        EXPECT_DOUBLE_EQ(dabs.front().r, t.col[e.colour].r) << e.nstroke;
        EXPECT_NEAR(dabs.back().x, t.pos[e.last_stroke ? 0 : 2].x, 1.0) << e.nstroke;
    }
}

}  // namespace
