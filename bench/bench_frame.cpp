// bench_frame: times display() on the heaviest field the tables allow, in a real window (run it
// under Xvfb: tools/with-display.sh build/bench_frame). Prints the median and the 99th
// percentile frame time. With --docs DIR it instead captures a smaller demonstration field in
// the top view and the bird's-eye view (DIR/topview.png, DIR/birdseye.png, DIR/battle.png)
// through the program's own capture; with --capture FILE [parts] it captures one frame of the
// timed field. With "battle" it times a fight twice (the second time with the renderer's
// programs compiled), then the heaviest field in the same run; "fight" times the fight alone.
#include <GL/freeglut.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "draw/frame.h"
#include "kelpmoor.h"
#include "server/tcpserver.h"
#include "world/battle.h"
#include "world/coins.h"
#include "world/field.h"
#include "world/geometry.h"
#include "world/maze.h"
#include "world/turtle.h"

namespace {

constexpr int WARMUP_FRAMES = 30;
int timed_frames = 400;        // 100 with "short", for slow runs under an instruction counter
constexpr double CELL = 32.0;  // maze cell, field units

double cell_centre(int i) { return Xmin + CELL * i + CELL / 2.0; }

// Processor time of the whole process (the renderer's threads included), milliseconds.
double process_cpu_ms() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

void report(const char *what, std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const double median = v[v.size() / 2];
    const double p99 = v[static_cast<std::size_t>(std::ceil(v.size() * 0.99)) - 1];
    std::printf("%s: median %.3f ms, 99th percentile %.3f ms, max %.3f ms\n", what, median, p99,
                v.back());
}

void put_coin(int c, double x, double y) {
    coins[c].id = c;
    coins[c].pos = {x, y};
    coins[c].order = c;
    coins[c].coinp = nullptr;
    coins[c].status = COIN_ON_FIELD;
    ncoin = std::max(ncoin, c + 1);
    stock_of_coin--;
}

void put_turtle(int tid, int team, double x, double y, double heading, int score,
                const char *name) {
    init_turtle(tid, tid % DEFAULT_CLIENT_LIMIT, x, y, heading);
    ttl[tid].team = team;
    ttl[tid].score = score;
    std::snprintf(ttl[tid].name, sizeof ttl[tid].name, "%s", name);
    ntmax = std::max(ntmax, tid + 1);
}

// 30 named turtles carrying coins, 300 coins on the floor, a full maze, battle mode,
// the bird's-eye view.
void build_heaviest_world() {
    std::srand(7);
    field_set_maze_mode();
    field_kill_all_turtles();
    for (int t = 0; t < NTURTLE; t++) {
        char name[32];
        std::snprintf(name, sizeof name, "turtle-%02d", t);
        put_turtle(t, t % NTEAM, cell_centre(t % 16), cell_centre(2 + (t / 16) * 8), 12.0 * t,
                   100 - t, name);
        ttl[t].ncoin = 1;
    }
    for (int c = 0; c < NCOIN; c++) {
        put_coin(c, cell_centre(c % 16) + (c / 16) % 3 * 4.0, cell_centre((c * 7) % 16));
    }
    bird_view_mode = 1;
    view_rotation_angle = 20.0;
}

// A fighter in slot tid at a free place of the maze: a client's turtle in slots 0 .. 9, a
// robot above.
void spawn_fighter(int tid) {
    for (;;) {
        const double x = 470.0 * (drand() - 0.5), y = 470.0 * (drand() - 0.5);
        if (dist_to_wall_from(x, y) <= 12.0 || dist_to_nn_from(-1, x, y) <= 21.0) continue;
        init_turtle(tid, tid < DEFAULT_CLIENT_LIMIT ? tid : -1, x, y, 360.0 * drand());
        std::snprintf(ttl[tid].name, sizeof ttl[tid].name, "%s-%02d",
                      tid < DEFAULT_CLIENT_LIMIT ? "client" : "robot", tid);
        ntmax = std::max(ntmax, tid + 1);
        return;
    }
}

// 10 clients' turtles and 20 robots in a full maze with all 300 coins on the floor, battle
// mode, the bird's-eye view.
void build_battle_world() {
    srandom(7);
    field_set_maze_mode();
    field_kill_all_turtles();
    for (int t = 0; t < NTURTLE; t++) spawn_fighter(t);
    field_scatter_coin(NCOIN);
    bird_view_mode = 1;
    view_rotation_angle = 20.0;
}

// Before each frame of the fight: freed slots are filled again, everyone fires whenever it
// may, and a fireball always shows.
void keep_fighting() {
    bool fireball = false;
    for (int t = 0; t < NTURTLE; t++) {
        if (!(ttl[t].status & ST_ALIVE)) spawn_fighter(t);
        fireball = fireball || ttl[t].ttl > FIREBALL_LAST_TTL;
        turtle_fire(t);
    }
    if (!fireball) start_to_kill(static_cast<int>(random() % NTURTLE));
}

// Parts left out of the heaviest field, named on the command line (coins, turtles, carried,
// walls, labels, beams, bird), to see what each costs. Two words make the field busier
// instead: "turning" turns the camera a little in every frame and "painting" has every
// turtle draw a line in every frame; either way the floor, walls and coins are drawn anew in
// each frame.
bool named(int argc, char **argv, const char *part) {
    for (int i = 1; i < argc; i++) {
        if (std::strcmp(argv[i], part) == 0) return true;
    }
    return false;
}

void build_field(int argc, char **argv) {
    build_heaviest_world();
    if (named(argc, argv, "coins")) {
        for (int c = 0; c < NCOIN; c++) coins[c].status = 0;
    }
    if (named(argc, argv, "turtles")) ntmax = 0;
    if (named(argc, argv, "carried")) {
        for (int t = 0; t < NTURTLE; t++) ttl[t].ncoin = 0;
    }
    if (named(argc, argv, "walls")) battle_mode = 0;
    if (named(argc, argv, "labels")) disp_name = disp_score = 0;
    if (named(argc, argv, "bird")) bird_view_mode = 0;
    if (named(argc, argv, "painting")) {
        for (int t = 0; t < ntmax; t++) turtle_pen_down(t);
    }
}

// Every turtle has looked at its neighbours with both sensors since the last frame.
void aim_sensors(int argc, char **argv) {
    if (named(argc, argv, "beams")) return;
    for (int t = 0; t < NTURTLE; t++) {
        ttl[t].target_of_finder = (t + 1) % NTURTLE;
        ttl[t].target_of_rader = (t + 2) % NTURTLE;
    }
}

void time_frames(int argc, char **argv, bool battle, const char *pass = "") {
    if (battle) {
        build_battle_world();
    } else {
        build_field(argc, argv);
    }
    std::vector<double> ms, cpu_ms, submit_ms;
    int bullets = 0, fireballs = 0, flashes = 0;
    for (int f = 0; f < WARMUP_FRAMES + timed_frames; f++) {
        elapsed_time++;
        if (battle) {
            keep_fighting();
            for (int t = 0; t < NTURTLE; t++) {
                bullets += (ttl[t].status & ST_BULLET) ? 1 : 0;
                fireballs += ttl[t].ttl > FIREBALL_LAST_TTL ? 1 : 0;
                flashes += ttl[t].bttf > 0 && !(ttl[t].status & ST_BULLET) ? 1 : 0;
            }
        } else {
            aim_sensors(argc, argv);
        }
        if (named(argc, argv, "turning")) view_rotation_angle = std::fmod(f * 0.5, 180.0);
        if (named(argc, argv, "painting")) {
            for (int t = 0; t < ntmax; t++) turtle_step_forward(t, f % 2 == 0 ? 1.0 : -1.0);
        }
        const double cpu_start = process_cpu_ms();
        const auto start = std::chrono::steady_clock::now();
        // display() without its capture check, timed in two parts.
        display_frame();
        const auto submitted = std::chrono::steady_clock::now();
        glutSwapBuffers();
        glFinish();
        const auto end = std::chrono::steady_clock::now();
        if (f >= WARMUP_FRAMES) {
            ms.push_back(std::chrono::duration<double, std::milli>(end - start).count());
            submit_ms.push_back(
                std::chrono::duration<double, std::milli>(submitted - start).count());
            cpu_ms.push_back(process_cpu_ms() - cpu_start);
        }
    }
    std::printf("bench_frame%s%s: %zu frames, %d turtles, %d coins, %d wall records, bird's-eye\n",
                battle ? " battle" : "", pass, ms.size(), ntmax, ncoin, nwall);
    if (battle) {
        const double frames = WARMUP_FRAMES + timed_frames;
        std::printf("per frame: %.1f bullets in flight, %.2f fireballs, %.1f flashes\n",
                    bullets / frames, fireballs / frames, flashes / frames);
    }
    report("frame time", ms);
    report("drawing calls (the rest is the renderer finishing and the swap)", submit_ms);
    report("processor time, all threads", cpu_ms);
}

void capture(const std::string &path) {
    capture_request = path;
    display();
    glFinish();
}

// A maze battle in progress: named teams, scores, stones, the centre doughnuts, coins.
void make_docs(const std::string &dir) {
    std::srand(3);
    srandom(11);
    field_set_maze_mode();
    struct who {
        int cx, cy, team, score;
        double heading;
        const char *name;
    };
    const who players[] = {
        {1, 13, 1, 112, -90.0, "violet"}, {4, 10, 1, 97, 0.0, "orchid"},
        {12, 13, 2, 104, 180.0, "tide"},  {9, 3, 2, 88, 90.0, "surf"},
        {2, 2, 3, 120, 0.0, "deep"},      {13, 6, 4, 76, 90.0, "amber"},
        {6, 6, 0, 100, 45.0, "loner"},    {10, 9, 4, 93, -90.0, "lemon"},
    };
    for (const who &p : players) {
        const int tid = generate_turtle(0, 0);
        if (tid < 0) break;
        ttl[tid].pos.fill({cell_centre(p.cx), cell_centre(p.cy)});
        ttl[tid].heading = p.heading;
        ttl[tid].team = p.team;
        ttl[tid].score = p.score;
        turtle_name(tid, p.name);
    }
    ttl[1].ncoin = 2;
    const int stones[][2] = {{3, 7}, {11, 11}, {14, 2}, {5, 13}};
    for (const auto &s : stones) set_object_at(cell_centre(s[0]), cell_centre(s[1]), ST_STONE);
    const double coin_at[][2] = {{7, 12},       {7.25, 12.1}, {2, 9}, {12, 4}, {12.2, 4.15},
                                 {12.05, 4.35}, {14, 14},     {4, 4}, {10, 12}};
    int c = 0;
    for (const auto &p : coin_at) {
        put_coin(c++, Xmin + CELL * p[0] + CELL / 2, Ymin + CELL * p[1] + CELL / 2);
    }
    elapsed_time = 40;
    display();
    bird_view_mode = 0;
    capture(dir + "/topview.png");
    bird_view_mode = 1;
    view_fov_angle = 40.0;
    view_rotation_angle = -10.0;
    capture(dir + "/birdseye.png");

    // The same players a few frames into a fight: shots in flight, one turtle exploding.
    for (int t = 0; t < ntmax; t++) turtle_fire(t);
    for (int f = 0; f < 6; f++) display();
    for (int t = 0; t < ntmax; t++) {
        if (std::strcmp(ttl[t].name, "loner") == 0) start_to_kill(t);
    }
    for (int f = 0; f < 3; f++) display();
    capture(dir + "/battle.png");
}

}  // namespace

// The timed field's frame at a fixed tick as a PNG, to compare the pictures of two builds.
// The captured frame is the third of an unchanging field, so its floor, walls and coins are
// the kept copy of the second.
void capture_field(int argc, char **argv, const std::string &path) {
    build_field(argc, argv);
    elapsed_time = 100;
    for (int f = 0; f < 2; f++) {
        aim_sensors(argc, argv);
        display();
    }
    aim_sensors(argc, argv);
    capture(path);
}

int main(int argc, char **argv) {
    field_open_window(1, argv);
    if (argc == 3 && std::strcmp(argv[1], "--docs") == 0) {
        make_docs(argv[2]);
        return 0;
    }
    if (argc >= 3 && std::strcmp(argv[1], "--capture") == 0) {
        capture_field(argc - 2, argv + 2, argv[2]);
        return 0;
    }
    if (named(argc, argv, "short")) timed_frames = 100;
    if (named(argc, argv, "battle") || named(argc, argv, "fight")) {
        // The software renderer compiles a program for each combination of drawing states the
        // first time it meets one, which costs milliseconds in that frame once per run of the
        // arena; the same fight a second time shows the frames of a fight that keeps going.
        time_frames(argc, argv, true, " (first pass, programs being compiled)");
        field_reset_world();
        std::printf("\n");
        time_frames(argc, argv, true, " (second pass, the same fight again)");
        if (named(argc, argv, "fight")) return 0;
        field_reset_world();
        std::printf("\n");
    }
    time_frames(argc, argv, false);
    return 0;
}
