// fuzz_http.cpp: libFuzzer target for the HTTP request reader, the URI router and the
// response writer, as one connection thread runs them for one receive. The response goes
// through a socket pair and must be a well-formed HTTP response: a 200 or 404 status line,
// header lines ending in an empty line, and for GET a body of exactly Content-Length bytes (for
// HEAD none). A request the reader refuses must produce nothing: the connection just closes.
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "server/httpd.h"
#include "world/field.h"
#include "world/turtle.h"

namespace {

[[noreturn]] void fail(const char *what, const std::string &detail) {
    std::fprintf(stderr, "fuzz_http: %s: [%s]\n", what, detail.substr(0, 300).c_str());
    std::abort();
}

// Some turtles to be found by name and number, a coin or two: set up once.
bool set_up() {
    std::lock_guard lock(frame_rendering_mutex);
    field_reset_world();
    for (int i = 0; i < 3; i++) generate_turtle(-1, ST_SYSTEM);
    return true;
}

void check_response(const http_request &req, const std::string &r) {
    const size_t end = r.find("\r\n\r\n");
    if (end == std::string::npos) fail("no end of headers", r);
    const std::string head = r.substr(0, end + 2);
    const bool ok = head.rfind("HTTP/1.1 200 OK\r\n", 0) == 0;
    if (!ok && head.rfind("HTTP/1.1 404 Not Found\r\n", 0) != 0) fail("status line", head);
    long length = -1;
    for (size_t at = head.find("\r\n") + 2; at < head.size();) {
        const size_t eol = head.find("\r\n", at);
        const std::string line = head.substr(at, eol - at);
        if (line.find(": ") == std::string::npos) fail("header line", line);
        if (line.rfind("Content-Length: ", 0) == 0) length = std::atol(line.c_str() + 16);
        at = eol + 2;
    }
    const size_t body = r.size() - (end + 4);
    // The event stream's response has no length: its events follow as the field changes.
    const bool stream = head.find("Content-Type: text/event-stream\r\n") != std::string::npos;
    if (req.method == HTTP_GET && !(stream && length < 0 && body == 0)) {
        if (length < 0 || static_cast<size_t>(length) != body) {
            fail("body length", std::to_string(length) + " vs " + std::to_string(body));
        }
    } else if (body != 0) {
        fail("body without GET", head);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const bool ready = set_up();
    (void)ready;
    http_request req;
    if (!parse_request(reinterpret_cast<const char *>(data), size, req)) return 0;
    if (req.uri.size() > static_cast<size_t>(HTTP_URI_CHARS)) fail("uri too long", req.uri);
    if (req.keep != 1 && req.keep != -1) fail("keep", std::to_string(req.keep));
    const content_ptr body = generate_content(req.uri.c_str());
    if (body == nullptr) fail("no content", req.uri);

    int sv[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, sv) != 0) fail("socketpair", "");
    std::string response;
    std::thread reader([&] {
        char buf[65536];
        for (ssize_t r; (r = ::read(sv[0], buf, sizeof buf)) > 0;) {
            response.append(buf, static_cast<size_t>(r));
        }
    });
    const bool sent = send_response(sv[1], req, body.get());
    ::close(sv[1]);
    reader.join();
    ::close(sv[0]);
    if (!sent) fail("send failed", req.uri);
    check_response(req, response);
    return 0;
}
