// coins.cpp: the coin grid: per 32 x 32 cell, a list of the coins lying there, for the
// nearest-coin search.
#include "world/coins.h"

#include "world/geometry.h"

namespace {

inline constexpr double COIN_NEAR_DIST2 = 400.0;  // squared reach of "near a coin"

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


