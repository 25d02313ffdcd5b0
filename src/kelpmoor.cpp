// kelpmoor.cpp: the program's start-up: the command line, and the hand-over to the window and
// the servers.
#include "kelpmoor.h"

#include <GL/freeglut.h>

#include <cstdio>
#include <cstring>

#include "draw/frame.h"
#include "draw/scenery.h"
#include "server/httpd.h"
#include "server/tcpserver.h"

cmdline_action scan_command_line(int argc, char **argv) {
    for (int i = 0; i < argc; i++) {
        if (std::strncmp(argv[i], "-js", 3) == 0 && i + 1 < argc) {
            set_jscript_src(argv[i + 1]);
            i++;
        } else if (std::strncmp(argv[i], "-h", 2) == 0) {
            return CMDLINE_HELP;
        }
    }
    return CMDLINE_RUN;
}

void print_help() {
    std::fputs("options:\n", stderr);
    std::fputs(" -js \"URL1;URL2;...\"\n", stderr);
}


int field_start(int argc, char **argv) {
    field_open_window(argc, argv);
    start_tcp_server(COMMAND_PORT);
    glutMainLoop();
    bg_tex_buffer.clear();
    bg_tex_buffer.shrink_to_fit();
    return 0;
}

