// http_request.cpp: the HTTP request reader. Turns the bytes of one receive into a method, a
// URI and the keep-connection flag; no sockets here.
#include <strings.h>

#include <cstring>
#include <vector>

#include "server/httpd.h"

bool parse_request(const char *bytes, std::size_t n, http_request &out) {
    if (n > static_cast<std::size_t>(HTTP_RECEIVE_BYTES)) n = HTTP_RECEIVE_BYTES;
    // A zero-terminated copy: the request is read as C text, so a NUL byte ends a line early.
    std::vector<char> buf(bytes, bytes + n);
    buf.push_back('\0');

    // Lines end at LF; a CR before the LF (not at the very start) goes with it.
    const char *connection = nullptr;
    bool seen_lf = false;
    for (std::size_t i = 0; i < n; i++) {
        if (buf[i] != '\n') continue;
        buf[i] = '\0';
        if (i >= 2 && buf[i - 1] == '\r') buf[i - 1] = '\0';
        seen_lf = true;
        const char *line = &buf[i + 1];
        if (std::strncmp(line, "Connection:", 11) == 0) connection = line;
    }
    if (!seen_lf) return false;
    out.keep =
        connection != nullptr && std::strncmp(connection, "Connection: close", 17) == 0 ? -1 : 1;

    const char *line = buf.data();
    if (std::strlen(line) <= 2) return false;
    if (strncasecmp(line, "GET", 3) == 0) {
        out.method = HTTP_GET;
    } else if (strncasecmp(line, "HEAD", 4) == 0) {
        out.method = HTTP_HEAD;
    } else if (strncasecmp(line, "POST", 4) == 0) {
        out.method = HTTP_POST;
    } else {
        return false;
    }

    // The URI: from after the first space up to and including the second.
    out.uri.clear();
    if (const char *sp = std::strchr(line, ' '); sp != nullptr) {
        const char *start = sp + 1;
        const char *second = std::strchr(start, ' ');
        std::size_t len =
            second != nullptr ? static_cast<std::size_t>(second - start) + 1 : std::strlen(start);
        if (len > static_cast<std::size_t>(HTTP_URI_CHARS)) len = HTTP_URI_CHARS;
        out.uri.assign(start, len);
    }
    if (!out.uri.empty() && out.uri.front() == '/') out.uri.erase(0, 1);
    if (!out.uri.empty() && out.uri.back() == ' ') out.uri.pop_back();
    return true;
}
