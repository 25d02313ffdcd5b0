// maze.cpp: field generation: the boundary walls, the maze and its doughnuts, scattered stones.
#include "world/maze.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "world/geometry.h"
#include "world/turtle.h"

namespace {

inline constexpr double MAZE_CELL = 32.0;        // units between maze vertices
inline constexpr int MAZE_ATTEMPTS = 6;          // per vertex
inline constexpr double STONE_SPREAD = 492.0;    // stones lie within +-246
inline constexpr double STONE_CLEARANCE = 25.0;  // from slots and walls
inline constexpr int STONE_CANDIDATES = 10;

}  // namespace

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
