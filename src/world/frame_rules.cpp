// frame_rules.cpp: one frame of the world's own rules and the report the frame draws from.
#include "world/frame_rules.h"

#include <cstring>

#include "world/coins.h"

namespace {

// Takes the beam to the slot last caught and forgets the catch, as showing a beam does.
beam_view take_beam(int &target) {
    beam_view b;
    if (target >= 0 && target < NTURTLE) b = {true, ttl[target].pos[0]};
    if (target >= 0) target = -1;
    return b;
}

void step_slot(int tid, slot_view &v) {
    turtle &t = ttl[tid];
    v = slot_view{};
    v.tid = tid;
    bullet_step(tid, v.battle);
    if (!(t.status & ST_ALIVE)) return;
    v.drawn = true;
    if (battle_mode) {
        v.finder = take_beam(t.target_of_finder);
        v.radar = take_beam(t.target_of_rader);
    }
    static_cast<turtle_snapshot &>(v) = snapshot_turtle(tid);
    explosion_step(tid, v.battle);
    hit_flash_step(tid, v.battle);
    update_robot(tid);
}

}  // namespace

turtle_snapshot snapshot_turtle(int tid) {
    const turtle &t = ttl[tid];
    turtle_snapshot v;
    v.tid = tid;
    v.cid = t.cid;
    v.status = t.status;
    v.event = t.event;
    v.pos = t.pos[0];
    v.heading = t.heading;
    v.team = t.team;
    v.score = t.score;
    v.ncoin = t.ncoin;
    v.ttl = t.ttl;
    v.bttf = t.bttf;
    v.bullet = t.bullet;
    v.bheading = t.bheading;
    std::memcpy(v.name, t.name, sizeof v.name);
    v.name[sizeof v.name - 1] = '\0';
    return v;
}

bool is_object(int tid) { return (ttl[tid].status & (ST_STONE | ST_DOUGHNUT)) != 0; }

void field_advance_frame(frame_report &rep) {
    update_coin_event();
    refresh_teaminfo();
    const int n = ntmax;
    rep.npaint = n;
    rep.any_alive = false;
    for (int t = 0; t < n; t++) {
        rep.paint[t] = paint_decide(t);
        rep.any_alive = rep.any_alive || rep.paint[t].alive;
    }
    rep.nslots = 0;
    for (int pass = 0; pass < 2; pass++) {
        for (int t = 0; t < n; t++) {
            if (is_object(t) == (pass == 0)) step_slot(t, rep.slots[rep.nslots++]);
        }
    }
}
