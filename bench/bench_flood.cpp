// bench_flood.cpp: the field under query floods, against a running Kelpmoor (the real program
// with its window: run it under tests/clients/arena.py, which sets KELPMOOR_PORT). For 0, 3 and
// 9 clients that pipeline 120 "Q T" per write as fast as they are answered, it measures the
// tick rate and an ordinary client's latency for a world-changing command sent at random
// moments (median and 99th percentile, in milliseconds and in frames).
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench_util.h"

namespace {

using Clock = std::chrono::steady_clock;

inline constexpr double ROUND_SECONDS = 3.0;
inline constexpr int CYCLES = 3;  // rounds of 0, 3 and 9 flooders in turn: the machine's load
                                  // drifts, and each count sees the same drift
inline constexpr int PIPELINE_DEPTH = 120;

// A line-at-a-time connection.
struct Line {
    explicit Line(int port) : fd(bench::connect_loopback(port)) {}
    ~Line() { close(fd); }
    bool send_text(const std::string &t) const {
        return send(fd, t.data(), t.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(t.size());
    }
    bool line(std::string *out) {
        for (;;) {
            const size_t lf = pending.find('\n');
            if (lf != std::string::npos) {
                if (out != nullptr) *out = pending.substr(0, lf);
                pending.erase(0, lf + 1);
                return true;
            }
            char buf[65536];
            const ssize_t n = recv(fd, buf, sizeof buf, 0);
            if (n <= 0) return false;
            pending.append(buf, static_cast<size_t>(n));
        }
    }
    int fd;
    std::string pending;
};

unsigned long tick(Line &c) {
    std::string reply;
    if (!c.send_text("Q T\n") || !c.line(&reply)) {
        std::fputs("bench: connection lost\n", stderr);
        std::exit(1);
    }
    return std::strtoul(reply.c_str(), nullptr, 10);
}

void flood(int port, const std::atomic<bool> &stop) {
    Line c(port);
    std::string burst;
    for (int i = 0; i < PIPELINE_DEPTH; i++) burst += "Q T;";
    while (!stop) {
        if (!c.send_text(burst)) return;
        for (int i = 0; i < PIPELINE_DEPTH; i++) {
            if (!c.line(nullptr)) return;
        }
    }
}

// One round: its tick rate; the paced command's latencies go to latency_ms.
double measure(int port, int flooders, std::vector<double> &latency_ms) {
    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
    for (int i = 0; i < flooders; i++) threads.emplace_back(flood, port, std::cref(stop));
    Line c(port);
    tick(c);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the flood under way
    std::mt19937 random(7);
    std::uniform_int_distribution<int> pause_us(0, 20000);
    const unsigned long t0 = tick(c);
    const auto start = Clock::now();
    const auto end = start + std::chrono::duration<double>(ROUND_SECONDS);
    while (Clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::microseconds(pause_us(random)));
        const auto sent = Clock::now();
        if (!c.send_text("T L 1\n") || !c.line(nullptr)) break;
        latency_ms.push_back(
            std::chrono::duration<double, std::milli>(Clock::now() - sent).count());
    }
    const unsigned long t1 = tick(c);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    stop = true;
    for (auto &t : threads) t.join();
    return (t1 - t0) / seconds;
}

}  // namespace

int main(int argc, char **argv) {
    const char *port_text = argc > 1 ? argv[1] : std::getenv("KELPMOOR_PORT");
    if (port_text == nullptr) {
        std::fputs("usage: bench_flood PORT (or KELPMOOR_PORT set, as arena.py does)\n", stderr);
        return 2;
    }
    const int port = std::atoi(port_text);
    const int counts[] = {0, 3, 9};
    std::vector<double> rates[3], latency_ms[3];
    for (int cycle = 0; cycle < CYCLES; cycle++) {
        for (int i = 0; i < 3; i++) rates[i].push_back(measure(port, counts[i], latency_ms[i]));
    }
    const double idle = bench::median(rates[0]);
    for (int i = 0; i < 3; i++) {
        const double rate = bench::median(rates[i]);
        const double frame_ms = 1000.0 / rate;
        const double median = bench::median(latency_ms[i]);
        const double p99 = bench::percentile99(latency_ms[i]);
        std::printf(
            "%d flooders: %.1f ticks/s (%.2f of idle); paced command median %.1f ms (%.2f frames), "
            "p99 %.1f ms (%.2f frames), %zu commands\n",
            counts[i], rate, rate / idle, median, median / frame_ms, p99, p99 / frame_ms,
            latency_ms[i].size());
    }
    std::printf(
        "medians of %d rounds of %.0f s each; goal: at least 0.90 of idle with 9 flooders, "
        "p99 within 2 frames\n",
        CYCLES, ROUND_SECONDS);
    return 0;
}
