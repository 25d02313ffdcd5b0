// turtle.cpp: lifecycle and spawning of turtle slots, clearance queries, motion and wall probes.
#include "world/turtle.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include "world/geometry.h"
#include "world/world.h"

namespace {

inline constexpr int SPAWN_CANDIDATES = 20;
inline constexpr double MAZE_CELL = 32.0;           // spawn cell width in maze mode
inline constexpr double MAZE_SPAWN_WALL = 10.0;     // body radius: from the cell's sides
inline constexpr double OPEN_SPAWN_SPREAD = 491.0;  // spawn within +-245.5
inline constexpr double OPEN_SPAWN_CLEARANCE = 20.0;
inline constexpr double OPEN_SPAWN_HEADING_SPREAD = 180.0;  // degrees, -90..90
inline constexpr double OBJECT_CLEARANCE = 20.0;            // set_object_at refuses at or below
inline constexpr double JUMP_CLEARANCE = 20.0;              // around the jumping turtle
inline constexpr double JUMP_WALL_CLEARANCE = 10.0;         // target from walls, bounded-area mode
inline constexpr double WALL_HIT_DISTANCE = 5.0;            // is_hitting_wall
// Largest heading magnitude a turn may leave, degrees: beyond it the heading's conversion to
// radians loses every digit of the angle, and a step could never be taken again.
inline constexpr double MAX_HEADING_MAGNITUDE = 1e15;

// When each zombie lost its client, by a counter: the oldest gives up its slot first.
uint64_t zombies_made = 0;
std::array<uint64_t, NTURTLE> zombie_since{};
inline constexpr double BATTLE_MAX_STEP = 2.0;  // units, either sign
inline constexpr double BATTLE_MAX_TURN = 3.0;  // degrees, either sign
inline constexpr uint32_t OBJECT_LATCHES = ST_LATCH_TURTLE | ST_LATCH_DOUGHNUT | ST_LATCH_STONE;
inline constexpr uint32_t ALL_LATCHES = OBJECT_LATCHES | ST_LATCH_WALL;
inline constexpr uint32_t IMMOVABLE = ST_ZOMBIE | ST_STONE | ST_DOUGHNUT;

inline constexpr color RED = {1.0, 0.0, 0.0};
inline constexpr color GREY = {0.5, 0.5, 0.5};

int lowest_free_slot() {
    for (int i = 0; i < NTURTLE; ++i) {
        if (!alive(ttl[i])) {
            return i;
        }
    }
    return -1;
}

void extend_ntmax(int slot) {
    if (slot >= ntmax) {
        ntmax = slot + 1;
    }
}

// Pushes the current pen point into the history and puts the turtle at (x, y).
void move_to(turtle &t, double x, double y) {
    for (int i = NHISTORY - 1; i >= 1; --i) {
        t.pos[i] = t.pos[i - 1];
        t.col[i] = t.col[i - 1];
        t.width[i] = t.width[i - 1];
    }
    t.pos[0] = {x, y};
    t.status &= ~ST_PAINTED;
}

int obstacle_kind(const turtle &t) {
    if (t.status & ST_STONE) {
        return 3;
    }
    if (t.status & ST_DOUGHNUT) {
        return 2;
    }
    return 1;
}

bool outside_bounds(double x, double y) { return x < Xmin || x > Xmax || y < Ymin || y > Ymax; }

// A newcomer's place in maze mode: candidates only where a body fits in a cell (MAZE_SPAWN_WALL
// from its sides, CONTACT_DISTANCE from every other centre), first in the corner cell, then in
// the cells along the bottom row and the left column, nearest first. False when none has room.
bool find_maze_place(double *x, double *y) {
    const int cells = static_cast<int>((Xmax - Xmin) / MAZE_CELL);
    for (int n = 0; n < 2 * cells - 1; ++n) {
        const int along = (n + 1) / 2;  // 0, 1, 1, 2, 2, ...: cell (along, 0) or (0, along)
        const double cx = Xmin + MAZE_CELL * (n % 2 == 1 ? along : 0);
        const double cy = Ymin + MAZE_CELL * (n % 2 == 0 ? along : 0);
        for (int k = 0; k < SPAWN_CANDIDATES; ++k) {
            *x = cx + MAZE_SPAWN_WALL + (MAZE_CELL - 2 * MAZE_SPAWN_WALL) * drand();
            *y = cy + MAZE_SPAWN_WALL + (MAZE_CELL - 2 * MAZE_SPAWN_WALL) * drand();
            if (dist_to_nn_from(-1, *x, *y) >= CONTACT_DISTANCE &&
                dist_to_wall_from(*x, *y) >= MAZE_SPAWN_WALL) {
                return true;
            }
        }
    }
    return false;
}

}  // namespace

// ---- Lifecycle and spawning ----

void init_turtle(int tid, int cid, double x, double y, double dir) {
    if (!valid_tid(tid)) {
        return;
    }
    turtle &t = ttl[tid];
    t.cid = cid;
    t.heading = dir;
    t.pos.fill({x, y});
    t.col.fill(RED);
    t.width.fill(1.0);
    t.ttl = 0;
    t.bttf = 0;
    t.score = 100;
    t.team = 0;
    t.frange = 20.0;
    t.ndonut = 0;
    t.ncoin = 0;
    t.nstroke = 0;
    std::memset(t.msg, 0, sizeof t.msg);
    std::memset(t.name, 0, sizeof t.name);
    t.status = cid < 0 ? (ST_SYSTEM | ST_ALIVE) : ST_ALIVE;
    t.event = 0;
    t.eventmask = 0xFFFFFFFFu;
    t.target_of_rader = -1;
    t.target_of_finder = -1;
}

int generate_turtle(int cl, unsigned int type) {
    int slot = lowest_free_slot();
    if (slot < 0) {
        return -1;
    }
    double x = 0.0, y = 0.0, heading = 0.0;
    if (maze_mode != 0 && (type & ST_DOUGHNUT) == 0) {
        if (!find_maze_place(&x, &y)) {
            return -1;
        }
    } else {
        bool found = false;
        for (int k = 0; k < SPAWN_CANDIDATES && !found; ++k) {
            x = OPEN_SPAWN_SPREAD * (drand() - 0.5);
            y = OPEN_SPAWN_SPREAD * (drand() - 0.5);
            found = dist_to_nn_from(-1, x, y) >= OPEN_SPAWN_CLEARANCE &&
                    dist_to_wall_from(x, y) >= OPEN_SPAWN_CLEARANCE;
        }
        if (!found) {
            return -1;
        }
        heading = OPEN_SPAWN_HEADING_SPREAD * (drand() - 0.5);
    }
    init_turtle(slot, cl, x, y, heading);
    ttl[slot].status |= type;
    extend_ntmax(slot);
    return slot;
}

int turtle_generate_doughnut(int tid) {
    if (!valid_tid(tid) || ttl[tid].ndonut >= MAX_DOUGHNUTS) {
        return -1;
    }
    if (generate_turtle(-1, ST_DOUGHNUT) < 0) {
        return -1;
    }
    ++ttl[tid].ndonut;
    return 0;
}

int set_object_at(double x, double y, unsigned int type) {
    if (!std::isfinite(x) || !std::isfinite(y)) {
        return -1;
    }
    if (dist_to_nn_from(-1, x, y) <= OBJECT_CLEARANCE) {
        return -1;
    }
    int slot = lowest_free_slot();
    if (slot < 0) {
        return -1;
    }
    // A placed object starts like a spawned one, but grey, without points and without the
    // driven-by-the-program bit.
    init_turtle(slot, -1, x, y, 0.0);
    turtle &t = ttl[slot];
    t.col.fill(GREY);
    t.score = 0;
    t.status = type | ST_ALIVE;
    extend_ntmax(slot);
    return 0;
}

void make_zombie(int tid) {
    if (valid_tid(tid)) {
        ttl[tid].status |= ST_ZOMBIE;
        zombie_since[tid] = ++zombies_made;
    }
}

int generate_client_turtle(int cl) {
    if (lowest_free_slot() < 0) {
        int oldest = -1;
        for (int t = 0; t < NTURTLE; ++t) {
            if ((ttl[t].status & ST_ALIVE) && (ttl[t].status & ST_ZOMBIE) &&
                (oldest < 0 || zombie_since[t] < zombie_since[oldest])) {
                oldest = t;
            }
        }
        if (oldest < 0) {
            return -1;
        }
        ttl[oldest].status = 0;  // as the zombie removal frees it
    }
    return generate_turtle(cl, 0);
}

bool turtle_is_dying(int tid) { return valid_tid(tid) && alive(ttl[tid]) && ttl[tid].ttl > 0; }

int turtle_reset(int tid, int cid) {
    if (!valid_tid(tid) || battle_mode || (ttl[tid].status & ST_ZOMBIE) || turtle_is_dying(tid)) {
        return 1;
    }
    if (cid == ttl[tid].cid) {
        init_turtle(tid, cid, 0.0, 0.0, 0.0);
    }
    return 0;
}

int turtle_home(int tid) {
    if (!valid_tid(tid) || battle_mode || (ttl[tid].status & ST_ZOMBIE) || turtle_is_dying(tid)) {
        return 1;
    }
    ttl[tid].pos.fill({0.0, 0.0});
    ttl[tid].heading = 0.0;
    return 0;
}

double dist_to_nn_from(int tid, double x, double y) {
    double best = NO_HIT_DISTANCE;
    for (int i = 0; i < ntmax; ++i) {
        if (i == tid || !alive(ttl[i])) {
            continue;
        }
        double dx = ttl[i].pos[0].x - x;
        double dy = ttl[i].pos[0].y - y;
        double d2 = dx * dx + dy * dy;
        if (d2 < best) {
            best = d2;
        }
    }
    return std::sqrt(best);
}

double dist_to_nn(int tid) {
    if (!valid_tid(tid)) {
        return std::sqrt(NO_HIT_DISTANCE);
    }
    return dist_to_nn_from(tid, ttl[tid].pos[0].x, ttl[tid].pos[0].y);
}

double dist_to_wall_from(double px, double py) {
    double best = NO_HIT_DISTANCE;
    for (int i = 0; i < nwall; ++i) {
        const wall &w = walls[i];
        double d = dist_lineseg_to_point(w.startp.x, w.startp.y, w.endp.x, w.endp.y, px, py);
        if (d < best) {
            best = d;
        }
    }
    return best;
}

// ---- Motion and wall collision ----

int turtle_step_forward(int tid, double stepsize) {
    if (!valid_tid(tid) || !std::isfinite(stepsize)) {
        return -1;
    }
    turtle &t = ttl[tid];
    if (t.status & IMMOVABLE) {
        return -1;
    }
    double step = stepsize;
    if (battle_mode) {
        if (t.score <= 0) {
            return -1;
        }
        step = std::fmax(-BATTLE_MAX_STEP, std::fmin(BATTLE_MAX_STEP, step));
    }
    double a = t.heading * PI / 180.0;
    double nx = t.pos[0].x + step * std::cos(a);
    double ny = t.pos[0].y + step * std::sin(a);
    if (!std::isfinite(nx) || !std::isfinite(ny)) {
        return -1;  // an overflowing step never brings infinities into the world
    }

    double possible = 0.0;
    int target = -1;
    int kind = check_how_far_it_can_go(tid, step, &possible, &target);
    if (kind != 0) {
        static constexpr uint32_t LATCH[4] = {0, ST_LATCH_TURTLE, ST_LATCH_DOUGHNUT,
                                              ST_LATCH_STONE};
        static constexpr uint32_t EVENT[4] = {0, EV_BUMP_TURTLE, EV_BUMP_DOUGHNUT, EV_BUMP_STONE};
        if (!(t.status & LATCH[kind])) {
            t.event |= EVENT[kind];
            t.status |= LATCH[kind];
        }
        return -1;
    }
    t.status &= ~OBJECT_LATCHES;

    if (bounded_area_mode) {
        if (is_colliding_to_wall(tid, step)) {
            if (!(t.status & ST_LATCH_WALL)) {
                t.event |= EV_BUMP_WALL;
                t.status |= ST_LATCH_WALL;
            }
            return -1;
        }
        t.status &= ~ST_LATCH_WALL;
    }

    move_to(t, nx, ny);
    return 0;
}

int turtle_turn(int tid, double angle) {
    if (!valid_tid(tid) || !std::isfinite(angle)) {
        return -1;
    }
    turtle &t = ttl[tid];
    if (battle_mode) {
        if (t.score <= 0) {
            return -1;
        }
        angle = std::fmax(-BATTLE_MAX_TURN, std::fmin(BATTLE_MAX_TURN, angle));
    }
    if (t.status & ST_ZOMBIE) {
        return -1;
    }
    if (!(std::fabs(t.heading + angle) <= MAX_HEADING_MAGNITUDE)) {
        return -1;
    }
    if (angle != 0.0) {
        t.status &= ~ALL_LATCHES;
    }
    t.heading += angle;
    return 0;
}

int turtle_head(int tid, int direction) {
    if (!valid_tid(tid) || battle_mode || (ttl[tid].status & ST_ZOMBIE)) {
        return 1;
    }
    static constexpr double COMPASS[5] = {0.0, 0.0, 90.0, 180.0, -90.0};
    if (direction >= 1 && direction <= 4) {
        ttl[tid].heading = COMPASS[direction];
    }
    return 0;
}

int turtle_jump(int tid, double x, double y) {
    if (!valid_tid(tid) || !std::isfinite(x) || !std::isfinite(y)) {
        return -1;
    }
    turtle &t = ttl[tid];
    if (battle_mode || (t.status & ST_ZOMBIE)) {
        return -1;
    }
    if (dist_to_nn(tid) < JUMP_CLEARANCE) {
        return -1;
    }
    if (bounded_area_mode &&
        (outside_bounds(x, y) || dist_to_wall_from(x, y) < JUMP_WALL_CLEARANCE)) {
        return -1;
    }
    move_to(t, x, y);
    return 0;
}

int turtle_rjump(int tid, double dx, double dy) {
    if (!valid_tid(tid) || !std::isfinite(dx) || !std::isfinite(dy)) {
        return -1;
    }
    return turtle_jump(tid, ttl[tid].pos[0].x + dx, ttl[tid].pos[0].y + dy);
}

// The candidate is the slot that the body would touch first along the path (least contact
// distance), so a step can never end inside another slot.
int check_how_far_it_can_go(int tid, double dist_to_go, double *dist_possible, int *target) {
    *dist_possible = dist_to_go;
    if (!valid_tid(tid) || ntmax <= 0) {
        return 0;
    }
    const turtle &me = ttl[tid];
    double x0 = me.pos[0].x;
    double y0 = me.pos[0].y;
    double a = me.heading * PI / 180.0;
    double x1 = x0 + dist_to_go * std::cos(a);
    double y1 = y0 + dist_to_go * std::sin(a);

    int best_slot = -1;
    double best_d = NO_HIT_DISTANCE;
    for (int i = 0; i < ntmax; ++i) {
        if (i == tid || !alive(ttl[i])) {
            continue;
        }
        double cx = ttl[i].pos[0].x;
        double cy = ttl[i].pos[0].y;
        if (cx == x0 && cy == y0) {
            continue;  // two bodies on one spot (both sent home) could otherwise never part
        }
        double fx, fy, h;
        dist_halfline_to_point(x0, y0, x1, y1, cx, cy, &fx, &fy, &h);
        if (!(h <= CONTACT_DISTANCE)) {
            continue;
        }
        double d =
            std::hypot(fx - x0, fy - y0) - std::sqrt(CONTACT_DISTANCE * CONTACT_DISTANCE - h * h);
        if (d < best_d) {
            best_d = d;
            best_slot = i;
        }
    }
    if (best_slot < 0) {
        return 0;
    }
    *target = best_slot;
    if (best_d > std::fabs(dist_to_go)) {
        return 0;
    }
    *dist_possible = best_d;
    return obstacle_kind(ttl[best_slot]);
}

double wall_distance_along(double x, double y, double angle, double reach) {
    double least = NO_HIT_DISTANCE;
    for (int i = 0; i < nwall; ++i) {
        const wall &w = walls[i];
        // Walls whose every point lies beyond reach of the moving body are skipped. Squares
        // instead of hypot (every robot step asks this of every wall); the bound is widened by
        // far more than their rounding, so no wall within reach is ever skipped.
        const double mx = (w.startp.x + w.endp.x) / 2.0, my = (w.startp.y + w.endp.y) / 2.0;
        const double lx = w.endp.x - w.startp.x, ly = w.endp.y - w.startp.y;
        const double bound = std::sqrt(lx * lx + ly * ly) / 2.0 + BODY_RADIUS + reach;
        const double dx = x - mx, dy = y - my;
        if (!(dx * dx + dy * dy < bound * bound * (1.0 + 1e-9))) {
            continue;
        }
        double d = net_dist_to_lineseg(x, y, angle, w.startp.x, w.startp.y, w.endp.x, w.endp.y,
                                       w.normal.x, w.normal.y);
        if (d < least) {
            least = d;
        }
    }
    return least;
}

int is_colliding_to_wall(int tid, double dist_to_go) {
    if (!valid_tid(tid)) {
        return 0;
    }
    const turtle &t = ttl[tid];
    double dir = dist_to_go < 0.0 ? t.heading + 180.0 : t.heading;
    double reach = std::fabs(dist_to_go);
    return reach > wall_distance_along(t.pos[0].x, t.pos[0].y, dir, reach) ? 1 : 0;
}

double distance_to_front_wall(int tid, double dist_to_go) {
    if (!valid_tid(tid)) {
        return NO_HIT_DISTANCE;
    }
    const turtle &t = ttl[tid];
    double dir = dist_to_go < 0.0 ? t.heading + 180.0 : t.heading;
    return wall_distance_along(t.pos[0].x, t.pos[0].y, dir);
}

int is_hitting_wall(double px, double py) {
    if (outside_bounds(px, py)) {
        return 1;
    }
    // Every bullet asks this at every step: a wall whose box lies beyond the distance cannot be
    // within it, and the first wall within it settles the answer.
    for (int i = 0; i < nwall; ++i) {
        const wall &w = walls[i];
        if (px < std::min(w.startp.x, w.endp.x) - WALL_HIT_DISTANCE ||
            px > std::max(w.startp.x, w.endp.x) + WALL_HIT_DISTANCE ||
            py < std::min(w.startp.y, w.endp.y) - WALL_HIT_DISTANCE ||
            py > std::max(w.startp.y, w.endp.y) + WALL_HIT_DISTANCE) {
            continue;
        }
        if (dist_lineseg_to_point(w.startp.x, w.startp.y, w.endp.x, w.endp.y, px, py) <
            WALL_HIT_DISTANCE) {
            return 1;
        }
    }
    return 0;
}
