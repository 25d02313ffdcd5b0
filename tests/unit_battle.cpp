// unit_battle.cpp: firing, bullet flight and hits, kills and explosions, hit flashes, robots,
// and a long soak of the per-frame steps with robots fighting in a maze.
#include "world/battle.h"
#include "world/coins.h"
#include "world/frame_rules.h"
#include "support.h"

namespace {

// One frame of the world's rules; each slot's battle report, by slot.
std::array<battle_draw, NTURTLE> battle_frame() {
    static frame_report rep;
    field_advance_frame(rep);
    std::array<battle_draw, NTURTLE> d{};
    for (int i = 0; i < rep.nslots; i++) d[rep.slots[i].tid] = rep.slots[i].battle;
    return d;
}

// Frames until slot t's bullet has ended; the last frame's report of t.
battle_draw fly(int t, int max_frames = 400) {
    battle_draw d;
    for (int i = 0; i < max_frames && (ttl[t].status & ST_BULLET); i++) d = battle_frame()[t];
    EXPECT_FALSE(ttl[t].status & ST_BULLET) << "the bullet still flies";
    return d;
}

std::vector<std::pair<int, int>> disconnected;

struct Combat : testing::Test {
    void SetUp() override {
        disconnected.clear();
        world_links l;
        l.disconnect = [](int tid, int cl) { disconnected.emplace_back(tid, cl); };
        set_world_links(l);
    }
    void TearDown() override { set_world_links({}); }
};

}  // namespace

TEST_F(Combat, FiringCostsAPointOneShotAtATimeAndBulletsEnd) {
    place(0, 0, 0, 0);
    ASSERT_EQ(turtle_fire(0), 0);
    EXPECT_TRUE(ttl[0].score == 99 && ttl[0].bullet == ttl[0].pos[0] && ttl[0].bheading == 0.0);
    battle_frame();
    EXPECT_EQ(turtle_fire(0), 0);  // still flying: nothing fired
    EXPECT_TRUE(ttl[0].score == 99 && ttl[0].bullet == (position{2, 0}));

    // The boundary wall ends it: a burst beyond the last point, and from that frame on a
    // 25-frame flash there.
    const battle_draw end = fly(0);
    EXPECT_TRUE(end.burst && end.burst_at.x > Xmax - 5.0 && end.burst_at.x <= Xmax - 3.0);
    EXPECT_TRUE(ttl[0].bullet == end.bullet_at && end.flash_at == end.bullet_at);
    EXPECT_DOUBLE_EQ(end.flash_alpha(), 1.0);
    for (int k = 24; k >= 1; k--) {
        EXPECT_EQ(turtle_fire(0), 0);  // no shot during the flash
        const battle_draw d = battle_frame()[0];
        ASSERT_TRUE(d.flash_bttf == k && d.flash_at == end.bullet_at) << k;
        EXPECT_DOUBLE_EQ(d.flash_alpha(), k / 25.0);
    }
    EXPECT_EQ(ttl[0].score, 99);
    EXPECT_EQ(battle_frame()[0].flash_bttf, 0);
    EXPECT_EQ(turtle_fire(0), 0);
    EXPECT_EQ(ttl[0].score, 98);

    // With no walls the field's edge alone ends a bullet.
    reset_world();
    nwall = 0;
    place(0, 250, 0, 0);
    ttl[0].score = 1;
    ASSERT_EQ(turtle_fire(0), 0);
    EXPECT_EQ(ttl[0].score, 0);
    EXPECT_EQ(fly(0, 4).burst_at, (position{258, 0}));
    for (int k = 0; k < 25; k++) battle_frame();
    EXPECT_EQ(turtle_fire(0), -1);  // no points left
    ttl[0].score = 5;
    ttl[0].status |= ST_ZOMBIE;
    EXPECT_EQ(turtle_fire(0), -1);
    ttl[0].status = 0;
    EXPECT_EQ(turtle_fire(0), -1);
}

TEST_F(Combat, HitsMovePointsAndKillsExplodeFor50Frames) {
    place(0, 0, 0, 0);
    place(1, 30, 0);
    place(2, 60, 0);
    ttl[1].score = 30;
    ASSERT_EQ(turtle_fire(0), 0);
    const battle_draw d = fly(0);
    EXPECT_TRUE(ttl[1].score == 0 && ttl[1].ttl == 0 && ttl[1].event == EV_HIT);
    EXPECT_TRUE(ttl[0].score == 110 && !d.burst && d.flash_bttf == HIT_FLASH_FRAMES);
    EXPECT_TRUE(ttl[2].score == 100 && ttl[0].bullet == (position{22, 0}));

    // 29 points: a kill, no flash for the shooter, and slot 1 explodes from this frame on.
    ttl[0].bttf = 0;
    ttl[1].score = 29;
    ASSERT_EQ(turtle_fire(0), 0);
    int fireballs = 0, frames = 0;
    bool fired_again = false;
    while (ttl[1].status & ST_ALIVE) {
        const battle_draw e = battle_frame()[1];
        if (e.explosion_ttl > 0) {
            EXPECT_EQ(e.explosion_ttl, EXPLOSION_FRAMES - frames);
            EXPECT_EQ(e.explosion_at, ttl[1].pos[0]);
            fireballs += e.fireball() ? 1 : 0;
            frames++;
        }
        if (frames == 1) {
            EXPECT_TRUE(ttl[1].score == 0 && ttl[0].score == 120 && ttl[0].bttf == 0);
            start_to_kill(1);  // does not restart the countdown
            // Slot 1 is transparent while it explodes: this bullet hits slot 2 behind it.
            ASSERT_EQ(turtle_fire(0), 0);
            fired_again = true;
        }
    }
    EXPECT_TRUE(fired_again && fireballs == 15 && frames == EXPLOSION_FRAMES);
    EXPECT_TRUE(ttl[2].score == 70 && ttl[0].score == 130);
    EXPECT_EQ(disconnected, (std::vector<std::pair<int, int>>{{1, 1}}));
    EXPECT_EQ(battle_frame()[1].explosion_ttl, 0);
}

TEST_F(Combat, WallsStonesDoughnutsAndFreedShooters) {
    // The first point lies at a wall (x = 6) and within reach of slot 1: both happen.
    setup_wall(6, -50, 6, 50, -1, 0, 0);
    place(0, 0, 0, 0);
    place(1, 8, 5);
    ASSERT_EQ(turtle_fire(0), 0);
    const battle_draw d = battle_frame()[0];
    EXPECT_TRUE(d.burst && d.burst_at == (position{2, 0}) && d.bullet_at == (position{0, 0}));
    EXPECT_TRUE(ttl[1].score == 70 && ttl[0].score == 110 && d.flash_bttf == 25);
    EXPECT_FALSE(ttl[0].status & ST_BULLET);

    // A stone ends the bullet with a flash; a doughnut explodes and pays only from close by.
    reset_world();
    place(0, 0, 0, 0);
    place(1, 20, 0, 0, ST_STONE);
    ASSERT_EQ(turtle_fire(0), 0);
    EXPECT_TRUE(fly(0).flash_bttf == 25 && ttl[0].score == 99 && ttl[1].ttl == 0);
    for (const double at : {30.0, 50.0}) {
        reset_world();
        place(0, 0, 0, 0);
        place(1, at, 0, 0, ST_DOUGHNUT);
        ASSERT_EQ(turtle_fire(0), 0);
        fly(0);
        EXPECT_TRUE(ttl[1].ttl > 0 && ttl[0].bttf == 0) << at;
        EXPECT_EQ(ttl[0].score, at < 40 ? 110 : 99) << at;
    }

    // A freed shooter's bullet flies on and hits, but earns nothing from a doughnut.
    reset_world();
    place(0, 0, 0, 0);
    place(1, 30, 0, 0, ST_DOUGHNUT);
    place(2, -100, 0, 180);
    place(3, -130, 0);
    ASSERT_EQ(turtle_fire(0), 0);
    ASSERT_EQ(turtle_fire(2), 0);
    ttl[0].status &= ~ST_ALIVE;
    ttl[2].status &= ~ST_ALIVE;
    fly(0);
    fly(2);
    EXPECT_TRUE(ttl[1].ttl > 0 && ttl[0].score == 99);
    EXPECT_TRUE(ttl[3].score == 70 && ttl[3].event == EV_HIT);
}

// Slots step in order: a kill by a lower slot's bullet explodes in the same frame, one by a
// higher slot's in the next; a dying body is still drawn in the frame that frees its slot.
TEST_F(Combat, TheFrameOrderDecidesWhenAKillShows) {
    place(0, 0, 0, 0);
    place(1, 11, 0);
    place(2, 89, 0);
    place(3, 100, 0, 180);
    ttl[1].score = ttl[2].score = 0;
    ASSERT_TRUE(turtle_fire(0) == 0 && turtle_fire(3) == 0);
    auto d = battle_frame();
    EXPECT_TRUE(d[1].explosion_ttl == EXPLOSION_FRAMES && d[2].explosion_ttl == 0);
    EXPECT_TRUE(ttl[1].ttl > 0 && ttl[2].ttl > 0);
    EXPECT_EQ(battle_frame()[2].explosion_ttl, EXPLOSION_FRAMES);
    for (int i = 0; i < EXPLOSION_FRAMES - 3; i++) battle_frame();
    static frame_report rep;
    field_advance_frame(rep);
    const slot_view &last = rep.slots[1];
    EXPECT_TRUE(last.drawn && last.ttl == 1 && last.battle.explosion_ttl == 1);
    EXPECT_FALSE(ttl[1].status & ST_ALIVE);
}

TEST_F(Combat, RobotsTurnAtTheMarginAndStayWhereARefusedStepLeavesThem) {
    srandom(3);
    place(0, 245.9, 0, 0, ST_SYSTEM);  // the next step would enter the margin: a turn instead
    update_robot(0);
    EXPECT_TRUE(ttl[0].pos[0] == (position{245.9, 0}) && ttl[0].heading != 0.0 &&
                std::fabs(ttl[0].heading) <= 50.0);

    // Blocked by a turtle: it keeps its place and turns round (3 degrees at most in battle).
    for (int battle : {0, 1}) {
        reset_world();
        if (battle) field_set_battle_mode();
        place(0, 0, 0, 0, ST_SYSTEM);
        place(1, 20.1, 0);
        update_robot(0);
        const double turned = ttl[0].heading;
        EXPECT_EQ(ttl[0].pos[0], (position{0, 0}));
        EXPECT_TRUE(battle ? turned == 3.0 : turned >= 175.0 && turned <= 185.0) << turned;
    }

    // Without points in battle every step and turn is refused: the robot stays put.
    ttl[0].score = 0;
    ttl[1].status = 0;
    place(2, 100, 100, 0, ST_SYSTEM | ST_DOUGHNUT);  // a spawned doughnut never moves
    for (int i = 0; i < 500; i++) battle_frame();
    EXPECT_TRUE(ttl[0].pos[0] == (position{0, 0}) && ttl[0].pos[1] == (position{0, 0}));
    EXPECT_TRUE(ttl[2].pos[0] == (position{100, 100}) && ttl[2].heading == 0.0);
}

// 20 robots fight in a full maze for 20,000 frames while coins change hands.
TEST_F(Combat, SoakTwentyRobotsInAFullMaze) {
    srandom(2026);
    field_set_maze_mode();
    const auto spawn_robot = [](int slot) {
        for (;;) {
            const double x = 470 * (drand() - 0.5), y = 470 * (drand() - 0.5);
            if (dist_to_wall_from(x, y) > 12 && dist_to_nn_from(-1, x, y) > 21) {
                init_turtle(slot, -1, x, y, 360 * drand());
                ntmax = std::max(ntmax, slot + 1);
                return;
            }
        }
    };
    std::vector<int> robots;
    for (int n = 0; n < 20; n++) {
        int slot = 0;
        while (ttl[slot].status & ST_ALIVE) slot++;
        spawn_robot(slot);
        robots.push_back(slot);
    }
    field_scatter_coin(150);

    int lost = 0, kills = 0, shots = 0, picks = 0;
    for (int frame = 0; frame < 20000; frame++) {
        uint32_t flying = 0;
        for (int t = 0; t < NTURTLE; t++) flying |= (ttl[t].status & ST_BULLET) ? 1u << t : 0;
        for (const battle_draw &d : battle_frame()) kills += d.explosion_ttl == 1 ? 1 : 0;
        for (int t = 0; t < NTURTLE; t++) {
            shots += (ttl[t].status & ST_BULLET) && !(flying & (1u << t)) ? 1 : 0;
        }
        const int r = robots[random() % robots.size()];
        switch (random() % 8) {
        case 0: field_scatter_coin(1); break;
        case 1: turtle_borrow_coin(r); break;
        case 2: turtle_drop_coin(r); break;
        default: {
            const int had = ttl[r].ncoin;
            turtle_pick_coin(r);
            picks += ttl[r].ncoin - had;
        }
        }
        for (int t : robots) {
            if (!(ttl[t].status & ST_ALIVE)) {
                lost += ttl[t].ncoin;  // a new robot in the slot starts with none
                spawn_robot(t);
            }
        }

        int held = 0;
        std::vector<int> stack;  // the orders on the field: 0 .. k - 1 without gaps
        for (int c = 0; c < ncoin; c++) {
            if (coins[c].status & COIN_ON_FIELD) stack.push_back(coins[c].order);
        }
        std::sort(stack.begin(), stack.end());
        for (std::size_t i = 0; i < stack.size(); i++) ASSERT_EQ(stack[i], int(i)) << frame;
        for (const turtle &t : ttl) {
            held += t.ncoin;
            ASSERT_GE(t.score, 0) << "frame " << frame;
        }
        ASSERT_EQ(stock_of_coin + int(stack.size()) + held + lost, COIN_TREASURY) << frame;
        for (int t : robots) {
            const position p = ttl[t].pos[0];
            ASSERT_TRUE(p.x >= Xmin + 10 && p.x <= Xmax - 10 && p.y >= Ymin + 10 &&
                        p.y <= Ymax - 10)
                << "robot " << t << " at " << p.x << "," << p.y << " frame " << frame;
        }
    }
    EXPECT_GT(kills, 0);
    EXPECT_GT(picks, 0);
    EXPECT_GT(shots, 20);
}
