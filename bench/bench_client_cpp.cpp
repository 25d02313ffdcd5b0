// bench_client_cpp.cpp: the C++ client library against a running Kelpmoor, for
// bench/clients/compare.py: "Q P" sequentially or 64 per pipeline, in rounds asked for on
// standard input ("seq|pipe SECONDS" a line); prints each round's replies per second.
//     bench_client_cpp PORT
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "kelpmoor_client.h"

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fputs("usage: bench_client_cpp PORT\n", stderr);
        return 2;
    }
    using Clock = std::chrono::steady_clock;
    auto t = kelpmoor::Turtle::connect("127.0.0.1", std::atoi(argv[1]));
    const std::vector<std::string> batch(64, kelpmoor::cmd::query('P'));
    char mode[16];
    double seconds;
    while (std::scanf("%15s %lf", mode, &seconds) == 2) {
        const bool pipe = std::string(mode) == "pipe";
        long replies = 0;
        auto start = Clock::now();
        auto end = start + std::chrono::duration<double>(seconds);
        auto now = start;
        while (now < end) {
            if (pipe) {
                replies += static_cast<long>(t.pipeline(batch).size());
            } else {
                t.position();
                replies++;
            }
            now = Clock::now();
        }
        std::printf("%.0f\n", replies / std::chrono::duration<double>(now - start).count());
        std::fflush(stdout);
    }
    return 0;
}
