// unit_pen_sensors.cpp: what a turtle does besides moving and what it can learn: pen, team
// messages and events; finder, sonar and angular radar; refused slot numbers for all of them.
#include "support.h"

namespace {

// The board's text and time as a client reads them: into 129 zeroed bytes on the heap, so that
// the sanitizer build catches a write past them.
std::pair<std::string, unsigned> read_board(int tid) {
    std::vector<char> buf(129, 0);
    unsigned int time = 7;
    EXPECT_EQ(qt_team_msg(tid, &time, buf.data()), 0);
    EXPECT_EQ(buf[128], '\0');
    return {buf.data(), time};
}

// A two-sided wall x = wx, y in [-100, 100], its front facing -x.
void vertical_wall(double wx) {
    setup_wall(wx, -100, wx, 100, -1, 0, 0);
    setup_wall(wx, 100, wx, -100, 1, 0, WALL_BACK_FACE);
}

// Slot 0's finder as yn * 10 + team, and its sonar as left * 100 + front * 10 + right.
int finder0() {
    int yn = -1, team = -1;
    EXPECT_EQ(qt_finder(0, &yn, &team), 0);
    return yn * 10 + team;
}
int sonar0() {
    int l = -1, f = -1, r = -1;
    EXPECT_EQ(qt_sonar(0, &l, &f, &r), 0);
    return l * 100 + f * 10 + r;
}

}  // namespace

// Pen down restarts the stroke, pen up marks the lift; events are reported once and masked
// ones discarded; a team message reaches only the live team mates.
TEST(Pen, PenStrokesEventsAndTeamMessages) {
    place(0, 0, 0);
    const auto pen_bits = [] { return ttl[0].status & (ST_PEN_DOWN | ST_PEN_LIFTED); };
    EXPECT_TRUE(turtle_pen_up(0) == 0 && pen_bits() == 0u);  // not down: no lift to close
    EXPECT_EQ(turtle_pen_down(0), 0);
    fill_history(0);
    ttl[0].nstroke = 5;
    EXPECT_EQ(turtle_pen_down(0), 0);  // already down: every entry becomes the current one
    EXPECT_TRUE(pen_bits() == ST_PEN_DOWN && ttl[0].nstroke == 0);
    for (int i = 0; i < NHISTORY; i++) {
        EXPECT_TRUE(ttl[0].pos[i].x == 1.0 && ttl[0].pos[i].y == 0.0 && ttl[0].col[i].r == 0.0 &&
                    ttl[0].col[i].b == 1.0 && ttl[0].width[i] == 1.0)
            << "entry " << i;
    }
    EXPECT_TRUE(turtle_pen_up(0) == 0 && pen_bits() == ST_PEN_LIFTED);

    place(0, 0, 0);
    place(1, 20, 0);  // touching, straight ahead: every forward step bumps
    auto bump = [] {  // turning first clears the contact latch, so each bump raises the event
        turtle_turn(0, 1.0);
        turtle_turn(0, -1.0);
        EXPECT_EQ(turtle_step_forward(0, 1.0), -1);
    };
    bump();
    ttl[0].event |= EV_COIN;
    EXPECT_EQ(turtle_get_and_reset_eventcode(0), EV_BUMP_TURTLE | EV_COIN);
    EXPECT_EQ(turtle_get_and_reset_eventcode(0), 0u);
    bump();
    // The pending bump is dropped.
    EXPECT_TRUE(turtle_disable_event(0, EV_BUMP_TURTLE) == 0 && !(ttl[0].event & EV_BUMP_TURTLE));
    bump();  // raised while masked: discarded by the next report
    ttl[0].event |= EV_COIN;
    EXPECT_EQ(turtle_get_and_reset_eventcode(0), EV_COIN);
    EXPECT_EQ(turtle_enable_event(0, EV_BUMP_TURTLE), 0);
    EXPECT_EQ(turtle_get_and_reset_eventcode(0), 0u);  // nothing from before the enable
    bump();
    EXPECT_EQ(turtle_get_and_reset_eventcode(0), EV_BUMP_TURTLE);

    // A team message reaches only the live team mates.
    const int teams_of[6] = {3, 3, 3, 2, 0, 3};  // slot 0 posts; 2 is dead, 5 a zombie
    for (int t = 0; t < 6; ++t) place(t, -100 + 50.0 * t, 0, 0, 0, teams_of[t]);
    ttl[2].status &= ~ST_ALIVE;
    ttl[5].status |= ST_ZOMBIE;
    elapsed_time.store(1234);
    EXPECT_EQ(turtle_broadcast_message(0, "meet at the north wall"), 0);
    elapsed_time.store(1300);
    for (int t = 0; t < 6; ++t) {
        EXPECT_EQ(ttl[t].event & EV_TEAM_MSG, (t == 1 || t == 5) ? EV_TEAM_MSG : 0u) << t;
    }
    for (int reader : {0, 1, 1}) {  // reading does not consume the message
        EXPECT_EQ(read_board(reader), std::pair(std::string("meet at the north wall"), 1234u));
    }
    EXPECT_EQ(read_board(3), std::pair(std::string(), 0u));

    std::string text(200, 'm');  // the board keeps 128 characters of a longer text
    text[127] = 'E';
    EXPECT_EQ(turtle_broadcast_message(0, text.c_str()), 0);
    EXPECT_EQ(read_board(1).first, text.substr(0, 128));
    EXPECT_EQ(turtle_broadcast_message(0, "second"), 0);
    EXPECT_EQ(read_board(1).first, "second");
    const std::size_t tail = sizeof teams[3].msg - 6;  // zeroed past the shorter text
    EXPECT_EQ(std::string(teams[3].msg + 6, tail), std::string(tail, '\0'));
}

// Pen and sensor calls alike refuse slot numbers outside the table (-1 each), or answer
// "nothing" for them.
TEST(Pen, TidOutsideTheTableIsRefused) {
    std::vector<char> buf(129, 0);
    unsigned int time = 7;
    double x = 1, y = 1, dir = 1;
    for (int tid : {-1, NTURTLE, 1000}) {
        int s = 1, yn = 1, team = 1, l = 1, f = 1, r = 1;
        EXPECT_EQ(turtle_set_team(tid, 1) + turtle_set_color(tid, 0, 0, 0) +
                      turtle_line_width(tid, 2) + turtle_pen_down(tid) + turtle_pen_up(tid) +
                      turtle_set_brush(tid) + turtle_print_string(tid, "s") +
                      turtle_enable_event(tid, 1) + turtle_disable_event(tid, 1) +
                      turtle_broadcast_message(tid, "m") + qt_team_msg(tid, &time, buf.data()) +
                      qt_position(tid, &x, &y) + qt_direction(tid, &dir) +
                      qt_angular_rader(tid, 0, &dir, &team),
                  -14)
            << tid;
        EXPECT_EQ(turtle_name(tid, "n") + turtle_finder_range(tid, 50), 2) << tid;
        EXPECT_EQ(int(turtle_get_and_reset_eventcode(tid)) + qt_alive(tid, &s) + qt_my_team(tid) +
                      qt_finder(tid, &yn, &team) + qt_sonar(tid, &l, &f, &r),
                  0)
            << tid;
        EXPECT_EQ(s + yn + l + f + r, 0) << "outputs written as nothing found, " << tid;
        EXPECT_EQ(dist_t2t(tid, 0), NO_HIT_DISTANCE);
    }
}

TEST(Sensors, FinderSonarAndRadar) {
    place(0, 0, 0);
    place(1, 15, 0, 0.0, ST_STONE);
    EXPECT_EQ(finder0(), 30);  // a stone, no team
    EXPECT_TRUE((ttl[1].event & EV_FINDER) && ttl[0].target_of_finder == 1);

    EXPECT_EQ(turtle_finder_range(0, 100.0), 0);
    place(1, 90, 0, 0.0, 0, 2);  // contact after 70
    EXPECT_EQ(finder0(), 12);    // a turtle of team 2
    ttl[1].pos[0] = {130, 0};    // contact after 110, beyond the range
    ttl[1].event = 0;
    EXPECT_TRUE(finder0() == 0 && ttl[1].event == 0u);

    turtle_finder_range(0, 200.0);
    vertical_wall(50);        // the body reaches it after 40
    ttl[1].pos[0] = {80, 0};  // contact after 60
    EXPECT_EQ(finder0(), 12);
    bounded_area_mode = 1;
    ttl[0].target_of_finder = -1;
    ttl[1].event = 0;
    EXPECT_EQ(finder0(), 40);  // a wall
    EXPECT_TRUE(ttl[0].target_of_finder == -1 && ttl[1].event == 0u);
    ttl[1].pos[0] = {30, 0};  // now the turtle is touched first (after 10)
    EXPECT_EQ(finder0(), 12);
    ttl[1].status = 0;
    turtle_finder_range(0, 30.0);  // the wall is beyond the range
    EXPECT_EQ(finder0(), 0);
    // Ties go to the wall: one exactly at the range's end is seen, and a turtle touched after
    // the same 40 as the wall is hidden behind it.
    turtle_finder_range(0, 40.0);
    EXPECT_EQ(finder0(), 40);
    ttl[1].status = ST_ALIVE;
    ttl[1].pos[0] = {60, 0};
    turtle_finder_range(0, 100.0);
    EXPECT_EQ(finder0(), 40);

    reset_world();                           // the sonar
    const double a = 35.0 / std::sqrt(2.0);  // 35 away at 45 degrees off the heading
    place(0, 0, 0);
    place(1, a, a);
    EXPECT_EQ(sonar0(), 100);
    ttl[1].pos[0] = {a, -a};
    EXPECT_EQ(sonar0(), 1);
    ttl[0].heading = 450.0;  // facing north, the thing is behind to the right
    EXPECT_EQ(sonar0(), 0);

    ttl[1].status = 0;  // walls count whatever the mode: 8 free ahead, about 11.3 at 45 degrees
    ttl[0].heading = 0.1;
    vertical_wall(18);
    EXPECT_EQ(sonar0(), 10);  // the side probes turn the turtle only for the probe:
    EXPECT_EQ(ttl[0].heading, 0.1);

    reset_world();  // the radar
    // The radar ranks five by distance, ties by the lower slot; its bearing is relative to the
    // heading, with bounded noise.
    place(0, 0, 0);
    place(1, 100, 0, 0.0, ST_STONE, 1);  // farthest, lowest slot
    place(2, 0, 30, 0.0, 0, 2);
    place(3, 0, -30, 0.0, 0, 3);  // as near as slot 2
    double dir;
    int team;
    for (int nb = 0; nb < 3; ++nb) {
        EXPECT_EQ(qt_angular_rader(0, nb, &dir, &team), 0);
        EXPECT_TRUE(team == (nb + 1) % 3 + 1 && ttl[0].target_of_rader == team) << nb;  // 2, 3, 1
    }
    EXPECT_EQ(ttl[1].event & EV_RADAR, EV_RADAR);
    ttl[3].event = 0;  // beyond the count: nothing reported, target and events untouched
    EXPECT_EQ(qt_angular_rader(0, 3, &dir, &team), -1);
    EXPECT_TRUE(team == 0 && ttl[0].target_of_rader == 1 && ttl[3].event == 0u);

    for (int t = 4; t <= 7; t++) place(t, 2.0 * t - 36.0, 0);  // nearer than all, at 36 - 2 t
    // Fifth: slot 2 before slot 3 at the same 30.
    EXPECT_TRUE(qt_angular_rader(0, 4, &dir, &team) == 0 && ttl[0].target_of_rader == 2);
    EXPECT_EQ(qt_angular_rader(0, 5, &dir, &team), -1);  // only five are ranked

    reset_world();  // the bearing of a single target
    place(0, 0, 0);
    place(1, 0, 0);
    const double cases[][4] = {
        // heading, target (x, y), bearing
        {0.0, 0, 50, 90.0},         // left is positive
        {0.0, 0, -50, -90.0},       // right is negative
        {350.0, 50, 50, 55.0},      // wraps across 0
        {890.0, -50, -1e-9, 10.0},  // heading beyond 360, target just under -180
        {-170.0, -50, 1e-9, -10.0},
    };
    for (const auto &c : cases) {
        ttl[0].heading = c[0];
        ttl[1].pos[0] = {c[1], c[2]};
        double sum = 0, lo = 1e9, hi = -1e9;
        for (int i = 0; i < 2000; i++) {
            ASSERT_EQ(qt_angular_rader(0, 0, &dir, &team), 0);
            sum += dir;
            lo = std::fmin(lo, dir);
            hi = std::fmax(hi, dir);
        }
        EXPECT_NEAR(sum / 2000, c[3], 1.5) << c[0];
        // Every draw within 20 degrees, and the noise spans nearly all of it.
        EXPECT_TRUE(lo >= c[3] - 20 && lo < c[3] - 18 && hi <= c[3] + 20 && hi > c[3] + 18)
            << c[0] << ": " << lo << ".." << hi;
    }
}
