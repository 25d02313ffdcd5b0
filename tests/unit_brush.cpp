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
    double x, y, size, r, g, b;
};

std::vector<dab> dabs;

void record(double x, double y, double size, double r, double g, double b) {
    dabs.push_back({x, y, size, r, g, b});
}

bool all_finite() {
    for (const dab &d : dabs) {
        if (!std::isfinite(d.x) || !std::isfinite(d.y) || !std::isfinite(d.size)) {
            return false;
        }
    }
    return true;
}

class Brush : public ::testing::Test {
protected:
    void SetUp() override { dabs.clear(); }
};

TEST_F(Brush, DabsAreOneTwentiethOfTheSizeApartUpToTheCap) {
    EXPECT_EQ(brush_intervals(10.0, 2.0), 100);  // 10 / 0.1005 = 99.5
    EXPECT_EQ(brush_intervals(10.0, -2.0), 100);
    EXPECT_EQ(brush_intervals(0.0, 2.0), 1);
    EXPECT_EQ(brush_intervals(400.0, 0.5), BRUSH_MAX_INTERVALS);
    EXPECT_EQ(brush_intervals(INFINITY, 1.0), BRUSH_MAX_INTERVALS);
    EXPECT_EQ(brush_intervals(10.0, NAN), BRUSH_MAX_INTERVALS);

    // Upwards, so the running style is uniform: 100 intervals of 0.1 along the segment.
    brushLine(0, 0, 2, 0, 10, 2, 0.2, 0.4, 0.6, 0, record);
    ASSERT_GE(dabs.size(), 100u);
    ASSERT_LE(dabs.size(), 101u);
    for (size_t i = 0; i < dabs.size(); ++i) {
        EXPECT_DOUBLE_EQ(dabs[i].x, 0.0);
        EXPECT_NEAR(dabs[i].y, 0.1 * i, 1e-9);
        EXPECT_DOUBLE_EQ(dabs[i].size, 2.0);
        EXPECT_DOUBLE_EQ(dabs[i].g, 0.4);
    }

    // A long piece with a thin brush: 512 intervals, spread wider than a twentieth.
    dabs.clear();
    brushLine(0, -200, 0.5, 0, 200, 0.5, 1, 1, 1, 0, record);
    ASSERT_GE(dabs.size(), 512u);
    ASSERT_LE(dabs.size(), 513u);
    EXPECT_NEAR(dabs[1].y - dabs[0].y, 400.0 / 512, 1e-9);
}

TEST_F(Brush, PieceShorterThanTheShortSegmentIsOneDabAtItsStart) {
    brushLine(3, 4, 5, 4, 4.4, 9, 1, 0, 0, 1, record);  // length 1.077
    ASSERT_EQ(dabs.size(), 1u);
    EXPECT_DOUBLE_EQ(dabs[0].x, 3.0);
    EXPECT_DOUBLE_EQ(dabs[0].y, 4.0);
    EXPECT_DOUBLE_EQ(dabs[0].size, 5.0);

    dabs.clear();
    brushLine(3, 4, 5, 4, 4.5, 9, 1, 0, 0, 1, record);  // length 1.118
    EXPECT_GT(dabs.size(), 1u);
}

TEST_F(Brush, LongForwardRunningPieceIsWaisted) {
    EXPECT_EQ(strokeStyle(10.0, 2.0, 0.0, 0), 1);
    EXPECT_EQ(strokeStyle(8.0, 2.0, 0.0, 0), 0);  // length / width not above 4
    EXPECT_EQ(strokeStyle(10.0, 2.0, 30.0, 0), 0);
    EXPECT_EQ(strokeStyle(10.0, 2.0, -1.0, 0), 0);

    brushLine(0, 0, 2, 10, 0, 2, 1, 0, 0, 0, record);
    ASSERT_GE(dabs.size(), 100u);
    EXPECT_NEAR(dabs[0].size, 2 * 0.86, 1e-12);
    EXPECT_NEAR(dabs[40].size, 2 * 0.748, 1e-9);  // the waist at t = 0.4
    for (const dab &d : dabs) {
        EXPECT_GE(d.size, 2 * 0.748 - 1e-9);
        EXPECT_LE(d.size, 2.0);
    }
}

TEST_F(Brush, ClosingStyleFollowsTheDirectionOfTheLastPiece) {
    struct band {
        double angle;
        int style;
    };
    const band bands[] = {{0, 7},    {29.9, 7},  {30, 2},   {89.9, 2}, {90, 3},
                          {180, 3},  {-0.1, 4},  {-79.9, 4}, {-80, 5}, {-180, 5}};
    for (const band &b : bands) {
        EXPECT_EQ(strokeStyle(1.0, 100.0, b.angle, 1), b.style) << b.angle;
    }

    EXPECT_DOUBLE_EQ(thickness(0.3, 0), 1.0);
    EXPECT_DOUBLE_EQ(thickness(0.3, 8), 1.0);
    EXPECT_NEAR(thickness(0.25, 2), 0.5, 1e-12);
    EXPECT_NEAR(thickness(0.25, 4), 0.75, 1e-12);
    EXPECT_NEAR(thickness(0.25, 5), 0.875, 1e-12);
    EXPECT_NEAR(thickness(0.4999999, 6), 2.3396, 1e-4);  // the swell's peak
    EXPECT_NEAR(thickness(1.0, 6), 0.0, 1e-12);
    EXPECT_DOUBLE_EQ(vshift(0.75, 6), 0.5);
    EXPECT_DOUBLE_EQ(vshift(0.25, 6), 0.0);
    EXPECT_DOUBLE_EQ(vshift(0.75, 4), 0.0);
}

TEST_F(Brush, ClosingPieceHeadingUpwardsThinsToNothing) {
    brushLine(0, 0, 2, 10, 10, 2, 0, 0, 1, 1, record);  // 45 degrees: style 2
    ASSERT_GT(dabs.size(), 100u);
    for (const dab &d : dabs) {
        double t = d.x / 10.0;
        EXPECT_NEAR(d.y, d.x, 1e-9);
        EXPECT_NEAR(d.size, 2.0 * (1.0 - std::sqrt(t)), 1e-9);
    }
    EXPECT_LT(dabs.back().size, 0.01);
    EXPECT_GT(dabs.back().x, 9.9);
}

TEST_F(Brush, RunningCurveBendsTowardsTheNextPoint) {
    drawCurve3(0, 0, 2, 10, 0, 3, 20, 5, 4, 0.5, 0.5, 0.5, record);
    ASSERT_GE(dabs.size(), 100u);
    ASSERT_LE(dabs.size(), 101u);
    EXPECT_DOUBLE_EQ(dabs[0].x, 0.0);
    EXPECT_DOUBLE_EQ(dabs[0].size, 2.0);
    EXPECT_NEAR(dabs[1].x, 0.15473, 1e-5);
    EXPECT_NEAR(dabs[1].y, -0.02214, 1e-5);
    EXPECT_NEAR(dabs[1].size, 2.01, 1e-9);
    // Halfway: a quarter of each end and half the control point (7.7639, -1.1180).
    EXPECT_NEAR(dabs[50].x, 0.25 * 10 + 0.5 * 7.76393, 1e-4);
    EXPECT_NEAR(dabs[50].y, 0.5 * -1.11803, 1e-4);
    EXPECT_NEAR(dabs[50].size, 0.25 * 2 + 0.5 * 2.5 + 0.25 * 3, 1e-9);

    // The size of the point it bends towards plays no part.
    std::vector<dab> first = dabs;
    dabs.clear();
    drawCurve3(0, 0, 2, 10, 0, 3, 20, 5, 40, 0.5, 0.5, 0.5, record);
    ASSERT_EQ(dabs.size(), first.size());
    EXPECT_DOUBLE_EQ(dabs[77].size, first[77].size);

    // A sharp turn (cosine 0) paints a straight, untapered piece along p0 -> p1.
    dabs.clear();
    drawCurve3(0, 0, 2, 0, 10, 2, -10, 10, 2, 0.5, 0.5, 0.5, record);
    ASSERT_GE(dabs.size(), 100u);
    for (const dab &d : dabs) {
        EXPECT_DOUBLE_EQ(d.x, 0.0);
        EXPECT_DOUBLE_EQ(d.size, 2.0);
    }
}

TEST_F(Brush, FourPointCurveUsesTheTangentIntersection) {
    // Tangents p2 - p0 = (20, 5) at p1 and p3 - p1 = (20, 15) at p2 meet at (15, 3.75).
    drawCurve4(-10, -5, 2, 0, 0, 2, 10, 0, 2, 20, 15, 2, 1, 1, 0, record);
    ASSERT_GE(dabs.size(), 100u);
    EXPECT_DOUBLE_EQ(dabs[0].x, 0.0);
    EXPECT_NEAR(dabs[50].x, 0.25 * 0 + 0.5 * 15 + 0.25 * 10, 1e-9);
    EXPECT_NEAR(dabs[50].y, 0.5 * 3.75, 1e-9);

    // Parallel tangents (an S bend) have no intersection: the piece follows its chord.
    dabs.clear();
    drawCurve4(0, 0, 2, 10, 10, 2, 20, 10, 2, 50, 30, 2, 1, 1, 0, record);
    ASSERT_GE(dabs.size(), 100u);
    for (const dab &d : dabs) {
        EXPECT_NEAR(d.y, 10.0, 1e-9);
        EXPECT_GE(d.x, 10.0);
        EXPECT_LE(d.x, 20.0);
    }
}

TEST_F(Brush, ZeroLengthSegmentsPaintStraightPiecesWithoutNaN) {
    // p1 = p2: the piece p0 -> p1 is painted as a straight piece would be.
    drawCurve3(0, 0, 2, 0, 10, 3, 0, 10, 4, 1, 0, 0, record);
    std::vector<dab> curve = dabs;
    dabs.clear();
    brushLine(0, 0, 2, 0, 10, 3, 1, 0, 0, 0, record);
    ASSERT_EQ(curve.size(), dabs.size());
    ASSERT_GE(curve.size(), 100u);
    for (size_t i = 0; i < curve.size(); ++i) {
        EXPECT_DOUBLE_EQ(curve[i].y, dabs[i].y);
        EXPECT_DOUBLE_EQ(curve[i].size, dabs[i].size);
    }

    // p0 = p1 in the closing curve: straight from p1 to p2.
    dabs.clear();
    drawCurve3asLastStroke(5, 5, 2, 5, 5, 2, 5, 15, 2, 1, 0, 0, record);
    ASSERT_GE(dabs.size(), 100u);
    for (const dab &d : dabs) {
        EXPECT_DOUBLE_EQ(d.x, 5.0);
    }
    EXPECT_DOUBLE_EQ(dabs[0].y, 5.0);

    // Every coincidence of consecutive points in the running and the closing strokes.
    const double xs[4] = {0, 10, 10, 20}, ys[4] = {0, 0, 10, 10};
    for (int mask = 0; mask < 8; ++mask) {
        double x[4], y[4];
        for (int i = 0; i < 4; ++i) {
            x[i] = xs[i];
            y[i] = ys[i];
        }
        for (int i = 0; i < 3; ++i) {
            if (mask & (1 << i)) {  // point i + 1 coincides with point i
                x[i + 1] = x[i];
                y[i + 1] = y[i];
            }
        }
        dabs.clear();
        drawCurve4(x[0], y[0], 2, x[1], y[1], 2, x[2], y[2], 2, x[3], y[3], 2, 1, 0, 0, record);
        size_t running = dabs.size();
        brushLine3(x[0], y[0], 2, x[1], y[1], 2, x[2], y[2], 2, x[3], y[3], 2, 1, 0, 0, record);
        brushLine2(x[0], y[0], 2, x[1], y[1], 2, x[2], y[2], 2, 1, 0, 0, record);
        drawCurve3(x[0], y[0], 2, x[1], y[1], 2, x[2], y[2], 2, 1, 0, 0, record);
        EXPECT_TRUE(all_finite()) << "mask " << mask;
        EXPECT_GE(running, 1u) << "mask " << mask;
    }
}

TEST_F(Brush, NonFiniteDabsNeverReachTheSink) {
    brushLine(NAN, 0, 2, 10, 0, 2, 1, 0, 0, 0, record);
    brushLine(0, 0, INFINITY, 10, 0, 2, 1, 0, 0, 0, record);
    brushLine(0, 0, 2, 10, 0, NAN, 1, 0, 0, 0, record);
    EXPECT_TRUE(all_finite());
}

TEST_F(Brush, GentleDownwardCloseSwellsAndFlicksUp) {
    // Last piece at -16.7 degrees, smooth: swept as one curve with style 6.
    brushLine2(0, 0, 2, 10, -2, 2, 20, -5, 2, 0, 1, 0, record);
    ASSERT_GT(dabs.size(), 150u);
    double peak = 0;
    bool rose = false;
    for (const dab &d : dabs) {
        peak = std::max(peak, d.size);
        if (d.x > 15.0) {
            // x is linear in t on this control polygon, so the curve's own height is known.
            double t = d.x / 20.0;
            double curve_y = 2 * t * (1 - t) * -2 + t * t * -5;
            EXPECT_GT(d.y, curve_y + 0.9);  // at least half a base size of 2 above it
            rose = true;
        }
    }
    EXPECT_TRUE(rose);
    EXPECT_GT(peak, 2 * 2.2);
    EXPECT_LE(peak, 2 * 2.3397);
    EXPECT_LT(dabs.back().size, 0.1);

    // Upwards at 45 degrees it is split: a straight piece, then a thinning one.
    dabs.clear();
    brushLine2(0, 0, 2, 10, 2, 2, 17, 9, 2, 0, 1, 0, record);
    ASSERT_GT(dabs.size(), 100u);
    EXPECT_DOUBLE_EQ(dabs[0].y, 0.0);
    EXPECT_LT(dabs.back().size, 0.1);
    for (const dab &d : dabs) {
        EXPECT_LE(d.size, 2.0 + 1e-12);
    }
}

class BrushTurtle : public ::testing::Test {
protected:
    void SetUp() override {
        reset_world();
        dabs.clear();
        init_turtle(0, 0, 0, 0, 0);
        ntmax = 1;
        turtle &t = ttl[0];
        for (int k = 0; k < NHISTORY; ++k) {
            t.pos[k] = {100.0 - 20.0 * k, 3.0 * k};  // newest at x = 100, heading +x
            t.width[k] = 1.0 + k;
            t.col[k] = {0.1 * k, 0.0, 0.0};
        }
        t.status |= ST_BRUSH_MODE;
    }
};

TEST_F(BrushTurtle, RunningStepPaintsTwoPointsBehindTheTurtle) {
    ttl[0].nstroke = 3;
    paint_by_brush(0, 0, record);
    EXPECT_TRUE(dabs.empty());

    ttl[0].nstroke = 4;
    paint_by_brush(0, 0, record);
    ASSERT_FALSE(dabs.empty());
    EXPECT_DOUBLE_EQ(dabs.front().x, ttl[0].pos[3].x);
    EXPECT_DOUBLE_EQ(dabs.front().size, ttl[0].width[4]);
    EXPECT_DOUBLE_EQ(dabs.front().r, ttl[0].col[4].r);
    EXPECT_NEAR(dabs.back().x, ttl[0].pos[2].x, 0.5);

    dabs.clear();
    ttl[0].nstroke = 9;
    paint_by_brush(0, 0, record);
    ASSERT_FALSE(dabs.empty());
    EXPECT_DOUBLE_EQ(dabs.front().x, ttl[0].pos[3].x);
    EXPECT_DOUBLE_EQ(dabs.front().y, ttl[0].pos[3].y);
    EXPECT_NEAR(dabs.back().x, ttl[0].pos[2].x, 0.5);
}

TEST_F(BrushTurtle, ClosingStrokeDependsOnTheStepCount) {
    ttl[0].nstroke = 5;
    paint_by_brush(0, 1, record);  // from p3 to the turtle
    ASSERT_FALSE(dabs.empty());
    EXPECT_DOUBLE_EQ(dabs.front().x, ttl[0].pos[3].x);
    EXPECT_DOUBLE_EQ(dabs.front().r, ttl[0].col[4].r);
    EXPECT_NEAR(dabs.back().x, ttl[0].pos[0].x, 1.0);

    dabs.clear();
    ttl[0].nstroke = 3;
    paint_by_brush(0, 1, record);  // from p2
    ASSERT_FALSE(dabs.empty());
    EXPECT_DOUBLE_EQ(dabs.front().x, ttl[0].pos[2].x);
    EXPECT_DOUBLE_EQ(dabs.front().r, ttl[0].col[3].r);

    dabs.clear();
    ttl[0].nstroke = 2;
    paint_by_brush(0, 1, record);  // from p1, tapering
    ASSERT_FALSE(dabs.empty());
    EXPECT_DOUBLE_EQ(dabs.front().x, ttl[0].pos[1].x);
    EXPECT_DOUBLE_EQ(dabs.front().r, ttl[0].col[2].r);
    EXPECT_LT(dabs.back().size, dabs.front().size);
}

TEST_F(BrushTurtle, PenDownAndUpWithoutMovingLeavesOneDab) {
    ttl[0].width[0] = 6.0;
    turtle_pen_down(0);
    turtle_pen_up(0);
    paint_by_brush(0, 1, record);
    ASSERT_EQ(dabs.size(), 1u);
    EXPECT_DOUBLE_EQ(dabs[0].x, ttl[0].pos[0].x);
    EXPECT_DOUBLE_EQ(dabs[0].size, 6.0);
}

}  // namespace
