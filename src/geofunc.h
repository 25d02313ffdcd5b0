// geofunc.h: distance geometry, the coin grid and the random source, boundary walls, maze and
// stones. The geometry functions are pure; the rest works on the world tables, called with
// frame_rendering_mutex held (server thread, or the main thread in a frame or key action). No GL.
#pragma once

#include <array>

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

// ---- Coin grid and random source ----
inline constexpr int COINMAP_SIZE = 16;  // cells per axis, 32 units each
struct coin;
extern std::array<std::array<coin *, COINMAP_SIZE>, COINMAP_SIZE> coinmap;  // [ix][iy]
int coin_cell(double v);  // cell index of a coordinate, clamped into 0..15 (NaN: 0)
void init_coinmap();      // all buckets empty; coin records untouched
void add_coin_to_map(int coinid);       // to the tail of its cell's bucket; coinp must be null
void remove_coin_from_map(int coinid);  // unlinks it, coinp null; not in its bucket: nothing
// Coins closer than 20 to turtle tid; *nearest_coinid the nearest one's id, or -1.
int count_neighbor_coin_in_map(int tid, int *nearest_coinid);
double drand();  // random() / 2147483647.0, 0..1 both ends possible

// ---- Boundary walls, maze and stones ----
extern std::array<std::array<int, 17>, 17> maze_vertex;  // [x][y] wall count per vertex
void generate_boundary_wall();  // appends the 8 boundary records
void generate_maze();           // maze_vertex, up to 225 sticks (450 records), 4 doughnuts
void scatter_stone(int n);      // n attempts; a refused stone is not placed
