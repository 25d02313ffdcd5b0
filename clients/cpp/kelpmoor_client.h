// kelpmoor_client.h: a Kelpmoor client for C++17 and later: one connection drives one turtle.
// Every command and query is a method; pipeline() sends many commands in one write and matches
// their replies in order. Blocking I/O with a timeout per reply; a Turtle is used by one
// thread at a time. Standard library and POSIX sockets only.
//
// Texts are UTF-8 here and Latin-1 on the wire, the encoding of the floor's fonts and of the
// viewer's documents: a character outside Latin-1 becomes "?" (a byte that is not part of valid
// UTF-8 is taken as a Latin-1 character itself); the board's text comes back as UTF-8.
// Misuse (an unknown compass heading or line style, a radar target outside 1..5, a colour
// outside 0..1, a text that would break the command) throws ArgumentError before anything is
// sent; a closed connection throws ConnectionClosed, a silent server ReplyTimeout. All of them
// are kelpmoor::Error.
//
//     auto t = kelpmoor::Turtle::connect();  // KELPMOOR_HOST or 127.0.0.1, KELPMOOR_PORT or 2222
//     t.pen_down();
//     t.forward(50);
//     kelpmoor::Position p = t.position();
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace kelpmoor {

inline constexpr int DEFAULT_PORT = 2222;
inline constexpr std::size_t MAX_COMMAND = 511;     // characters; longer ones are answered ERR
inline constexpr std::size_t MAX_PRINT = 127;       // bytes of a text printed on the floor
inline constexpr std::size_t MAX_NAME = 128;        // bytes of a name kept by the server
inline constexpr std::size_t PIPELINE_WINDOW = 64;  // commands written before reading replies

// Event bits of a reply.
enum Event : unsigned {
    HIT = 1,
    BUMPED_TURTLE = 2,
    BUMPED_DOUGHNUT = 4,
    BUMPED_STONE = 8,
    BUMPED_WALL = 16,
    COIN_NEARBY = 32,
    SEEN_BY_FINDER = 64,
    SEEN_BY_RADAR = 128,
    TEAM_MESSAGE = 256,
};

// Finder kinds.
enum FinderKind { NOTHING = 0, TURTLE = 1, DOUGHNUT = 2, STONE = 3, WALL = 4 };

struct Events {
    unsigned bits = 0;
    bool hit() const { return bits & HIT; }
    bool bumped_turtle() const { return bits & BUMPED_TURTLE; }
    bool bumped_doughnut() const { return bits & BUMPED_DOUGHNUT; }
    bool bumped_stone() const { return bits & BUMPED_STONE; }
    bool bumped_wall() const { return bits & BUMPED_WALL; }
    bool coin_nearby() const { return bits & COIN_NEARBY; }
    bool seen_by_finder() const { return bits & SEEN_BY_FINDER; }
    bool seen_by_radar() const { return bits & SEEN_BY_RADAR; }
    bool team_message() const { return bits & TEAM_MESSAGE; }
    std::vector<std::string> names() const;  // "hit", "bumped_turtle", ... in bit order
};

// One reply line: "[payload ]OK|ERR @ tick events".
struct Reply {
    bool ok = false;
    unsigned long tick = 0;
    Events events;
    std::string payload;  // empty for commands
};

struct Position {
    double x = 0, y = 0;
};
struct Finder {
    int kind = NOTHING;
    int team = 0;
};
// found false: fewer other things on the field; direction is then noise.
struct Radar {
    bool found = false;
    double direction = 0;
    int team = 0;
};  // degrees, + = left
struct Sonar {
    bool left = false, front = false, right = false;
};
struct Board {
    unsigned long tick = 0;
    std::string text;  // UTF-8
};                     // tick 0: nothing posted
// The field's modes (Q G). Walls stop turtles only while bounded_area is on.
struct FieldModes {
    bool battle = false, bounded_area = false, maze = false;
    bool private_mode = false;  // only clients on the arena's own machine are let in
};

struct Error : std::runtime_error {
    using std::runtime_error::runtime_error;
};
struct ConnectionClosed : Error {
    using Error::Error;
};  // replies awaited are lost
struct ReplyTimeout : Error {
    using Error::Error;
};  // the connection is closed with it
struct ProtocolError : Error {
    using Error::Error;
};  // a line that is not a reply
struct ArgumentError : Error {
    using Error::Error;
};  // an argument the command cannot take; the message names what it can. Nothing was sent
struct FramingError : ArgumentError {
    using ArgumentError::ArgumentError;
};  // an argument that would split or break the command (";", a line end, too long)

// Why a connection may be closed before its first reply.
inline constexpr const char *NOT_TAKEN_IN =
    " before its first reply: the arena may be full (KELPMOOR_MAX_CLIENTS) or in private mode "
    "(only its own machine is let in)";

std::string latin1(std::string_view utf8);       // each character outside Latin-1 as '?'
std::string from_latin1(std::string_view text);  // as UTF-8

Reply parse_reply(std::string_view line);  // throws ProtocolError

// Typed payloads of query replies (throw ProtocolError on a malformed payload).
Position as_position(const Reply &r);
double as_double(const Reply &r);  // Q D
long as_long(const Reply &r);      // Q M, S, T, N, C, O
bool as_flag(const Reply &r);      // Q A
Finder as_finder(const Reply &r);
Radar as_radar(const Reply &r);
Sonar as_sonar(const Reply &r);
Board as_board(const Reply &r);
FieldModes as_modes(const Reply &r);

// Command texts, for pipeline() (the Turtle methods of the same names say what they do). They
// throw ArgumentError for arguments the server would misread or ignore, FramingError for a ";"
// or line end in a text or a command over MAX_COMMAND.
namespace cmd {
std::string forward(double d);
std::string back(double d);
std::string left(double degrees);
std::string right(double degrees);
std::string head(char compass);              // 'E' 0, 'N' 90, 'W' 180, 'S' -90 degrees
std::string head(std::string_view compass);  // also "east", "north", "west", "south"
std::string jump(double x, double y);
std::string jump_by(double dx, double dy);
std::string reset();
std::string home();
std::string clear_floor();
std::string clear_all();
std::string pen_down();
std::string pen_up();
std::string color(double r, double g, double b);  // each 0..1
std::string width(double w);
std::string line_style(std::string_view style);         // "line", "fill", "points", "brush"
std::string print_text(std::string_view text);          // UTF-8, at most MAX_PRINT bytes of Latin-1
std::string name(std::string_view text);                // UTF-8, at most MAX_NAME bytes of Latin-1
std::string floor_color(double r, double g, double b);  // each 0..1
std::string join_team(int team);                        // 1..4
std::string post(std::string_view message);             // no ';' or line end; non-ASCII becomes '?'
std::string enable_events(unsigned mask);
std::string disable_events(unsigned mask);
std::string finder_range(double d);
std::string doughnut();
std::string robot();
std::string battle_mode(bool on);
std::string noop();
std::string fire();
std::string pick_coin();
std::string drop_coin();
std::string scatter_coin();
std::string borrow_coins();
std::string query(char letter);               // 'P', 'D', ... see the protocol reference
std::string radar(int n);                     // Q R n, n = 1..5
std::string check(std::string_view command);  // a raw command, checked
}  // namespace cmd

class Turtle {
public:
    // host "": KELPMOOR_HOST or 127.0.0.1; port 0: KELPMOOR_PORT or 2222. timeout in seconds
    // for connecting and for each reply; 0 waits for ever. Throws ConnectionClosed when the
    // connection cannot be made, ReplyTimeout when it takes longer than timeout.
    static Turtle connect(const std::string &host = "", int port = 0, double timeout = 10.0);
    Turtle(Turtle &&other) noexcept;
    Turtle &operator=(Turtle &&other) noexcept;
    Turtle(const Turtle &) = delete;
    Turtle &operator=(const Turtle &) = delete;
    ~Turtle();
    void close();  // the turtle stays on the field as a zombie

    Reply send(std::string_view command);  // a raw command, checked
    std::vector<Reply> pipeline(const std::vector<std::string> &commands);  // from cmd::

    const Reply &last() const { return last_; }  // the latest reply
    Events take_events();  // events of every reply since the last call, cleared

    // Motion; each waits for the next frame before the turtle's next command is read.
    Reply forward(double d) { return send(cmd::forward(d)); }  // ERR when something blocks it
    Reply back(double d) { return send(cmd::back(d)); }        // the heading unchanged
    Reply left(double a) { return send(cmd::left(a)); }        // counter-clockwise, degrees
    Reply right(double a) { return send(cmd::right(a)); }      // clockwise, degrees
    Reply head(char compass) { return send(cmd::head(compass)); }
    Reply head(std::string_view compass) { return send(cmd::head(compass)); }
    // Draws a line when the pen is down; ERR in battle mode or with another thing within 20.
    Reply jump(double x, double y) { return send(cmd::jump(x, y)); }
    Reply jump_by(double dx, double dy) { return send(cmd::jump_by(dx, dy)); }
    Reply reset() { return send(cmd::reset()); }  // (0, 0), heading 0, pen up, red, no team
    Reply home() { return send(cmd::home()); }    // (0, 0), heading 0; the pen stays
    // Field-wide: everybody's painting; with zombies too.
    Reply clear_floor() { return send(cmd::clear_floor()); }
    Reply clear_all() { return send(cmd::clear_all()); }

    // Pen and appearance.
    Reply pen_down() { return send(cmd::pen_down()); }
    Reply pen_up() { return send(cmd::pen_up()); }
    Reply color(double r, double g, double b) { return send(cmd::color(r, g, b)); }  // 0..1
    Reply width(double w) { return send(cmd::width(w)); }                            // field units
    Reply line_style(std::string_view s) { return send(cmd::line_style(s)); }
    // Printed on the floor at the turtle in the pen colour, at the next frame.
    Reply print_text(std::string_view text) { return send(cmd::print_text(text)); }
    Reply name(std::string_view text) { return send(cmd::name(text)); }  // key n, viewer
    // Field-wide; clears the floor.
    Reply floor_color(double r, double g, double b) { return send(cmd::floor_color(r, g, b)); }

    // Teams, events, spawns and the field.
    Reply join_team(int team) { return send(cmd::join_team(team)); }  // 1..4, no way back to 0
    Reply post(std::string_view message) { return send(cmd::post(message)); }  // team board
    Reply enable_events(unsigned mask) { return send(cmd::enable_events(mask)); }
    Reply disable_events(unsigned mask) { return send(cmd::disable_events(mask)); }
    Reply finder_range(double d) { return send(cmd::finder_range(d)); }  // 20 at start
    Reply doughnut() { return send(cmd::doughnut()); }  // a target at a random place
    Reply robot() { return send(cmd::robot()); }        // field-wide
    Reply battle_mode(bool on = true) { return send(cmd::battle_mode(on)); }  // field-wide
    Reply noop() { return send(cmd::noop()); }  // the tick and the events only

    // Battle and coins.
    Reply fire() { return send(cmd::fire()); }                  // costs a point
    Reply pick_coin() { return send(cmd::pick_coin()); }        // the nearest within 20, if any
    Reply drop_coin() { return send(cmd::drop_coin()); }        // ERR when none is held
    Reply scatter_coin() { return send(cmd::scatter_coin()); }  // field-wide
    Reply borrow_coins() { return send(cmd::borrow_coins()); }  // ten from the bank

    // Queries, typed.
    Position position() { return as_position(send(cmd::query('P'))); }
    double heading() { return as_double(send(cmd::query('D'))); }            // degrees, not wrapped
    int team() { return static_cast<int>(as_long(send(cmd::query('M')))); }  // 0 (none) .. 4
    Finder finder() { return as_finder(send(cmd::query('F'))); }             // straight ahead
    Radar radar(int n = 1) { return as_radar(send(cmd::radar(n))); }         // n-th nearest, 1..5
    Sonar sonar() { return as_sonar(send(cmd::query('W'))); }                // +45, 0, -45 degrees
    bool alive() { return as_flag(send(cmd::query('A'))); }
    int score() { return static_cast<int>(as_long(send(cmd::query('S')))); }  // 100 at start
    unsigned long tick() { return static_cast<unsigned long>(as_long(send(cmd::query('T')))); }
    int turtles() { return static_cast<int>(as_long(send(cmd::query('N')))); }     // live things
    int coins_near() { return static_cast<int>(as_long(send(cmd::query('C')))); }  // within 20
    int coins_held() { return static_cast<int>(as_long(send(cmd::query('O')))); }
    Board board() { return as_board(send(cmd::query('B'))); }  // the team's latest message
    FieldModes modes() { return as_modes(send(cmd::query('G'))); }

private:
    Turtle(int fd, double timeout) : fd_(fd), timeout_ms_(static_cast<int>(timeout * 1000)) {}
    void write_all(const std::string &data);
    std::string read_line(std::size_t awaited);
    void record(const Reply &r);

    int fd_ = -1;
    int timeout_ms_ = 0;     // per reply; 0 for ever
    bool answered_ = false;  // a reply came: the server took us in
    std::string pending_;    // bytes received after the last complete line
    Reply last_;
    Events events_;
};

}  // namespace kelpmoor
