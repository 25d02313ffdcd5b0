// bench_client_cpp.cpp: one round of the C++ client library against a running Kelpmoor, for
// bench/clients/compare.py: "Q P" sequentially or 64 per pipeline.
//     bench_client_cpp PORT seq|pipe SECONDS      prints replies per second
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "kelpmoor_client.h"

int main(int argc, char **argv) {
    if (argc != 4) {
        std::fputs("usage: bench_client_cpp PORT seq|pipe SECONDS\n", stderr);
        return 2;
    }
    using Clock = std::chrono::steady_clock;
    auto t = kelpmoor::Turtle::connect("127.0.0.1", std::atoi(argv[1]));
    t.clear_all();  // earlier rounds' turtles are zombies now: free their slots
    const bool pipe = std::string(argv[2]) == "pipe";
    const std::vector<std::string> batch(64, kelpmoor::cmd::query('P'));
    long replies = 0;
    auto start = Clock::now();
    auto end = start + std::chrono::duration<double>(std::atof(argv[3]));
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
    return 0;
}
