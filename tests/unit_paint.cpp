// unit_paint.cpp: what turtles leave on the floor, without GL: the painter's per-frame decision
// for one turtle (what it reports for drawing, and how it moves the painted bit, the
// pen-just-lifted bit, nstroke and msg), and brush-stroke geometry read from the dabs it hands
// to a recording sink.
#include "support.h"
#include "world/paint.h"

namespace {

class PaintState : public ::testing::Test {
protected:
    void SetUp() override {
        place(0, 0, 0);
        fill_history(0);
    }
    // One painting step of turtle 0 as a frame does it: the pen shape and brush work
    // reported, nstroke after it, and whether the report reaches the paint layer.
    paint_report step(pen_kind pen, brush_work brush, int nstroke, bool painted) {
        paint_report rep = paint_decide(0);
        EXPECT_EQ(rep.pen.kind, pen);
        EXPECT_EQ(rep.brush, brush);
        EXPECT_EQ(ttl[0].nstroke, nstroke);
        EXPECT_EQ(rep.paints(), painted);
        return rep;
    }
};

// Nothing from a free slot; a line, points and a fill once per move; the spot where the pen
// goes down.
TEST_F(PaintState, FreeSlotLinePointFillAndPenDownSpot) {
    turtle &t = ttl[3];
    t.status = ST_PEN_DOWN | ST_BRUSH_MODE | ST_PEN_LIFTED;  // bits left after dying
    t.nstroke = 7;
    std::snprintf(t.msg, sizeof t.msg, "left over");
    ntmax = 4;
    const paint_report dead = paint_decide(3);
    EXPECT_FALSE(dead.alive);
    EXPECT_FALSE(dead.paints());
    EXPECT_EQ(t.status, ST_PEN_DOWN | ST_BRUSH_MODE | ST_PEN_LIFTED);
    EXPECT_EQ(t.nstroke, 7);
    EXPECT_STREQ(t.msg, "left over");

    ttl[0].status |= ST_PEN_DOWN;
    paint_report rep = step(pen_kind::line, brush_work::none, 1, true);
    // Width[1], from pos[1] in col[2] to pos[0] in col[1].
    EXPECT_EQ(rep.pen.nvertex, 2);
    EXPECT_EQ(rep.pen.size, 2.0);
    EXPECT_EQ(std::tuple(rep.pen.vertex[0].x, rep.pen.vertex[0].r), std::tuple(11.0, 0.2));
    EXPECT_EQ(std::tuple(rep.pen.vertex[1].x, rep.pen.vertex[1].b), std::tuple(1.0, 0.9));
    step(pen_kind::none, brush_work::none, 1, false);  // no move since

    ttl[0].status |= ST_POINT_MODE;
    ASSERT_EQ(turtle_jump(0, 30, 40), 0);
    ASSERT_EQ(turtle_jump(0, 30, 80), 0);  // two moves in one frame: one step
    rep = step(pen_kind::point, brush_work::none, 2, true);
    EXPECT_EQ(rep.pen.nvertex, 1);
    EXPECT_EQ(rep.pen.vertex[0].y, 80.0);

    ttl[0].status |= ST_FILL_MODE;  // fill wins over points: nstroke 3, pos[3] to pos[0]
    ASSERT_EQ(turtle_jump(0, 0, 80), 0);
    rep = step(pen_kind::fill, brush_work::none, 3, true);
    ASSERT_EQ(rep.pen.nvertex, 4);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(rep.pen.vertex[i].y, ttl[0].pos[3 - i].y) << i;
        EXPECT_EQ(rep.pen.vertex[i].r, ttl[0].col[4 - i].r) << i;
    }
    ttl[0].nstroke = 40;  // never more than the last six points
    ttl[0].status &= ~ST_PAINTED;
    EXPECT_EQ(step(pen_kind::fill, brush_work::none, 41, true).pen.nvertex, 6);

    // The spot where the pen goes down counts only after a move left unpainted.
    turtle_pen_up(0);
    ASSERT_EQ(turtle_jump(0, 20, 20), 0);  // moved with the pen up: painted bit clear
    turtle_pen_down(0);
    // Nothing to fill yet, but the step counts.
    EXPECT_EQ(step(pen_kind::fill, brush_work::none, 1, true).pen.nvertex, 0);
    turtle_pen_up(0);
    turtle_pen_down(0);  // painted bit still set: the spot is not a step
    step(pen_kind::none, brush_work::none, 0, false);
}

// Running steps from the fourth point on, one closing stroke when the pen is lifted; a lift
// outside brush mode waits until brush mode is set. Then the message.
TEST_F(PaintState, BrushStepsOneClosingStrokeAndTheMessage) {
    turtle_set_brush(0);
    turtle_pen_down(0);
    for (int n = 1; n <= 3; ++n) {
        step(pen_kind::none, brush_work::none, n, false);
        ASSERT_EQ(turtle_jump(0, 25.0 * n, 0), 0);
    }
    step(pen_kind::none, brush_work::step, 4, true);
    step(pen_kind::none, brush_work::none, 4, false);  // no move, no step
    turtle_pen_up(0);
    step(pen_kind::none, brush_work::close, 4, true);
    EXPECT_FALSE(ttl[0].status & ST_PEN_LIFTED);
    step(pen_kind::none, brush_work::none, 4, false);  // closed once only

    turtle_unset_brush(0);
    turtle_pen_down(0);  // on the painted spot: no step
    step(pen_kind::none, brush_work::none, 0, false);
    turtle_pen_up(0);
    ASSERT_EQ(turtle_jump(0, 50, 50), 0);
    step(pen_kind::none, brush_work::none, 0, false);
    EXPECT_TRUE(ttl[0].status & ST_PEN_LIFTED);
    turtle_set_brush(0);
    step(pen_kind::none, brush_work::close, 0, true);
    EXPECT_FALSE(ttl[0].status & ST_PEN_LIFTED);

    // The message is printed once, even with the pen up.
    std::string longest(127, 'x');
    ASSERT_EQ(turtle_print_string(0, longest.c_str()), 0);
    ttl[0].col[0] = {0.25, 0.5, 0.75};
    paint_report rep = step(pen_kind::none, brush_work::none, 0, true);
    EXPECT_TRUE(rep.text);
    EXPECT_EQ(rep.msg, longest);
    EXPECT_EQ(rep.msg_col.g, 0.5);
    EXPECT_STREQ(ttl[0].msg, "");
    EXPECT_FALSE(step(pen_kind::none, brush_work::none, 0, false).text);
}

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
// Dab k lies within tol of (x, y).
bool dab_at(std::size_t k, double x, double y, double tol) {
    return k < dabs.size() && std::fabs(dabs[k].x - x) < tol && std::fabs(dabs[k].y - y) < tol;
}

// A brush point at (x, y) with size s, and the colours the cases below paint with.
brush_point bp(double x, double y, double s) { return {{x, y}, s}; }
constexpr color RED{1, 0, 0}, GREY{0.5, 0.5, 0.5};

class Brush : public ::testing::Test {
protected:
    void SetUp() override { dabs.clear(); }
};

TEST_F(Brush, DabSpacingItsCapShortPiecesAndStyles) {
    EXPECT_EQ(brush_intervals(10.0, 2.0), 100);  // 10 / 0.1005 = 99.5
    EXPECT_EQ(brush_intervals(400.0, 0.5), BRUSH_MAX_INTERVALS);
    EXPECT_EQ(brush_intervals(10.0, NAN), BRUSH_MAX_INTERVALS);

    brushLine(bp(0, 0, 2), bp(0, 10, 2), {0.2, 0, 0}, 0, record);  // upwards: uniform style
    ASSERT_TRUE(dabs.size() == 100u || dabs.size() == 101u) << dabs.size();
    EXPECT_TRUE(dab_at(37, 0.0, 3.7, 1e-9));
    EXPECT_EQ(dabs[37].size, 2.0);

    dabs.clear();  // 512 intervals spread wider than a twentieth of the size
    brushLine(bp(0, -200, 0.5), bp(0, 200, 0.5), {1, 1, 1}, 0, record);
    ASSERT_LE(dabs.size(), 513u);
    EXPECT_NEAR(dabs[1].y - dabs[0].y, 400.0 / 512, 1e-9);

    dabs.clear();  // length 1.077: one dab at the start with the start size
    brushLine(bp(3, 4, 5), bp(4, 4.4, 9), RED, 1, record);
    ASSERT_EQ(dabs.size(), 1u);
    EXPECT_EQ(dabs[0].x, 3.0);
    EXPECT_EQ(dabs[0].size, 5.0);

    // Styles by length and direction.
    const double angles[] = {0, 29.9, 30, 89.9, 90, 180, -0.1, -79.9, -80, -180};
    const int closing[] = {7, 7, 2, 2, 3, 3, 4, 4, 5, 5};
    for (int i = 0; i < 10; ++i) EXPECT_EQ(strokeStyle(1.0, 100.0, angles[i], 1), closing[i]);
    // Running strokes: long and forward is waisted; shorter or turned, plain.
    EXPECT_EQ(strokeStyle(10.0, 2.0, 0.0, 0), 1);
    EXPECT_EQ(strokeStyle(8.0, 2.0, 0.0, 0), 0);
    EXPECT_EQ(strokeStyle(10.0, 2.0, 30.0, 0), 0);

    dabs.clear();  // closing at 45 degrees: 1 - sqrt(t)
    brushLine(bp(0, 0, 2), bp(10, 10, 2), {0, 0, 1}, 1, record);
    ASSERT_GT(dabs.size(), 100u);
    for (const dab &d : dabs) EXPECT_NEAR(d.size, 2.0 * (1.0 - std::sqrt(d.x / 10.0)), 1e-9);
}

TEST_F(Brush, CurvesZeroLengthSegmentsAndATurtlesStroke) {
    drawCurve3(bp(0, 0, 2), bp(10, 0, 3), bp(20, 5, 4), GREY, record);
    ASSERT_TRUE(dabs.size() == 100u || dabs.size() == 101u) << dabs.size();
    EXPECT_TRUE(dab_at(1, 0.15473, -0.02214, 1e-5));
    EXPECT_NEAR(dabs[1].size, 2.01, 1e-9);
    // Halfway: a quarter of each end and half the control point (7.7639, -1.1180).
    EXPECT_TRUE(dab_at(50, 2.5 + 0.5 * 7.76393, 0.5 * -1.11803, 1e-4));

    dabs.clear();  // leaving (10, 0) along +x towards (20, 5): control point (12.795, 0)
    drawCurve3asLastStroke(bp(0, 0, 2), bp(10, 0, 3), bp(20, 5, 4), GREY, record);
    ASSERT_TRUE(dabs.size() == 75u || dabs.size() == 76u) << dabs.size();
    EXPECT_TRUE(dab_at(0, 10, 0, 1e-9));
    EXPECT_TRUE(dab_at(37, 13.831072, 1.216889, 1e-5));

    dabs.clear();  // a sharp turn (cosine 0) is a straight piece along p0 -> p1
    drawCurve3(bp(0, 0, 2), bp(0, 10, 2), bp(-10, 10, 2), GREY, record);
    EXPECT_TRUE(all_at_x(0));

    dabs.clear();  // tangents (20, 5) at p1 and (20, 15) at p2 meet at (15, 3.75)
    drawCurve4(bp(-10, -5, 2), bp(0, 0, 2), bp(10, 0, 2), bp(20, 15, 2), {1, 1, 0}, record);
    ASSERT_GE(dabs.size(), 100u);
    EXPECT_TRUE(dab_at(50, 0.5 * 15 + 0.25 * 10, 0.5 * 3.75, 1e-9));

    // Zero-length segments paint straight pieces, without NaN.
    dabs.clear();
    drawCurve3(bp(0, 0, 2), bp(0, 10, 3), bp(0, 10, 4), RED, record);  // p1 = p2
    EXPECT_GE(dabs.size(), 100u);
    EXPECT_TRUE(all_at_x(0));
    dabs.clear();  // p0 = p1 in the closing curve: straight from p1 to p2
    drawCurve3asLastStroke(bp(5, 5, 2), bp(5, 5, 2), bp(5, 15, 2), RED, record);
    EXPECT_GE(dabs.size(), 100u);
    EXPECT_TRUE(all_at_x(5));

    // Every coincidence of consecutive points, in the running and the closing strokes.
    for (int mask = 0; mask < 8; ++mask) {
        std::array<brush_point, 4> p{bp(0, 0, 2), bp(10, 0, 2), bp(10, 10, 2), bp(20, 10, 2)};
        for (int i = 0; i < 3; ++i) {
            if (mask & (1 << i)) p[i + 1] = p[i];
        }
        dabs.clear();
        drawCurve4(p[0], p[1], p[2], p[3], RED, record);
        EXPECT_FALSE(dabs.empty()) << mask;
        brushLine3(p[0], p[1], p[2], p[3], RED, record);
        brushLine2(p[0], p[1], p[2], RED, record);
        brushLine(bp(NAN, 0, 2), bp(10, 0, 2), RED, 0, record);  // never reaches the sink
        auto finite = [](const dab &d) { return std::isfinite(d.x + d.y + d.size); };
        EXPECT_TRUE(std::all_of(dabs.begin(), dabs.end(), finite)) << mask;
    }

    // Which history points and colour a running step (from nstroke 4) and the closing stroke use.
    place(0, 0, 0);
    fill_history(0);
    brush_history h = brush_history_of(ttl[0]);
    const struct {
        int nstroke, last_stroke, first_point, colour;
    } cases[] = {{4, 0, 3, 4}, {9, 0, 3, 4}, {5, 1, 3, 4}, {3, 1, 2, 3},
                 {2, 1, 1, 2}, {3, 0, -1, 0}};  // the last: no running step before nstroke 4
    for (const auto &e : cases) {
        dabs.clear();
        h.nstroke = e.nstroke;
        paint_by_brush(h, e.last_stroke, record);
        if (e.first_point < 0) {
            EXPECT_TRUE(dabs.empty());
            continue;
        }
        ASSERT_FALSE(dabs.empty()) << e.nstroke;
        EXPECT_EQ(dabs.front().x, h.pos[e.first_point].x) << e.nstroke;
        EXPECT_EQ(dabs.front().r, h.col[e.colour].r) << e.nstroke;
        EXPECT_NEAR(dabs.back().x, h.pos[e.last_stroke ? 0 : 2].x, 1.0) << e.nstroke;
    }
}

// The brush work's history is the turtle's as it was decided, not as it stands when drawn.
TEST_F(PaintState, TheBrushReportCarriesItsHistory) {
    turtle_set_brush(0);
    ttl[0].status |= ST_PEN_DOWN;
    ttl[0].nstroke = 5;
    const paint_report rep = paint_decide(0);
    ASSERT_EQ(rep.brush, brush_work::step);
    EXPECT_EQ(rep.stroke.nstroke, 6);
    EXPECT_EQ(rep.stroke.pos, ttl[0].pos);
    EXPECT_EQ(rep.stroke.width, ttl[0].width);
}

}  // namespace
