// battle.h: drawing what the battle steps of a frame reported for one slot: bullet bodies and
// wall-impact bursts (opaque), and the translucent explosion fireballs and hit flashes.
// Main thread, inside the frame, with the window's GL context current.
#pragma once

#include "world/battle.h"

void draw_battle_bullet(const battle_draw &b);  // the bullet body and the burst, if any
// The fireball and the flash, if any, blended; blending is off afterwards.
void draw_battle_glow(const battle_draw &b);
