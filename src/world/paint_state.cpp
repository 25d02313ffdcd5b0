// paint_state.cpp: the painter's per-frame decision for one turtle and the shapes of its plain
// pen styles. Changes the turtle's painting state; draws nothing (paint.cpp draws the report).
#include <climits>
#include <cstring>

#include "world/paint.h"

namespace {

static_assert(sizeof(paint_report::msg) == sizeof(turtle::msg));

inline constexpr int FILL_MAX_SIDES = 5;  // a filled figure spans at most the last six points

pen_vertex vertex_of(const turtle &t, int point, int colour) {
    const color &c = t.col[colour];
    return {t.pos[point].x, t.pos[point].y, c.r, c.g, c.b};
}

}  // namespace

pen_shape paint_pen_shape(int tid) {
    pen_shape shape;
    if (!valid_tid(tid)) {
        return shape;
    }
    const turtle &t = ttl[tid];
    if (t.status & ST_FILL_MODE) {
        shape.kind = pen_kind::fill;
        int n = t.nstroke;
        if (n <= 1) {
            return shape;
        }
        int k = n < FILL_MAX_SIDES ? n : FILL_MAX_SIDES;
        for (int i = k; i >= 0; --i) {
            shape.vertex[shape.nvertex++] = vertex_of(t, i, i + 1);
        }
    } else if (t.status & ST_POINT_MODE) {
        shape.kind = pen_kind::point;
        shape.size = t.width[1];
        shape.vertex[shape.nvertex++] = vertex_of(t, 0, 1);
    } else {
        shape.kind = pen_kind::line;
        shape.size = t.width[1];
        shape.vertex[shape.nvertex++] = vertex_of(t, 1, 2);
        shape.vertex[shape.nvertex++] = vertex_of(t, 0, 1);
    }
    return shape;
}

paint_report paint_decide(int tid) {
    paint_report rep;
    rep.tid = tid;
    if (!valid_tid(tid) || !(ttl[tid].status & ST_ALIVE)) {
        return rep;
    }
    turtle &t = ttl[tid];
    rep.alive = true;
    bool pen_due = (t.status & ST_PEN_DOWN) && !(t.status & ST_PAINTED);
    if (t.status & ST_BRUSH_MODE) {
        if (pen_due) {
            if (t.nstroke < INT_MAX) {
                ++t.nstroke;
            }
            if (t.nstroke > BRUSH_STEPS_BEFORE_PAINT) {
                rep.brush = brush_work::step;
            }
            t.status |= ST_PAINTED;
        } else if (t.status & ST_PEN_LIFTED) {
            rep.brush = brush_work::close;
            t.status &= ~ST_PEN_LIFTED;
            t.status |= ST_PAINTED;
        }
        if (rep.brush != brush_work::none) {
            rep.stroke = brush_history_of(t);
        }
    } else if (pen_due) {
        if (t.nstroke < INT_MAX) {
            ++t.nstroke;
        }
        rep.pen = paint_pen_shape(tid);
        t.status |= ST_PAINTED;
    }
    if (t.msg[0] != '\0') {
        rep.text = true;
        std::memcpy(rep.msg, t.msg, sizeof rep.msg);
        rep.msg[sizeof rep.msg - 1] = '\0';
        rep.msg_col = t.col[0];
        rep.msg_pos = t.pos[0];
        t.msg[0] = '\0';
    }
    return rep;
}
