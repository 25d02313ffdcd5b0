// unit_geofunc.cpp: the coin treasury (the stack through scatter, pick and drop; the bank, a
// full table and resets; the coin-nearby event); coin grid cells, buckets and the neighbour
// search; maze generation.
#include <array>
#include <limits>

#include "support.h"
#include "world/coins.h"
#include "world/geometry.h"
#include "world/maze.h"

namespace {

void drop_coin(int i, double x, double y) {
    coins[i] = coin{i, {x, y}, -1, nullptr, 0};
    add_coin_to_map(i);
}

// Stands turtle 0 at (x, y): how many coins are near it, and the nearest.
std::pair<int, int> near_coins_at(double x, double y) {
    place(0, x, y);
    int nearest = 99;
    const int n = count_neighbor_coin_in_map(0, &nearest);
    return {n, nearest};
}

// Grid index of a maze coordinate, or -1 when it is not on a vertex.
int vertex_index(double v, double min) {
    double k = (v - min) / 32.0;
    return (k != std::floor(k) || k < 0 || k > 16) ? -1 : static_cast<int>(k);
}

std::vector<int> orders() {  // by coin slot, -1 for a slot not on the field
    std::vector<int> o;
    for (int c = 0; c < ncoin; c++) {
        o.push_back(coins[c].status & COIN_ON_FIELD ? coins[c].order : -1);
    }
    return o;
}

}  // namespace

TEST(Coins, StackBankFullTableAndResets) {
    srandom(5);
    ASSERT_TRUE(field_scatter_coin(1) == 0 && field_scatter_coin(2) == 0);
    EXPECT_TRUE(stock_of_coin == 297 && orders() == (std::vector<int>{0, 1, 2}));
    place(0, coins[0].pos.x + 5, coins[0].pos.y - 5);  // the coin of order 0 is the nearest
    int held = -1, near = -1, n = -1;
    qt_n_coin(0, &near);
    EXPECT_TRUE(turtle_pick_coin(0) == 0 && qt_my_coin(0, &held) == 0 && held == 1);
    EXPECT_TRUE(qt_n_coin(0, &n) == 0 && n == near - 1 && orders() == (std::vector<int>{-1, 0, 1}));
    // A drop takes the lowest free slot, lies exactly under the turtle, on top of the stack.
    EXPECT_TRUE(turtle_drop_coin(0) == 0 && orders() == (std::vector<int>{2, 0, 1}));
    EXPECT_TRUE(coins[0].pos == ttl[0].pos[0] && turtle_drop_coin(0) == -1);

    // The bank: loans of ten, scattering stops when it is empty.
    EXPECT_TRUE(turtle_borrow_coin(0) == 0 && ttl[0].ncoin == 10 && stock_of_coin == 287);
    EXPECT_TRUE(field_scatter_coin(NCOIN) == 0 && stock_of_coin == 0 && ncoin == 290);
    EXPECT_TRUE(field_scatter_coin(1) == -1 && turtle_borrow_coin(0) == -1);
    for (int k = 0; k < 10; k++) ASSERT_EQ(turtle_drop_coin(0), 0) << k;
    ttl[0].ncoin = 1;  // only by hand: with 300 coins down none is left to hold
    EXPECT_TRUE(turtle_drop_coin(0) == -1 && ttl[0].ncoin == 1);

    field_kill_all_turtles();  // every coin back in the bank
    EXPECT_TRUE(stock_of_coin == NCOIN && ncoin == 0 && ttl[0].ncoin == 0);
    place(0, 0, 0);
    ttl[0].ncoin = 5;  // a reset turtle loses what it held
    EXPECT_TRUE(turtle_reset(0, 0) == 0 && ttl[0].ncoin == 0 && stock_of_coin == NCOIN);
}

TEST(Coins, EventOncePerApproachOnlyForClientTurtles) {
    coins[0] = coin{0, {0, 0}, 0, nullptr, COIN_ON_FIELD};
    add_coin_to_map(0);
    ncoin = 1;
    place(0, 10, 0);
    const uint32_t kinds[] = {ST_SYSTEM, ST_STONE, ST_DOUGHNUT | ST_SYSTEM, ST_ZOMBIE};
    for (int k = 0; k < 4; k++) place(k + 1, -10 + 5 * k, 12, 0, kinds[k]);
    for (int i = 0; i < 3; i++) update_coin_event();
    for (int t = 0; t < 5; t++) EXPECT_EQ(turtle_get_and_reset_eventcode(t), t ? 0u : EV_COIN);
    update_coin_event();  // still near: nothing new
    EXPECT_EQ(turtle_get_and_reset_eventcode(0), 0u);
    for (const double x : {40.0, 19.9}) {  // away for a frame, and back
        ttl[0].pos[0] = {x, 0};
        update_coin_event();
    }
    EXPECT_EQ(turtle_get_and_reset_eventcode(0), EV_COIN);
}

TEST(CoinMap, CellsBucketsAndTheNeighbourSearch) {
    constexpr double inf = std::numeric_limits<double>::infinity();
    const double v[] = {
        -224.000001, -224,  -0.000001, 255.999, -270,
        256,         1e300, inf,       -inf,    std::numeric_limits<double>::quiet_NaN()};
    const int cell[] = {0, 1, 7, 15, 0, 15, 15, 15, 0, 0};
    for (int i = 0; i < 10; ++i) EXPECT_EQ(coin_cell(v[i]), cell[i]) << v[i];

    // Removing the middle and the head keeps a bucket linked.
    init_coinmap();
    for (int c : {3, 1, 2}) drop_coin(c, 10 + c, 10);  // all in cell (8, 8), in this order
    ASSERT_TRUE(coinmap[8][8] == &coins[3] && coins[3].coinp == &coins[1] &&
                coins[1].coinp == &coins[2]);
    remove_coin_from_map(1);
    EXPECT_TRUE(coinmap[8][8] == &coins[3] && coins[3].coinp == &coins[2] && !coins[1].coinp);
    remove_coin_from_map(3);
    EXPECT_TRUE(coinmap[8][8] == &coins[2] && !coins[3].coinp);
    remove_coin_from_map(2);
    EXPECT_EQ(coinmap[8][8], nullptr);

    // Near means strictly below 20, across cell borders.
    EXPECT_EQ(near_coins_at(0, 0), std::pair(0, -1));
    drop_coin(0, 19.9, 0);
    drop_coin(1, 0, 20.0);
    drop_coin(2, -12, -16);  // exactly 20
    EXPECT_EQ(near_coins_at(0, 0), std::pair(1, 0));

    drop_coin(7, -230, 5);   // cell 0, 6 from the turtle on the border of cells 0 and 1
    drop_coin(8, -220, 4);   // cell 1, about 4.1 away: the nearest
    drop_coin(9, -210, 5);   // cell 1, 14 away
    drop_coin(10, -190, 5);  // cell 2, 34 away
    EXPECT_EQ(near_coins_at(-224, 5), std::pair(3, 8));

    // Far-out coordinates are clamped onto the grid; sharing the corner cell is not being near.
    drop_coin(20, 5000, -1e9);
    drop_coin(21, 250, -250);
    EXPECT_EQ(coinmap[15][0], &coins[20]);
    EXPECT_EQ(near_coins_at(5005, -1e9), std::pair(1, 20));
    EXPECT_EQ(near_coins_at(1e300, -1e300).first, 0);
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
            EXPECT_TRUE(b.status == WALL_BACK_FACE && b.startp == f.endp && b.endp == f.startp &&
                        b.normal == (position{-f.normal.x, -f.normal.y}))
                << "back face of " << i;
            EXPECT_EQ(++starts[x0][y0], 1) << "two sticks from one vertex";
            ++touches[x0][y0];
            ++touches[x1][y1];
        }
        EXPECT_EQ(maze_vertex, touches);  // sticks per vertex
        // Four doughnuts around the centre, nothing else.
        auto alive = [](const turtle &t) { return (t.status & ST_ALIVE) != 0; };
        EXPECT_EQ(std::count_if(ttl.begin(), ttl.end(), alive), 4);
        const position at[4] = {{16, 16}, {-16, 16}, {16, -16}, {-16, -16}};
        for (int k = 0; k < 4; ++k) {
            EXPECT_TRUE(ttl[k].status == (ST_DOUGHNUT | ST_ALIVE) && ttl[k].pos[0] == at[k]) << k;
        }
    }
}
