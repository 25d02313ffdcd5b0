// geofunc.cpp: distance geometry, the coin grid and drand, boundary walls, maze and stones.
#include "geofunc.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "kelpmoor.h"
#include "turtle.h"

namespace {

inline constexpr double DEGENERATE_LENGTH2 = 0.00001;  // squared length of a point-like segment
inline constexpr double COIN_CELL_SCALE = 0.03125;      // 1 / 32 units per cell
inline constexpr double COIN_NEAR_DIST2 = 400.0;        // squared reach of "near a coin"
inline constexpr double MAZE_CELL = 32.0;               // units between maze vertices
inline constexpr int MAZE_VERTICES = 17;                // per axis
inline constexpr int MAZE_ATTEMPTS = 6;                 // per vertex
inline constexpr double STONE_SPREAD = 492.0;           // stones lie within +-246
inline constexpr double STONE_CLEARANCE = 25.0;         // from slots and walls
inline constexpr int STONE_CANDIDATES = 10;

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

// ---- Coin grid and random source ----

std::array<std::array<coin *, COINMAP_SIZE>, COINMAP_SIZE> coinmap{};

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

void init_coinmap() {
    for (auto &column : coinmap) {
        column.fill(nullptr);
    }
}

void add_coin_to_map(int coinid) {
    if (coinid < 0 || coinid >= NCOIN) {
        return;
    }
    coin *c = &coins[coinid];
    coin **link = &coinmap[coin_cell(c->pos.x)][coin_cell(c->pos.y)];
    while (*link != nullptr) {
        link = &(*link)->coinp;
    }
    c->coinp = nullptr;
    *link = c;
}

void remove_coin_from_map(int coinid) {
    if (coinid < 0 || coinid >= NCOIN) {
        return;
    }
    coin *c = &coins[coinid];
    coin **link = &coinmap[coin_cell(c->pos.x)][coin_cell(c->pos.y)];
    while (*link != nullptr && *link != c) {
        link = &(*link)->coinp;
    }
    if (*link == c) {
        *link = c->coinp;
        c->coinp = nullptr;
    }
}

int count_neighbor_coin_in_map(int tid, int *nearest_coinid) {
    *nearest_coinid = -1;
    if (tid < 0 || tid >= NTURTLE) {
        return 0;
    }
    double x = ttl[tid].pos[0].x;
    double y = ttl[tid].pos[0].y;
    int ix = coin_cell(x);
    int iy = coin_cell(y);
    int count = 0;
    double best = NO_HIT_DISTANCE;
    for (int cy = iy - 1; cy <= iy + 1; ++cy) {
        for (int cx = ix - 1; cx <= ix + 1; ++cx) {
            if (cx < 0 || cx >= COINMAP_SIZE || cy < 0 || cy >= COINMAP_SIZE) {
                continue;
            }
            for (const coin *c = coinmap[cx][cy]; c != nullptr; c = c->coinp) {
                double ddx = c->pos.x - x;
                double ddy = c->pos.y - y;
                double d2 = ddx * ddx + ddy * ddy;
                if (d2 < COIN_NEAR_DIST2) {
                    ++count;
                    if (d2 < best) {
                        best = d2;
                        *nearest_coinid = c->id;
                    }
                }
            }
        }
    }
    return count;
}

double drand() { return static_cast<double>(random()) / 2147483647.0; }

// ---- Boundary walls, maze and stones ----

std::array<std::array<int, MAZE_VERTICES>, MAZE_VERTICES> maze_vertex{};

void generate_boundary_wall() {
    setup_wall(Xmax, Ymax, Xmin, Ymax, 0, -1, 0);
    setup_wall(Xmin, Ymax, Xmax, Ymax, 0, 1, WALL_BACK_FACE);
    setup_wall(Xmin, Ymin, Xmax, Ymin, 0, 1, 0);
    setup_wall(Xmax, Ymin, Xmin, Ymin, 0, -1, WALL_BACK_FACE);
    setup_wall(Xmin, Ymax, Xmin, Ymin, 1, 0, 0);
    setup_wall(Xmin, Ymin, Xmin, Ymax, -1, 0, WALL_BACK_FACE);
    setup_wall(Xmax, Ymin, Xmax, Ymax, -1, 0, 0);
    setup_wall(Xmax, Ymax, Xmax, Ymin, 1, 0, WALL_BACK_FACE);
}

namespace {

// One maze stick from vertex (x, y) to (x + dx, y + dy), front face and back face.
void gen_wall(int x, int y, int dx, int dy) {
    double x0 = Xmin + MAZE_CELL * x;
    double y0 = Ymin + MAZE_CELL * y;
    double x1 = Xmin + MAZE_CELL * (x + dx);
    double y1 = Ymin + MAZE_CELL * (y + dy);
    setup_wall(x0, y0, x1, y1, -dy, dx, 0);
    setup_wall(x1, y1, x0, y0, dy, -dx, WALL_BACK_FACE);
}

// Tries up to six random directions for the stick of vertex (x, y); ndir is 4 (any
// direction) or 3 (never downwards).
void knock_stick(int x, int y, int ndir) {
    static constexpr int DIRS[4][2] = {{-1, 0}, {1, 0}, {0, 1}, {0, -1}};
    for (int attempt = 0; attempt < MAZE_ATTEMPTS; ++attempt) {
        const int *d = DIRS[random() % ndir];
        int tx = x + d[0];
        int ty = y + d[1];
        if (tx < 0 || tx >= MAZE_VERTICES || ty < 0 || ty >= MAZE_VERTICES) {
            continue;
        }
        if (maze_vertex[x][y] != 0 && maze_vertex[tx][ty] != 0) {
            continue;
        }
        gen_wall(x, y, d[0], d[1]);
        ++maze_vertex[x][y];
        ++maze_vertex[tx][ty];
        return;
    }
}

}  // namespace

void generate_maze() {
    for (auto &column : maze_vertex) {
        column.fill(0);
    }
    for (int x = 1; x < MAZE_VERTICES - 1; ++x) {
        knock_stick(x, 1, 4);
    }
    for (int y = 2; y < MAZE_VERTICES - 1; ++y) {
        for (int x = 1; x < MAZE_VERTICES - 1; ++x) {
            knock_stick(x, y, 3);
        }
    }
    set_object_at(16, 16, ST_DOUGHNUT);
    set_object_at(-16, 16, ST_DOUGHNUT);
    set_object_at(16, -16, ST_DOUGHNUT);
    set_object_at(-16, -16, ST_DOUGHNUT);
}

void scatter_stone(int n) {
    for (int i = 0; i < n; ++i) {
        double x = 0.0;
        double y = 0.0;
        for (int k = 0; k < STONE_CANDIDATES; ++k) {
            x = (drand() - 0.5) * STONE_SPREAD;
            y = (drand() - 0.5) * STONE_SPREAD;
            if (dist_to_nn_from(-1, x, y) >= STONE_CLEARANCE &&
                dist_to_wall_from(x, y) >= STONE_CLEARANCE) {
                break;
            }
        }
        set_object_at(x, y, ST_STONE);
    }
}
