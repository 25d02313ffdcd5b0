// gl_paint.cpp: what turtles paint, read back as pixels of the floor in the top view.
#include <GL/freeglut.h>

#include <array>
#include <cstdio>

#include "kelpmoor.h"
#include "paint.h"
#include "support.h"
#include "turtle.h"

namespace {

using rgb = std::array<unsigned char, 3>;

rgb floor_at(double x, double y) { return read_pixel(field_to_pixel(x), field_to_pixel(y)); }

bool is_black(const rgb &p) { return p[0] < 8 && p[1] < 8 && p[2] < 8; }

void place(int tid, double x, double y) {
    init_turtle(tid, tid, x, y, 0.0);
    if (tid >= ntmax) {
        ntmax = tid + 1;
    }
}

// Lifts the pen (a frame closes a brush stroke), then takes the turtle to a far corner, so
// its body hides no paint, and shows the floor in a fresh frame.
void park_and_draw(int tid) {
    turtle_pen_up(tid);
    draw_one_frame();
    ASSERT_EQ(turtle_jump(tid, 230.0 - 40.0 * tid, -230.0), 0);
    draw_one_frame();
    draw_one_frame();
}

class Painting : public ::testing::Test {
protected:
    void SetUp() override {
        open_test_window();
        draw_one_frame();  // the fresh black floor
    }
};

TEST_F(Painting, LineOfTheNewestSegmentStaysOnTheFloor) {
    place(0, -100, -50);
    turtle_set_color(0, 0, 1, 0);
    turtle_line_width(0, 3);
    turtle_pen_down(0);
    draw_one_frame();
    ASSERT_EQ(turtle_jump(0, 100, -50), 0);
    draw_one_frame();
    park_and_draw(0);

    for (double x : {-80.0, 0.0, 80.0}) {
        EXPECT_EQ(floor_at(x, -50), (rgb{0, 255, 0})) << x;
        int rows = 0;
        for (int y = -60; y <= -40; ++y) {
            rows += floor_at(x, y) == rgb{0, 255, 0};
        }
        EXPECT_EQ(rows, 3) << x;  // the pen width
    }
    EXPECT_TRUE(is_black(floor_at(0, -40)));
    EXPECT_TRUE(is_black(floor_at(0, -60)));
    EXPECT_TRUE(is_black(floor_at(-120, -50)));  // nothing before the pen-down spot
}

TEST_F(Painting, ColourChangeShadesAlongTheLaterSegment) {
    place(0, -150, 100);
    turtle_set_color(0, 1, 0, 0);
    turtle_line_width(0, 2);
    turtle_pen_down(0);
    draw_one_frame();
    turtle_set_color(0, 0, 0, 1);
    ASSERT_EQ(turtle_jump(0, 150, 100), 0);
    draw_one_frame();
    park_and_draw(0);

    rgb start = floor_at(-140, 100), end = floor_at(140, 100);
    EXPECT_GT(start[0], 200);  // the red of the segment's start point
    EXPECT_LT(start[2], 30);
    EXPECT_GT(end[2], 200);    // the blue of the new colour at its end
    EXPECT_LT(end[0], 30);
}

TEST_F(Painting, RowOfPointsWithoutLinesBetween) {
    place(0, -100, 150);
    turtle_set_color(0, 1, 1, 0);
    turtle_line_width(0, 6);
    turtle_set_point_mode(0);
    turtle_pen_down(0);
    draw_one_frame();
    for (int i = 1; i <= 4; ++i) {
        ASSERT_EQ(turtle_jump(0, -100 + 40 * i, 150), 0);
        draw_one_frame();
    }
    park_and_draw(0);

    for (int i = 0; i <= 4; ++i) {
        double x = -100 + 40 * i;
        EXPECT_EQ(floor_at(x, 150), (rgb{255, 255, 0})) << x;
        EXPECT_EQ(floor_at(x + 2, 152), (rgb{255, 255, 0})) << x;  // six pixels square
        EXPECT_TRUE(is_black(floor_at(x + 20, 150))) << x;
    }
}

TEST_F(Painting, ClosedTriangleIsFilled) {
    place(0, -200, -200);
    turtle_set_color(0, 0, 0.5, 1);
    turtle_set_fill_poly(0);
    turtle_pen_down(0);
    draw_one_frame();
    const double corners[3][2] = {{-100, -200}, {-150, -100}, {-200, -200}};
    for (const auto &c : corners) {
        ASSERT_EQ(turtle_jump(0, c[0], c[1]), 0);
        draw_one_frame();
    }
    park_and_draw(0);

    for (const auto &inside : {std::array<double, 2>{-150, -170}, {-150, -120}, {-180, -190}}) {
        rgb p = floor_at(inside[0], inside[1]);
        EXPECT_EQ(p[0], 0);
        EXPECT_NEAR(p[1], 128, 1);
        EXPECT_EQ(p[2], 255);
    }
    EXPECT_TRUE(is_black(floor_at(-190, -120)));  // outside the left edge
    EXPECT_TRUE(is_black(floor_at(-150, -90)));   // above the apex
}

TEST_F(Painting, PrintedTextAppearsOnceInThePenColour) {
    place(0, -200, 50);
    turtle_set_color(0, 1, 1, 1);
    ASSERT_EQ(turtle_print_string(0, "KELPMOOR PAINTS"), 0);
    draw_one_frame();
    EXPECT_EQ(ttl[0].msg[0], '\0');
    park_and_draw(0);

    int lit = 0, lit_outside = 0;
    for (int y = 50; y < 62; ++y) {
        for (int x = -200; x < -80; ++x) {
            rgb p = floor_at(x, y);
            lit += p == rgb{255, 255, 255};
            lit_outside += !is_black(floor_at(x, y - 20));
        }
    }
    EXPECT_GT(lit, 100);  // measured: several hundred lit pixels of Helvetica 12
    EXPECT_EQ(lit_outside, 0);
}

// Rows of stroke colour in the column x within 10 of y.
int stroke_height(double x, double y) {
    int n = 0;
    for (int dy = -10; dy <= 10; ++dy) {
        rgb p = floor_at(x, y + dy);
        n += p[0] > 150 && p[2] < 40;
    }
    return n;
}

TEST_F(Painting, BrushStrokeIsLaidAlongThePathAndTapers) {
    place(0, -200, -20);
    turtle_set_color(0, 1, 0, 0);
    turtle_line_width(0, 12);
    turtle_set_brush(0);
    turtle_pen_down(0);
    draw_one_frame();
    for (int i = 1; i <= 6; ++i) {
        ASSERT_EQ(turtle_jump(0, -200 + 40 * i, -20), 0);
        draw_one_frame();
    }
    park_and_draw(0);  // the pen is lifted here, so the stroke is closed

    // Measured: 8 rows along the body of the stroke (the tip image is slanted and narrower
    // than the dab), thinning to 2 rows near the end at x = 40 and nothing after it.
    for (int x = -195; x <= 20; x += 5) {
        EXPECT_GE(stroke_height(x, -20), 1) << x;
    }
    EXPECT_GE(stroke_height(-100, -20), 6);
    EXPECT_LT(stroke_height(15, -20), stroke_height(-100, -20) / 2);
    EXPECT_EQ(stroke_height(45, -20), 0);
    EXPECT_TRUE(is_black(floor_at(-100, 0)));
    EXPECT_TRUE(is_black(floor_at(-100, -40)));
}

TEST_F(Painting, FreeSlotWithPenBitsPaintsNothing) {
    place(0, 150, 150);
    place(1, -150, 0);
    turtle &t = ttl[1];
    t.pos[1] = {-150, 0};
    t.pos[0] = {150, 0};
    t.width.fill(5.0);
    t.col.fill({1, 1, 1});
    t.status = ST_PEN_DOWN;  // pen bits of a turtle that has died
    std::snprintf(t.msg, sizeof t.msg, "ghost");
    draw_one_frame();
    draw_one_frame();
    EXPECT_TRUE(is_black(floor_at(0, 0)));
    EXPECT_TRUE(is_black(floor_at(-100, 0)));
    EXPECT_STREQ(t.msg, "ghost");
}

TEST_F(Painting, HigherSlotPaintsOverLowerInOneFrame) {
    place(0, -50, -150);
    place(1, 0, -100);
    turtle_set_color(0, 1, 0, 0);
    turtle_set_color(1, 0, 0, 1);
    turtle_line_width(0, 4);
    turtle_line_width(1, 4);
    turtle_pen_down(0);
    turtle_pen_down(1);
    draw_one_frame();
    ASSERT_EQ(turtle_jump(0, 50, -150), 0);
    ASSERT_EQ(turtle_jump(1, 0, -200), 0);
    // Both lines land in the same frame and cross at (0, -150).
    ttl[0].pos[1] = {-50, -150};
    draw_one_frame();
    park_and_draw(0);
    park_and_draw(1);
    EXPECT_EQ(floor_at(0, -150), (rgb{0, 0, 255}));
    EXPECT_EQ(floor_at(-30, -150), (rgb{255, 0, 0}));
}

}  // namespace
