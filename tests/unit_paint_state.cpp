// unit_paint_state.cpp: the painter's per-frame decision for one turtle: what it reports for
// drawing and how it moves the painted bit, the pen-just-lifted bit, nstroke and msg.
#include <cstdio>
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
    // One painting step of turtle 0 as a frame does it, with the per-frame flag reset first:
    // the pen shape and brush work reported, then nstroke and field_is_painted after it.
    paint_report step(pen_kind pen, brush_work brush, int nstroke, int painted) {
        field_is_painted = 0;
        paint_report rep = paint_decide(0);
        EXPECT_EQ(rep.pen.kind, pen);
        EXPECT_EQ(rep.brush, brush);
        EXPECT_EQ(ttl[0].nstroke, nstroke);
        EXPECT_EQ(field_is_painted, painted);
        return rep;
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
    EXPECT_FALSE(rep.alive || rep.text || rep.brush != brush_work::none);
    EXPECT_EQ(t.status, ST_PEN_DOWN | ST_BRUSH_MODE | ST_PEN_LIFTED);
    EXPECT_EQ(t.nstroke, 7);
    EXPECT_STREQ(t.msg, "left over");
    EXPECT_EQ(field_is_painted, 0);
}

TEST_F(PaintState, LinePointAndFillOncePerMove) {
    ttl[0].status |= ST_PEN_DOWN;
    paint_report rep = step(pen_kind::line, brush_work::none, 1, 1);
    ASSERT_EQ(rep.pen.nvertex, 2);
    EXPECT_DOUBLE_EQ(rep.pen.size, 3.0);          // width[1]
    EXPECT_DOUBLE_EQ(rep.pen.vertex[0].x, 10.0);  // from pos[1] in col[2]
    EXPECT_DOUBLE_EQ(rep.pen.vertex[0].r, 0.2);
    EXPECT_DOUBLE_EQ(rep.pen.vertex[1].b, 0.9);   // to pos[0] in col[1]
    EXPECT_TRUE(ttl[0].status & ST_PAINTED);
    step(pen_kind::none, brush_work::none, 1, 0);  // no move since

    ttl[0].status |= ST_POINT_MODE;
    ASSERT_EQ(turtle_jump(0, 30, 40), 0);
    ASSERT_EQ(turtle_jump(0, 30, 80), 0);  // two moves in one frame: one step
    rep = step(pen_kind::point, brush_work::none, 2, 1);
    ASSERT_EQ(rep.pen.nvertex, 1);
    EXPECT_DOUBLE_EQ(rep.pen.vertex[0].y, 80.0);

    ttl[0].status |= ST_FILL_MODE;  // fill wins over points: nstroke 3, pos[3] to pos[0]
    ASSERT_EQ(turtle_jump(0, 0, 80), 0);
    rep = step(pen_kind::fill, brush_work::none, 3, 1);
    ASSERT_EQ(rep.pen.nvertex, 4);
    for (int i = 0; i < 4; ++i) {
        EXPECT_DOUBLE_EQ(rep.pen.vertex[i].y, ttl[0].pos[3 - i].y);
        EXPECT_DOUBLE_EQ(rep.pen.vertex[i].r, ttl[0].col[4 - i].r);
    }
    ttl[0].nstroke = 40;  // never more than the last six points
    ttl[0].status &= ~ST_PAINTED;
    EXPECT_EQ(step(pen_kind::fill, brush_work::none, 41, 1).pen.nvertex, 6);
}

TEST_F(PaintState, PenDownSpotCountsOnlyAfterAnUnpaintedMove) {
    ttl[0].status |= ST_FILL_MODE;
    ASSERT_EQ(turtle_jump(0, 20, 20), 0);  // moved with the pen up: painted bit clear
    turtle_pen_down(0);
    // Nothing to fill yet, but the step counts.
    EXPECT_EQ(step(pen_kind::fill, brush_work::none, 1, 1).pen.nvertex, 0);
    turtle_pen_up(0);
    turtle_pen_down(0);  // painted bit still set: the spot is not a step
    step(pen_kind::none, brush_work::none, 0, 0);
}

// Running steps from the fourth point on, one closing stroke when the pen is lifted; a lift
// outside brush mode waits until brush mode is set.
TEST_F(PaintState, BrushStepsAndOneClosingStroke) {
    turtle_set_brush(0);
    turtle_pen_down(0);
    for (int n = 1; n <= 3; ++n) {
        step(pen_kind::none, brush_work::none, n, 0);
        EXPECT_TRUE(ttl[0].status & ST_PAINTED);
        ASSERT_EQ(turtle_jump(0, 25.0 * n, 0), 0);
    }
    step(pen_kind::none, brush_work::step, 4, 1);
    step(pen_kind::none, brush_work::none, 4, 0);  // no move, no step
    turtle_pen_up(0);
    step(pen_kind::none, brush_work::close, 4, 1);
    EXPECT_FALSE(ttl[0].status & ST_PEN_LIFTED);
    step(pen_kind::none, brush_work::none, 4, 0);  // closed once only

    turtle_unset_brush(0);
    turtle_pen_down(0);  // on the painted spot: no step
    step(pen_kind::none, brush_work::none, 0, 0);
    turtle_pen_up(0);
    ASSERT_EQ(turtle_jump(0, 50, 50), 0);
    step(pen_kind::none, brush_work::none, 0, 0);
    EXPECT_TRUE(ttl[0].status & ST_PEN_LIFTED);
    turtle_set_brush(0);
    step(pen_kind::none, brush_work::close, 0, 1);
    EXPECT_FALSE(ttl[0].status & ST_PEN_LIFTED);
}

TEST_F(PaintState, MessageIsPrintedOnceEvenWithThePenUp) {
    std::string longest(127, 'x');
    ASSERT_EQ(turtle_print_string(0, longest.c_str()), 0);
    ttl[0].col[0] = {0.25, 0.5, 0.75};
    paint_report rep = step(pen_kind::none, brush_work::none, 0, 1);
    ASSERT_TRUE(rep.text);
    EXPECT_EQ(rep.msg, longest);
    EXPECT_DOUBLE_EQ(rep.msg_col.g, 0.5);
    EXPECT_EQ(ttl[0].msg[0], '\0');
    EXPECT_FALSE(step(pen_kind::none, brush_work::none, 0, 0).text);
}

}  // namespace
