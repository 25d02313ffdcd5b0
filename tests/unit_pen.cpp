// unit_pen.cpp: pen, line styles, team, name, floor text, team messages and events of a turtle.
#include <cstring>
#include <string>
#include <vector>

#include "kelpmoor.h"
#include "support.h"
#include "turtle.h"

namespace {

int place(int tid, double x, double y, int team = 0) {
    init_turtle(tid, tid, x, y, 0.0);
    ttl[tid].team = team;
    if (tid >= ntmax) ntmax = tid + 1;
    return tid;
}

// The board text as a client reads it: into 129 zeroed bytes on the heap, so that the
// sanitizer build catches a write past them.
std::string read_board(int tid, unsigned int *time) {
    std::vector<char> buf(129, 0);
    EXPECT_EQ(qt_team_msg(tid, time, buf.data()), 0);
    EXPECT_EQ(buf[128], '\0');
    return std::string(buf.data());
}

class Pen : public ::testing::Test {
protected:
    void SetUp() override { reset_world(); }
};

TEST_F(Pen, PenUpMarksTheLiftOnlyWhenThePenWasDown) {
    place(0, 0, 0);
    EXPECT_EQ(turtle_pen_up(0), 0);
    EXPECT_EQ(ttl[0].status & (ST_PEN_DOWN | ST_PEN_LIFTED), 0u);

    turtle_pen_down(0);
    EXPECT_EQ(ttl[0].status & ST_PEN_DOWN, ST_PEN_DOWN);
    EXPECT_EQ(turtle_pen_up(0), 0);
    EXPECT_EQ(ttl[0].status & (ST_PEN_DOWN | ST_PEN_LIFTED), ST_PEN_LIFTED);

    ttl[0].status &= ~ST_PEN_LIFTED;  // as the brush painter does
    turtle_pen_up(0);
    EXPECT_EQ(ttl[0].status & ST_PEN_LIFTED, 0u);
}

TEST_F(Pen, PenDownAlwaysRestartsTheStroke) {
    place(0, 0, 0);
    for (int round = 0; round < 2; round++) {  // the second pen down, with the pen already down
        for (int i = 0; i < NHISTORY; i++) {
            ttl[0].pos[i] = {10.0 * i + round, -3.0 * i};
            ttl[0].col[i] = {0.1 * i, 0.5, 1.0 - 0.1 * i};
            ttl[0].width[i] = 1.0 + i;
        }
        ttl[0].nstroke = 5;
        EXPECT_EQ(turtle_pen_down(0), 0);
        EXPECT_EQ(ttl[0].nstroke, 0);
        for (int i = 0; i < NHISTORY; i++) {
            SCOPED_TRACE(i);
            EXPECT_EQ(ttl[0].pos[i].x, double(round));
            EXPECT_EQ(ttl[0].pos[i].y, 0.0);
            EXPECT_EQ(ttl[0].col[i].r, 0.0);
            EXPECT_EQ(ttl[0].col[i].b, 1.0);
            EXPECT_EQ(ttl[0].width[i], 1.0);
        }
    }
}


TEST_F(Pen, ColourWidthAndTeam) {
    place(0, 0, 0);
    EXPECT_EQ(turtle_set_color(0, 0.2, 0.4, 0.6), 0);
    EXPECT_EQ(ttl[0].col[0].r, 0.2);
    EXPECT_EQ(ttl[0].col[0].g, 0.4);
    EXPECT_EQ(ttl[0].col[0].b, 0.6);
    EXPECT_EQ(ttl[0].col[1].r, 1.0);  // the history is the painter's, not touched here
    EXPECT_EQ(turtle_line_width(0, 7.5), 0);
    EXPECT_EQ(ttl[0].width[0], 7.5);

    for (int team : {0, 5, -1}) {  // team 0 cannot be chosen, nor anything outside 1..4
        EXPECT_EQ(turtle_set_team(0, team), 0);
        EXPECT_EQ(ttl[0].team, 0);
    }
    EXPECT_EQ(turtle_set_team(0, 4), 0);
    EXPECT_EQ(ttl[0].team, 4);
    EXPECT_EQ(turtle_set_team(0, 0), 0);
    EXPECT_EQ(turtle_set_team(0, 5), 0);
    EXPECT_EQ(ttl[0].team, 4);
}

TEST_F(Pen, ZombieKeepsColourNameTeamAndTextButNotPen) {
    place(0, 0, 0, 2);
    turtle_name(0, "before");
    ttl[0].status |= ST_ZOMBIE;
    EXPECT_EQ(turtle_set_color(0, 0, 1, 0), -1);
    EXPECT_EQ(ttl[0].col[0].r, 1.0);
    EXPECT_EQ(ttl[0].col[0].g, 0.0);
    EXPECT_EQ(turtle_name(0, "after"), 1);
    EXPECT_STREQ(ttl[0].name, "before");
    EXPECT_EQ(turtle_set_team(0, 3), -1);
    EXPECT_EQ(ttl[0].team, 2);
    EXPECT_EQ(turtle_print_string(0, "hello"), -1);
    EXPECT_STREQ(ttl[0].msg, "");

    EXPECT_EQ(turtle_pen_down(0), 0);
    EXPECT_EQ(ttl[0].status & ST_PEN_DOWN, ST_PEN_DOWN);
    EXPECT_EQ(turtle_line_width(0, 3.0), 0);
    EXPECT_EQ(ttl[0].width[0], 3.0);
    EXPECT_EQ(turtle_set_brush(0), 0);
    EXPECT_EQ(ttl[0].status & ST_BRUSH_MODE, ST_BRUSH_MODE);
}

TEST_F(Pen, PrintedTextIsAtMost127Characters) {
    place(0, 0, 0);
    const std::string ok(127, 'a');
    EXPECT_EQ(turtle_print_string(0, ok.c_str()), 0);
    EXPECT_EQ(std::string(ttl[0].msg), ok);

    for (std::size_t len : {128, 129, 5000}) {
        const std::string too_long(len, 'b');
        EXPECT_EQ(turtle_print_string(0, too_long.c_str()), -1);
        EXPECT_EQ(std::string(ttl[0].msg), ok);
    }
    EXPECT_EQ(turtle_print_string(0, "hi"), 0);
    EXPECT_STREQ(ttl[0].msg, "hi");
    for (std::size_t i = 2; i < sizeof ttl[0].msg; i++) ASSERT_EQ(ttl[0].msg[i], '\0') << i;
}

TEST_F(Pen, NameIsCutAt128AndPaddedWithZeros) {
    place(0, 0, 0);
    std::string long_name(300, 'x');
    for (int i = 0; i < 300; i++) long_name[i] = char('a' + i % 26);
    EXPECT_EQ(turtle_name(0, long_name.c_str()), 0);
    EXPECT_EQ(std::string(ttl[0].name), long_name.substr(0, 128));

    EXPECT_EQ(turtle_name(0, "bob"), 0);
    EXPECT_STREQ(ttl[0].name, "bob");
    for (std::size_t i = 3; i < sizeof ttl[0].name; i++) ASSERT_EQ(ttl[0].name[i], '\0') << i;
}

TEST_F(Pen, EventsAreReportedOnceAndMaskedOnesDiscarded) {
    place(0, 0, 0);
    place(1, 20, 0);  // touching, straight ahead: every forward step bumps
    EXPECT_EQ(turtle_step_forward(0, 1.0), -1);
    ttl[0].event |= EV_COIN;
    EXPECT_EQ(turtle_get_and_reset_eventcode(0), EV_BUMP_TURTLE | EV_COIN);
    EXPECT_EQ(turtle_get_and_reset_eventcode(0), 0u);

    turtle_turn(0, 1.0);  // clears the contact latch, so the next bump raises the event again
    turtle_turn(0, -1.0);
    EXPECT_EQ(turtle_step_forward(0, 1.0), -1);
    ASSERT_EQ(ttl[0].event & EV_BUMP_TURTLE, EV_BUMP_TURTLE);
    EXPECT_EQ(turtle_disable_event(0, EV_BUMP_TURTLE), 0);
    EXPECT_EQ(ttl[0].event & EV_BUMP_TURTLE, 0u);  // the pending bump is dropped
    ttl[0].event |= EV_COIN;
    EXPECT_EQ(turtle_get_and_reset_eventcode(0), EV_COIN);

    turtle_turn(0, 1.0);
    turtle_turn(0, -1.0);
    turtle_step_forward(0, 1.0);  // raised while masked: discarded by the next report
    EXPECT_EQ(turtle_get_and_reset_eventcode(0), 0u);
    EXPECT_EQ(turtle_enable_event(0, EV_BUMP_TURTLE), 0);
    EXPECT_EQ(turtle_get_and_reset_eventcode(0), 0u);  // nothing from before the enable

    turtle_turn(0, 1.0);
    turtle_turn(0, -1.0);
    turtle_step_forward(0, 1.0);
    EXPECT_EQ(turtle_get_and_reset_eventcode(0), EV_BUMP_TURTLE);
}

TEST_F(Pen, TeamMessageReachesOnlyLiveTeamMates) {
    place(0, -100, 0, 3);  // the poster
    place(1, -50, 0, 3);
    place(2, 0, 0, 3);
    place(3, 50, 0, 2);
    place(4, 100, 0, 0);
    place(5, 150, 0, 3);
    ttl[2].status &= ~ST_ALIVE;
    ttl[5].status |= ST_ZOMBIE;  // still live, so it hears its team
    elapsed_time.store(1234);

    EXPECT_EQ(turtle_broadcast_message(0, "meet at the north wall"), 0);
    elapsed_time.store(1300);
    EXPECT_EQ(ttl[0].event & EV_TEAM_MSG, 0u);
    EXPECT_EQ(ttl[1].event & EV_TEAM_MSG, EV_TEAM_MSG);
    EXPECT_EQ(ttl[2].event & EV_TEAM_MSG, 0u);
    EXPECT_EQ(ttl[3].event & EV_TEAM_MSG, 0u);
    EXPECT_EQ(ttl[4].event & EV_TEAM_MSG, 0u);
    EXPECT_EQ(ttl[5].event & EV_TEAM_MSG, EV_TEAM_MSG);

    unsigned int time = 0;
    for (int reader : {0, 1, 1}) {  // reading does not consume the message
        EXPECT_EQ(read_board(reader, &time), "meet at the north wall");
        EXPECT_EQ(time, 1234u);
    }
    EXPECT_EQ(read_board(3, &time), "");
    EXPECT_EQ(time, 0u);
    EXPECT_EQ(read_board(4, &time), "");
}

TEST_F(Pen, TeamBoardKeepsTheLatest128Characters) {
    place(0, 0, 0, 1);
    std::string text(200, 'm');
    text[127] = 'E';
    EXPECT_EQ(turtle_broadcast_message(0, text.c_str()), 0);
    EXPECT_EQ(std::strlen(teams[1].msg), 128u);
    unsigned int time;
    EXPECT_EQ(read_board(0, &time), text.substr(0, 128));

    EXPECT_EQ(turtle_broadcast_message(0, "short"), 0);
    EXPECT_EQ(read_board(0, &time), "short");
    for (std::size_t i = 5; i < sizeof teams[1].msg; i++) ASSERT_EQ(teams[1].msg[i], '\0') << i;
}

TEST_F(Pen, LockedBoardRefusesPosting) {
    place(0, 0, 0, 2);
    place(1, 30, 0, 2);
    turtle_broadcast_message(0, "first");
    ttl[1].event = 0;
    teams[2].status |= 0x1;
    EXPECT_EQ(turtle_broadcast_message(0, "second"), -1);
    EXPECT_STREQ(teams[2].msg, "first");
    EXPECT_EQ(ttl[1].event, 0u);
    refresh_teaminfo();
    EXPECT_EQ(turtle_broadcast_message(0, "second"), 0);
    EXPECT_STREQ(teams[2].msg, "second");
}

TEST_F(Pen, TidOutsideTheTableIsRefused) {
    std::vector<char> buf(129, 0);
    unsigned int time = 7;
    for (int tid : {-1, NTURTLE, 1000}) {
        EXPECT_EQ(turtle_set_team(tid, 1), -1);
        EXPECT_EQ(turtle_set_color(tid, 0, 0, 0), -1);
        EXPECT_EQ(turtle_line_width(tid, 2), -1);
        EXPECT_EQ(turtle_pen_down(tid), -1);
        EXPECT_EQ(turtle_pen_up(tid), -1);
        EXPECT_EQ(turtle_set_brush(tid), -1);
        EXPECT_EQ(turtle_name(tid, "n"), 1);
        EXPECT_EQ(turtle_print_string(tid, "s"), -1);
        EXPECT_EQ(turtle_broadcast_message(tid, "m"), -1);
        EXPECT_EQ(qt_team_msg(tid, &time, buf.data()), -1);
        EXPECT_EQ(turtle_enable_event(tid, 1), -1);
        EXPECT_EQ(turtle_disable_event(tid, 1), -1);
        EXPECT_EQ(turtle_get_and_reset_eventcode(tid), 0u);
    }
}

}  // namespace
