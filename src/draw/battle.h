// battle.h: drawing what the battle steps of a frame reported for one slot: bullet bodies and
// wall-impact bursts (opaque), and the translucent explosion fireballs and hit flashes.
// Main thread, inside the frame, with the window's GL context current.
#pragma once

#include "world/battle.h"

void draw_battle_bullet(const battle_draw &b);  // the bullet body and the burst, if any
bool battle_has_glow(const battle_draw &b);     // a fireball or a flash to draw
// The fireball and the flash, blended; blending is off afterwards (also for the dying body
// that the frame drew blended before them).
void draw_battle_glow(const battle_draw &b);
