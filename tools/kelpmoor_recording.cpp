// kelpmoor_recording.cpp: a recording's summary (length, clients, final scores, kills), the
// turtles at a tick, or the floor at a tick as a PNG file (docs/recording.md).
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <string>

#include "server/httpd.h"
#include "server/recording_file.h"

namespace {

int usage() {
    std::fputs(
        "usage: kelpmoor_recording FILE                       the recording's summary\n"
        "       kelpmoor_recording FILE --at TICK             the turtles at that tick\n"
        "       kelpmoor_recording FILE --floor TICK OUT.png  the floor at that tick as a PNG\n",
        stderr);
    return 2;
}

bool read_tick(const char *s, uint32_t &tick) {
    if (!is_dec_number(s)) return false;
    errno = 0;
    const unsigned long long v = std::strtoull(s, nullptr, 10);
    if (errno == ERANGE || v > UINT32_MAX) return false;
    tick = static_cast<uint32_t>(v);
    return true;
}

// A client's name as the terminal may show it: control bytes as '?'.
std::string shown(const std::string &name) {
    std::string s = name.empty() ? "-" : name;
    for (char &c : s) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
    }
    return s;
}

bool read_whole(const char *path, std::string &out) {
    std::FILE *f = std::fopen(path, "rb");
    if (f == nullptr) return false;
    char buf[1 << 16];
    std::size_t n = 0;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    const bool ok = std::ferror(f) == 0;
    std::fclose(f);
    return ok;
}

void print_turtles(const recording_player &p) {
    std::printf("%-4s %-16s %9s %9s %8s %6s\n", "id", "name", "x", "y", "heading", "score");
    for (const recorded_turtle &t : p.turtles()) {
        std::printf("%-4d %-16s %9.2f %9.2f %8.2f %6d\n", t.id, shown(t.name).c_str(), t.x, t.y,
                    t.heading, t.score);
    }
}

void print_summary(recording_player &p) {
    const recording_summary &s = p.summary();
    const uint32_t ticks = s.last_tick - s.first_tick;
    uint32_t last_ms = 0;
    for (const record_info &r : s.records) {
        if (r.type == record_type::key || r.type == record_type::frame) last_ms = r.ms;
    }
    const std::time_t started = static_cast<std::time_t>(s.started_ms / 1000);
    char when[64] = "?";
    if (const std::tm *tm = std::localtime(&started)) {
        std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", tm);
    }
    std::printf("started  %s\n", when);
    std::printf("length   %u ticks (%u to %u), %.1f s\n", ticks, s.first_tick, s.last_tick,
                last_ms / 1000.0);
    std::printf("ending   %s\n", s.ended ? "stopped cleanly" : "cut short (no end record)");
    // Everyone who drove a turtle at some frame, by slot and name, and how each stood last.
    std::map<std::pair<int, std::string>, recorded_turtle> seen;
    for (const record_info &r : s.records) {
        if (r.type != record_type::key && r.type != record_type::frame) continue;
        if (!p.seek(r.tick)) break;
        for (const recorded_turtle &t : p.turtles()) {
            if (t.kind == "player") seen[{t.id, t.name}] = t;
        }
    }
    std::printf("clients  %zu\n", seen.size());
    for (const auto &[key, t] : seen) {
        std::printf("  %-4d %-16s score %d\n", t.id, shown(t.name).c_str(), t.score);
    }
    p.seek(s.last_tick);
    std::printf("final scores\n");
    for (const recorded_turtle &t : p.turtles()) {
        std::printf("  %-4d %-16s %6d  %s\n", t.id, shown(t.name).c_str(), t.score, t.kind.c_str());
    }
    int kills = 0;
    for (const recording_marker &m : s.markers) kills += m.kind == "kill";
    std::printf("kills    %d\n", kills);
    for (const recording_marker &m : s.markers) {
        std::printf("  tick %-8u %-10s %s\n", m.tick, m.kind.c_str(), m.text.c_str());
    }
}

}  // namespace

int main(int argc, char **argv) {
    uint32_t tick = 0;
    const bool at = argc == 4 && std::strcmp(argv[2], "--at") == 0;
    const bool floor = argc == 5 && std::strcmp(argv[2], "--floor") == 0;
    if (!(argc == 2 || at || floor) || ((at || floor) && !read_tick(argv[3], tick))) {
        return usage();
    }
    std::string bytes;
    if (!read_whole(argv[1], bytes)) {
        std::fprintf(stderr, "kelpmoor_recording: cannot read %s: %s\n", argv[1],
                     std::strerror(errno));
        return 1;
    }
    recording_player p(std::move(bytes));
    if (!p.valid()) {
        std::fprintf(stderr, "kelpmoor_recording: %s is not a recording with a frame\n", argv[1]);
        return 1;
    }
    if (argc == 2) {
        print_summary(p);
        return 0;
    }
    if (!p.seek(tick)) {
        std::fprintf(stderr, "kelpmoor_recording: no frame at or before tick %u (first: %u)\n",
                     tick, p.summary().first_tick);
        return 1;
    }
    if (at) {
        std::printf("tick %u\n", p.tick());
        print_turtles(p);
        return 0;
    }
    const std::string png = encode_png_rgb(p.floor().data(), FLOOR_SIDE, FLOOR_SIDE,
                                           static_cast<std::size_t>(FLOOR_SIDE) * 3);
    std::FILE *out = std::fopen(argv[4], "wb");
    const bool ok =
        out != nullptr && !png.empty() && std::fwrite(png.data(), 1, png.size(), out) == png.size();
    if ((out != nullptr && std::fclose(out) != 0) || !ok) {
        std::fprintf(stderr, "kelpmoor_recording: cannot write %s: %s\n", argv[4],
                     std::strerror(errno));
        return 1;
    }
    std::printf("floor at tick %u written to %s\n", p.tick(), argv[4]);
    return 0;
}
