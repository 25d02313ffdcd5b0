// bench_httpd.cpp: the web viewer server under load, with the real field running in this
// process (window, timer, frames, command server; run it under Xvfb:
// tools/with-display.sh build/bench_httpd).
//
// Requests: requests per second for /turtle on one keep-alive connection, against the real server
// and
//    against a minimal responder that sends the same response bytes from memory, in
//    alternating rounds; the real server's median and 99th-percentile request time. With
//    --server-only, only the requests are measured, without the field (no frames taking the
//    lock).
// Ticks: the tick rate while 10 clients drive their turtles, without viewers and with 50 viewers
//    polling as the browser viewer does (turtle and camera every 100 ms, coins every 200 ms,
//    walls every second), in alternating phases.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bench_util.h"
#include "kelpmoor.h"
#include "server/httpd.h"
#include "server/tcpserver.h"
#include "world/field.h"
#include "world/turtle.h"
#include "world/world.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr double ROUND_SECONDS = 1.0;  // requests: one measuring round
constexpr int ROUNDS = 5;              // requests: rounds per server
constexpr double PHASE_SECONDS = 4.0;  // ticks: one phase
constexpr int PHASES = 3;              // ticks: phases of each kind
constexpr int DRIVERS = 10;
constexpr int VIEWERS = 50;
constexpr int POLL_MS = 100;
constexpr char REQUEST[] = "GET /turtle HTTP/1.1\r\nHost: bench\r\n\r\n";

// Sends one GET and reads its whole response; the response's bytes go to `response`.
bool get(int fd, const std::string &request, std::string &response) {
    if (send(fd, request.data(), request.size(), MSG_NOSIGNAL) !=
        static_cast<ssize_t>(request.size())) {
        return false;
    }
    response.clear();
    size_t need = std::string::npos;
    char buf[65536];
    while (need == std::string::npos || response.size() < need) {
        const ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0) return false;
        response.append(buf, static_cast<size_t>(n));
        if (need == std::string::npos) {
            const size_t end = response.find("\r\n\r\n");
            const size_t at = response.find("Content-Length: ");
            if (end != std::string::npos && at != std::string::npos) {
                need = end + 4 + std::stoul(response.substr(at + 16));
            }
        }
    }
    return true;
}

// The response cut as the server sends it: each header line, the empty line, then body pieces
// of HTTP_PIECE_BYTES.
std::vector<std::string> pieces_of(const std::string &response) {
    std::vector<std::string> pieces;
    const size_t body = response.find("\r\n\r\n") + 4;
    for (size_t at = 0; at < body;) {
        const size_t end = response.find("\r\n", at) + 2;
        pieces.push_back(response.substr(at, end - at));
        at = end;
    }
    for (size_t at = body; at < response.size(); at += HTTP_PIECE_BYTES) {
        pieces.push_back(response.substr(at, HTTP_PIECE_BYTES));
    }
    return pieces;
}

// Answers every receive on the one connection it accepts with the pieces, one send call each
// (all but the last with MSG_MORE).
int start_minimal_responder(const std::vector<std::string> &pieces) {
    int port = 0;
    const int listener = bench::listen_loopback(&port);
    std::thread([listener, pieces] {
        int fd = accept(listener, nullptr, nullptr);
        int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        char buf[4096];
        while (recv(fd, buf, sizeof buf, 0) > 0) {
            for (size_t i = 0; i < pieces.size(); i++) {
                const int more = i + 1 < pieces.size() ? MSG_MORE : 0;
                send(fd, pieces[i].data(), pieces[i].size(), MSG_NOSIGNAL | more);
            }
        }
        close(fd);
    }).detach();
    return port;
}

// Requests per second over one round; request times in microseconds go to times.
double measure(int fd, std::vector<double> &times) {
    std::string response;
    long n = 0;
    const auto start = Clock::now();
    const auto end = start + std::chrono::duration<double>(ROUND_SECONDS);
    auto t = start;
    while (t < end) {
        if (!get(fd, REQUEST, response)) {
            std::fputs("bench_httpd: connection lost\n", stderr);
            std::_Exit(1);
        }
        const auto now = Clock::now();
        times.push_back(std::chrono::duration<double, std::micro>(now - t).count());
        t = now;
        n++;
    }
    return n / std::chrono::duration<double>(t - start).count();
}

// A client that moves its turtle back and forth as fast as the frames let it.
void driver(int fd, const std::atomic<bool> &stop) {
    const char *moves[] = {"F 2\n", "T L 5\n", "B 2\n", "T R 5\n"};
    char buf[512];
    for (int i = 0; !stop.load(); i++) {
        const char *m = moves[i % 4];
        if (send(fd, m, std::strlen(m), MSG_NOSIGNAL) <= 0) return;
        if (recv(fd, buf, sizeof buf, 0) <= 0) return;
    }
}

// A browser viewer's polling, on one keep-alive connection.
void viewer(int port, const std::atomic<bool> &stop, std::atomic<long> &requests) {
    const int fd = bench::connect_loopback(port);
    std::string response;
    for (int i = 0; !stop.load(); i++) {
        const auto next = Clock::now() + std::chrono::milliseconds(POLL_MS);
        bool ok = get(fd, "GET /turtle HTTP/1.1\r\n\r\n", response) &&
                  get(fd, "GET /camera HTTP/1.1\r\n\r\n", response);
        if (ok && i % 2 == 0) ok = get(fd, "GET /coin HTTP/1.1\r\n\r\n", response);
        if (ok && i % 10 == 0) ok = get(fd, "GET /wall HTTP/1.1\r\n\r\n", response);
        if (!ok) break;
        requests += 2 + (i % 2 == 0) + (i % 10 == 0);
        std::this_thread::sleep_until(next);
    }
    close(fd);
}

// Ticks per second over one phase, with or without viewers.
double tick_rate(bool with_viewers, long &viewer_requests) {
    std::atomic<bool> stop{false};
    std::atomic<long> requests{0};
    std::vector<std::thread> viewers;
    if (with_viewers) {
        for (int i = 0; i < VIEWERS; i++) {
            viewers.emplace_back(viewer, httpd_port(), std::cref(stop), std::ref(requests));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(300));  // all connected
    }
    const uint32_t t0 = elapsed_time.load();
    const auto start = Clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(PHASE_SECONDS));
    const uint32_t t1 = elapsed_time.load();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    stop = true;
    for (auto &v : viewers) v.join();
    viewer_requests = requests.load();
    return (t1 - t0) / seconds;
}

void measure_requests(const char *setting) {
    const int server = bench::connect_loopback(httpd_port());
    std::string response;
    get(server, REQUEST, response);
    const int responder = bench::connect_loopback(start_minimal_responder({response}));
    const std::vector<std::string> pieces = pieces_of(response);
    const int piecewise = bench::connect_loopback(start_minimal_responder(pieces));
    std::vector<double> server_rates, responder_rates, piecewise_rates;
    std::vector<double> server_times, responder_times, piecewise_times;
    for (int r = 0; r < ROUNDS; r++) {
        server_rates.push_back(measure(server, server_times));
        responder_rates.push_back(measure(responder, responder_times));
        piecewise_rates.push_back(measure(piecewise, piecewise_times));
    }
    const double s = bench::median(server_rates), m = bench::median(responder_rates);
    const double p = bench::median(piecewise_rates);
    std::printf(
        "/turtle (%zu bytes, %d turtles) %s, one keep-alive connection, median of %d "
        "rounds of %.1f s:\n",
        response.size(), DRIVERS, setting, ROUNDS, ROUND_SECONDS);
    std::printf("  httpd:                 %7.0f requests/s, median %.1f us, p99 %.1f us\n", s,
                bench::median(server_times), bench::percentile99(server_times));
    std::printf("  responder, one send:   %7.0f requests/s, median %.1f us, p99 %.1f us\n", m,
                bench::median(responder_times), bench::percentile99(responder_times));
    std::printf("  responder, %zu sends:   %7.0f requests/s, median %.1f us, p99 %.1f us\n",
                pieces.size(), p, bench::median(piecewise_times),
                bench::percentile99(piecewise_times));
    std::printf("  ratio to one send:     %.2f (goal at least 0.80; p99 goal under 1000 us)\n",
                s / m);
    std::printf("  ratio to %zu sends:     %.2f\n", pieces.size(), s / p);
    close(piecewise);
    close(server);
    close(responder);
}

void run() {
    while (tcp_server_port() <= 0 || httpd_port() <= 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::atomic<bool> stop_drivers{false};
    std::vector<int> driver_fds;
    for (int i = 0; i < DRIVERS; i++)
        driver_fds.push_back(bench::connect_loopback(tcp_server_port()));
    char buf[512];
    for (int fd : driver_fds) {  // each turtle is spawned before measuring
        send(fd, ".\n", 2, MSG_NOSIGNAL);
        recv(fd, buf, sizeof buf, 0);
    }
    measure_requests("with the field running");

    // The tick rate, with and without viewers.
    std::vector<std::thread> drivers;
    for (int fd : driver_fds) drivers.emplace_back(driver, fd, std::cref(stop_drivers));
    std::vector<double> without, with, ratios;
    long requests = 0, total_requests = 0;
    for (int p = 0; p < PHASES; p++) {
        without.push_back(tick_rate(false, requests));
        with.push_back(tick_rate(true, requests));
        total_requests += requests;
        ratios.push_back(with.back() / without.back());
    }
    std::printf("tick rate, %d clients driving, median of %d phases of %.1f s each:\n", DRIVERS,
                PHASES, PHASE_SECONDS);
    std::printf("  without viewers:    %6.1f ticks/s\n", bench::median(without));
    std::printf("  with %d viewers:    %6.1f ticks/s (%.0f requests/s served)\n", VIEWERS,
                bench::median(with), total_requests / (PHASES * PHASE_SECONDS));
    std::printf("  ratio:              %.3f (median of the phase pairs; goal at least 0.97)\n",
                bench::median(ratios));
    std::fflush(stdout);
    std::_Exit(0);  // the window's main loop never returns
}

}  // namespace

int main(int argc, char **argv) {
    if (argc > 1 && std::strcmp(argv[1], "--server-only") == 0) {
        field_reset_world();
        for (int t = 0; t < DRIVERS; t++) init_turtle(t, t, t * 20.0 - 100, t * 7.5, 33.0 * t);
        ntmax = DRIVERS;
        start_httpd(0);
        measure_requests("without the field");
        return 0;
    }
    setenv("KELPMOOR_PORT", std::to_string(bench::free_port()).c_str(), 1);
    setenv("KELPMOOR_HTTP_PORT", std::to_string(bench::free_port()).c_str(), 1);
    if (!read_ports_from_environment()) return 2;
    std::thread(run).detach();
    return field_start(argc, argv);
}
