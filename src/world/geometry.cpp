// geometry.cpp: distances between discs, rays, points and segments; the coin grid's cells; the
// random source. Imports nothing from the rest of the program.
#include "world/geometry.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

inline constexpr double DEGENERATE_LENGTH2 = 0.00001;  // squared length of a point-like segment
inline constexpr double COIN_CELL_SCALE = 0.03125;     // 1 / 32 units per cell

double deg2rad(double angle) { return angle * PI / 180.0; }
// Hit distance of a radius-10 disc at C moving along u against the circle of radius 10 around
// the end point E; NO_HIT_DISTANCE when it never touches it.
double end_point_hit(double xc, double yc, double ux, double uy, double ex, double ey) {
    double cex = xc - ex;
    double cey = yc - ey;
    double b = 2.0 * (ux * cex + uy * cey);
    double disc = b * b - 4.0 * (cex * cex + cey * cey - BODY_RADIUS * BODY_RADIUS);
    if (disc <= 0.0) {
        return NO_HIT_DISTANCE;
    }
    double r = std::sqrt(disc);
    double near = (-b - r) / 2.0;
    if (near > 0.0) {
        return near;
    }
    double far = (r - b) / 2.0;
    if (far > 0.0) {
        return far;
    }
    return NO_HIT_DISTANCE;
}

}  // namespace

// ---- Distance geometry ----

double net_dist_to_lineseg(double xc, double yc, double angle, double x1, double y1, double x2,
                           double y2, double nx, double ny) {
    double a = deg2rad(angle);
    double ux = std::cos(a);
    double uy = std::sin(a);
    double nlen = std::hypot(nx, ny);
    if (!(nlen > 0.0)) {
        return NO_HIT_DISTANCE;
    }
    double f = (nx * ux + ny * uy) / nlen;
    if (!(f < 0.0)) {
        return NO_HIT_DISTANCE;
    }
    double dx = x2 - x1;
    double dy = y2 - y1;
    double len2 = dx * dx + dy * dy;
    if (len2 < DEGENERATE_LENGTH2) {
        return end_point_hit(xc, yc, ux, uy, x1, y1);
    }
    double cax = xc - x1;
    double cay = yc - y1;
    double det = ux * dy - uy * dx;
    if (det != 0.0) {
        double t = (dx * cay - dy * cax) / det;
        if (t > 0.0) {
            double s = (ux * cay - uy * cax) / det;
            double px = x1 + s * dx;
            double py = y1 + s * dy;
            double back = -BODY_RADIUS / f;
            double kx = px - back * ux - BODY_RADIUS * nx / nlen;
            double ky = py - back * uy - BODY_RADIUS * ny / nlen;
            double q = ((kx - x1) * dx + (ky - y1) * dy) / len2;
            if (q >= 0.0 && q <= 1.0) {
                return std::hypot(px - xc, py - yc) - back;
            }
        }
    }
    return std::min(end_point_hit(xc, yc, ux, uy, x1, y1), end_point_hit(xc, yc, ux, uy, x2, y2));
}

double dist_to_lineseg(double xc, double yc, double angle, double x1, double y1, double x2,
                       double y2, double nx, double ny) {
    double a = deg2rad(angle);
    double ux = std::cos(a);
    double uy = std::sin(a);
    if (!(ux * nx + uy * ny < 0.0)) {
        return NO_HIT_DISTANCE;
    }
    double dx = x2 - x1;
    double dy = y2 - y1;
    double cax = xc - x1;
    double cay = yc - y1;
    double det = -uy * dx + ux * dy;
    if (det == 0.0) {
        return NO_HIT_DISTANCE;  // parallel, or a point-like segment
    }
    double s = (-uy * cax + ux * cay) / det;
    double t = (dx * cay - dy * cax) / det;
    if (!(s >= 0.0 && s <= 1.0 && t >= 0.0)) {
        return NO_HIT_DISTANCE;
    }
    return std::hypot(x1 + s * dx - xc, y1 + s * dy - yc);
}

double dist_lineseg_to_point(double x0, double y0, double x1, double y1, double px, double py) {
    double dx = x1 - x0;
    double dy = y1 - y0;
    double len2 = dx * dx + dy * dy;
    if (len2 < DEGENERATE_LENGTH2) {
        return std::hypot(px - x0, py - y0);
    }
    double s = std::clamp(((px - x0) * dx + (py - y0) * dy) / len2, 0.0, 1.0);
    return std::hypot(px - (x0 + s * dx), py - (y0 + s * dy));
}

void dist_halfline_to_point(double x0, double y0, double x1, double y1, double px, double py,
                            double *x2, double *y2, double *dist) {
    double dx = x1 - x0;
    double dy = y1 - y0;
    double len2 = dx * dx + dy * dy;
    if (len2 < DEGENERATE_LENGTH2) {
        *x2 = x0;
        *y2 = y0;
        *dist = std::hypot(px - x0, py - y0);
        return;
    }
    double t = ((px - x0) * dx + (py - y0) * dy) / len2;
    *x2 = x0 + t * dx;
    *y2 = y0 + t * dy;
    *dist = t < 0.0 ? NO_HIT_DISTANCE : std::hypot(px - *x2, py - *y2);
}

// ---- Coin grid cells and random source ----

// Clamped in double precision first, so that no coordinate overflows the conversion.
int coin_cell(double v) {
    double c = std::trunc((v + 256.0) * COIN_CELL_SCALE);
    if (!(c >= 0.0)) {
        return 0;  // below the grid, or NaN
    }
    if (c > COINMAP_SIZE - 1) {
        return COINMAP_SIZE - 1;
    }
    return static_cast<int>(c);
}

double drand() { return static_cast<double>(random()) / 2147483647.0; }
