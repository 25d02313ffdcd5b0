// gl_paint.cpp: what turtles paint, read back as pixels of the floor in the top view.
#include <GL/freeglut.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "glutil.h"
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

// True when some pixel within 3 of the field point is far from black.
bool paint_near(double x, double y) {
    for (int dy = -3; dy <= 3; ++dy) {
        for (int dx = -3; dx <= 3; ++dx) {
            rgb p = floor_at(x + dx, y + dy);
            if (p[0] + p[1] + p[2] > 200) {
                return true;
            }
        }
    }
    return false;
}

// Point s of the signature: a looped trochoid along the bottom of the field.
position signature_point(double s) {
    return {-190.0 + 9.0 * s - 20.0 * std::sin(s), -175.0 - 20.0 * std::cos(s)};
}

// Every style at once, driven the way clients drive turtles, one command batch per frame.
// With KELPMOOR_PAINTING_PNG set, the final frame is also saved there (docs/painting.png).
TEST_F(Painting, EveryStyleTogether) {
    // A square in line mode, stepped and turned.
    place(0, -220, 40);
    turtle_set_color(0, 0.2, 1, 0.4);
    turtle_line_width(0, 3);
    turtle_pen_down(0);
    for (int side = 0; side < 4; ++side) {
        ASSERT_EQ(turtle_step_forward(0, 130), 0);
        draw_one_frame();
        turtle_turn(0, 90);
    }
    turtle_pen_up(0);

    // A filled triangle: three steps with 120 degree turns.
    place(1, 50, 40);
    turtle_set_color(1, 0.2, 0.5, 1);
    turtle_set_fill_poly(1);
    turtle_pen_down(1);
    draw_one_frame();
    for (int side = 0; side < 3; ++side) {
        ASSERT_EQ(turtle_step_forward(1, 160), 0);
        draw_one_frame();
        turtle_turn(1, 120);
    }
    turtle_pen_up(1);

    // A row of points.
    place(2, -200, -20);
    turtle_set_color(2, 1, 0.85, 0.1);
    turtle_line_width(2, 6);
    turtle_set_point_mode(2);
    turtle_pen_down(2);
    draw_one_frame();
    for (int i = 0; i < 16; ++i) {
        ASSERT_EQ(turtle_step_forward(2, 25), 0);
        draw_one_frame();
    }
    turtle_pen_up(2);

    // A line of printed text; the turtle walks on with the pen up.
    place(3, -200, -80);
    turtle_set_color(3, 1, 1, 1);
    ASSERT_EQ(turtle_print_string(3, "Kelpmoor turtles paint the floor"), 0);
    draw_one_frame();
    ASSERT_EQ(turtle_step_forward(3, 240), 0);
    draw_one_frame();

    // A brush signature, then the pen is lifted to close the stroke.
    place(4, signature_point(0).x, signature_point(0).y);
    turtle_set_color(4, 1, 0, 0);
    turtle_set_brush(4);
    turtle_pen_down(4);
    draw_one_frame();
    const double ds = 0.3;
    for (double s = ds; s <= 36.0; s += ds) {
        position p = signature_point(s);
        turtle_line_width(4, 5.0 + 4.0 * std::sin(s * 0.35));
        ASSERT_EQ(turtle_jump(4, p.x, p.y), 0);
        draw_one_frame();
    }
    turtle_pen_up(4);
    draw_one_frame();

    EXPECT_EQ(floor_at(-150, 40), (rgb{51, 255, 102}));  // the square's sides
    EXPECT_EQ(floor_at(-90, 120), (rgb{51, 255, 102}));
    EXPECT_EQ(floor_at(-150, 170), (rgb{51, 255, 102}));
    EXPECT_TRUE(is_black(floor_at(-150, 100)));          // and its empty inside
    EXPECT_EQ(floor_at(130, 86), (rgb{51, 128, 255}));   // inside the triangle
    EXPECT_EQ(floor_at(-125, -20), (rgb{255, 217, 26})); // a point
    EXPECT_TRUE(is_black(floor_at(-112, -20)));          // between two points
    int text = 0;
    for (int y = -80; y < -68; ++y) {
        for (int x = -200; x < 0; ++x) {
            text += floor_at(x, y) == rgb{255, 255, 255};
        }
    }
    EXPECT_GT(text, 200);
    for (double s = 3.0; s <= 33.0; s += 2.5) {  // the signature's running part
        position p = signature_point(s);
        EXPECT_TRUE(paint_near(p.x, p.y)) << s;
    }

    if (const char *file = std::getenv("KELPMOOR_PAINTING_PNG")) {
        saveImageToPNG(WINDOW_SIZE, WINDOW_SIZE, file);
    }
}

}  // namespace
