// commands.cpp: the command and query tables and the reply line (see commands.h). Adding a
// command or a query is adding a row.
#include "server/commands.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "world/battle.h"
#include "world/coins.h"
#include "world/field.h"
#include "world/turtle.h"

namespace {

inline constexpr int HEX_STEPS = 128;      // longest decoded name or printed text, bytes
inline constexpr int PAYLOAD_SIZE = 1024;  // "%lf %lf" of any double pair fits
inline constexpr int REPLY_SIZE = PAYLOAD_SIZE + 64;

char upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

int char2int(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return 0;
}

// Pairs of hex digits, spaces between pairs skipped; zero bytes are dropped. str receives at
// most HEX_STEPS bytes and its terminating zero.
void convert_hex2str(const char *hex, char *str) {
    int out = 0;
    for (int step = 0; *hex != '\0' && step < HEX_STEPS; step++) {
        if (*hex == ' ') {
            hex++;
            continue;
        }
        char c0 = *hex++;
        char c1 = *hex;
        if (c1 != '\0') hex++;
        int byte = char2int(c0) * 16 + char2int(c1);
        if (byte != 0) str[out++] = static_cast<char>(byte);
        if (c1 == '\0') break;
    }
    str[out] = '\0';
}

// A base-10 integer token when it lies within lo..hi (a token that is no number reads as 0);
// nothing when it lies outside, overflow included, so that no value wraps when narrowed.
std::optional<long long> integer(const char *token, long long lo, long long hi) {
    errno = 0;
    const long long v = std::strtoll(token, nullptr, 10);
    if (errno == ERANGE || v < lo || v > hi) return std::nullopt;
    return v;
}

// An event code, a bit set of 32 bits; any other number changes nothing.
int change_events(const command_args &a, int (*change)(int, unsigned int)) {
    const auto code = integer(a.param[2], 0, UINT32_MAX);
    return code ? change(a.tid, static_cast<unsigned int>(*code)) : 0;
}

// Every command variant of C ends with a forward step of param1; its result is the reply's.
int step(const command_args &a) { return turtle_step_forward(a.tid, a.num[0]); }

// Line style: plain lines first, then the style asked for.
int plain_lines(int tid) {
    int brush = turtle_unset_brush(tid);
    int fill = turtle_unset_fill_poly(tid);
    int point = turtle_unset_point_mode(tid);
    return std::min({brush, fill, point});
}

int print_hex(const command_args &a) {
    char text[HEX_STEPS + 1];
    convert_hex2str(a.rest, text);
    return turtle_print_string(a.tid, text);
}

int name_hex(const command_args &a) {
    char text[HEX_STEPS + 1];
    convert_hex2str(a.rest, text);
    return turtle_name(a.tid, text);
}

using A = const command_args &;
constexpr bool PACED = true, FREE = false;

// First match wins: a letter's sub-letter rows come before its ANY_SUB row.
const command_row COMMANDS[] = {
    {'F', ANY_SUB, PACED, 1, 1, [](A a) { return turtle_step_forward(a.tid, a.num[0]); }},
    {'B', ANY_SUB, PACED, 1, 1, [](A a) { return turtle_step_forward(a.tid, -a.num[0]); }},
    {'T', 'L', PACED, 2, 1, [](A a) { return turtle_turn(a.tid, a.num[0]); }},
    {'T', 'R', PACED, 2, 1, [](A a) { return turtle_turn(a.tid, -a.num[0]); }},
    {'T', 'E', PACED, 1, 0, [](A a) { return turtle_head(a.tid, 1); }},
    {'T', 'N', PACED, 1, 0, [](A a) { return turtle_head(a.tid, 2); }},
    {'T', 'W', PACED, 1, 0, [](A a) { return turtle_head(a.tid, 3); }},
    {'T', 'S', PACED, 1, 0, [](A a) { return turtle_head(a.tid, 4); }},
    {'T', ANY_SUB, PACED, 1, 0, [](A) { return -1; }},
    {'J', ANY_SUB, PACED, 1, 2, [](A a) { return turtle_jump(a.tid, a.num[0], a.num[1]); }},
    {'G', ANY_SUB, PACED, 1, 2, [](A a) { return turtle_rjump(a.tid, a.num[0], a.num[1]); }},
    {'C', 'A', PACED, 1, 1, [](A a) { return field_clear_all_turtles(), step(a); }},
    {'C', 'F', PACED, 1, 1, [](A a) { return field_clear(), step(a); }},
    {'C', 'H', PACED, 1, 1, [](A a) { return turtle_home(a.tid), step(a); }},
    {'C', ANY_SUB, PACED, 1, 1, [](A a) { return turtle_reset(a.tid, a.cl), step(a); }},
    {'P', 'D', PACED, 1, 0, [](A a) { return turtle_pen_down(a.tid); }},
    {'P', '+', PACED, 1, 0, [](A a) { return turtle_pen_down(a.tid); }},
    {'P', 'U', PACED, 1, 0, [](A a) { return turtle_pen_up(a.tid); }},
    {'P', '-', PACED, 1, 0, [](A a) { return turtle_pen_up(a.tid); }},
    {'P', ANY_SUB, PACED, 1, 0, [](A) { return 0; }},
    {'L', 'S', PACED, 1, 0, [](A a) { return plain_lines(a.tid), turtle_set_fill_poly(a.tid); }},
    {'L', '+', PACED, 1, 0, [](A a) { return plain_lines(a.tid), turtle_set_fill_poly(a.tid); }},
    {'L', 'B', PACED, 1, 0, [](A a) { return plain_lines(a.tid), turtle_set_brush(a.tid); }},
    {'L', 'P', PACED, 1, 0, [](A a) { return plain_lines(a.tid), turtle_set_point_mode(a.tid); }},
    {'L', ANY_SUB, PACED, 1, 0, [](A a) { return plain_lines(a.tid); }},
    {'S', ANY_SUB, PACED, 1, 0, print_hex},
    {'H', ANY_SUB, PACED, 1, 3,
     [](A a) { return field_set_color(a.num[0], a.num[1], a.num[2]), field_clear(), 0; }},
    {'O', 'S', PACED, 1, 0, [](A a) { return turtle_drop_coin(a.tid); }},
    {'O', '+', PACED, 1, 0, [](A a) { return turtle_drop_coin(a.tid); }},
    {'O', 'X', PACED, 1, 0, [](A) { return field_scatter_coin(1); }},
    {'O', 'B', FREE, 1, 0, [](A a) { return turtle_borrow_coin(a.tid); }},
    {'O', ANY_SUB, PACED, 1, 0, [](A a) { return turtle_pick_coin(a.tid); }},
    {'K', ANY_SUB, FREE, 1, 3,
     [](A a) { return turtle_set_color(a.tid, a.num[0], a.num[1], a.num[2]); }},
    {'W', ANY_SUB, FREE, 1, 1, [](A a) { return turtle_line_width(a.tid, a.num[0]); }},
    {'N', ANY_SUB, FREE, 1, 0, name_hex},
    {'U', ANY_SUB, FREE, 1, 0, [](A a) { return turtle_broadcast_message(a.tid, a.rest); }},
    {'I', ANY_SUB, FREE, 1, 0,
     [](A a) {
         if (const auto team = integer(a.param[1], INT_MIN, INT_MAX)) {
             turtle_set_team(a.tid, static_cast<int>(*team));
         }
         return 0;
     }},
    {'Y', '+', FREE, 1, 0, [](A a) { return change_events(a, turtle_enable_event); }},
    {'Y', '-', FREE, 1, 0, [](A a) { return change_events(a, turtle_disable_event); }},
    {'Y', ANY_SUB, FREE, 1, 0, [](A) { return 0; }},
    {'E', ANY_SUB, FREE, 1, 1, [](A a) { return turtle_finder_range(a.tid, a.num[0]); }},
    {'X', ANY_SUB, FREE, 1, 0, [](A a) { return turtle_fire(a.tid); }},
    {'D', ANY_SUB, FREE, 1, 0, [](A a) { return turtle_generate_doughnut(a.tid); }},
    {'R', ANY_SUB, FREE, 1, 0, [](A) { return generate_turtle(-1, ST_SYSTEM); }},
    {'!', 'U', FREE, 1, 0, [](A) { return field_unset_battle_mode(), 0; }},
    {'!', '-', FREE, 1, 0, [](A) { return field_unset_battle_mode(), 0; }},
    {'!', ANY_SUB, FREE, 1, 0, [](A) { return field_set_battle_mode(), 0; }},
    {'.', ANY_SUB, FREE, 1, 0, [](A) { return 0; }},
    {'Q', ANY_SUB, FREE, 1, 0, nullptr},
};

using P = char *;

// Each query and its payload format; the status is the query's own result.
const query_row QUERIES[] = {
    {'P', 0,
     [](int tid, int, P out, int n) {
         double x = 0.0, y = 0.0;
         int status = qt_position(tid, &x, &y);
         std::snprintf(out, n, "%lf %lf", x, y);
         return status;
     }},
    {'D', 0,
     [](int tid, int, P out, int n) {
         double dir = 0.0;
         int status = qt_direction(tid, &dir);
         std::snprintf(out, n, "%lf", dir);
         return status;
     }},
    {'M', 0,
     [](int tid, int, P out, int n) {
         int team = qt_my_team(tid);  // the team itself is the status too
         std::snprintf(out, n, "%d", team);
         return team;
     }},
    {'F', 0,
     [](int tid, int, P out, int n) {
         int yn = 0, team = 0;
         int status = qt_finder(tid, &yn, &team);
         std::snprintf(out, n, "%d %d", yn, team);
         return status;
     }},
    {'R', 5,
     [](int tid, int index, P out, int n) {
         double dir = 0.0;
         int team = 0;
         int status = qt_angular_rader(tid, index, &dir, &team);
         std::snprintf(out, n, "%lf %d", dir, team);
         return status;
     }},
    {'W', 0,
     [](int tid, int, P out, int n) {
         int left = 0, front = 0, right = 0;
         int status = qt_sonar(tid, &left, &front, &right);
         std::snprintf(out, n, "%d %d %d", left, front, right);
         return status;
     }},
    {'A', 0,
     [](int tid, int, P out, int n) {
         int alive = 0;
         int status = qt_alive(tid, &alive);
         std::snprintf(out, n, "%d", alive);
         return status;
     }},
    {'S', 0,
     [](int tid, int, P out, int n) {
         int score = 0;
         int status = qt_score(tid, &score);
         std::snprintf(out, n, "%d", score);
         return status;
     }},
    {'T', 0,
     [](int, int, P out, int n) {
         unsigned long t = 0;
         int status = qf_elapsed_time(&t);
         std::snprintf(out, n, "%lu", t);
         return status;
     }},
    {'N', 0,
     [](int, int, P out, int n) {
         int count = 0;
         int status = qf_n_turtle(&count);
         std::snprintf(out, n, "%d", count);
         return status;
     }},
    {'C', 0,
     [](int tid, int, P out, int n) {
         int near = 0;
         int status = qt_n_coin(tid, &near);
         std::snprintf(out, n, "%d", near);
         return status;
     }},
    {'O', 0,
     [](int tid, int, P out, int n) {
         int held = 0;
         int status = qt_my_coin(tid, &held);
         std::snprintf(out, n, "%d", held);
         return status;
     }},
    {'B', 0,
     [](int tid, int, P out, int n) {
         unsigned int time = 0;
         char text[HEX_STEPS + 1] = {};
         int status = qt_team_msg(tid, &time, text);
         std::snprintf(out, n, "%u %s", time, text);
         return status;
     }},
    {'G', 0,
     [](int, int, P out, int n) {
         std::snprintf(out, n, "%d %d %d %d", battle_mode != 0, bounded_area_mode != 0,
                       maze_mode != 0, private_mode.load() != 0);
         return 0;
     }},
};

// The token at p after its leading spaces, and where the next one may start.
const char *token_at(const char *&p) {
    while (*p == ' ') p++;
    const char *token = *p != '\0' ? p : "";
    while (*p != '\0' && *p != ' ') p++;
    return token;
}

const command_row *find_row(char letter, char sub) {
    for (const command_row &row : COMMANDS) {
        if (row.letter == letter && (row.sub == ANY_SUB || row.sub == sub)) return &row;
    }
    return nullptr;
}

command_result ask_query(const command_args &a) {
    command_result r;
    const char letter = upper(a.param[1][0]);
    for (const query_row &q : QUERIES) {
        if (q.letter != letter) continue;
        std::optional<long long> index = 1;
        if (q.targets > 0 && a.param[2][0] != '\0') index = integer(a.param[2], 1, q.targets);
        if (!index) return r;
        r.query = &q;
        r.index = static_cast<int>(*index) - 1;
        r.status = 0;
        return r;
    }
    return r;
}

}  // namespace

std::span<const command_row> command_table() { return COMMANDS; }
std::span<const query_row> query_table() { return QUERIES; }

const command_row *find_command(const char *text) {
    const char *p = text;
    const char letter = upper(token_at(p)[0]);
    return find_row(letter, upper(token_at(p)[0]));
}

bool field_wide(const command_row &row) {
    switch (row.letter) {
    case 'H':
    case 'R':
    case '!': return true;
    case 'C': return row.sub == 'A' || row.sub == 'F';
    case 'O': return row.sub == 'X';
    default: return false;
    }
}

command_result parse_message_for(int cl, int tid, const char *text, bool may_change_field) {
    command_args a{cl, tid, {}, "", {}};
    const char *p = text;
    a.param[0] = token_at(p);
    a.rest = p + std::strspn(p, " ");
    for (int t = 1; t < 4; t++) a.param[t] = token_at(p);
    command_result r;
    const command_row *row = find_row(upper(a.param[0][0]), upper(a.param[1][0]));
    if (row == nullptr || (!may_change_field && field_wide(*row))) return r;
    for (int i = 0; i < row->numbers; i++) {
        a.num[i] = std::strtod(a.param[row->first_number + i], nullptr);
        if (!std::isfinite(a.num[i])) return r;
    }
    r.paced = row->paced;
    // A dying turtle's countdown runs to its end: only questions are answered meanwhile.
    if (row->op != nullptr && row->letter != '.' && turtle_is_dying(tid)) return r;
    if (row->op == nullptr) {
        command_result q = ask_query(a);
        q.paced = r.paced;
        return q;
    }
    r.status = row->op(a) < 0 ? -1 : 0;
    return r;
}

std::string answer_back(int tid, const command_result &result) {
    const unsigned int eventcode = turtle_get_and_reset_eventcode(tid);
    char payload[PAYLOAD_SIZE] = "";
    int status = result.status;
    if (result.query != nullptr) {
        status = result.query->ask(tid, result.index, payload, PAYLOAD_SIZE);
    }
    char line[REPLY_SIZE];
    int n = std::snprintf(line, sizeof line, "%s%s%s @ %lu %u\n", payload,
                          payload[0] != '\0' ? " " : "", status < 0 ? "ERR" : "OK",
                          static_cast<unsigned long>(elapsed_time.load()), eventcode);
    return std::string(line, std::min(n, REPLY_SIZE - 1));
}

std::string execute_command(int cl, int tid, const char *text, bool *paced, bool may_change_field) {
    const command_result r = parse_message_for(cl, tid, text, may_change_field);
    if (paced != nullptr) *paced = r.paced;
    return answer_back(tid, r);
}
