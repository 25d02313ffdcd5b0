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
        turtle &t = ttl[0];
        for (int k = 0; k < NHISTORY; ++k) {
            t.pos[k] = {10.0 * k, -5.0 * k};
            t.col[k] = {0.1 * k, 0.5, 1.0 - 0.1 * k};
            t.width[k] = 2.0 + k;
        }
        field_is_painted = 0;
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
    paint_report rep = paint_decide(3);
    EXPECT_FALSE(rep.alive);
    EXPECT_EQ(rep.pen.kind, pen_kind::none);
    EXPECT_EQ(rep.brush, brush_work::none);
    EXPECT_FALSE(rep.text);
    EXPECT_EQ(t.status, ST_PEN_DOWN | ST_BRUSH_MODE | ST_PEN_LIFTED);
    EXPECT_EQ(t.nstroke, 7);
    EXPECT_STREQ(t.msg, "left over");
    EXPECT_EQ(field_is_painted, 0);

    EXPECT_FALSE(paint_decide(-1).alive);
    EXPECT_FALSE(paint_decide(NTURTLE).alive);
    EXPECT_EQ(field_is_painted, 0);
}

TEST_F(PaintState, LineIsPaintedOncePerMove) {
    ttl[0].status |= ST_PEN_DOWN;
    paint_report rep = frame();
    EXPECT_TRUE(rep.alive);
    ASSERT_EQ(rep.pen.kind, pen_kind::line);
    ASSERT_EQ(rep.pen.nvertex, 2);
    EXPECT_DOUBLE_EQ(rep.pen.size, 3.0);  // width[1]
    EXPECT_DOUBLE_EQ(rep.pen.vertex[0].x, 10.0);  // from pos[1] in col[2]
    EXPECT_DOUBLE_EQ(rep.pen.vertex[0].r, 0.2);
    EXPECT_DOUBLE_EQ(rep.pen.vertex[1].x, 0.0);   // to pos[0] in col[1]
    EXPECT_DOUBLE_EQ(rep.pen.vertex[1].b, 0.9);
    EXPECT_EQ(ttl[0].nstroke, 1);
    EXPECT_TRUE(ttl[0].status & ST_PAINTED);
    EXPECT_EQ(field_is_painted, 1);

    rep = frame();  // no move since
    EXPECT_EQ(rep.pen.kind, pen_kind::none);
    EXPECT_EQ(ttl[0].nstroke, 1);
    EXPECT_EQ(field_is_painted, 0);

    ASSERT_EQ(turtle_jump(0, 30, 40), 0);
    rep = frame();
    ASSERT_EQ(rep.pen.kind, pen_kind::line);
    EXPECT_DOUBLE_EQ(rep.pen.vertex[1].x, 30.0);
    EXPECT_DOUBLE_EQ(rep.pen.vertex[0].x, 0.0);
    EXPECT_EQ(ttl[0].nstroke, 2);
}

TEST_F(PaintState, SeveralMovesBetweenFramesCountOneStep) {
    turtle_pen_down(0);
    frame();
    ASSERT_EQ(turtle_jump(0, 30, 0), 0);
    ASSERT_EQ(turtle_jump(0, 30, 30), 0);
    paint_report rep = frame();
    EXPECT_EQ(ttl[0].nstroke, 2);
    ASSERT_EQ(rep.pen.kind, pen_kind::line);
    EXPECT_DOUBLE_EQ(rep.pen.vertex[0].y, 0.0);  // only the newest segment
    EXPECT_DOUBLE_EQ(rep.pen.vertex[1].y, 30.0);
}

TEST_F(PaintState, PenUpOutsideBrushModeLeavesTheLiftPending) {
    turtle_pen_down(0);
    frame();
    turtle_pen_up(0);
    ASSERT_EQ(turtle_jump(0, 50, 50), 0);
    paint_report rep = frame();
    EXPECT_EQ(rep.pen.kind, pen_kind::none);
    EXPECT_EQ(rep.brush, brush_work::none);
    EXPECT_TRUE(ttl[0].status & ST_PEN_LIFTED);
    EXPECT_FALSE(ttl[0].status & ST_PAINTED);
    EXPECT_EQ(field_is_painted, 0);

    // Switched to brush mode later, the stale lift closes a stroke once.
    turtle_set_brush(0);
    rep = frame();
    EXPECT_EQ(rep.brush, brush_work::close);
    EXPECT_FALSE(ttl[0].status & ST_PEN_LIFTED);
    EXPECT_TRUE(ttl[0].status & ST_PAINTED);
    EXPECT_EQ(field_is_painted, 1);
    EXPECT_EQ(frame().brush, brush_work::none);
}

TEST_F(PaintState, FillModeGrowsToTheLastSixPoints) {
    ttl[0].status |= ST_PEN_DOWN | ST_FILL_MODE | ST_POINT_MODE;  // fill wins over points
    ttl[0].nstroke = 0;
    paint_report rep = frame();  // nstroke 1: nothing to fill yet, yet the step is counted
    EXPECT_EQ(rep.pen.kind, pen_kind::fill);
    EXPECT_EQ(rep.pen.nvertex, 0);
    EXPECT_TRUE(ttl[0].status & ST_PAINTED);
    EXPECT_EQ(field_is_painted, 1);

    ttl[0].status &= ~ST_PAINTED;
    rep = frame();  // nstroke 2: the triangle pos[2], pos[1], pos[0]
    ASSERT_EQ(rep.pen.nvertex, 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_DOUBLE_EQ(rep.pen.vertex[i].x, ttl[0].pos[2 - i].x);
        EXPECT_DOUBLE_EQ(rep.pen.vertex[i].r, ttl[0].col[3 - i].r);
    }

    ttl[0].nstroke = 40;
    ttl[0].status &= ~ST_PAINTED;
    rep = frame();
    ASSERT_EQ(rep.pen.nvertex, 6);
    for (int i = 0; i < 6; ++i) {
        EXPECT_DOUBLE_EQ(rep.pen.vertex[i].y, ttl[0].pos[5 - i].y);
        EXPECT_DOUBLE_EQ(rep.pen.vertex[i].b, ttl[0].col[6 - i].b);
    }
}

TEST_F(PaintState, PointModeMarksOnlyTheNewestPoint) {
    ttl[0].status |= ST_PEN_DOWN | ST_POINT_MODE;
    paint_report rep = frame();
    ASSERT_EQ(rep.pen.kind, pen_kind::point);
    ASSERT_EQ(rep.pen.nvertex, 1);
    EXPECT_DOUBLE_EQ(rep.pen.size, ttl[0].width[1]);
    EXPECT_DOUBLE_EQ(rep.pen.vertex[0].x, ttl[0].pos[0].x);
    EXPECT_DOUBLE_EQ(rep.pen.vertex[0].r, ttl[0].col[1].r);
}

TEST_F(PaintState, PenDownSpotCountsOnlyAfterAnUnpaintedMove) {
    ASSERT_EQ(turtle_jump(0, 20, 20), 0);  // moved with the pen up: painted bit clear
    turtle_pen_down(0);
    paint_report rep = frame();
    EXPECT_EQ(ttl[0].nstroke, 1);
    ASSERT_EQ(rep.pen.kind, pen_kind::line);  // a line of zero length on the spot
    EXPECT_DOUBLE_EQ(rep.pen.vertex[0].x, rep.pen.vertex[1].x);
    EXPECT_DOUBLE_EQ(rep.pen.vertex[0].y, 20.0);

    turtle_pen_up(0);
    turtle_pen_down(0);  // painted bit still set: the spot is not a step
    rep = frame();
    EXPECT_EQ(ttl[0].nstroke, 0);
    EXPECT_EQ(rep.pen.kind, pen_kind::none);
}

TEST_F(PaintState, BrushStepsStartAtTheFourthPoint) {
    turtle_set_brush(0);
    turtle_pen_down(0);  // after init the painted bit is clear, so the spot counts
    for (int n = 1; n <= 3; ++n) {
        paint_report rep = frame();
        EXPECT_EQ(ttl[0].nstroke, n);
        EXPECT_EQ(rep.brush, brush_work::none);
        EXPECT_EQ(rep.pen.kind, pen_kind::none);
        EXPECT_TRUE(ttl[0].status & ST_PAINTED);
        EXPECT_EQ(field_is_painted, 0);
        ASSERT_EQ(turtle_jump(0, 25.0 * n, 0), 0);
    }
    paint_report rep = frame();
    EXPECT_EQ(ttl[0].nstroke, 4);
    EXPECT_EQ(rep.brush, brush_work::step);
    EXPECT_EQ(field_is_painted, 1);

    EXPECT_EQ(frame().brush, brush_work::none);  // no move, no step

    turtle_pen_up(0);
    rep = frame();
    EXPECT_EQ(rep.brush, brush_work::close);
    EXPECT_EQ(ttl[0].nstroke, 4);
    EXPECT_FALSE(ttl[0].status & ST_PEN_LIFTED);
    EXPECT_EQ(field_is_painted, 1);
    EXPECT_EQ(frame().brush, brush_work::none);  // closed once only
}

TEST_F(PaintState, MessageIsPrintedOnceEvenWithThePenUp) {
    ASSERT_EQ(turtle_print_string(0, "hello floor"), 0);
    ttl[0].col[0] = {0.25, 0.5, 0.75};
    paint_report rep = frame();
    EXPECT_TRUE(rep.text);
    EXPECT_STREQ(rep.msg, "hello floor");
    EXPECT_DOUBLE_EQ(rep.msg_col.g, 0.5);
    EXPECT_DOUBLE_EQ(rep.msg_pos.x, ttl[0].pos[0].x);
    EXPECT_DOUBLE_EQ(rep.msg_pos.y, ttl[0].pos[0].y);
    EXPECT_EQ(ttl[0].msg[0], '\0');
    EXPECT_EQ(rep.pen.kind, pen_kind::none);
    EXPECT_EQ(field_is_painted, 1);

    rep = frame();
    EXPECT_FALSE(rep.text);
    EXPECT_EQ(field_is_painted, 0);

    // The longest message a client may send survives the copy whole.
    std::string longest(127, 'x');
    ASSERT_EQ(turtle_print_string(0, longest.c_str()), 0);
    rep = frame();
    EXPECT_EQ(std::strlen(rep.msg), 127u);
}

}  // namespace
