// geometry.h: distance geometry of discs, rays, points and segments, the coin grid's cells and
// the random source. Pure functions of their arguments (drand: of random()'s state); imports
// nothing from the rest of the program.
#pragma once

inline constexpr double PI = 3.141592653589793;
inline constexpr double NO_HIT_DISTANCE = 3.4028234663852886e38;  // largest float, as double
inline constexpr double BODY_RADIUS = 10.0;                       // a turtle's disc, against walls

// ---- Distance geometry (pure) ----
// How far a radius-10 disc at (xc, yc) can travel along angle (degrees) before touching the
// segment; NO_HIT_DISTANCE when it never does; negative when it already overlaps it.
double net_dist_to_lineseg(double xc, double yc, double angle, double x1, double y1, double x2,
                           double y2, double nx, double ny);
// Ray cast from (xc, yc) along angle to the segment, no body radius.
double dist_to_lineseg(double xc, double yc, double angle, double x1, double y1, double x2,
                       double y2, double nx, double ny);
double dist_lineseg_to_point(double x0, double y0, double x1, double y1, double px,
                             double py);  // to the nearest point of the segment, >= 0
// Foot (x2, y2) of (px, py) on the half-line from (x0, y0) through (x1, y1); *dist its
// distance from the foot, NO_HIT_DISTANCE when the foot lies behind (x0, y0).
void dist_halfline_to_point(double x0, double y0, double x1, double y1, double px, double py,
                            double *x2, double *y2, double *dist);

// ---- Coin grid cells and random source ----
inline constexpr int COINMAP_SIZE = 16;  // cells per axis, 32 units each
int coin_cell(double v);                 // cell index of a coordinate, clamped into 0..15 (NaN: 0)
double drand();                          // random() / 2147483647.0, 0..1 both ends possible
