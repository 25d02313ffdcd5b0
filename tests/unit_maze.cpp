// unit_maze.cpp: boundary walls and maze generation.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>

#include "geofunc.h"
#include "kelpmoor.h"
#include "support.h"
#include "turtle.h"

namespace {

// Grid index of a maze coordinate, or -1 when it is not on a vertex.
int vertex_index(double v, double min) {
    double k = (v - min) / 32.0;
    return (k != std::floor(k) || k < 0 || k > 16) ? -1 : static_cast<int>(k);
}

}  // namespace

TEST(BoundaryWall, EightRecordsInOrderAfterReset) {
    reset_world();
    ASSERT_EQ(nwall, 8);
    const std::array<std::array<double, 6>, 8> e = {{
        {256, 256, -256, 256, 0, -1},  {-256, 256, 256, 256, 0, 1},
        {-256, -256, 256, -256, 0, 1}, {256, -256, -256, -256, 0, -1},
        {-256, 256, -256, -256, 1, 0}, {-256, -256, -256, 256, -1, 0},
        {256, -256, 256, 256, -1, 0},  {256, 256, 256, -256, 1, 0},
    }};
    for (int i = 0; i < 8; ++i) {
        const wall &w = walls[i];
        const std::array<double, 6> got = {w.startp.x, w.startp.y, w.endp.x,
                                           w.endp.y,   w.normal.x, w.normal.y};
        EXPECT_EQ(got, e[i]) << "wall " << i;
        EXPECT_EQ(w.status, i % 2 ? WALL_BACK_FACE : 0u) << i;  // front and back alternate
    }
}

TEST(Maze, InvariantsOverManySeeds) {
    for (unsigned seed = 1; seed <= 40; ++seed) {
        SCOPED_TRACE(seed);
        reset_world();
        srandom(seed);
        generate_maze();
        ASSERT_TRUE(nwall >= 8 && (nwall - 8) % 2 == 0 && nwall - 8 <= 450) << nwall;
        std::array<std::array<int, 17>, 17> touches{}, starts{};
        for (int i = 8; i < nwall; i += 2) {
            const wall &f = walls[i], &b = walls[i + 1];
            int x0 = vertex_index(f.startp.x, Xmin), y0 = vertex_index(f.startp.y, Ymin);
            int x1 = vertex_index(f.endp.x, Xmin), y1 = vertex_index(f.endp.y, Ymin);
            ASSERT_TRUE(x0 >= 0 && y0 >= 0 && x1 >= 0 && y1 >= 0) << "off the grid: " << i;
            int dx = x1 - x0, dy = y1 - y0;
            ASSERT_EQ(std::abs(dx) + std::abs(dy), 1) << "not one cell long: " << i;
            EXPECT_TRUE(x0 >= 1 && x0 <= 15 && y0 >= 1 && y0 <= 15) << "starts on the border";
            EXPECT_FALSE(y0 >= 2 && dy == -1) << "downward stick from row " << y0;
            // Front face: normal turned counter-clockwise; back face: the same stick reversed.
            EXPECT_TRUE(f.status == 0 && f.normal.x == -dy && f.normal.y == dx) << i;
            EXPECT_TRUE(b.status == WALL_BACK_FACE && b.startp.x == f.endp.x &&
                        b.startp.y == f.endp.y && b.endp.x == f.startp.x &&
                        b.endp.y == f.startp.y && b.normal.x == -f.normal.x &&
                        b.normal.y == -f.normal.y)
                << "back face of " << i;
            EXPECT_EQ(++starts[x0][y0], 1) << "two sticks from one vertex";
            ++touches[x0][y0];
            ++touches[x1][y1];
        }
        EXPECT_EQ(maze_vertex, touches);  // sticks per vertex
        // Four doughnuts around the centre, nothing else.
        auto alive = [](const turtle &t) { return (t.status & ST_ALIVE) != 0; };
        EXPECT_EQ(std::count_if(ttl.begin(), ttl.end(), alive), 4);
        const double at[4][2] = {{16, 16}, {-16, 16}, {16, -16}, {-16, -16}};
        for (int k = 0; k < 4; ++k) {
            EXPECT_TRUE(ttl[k].status == (ST_DOUGHNUT | ST_ALIVE) && ttl[k].pos[0].x == at[k][0] &&
                        ttl[k].pos[0].y == at[k][1])
                << "doughnut " << k;
        }
    }
}
