// unit_coins.cpp: the coin treasury: scatter, pick, drop and borrow keep the stack dense and
// the coins counted; resets; the coin-nearby event.
#include "world/coins.h"
#include "support.h"

namespace {

// The orders of coin slots 0 .. ncoin - 1, -1 for a slot not on the field.
std::vector<int> orders() {
    std::vector<int> o;
    for (int c = 0; c < ncoin; c++) {
        o.push_back(coins[c].status & COIN_ON_FIELD ? coins[c].order : -1);
    }
    return o;
}

std::pair<int, int> held_and_near(int tid) {
    int held = -1, near = -1;
    EXPECT_TRUE(qt_my_coin(tid, &held) == 0 && qt_n_coin(tid, &near) == 0);
    return {held, near};
}

}  // namespace

TEST(Coins, TheStackStaysDenseThroughScatterPickAndDrop) {
    srandom(5);
    ASSERT_TRUE(field_scatter_coin(1) == 0 && field_scatter_coin(2) == 0);
    EXPECT_TRUE(stock_of_coin == 297 && orders() == (std::vector<int>{0, 1, 2}));
    EXPECT_TRUE(std::fabs(coins[2].pos.x) <= 246.0 && std::fabs(coins[2].pos.y) <= 246.0);

    place(0, coins[0].pos.x + 5, coins[0].pos.y - 5);  // the coin of order 0 is the nearest
    place(1, 300, 300);
    EXPECT_TRUE(turtle_pick_coin(1) == 0 && held_and_near(1) == std::pair(0, 0));
    const int near = held_and_near(0).second;
    EXPECT_EQ(turtle_pick_coin(0), 0);
    EXPECT_EQ(held_and_near(0), std::pair(1, near - 1));
    EXPECT_TRUE(orders() == (std::vector<int>{-1, 0, 1}) && stock_of_coin == 297);

    // The dropped coin takes the lowest free slot, lies exactly under the turtle, on top.
    EXPECT_EQ(turtle_drop_coin(0), 0);
    EXPECT_TRUE(orders() == (std::vector<int>{2, 0, 1}) && coins[0].pos == ttl[0].pos[0]);
    EXPECT_EQ(held_and_near(0), std::pair(0, near));
    EXPECT_EQ(turtle_drop_coin(0), -1);  // none held
}

TEST(Coins, BankLoansAFullTableAndResets) {
    place(0, 0, 0);
    EXPECT_TRUE(turtle_borrow_coin(0) == 0 && held_and_near(0).first == 10);
    EXPECT_TRUE(field_scatter_coin(NCOIN) == 0 && stock_of_coin == 0 && ncoin == 290);
    EXPECT_TRUE(field_scatter_coin(1) == -1 && turtle_borrow_coin(0) == -1);
    for (int k = 0; k < 10; k++) ASSERT_EQ(turtle_drop_coin(0), 0) << k;
    std::vector<int> sorted = orders();
    std::sort(sorted.begin(), sorted.end());
    for (int i = 0; i < NCOIN; i++) ASSERT_EQ(sorted[i], i);
    ttl[0].ncoin = 1;  // only by hand: a full table leaves no coin to hold
    EXPECT_TRUE(turtle_drop_coin(0) == -1 && ttl[0].ncoin == 1);

    field_kill_all_turtles();  // every coin back in the bank
    place(0, 0, 0);
    EXPECT_TRUE(stock_of_coin == NCOIN && ncoin == 0 && held_and_near(0) == std::pair(0, 0));
    stock_of_coin = 9;
    EXPECT_TRUE(turtle_borrow_coin(0) == -1 && stock_of_coin == 9);
    ttl[0].ncoin = 5;  // a reset turtle loses what it held; the bank does not get it back
    EXPECT_TRUE(turtle_reset(0, 0) == 0 && ttl[0].ncoin == 0 && stock_of_coin == 9);
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
    update_coin_event();  // standing still: once only
    EXPECT_EQ(turtle_get_and_reset_eventcode(0), 0u);
    ttl[0].pos[0] = {40, 0};
    update_coin_event();
    ttl[0].pos[0] = {19.9, 0};
    update_coin_event();
    EXPECT_EQ(turtle_get_and_reset_eventcode(0), EV_COIN);
}
