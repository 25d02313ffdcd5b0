// kelpmoor.h: the program: start-up banner and command line, and field_start, which opens the
// window, starts the servers and runs the main loop.
#pragma once

enum cmdline_action { CMDLINE_RUN, CMDLINE_HELP };
// Scans every argument (the program name too) for -js (prefix test; the next argument goes to
// set_jscript_src) and -h (prefix test). CMDLINE_HELP as soon as -h is met.
cmdline_action scan_command_line(int argc, char **argv);
void print_help();  // the two usage lines on standard error

// Opens the window, empties the world, starts the command and HTTP servers, and runs the
// main loop. Never returns in normal operation.
int field_start(int argc, char **argv);
