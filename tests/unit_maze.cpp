// unit_maze.cpp: boundary walls, maze generation and stone scattering.
#include <cmath>
#include <cstdlib>
#include <map>
#include <utility>

#include "geofunc.h"
#include "kelpmoor.h"
#include "support.h"
#include "turtle.h"

namespace {

struct expected_wall {
    double x0, y0, x1, y1, nx, ny;
    uint32_t status;
};

void expect_wall(int i, const expected_wall &e) {
    SCOPED_TRACE(i);
    const wall &w = walls[i];
    EXPECT_EQ(w.startp.x, e.x0);
    EXPECT_EQ(w.startp.y, e.y0);
    EXPECT_EQ(w.endp.x, e.x1);
    EXPECT_EQ(w.endp.y, e.y1);
    EXPECT_EQ(w.normal.x, e.nx);
    EXPECT_EQ(w.normal.y, e.ny);
    EXPECT_EQ(w.status, e.status);
}

// Grid index of a maze coordinate, or -1 when it is not on a vertex.
int vertex_index(double v, double min) {
    double k = (v - min) / 32.0;
    if (k != std::floor(k) || k < 0 || k > 16) {
        return -1;
    }
    return static_cast<int>(k);
}

int alive_count() {
    int n = 0;
    for (int i = 0; i < NTURTLE; ++i) {
        n += (ttl[i].status & ST_ALIVE) ? 1 : 0;
    }
    return n;
}

}  // namespace

TEST(BoundaryWall, EightRecordsInOrderAfterReset) {
    reset_world();
    ASSERT_EQ(nwall, 8);
    const expected_wall e[8] = {
        {256, 256, -256, 256, 0, -1, 0},
        {-256, 256, 256, 256, 0, 1, WALL_BACK_FACE},
        {-256, -256, 256, -256, 0, 1, 0},
        {256, -256, -256, -256, 0, -1, WALL_BACK_FACE},
        {-256, 256, -256, -256, 1, 0, 0},
        {-256, -256, -256, 256, -1, 0, WALL_BACK_FACE},
        {256, -256, 256, 256, -1, 0, 0},
        {256, 256, 256, -256, 1, 0, WALL_BACK_FACE},
    };
    for (int i = 0; i < 8; ++i) {
        expect_wall(i, e[i]);
    }
}

TEST(Maze, InvariantsOverManySeeds) {
    for (unsigned seed = 1; seed <= 40; ++seed) {
        SCOPED_TRACE(seed);
        reset_world();
        srandom(seed);
        generate_maze();
        ASSERT_GE(nwall, 8);
        ASSERT_EQ((nwall - 8) % 2, 0);
        int sticks = (nwall - 8) / 2;
        EXPECT_LE(sticks, 225);

        std::map<std::pair<int, int>, int> touches;
        std::map<std::pair<int, int>, int> starts;
        for (int i = 8; i < nwall; i += 2) {
            const wall &f = walls[i];
            const wall &b = walls[i + 1];
            int x0 = vertex_index(f.startp.x, Xmin), y0 = vertex_index(f.startp.y, Ymin);
            int x1 = vertex_index(f.endp.x, Xmin), y1 = vertex_index(f.endp.y, Ymin);
            ASSERT_TRUE(x0 >= 0 && y0 >= 0 && x1 >= 0 && y1 >= 0) << "off the grid: " << i;
            int dx = x1 - x0, dy = y1 - y0;
            ASSERT_EQ(std::abs(dx) + std::abs(dy), 1) << "not one cell long: " << i;
            // Starts at an inner vertex.
            EXPECT_TRUE(x0 >= 1 && x0 <= 15 && y0 >= 1 && y0 <= 15);
            if (y0 >= 2) {
                EXPECT_NE(dy, -1) << "downward stick from row " << y0;
            }
            // Front face: normal turned counter-clockwise; back face reversed.
            EXPECT_EQ(f.status, 0u);
            EXPECT_EQ(f.normal.x, -dy);
            EXPECT_EQ(f.normal.y, dx);
            EXPECT_EQ(b.status, WALL_BACK_FACE);
            EXPECT_EQ(b.startp.x, f.endp.x);
            EXPECT_EQ(b.startp.y, f.endp.y);
            EXPECT_EQ(b.endp.x, f.startp.x);
            EXPECT_EQ(b.endp.y, f.startp.y);
            EXPECT_EQ(b.normal.x, -f.normal.x);
            EXPECT_EQ(b.normal.y, -f.normal.y);
            // At most one stick per starting vertex.
            EXPECT_EQ(++starts[std::make_pair(x0, y0)], 1);
            ++touches[{x0, y0}];
            ++touches[{x1, y1}];
        }
        // maze_vertex counts the sticks at each vertex.
        for (int x = 0; x <= 16; ++x) {
            for (int y = 0; y <= 16; ++y) {
                auto it = touches.find({x, y});
                EXPECT_EQ(maze_vertex[x][y], it == touches.end() ? 0 : it->second)
                    << x << "," << y;
            }
        }
        // Four doughnuts around the centre, nothing else.
        EXPECT_EQ(alive_count(), 4);
        const double at[4][2] = {{16, 16}, {-16, 16}, {16, -16}, {-16, -16}};
        for (int k = 0; k < 4; ++k) {
            EXPECT_EQ(ttl[k].status, ST_DOUGHNUT | ST_ALIVE);
            EXPECT_EQ(ttl[k].pos[0].x, at[k][0]);
            EXPECT_EQ(ttl[k].pos[0].y, at[k][1]);
        }
    }
}

TEST(Maze, DifferentSeedsGiveDifferentMazes) {
    reset_world();
    srandom(1);
    generate_maze();
    std::array<wall, NWALL> first = walls;
    int first_n = nwall;
    reset_world();
    srandom(2);
    generate_maze();
    bool differ = nwall != first_n;
    for (int i = 8; !differ && i < nwall; ++i) {
        differ = walls[i].startp.x != first[i].startp.x || walls[i].endp.y != first[i].endp.y ||
                 walls[i].endp.x != first[i].endp.x;
    }
    EXPECT_TRUE(differ);
}

TEST(Stones, KeepTheirDistanceOnAnOpenField) {
    reset_world();
    srandom(99);
    scatter_stone(8);
    EXPECT_EQ(alive_count(), 8);
    for (int i = 0; i < 8; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(ttl[i].status, ST_STONE | ST_ALIVE);
        EXPECT_EQ(ttl[i].cid, -1);
        EXPECT_LE(std::fabs(ttl[i].pos[0].x), 246.0);
        EXPECT_LE(std::fabs(ttl[i].pos[0].y), 246.0);
        EXPECT_GE(dist_to_wall_from(ttl[i].pos[0].x, ttl[i].pos[0].y), 10.0);
        // Each stone is more than 20 from every other (placement refuses closer).
        EXPECT_GT(dist_to_nn(i), 20.0);
    }
}

TEST(Stones, FullTablePlacesNothing) {
    reset_world();
    for (int i = 0; i < NTURTLE; ++i) {
        init_turtle(i, i, -200 + 13.0 * i, 100, 0);
    }
    ntmax = NTURTLE;
    auto before = ttl;
    scatter_stone(3);
    for (int i = 0; i < NTURTLE; ++i) {
        EXPECT_EQ(ttl[i].status, before[i].status);
        EXPECT_EQ(ttl[i].pos[0].x, before[i].pos[0].x);
    }
    EXPECT_EQ(ntmax, NTURTLE);
}
