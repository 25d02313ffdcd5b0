// main.cpp: program entry: banner, the command line's own two options, the random seed, and
// the hand-over to the field.
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "kelpmoor.h"
#include "world/world.h"

int main(int argc, char **argv) {
    std::fprintf(stderr, "Kelpmoor: %s\n", copyright);
    std::fprintf(stderr, "starting kelpmoor build on %s\n", build_date);
    if (scan_command_line(argc, argv) == CMDLINE_HELP) {
        print_help();
        return 0;
    }
    if (!read_ports_from_environment() || !read_classroom_options_from_environment() ||
        !read_record_option_from_environment()) {
        return 2;
    }
    srandom(static_cast<unsigned>(time(nullptr)));
    field_start(argc, argv);
    return 0;
}
