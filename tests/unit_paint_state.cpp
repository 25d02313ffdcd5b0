// unit_paint_state.cpp: the painter's per-frame decision for one turtle: what it reports for
// drawing and how it moves the painted bit, the pen-just-lifted bit, nstroke and msg.
#include <cstdio>
#include <cstring>
#include <string>

#include "kelpmoor.h"
#include "paint.h"
#include "support.h"
#include "turtle.h"

namespace {

class PaintState : public ::testing::Test {
protected:
    void SetUp() override {
        reset_world();
        init_turtle(0, 0, 0, 0, 0);
        ntmax = 1;
        for (int k = 0; k < NHISTORY; ++k) {
            ttl[0].pos[k] = {10.0 * k, -5.0 * k};
            ttl[0].col[k] = {0.1 * k, 0.5, 1.0 - 0.1 * k};
            ttl[0].width[k] = 2.0 + k;
        }
    }
    // One painting step of turtle 0 as a frame does it, with the per-frame flag reset first.
    paint_report frame() {
        field_is_painted = 0;
        return paint_decide(0);
    }
};

TEST_F(PaintState, FreeSlotPaintsNothing) {
    turtle &t = ttl[3];
    t.status = ST_PEN_DOWN | ST_BRUSH_MODE | ST_PEN_LIFTED;  // bits left after dying
    t.nstroke = 7;
    std::snprintf(t.msg, sizeof t.msg, "left over");
    ntmax = 4;
    field_is_painted = 0;
    paint_report rep = paint_decide(3);
    EXPECT_FALSE(rep.alive);
    EXPECT_EQ(rep.brush, brush_work::none);
    EXPECT_EQ(t.status, ST_PEN_DOWN | ST_BRUSH_MODE | ST_PEN_LIFTED);
    EXPECT_EQ(t.nstroke, 7);
    EXPECT_STREQ(t.msg, "left over");
    EXPECT_EQ(field_is_painted, 0);
}

TEST_F(PaintState, LinePointAndFillOncePerMove) {
    ttl[0].status |= ST_PEN_DOWN;
    paint_report rep = frame();
    ASSERT_EQ(rep.pen.kind, pen_kind::line);
    ASSERT_EQ(rep.pen.nvertex, 2);
    EXPECT_DOUBLE_EQ(rep.pen.size, 3.0);          // width[1]
    EXPECT_DOUBLE_EQ(rep.pen.vertex[0].x, 10.0);  // from pos[1] in col[2]
    EXPECT_DOUBLE_EQ(rep.pen.vertex[0].r, 0.2);
    EXPECT_DOUBLE_EQ(rep.pen.vertex[1].b, 0.9);   // to pos[0] in col[1]
    EXPECT_EQ(ttl[0].nstroke, 1);
    EXPECT_TRUE(ttl[0].status & ST_PAINTED);
    EXPECT_EQ(field_is_painted, 1);

    rep = frame();  // no move since
    EXPECT_EQ(rep.pen.kind, pen_kind::none);
    EXPECT_EQ(ttl[0].nstroke, 1);
    EXPECT_EQ(field_is_painted, 0);

    ttl[0].status |= ST_POINT_MODE;
    ASSERT_EQ(turtle_jump(0, 30, 40), 0);
    ASSERT_EQ(turtle_jump(0, 30, 80), 0);  // two moves in one frame: one step
    rep = frame();
    ASSERT_EQ(rep.pen.kind, pen_kind::point);
    ASSERT_EQ(rep.pen.nvertex, 1);
    EXPECT_DOUBLE_EQ(rep.pen.vertex[0].y, 80.0);
    EXPECT_EQ(ttl[0].nstroke, 2);

    ttl[0].status |= ST_FILL_MODE;  // fill wins over points: nstroke 3, pos[3] to pos[0]
    ASSERT_EQ(turtle_jump(0, 0, 80), 0);
    rep = frame();
    ASSERT_EQ(rep.pen.kind, pen_kind::fill);
    ASSERT_EQ(rep.pen.nvertex, 4);
    for (int i = 0; i < 4; ++i) {
        EXPECT_DOUBLE_EQ(rep.pen.vertex[i].y, ttl[0].pos[3 - i].y);
        EXPECT_DOUBLE_EQ(rep.pen.vertex[i].r, ttl[0].col[4 - i].r);
    }
    ttl[0].nstroke = 40;  // never more than the last six points
    ttl[0].status &= ~ST_PAINTED;
    EXPECT_EQ(frame().pen.nvertex, 6);
}

TEST_F(PaintState, PenDownSpotCountsOnlyAfterAnUnpaintedMove) {
    ttl[0].status |= ST_FILL_MODE;
    ASSERT_EQ(turtle_jump(0, 20, 20), 0);  // moved with the pen up: painted bit clear
    turtle_pen_down(0);
    paint_report rep = frame();
    EXPECT_EQ(ttl[0].nstroke, 1);
    EXPECT_EQ(rep.pen.kind, pen_kind::fill);
    EXPECT_EQ(rep.pen.nvertex, 0);  // nothing to fill yet, but the step counts
    EXPECT_EQ(field_is_painted, 1);

    turtle_pen_up(0);
    turtle_pen_down(0);  // painted bit still set: the spot is not a step
    rep = frame();
    EXPECT_EQ(ttl[0].nstroke, 0);
    EXPECT_EQ(rep.pen.kind, pen_kind::none);
}

TEST_F(PaintState, BrushStepsFromTheFourthPointAndOneClosingStroke) {
    turtle_set_brush(0);
    turtle_pen_down(0);
    for (int n = 1; n <= 3; ++n) {
        paint_report rep = frame();
        EXPECT_EQ(ttl[0].nstroke, n);
        EXPECT_EQ(rep.brush, brush_work::none);
        EXPECT_EQ(rep.pen.kind, pen_kind::none);
        EXPECT_TRUE(ttl[0].status & ST_PAINTED);
        EXPECT_EQ(field_is_painted, 0);
        ASSERT_EQ(turtle_jump(0, 25.0 * n, 0), 0);
    }
    EXPECT_EQ(frame().brush, brush_work::step);
    EXPECT_EQ(field_is_painted, 1);
    EXPECT_EQ(frame().brush, brush_work::none);  // no move, no step

    turtle_pen_up(0);
    EXPECT_EQ(frame().brush, brush_work::close);
    EXPECT_FALSE(ttl[0].status & ST_PEN_LIFTED);
    EXPECT_EQ(field_is_painted, 1);
    EXPECT_EQ(frame().brush, brush_work::none);  // closed once only
}

TEST_F(PaintState, LiftOutsideBrushModeWaitsForBrushMode) {
    turtle_pen_down(0);
    frame();
    turtle_pen_up(0);
    ASSERT_EQ(turtle_jump(0, 50, 50), 0);
    paint_report rep = frame();
    EXPECT_EQ(rep.pen.kind, pen_kind::none);
    EXPECT_EQ(rep.brush, brush_work::none);
    EXPECT_TRUE(ttl[0].status & ST_PEN_LIFTED);
    EXPECT_EQ(field_is_painted, 0);

    turtle_set_brush(0);
    EXPECT_EQ(frame().brush, brush_work::close);
    EXPECT_FALSE(ttl[0].status & ST_PEN_LIFTED);
}

TEST_F(PaintState, MessageIsPrintedOnceEvenWithThePenUp) {
    std::string longest(127, 'x');
    ASSERT_EQ(turtle_print_string(0, longest.c_str()), 0);
    ttl[0].col[0] = {0.25, 0.5, 0.75};
    paint_report rep = frame();
    ASSERT_TRUE(rep.text);
    EXPECT_EQ(rep.msg, longest);
    EXPECT_DOUBLE_EQ(rep.msg_col.g, 0.5);
    EXPECT_DOUBLE_EQ(rep.msg_pos.y, ttl[0].pos[0].y);
    EXPECT_EQ(ttl[0].msg[0], '\0');
    EXPECT_EQ(field_is_painted, 1);

    rep = frame();
    EXPECT_FALSE(rep.text);
    EXPECT_EQ(field_is_painted, 0);
}

}  // namespace
