// unit_coins.cpp: the coin treasury: scatter, pick, drop and borrow keep the stack dense and
// the coins counted; resets; the coin-nearby event.
#include "world/coins.h"
#include "support.h"

namespace {

// The orders of the coins on the field, by slot (-1 for a slot not on the field).
std::vector<int> orders() {
    std::vector<int> o;
    for (int c = 0; c < ncoin; c++) {
        o.push_back(coins[c].status & COIN_ON_FIELD ? coins[c].order : -1);
    }
    return o;
}

int coins_on_field() {
    int n = 0;
    for (int c = 0; c < NCOIN; c++) n += (coins[c].status & COIN_ON_FIELD) ? 1 : 0;
    return n;
}

int near(int tid) {
    int n = -1;
    EXPECT_EQ(qt_n_coin(tid, &n), 0);
    return n;
}

int held(int tid) {
    int n = -1;
    EXPECT_EQ(qt_my_coin(tid, &n), 0);
    return n;
}

}  // namespace

TEST(Coins, TheStackStaysDenseThroughScatterPickAndDrop) {
    srandom(5);
    ASSERT_EQ(field_scatter_coin(1), 0);
    EXPECT_TRUE(stock_of_coin == 299 && orders() == std::vector<int>{0});
    ASSERT_EQ(field_scatter_coin(2), 0);
    EXPECT_TRUE(stock_of_coin == 297 && orders() == (std::vector<int>{0, 1, 2}));
    for (int c = 0; c < 3; c++) {
        EXPECT_LE(std::fabs(coins[c].pos.x), 246.0);
        EXPECT_LE(std::fabs(coins[c].pos.y), 246.0);
    }

    place(0, coins[0].pos.x + 5, coins[0].pos.y - 5);  // the coin of order 0 is within reach
    place(1, 300, 300);                                 // nothing near
    EXPECT_EQ(near(1), 0);
    EXPECT_EQ(turtle_pick_coin(1), 0);
    EXPECT_TRUE(held(1) == 0 && orders() == (std::vector<int>{0, 1, 2}));
    const int before = near(0);
    int nearest = -1;
    count_neighbor_coin_in_map(0, &nearest);
    ASSERT_TRUE(before >= 1 && nearest == 0);
    EXPECT_EQ(turtle_pick_coin(0), 0);
    EXPECT_EQ(near(0), before - 1);
    EXPECT_EQ(held(0), 1);
    EXPECT_EQ(orders(), (std::vector<int>{-1, 0, 1}));
    EXPECT_EQ(stock_of_coin, 297);  // picking does not touch the bank

    // The dropped coin takes the lowest free slot, lies exactly under the turtle, on top.
    EXPECT_EQ(turtle_drop_coin(0), 0);
    EXPECT_TRUE(held(0) == 0 && orders() == (std::vector<int>{2, 0, 1}));
    EXPECT_EQ(coins[0].pos, ttl[0].pos[0]);
    EXPECT_EQ(turtle_drop_coin(0), -1);  // none held
    count_neighbor_coin_in_map(0, &nearest);
    EXPECT_EQ(nearest, 0);  // and it is filed in the grid again
}

TEST(Coins, BankLoansFullTableAndResets) {
    place(0, 0, 0);
    EXPECT_EQ(turtle_borrow_coin(0), 0);
    EXPECT_TRUE(held(0) == 10 && stock_of_coin == 290);

    // Scattering more than the bank holds stops when it is empty; then it refuses.
    EXPECT_EQ(field_scatter_coin(NCOIN), 0);
    EXPECT_TRUE(stock_of_coin == 0 && coins_on_field() == 290 && ncoin == 290);
    EXPECT_EQ(field_scatter_coin(1), -1);
    EXPECT_EQ(turtle_borrow_coin(0), -1);
    for (int k = 0; k < 10; k++) ASSERT_EQ(turtle_drop_coin(0), 0) << k;
    EXPECT_TRUE(held(0) == 0 && ncoin == NCOIN && coins_on_field() == NCOIN);
    std::vector<int> sorted = orders();
    std::sort(sorted.begin(), sorted.end());
    for (int i = 0; i < NCOIN; i++) ASSERT_EQ(sorted[i], i);

    ttl[0].ncoin = 1;  // only by hand: a full table leaves no coin to hold
    EXPECT_EQ(turtle_drop_coin(0), -1);
    EXPECT_EQ(held(0), 1);

    reset_coin();  // everything back in the bank, grid and purses empty
    EXPECT_TRUE(stock_of_coin == NCOIN && ncoin == 0 && coins_on_field() == 0 && held(0) == 0 &&
                near(0) == 0);
    stock_of_coin = 9;
    EXPECT_EQ(turtle_borrow_coin(0), -1);
    EXPECT_TRUE(held(0) == 0 && stock_of_coin == 9);

    stock_of_coin = NCOIN;
    ttl[0].ncoin = 5;  // a reset turtle loses what it held; the bank does not get it back
    EXPECT_EQ(turtle_reset(0, 0), 0);
    EXPECT_TRUE(held(0) == 0 && stock_of_coin == NCOIN);
}

TEST(Coins, EventOncePerApproachOnlyForClientTurtles) {
    coins[0] = coin{0, {0, 0}, 0, nullptr, COIN_ON_FIELD};
    add_coin_to_map(0);
    ncoin = 1;
    place(0, 10, 0);                      // a client's turtle
    place(1, -10, 0, 0, ST_SYSTEM);       // a robot
    place(2, 0, 10, 0, ST_STONE);
    place(3, 0, -10, 0, ST_DOUGHNUT | ST_SYSTEM);
    place(4, 12, 12, 0, ST_ZOMBIE);
    const auto frames = [](int n) {
        for (int i = 0; i < n; i++) update_coin_event();
    };
    frames(3);
    for (int t = 0; t < 5; t++) {
        EXPECT_EQ(turtle_get_and_reset_eventcode(t), t == 0 ? EV_COIN : 0u) << t;
    }
    frames(3);  // standing still: once only
    EXPECT_EQ(turtle_get_and_reset_eventcode(0), 0u);
    ttl[0].pos[0] = {40, 0};
    frames(1);
    ttl[0].pos[0] = {19.9, 0};
    frames(2);
    EXPECT_EQ(turtle_get_and_reset_eventcode(0), EV_COIN);
}
