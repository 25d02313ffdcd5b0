// bench_record: what recording costs. In a real window (run it under Xvfb:
// tools/with-display.sh build/bench_record), a battle of 10 clients' turtles that paint in every
// frame runs at the timer's full rate in short blocks with the recorder stopped and recording,
// in the order off-on, on-off, ... so that a drift of the machine falls on both alike. It prints
// the frame time of each (median and 99th percentile), the median ratio of the quartets
// off-on-on-off (a steady drift cancels within each) and the process's CPU time a frame, then
// records a minute of it for the size per minute. Then it encodes a 10-minute recording of the same
// battle at 60 frames a second without a window (the floor's patches made from the painters'
// positions) and times a seek to its middle. "short" runs fewer blocks and a 1-minute recording.
#include <dirent.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bench_util.h"
#include "draw/frame.h"
#include "server/httpd.h"
#include "server/recorder.h"
#include "server/recording_file.h"
#include "world/battle.h"
#include "world/field.h"
#include "world/turtle.h"

namespace {

using clock_type = std::chrono::steady_clock;

constexpr int CLIENTS = 10;
constexpr int BLOCK_FRAMES = 150;
constexpr int WARMUP_FRAMES = 60;

double ms_since(clock_type::time_point t) {
    return std::chrono::duration<double, std::milli>(clock_type::now() - t).count();
}

double cpu_ms() {  // user and system time of the whole process so far
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    const auto ms = [](const timeval &t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; };
    return ms(u.ru_utime) + ms(u.ru_stime);
}

void spawn(int tid) {
    const double a = 2.0 * PI * tid / CLIENTS;
    init_turtle(tid, tid, 150.0 * std::cos(a), 150.0 * std::sin(a), 90.0 + 36.0 * tid);
    std::snprintf(ttl[tid].name, sizeof ttl[tid].name, "client-%02d", tid);
    turtle_set_color(tid, 0.1 * tid, 1.0 - 0.1 * tid, 0.5);
    turtle_line_width(tid, 3.0);
    turtle_pen_down(tid);
    ntmax = std::max(ntmax, tid + 1);
}

// What the clients do between two frames: every turtle walks a circle with its pen down and
// fires whenever it may; the dead come back.
void play(long frame) {
    for (int t = 0; t < CLIENTS; t++) {
        if (!(ttl[t].status & ST_ALIVE)) spawn(t);
        turtle_turn(t, 2.0 + 0.2 * t);
        turtle_step_forward(t, 1.5);
        if ((frame + t) % 20 == 0) turtle_fire(t);
    }
}

void set_up_battle() {
    std::lock_guard lock(frame_rendering_mutex);
    field_set_battle_mode();
    for (int t = 0; t < CLIENTS; t++) spawn(t);
}

// One frame as the timer and a client batch give it; its display() time in milliseconds.
double one_frame(long n) {
    {
        std::lock_guard lock(frame_rendering_mutex);
        play(n);
    }
    elapsed_time++;
    const auto start = clock_type::now();
    display();
    const double took = ms_since(start);
    std::this_thread::sleep_for(std::chrono::milliseconds(TIMER_FAST_MS));
    return took;
}

uint64_t bytes_in(const std::string &dir) {
    uint64_t total = 0;
    if (DIR *d = opendir(dir.c_str())) {
        while (const dirent *e = readdir(d)) {
            struct stat st {};
            if (std::strncmp(e->d_name, "kelpmoor-", 9) == 0 &&
                stat((dir + "/" + e->d_name).c_str(), &st) == 0) {
                total += static_cast<uint64_t>(st.st_size);
            }
        }
        closedir(d);
    }
    return total;
}

void report(const char *what, const std::vector<double> &v) {
    std::printf("%-22s median %.3f ms, 99th percentile %.3f ms (%zu frames)\n", what,
                bench::median(v), bench::percentile99(v), v.size());
}

// A recording of `minutes` of the battle at 60 frames a second, made with the world's rules
// and the encoder alone: each painter's new pixels are a small square where it stands.
std::string synthetic_recording(int minutes) {
    {
        std::lock_guard lock(frame_rendering_mutex);
        field_reset_world();
    }
    set_up_battle();
    recording_encoder enc;
    stream_events events;
    std::string file = recording_header(0);
    static frame_report rep;
    frame_snapshot snap;
    const long frames = 60L * 60 * minutes;
    for (long f = 0; f < frames; f++) {
        std::vector<floor_patch> patches;
        {
            std::lock_guard lock(frame_rendering_mutex);
            play(f);
            elapsed_time++;
            field_advance_frame(rep);
            take_snapshot(snap, &rep);
        }
        for (int t = 0; t < CLIENTS; t++) {
            const turtle_snapshot &s = snap.turtles[t];
            if (!(s.status & ST_ALIVE)) continue;
            floor_patch p;
            p.rect = {std::clamp(static_cast<int>(s.pos.x) + 254, 0, FLOOR_SIDE - 4),
                      std::clamp(253 - static_cast<int>(s.pos.y), 0, FLOOR_SIDE - 4), 4, 4};
            p.rgb.assign(4 * 4 * 3, static_cast<unsigned char>(25 * t));
            patches.push_back(std::move(p));
        }
        const std::string delta = events.next(snap);
        const auto ms = static_cast<uint32_t>(f * 1000 / 60);
        file +=
            enc.frame(snap.tick, ms, enc.key_frame_due(ms) ? events.full() : "", delta, patches);
    }
    return file;
}

}  // namespace

int main(int argc, char **argv) {
    const bool short_run = argc > 1 && std::strcmp(argv[1], "short") == 0;
    const int pairs = short_run ? 4 : 24;
    field_open_window(argc, argv);
    set_up_battle();
    char dir_template[] = "/tmp/bench-record-XXXXXX";
    if (mkdtemp(dir_template) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string dir = dir_template;
    long n = 0;
    for (int i = 0; i < WARMUP_FRAMES; i++) one_frame(n++);
    std::vector<double> off, on;
    std::vector<std::array<double, 2>> block_medians;  // each pair's: stopped, recording
    double cpu_off = 0, cpu_on = 0;
    for (int pair = 0; pair < pairs; pair++) {
        std::array<double, 2> block_median{};
        for (int half = 0; half < 2; half++) {
            const bool recording = (half == 0) == (pair % 2 == 1);
            std::vector<double> block;
            const double cpu_start = cpu_ms();
            if (recording) start_recorder(dir.c_str(), true);
            for (int i = 0; i < BLOCK_FRAMES; i++) block.push_back(one_frame(n++));
            if (recording) stop_recorder("stopped");
            (recording ? cpu_on : cpu_off) += cpu_ms() - cpu_start;
            block_median[recording ? 1 : 0] = bench::median(block);
            std::vector<double> &all = recording ? on : off;
            all.insert(all.end(), block.begin(), block.end());
        }
        block_medians.push_back(block_median);
    }
    std::vector<double> quartet_ratios;
    for (std::size_t i = 0; i + 1 < block_medians.size(); i += 2) {
        const auto &a = block_medians[i], &b = block_medians[i + 1];
        quartet_ratios.push_back((a[1] + b[1]) / (a[0] + b[0]));
    }
    report("recorder stopped:", off);
    report("recording:", on);
    std::printf("median frame time recording / stopped: %.3f\n",
                bench::median(on) / bench::median(off));
    const auto [lo, hi] = std::minmax_element(quartet_ratios.begin(), quartet_ratios.end());
    std::printf("median of the %zu quartets' ratios (off-on-on-off): %.3f, from %.3f to %.3f\n",
                quartet_ratios.size(), bench::median(quartet_ratios), *lo, *hi);
    std::printf("process CPU a frame: stopped %.3f ms, recording %.3f ms\n",
                cpu_off / static_cast<double>(off.size()), cpu_on / static_cast<double>(on.size()));

    // The size of one recording as long as the key frames make it, not of short ones.
    const std::string size_dir = dir + "/size";
    mkdir(size_dir.c_str(), 0755);
    const double seconds = short_run ? 20.0 : 60.0;
    start_recorder(size_dir.c_str(), true);
    const auto start = clock_type::now();
    while (ms_since(start) < seconds * 1000.0) one_frame(n++);
    const double recorded_ms = ms_since(start);
    stop_recorder("stopped");
    const double mib = bytes_in(size_dir) / 1048576.0;
    std::printf("one recording of %.1f s: %.2f MiB, %.2f MiB a minute (%.0f frames a second)\n",
                recorded_ms / 1000.0, mib, mib / (recorded_ms / 60000.0),
                (n - WARMUP_FRAMES - 2.0 * pairs * BLOCK_FRAMES) / (recorded_ms / 1000.0));

    const int minutes = short_run ? 1 : 10;
    const auto made = clock_type::now();
    recording_player p(synthetic_recording(minutes));
    std::printf("synthetic %d-minute recording at 60 frames a second: %.2f MiB, made in %.1f s\n",
                minutes, p.summary().valid_bytes / 1048576.0, ms_since(made) / 1000.0);
    const uint32_t middle = (p.summary().first_tick + p.summary().last_tick) / 2;
    std::vector<double> seeks;
    for (int i = 0; i < 5; i++) {
        p.seek(p.summary().first_tick);
        const auto start = clock_type::now();
        p.seek(middle);
        seeks.push_back(ms_since(start));
    }
    std::printf("seek to the middle (tick %u): median %.2f ms of 5\n", middle,
                bench::median(seeks));
    return 0;
}
