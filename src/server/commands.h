// commands.h: the command language. One table row per command letter (and sub-letter where it
// matters) says what the command parses, whether it changes the world (the server then paces
// the client against frames), and what it calls; one row per query letter says how the query
// is asked and its payload formatted. Turns one command text into its reply line.
// Called on the command server thread with frame_rendering_mutex held; tests call it alone.
#pragma once

#include <span>
#include <string>

// One command's tokens and where it comes from. Tokens point into the command text: each
// runs up to the next space or the end, and strtod / strtol stop there by themselves.
struct command_args {
    int cl;                // client index
    int tid;               // the client's turtle
    const char *param[4];  // the first token, then param1..param3; "" when missing
    const char *rest;      // everything after the first token and the spaces after it
    double num[3];         // the row's numeric arguments, all finite
};

inline constexpr char ANY_SUB = '\0';  // a row for every sub-letter the rows above it lack

struct command_row {
    char letter;       // first character of the first token, upper case
    char sub;          // first character of param1, upper case; or ANY_SUB
    bool paced;        // world-changing: counts for the client's nup, however it ends
    int first_number;  // token index of the first numeric argument (1 or 2)
    int numbers;       // numeric arguments from there: 0..3. One not finite: ERR, not paced
    int (*op)(const command_args &);  // negative: ERR. Null for Q, answered by a query row
};

struct query_row {
    char letter;  // param1's first character, upper case
    int targets;  // 0, or the largest index param2 may give (empty: 1); outside 1..targets: ERR
    // Asks the query for turtle tid (index 0-based) and formats the payload; the status.
    int (*ask)(int tid, int index, char *payload, int size);
};

// What one command did, as its reply needs it.
struct command_result {
    int status = -1;                   // 0 OK, -1 ERR; a query's own status replaces it
    const query_row *query = nullptr;  // asked when the reply is built, after the events
    int index = 0;                     // its target, 0-based
    bool paced = false;
};

std::span<const command_row> command_table();
std::span<const query_row> query_table();

// The row text runs, or nullptr: an unknown letter, answered ERR.
const command_row *find_command(const char *text);

// Runs one command text (no separator, no leading spaces needed) for client cl driving turtle
// tid. Without may_change_field the commands that change the whole field (field_wide) are
// answered ERR and do nothing.
command_result parse_message_for(int cl, int tid, const char *text, bool may_change_field = true);
// The reply line, line feed included: the payload of a query, OK or ERR, the tick and the
// turtle's events, which it reads and clears first.
std::string answer_back(int tid, const command_result &result);

// Both in one: the reply line; *paced says whether the command counts for nup.
std::string execute_command(int cl, int tid, const char *text, bool *paced,
                            bool may_change_field = true);

// C A, C F, H, !, ! U, R and O X: they change the field for everyone.
bool field_wide(const command_row &row);
