// unit_battle.cpp: firing, bullets, hits, explosions, flashes and robots through the frame's
// rules, and a long soak of robots fighting in a maze while coins change hands.
#include "support.h"
#include "world/battle.h"
#include "world/coins.h"
#include "world/frame_rules.h"

namespace {

std::array<battle_draw, NTURTLE> battle_frame() {  // each slot's report, by slot
    static frame_report rep;
    field_advance_frame(rep);
    std::array<battle_draw, NTURTLE> d{};
    for (int i = 0; i < rep.nslots; i++) d[rep.slots[i].tid] = rep.slots[i].battle;
    return d;
}

battle_draw fly(int t) {  // frames until slot t's bullet ends; the last frame's report
    battle_draw d;
    for (int i = 0; i < 400 && (ttl[t].status & ST_BULLET); i++) d = battle_frame()[t];
    EXPECT_FALSE(ttl[t].status & ST_BULLET);
    return d;
}

std::vector<std::pair<int, int>> gone;  // disconnect_client_for's calls
struct Combat : testing::Test {
    void SetUp() override {
        gone.clear();
        set_world_links({.disconnect = [](int t, int cl) { gone.emplace_back(t, cl); }});
    }
    void TearDown() override { set_world_links({}); }
};

}  // namespace

TEST_F(Combat, OneShotAtATimeEachForAPointAndEveryBulletEnds) {
    place(0, 0, 0, 0);
    ASSERT_EQ(turtle_fire(0), 0);
    battle_frame();
    EXPECT_TRUE(turtle_fire(0) == 0 && ttl[0].score == 99 && ttl[0].bullet == (position{2, 0}));
    const battle_draw end = fly(0);  // at the boundary wall: a burst, then a 25-frame flash
    EXPECT_TRUE(end.burst && end.burst_at.x > Xmax - 5 && end.flash_at == end.bullet_at);
    for (int k = 24; k >= 1; k--) {
        EXPECT_EQ(turtle_fire(0), 0);
        ASSERT_EQ(battle_frame()[0].flash_bttf, k);
    }
    EXPECT_TRUE(ttl[0].score == 99 && turtle_fire(0) == 0 && ttl[0].score == 98);

    reset_world();  // no walls: the field's edge ends it; the last point leaves no shot
    nwall = 0;
    place(0, 250, 0, 0);
    ttl[0].score = 1;
    ASSERT_EQ(turtle_fire(0), 0);
    EXPECT_EQ(fly(0).burst_at, (position{258, 0}));
    for (int k = 0; k < 25; k++) battle_frame();
    EXPECT_EQ(turtle_fire(0), -1);
}

TEST_F(Combat, HitsMovePointsAndKillsExplodeTransparentlyFor50Frames) {
    place(0, 0, 0, 0);
    place(1, 30, 0);
    place(2, 60, 0);
    ttl[1].score = 30;  // to exactly 0: it lives, the shooter flashes
    ASSERT_EQ(turtle_fire(0), 0);
    EXPECT_EQ(fly(0).flash_bttf, HIT_FLASH_FRAMES);
    EXPECT_TRUE(ttl[1].score == 0 && ttl[1].ttl == 0 && ttl[1].event == EV_HIT);
    EXPECT_TRUE(ttl[0].score == 110 && ttl[2].score == 100);

    // 29: a kill and no flash; slot 1 explodes from that frame on (it steps after slot 0),
    // and the next bullet flies through it to slot 2.
    ttl[0].bttf = 0;
    ttl[1].score = 29;
    ASSERT_EQ(turtle_fire(0), 0);
    int fireballs = 0, frames = 0;
    while (ttl[1].status & ST_ALIVE) {
        const battle_draw e = battle_frame()[1];
        if (frames == 0 && e.explosion_ttl == 0) continue;
        ASSERT_EQ(e.explosion_ttl, EXPLOSION_FRAMES - frames);
        fireballs += e.fireball();
        if (frames++ == 0) {
            EXPECT_TRUE(ttl[0].score == 120 && ttl[0].bttf == 0);
            start_to_kill(1);  // no restart
            ASSERT_EQ(turtle_fire(0), 0);
        }
    }
    EXPECT_TRUE(fireballs == 15 && frames == EXPLOSION_FRAMES && ttl[2].score == 70);
    EXPECT_EQ(gone, (std::vector<std::pair<int, int>>{{1, 1}}));
}

TEST_F(Combat, WallsStonesDoughnutsAndFreedShooters) {
    setup_wall(6, -50, 6, 50, -1, 0, 0);  // the first point is at the wall and near slot 1
    place(0, 0, 0, 0);
    place(1, 8, 5);
    ASSERT_EQ(turtle_fire(0), 0);
    const battle_draw d = battle_frame()[0];
    EXPECT_TRUE(d.burst && d.burst_at == (position{2, 0}) && d.bullet_at == (position{0, 0}));
    EXPECT_TRUE(ttl[1].score == 70 && ttl[0].score == 110);

    const struct {
        uint32_t kind;
        double at;
        bool freed;  // the shooter's slot freed while its bullet flies
        int score, bttf, target_score;
    } cases[] = {{ST_STONE, 20, false, 99, 24, 100},
                 {ST_DOUGHNUT, 30, false, 110, 0, 100},
                 {ST_DOUGHNUT, 50, false, 99, 0, 100},
                 {ST_DOUGHNUT, 30, true, 99, 0, 100},
                 {0, 30, true, 110, 25, 70}};
    for (const auto &c : cases) {
        reset_world();
        place(0, 0, 0, 0);
        place(1, c.at, 0, 0, c.kind);
        ASSERT_EQ(turtle_fire(0), 0);
        if (c.freed) ttl[0].status &= ~ST_ALIVE;
        fly(0);
        EXPECT_TRUE(ttl[0].score == c.score && ttl[0].bttf == c.bttf) << c.at << c.freed;
        EXPECT_TRUE((ttl[1].ttl > 0) == (c.kind == ST_DOUGHNUT) && ttl[1].score == c.target_score);
    }
}

TEST_F(Combat, RobotsTurnAtTheMarginAndStayWhereARefusedStepLeavesThem) {
    srandom(3);
    place(0, 245.9, 0, 0, ST_SYSTEM);  // the next step would enter the margin: a turn instead
    update_robot(0);
    EXPECT_TRUE(ttl[0].pos[0] == (position{245.9, 0}) && std::fabs(ttl[0].heading) <= 50.0);
    reset_world();
    field_set_battle_mode();
    place(0, 0, 0, 0, ST_SYSTEM);
    place(1, 20.1, 0);  // blocked: it stays and turns (3 degrees at most in battle)
    update_robot(0);
    EXPECT_TRUE(ttl[0].pos[0] == (position{0, 0}) && ttl[0].heading == 3.0);
    ttl[0].score = 0;  // then every step and turn is refused: it stays for good
    ttl[1].status = 0;
    for (int i = 0; i < 500; i++) battle_frame();
    EXPECT_TRUE(ttl[0].pos[0] == (position{0, 0}) && ttl[0].pos[1] == (position{0, 0}));
}

// 20 robots in a full maze for 20,000 frames: inside the margin, no negative score, and every
// coin in the bank, on the floor, held, or lost with a dead robot's slot.
TEST_F(Combat, SoakTwentyRobotsInAFullMaze) {
    srandom(2026);
    field_set_maze_mode();
    const auto spawn = [](int slot) {
        double x, y;
        do x = 470 * (drand() - 0.5), y = 470 * (drand() - 0.5);
        while (dist_to_wall_from(x, y) <= 12 || dist_to_nn_from(-1, x, y) <= 21);
        init_turtle(slot, -1, x, y, 360 * drand());
        ntmax = std::max(ntmax, slot + 1);
    };
    const int first = ntmax, last = first + 20;  // after the maze's doughnuts
    for (int t = first; t < last; t++) spawn(t);
    field_scatter_coin(150);
    int lost = 0, kills = 0, picks = 0;
    for (int frame = 0; frame < 20000; frame++) {
        for (const battle_draw &d : battle_frame()) kills += d.explosion_ttl == 1;
        const int r = first + static_cast<int>(random() % 20), had = ttl[r].ncoin;
        const long op = random() % 8;
        op == 0   ? field_scatter_coin(1)
        : op == 1 ? turtle_borrow_coin(r)
        : op == 2 ? turtle_drop_coin(r)
                  : turtle_pick_coin(r);
        picks += op > 2 && ttl[r].ncoin > had;
        int coins_out = stock_of_coin + lost;
        for (int c = 0; c < ncoin; c++) coins_out += (coins[c].status & COIN_ON_FIELD) != 0;
        for (int t = 0; t < NTURTLE; t++) {
            coins_out += ttl[t].ncoin;
            ASSERT_GE(ttl[t].score, 0) << frame;
            const position p = ttl[t].pos[0];
            ASSERT_TRUE(
                t < first || t >= last ||
                (p.x >= Xmin + 10 && p.x <= Xmax - 10 && p.y >= Ymin + 10 && p.y <= Ymax - 10))
                << "robot " << t << " frame " << frame;
            if (t >= first && t < last && !(ttl[t].status & ST_ALIVE)) {
                lost += ttl[t].ncoin;  // a new robot takes the slot, with nothing
                spawn(t);
            }
        }
        ASSERT_EQ(coins_out, COIN_TREASURY) << frame;
    }
    EXPECT_TRUE(kills > 0 && picks > 0) << kills << " " << picks;
}
