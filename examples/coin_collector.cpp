// coin_collector.cpp: scatters a few coins from the bank, then sweeps the field by jumping
// over a grid fine enough that every coin comes within reach (20) of some grid point, and
// picks up what it finds. The coin-nearby event (32) tells it when to stop and pick.
//
//     build/coin_collector [--seconds 60] [--scatter 20] [--host H] [--port P]
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "kelpmoor_client.h"

namespace {

constexpr double GRID = 28.0;   // below 20 * sqrt(2): no point of the field is out of reach
constexpr double EDGE = 246.0;  // coins lie within 246 of the centre

}  // namespace

int main(int argc, char **argv) {
    double seconds = 60;
    int scatter = 20;
    std::string host = "127.0.0.1";
    int port = 0;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--seconds"))
            seconds = std::atof(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--scatter"))
            scatter = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--host"))
            host = argv[i + 1];
        else if (!std::strcmp(argv[i], "--port"))
            port = std::atoi(argv[i + 1]);
        else {
            std::fprintf(stderr, "usage: %s [--seconds S] [--scatter N] [--host H] [--port P]\n",
                         argv[0]);
            return 2;
        }
    }
    try {
        auto t = kelpmoor::Turtle::connect(host, port);
        t.name("coin collector");
        for (int i = 0; i < scatter; i++) t.scatter_coin();
        auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        int picked = 0, jumps = 0;
        bool reverse = false;
        // Rows bottom to top, alternating direction, again and again until time is up.
        while (std::chrono::steady_clock::now() < end) {
            for (double y = -EDGE; y <= EDGE && std::chrono::steady_clock::now() < end; y += GRID) {
                for (int k = 0; k * GRID <= 2 * EDGE; k++) {
                    double x = reverse ? EDGE - k * GRID : -EDGE + k * GRID;
                    t.jump(x, y);  // refused while something stands within 20: go on
                    jumps++;
                    // Picking the nearest coin while any is within reach.
                    while (t.take_events().coin_nearby() || t.coins_near() > 0) {
                        int before = t.coins_held();
                        t.pick_coin();
                        if (t.coins_held() <= before) break;
                        picked++;
                        std::printf("picked a coin at (%.0f, %.0f)\n", x, y);
                    }
                    if (std::chrono::steady_clock::now() >= end) break;
                }
                reverse = !reverse;
            }
        }
        std::printf("picked %d held %d jumps %d\n", picked, t.coins_held(), jumps);
    } catch (const kelpmoor::Error &e) {
        std::fprintf(stderr, "coin collector: %s\n", e.what());
        return 1;
    }
    return 0;
}
