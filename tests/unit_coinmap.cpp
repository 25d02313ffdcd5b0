// unit_coinmap.cpp: coin grid cells, buckets, neighbour search, and drand.
#include <cmath>
#include <cstdlib>
#include <limits>

#include "geofunc.h"
#include "kelpmoor.h"
#include "support.h"
#include "turtle.h"

namespace {

// Puts coin i at (x, y) into the grid.
void drop_coin(int i, double x, double y) {
    coins[i].id = i;
    coins[i].pos = {x, y};
    coins[i].coinp = nullptr;
    add_coin_to_map(i);
}

void stand_turtle_at(double x, double y) {
    init_turtle(0, 0, x, y, 0);
    ntmax = 1;
}

class CoinMap : public ::testing::Test {
protected:
    void SetUp() override {
        reset_world();
        init_coinmap();
        for (int i = 0; i < NCOIN; ++i) {
            coins[i].coinp = nullptr;
        }
    }
};

}  // namespace

TEST(CoinCell, BordersAndClamping) {
    EXPECT_EQ(coin_cell(-224.000001), 0);
    EXPECT_EQ(coin_cell(-224.0), 1);
    EXPECT_EQ(coin_cell(-0.000001), 7);
    EXPECT_EQ(coin_cell(255.999), 15);
    // Outside the grid: clamped, never out of 0..15, and no integer overflow.
    EXPECT_EQ(coin_cell(-270.0), 0);
    EXPECT_EQ(coin_cell(256.0), 15);
    EXPECT_EQ(coin_cell(1e300), 15);
    EXPECT_EQ(coin_cell(std::numeric_limits<double>::infinity()), 15);
    EXPECT_EQ(coin_cell(std::numeric_limits<double>::quiet_NaN()), 0);
}

TEST_F(CoinMap, BucketKeepsInsertionOrderAndUnlinks) {
    drop_coin(3, 10, 10);
    drop_coin(1, 11, 11);
    drop_coin(2, 12, 12);
    coin *head = coinmap[8][8];
    ASSERT_EQ(head, &coins[3]);
    ASSERT_EQ(head->coinp, &coins[1]);
    ASSERT_EQ(head->coinp->coinp, &coins[2]);
    EXPECT_EQ(coins[2].coinp, nullptr);

    // Removing the middle leaves the other two linked.
    remove_coin_from_map(1);
    EXPECT_EQ(coinmap[8][8], &coins[3]);
    EXPECT_EQ(coins[3].coinp, &coins[2]);
    EXPECT_EQ(coins[1].coinp, nullptr);

    // Removing the head makes the next coin the head.
    remove_coin_from_map(3);
    EXPECT_EQ(coinmap[8][8], &coins[2]);
    EXPECT_EQ(coins[3].coinp, nullptr);

    remove_coin_from_map(2);
    EXPECT_EQ(coinmap[8][8], nullptr);
}

TEST_F(CoinMap, NearMeansStrictlyBelowTwenty) {
    stand_turtle_at(0, 0);
    drop_coin(0, 19.9, 0);
    drop_coin(1, 0, 20.0);
    drop_coin(2, -12, -16);  // exactly 20
    int nearest = 99;
    EXPECT_EQ(count_neighbor_coin_in_map(0, &nearest), 1);
    EXPECT_EQ(nearest, 0);
}

TEST_F(CoinMap, NearestIsReportedAcrossCells) {
    stand_turtle_at(-224, 5);  // on the border of cells 0 and 1
    drop_coin(7, -230, 5);     // cell 0, 6 away
    drop_coin(8, -220, 4);     // cell 1, about 4.1 away
    drop_coin(9, -210, 5);     // cell 1, 14 away
    drop_coin(10, -190, 5);    // cell 2, 34 away: scanned, not near
    int nearest = -1;
    EXPECT_EQ(count_neighbor_coin_in_map(0, &nearest), 3);
    EXPECT_EQ(nearest, 8);
}

TEST_F(CoinMap, EqualDistancesKeepTheFirstMetInScanOrder) {
    stand_turtle_at(0, 0);
    // Rows of cells are the outer loop: the coin in the lower row is met first.
    drop_coin(4, 0, 5);    // cell (8, 8)
    drop_coin(6, 0, -5);   // cell (8, 7)
    int nearest = -1;
    EXPECT_EQ(count_neighbor_coin_in_map(0, &nearest), 2);
    EXPECT_EQ(nearest, 6);
}

TEST_F(CoinMap, EdgeCellsAndNoCoins) {
    stand_turtle_at(-250, -250);
    int nearest = 42;
    EXPECT_EQ(count_neighbor_coin_in_map(0, &nearest), 0);
    EXPECT_EQ(nearest, -1);
    drop_coin(0, -245, -240);
    drop_coin(1, 250, 250);
    EXPECT_EQ(count_neighbor_coin_in_map(0, &nearest), 1);
    EXPECT_EQ(nearest, 0);

    stand_turtle_at(255, 255);
    EXPECT_EQ(count_neighbor_coin_in_map(0, &nearest), 1);
    EXPECT_EQ(nearest, 1);
}

TEST_F(CoinMap, FarOutsideTheFieldStaysOnTheGrid) {
    // A coin dropped far outside is filed in an edge cell and found by a turtle standing by it.
    drop_coin(0, 5000, -1e9);
    EXPECT_EQ(coinmap[15][0], &coins[0]);
    stand_turtle_at(5005, -1e9);
    int nearest = -1;
    EXPECT_EQ(count_neighbor_coin_in_map(0, &nearest), 1);
    EXPECT_EQ(nearest, 0);

    // A turtle far out is not near a coin at the field's corner, though they share a cell.
    drop_coin(1, 250, -250);
    stand_turtle_at(1e300, -1e300);
    EXPECT_EQ(count_neighbor_coin_in_map(0, &nearest), 0);
    EXPECT_EQ(nearest, -1);

    remove_coin_from_map(0);
    EXPECT_EQ(coinmap[15][0], &coins[1]);
}

TEST(Drand, IsRandomOverTwoToTheThirtyOneMinusOne) {
    srandom(12345);
    long r1 = random();
    long r2 = random();
    srandom(12345);
    EXPECT_EQ(drand(), static_cast<double>(r1) / 2147483647.0);
    EXPECT_EQ(drand(), static_cast<double>(r2) / 2147483647.0);
    double lo = 1.0, hi = 0.0;
    for (int i = 0; i < 10000; ++i) {
        double v = drand();
        ASSERT_GE(v, 0.0);
        ASSERT_LE(v, 1.0);
        lo = std::fmin(lo, v);
        hi = std::fmax(hi, v);
    }
    EXPECT_LT(lo, 0.01);
    EXPECT_GT(hi, 0.99);
}
