// bench_command_latency.cpp: replies per second for one client asking "Q P" back to back, against
// the real command server (in this process, no window) and against a minimal loopback echo server.
// With a port (bench_command_latency PORT) it is instead the raw-socket baseline of
// bench/clients/compare.py against a running Kelpmoor: each line "seq|pipe SECONDS" on standard
// input runs one round and prints its replies per second.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "bench_util.h"
#include "draw/frame.h"
#include "kelpmoor.h"
#include "server/tcpserver.h"
#include "world/field.h"

namespace {

using Clock = std::chrono::steady_clock;

inline constexpr double ROUND_SECONDS = 1.0;  // one measuring round
inline constexpr int ROUNDS = 5;              // per server, alternating
inline constexpr char QUERY[] = "Q P\n";

// Echoes every byte back on the one connection it accepts.
void echo_server(int listener) {
    int fd = accept(listener, nullptr, nullptr);
    char buf[4096];
    for (;;) {
        ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0) break;
        if (send(fd, buf, static_cast<size_t>(n), MSG_NOSIGNAL) != n) break;
    }
    close(fd);
}

int start_echo_server() {
    int port = 0;
    const int listener = bench::listen_loopback(&port);
    std::thread(echo_server, listener).detach();
    return port;
}

// One request, then read up to and including the reply's line feed.
bool ask(int fd, std::string &pending) {
    if (send(fd, QUERY, sizeof QUERY - 1, MSG_NOSIGNAL) != sizeof QUERY - 1) return false;
    for (;;) {
        size_t lf = pending.find('\n');
        if (lf != std::string::npos) {
            pending.erase(0, lf + 1);
            return true;
        }
        char buf[512];
        ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0) return false;
        pending.append(buf, static_cast<size_t>(n));
    }
}

// Replies per second over one round; per-reply round trips in microseconds go to rtt.
double measure(int fd, std::vector<double> &rtt) {
    std::string pending;
    long replies = 0;
    auto start = Clock::now();
    auto end = start + std::chrono::duration<double>(ROUND_SECONDS);
    auto t = start;
    while (t < end) {
        if (!ask(fd, pending)) {
            std::fputs("bench: connection lost\n", stderr);
            std::exit(1);
        }
        auto now = Clock::now();
        rtt.push_back(std::chrono::duration<double, std::micro>(now - t).count());
        t = now;
        replies++;
    }
    return replies / std::chrono::duration<double>(t - start).count();
}

// The raw client against a running arena, in rounds asked for on standard input: sequential
// queries, or PIPELINE_DEPTH queries per write. Prints each round's replies per second.
inline constexpr int PIPELINE_DEPTH = 64;

int external_rounds(int port) {
    int fd = bench::connect_loopback(port);
    std::string pending;
    auto call = [&](const std::string &text, int replies) {
        if (send(fd, text.data(), text.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(text.size())) {
            return false;
        }
        while (replies > 0) {
            size_t lf = pending.find('\n');
            if (lf != std::string::npos) {
                pending.erase(0, lf + 1);
                replies--;
                continue;
            }
            char buf[65536];
            ssize_t n = recv(fd, buf, sizeof buf, 0);
            if (n <= 0) return false;
            pending.append(buf, static_cast<size_t>(n));
        }
        return true;
    };
    char mode[16];
    double seconds;
    while (std::scanf("%15s %lf", mode, &seconds) == 2) {
        bool pipe = std::string(mode) == "pipe";
        std::string batch;
        for (int i = 0; i < (pipe ? PIPELINE_DEPTH : 1); i++) batch += QUERY;
        int per_call = pipe ? PIPELINE_DEPTH : 1;
        long replies = 0;
        auto start = Clock::now();
        auto end = start + std::chrono::duration<double>(seconds);
        auto t = start;
        while (t < end) {
            if (!call(batch, per_call)) {
                std::fputs("bench: connection lost\n", stderr);
                return 1;
            }
            replies += per_call;
            t = Clock::now();
        }
        std::printf("%.0f\n", replies / std::chrono::duration<double>(t - start).count());
        std::fflush(stdout);
    }
    close(fd);
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc == 2) return external_rounds(std::atoi(argv[1]));
    field_reset_world();
    start_tcp_server(0);
    if (tcp_server_port() <= 0) {
        std::fputs("bench: the command server did not start\n", stderr);
        return 1;
    }
    int server = bench::connect_loopback(tcp_server_port());
    int echo = bench::connect_loopback(start_echo_server());
    std::string pending;
    ask(server, pending);  // the turtle is spawned before measuring

    std::vector<double> server_rates, echo_rates, server_rtt, echo_rtt;
    for (int r = 0; r < ROUNDS; r++) {
        server_rates.push_back(measure(server, server_rtt));
        echo_rates.push_back(measure(echo, echo_rtt));
    }
    double s = bench::median(server_rates), e = bench::median(echo_rates);
    std::printf(
        "command server: %.0f replies/s (median of %d rounds of %.1f s), "
        "median round trip %.1f us\n",
        s, ROUNDS, ROUND_SECONDS, bench::median(server_rtt));
    std::printf("echo server:    %.0f replies/s, median round trip %.1f us\n", e,
                bench::median(echo_rtt));
    std::printf("ratio:          %.2f (target at least 0.50)\n", s / e);
    close(server);
    close(echo);
    return 0;
}
