// coins.h: the coin grid: the coins lying on the field, listed by 32 x 32 cell.
// Called with frame_rendering_mutex held. No GL.
#pragma once

#include <array>

#include "world/geometry.h"
#include "world/world.h"

extern std::array<std::array<coin *, COINMAP_SIZE>, COINMAP_SIZE> coinmap;  // [ix][iy]
void init_coinmap();      // all buckets empty; coin records untouched
void add_coin_to_map(int coinid);       // to the tail of its cell's bucket; coinp must be null
void remove_coin_from_map(int coinid);  // unlinks it, coinp null; not in its bucket: nothing
// Coins closer than 20 to turtle tid; *nearest_coinid the nearest one's id, or -1.
int count_neighbor_coin_in_map(int tid, int *nearest_coinid);
