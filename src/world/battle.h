// battle.h: the battle rules: firing, bullet flight and the target search, hits and scores,
// the explosion and hit-flash countdowns, and the robots' steps.
// Firing runs on the command server thread (a client's X) or inside a frame (a robot's shot);
// the per-frame steps run on the main thread inside a frame. Callers hold
// frame_rendering_mutex. No GL: each step reports in a battle_draw what the frame must draw.
#pragma once

#include "world/world.h"

// ---- Constants: speeds and durations count frames ----
inline constexpr double BULLET_SPEED = 2.0;            // field units per frame along bheading
inline constexpr double HIT_RADIUS2 = 100.0;           // squared: bullet point to target centre
inline constexpr int SHOT_COST = 1;                    // points
inline constexpr int HIT_REWARD = 11;                  // points to the shooter
inline constexpr int HIT_LOSS = 30;                    // points from the target
inline constexpr double DOUGHNUT_REWARD_RANGE = 40.0;  // shooter centre to doughnut centre
inline constexpr int EXPLOSION_FRAMES = 50;
inline constexpr int FIREBALL_LAST_TTL = 35;  // the fireball shows while ttl > 35
inline constexpr int HIT_FLASH_FRAMES = 25;
inline constexpr double ROBOT_STEP = 0.15;                // field units per frame
inline constexpr double ROBOT_MARGIN = 10.0;              // inside each field bound
inline constexpr double ROBOT_WALL_TURN_SPREAD = 100.0;   // degrees, -50..50 at the margin
inline constexpr double ROBOT_TURN_AROUND = 180.0;        // degrees, after a refused step
inline constexpr double ROBOT_TURN_AROUND_SPREAD = 10.0;  // degrees, +-5
inline constexpr double ROBOT_FIRE_CHANCE = 0.002;        // per frame

// What one slot's battle steps of this frame leave for the frame to draw. Each step fills its
// own part; a default-constructed value draws nothing.
struct battle_draw {
    bool bullet = false;  // bullet body at bullet_at
    position bullet_at{};
    bool burst = false;  // wall-impact burst at burst_at, in this frame only
    position burst_at{};
    int explosion_ttl = 0;  // countdown before this frame's explosion step, 50..1; 0 = none
    position explosion_at{};
    int flash_bttf = 0;  // countdown before this frame's hit-flash step, 25..1; 0 = none
    position flash_at{};

    bool fireball() const { return explosion_ttl > FIREBALL_LAST_TTL; }
    double flash_alpha() const { return flash_bttf / static_cast<double>(HIT_FLASH_FRAMES); }
};

// ---- Commands and queries ----
int turtle_fire(int tid);  // 0 fired, or nothing while a bullet or flash runs; -1 refused
int is_hit_by_bullet(int tid, double x, double y);  // 1: live, not exploding, within 10
void start_to_kill(int tid);                        // ttl = 50 unless already exploding

// ---- Per-frame steps, in the frame's order for one slot ----
// A slot with ST_BULLET, in use or not: the bullet moves 2 units, ends at a wall or the
// field's edge, and hits the first slot within reach of its new point.
void bullet_step(int tid, battle_draw &out);
// A live slot with ttl > 0: the countdown; at 0 the slot is freed and its client disconnected.
void explosion_step(int tid, battle_draw &out);
// A live slot with bttf > 0: the flash fades over 25 frames.
void hit_flash_step(int tid, battle_draw &out);
// A live robot (ST_SYSTEM without ST_DOUGHNUT): a 0.15 step inside the margin, turns at the
// margin and after a refused step, and now and then a shot. Anything else: nothing.
void update_robot(int tid);
