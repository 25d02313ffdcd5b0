// coins.cpp: the coin treasury and its operations, the coin-nearby event, and the coin grid:
// per 32 x 32 cell, a list of the coins lying there, for the nearest-coin search.
#include "world/coins.h"

#include "world/geometry.h"

namespace {

inline constexpr double COIN_NEAR_DIST2 = 400.0;  // squared reach of "near a coin"

bool on_field(const coin &c) { return (c.status & COIN_ON_FIELD) != 0; }

// The highest order among the coins on the field, -1 when there is none.
int top_order() {
    int top = -1;
    for (int c = 0; c < ncoin; c++) {
        if (on_field(coins[c]) && coins[c].order > top) top = coins[c].order;
    }
    return top;
}

void lay_coin(int c, position at, int order) {
    coins[c].pos = at;
    coins[c].status |= COIN_ON_FIELD;
    coins[c].order = order;
    add_coin_to_map(c);
    if (c + 1 > ncoin) ncoin = c + 1;
}

}  // namespace

std::array<std::array<coin *, COINMAP_SIZE>, COINMAP_SIZE> coinmap{};

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
    if (!valid_tid(tid)) {
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

// ---- Treasury ----

void reset_coin() {
    init_coinmap();
    for (int c = 0; c < NCOIN; c++) coins[c] = coin{c, {0.0, 0.0}, -1, nullptr, 0};
    for (auto &t : ttl) t.ncoin = 0;
    stock_of_coin = COIN_TREASURY;
    ncoin = 0;
}

int field_scatter_coin(int nc) {
    if (stock_of_coin <= 0) return -1;
    int top = top_order();
    int placed = 0;
    for (int c = 0; c < NCOIN && placed < nc && stock_of_coin > 0; c++) {
        if (on_field(coins[c])) continue;
        const double x = COIN_SCATTER_SPREAD * (drand() - 0.5);  // x is drawn first
        const double y = COIN_SCATTER_SPREAD * (drand() - 0.5);
        lay_coin(c, {x, y}, ++top);
        stock_of_coin--;
        placed++;
    }
    return 0;
}

int turtle_pick_coin(int tid) {
    if (!valid_tid(tid)) return -1;
    int c = -1;
    count_neighbor_coin_in_map(tid, &c);
    if (c < 0) return 0;
    const int o = coins[c].order;
    remove_coin_from_map(c);  // while pos still names its cell
    coins[c].status &= ~COIN_ON_FIELD;
    coins[c].order = -1;
    ttl[tid].ncoin++;
    for (int k = 0; k < ncoin; k++) {
        if (on_field(coins[k]) && coins[k].order > o) coins[k].order--;
    }
    return 0;
}

int turtle_drop_coin(int tid) {
    if (!valid_tid(tid) || ttl[tid].ncoin <= 0) return -1;
    int slot = 0;
    while (slot < ncoin && on_field(coins[slot])) slot++;
    if (slot >= NCOIN) return -1;
    lay_coin(slot, ttl[tid].pos[0], top_order() + 1);
    ttl[tid].ncoin--;
    return 0;
}

int turtle_borrow_coin(int tid) {
    if (!valid_tid(tid) || stock_of_coin < COIN_LOAN) return -1;
    ttl[tid].ncoin += COIN_LOAN;
    stock_of_coin -= COIN_LOAN;
    return 0;
}

int qt_my_coin(int tid, int *nc) {
    *nc = valid_tid(tid) ? ttl[tid].ncoin : 0;
    return valid_tid(tid) ? 0 : -1;
}

int qt_n_coin(int tid, int *nc) {
    int nearest = -1;
    *nc = count_neighbor_coin_in_map(tid, &nearest);
    return valid_tid(tid) ? 0 : -1;
}

void update_coin_event() {
    constexpr uint32_t NO_COIN_EVENT = ST_ZOMBIE | ST_SYSTEM | ST_STONE | ST_DOUGHNUT;
    for (int t = 0; t < NTURTLE; t++) {
        turtle &tu = ttl[t];
        if (!(tu.status & ST_ALIVE) || (tu.status & NO_COIN_EVENT)) continue;
        int nearest = -1;
        if (count_neighbor_coin_in_map(t, &nearest) <= 0) {
            tu.status &= ~ST_NEAR_COIN;
        } else if (!(tu.status & ST_NEAR_COIN)) {
            tu.event |= EV_COIN;
            tu.status |= ST_NEAR_COIN;
        }
    }
}
