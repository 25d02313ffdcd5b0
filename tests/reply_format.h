// reply_format.h: the command server's reply lines, "[payload ]OK|ERR @ <tick> <events>", as
// the tests and the fuzz targets check them (no test framework needed).
#pragma once

#include <string>

// The reply lines in text, or -1 when a line is malformed or the text ends mid-line.
inline int count_reply_lines(const std::string &text) {
    const auto npos = std::string::npos;
    int lines = 0;
    std::size_t start = 0;
    for (std::size_t nl; (nl = text.find('\n', start)) != npos; start = nl + 1, lines++) {
        const std::string line = text.substr(start, nl - start);
        const std::size_t at = line.rfind(" @ ");
        if (at == npos) return -1;
        const std::string head = line.substr(0, at), tail = line.substr(at + 3);
        const std::size_t sp = tail.find(' ');
        if (!(head == "OK" || head == "ERR" || head.ends_with(" OK") || head.ends_with(" ERR")) ||
            sp == 0 || sp == npos || sp + 1 == tail.size() || tail.find(' ', sp + 1) != npos ||
            tail.find_first_not_of("0123456789 ") != npos) {
            return -1;
        }
    }
    return start == text.size() ? lines : -1;
}
