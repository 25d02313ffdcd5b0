// unit_battle.cpp: firing, bullet flight and hits, kills and explosions, hit flashes, robots,
// through the frame's rules; a long soak with robots fighting in a maze.
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
battle_draw fly(int t) {
    battle_draw d;
    for (int i = 0; i < 400 && (ttl[t].status & ST_BULLET); i++) d = battle_frame()[t];
    EXPECT_FALSE(ttl[t].status & ST_BULLET) << "the bullet still flies";
    return d;
}

std::vector<std::pair<int, int>> disconnected;

struct Combat : testing::Test {
    void SetUp() override {
        disconnected.clear();
        set_world_links({.disconnect = [](int t, int cl) { disconnected.emplace_back(t, cl); }});
    }
    void TearDown() override { set_world_links({}); }
};

}  // namespace

TEST_F(Combat, FiringCostsAPointOneShotAtATimeAndBulletsEnd) {
    place(0, 0, 0, 0);
    ASSERT_EQ(turtle_fire(0), 0);
    battle_frame();
    EXPECT_EQ(turtle_fire(0), 0);  // still flying: nothing fired
    EXPECT_TRUE(ttl[0].score == 99 && ttl[0].bullet == (position{2, 0}));

    // The boundary wall ends it with a burst; the flash there runs from that frame for 25.
    const battle_draw end = fly(0);
    EXPECT_TRUE(end.burst && end.burst_at.x > Xmax - 5.0 && end.burst_at.x <= Xmax - 3.0);
    EXPECT_TRUE(end.flash_at == end.bullet_at && end.flash_alpha() == 1.0);
    for (int k = 24; k >= 1; k--) {
        EXPECT_EQ(turtle_fire(0), 0);  // no shot during the flash
        ASSERT_EQ(battle_frame()[0].flash_bttf, k);
    }
    EXPECT_TRUE(ttl[0].score == 99 && turtle_fire(0) == 0 && ttl[0].score == 98);

    // With no walls the field's edge alone ends a bullet; the last point leaves no shot.
    reset_world();
    nwall = 0;
    place(0, 250, 0, 0);
    ttl[0].score = 1;
    ASSERT_EQ(turtle_fire(0), 0);
    EXPECT_EQ(fly(0).burst_at, (position{258, 0}));
    for (int k = 0; k < 25; k++) battle_frame();
    EXPECT_EQ(turtle_fire(0), -1);
    ttl[0].score = 5;
    ttl[0].status |= ST_ZOMBIE;
    EXPECT_EQ(turtle_fire(0), -1);
}

TEST_F(Combat, HitsMovePointsAndKillsExplodeFor50Frames) {
    place(0, 0, 0, 0);
    place(1, 30, 0);
    place(2, 60, 0);
    ttl[1].score = 30;  // hit to exactly 0: it lives, the shooter flashes
    ASSERT_EQ(turtle_fire(0), 0);
    EXPECT_EQ(fly(0).flash_bttf, HIT_FLASH_FRAMES);
    EXPECT_TRUE(ttl[1].score == 0 && ttl[1].ttl == 0 && ttl[1].event == EV_HIT);
    EXPECT_TRUE(ttl[0].score == 110 && ttl[2].score == 100);

    // 29 points: a kill, no flash; slot 1 explodes from that frame on (it steps after slot 0)
    // and is transparent meanwhile: the next bullet hits slot 2 behind it.
    ttl[0].bttf = 0;
    ttl[1].score = 29;
    ASSERT_EQ(turtle_fire(0), 0);
    int fireballs = 0, frames = 0;
    while (ttl[1].status & ST_ALIVE) {
        const battle_draw e = battle_frame()[1];
        if (frames == 0 && e.explosion_ttl == 0) continue;
        ASSERT_EQ(e.explosion_ttl, EXPLOSION_FRAMES - frames);
        EXPECT_EQ(e.explosion_at, ttl[1].pos[0]);
        fireballs += e.fireball() ? 1 : 0;
        if (frames++ == 0) {
            EXPECT_TRUE(ttl[1].score == 0 && ttl[0].score == 120 && ttl[0].bttf == 0);
            start_to_kill(1);  // does not restart the countdown
            ASSERT_EQ(turtle_fire(0), 0);
        }
    }
    EXPECT_TRUE(fireballs == 15 && frames == EXPLOSION_FRAMES);
    EXPECT_TRUE(ttl[2].score == 70 && ttl[0].score == 130);
    EXPECT_EQ(disconnected, (std::vector<std::pair<int, int>>{{1, 1}}));
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

    // A stone ends the bullet with a flash; a doughnut explodes and pays only from close by,
    // and never to a shooter whose slot was freed; a freed shooter's bullet still hits.
    const struct {
        uint32_t kind;
        double at;
        bool freed;
        int score, bttf;  // a freed slot's flash does not count down
    } cases[] = {{ST_STONE, 20, false, 99, 24}, {ST_DOUGHNUT, 30, false, 110, 0},
                 {ST_DOUGHNUT, 50, false, 99, 0}, {ST_DOUGHNUT, 30, true, 99, 0},
                 {0, 30, true, 110, 25}};
    for (const auto &c : cases) {
        reset_world();
        place(0, 0, 0, 0);
        place(1, c.at, 0, 0, c.kind);
        ASSERT_EQ(turtle_fire(0), 0);
        if (c.freed) ttl[0].status &= ~ST_ALIVE;
        fly(0);
        EXPECT_TRUE(ttl[0].score == c.score && ttl[0].bttf == c.bttf) << c.at;
        EXPECT_EQ(ttl[1].ttl > 0, c.kind == ST_DOUGHNUT) << c.at;
        EXPECT_EQ(ttl[1].score, c.kind == 0 ? 70 : 100) << c.at;
    }
}

TEST_F(Combat, RobotsTurnAtTheMarginAndStayWhereARefusedStepLeavesThem) {
    srandom(3);
    place(0, 245.9, 0, 0, ST_SYSTEM);  // the next step would enter the margin: a turn instead
    update_robot(0);
    EXPECT_TRUE(ttl[0].pos[0] == (position{245.9, 0}) && ttl[0].heading != 0.0 &&
                std::fabs(ttl[0].heading) <= 50.0);
    for (int battle : {0, 1}) {  // blocked: it stays and turns round (by 3 at most in battle)
        reset_world();
        if (battle) field_set_battle_mode();
        place(0, 0, 0, 0, ST_SYSTEM);
        place(1, 20.1, 0);
        update_robot(0);
        const double turned = ttl[0].heading;
        EXPECT_EQ(ttl[0].pos[0], (position{0, 0}));
        EXPECT_TRUE(battle ? turned == 3.0 : turned >= 175.0 && turned <= 185.0) << turned;
    }
    ttl[0].score = 0;  // in battle without points every step and turn is refused
    ttl[1].status = 0;
    for (int i = 0; i < 500; i++) battle_frame();
    EXPECT_TRUE(ttl[0].pos[0] == (position{0, 0}) && ttl[0].pos[1] == (position{0, 0}));
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
    const int first = ntmax;  // after the maze's doughnuts
    for (int t = first; t < first + 20; t++) spawn_robot(t);
    field_scatter_coin(150);
    int lost = 0, kills = 0, shots = 0, picks = 0;
    for (int frame = 0; frame < 20000; frame++) {
        for (const battle_draw &d : battle_frame()) kills += d.explosion_ttl == 1;
        for (int t = first; t < first + 20; t++) {
            const turtle &u = ttl[t];
            shots += (u.status & ST_BULLET) && u.bttf == 0 && u.bullet == u.pos[0];
            if (!(ttl[t].status & ST_ALIVE)) {
                lost += ttl[t].ncoin;  // a new robot in the slot starts with none
                spawn_robot(t);
            }
        }
        const int r = first + static_cast<int>(random() % 20), had = ttl[r].ncoin;
        const int op = static_cast<int>(random() % 8);
        op == 0 ? field_scatter_coin(1) : op == 1 ? turtle_borrow_coin(r)
                : op == 2 ? turtle_drop_coin(r) : turtle_pick_coin(r);
        picks += op > 2 && ttl[r].ncoin > had;

        std::vector<int> stack;  // the orders on the field: 0 .. k - 1 without gaps
        for (int c = 0; c < ncoin; c++) {
            if (coins[c].status & COIN_ON_FIELD) stack.push_back(coins[c].order);
        }
        std::sort(stack.begin(), stack.end());
        for (std::size_t i = 0; i < stack.size(); i++) ASSERT_EQ(stack[i], int(i)) << frame;
        int held = 0;
        for (const turtle &t : ttl) {
            held += t.ncoin;
            ASSERT_GE(t.score, 0) << "frame " << frame;
        }
        ASSERT_EQ(stock_of_coin + int(stack.size()) + held + lost, COIN_TREASURY) << frame;
        for (int t = first; t < first + 20; t++) {
            const position p = ttl[t].pos[0];
            ASSERT_TRUE(p.x >= Xmin + 10 && p.x <= Xmax - 10 && p.y >= Ymin + 10 &&
                        p.y <= Ymax - 10) << "robot " << t << " frame " << frame;
        }
    }
    EXPECT_TRUE(kills > 0 && picks > 0 && shots > 20) << kills << " " << picks << " " << shots;
}
