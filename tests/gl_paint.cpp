// gl_paint.cpp: what turtles paint, read back as pixels of the floor in the top view.
#include <GL/freeglut.h>

#include <array>
#include <cmath>
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
    ntmax = std::max(ntmax, tid + 1);
}

// Pixels in the column x, within 10 of y, for which the test holds.
template <typename Pred>
int column_count(double x, double y, Pred pred) {
    int n = 0;
    for (int dy = -10; dy <= 10; ++dy) n += pred(floor_at(x, y + dy));
    return n;
}

// Point s of the signature: a looped trochoid along the bottom of the field.
position signature_point(double s) {
    return {-190.0 + 9.0 * s - 20.0 * std::sin(s), -175.0 - 20.0 * std::cos(s)};
}

// Every style at once, driven the way clients drive turtles, one command batch per frame.
// With KELPMOOR_PAINTING_PNG set, the final frame is also saved there (docs/painting.png).
TEST(Painting, EveryStyleTogether) {
    open_test_window();
    draw_one_frame();  // the fresh black floor
    place(0, -220, 40);  // a square: four steps and left turns
    turtle_set_color(0, 0.2, 1, 0.4);
    turtle_line_width(0, 3);
    turtle_pen_down(0);
    for (int side = 0; side < 4; ++side) {
        ASSERT_EQ(turtle_step_forward(0, 130), 0);
        draw_one_frame();
        turtle_turn(0, 90);
    }

    place(1, 50, 40);  // a filled triangle
    turtle_set_color(1, 0.2, 0.5, 1);
    turtle_set_fill_poly(1);
    turtle_pen_down(1);
    draw_one_frame();
    for (int side = 0; side < 3; ++side) {
        ASSERT_EQ(turtle_step_forward(1, 160), 0);
        draw_one_frame();
        turtle_turn(1, 120);
    }

    place(2, -200, -20);  // a row of points
    turtle_set_color(2, 1, 0.85, 0.1);
    turtle_line_width(2, 6);
    turtle_set_point_mode(2);
    turtle_pen_down(2);
    draw_one_frame();
    for (int i = 0; i < 16; ++i) {
        ASSERT_EQ(turtle_step_forward(2, 25), 0);
        draw_one_frame();
    }

    place(3, -200, -80);  // a line of text; the turtle walks on with the pen up
    turtle_set_color(3, 1, 1, 1);
    ASSERT_EQ(turtle_print_string(3, "Kelpmoor turtles paint the floor"), 0);
    draw_one_frame();
    ASSERT_EQ(turtle_step_forward(3, 240), 0);
    draw_one_frame();

    place(4, signature_point(0).x, signature_point(0).y);  // a brush signature
    turtle_set_color(4, 1, 0, 0);
    turtle_set_brush(4);
    turtle_pen_down(4);
    draw_one_frame();
    for (double s = 0.3; s <= 36.0; s += 0.3) {
        position p = signature_point(s);
        turtle_line_width(4, 5.0 + 4.0 * std::sin(s * 0.35));
        ASSERT_EQ(turtle_jump(4, p.x, p.y), 0);
        draw_one_frame();
    }
    turtle_pen_up(4);
    draw_one_frame();

    const rgb green{51, 255, 102};
    auto is_green = [&](const rgb &p) { return p == green; };
    EXPECT_EQ(column_count(-150, 40, is_green), 3);  // the square's sides, 3 pixels wide
    EXPECT_EQ(column_count(-150, 170, is_green), 3);
    EXPECT_EQ(floor_at(-90, 120), green);
    EXPECT_TRUE(is_black(floor_at(-150, 100)));      // and its empty inside
    EXPECT_EQ(floor_at(130, 86), (rgb{51, 128, 255}));   // inside the triangle
    EXPECT_EQ(floor_at(180, 160), (rgb{0, 0, 0}));       // outside its right edge
    for (int x = -175; x <= 175; x += 25) {
        EXPECT_EQ(floor_at(x + 2, -18), (rgb{255, 217, 26})) << x;  // six pixels square
        EXPECT_TRUE(is_black(floor_at(x + 12, -20))) << x;          // no line between
    }
    int text = 0, below = 0;
    for (int y = -80; y < -68; ++y) {
        for (int x = -200; x < 0; ++x) {
            text += floor_at(x, y) == rgb{255, 255, 255};
            below += !is_black(floor_at(x, y - 20));  // clear of the descenders
        }
    }
    EXPECT_GT(text, 200);
    EXPECT_EQ(below, 0);
    for (double s = 3.0; s <= 33.0; s += 2.5) {  // the signature's running part
        position p = signature_point(s);
        int lit = 0;
        for (int dx = -3; dx <= 3; ++dx) {
            lit += column_count(p.x + dx, p.y, [](const rgb &c) { return c[0] > 150; });
        }
        EXPECT_GT(lit, 0) << s;
    }

    if (const char *file = std::getenv("KELPMOOR_PAINTING_PNG")) {
        saveImageToPNG(WINDOW_SIZE, WINDOW_SIZE, file);
    }
}

}  // namespace
