// turtle_sensors.cpp: what a turtle can learn: state queries, finder, sonar and angular radar.
#include <cmath>

#include "world/geometry.h"
#include "world/turtle.h"
#include "world/world.h"

namespace {

inline constexpr double SONAR_PROBE_DISTANCE = 20.0;  // move probed for other slots
inline constexpr double SONAR_WALL_DISTANCE = 10.0;   // wall clearance that counts as close
inline constexpr double SONAR_SIDE_ANGLE = 45.0;      // degrees off the heading, each side
inline constexpr int RADAR_ENTRIES = 5;               // nearest slots the radar ranks
inline constexpr double RADAR_NOISE_SPAN = 40.0;      // degrees, uniform, centred on 0

bool is_alive(int tid) { return valid_tid(tid) && (ttl[tid].status & ST_ALIVE) != 0; }

// Slots that scans visit: 0 .. ntmax - 1, never beyond the table.
int scan_end() { return ntmax < 0 ? 0 : (ntmax > NTURTLE ? NTURTLE : ntmax); }

}  // namespace

int qt_position(int tid, double *x, double *y) {
    if (!is_alive(tid)) {
        *x = 0.0;
        *y = 0.0;
        return -1;
    }
    *x = ttl[tid].pos[0].x;
    *y = ttl[tid].pos[0].y;
    return 0;
}

int qt_direction(int tid, double *dir) {
    if (!is_alive(tid)) {
        *dir = 0.0;
        return -1;
    }
    *dir = ttl[tid].heading;
    return 0;
}

int qt_alive(int tid, int *s) {
    *s = is_alive(tid) ? 1 : 0;
    return 0;
}

int qt_score(int tid, int *s) {
    *s = is_alive(tid) ? ttl[tid].score : 0;
    return 0;
}

int qt_my_team(int tid) { return valid_tid(tid) ? ttl[tid].team : 0; }

double dist_t2t(int t1, int t2) {
    if (!is_alive(t1) || !is_alive(t2)) return NO_HIT_DISTANCE;
    double dx = ttl[t1].pos[0].x - ttl[t2].pos[0].x;
    double dy = ttl[t1].pos[0].y - ttl[t2].pos[0].y;
    return std::sqrt(dx * dx + dy * dy);
}

int turtle_finder_range(int tid, double range) {
    if (!valid_tid(tid) || (ttl[tid].status & ST_ZOMBIE)) return 1;
    ttl[tid].frange = range;
    return 0;
}

int qt_finder(int tid, int *yn, int *team) {
    *yn = 0;
    *team = 0;
    if (!valid_tid(tid)) return 0;
    turtle &me = ttl[tid];
    me.event &= ~EV_FINDER;

    double range = me.frange;
    double possible = range;
    int target = -1;
    int kind = check_how_far_it_can_go(tid, range, &possible, &target);
    double wall = bounded_area_mode ? distance_to_front_wall(tid, range) : NO_HIT_DISTANCE;

    if (kind == 0 && wall > range) return 0;
    if (wall > possible) {
        *yn = kind;
        if (valid_tid(target)) {
            ttl[target].event |= EV_FINDER;
            me.target_of_finder = target;
            *team = ttl[target].team;
        }
        return 0;
    }
    *yn = 4;  // the wall comes first, or only a wall is in range
    return 0;
}

int qt_sonar(int tid, int *left, int *front, int *right) {
    *left = *front = *right = 0;
    if (!valid_tid(tid)) return 0;
    turtle &me = ttl[tid];
    double possible;
    int target;

    double h = me.heading;
    int kfront = check_how_far_it_can_go(tid, SONAR_PROBE_DISTANCE, &possible, &target);
    me.heading = h + SONAR_SIDE_ANGLE;
    int kleft = check_how_far_it_can_go(tid, SONAR_PROBE_DISTANCE, &possible, &target);
    me.heading = h - SONAR_SIDE_ANGLE;
    int kright = check_how_far_it_can_go(tid, SONAR_PROBE_DISTANCE, &possible, &target);
    me.heading = h;

    double dl, df, dr;
    distance_to_walls_3dir(tid, &dl, &df, &dr);
    *left = (kleft != 0 || dl < SONAR_WALL_DISTANCE) ? 1 : 0;
    *front = (kfront != 0 || df < SONAR_WALL_DISTANCE) ? 1 : 0;
    *right = (kright != 0 || dr < SONAR_WALL_DISTANCE) ? 1 : 0;
    return 0;
}

int qt_angular_rader(int tid, int nb, double *dir, int *team) {
    *dir = 0.0;
    *team = 0;
    if (!valid_tid(tid)) return -1;
    turtle &me = ttl[tid];
    me.event &= ~EV_RADAR;

    struct entry {
        int slot;
        double d2;
        double bearing;  // degrees, absolute
    };
    entry list[RADAR_ENTRIES];
    for (entry &e : list) e = {-1, NO_HIT_DISTANCE, me.heading};

    double x = me.pos[0].x, y = me.pos[0].y;
    for (int t = 0; t < scan_end(); t++) {
        if (t == tid || !(ttl[t].status & ST_ALIVE)) continue;
        double dx = ttl[t].pos[0].x - x, dy = ttl[t].pos[0].y - y;
        double d2 = dx * dx + dy * dy;
        int i = 0;
        while (i < RADAR_ENTRIES && list[i].d2 <= d2) i++;  // equal distances: lower slot first
        if (i == RADAR_ENTRIES) continue;
        for (int j = RADAR_ENTRIES - 1; j > i; j--) list[j] = list[j - 1];
        list[i] = {t, d2, std::atan2(dy, dx) * 180.0 / PI};
    }

    bool found = nb >= 0 && nb < RADAR_ENTRIES && list[nb].slot >= 0;
    double bearing = found ? list[nb].bearing : me.heading;
    if (found) {
        int t = list[nb].slot;
        *team = ttl[t].team;
        ttl[t].event |= EV_RADAR;
        me.target_of_rader = t;
    }
    if (!(me.status & ST_ALIVE)) return -1;

    double delta = std::fmod(bearing - me.heading, 360.0);
    if (delta < -180.0) {
        delta += 360.0;
    } else if (delta > 180.0) {
        delta -= 360.0;
    }
    *dir = delta + RADAR_NOISE_SPAN * (drand() - 0.5);
    return found ? 0 : -1;
}

void distance_to_walls_3dir(int tid, double *dleft, double *dfront, double *dright) {
    if (!valid_tid(tid)) {
        *dleft = *dfront = *dright = NO_HIT_DISTANCE;
        return;
    }
    const turtle &me = ttl[tid];
    double x = me.pos[0].x, y = me.pos[0].y;
    *dleft = wall_distance_along(x, y, me.heading + SONAR_SIDE_ANGLE);
    *dfront = wall_distance_along(x, y, me.heading);
    *dright = wall_distance_along(x, y, me.heading - SONAR_SIDE_ANGLE);
}
