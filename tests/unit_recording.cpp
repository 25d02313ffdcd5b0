// unit_recording.cpp: the recording file format: what the encoder writes, the player shows
// again, also across key frames and after seeking back; a torn or damaged file plays up to its
// last whole frame.
#include <cstring>
#include <random>

#include "server/httpd.h"
#include "server/recording_file.h"
#include "support.h"

namespace {

constexpr uint32_t FRAME_MS = KEY_FRAME_MS / 5;  // between the frames of the test recordings

// What a viewer was shown at one recorded frame.
struct shown_frame {
    std::vector<unsigned char> floor;
    frame_snapshot snap;
};

// A small recording of three turtles moving, one renamed, one gone half-way, painting random
// rectangles over each other, a key frame every five frames, with a marker before frame 7.
struct recorded {
    std::string bytes;
    std::vector<shown_frame> frames;
    std::vector<std::size_t> frame_ends;  // the file's length after each frame's record

    explicit recorded(int nframes) {
        std::mt19937 rng(7);
        recording_encoder enc;
        stream_events events;
        std::vector<unsigned char> floor(FLOOR_BYTES, 0);
        bytes = recording_header(1700000000123);
        locked([] {
            for (int t = 0; t < 3; t++) place(t, 10.0 * t, -20.0, 30.0 * t);
            std::snprintf(ttl[1].name, sizeof ttl[1].name, "q\"u\xe9");
        });
        for (int f = 0; f < nframes; f++) {
            frame_snapshot snap;
            locked([&] {
                elapsed_time = 100 + 3 * f;
                for (int t = 0; t < 3; t++) {
                    ttl[t].pos[0].x += 1.25 * t;
                    ttl[t].heading += 7;
                }
                ttl[2].score = 100 - f;
                if (f == 4) ttl[0].status = 0;
                take_snapshot(snap, nullptr);
            });
            const std::string delta = events.next(snap), full = events.full();
            std::vector<floor_patch> patches;
            for (int n = f % 3; n > 0; n--) {
                floor_patch p;
                // Overlapping, so that a patch meets the pixels of patches before it.
                p.rect = {static_cast<int>(rng() % 8), static_cast<int>(rng() % 8),
                          1 + static_cast<int>(rng() % 6), 1 + static_cast<int>(rng() % 6)};
                p.rgb.resize(static_cast<std::size_t>(p.rect.w) * p.rect.h * 3);
                for (auto &c : p.rgb) c = static_cast<unsigned char>(rng());
                for (int row = 0; row < p.rect.h; row++) {
                    std::memcpy(&floor[((p.rect.y + row) * FLOOR_SIDE + p.rect.x) * 3],
                                &p.rgb[row * p.rect.w * 3], p.rect.w * 3);
                }
                patches.push_back(std::move(p));
            }
            if (f == 7) {
                bytes += marker_record(snap.tick, f * FRAME_MS,
                                       R"({"tick":121,"kind":"kill","text":"q\"u\u00e9"})");
            }
            bytes += enc.frame(snap.tick, f * FRAME_MS, full, delta, patches);
            EXPECT_EQ(enc.floor(), floor);
            frame_ends.push_back(bytes.size());
            frames.push_back({floor, snap});
        }
    }
};

void expect_shows(const recording_player &p, const shown_frame &f) {
    const uint32_t tick = f.snap.tick;
    EXPECT_EQ(p.tick(), tick);
    EXPECT_TRUE(p.floor() == f.floor) << "floor at tick " << tick;
    std::size_t i = 0;
    for (int t = 0; t < f.snap.ntmax; t++) {
        const turtle_snapshot &want = f.snap.turtles[t];
        if (!(want.status & ST_ALIVE)) continue;
        ASSERT_LT(i, p.turtles().size()) << "at tick " << tick;
        const recorded_turtle &got = p.turtles()[i++];
        EXPECT_EQ(got.id, t);
        EXPECT_EQ(got.name, want.name);
        EXPECT_NEAR(got.x, want.pos.x, 0.005);
        EXPECT_NEAR(got.y, want.pos.y, 0.005);
        EXPECT_NEAR(got.heading, std::fmod(want.heading, 360.0), 0.005);
        EXPECT_EQ(got.score, want.score) << "slot " << t << " at tick " << tick;
    }
    EXPECT_EQ(i, p.turtles().size()) << "at tick " << tick;
}

}  // namespace

// Floors and turtles at chosen ticks, in the order a user would seek: forward within a key
// frame's stream, across key frames, back, to a tick between frames; the markers and heads.
TEST(Recording, PlaysBackWhatWasRecorded) {
    const recorded r(13);
    recording_player p(r.bytes);
    ASSERT_TRUE(p.valid());
    const recording_summary &s = p.summary();
    EXPECT_EQ(s.started_ms, 1700000000123);
    EXPECT_EQ(s.first_tick, 100u);
    EXPECT_EQ(s.last_tick, 136u);
    EXPECT_EQ(s.valid_bytes, r.bytes.size());
    int keys = 0;
    for (const record_info &i : s.records) keys += i.type == record_type::key;
    EXPECT_EQ(keys, 3);
    ASSERT_EQ(s.markers.size(), 1u);
    EXPECT_EQ(s.markers[0].tick, 121u);
    EXPECT_EQ(s.markers[0].kind, "kill");
    EXPECT_EQ(s.markers[0].text, "q\"u\xe9");

    expect_shows(p, r.frames[0]);
    for (int f : {2, 3, 6, 12, 4, 5, 9, 0}) {
        ASSERT_TRUE(p.seek(r.frames[f].snap.tick));
        expect_shows(p, r.frames[f]);
    }
    ASSERT_TRUE(p.seek(r.frames[8].snap.tick + 2));  // between two frames: the one before
    expect_shows(p, r.frames[8]);
    EXPECT_FALSE(p.seek(99));
}

// A file cut at any byte scans and plays to its last whole frame (played at every byte but
// inside key frames, where each cut inflates a whole floor: there at every 61st); a byte
// changed anywhere in a record ends the recording before that record; what is not a recording
// is refused.
TEST(Recording, TornOrDamagedFilesPlayToTheirLastWholeFrame) {
    const recorded r(7);
    const auto all = scan_recording(r.bytes);
    for (std::size_t cut = 0; cut < r.bytes.size(); cut++) {
        const std::string torn = r.bytes.substr(0, cut);
        const auto whole = std::upper_bound(r.frame_ends.begin(), r.frame_ends.end(), cut);
        const auto s = scan_recording(torn);
        ASSERT_EQ(s.has_value(), cut >= RECORDING_HEADER_BYTES) << "cut at " << cut;
        const auto in = std::find_if(all->records.begin(), all->records.end(), [&](auto &i) {
            return i.offset + RECORD_HEAD_BYTES + i.stored + RECORD_CRC_BYTES > cut;
        });
        if (s) {
            EXPECT_EQ(s->records.size(), static_cast<std::size_t>(in - all->records.begin()))
                << "cut at " << cut;
        }
        const bool in_key = in != all->records.end() && in->type == record_type::key &&
                            cut > in->offset + RECORD_HEAD_BYTES;
        if (in_key && cut % 61 != 0) continue;
        recording_player p(torn);
        if (whole == r.frame_ends.begin()) {
            EXPECT_FALSE(p.valid()) << "cut at " << cut;
            continue;
        }
        const shown_frame &last = r.frames[whole - r.frame_ends.begin() - 1];
        ASSERT_TRUE(p.seek(UINT32_MAX)) << "cut at " << cut;
        ASSERT_EQ(p.tick(), last.snap.tick) << "cut at " << cut;
        EXPECT_TRUE(p.floor() == last.floor) << "cut at " << cut;
    }

    const record_info &damaged = all->records[3];
    for (std::size_t at :
         {damaged.offset, damaged.offset + 5, damaged.offset + RECORD_HEAD_BYTES + 1,
          damaged.offset + RECORD_HEAD_BYTES + damaged.stored + 2}) {
        std::string bytes = r.bytes;
        bytes[at] ^= 0x20;
        recording_player p(bytes);
        EXPECT_EQ(p.summary().records.size(), 3u) << "byte " << at;
        EXPECT_EQ(p.summary().valid_bytes, damaged.offset) << "byte " << at;
        ASSERT_TRUE(p.seek(UINT32_MAX));
        expect_shows(p, r.frames[2]);
    }
    for (std::size_t at : {0, 8}) {
        std::string bytes = r.bytes;
        bytes[at] ^= 1;
        EXPECT_FALSE(scan_recording(bytes).has_value()) << "byte " << at;
    }
}
