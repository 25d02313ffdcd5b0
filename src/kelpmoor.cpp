// kelpmoor.cpp: the program's start-up: the command line, and the hand-over to the window and
// the servers.
#include "kelpmoor.h"

#include <GL/freeglut.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "draw/frame.h"
#include "draw/scenery.h"
#include "server/httpd.h"
#include "server/recorder.h"
#include "server/tcpserver.h"
#include "world/field.h"

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

namespace {

int command_port = COMMAND_PORT;
int viewer_port = HTTP_PORT;
const char *record_dir = nullptr;  // KELPMOOR_RECORD

// The port in environment variable `name`, `fallback` when unset, -1 when not a port number.
int port_from_environment(const char *name, int fallback) {
    const char *value = std::getenv(name);
    if (value == nullptr) return fallback;
    char *end = nullptr;
    errno = 0;
    const long port = std::strtol(value, &end, 10);
    if (value[0] < '0' || value[0] > '9' || *end != '\0' || errno != 0 || port < 1 ||
        port > 65535) {
        std::fprintf(stderr, "kelpmoor: %s must be a port number from 1 to 65535, not \"%s\"\n",
                     name, value);
        return -1;
    }
    return static_cast<int>(port);
}

// The integer from 1 to limit in environment variable `name`, `fallback` when unset, -1 when
// anything else.
int count_from_environment(const char *name, int fallback, int limit) {
    const char *value = std::getenv(name);
    if (value == nullptr) return fallback;
    char *end = nullptr;
    errno = 0;
    const long n = std::strtol(value, &end, 10);
    if (value[0] < '0' || value[0] > '9' || *end != '\0' || errno != 0 || n < 1 || n > limit) {
        std::fprintf(stderr, "kelpmoor: %s must be a number from 1 to %d, not \"%s\"\n", name,
                     limit, value);
        return -1;
    }
    return static_cast<int>(n);
}

}  // namespace

bool read_classroom_options_from_environment() {
    const int clients =
        count_from_environment("KELPMOOR_MAX_CLIENTS", DEFAULT_CLIENT_LIMIT, MAX_CLIENT);
    if (clients < 0) return false;
    set_client_limit(clients);
    const char *field = std::getenv("KELPMOOR_FIELD_COMMANDS");
    if (field != nullptr && std::strcmp(field, "local") != 0 && std::strcmp(field, "all") != 0) {
        std::fprintf(stderr,
                     "kelpmoor: KELPMOOR_FIELD_COMMANDS must be \"local\" or \"all\", not \"%s\"\n",
                     field);
        return false;
    }
    set_field_commands_local_only(field != nullptr && std::strcmp(field, "local") == 0);
    return true;
}

bool read_ports_from_environment() {
    command_port = port_from_environment("KELPMOOR_PORT", COMMAND_PORT);
    viewer_port = port_from_environment("KELPMOOR_HTTP_PORT", HTTP_PORT);
    return command_port > 0 && viewer_port > 0;
}

bool read_record_option_from_environment() {
    const char *dir = std::getenv("KELPMOOR_RECORD");
    if (dir == nullptr) return true;
    struct stat st {};
    if (dir[0] == '\0' || stat(dir, &st) != 0 || !S_ISDIR(st.st_mode) ||
        access(dir, W_OK | X_OK) != 0) {
        std::fprintf(stderr,
                     "kelpmoor: KELPMOOR_RECORD must be a directory Kelpmoor can write to, not "
                     "\"%s\"\n",
                     dir);
        return false;
    }
    record_dir = dir;
    return true;
}

void print_help() {
    std::fputs("options:\n", stderr);
    std::fputs(" -js \"URL1;URL2;...\"\n", stderr);
}

int field_start(int argc, char **argv) {
    field_open_window(argc, argv);
    start_tcp_server(command_port);
    start_httpd(viewer_port);
    start_recorder(record_dir, record_dir != nullptr);
    set_record_key([] { recorder_toggle(); });
    glutMainLoop();
    bg_tex_buffer.clear();
    bg_tex_buffer.shrink_to_fit();
    return 0;
}
