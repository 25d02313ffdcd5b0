// paint_brush.cpp: brush-stroke geometry. Lays dabs along straight pieces and quadratic curves
// through a turtle's recent points and hands each one to a dab sink; no GL here.
#include <algorithm>
#include <cmath>

#include "world/paint.h"

namespace {

struct vec2 {
    double x, y;
};

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

void brush_line(vec2 p0, double s0, vec2 p1, double s1, color c, int last_stroke, dab_sink sink) {
    brushLine(p0.x, p0.y, s0, p1.x, p1.y, s1, c.r, c.g, c.b, last_stroke, sink);
}

void draw_curve3(vec2 p0, double s0, vec2 p1, double s1, vec2 p2, double s2, color c,
                 dab_sink sink) {
    drawCurve3(p0.x, p0.y, s0, p1.x, p1.y, s1, p2.x, p2.y, s2, c.r, c.g, c.b, sink);
}

void draw_curve3_last(vec2 p0, double s0, vec2 p1, double s1, vec2 p2, double s2, color c,
                      dab_sink sink) {
    drawCurve3asLastStroke(p0.x, p0.y, s0, p1.x, p1.y, s1, p2.x, p2.y, s2, c.r, c.g, c.b, sink);
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

void brushLine(double x0, double y0, double size0, double x1, double y1, double size1, double r,
               double g, double b, int last_stroke, dab_sink sink) {
    color c{r, g, b};
    vec2 d{x1 - x0, y1 - y0};
    double l = len(d);
    if (!(l >= BRUSH_SHORT_SEGMENT)) {
        stamp(sink, x0, y0, size0, c);
        return;
    }
    int style = strokeStyle(l, size0, direction_degrees(d), last_stroke);
    double dt = 1.0 / brush_intervals(l, size0);
    for (double t = 0.0; t <= 1.0; t += dt) {
        double size = ((1.0 - t) * size0 + t * size1) * thickness(t, style);
        stamp(sink, x0 + t * d.x, y0 + t * d.y, size, c);
    }
}

// A zero-length segment leaves the bend undefined; such a piece is painted straight.
void drawCurve3(double x0, double y0, double s0, double x1, double y1, double s1, double x2,
                double y2, double s2, double r, double g, double b, dab_sink sink) {
    (void)s2;
    color col{r, g, b};
    vec2 p0{x0, y0}, p1{x1, y1}, p2{x2, y2};
    vec2 d01 = sub(p1, p0), d12 = sub(p2, p1);
    double l01 = len(d01), l12 = len(d12);
    double c = direction_cosine(d01, d12);
    if (std::isnan(c) || c < BRUSH_SHARP_COS3) {
        brush_line(p0, s0, p1, s1, col, 0, sink);
        return;
    }
    vec2 ctrl;
    if (c > BRUSH_STRAIGHT_COS) {
        ctrl = midpoint(p0, p1);
    } else {
        double k = BRUSH_CONTROL_FACTOR * (l01 / l12);
        ctrl = {p1.x - k * d12.x, p1.y - k * d12.y};
    }
    stamp_quadratic(p0, ctrl, p1, s0, (s0 + s1) / 2.0, s1, brush_intervals(l01, s0), col, sink);
}

// An undefined bend at either end (a zero-length segment) takes the same fallback as a sharp
// one; parallel tangents have no intersection, so their control point is the chord's midpoint.
void drawCurve4(double x0, double y0, double s0, double x1, double y1, double s1, double x2,
                double y2, double s2, double x3, double y3, double s3, double r, double g, double b,
                dab_sink sink) {
    (void)s0;
    color col{r, g, b};
    vec2 p0{x0, y0}, p1{x1, y1}, p2{x2, y2}, p3{x3, y3};
    vec2 d01 = sub(p1, p0), d12 = sub(p2, p1), d23 = sub(p3, p2);
    double c012 = direction_cosine(d01, d12);
    double c123 = direction_cosine(d12, d23);
    if (std::isnan(c012) || c012 < BRUSH_SHARP_COS4) {
        draw_curve3(p1, s1, p2, s2, p3, s3, col, sink);
        return;
    }
    if (std::isnan(c123) || c123 < BRUSH_SHARP_COS4) {
        brush_line(p1, s1, p2, s2, col, 0, sink);
        return;
    }
    vec2 ctrl = midpoint(p1, p2);
    if (!(direction_cosine(d01, d23) > BRUSH_STRAIGHT_COS)) {
        vec2 t0 = sub(p2, p0), t1 = sub(p3, p1);
        double k = cross(d12, t1) / cross(t0, t1);
        vec2 cross_point{p1.x + k * t0.x, p1.y + k * t0.y};
        if (std::isfinite(cross_point.x) && std::isfinite(cross_point.y)) {
            ctrl = cross_point;
        }
    }
    stamp_quadratic(p1, ctrl, p2, s1, (s1 + s2) / 2.0, s2, brush_intervals(len(d12), s1), col,
                    sink);
}

// A zero-length segment leaves the incoming direction undefined; the piece is painted straight.
void drawCurve3asLastStroke(double x0, double y0, double s0, double x1, double y1, double s1,
                            double x2, double y2, double s2, double r, double g, double b,
                            dab_sink sink) {
    color col{r, g, b};
    vec2 p0{x0, y0}, p1{x1, y1}, p2{x2, y2};
    vec2 d01 = sub(p1, p0), d12 = sub(p2, p1);
    double l01 = len(d01), l12 = len(d12);
    double c = direction_cosine(d01, d12);
    if (std::isnan(c) || c < BRUSH_SHARP_COS3) {
        brush_line(p1, s1, p2, s2, col, 0, sink);
        return;
    }
    vec2 ctrl;
    if (c > BRUSH_STRAIGHT_COS) {
        ctrl = midpoint(p0, p1);
    } else {
        double k = BRUSH_CONTROL_FACTOR * (l12 / l01);
        ctrl = {p1.x + k * d01.x, p1.y + k * d01.y};
    }
    stamp_quadratic(p1, ctrl, p2, s1, (s0 + s1) / 2.0, s2, brush_intervals(l12, s1), col, sink);
}

void brushLine2(double x0, double y0, double size0, double x1, double y1, double size1, double x2,
                double y2, double size2, double r, double g, double b, dab_sink sink) {
    color col{r, g, b};
    vec2 p0{x0, y0}, p1{x1, y1}, p2{x2, y2};
    vec2 d01 = sub(p1, p0), d12 = sub(p2, p1);
    double l01 = len(d01), l12 = len(d12);
    if (l12 < BRUSH_SHORT_SEGMENT) {
        brush_line(p0, size0, p1, size1, col, 0, sink);
        stamp(sink, x2, y2, size2, col);
        return;
    }
    if (l01 < BRUSH_SHORT_SEGMENT) {
        stamp(sink, x0, y0, size0, col);
        brush_line(p1, size1, p2, size2, col, 1, sink);
        return;
    }
    int style = strokeStyle(l12, size1, direction_degrees(d12), 1);
    if (direction_cosine(d01, d12) < BRUSH_SHARP_COS_LAST || style == 1 || style == 2 ||
        style == 3) {
        brush_line(p0, size0, p1, size1, col, 0, sink);
        brush_line(p1, size1, p2, size2, col, 1, sink);
        return;
    }
    if (style == 4) {
        style = 6;  // a gentle downward close is swept into a swell and an upward flick
    }
    double dt = 1.0 / brush_intervals(l01 + l12, size0);
    for (double t = 0.0; t <= 1.0; t += dt) {
        double base = bezier(size0, size1, size2, t);
        stamp(sink, bezier(x0, x1, x2, t), bezier(y0, y1, y2, t) + vshift(t, style) * base,
              base * thickness(t, style), col);
    }
}

void brushLine3(double x0, double y0, double size0, double x1, double y1, double size1, double x2,
                double y2, double size2, double x3, double y3, double size3, double r, double g,
                double b, dab_sink sink) {
    color col{r, g, b};
    vec2 p0{x0, y0}, p1{x1, y1}, p2{x2, y2}, p3{x3, y3};
    draw_curve3(p0, size0, p1, size1, p2, size2, col, sink);
    vec2 d12 = sub(p2, p1), d23 = sub(p3, p2);
    double l12 = len(d12), l23 = len(d23);
    if (l23 < BRUSH_SHORT_SEGMENT) {
        draw_curve3_last(p0, size0, p1, size1, p2, size2, col, sink);
        stamp(sink, x3, y3, size3, col);
        return;
    }
    if (l12 < BRUSH_SHORT_SEGMENT) {
        stamp(sink, x1, y1, size1, col);
        brush_line(p2, size2, p3, size3, col, 1, sink);
        return;
    }
    int style = strokeStyle(l23, size2, direction_degrees(d23), 1);
    if (direction_cosine(d12, d23) < BRUSH_SHARP_COS_LAST || style == 1 || style == 2 ||
        style == 3) {
        draw_curve3_last(p0, size0, p1, size1, p2, size2, col, sink);
        brush_line(p2, size2, p3, size3, col, 1, sink);
        return;
    }
    brushLine2(x1, y1, size1, x2, y2, size2, x3, y3, size3, r, g, b, sink);
}

void paint_by_brush(int tid, int last_stroke, dab_sink sink) {
    if (!valid_tid(tid)) {
        return;
    }
    const turtle &t = ttl[tid];
    const auto &p = t.pos;
    const auto &w = t.width;  // the size of point k is w[k + 1]
    int n = t.nstroke;
    if (last_stroke == 0) {
        if (n <= BRUSH_STEPS_BEFORE_PAINT) {
            return;
        }
        const color &c = t.col[4];
        if (n == 4) {
            drawCurve3(p[3].x, p[3].y, w[4], p[2].x, p[2].y, w[3], p[1].x, p[1].y, w[2], c.r, c.g,
                       c.b, sink);
        } else {
            drawCurve4(p[4].x, p[4].y, w[5], p[3].x, p[3].y, w[4], p[2].x, p[2].y, w[3], p[1].x,
                       p[1].y, w[2], c.r, c.g, c.b, sink);
        }
        return;
    }
    if (n >= 4) {
        const color &c = t.col[4];
        brushLine3(p[3].x, p[3].y, w[4], p[2].x, p[2].y, w[3], p[1].x, p[1].y, w[2], p[0].x, p[0].y,
                   w[1], c.r, c.g, c.b, sink);
    } else if (n == 3) {
        const color &c = t.col[3];
        brushLine2(p[2].x, p[2].y, w[3], p[1].x, p[1].y, w[2], p[0].x, p[0].y, w[1], c.r, c.g, c.b,
                   sink);
    } else {
        const color &c = t.col[2];
        brushLine(p[1].x, p[1].y, w[2], p[0].x, p[0].y, w[1], c.r, c.g, c.b, last_stroke, sink);
    }
}
