// kelpmoor.h: the program: start-up banner and command line, and field_start, which opens the
// window, starts the servers and runs the main loop.
#pragma once

enum cmdline_action { CMDLINE_RUN, CMDLINE_HELP };
// Scans every argument (the program name too) for -js (prefix test; the next argument goes to
// set_jscript_src) and -h (prefix test). CMDLINE_HELP as soon as -h is met.
cmdline_action scan_command_line(int argc, char **argv);
void print_help();  // the two usage lines on standard error

// The ports of the command and HTTP servers: 2222 and 2280, or the values of KELPMOOR_PORT
// and KELPMOOR_HTTP_PORT when set. False, after a message on standard error, when a value is
// not a port number (1..65535); the program then exits with status 2.
bool read_ports_from_environment();

// KELPMOOR_MAX_CLIENTS (1..30, default 10: clients served at once) and KELPMOOR_FIELD_COMMANDS
// ("local": the commands that change the whole field only from the local host; "all" or unset:
// from every client), handed to the command server. False, after a message on standard error,
// for any other value; the program then exits with status 2.
bool read_classroom_options_from_environment();

// KELPMOOR_RECORD: unset, or a directory Kelpmoor can write to, where it records from start-up.
// False, after a message on standard error, for anything else; the program then exits with
// status 2.
bool read_record_option_from_environment();

// Opens the window, empties the world, starts the command and HTTP servers, and runs the
// main loop. Never returns in normal operation.
int field_start(int argc, char **argv);
