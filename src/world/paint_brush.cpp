// paint_brush.cpp: brush-stroke geometry. Lays dabs along straight pieces and quadratic curves
// through a turtle's recent points and hands each one to a dab sink; no GL here.
#include <algorithm>
#include <cmath>

#include "world/paint.h"

namespace {

using vec2 = position;

vec2 sub(vec2 a, vec2 b) { return {a.x - b.x, a.y - b.y}; }
double dot(vec2 a, vec2 b) { return a.x * b.x + a.y * b.y; }
double cross(vec2 a, vec2 b) { return a.x * b.y - a.y * b.x; }
double len(vec2 a) { return std::sqrt(a.x * a.x + a.y * a.y); }
vec2 midpoint(vec2 a, vec2 b) { return {(a.x + b.x) / 2.0, (a.y + b.y) / 2.0}; }

// Cosine of the angle between u and v; NaN when either has zero length.
double direction_cosine(vec2 u, vec2 v) {
    double lu = len(u), lv = len(v);
    if (lu == 0.0 || lv == 0.0) {
        return std::nan("");
    }
    return dot(u, v) / (lu * lv);
}

double direction_degrees(vec2 d) { return std::atan2(d.y, d.x) * 180.0 / PI; }

void stamp(dab_sink sink, double x, double y, double size, color c) {
    if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(size)) {
        return;
    }
    sink(x, y, size, c.r, c.g, c.b);
}

void stamp(dab_sink sink, brush_point p, color c) { stamp(sink, p.p.x, p.p.y, p.size, c); }

double bezier(double p, double c, double q, double t) {
    double u = 1.0 - t;
    return u * u * p + 2.0 * t * u * c + t * t * q;
}

// Stamps the quadratic curve P -> Q with control C, sizes interpolated the same way.
void stamp_quadratic(vec2 p, vec2 c, vec2 q, double sp, double sc, double sq, int n, color col,
                     dab_sink sink) {
    double dt = 1.0 / n;
    for (double t = 0.0; t <= 1.0; t += dt) {
        stamp(sink, bezier(p.x, c.x, q.x, t), bezier(p.y, c.y, q.y, t), bezier(sp, sc, sq, t), col);
    }
}

// The control point of a three-point curve bending at p1: the piece p0 -> p1 arriving towards
// p2, or (leaving) the piece p1 -> p2 leaving p1 in the direction p0 -> p1. False when the
// bend is sharp or undefined (a zero-length segment): the piece is then painted straight.
bool curve3_control(vec2 p0, vec2 p1, vec2 p2, bool leaving, vec2 &ctrl) {
    vec2 d01 = sub(p1, p0), d12 = sub(p2, p1);
    double l01 = len(d01), l12 = len(d12);
    double c = direction_cosine(d01, d12);
    if (std::isnan(c) || c < BRUSH_SHARP_COS3) {
        return false;
    }
    if (c > BRUSH_STRAIGHT_COS) {
        ctrl = midpoint(p0, p1);
    } else if (leaving) {
        double k = BRUSH_CONTROL_FACTOR * (l12 / l01);
        ctrl = {p1.x + k * d01.x, p1.y + k * d01.y};
    } else {
        double k = BRUSH_CONTROL_FACTOR * (l01 / l12);
        ctrl = {p1.x - k * d12.x, p1.y - k * d12.y};
    }
    return true;
}

}  // namespace

int strokeStyle(double length, double width, double angle, int last_stroke) {
    if (last_stroke != 0) {
        if (angle >= 0.0 && angle < 30.0) {
            return 7;
        }
        if (angle >= 30.0 && angle < 90.0) {
            return 2;
        }
        if (angle >= 90.0) {
            return 3;
        }
        if (angle > -80.0 && angle < 0.0) {
            return 4;
        }
        if (angle <= -80.0) {
            return 5;
        }
        return 0;  // only a NaN angle gets here
    }
    if (length / width > BRUSH_LONG_RATIO && angle >= 0.0 && angle < 30.0) {
        return 1;
    }
    return 0;
}

double thickness(double dratio, int style) {
    double t = dratio;
    switch (style) {
    case 1: return 1.0 - 0.7 * (t + 0.2) * (1.0 - t);
    case 2:
    case 3: return 1.0 - std::sqrt(t);
    case 4:
    case 7: return 1.0 - t;
    case 5: return 1.0 - std::pow(t, 1.5);
    case 6:
        if (t < 0.5) {
            return std::exp(1.7 * t);
        }
        return std::exp(0.85) * (1.0 - std::pow(t, 1.3)) * 1.6;
    default: return 1.0;
    }
}

double vshift(double dratio, int style) {
    if (style == 6 && dratio >= 0.5) {
        return 2.0 * (dratio - 0.5);
    }
    return 0.0;
}

int brush_intervals(double length, double size) {
    double q =
        std::floor(length / ((std::fabs(size) + BRUSH_SIZE_OFFSET) / BRUSH_SPACING_DIVISOR)) + 1.0;
    // Written so that a NaN or huge quotient also ends at the cap.
    return q < BRUSH_MAX_INTERVALS ? std::max(1, static_cast<int>(q)) : BRUSH_MAX_INTERVALS;
}

void brushLine(brush_point a, brush_point b, color c, int last_stroke, dab_sink sink) {
    vec2 d = sub(b.p, a.p);
    double l = len(d);
    if (!(l >= BRUSH_SHORT_SEGMENT)) {
        stamp(sink, a, c);
        return;
    }
    int style = strokeStyle(l, a.size, direction_degrees(d), last_stroke);
    double dt = 1.0 / brush_intervals(l, a.size);
    for (double t = 0.0; t <= 1.0; t += dt) {
        double size = ((1.0 - t) * a.size + t * b.size) * thickness(t, style);
        stamp(sink, a.p.x + t * d.x, a.p.y + t * d.y, size, c);
    }
}

void drawCurve3(brush_point p0, brush_point p1, brush_point p2, color c, dab_sink sink) {
    vec2 ctrl;
    if (!curve3_control(p0.p, p1.p, p2.p, false, ctrl)) {
        brushLine(p0, p1, c, 0, sink);
        return;
    }
    stamp_quadratic(p0.p, ctrl, p1.p, p0.size, (p0.size + p1.size) / 2.0, p1.size,
                    brush_intervals(len(sub(p1.p, p0.p)), p0.size), c, sink);
}

void drawCurve3asLastStroke(brush_point p0, brush_point p1, brush_point p2, color c,
                            dab_sink sink) {
    vec2 ctrl;
    if (!curve3_control(p0.p, p1.p, p2.p, true, ctrl)) {
        brushLine(p1, p2, c, 0, sink);
        return;
    }
    stamp_quadratic(p1.p, ctrl, p2.p, p1.size, (p0.size + p1.size) / 2.0, p2.size,
                    brush_intervals(len(sub(p2.p, p1.p)), p1.size), c, sink);
}

// An undefined bend at either end (a zero-length segment) takes the same fallback as a sharp
// one; parallel tangents have no intersection, so their control point is the chord's midpoint.
void drawCurve4(brush_point p0, brush_point p1, brush_point p2, brush_point p3, color c,
                dab_sink sink) {
    vec2 d01 = sub(p1.p, p0.p), d12 = sub(p2.p, p1.p), d23 = sub(p3.p, p2.p);
    double c012 = direction_cosine(d01, d12);
    double c123 = direction_cosine(d12, d23);
    if (std::isnan(c012) || c012 < BRUSH_SHARP_COS4) {
        drawCurve3(p1, p2, p3, c, sink);
        return;
    }
    if (std::isnan(c123) || c123 < BRUSH_SHARP_COS4) {
        brushLine(p1, p2, c, 0, sink);
        return;
    }
    vec2 ctrl = midpoint(p1.p, p2.p);
    if (!(direction_cosine(d01, d23) > BRUSH_STRAIGHT_COS)) {
        vec2 t0 = sub(p2.p, p0.p), t1 = sub(p3.p, p1.p);
        double k = cross(d12, t1) / cross(t0, t1);
        vec2 cross_point{p1.p.x + k * t0.x, p1.p.y + k * t0.y};
        if (std::isfinite(cross_point.x) && std::isfinite(cross_point.y)) {
            ctrl = cross_point;
        }
    }
    stamp_quadratic(p1.p, ctrl, p2.p, p1.size, (p1.size + p2.size) / 2.0, p2.size,
                    brush_intervals(len(d12), p1.size), c, sink);
}

void brushLine2(brush_point p0, brush_point p1, brush_point p2, color c, dab_sink sink) {
    vec2 d01 = sub(p1.p, p0.p), d12 = sub(p2.p, p1.p);
    double l01 = len(d01), l12 = len(d12);
    if (l12 < BRUSH_SHORT_SEGMENT) {
        brushLine(p0, p1, c, 0, sink);
        stamp(sink, p2, c);
        return;
    }
    if (l01 < BRUSH_SHORT_SEGMENT) {
        stamp(sink, p0, c);
        brushLine(p1, p2, c, 1, sink);
        return;
    }
    int style = strokeStyle(l12, p1.size, direction_degrees(d12), 1);
    if (direction_cosine(d01, d12) < BRUSH_SHARP_COS_LAST || style == 1 || style == 2 ||
        style == 3) {
        brushLine(p0, p1, c, 0, sink);
        brushLine(p1, p2, c, 1, sink);
        return;
    }
    if (style == 4) {
        style = 6;  // a gentle downward close is swept into a swell and an upward flick
    }
    double dt = 1.0 / brush_intervals(l01 + l12, p0.size);
    for (double t = 0.0; t <= 1.0; t += dt) {
        double base = bezier(p0.size, p1.size, p2.size, t);
        stamp(sink, bezier(p0.p.x, p1.p.x, p2.p.x, t),
              bezier(p0.p.y, p1.p.y, p2.p.y, t) + vshift(t, style) * base,
              base * thickness(t, style), c);
    }
}

void brushLine3(brush_point p0, brush_point p1, brush_point p2, brush_point p3, color c,
                dab_sink sink) {
    drawCurve3(p0, p1, p2, c, sink);
    vec2 d12 = sub(p2.p, p1.p), d23 = sub(p3.p, p2.p);
    double l12 = len(d12), l23 = len(d23);
    if (l23 < BRUSH_SHORT_SEGMENT) {
        drawCurve3asLastStroke(p0, p1, p2, c, sink);
        stamp(sink, p3, c);
        return;
    }
    if (l12 < BRUSH_SHORT_SEGMENT) {
        stamp(sink, p1, c);
        brushLine(p2, p3, c, 1, sink);
        return;
    }
    int style = strokeStyle(l23, p2.size, direction_degrees(d23), 1);
    if (direction_cosine(d12, d23) < BRUSH_SHARP_COS_LAST || style == 1 || style == 2 ||
        style == 3) {
        drawCurve3asLastStroke(p0, p1, p2, c, sink);
        brushLine(p2, p3, c, 1, sink);
        return;
    }
    brushLine2(p1, p2, p3, c, sink);
}

brush_history brush_history_of(const turtle &t) { return {t.pos, t.col, t.width, t.nstroke}; }

void paint_by_brush(const brush_history &h, int last_stroke, dab_sink sink) {
    // History point k is drawn with the size w[k + 1].
    const auto at = [&h](int k) { return brush_point{h.pos[k], h.width[k + 1]}; };
    int n = h.nstroke;
    if (last_stroke == 0) {
        if (n <= BRUSH_STEPS_BEFORE_PAINT) {
            return;
        }
        if (n == 4) {
            drawCurve3(at(3), at(2), at(1), h.col[4], sink);
        } else {
            drawCurve4(at(4), at(3), at(2), at(1), h.col[4], sink);
        }
        return;
    }
    if (n >= 4) {
        brushLine3(at(3), at(2), at(1), at(0), h.col[4], sink);
    } else if (n == 3) {
        brushLine2(at(2), at(1), at(0), h.col[3], sink);
    } else {
        brushLine(at(1), at(0), h.col[2], last_stroke, sink);
    }
}
