// unit_pen.cpp: pen, floor text, team messages and events of a turtle; refused slot numbers.
#include <string>
#include <vector>

#include "kelpmoor.h"
#include "support.h"
#include "turtle.h"

namespace {

void place(int tid, double x, double y, int team = 0) {
    init_turtle(tid, tid, x, y, 0.0);
    ttl[tid].team = team;
    ntmax = tid >= ntmax ? tid + 1 : ntmax;
}

// The board text as a client reads it: into 129 zeroed bytes on the heap, so that the
// sanitizer build catches a write past them.
std::string read_board(int tid, unsigned int *time) {
    std::vector<char> buf(129, 0);
    EXPECT_EQ(qt_team_msg(tid, time, buf.data()), 0);
    EXPECT_EQ(buf[128], '\0');
    return std::string(buf.data());
}

// Bytes of s from `from` to the end are all zero.
template <std::size_t N> bool zero_tail(const char (&s)[N], std::size_t from) {
    return std::string(s + from, N - from) == std::string(N - from, '\0');
}

}  // namespace

TEST(Pen, PenDownRestartsTheStrokeAndPenUpMarksTheLift) {
    reset_world();
    place(0, 0, 0);
    EXPECT_EQ(turtle_pen_up(0), 0);  // not down: no lift to close
    EXPECT_EQ(ttl[0].status & (ST_PEN_DOWN | ST_PEN_LIFTED), 0u);
    EXPECT_EQ(turtle_pen_down(0), 0);
    for (int i = 0; i < NHISTORY; i++) {  // a stroke in progress
        ttl[0].pos[i] = {10.0 * i + 1, -3.0 * i};
        ttl[0].col[i] = {0.1 * i, 0.5, 1.0 - 0.1 * i};
        ttl[0].width[i] = 1.0 + i;
    }
    ttl[0].nstroke = 5;
    EXPECT_EQ(turtle_pen_down(0), 0);  // already down: every entry becomes the current one
    EXPECT_TRUE((ttl[0].status & ST_PEN_DOWN) && ttl[0].nstroke == 0);
    for (int i = 0; i < NHISTORY; i++) {
        EXPECT_TRUE(ttl[0].pos[i].x == 1.0 && ttl[0].pos[i].y == 0.0 && ttl[0].col[i].r == 0.0 &&
                    ttl[0].col[i].b == 1.0 && ttl[0].width[i] == 1.0)
            << "entry " << i;
    }
    EXPECT_EQ(turtle_pen_up(0), 0);
    EXPECT_EQ(ttl[0].status & (ST_PEN_DOWN | ST_PEN_LIFTED), ST_PEN_LIFTED);
}

TEST(Pen, PrintedTextIsAtMost127Characters) {
    reset_world();
    place(0, 0, 0);
    const std::string ok(127, 'a');
    EXPECT_EQ(turtle_print_string(0, ok.c_str()), 0);
    EXPECT_EQ(turtle_print_string(0, std::string(128, 'b').c_str()), -1);
    EXPECT_EQ(std::string(ttl[0].msg), ok);
    EXPECT_EQ(turtle_print_string(0, "hi"), 0);
    EXPECT_TRUE(zero_tail(ttl[0].msg, 2));
}

TEST(Pen, EventsAreReportedOnceAndMaskedOnesDiscarded) {
    reset_world();
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
    ASSERT_EQ(ttl[0].event & EV_BUMP_TURTLE, EV_BUMP_TURTLE);
    EXPECT_EQ(turtle_disable_event(0, EV_BUMP_TURTLE), 0);
    EXPECT_EQ(ttl[0].event & EV_BUMP_TURTLE, 0u);  // the pending bump is dropped
    bump();  // raised while masked: discarded by the next report
    ttl[0].event |= EV_COIN;
    EXPECT_EQ(turtle_get_and_reset_eventcode(0), EV_COIN);
    EXPECT_EQ(turtle_enable_event(0, EV_BUMP_TURTLE), 0);
    EXPECT_EQ(turtle_get_and_reset_eventcode(0), 0u);  // nothing from before the enable
    bump();
    EXPECT_EQ(turtle_get_and_reset_eventcode(0), EV_BUMP_TURTLE);
}

TEST(Pen, TeamMessageReachesOnlyLiveTeamMates) {
    reset_world();
    const int teams_of[6] = {3, 3, 3, 2, 0, 3};  // slot 0 posts; 2 is dead, 5 a zombie
    for (int t = 0; t < 6; ++t) place(t, -100 + 50.0 * t, 0, teams_of[t]);
    ttl[2].status &= ~ST_ALIVE;
    ttl[5].status |= ST_ZOMBIE;
    elapsed_time.store(1234);
    EXPECT_EQ(turtle_broadcast_message(0, "meet at the north wall"), 0);
    elapsed_time.store(1300);
    for (int t = 0; t < 6; ++t) {
        EXPECT_EQ(ttl[t].event & EV_TEAM_MSG, (t == 1 || t == 5) ? EV_TEAM_MSG : 0u) << t;
    }
    unsigned int time = 0;
    for (int reader : {0, 1, 1}) {  // reading does not consume the message
        EXPECT_EQ(read_board(reader, &time), "meet at the north wall");
        EXPECT_EQ(time, 1234u);
    }
    EXPECT_EQ(read_board(3, &time), "");
    EXPECT_EQ(time, 0u);

    std::string text(200, 'm');  // the board keeps 128 characters of a longer text
    text[127] = 'E';
    EXPECT_EQ(turtle_broadcast_message(0, text.c_str()), 0);
    EXPECT_EQ(read_board(1, &time), text.substr(0, 128));
    EXPECT_EQ(turtle_broadcast_message(0, "second"), 0);
    EXPECT_EQ(read_board(1, &time), "second");
    EXPECT_TRUE(zero_tail(teams[3].msg, 6));
}

// Pen and sensor calls alike refuse slot numbers outside the table and write no output.
TEST(Pen, TidOutsideTheTableIsRefused) {
    reset_world();
    std::vector<char> buf(129, 0);
    unsigned int time = 7;
    double x = 1, y = 1, dir = 1;
    int s = 1, yn = 1, team = 1, l = 1, f = 1, r = 1;
    for (int tid : {-1, NTURTLE, 1000}) {
        // A braced list is evaluated in order, so each output is read after its call.
        const std::vector<int> got = {
            turtle_set_team(tid, 1), turtle_set_color(tid, 0, 0, 0), turtle_line_width(tid, 2),
            turtle_pen_down(tid), turtle_pen_up(tid), turtle_set_brush(tid), turtle_name(tid, "n"),
            turtle_print_string(tid, "s"), turtle_enable_event(tid, 1),
            turtle_disable_event(tid, 1), turtle_broadcast_message(tid, "m"),
            qt_team_msg(tid, &time, buf.data()), int(turtle_get_and_reset_eventcode(tid)),
            qt_position(tid, &x, &y), qt_direction(tid, &dir),
            qt_angular_rader(tid, 0, &dir, &team), qt_alive(tid, &s), s, qt_my_team(tid),
            qt_finder(tid, &yn, &team), yn,
            qt_sonar(tid, &l, &f, &r), l + f + r, turtle_finder_range(tid, 50)};
        const std::vector<int> want = {-1, -1, -1, -1, -1, -1, 1, -1, -1, -1, -1, -1, 0,
                                       -1, -1, -1, 0,  0,  0,  0, 0,  0,  0,  1};
        EXPECT_EQ(got, want) << tid;
        EXPECT_EQ(dist_t2t(tid, 0), NO_HIT_DISTANCE);
    }
}
