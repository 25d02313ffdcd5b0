// unit_coinmap.cpp: coin grid cells, buckets and the neighbour search.
#include <limits>

#include "geofunc.h"
#include "kelpmoor.h"
#include "support.h"
#include "turtle.h"

namespace {

void drop_coin(int i, double x, double y) {
    coins[i] = coin{i, {x, y}, -1, nullptr, 0};
    add_coin_to_map(i);
}

// Stands turtle 0 at (x, y); returns how many coins are near it, the nearest in *nearest.
int near_coins_at(double x, double y, int *nearest) {
    init_turtle(0, 0, x, y, 0);
    ntmax = 1;
    *nearest = 99;
    return count_neighbor_coin_in_map(0, nearest);
}

struct CoinMap : ::testing::Test {
    void SetUp() override { reset_world(); init_coinmap(); }
};

}  // namespace

TEST(CoinCell, BordersAndClamping) {
    constexpr double inf = std::numeric_limits<double>::infinity();
    const double v[] = {-224.000001, -224, -0.000001, 255.999, -270, 256, 1e300, inf, -inf,
                        std::numeric_limits<double>::quiet_NaN()};
    const int cell[] = {0, 1, 7, 15, 0, 15, 15, 15, 0, 0};
    for (int i = 0; i < 10; ++i) EXPECT_EQ(coin_cell(v[i]), cell[i]) << v[i];
}

TEST_F(CoinMap, RemovingTheMiddleAndTheHeadKeepsTheBucketLinked) {
    drop_coin(3, 10, 10);
    drop_coin(1, 11, 11);
    drop_coin(2, 12, 12);
    ASSERT_TRUE(coinmap[8][8] == &coins[3] && coins[3].coinp == &coins[1] &&
                coins[1].coinp == &coins[2]);
    remove_coin_from_map(1);
    EXPECT_TRUE(coinmap[8][8] == &coins[3] && coins[3].coinp == &coins[2] && !coins[1].coinp);
    remove_coin_from_map(3);
    EXPECT_TRUE(coinmap[8][8] == &coins[2] && !coins[3].coinp);
    remove_coin_from_map(2);
    EXPECT_EQ(coinmap[8][8], nullptr);
}

TEST_F(CoinMap, NearMeansStrictlyBelowTwentyAcrossCellBorders) {
    drop_coin(0, 19.9, 0);
    drop_coin(1, 0, 20.0);
    drop_coin(2, -12, -16);  // exactly 20
    int nearest;
    EXPECT_EQ(near_coins_at(0, 0, &nearest), 1);
    EXPECT_EQ(nearest, 0);

    drop_coin(7, -230, 5);   // cell 0, 6 from the turtle on the border of cells 0 and 1
    drop_coin(8, -220, 4);   // cell 1, about 4.1 away: the nearest
    drop_coin(9, -210, 5);   // cell 1, 14 away
    drop_coin(10, -190, 5);  // cell 2, 34 away
    EXPECT_EQ(near_coins_at(-224, 5, &nearest), 3);
    EXPECT_EQ(nearest, 8);
}

TEST_F(CoinMap, FarOutCoordinatesAreClampedOntoTheGrid) {
    int nearest;
    EXPECT_EQ(near_coins_at(-250, -250, &nearest), 0);
    EXPECT_EQ(nearest, -1);
    drop_coin(0, 5000, -1e9);
    EXPECT_EQ(coinmap[15][0], &coins[0]);
    EXPECT_EQ(near_coins_at(5005, -1e9, &nearest), 1);
    EXPECT_EQ(nearest, 0);
    // Sharing the corner cell is not being near.
    drop_coin(1, 250, -250);
    EXPECT_EQ(near_coins_at(1e300, -1e300, &nearest), 0);
    remove_coin_from_map(0);
    EXPECT_EQ(coinmap[15][0], &coins[1]);
}
