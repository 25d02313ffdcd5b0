// turtle_pen.cpp: a turtle's pen, team, name, floor text, team messages and event word.
#include <cstring>

#include "world/turtle.h"
#include "world/world.h"

namespace {

inline constexpr std::size_t NAME_MAX_CHARS = 128;      // turtle::name holds 129 bytes
inline constexpr std::size_t PRINT_MAX_CHARS = 127;     // longest text turtle::msg accepts
inline constexpr std::size_t TEAM_MSG_MAX_CHARS = 128;  // stored on a board, and read back
inline constexpr uint32_t TEAM_BOARD_LOCKED = 0x1;      // teaminfo::status: posting refused
inline constexpr int FIRST_TEAM = 1, LAST_TEAM = 4;     // teams a turtle may join

bool is_zombie(int tid) { return (ttl[tid].status & ST_ZOMBIE) != 0; }

bool valid_team(int team) { return team >= 0 && team < NTEAM; }

// Zero-fills dst (dst_size bytes) and copies at most max_chars characters of src into it.
void copy_padded(char *dst, std::size_t dst_size, const char *src, std::size_t max_chars) {
    std::memset(dst, 0, dst_size);
    if (max_chars > dst_size - 1) max_chars = dst_size - 1;
    std::memcpy(dst, src, strnlen(src, max_chars));
}

int set_status_bits(int tid, uint32_t bits) {
    if (!valid_tid(tid)) return -1;
    ttl[tid].status |= bits;
    return 0;
}

int clear_status_bits(int tid, uint32_t bits) {
    if (!valid_tid(tid)) return -1;
    ttl[tid].status &= ~bits;
    return 0;
}

}  // namespace

int turtle_set_team(int tid, int team) {
    if (!valid_tid(tid) || is_zombie(tid)) return -1;
    if (team >= FIRST_TEAM && team <= LAST_TEAM) ttl[tid].team = team;
    return 0;
}

int turtle_set_color(int tid, double r, double g, double b) {
    if (!valid_tid(tid) || is_zombie(tid)) return -1;
    ttl[tid].col[0] = {r, g, b};
    return 0;
}

int turtle_line_width(int tid, double w) {
    if (!valid_tid(tid)) return -1;
    ttl[tid].width[0] = w;
    return 0;
}

int turtle_pen_down(int tid) {
    if (!valid_tid(tid)) return -1;
    turtle &t = ttl[tid];
    t.status |= ST_PEN_DOWN;
    t.nstroke = 0;
    for (int i = 1; i < NHISTORY; i++) {
        t.pos[i] = t.pos[0];
        t.col[i] = t.col[0];
        t.width[i] = t.width[0];
    }
    return 0;
}

int turtle_pen_up(int tid) {
    if (!valid_tid(tid)) return -1;
    turtle &t = ttl[tid];
    if (t.status & ST_PEN_DOWN) {
        t.status &= ~ST_PEN_DOWN;
        t.status |= ST_PEN_LIFTED;
    }
    return 0;
}

int turtle_set_fill_poly(int tid) { return set_status_bits(tid, ST_FILL_MODE); }
int turtle_unset_fill_poly(int tid) { return clear_status_bits(tid, ST_FILL_MODE); }
int turtle_set_point_mode(int tid) { return set_status_bits(tid, ST_POINT_MODE); }
int turtle_unset_point_mode(int tid) { return clear_status_bits(tid, ST_POINT_MODE); }
int turtle_set_brush(int tid) { return set_status_bits(tid, ST_BRUSH_MODE); }
int turtle_unset_brush(int tid) { return clear_status_bits(tid, ST_BRUSH_MODE); }

int turtle_name(int tid, const char *s) {
    if (!valid_tid(tid) || is_zombie(tid) || s == nullptr) return 1;
    copy_padded(ttl[tid].name, sizeof ttl[tid].name, s, NAME_MAX_CHARS);
    return 0;
}

int turtle_print_string(int tid, const char *str) {
    if (!valid_tid(tid) || is_zombie(tid) || str == nullptr) return -1;
    if (strnlen(str, PRINT_MAX_CHARS + 1) > PRINT_MAX_CHARS) return -1;
    copy_padded(ttl[tid].msg, sizeof ttl[tid].msg, str, PRINT_MAX_CHARS);
    return 0;
}

int turtle_broadcast_message(int tid, const char *msg) {
    if (!valid_tid(tid) || msg == nullptr) return -1;
    int team = ttl[tid].team;
    if (!valid_team(team)) return -1;
    teaminfo &board = teams[team];
    if (board.status & TEAM_BOARD_LOCKED) return -1;

    copy_padded(board.msg, sizeof board.msg, msg, TEAM_MSG_MAX_CHARS);
    board.msg_time = elapsed_time.load();
    int end = ntmax < 0 ? 0 : (ntmax > NTURTLE ? NTURTLE : ntmax);
    for (int t = 0; t < end; t++) {
        if (t != tid && (ttl[t].status & ST_ALIVE) && ttl[t].team == team) {
            ttl[t].event |= EV_TEAM_MSG;
        }
    }
    return 0;
}

int qt_team_msg(int tid, unsigned int *time, char *msg) {
    if (!valid_tid(tid) || !valid_team(ttl[tid].team)) {
        *time = 0;
        return -1;
    }
    const teaminfo &board = teams[ttl[tid].team];
    *time = board.msg_time;
    std::size_t n = strnlen(board.msg, TEAM_MSG_MAX_CHARS);
    std::memcpy(msg, board.msg, n);
    msg[n] = '\0';
    return 0;
}

int turtle_enable_event(int tid, unsigned int eventcode) {
    if (!valid_tid(tid)) return -1;
    ttl[tid].eventmask |= eventcode;
    return 0;
}

int turtle_disable_event(int tid, unsigned int eventcode) {
    if (!valid_tid(tid)) return -1;
    ttl[tid].event &= ~eventcode;
    ttl[tid].eventmask &= ~eventcode;
    return 0;
}

unsigned int turtle_get_and_reset_eventcode(int tid) {
    if (!valid_tid(tid)) return 0;
    unsigned int reported = ttl[tid].event & ttl[tid].eventmask;
    ttl[tid].event = 0;
    return reported;
}
