// unit_coins.cpp: the coin treasury: the stack through scatter, pick and drop; the bank, a
// full table and resets; the coin-nearby event.
#include "support.h"
#include "world/coins.h"

namespace {

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
