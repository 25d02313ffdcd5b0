// httpd.cpp: the web viewer server's script list, set from the command line.
#include "server/httpd.h"

#include <cstdio>
#include <cstring>

std::array<std::string, MAX_JSCRIPT> msg_jscript_srcp;
int n_jscript = 0;

void set_jscript_src(const char *str) {
    if (str == nullptr || str[0] == '\0') return;
    constexpr std::size_t WORK_BYTES = 2048;
    const std::string work(str, strnlen(str, WORK_BYTES - 1));
    constexpr const char *SEPARATORS = " ;\"";

    std::array<std::string, MAX_JSCRIPT> tokens;
    int n = 0;
    std::size_t at = work.find_first_not_of(SEPARATORS);
    while (at != std::string::npos && n < MAX_JSCRIPT) {
        const std::size_t end = work.find_first_of(SEPARATORS, at);
        tokens[n++] = work.substr(at, end == std::string::npos ? std::string::npos : end - at);
        at = end == std::string::npos ? end : work.find_first_not_of(SEPARATORS, end);
    }
    if (n == 0) return;
    n_jscript = n;
    for (int i = 0; i < n; i++) {
        msg_jscript_srcp[i] = tokens[i];
        std::fprintf(stderr, "script: %s\n", msg_jscript_srcp[i].c_str());
    }
}
