// battle.cpp: firing, bullet flight and hits, the explosion and hit-flash countdowns, robots.
#include "world/battle.h"

#include <cmath>

#include "world/geometry.h"
#include "world/turtle.h"

namespace {

// Ends the bullet of `shooter` on `target`, which its point has reached.
void hit(int shooter, int target) {
    turtle &s = ttl[shooter];
    turtle &t = ttl[target];
    s.status &= ~ST_BULLET;
    if (t.status & ST_STONE) {
        s.bttf = HIT_FLASH_FRAMES;
    } else if (t.status & ST_DOUGHNUT) {
        // A freed shooter is infinitely far away and earns nothing.
        if (dist_t2t(shooter, target) < DOUGHNUT_REWARD_RANGE) s.score += HIT_REWARD;
        start_to_kill(target);
    } else {
        s.score += HIT_REWARD;
        t.score -= HIT_LOSS;
        t.event |= EV_HIT;
        if (t.score < 0) {
            t.score = 0;
            start_to_kill(target);
        } else {
            s.bttf = HIT_FLASH_FRAMES;
        }
    }
}

}  // namespace

int turtle_fire(int tid) {
    if (!valid_tid(tid)) return -1;
    turtle &t = ttl[tid];
    if (!alive(t) || (t.status & ST_ZOMBIE)) return -1;
    if (t.score <= 0) return -1;
    if ((t.status & ST_BULLET) || t.bttf != 0) return 0;
    t.bheading = t.heading;
    t.bullet = t.pos[0];
    t.status |= ST_BULLET;
    t.score -= SHOT_COST;
    return 0;
}

int is_hit_by_bullet(int tid, double x, double y) {
    if (!valid_tid(tid)) return 0;
    const turtle &t = ttl[tid];
    if (!alive(t) || t.ttl >= 1) return 0;
    const double dx = x - t.pos[0].x;
    const double dy = y - t.pos[0].y;
    return dx * dx + dy * dy < HIT_RADIUS2 ? 1 : 0;
}

void start_to_kill(int tid) {
    if (valid_tid(tid) && ttl[tid].ttl == 0) ttl[tid].ttl = EXPLOSION_FRAMES;
}

void bullet_step(int tid, battle_draw &out) {
    if (!valid_tid(tid)) return;
    turtle &s = ttl[tid];
    if (!(s.status & ST_BULLET)) return;
    const position b = s.bullet;
    const double a = s.bheading * PI / 180.0;
    out.bullet = true;
    out.bullet_at = b;
    const position p = {b.x + BULLET_SPEED * std::cos(a), b.y + BULLET_SPEED * std::sin(a)};
    if (is_hitting_wall(p.x, p.y)) {
        out.burst = true;
        out.burst_at = p;
        s.bttf = HIT_FLASH_FRAMES;
        s.status &= ~ST_BULLET;
    } else {
        s.bullet = p;
    }
    // The point that met a wall may still reach a slot in the same step.
    const int n = ntmax;
    for (int target = 0; target < n; target++) {
        if (target == tid || !is_hit_by_bullet(target, p.x, p.y)) continue;
        hit(tid, target);
        break;
    }
}

void explosion_step(int tid, battle_draw &out) {
    if (!valid_tid(tid)) return;
    turtle &t = ttl[tid];
    if (!alive(t) || t.ttl <= 0) return;
    out.explosion_ttl = t.ttl;
    out.explosion_at = t.pos[0];
    if (--t.ttl == 0) {
        t.status &= ~ST_ALIVE;
        disconnect_client_for(tid, t.cid);
    }
}

void hit_flash_step(int tid, battle_draw &out) {
    if (!valid_tid(tid)) return;
    turtle &t = ttl[tid];
    if (!alive(t) || t.bttf <= 0) return;
    out.flash_bttf = t.bttf;
    out.flash_at = t.bullet;
    t.bttf--;
}

void update_robot(int tid) {
    if (!valid_tid(tid)) return;
    turtle &t = ttl[tid];
    if (!alive(t) || !(t.status & ST_SYSTEM) || (t.status & ST_DOUGHNUT)) return;
    const double a = t.heading * PI / 180.0;
    const double qx = t.pos[0].x + ROBOT_STEP * std::cos(a);
    const double qy = t.pos[0].y + ROBOT_STEP * std::sin(a);
    if (qx < Xmin + ROBOT_MARGIN || qx > Xmax - ROBOT_MARGIN || qy < Ymin + ROBOT_MARGIN ||
        qy > Ymax - ROBOT_MARGIN) {
        t.heading += (drand() - 0.5) * ROBOT_WALL_TURN_SPREAD;
    } else if (turtle_step_forward(tid, ROBOT_STEP) != 0) {
        // A refused step did not move the robot, so it stays where it is and turns round.
        turtle_turn(tid, ROBOT_TURN_AROUND + (drand() - 0.5) * ROBOT_TURN_AROUND_SPREAD);
    }
    if (drand() < ROBOT_FIRE_CHANCE) turtle_fire(tid);
}
