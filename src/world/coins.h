// coins.h: the coin treasury (the bank, the coins on the field, the coins turtles hold) and
// the coin grid that lists the coins lying on the field by 32 x 32 cell.
// Called with frame_rendering_mutex held: on the command server thread (the O command and the
// C and O queries), or on the main thread in a frame (update_coin_event) or a kill-all.
// No GL.
#pragma once

#include <array>

#include "world/geometry.h"
#include "world/world.h"

extern std::array<std::array<coin *, COINMAP_SIZE>, COINMAP_SIZE> coinmap;  // [ix][iy]
void init_coinmap();                    // all buckets empty; coin records untouched
void add_coin_to_map(int coinid);       // to the tail of its cell's bucket; coinp must be null
void remove_coin_from_map(int coinid);  // unlinks it, coinp null; not in its bucket: nothing
// Coins closer than 20 to turtle tid; *nearest_coinid the nearest one's id, or -1.
int count_neighbor_coin_in_map(int tid, int *nearest_coinid);

// ---- Treasury ----
inline constexpr int COIN_TREASURY = NCOIN;  // bank + field + held, less what resets discard
inline constexpr int COIN_LOAN = 10;         // coins per borrow
inline constexpr double COIN_SCATTER_SPREAD = 492.0;  // scattered within +-246

void reset_coin();                 // every coin back in the bank, the grid and all purses empty
int field_scatter_coin(int nc);    // up to nc coins from the bank, stops when it is empty; 0,
                                   // or -1 when the bank was empty
int turtle_pick_coin(int tid);     // the nearest coin within reach, if any; 0
int turtle_drop_coin(int tid);     // on top of the stack at the turtle; 0, or -1 (none held,
                                   // coin table full)
int turtle_borrow_coin(int tid);   // 10 from the bank; 0, or -1 when it holds fewer
int qt_my_coin(int tid, int *nc);  // coins held; 0
int qt_n_coin(int tid, int *nc);   // coins within reach; 0
// Once per frame: event 32 for each client turtle that has just come within reach of a coin.
void update_coin_event();
