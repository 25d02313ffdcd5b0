// recording_player.cpp: plays a recording held in memory. One inflater runs through the
// deflate stream of the current key frame; a seek restarts it at a key frame only when the
// target is not ahead in the same stream. A record whose content does not inflate to its size
// or does not read as docs/recording.md says ends the recording there, as a torn tail would.
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "server/json_read.h"
#include "server/recording_file.h"

namespace {

constexpr std::size_t ROW_BYTES = static_cast<std::size_t>(FLOOR_SIDE) * 3;
constexpr uint64_t MAX_DEFLATE_RATIO = 1032;  // deflate cannot inflate further than this
constexpr std::size_t NONE = SIZE_MAX;

uint32_t get16(const unsigned char *p) { return p[0] | (p[1] << 8); }
uint32_t get32(const unsigned char *p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

bool read_int(const json_value *v, int &out) {
    if (v == nullptr || !v->is(json_value::kind::number) || std::fabs(v->number) > 1e9)
        return false;
    out = static_cast<int>(v->number);
    return true;
}

// Lays a turtle object's fields over t (a delta may, in principle, carry only some).
void read_turtle(const json_value &o, recorded_turtle &t) {
    for (std::size_t i = 0; i < o.keys.size(); i++) {
        const std::string &key = o.keys[i];
        const json_value &v = o.items[i];
        if (v.is(json_value::kind::string)) {
            if (key == "name") t.name = v.text;
            if (key == "status") t.status = v.text;
            if (key == "kind") t.kind = v.text;
        } else if (v.is(json_value::kind::number)) {
            if (key == "x") t.x = v.number;
            if (key == "y") t.y = v.number;
            if (key == "heading") t.heading = v.number;
            if (key == "score") read_int(&v, t.score);
            if (key == "team") read_int(&v, t.team);
            if (key == "ncoin") read_int(&v, t.ncoin);
        }
    }
}

}  // namespace

struct recording_player::impl {
    std::string bytes;
    recording_summary sum;
    bool is_recording = false;
    std::vector<std::size_t> frames;  // indices into sum.records of the K and F records
    std::size_t shown = NONE;         // index into frames
    z_stream z{};
    bool inflater = false;  // z is initialised
    std::vector<unsigned char> floor = std::vector<unsigned char>(FLOOR_BYTES, 0);
    std::array<std::optional<recorded_turtle>, NTURTLE> slots;
    std::vector<recorded_turtle> turtles;
    std::vector<unsigned char> content;

    ~impl() {
        if (inflater) inflateEnd(&z);
    }

    // Inflates record r's payload, continuing the current stream (a K record starts a new one).
    bool inflate_record(const record_info &r) {
        if (r.size > static_cast<uint64_t>(r.stored) * MAX_DEFLATE_RATIO + 64) return false;
        if (!inflater) {
            if (inflateInit2(&z, -15) != Z_OK) return false;
            inflater = true;
        } else if (r.type == record_type::key && inflateReset(&z) != Z_OK) {
            return false;
        }
        content.resize(r.size);
        z.next_in = reinterpret_cast<Bytef *>(bytes.data() + r.offset + RECORD_HEAD_BYTES);
        z.avail_in = r.stored;
        z.next_out = content.data();
        z.avail_out = r.size;
        const int rc = inflate(&z, Z_SYNC_FLUSH);
        if (rc != Z_OK && rc != Z_BUF_ERROR) return false;
        return z.avail_in == 0 && z.avail_out == 0;
    }

    // The event in content (after its length) applied to the turtles.
    bool apply_event(std::string_view json) {
        const auto e = json_parse(json);
        if (!e || !e->is(json_value::kind::object)) return false;
        const json_value *full = e->get("full");
        if (full != nullptr && full->is(json_value::kind::boolean) && full->flag) slots = {};
        const json_value *gone = e->get("gone"), *ts = e->get("turtles");
        if (gone != nullptr && gone->is(json_value::kind::array)) {
            for (const json_value &g : gone->items) {
                int id = -1;
                if (read_int(&g, id) && valid_tid(id)) slots[id].reset();
            }
        }
        if (ts != nullptr && ts->is(json_value::kind::array)) {
            for (const json_value &o : ts->items) {
                int id = -1;
                if (!o.is(json_value::kind::object) || !read_int(o.get("id"), id) ||
                    !valid_tid(id)) {
                    continue;
                }
                if (!slots[id]) slots[id] = recorded_turtle{};
                slots[id]->id = id;
                read_turtle(o, *slots[id]);
            }
        }
        return true;
    }

    // Applies frame record r: false (nothing changed) when it does not read.
    bool apply(const record_info &r) {
        if (!inflate_record(r) || content.size() < 4) return false;
        const uint32_t n = get32(content.data());
        if (n > content.size() - 4) return false;
        const std::string_view json(reinterpret_cast<const char *>(content.data()) + 4, n);
        const std::size_t rest = content.size() - 4 - n;
        const unsigned char *pixels = content.data() + 4 + n;
        if (r.type == record_type::key) {
            if (rest != FLOOR_BYTES) return false;
            const auto before = slots;
            slots = {};  // a key frame holds everything, whatever its event says
            if (!apply_event(json)) {
                slots = before;
                return false;
            }
            std::memcpy(floor.data(), pixels, FLOOR_BYTES);
            return true;
        }
        // Every patch is checked before any is applied.
        for (std::size_t at = 0; at < rest;) {
            if (rest - at < 8) return false;
            const uint32_t x = get16(pixels + at), y = get16(pixels + at + 2);
            const uint32_t w = get16(pixels + at + 4), h = get16(pixels + at + 6);
            if (x + w > FLOOR_SIDE || y + h > FLOOR_SIDE || rest - at - 8 < w * h * 3) return false;
            at += 8 + w * h * 3;
        }
        const auto before = slots;
        if (!apply_event(json)) {
            slots = before;
            return false;
        }
        for (std::size_t at = 0; at < rest;) {
            const uint32_t x = get16(pixels + at), y = get16(pixels + at + 2);
            const uint32_t w = get16(pixels + at + 4), h = get16(pixels + at + 6);
            const unsigned char *src = pixels + at + 8;
            for (uint32_t row = 0; row < h; row++) {
                unsigned char *dst = &floor[(y + row) * ROW_BYTES + x * 3];
                for (uint32_t i = 0; i < w * 3; i++) dst[i] ^= src[row * w * 3 + i];
            }
            at += 8 + w * h * 3;
        }
        return true;
    }

    void list_turtles() {
        turtles.clear();
        for (const auto &t : slots) {
            if (t) turtles.push_back(*t);
        }
    }
};

recording_player::recording_player(std::string bytes) : p_(std::make_unique<impl>()) {
    impl &p = *p_;
    p.bytes = std::move(bytes);
    auto s = scan_recording(p.bytes);
    if (!s) return;
    p.sum = std::move(*s);
    p.is_recording = true;
    for (std::size_t i = 0; i < p.sum.records.size(); i++) {
        const record_type t = p.sum.records[i].type;
        if (t == record_type::key || t == record_type::frame) p.frames.push_back(i);
    }
    if (!p.frames.empty()) seek(p.sum.records[p.frames[0]].tick);
}

recording_player::~recording_player() = default;

bool recording_player::valid() const { return p_->is_recording && !p_->frames.empty(); }
const recording_summary &recording_player::summary() const { return p_->sum; }
const std::vector<unsigned char> &recording_player::floor() const { return p_->floor; }
const std::vector<recorded_turtle> &recording_player::turtles() const { return p_->turtles; }

uint32_t recording_player::tick() const {
    return p_->shown == NONE ? 0 : p_->sum.records[p_->frames[p_->shown]].tick;
}

bool recording_player::seek(uint32_t tick) {
    impl &p = *p_;
    const auto &recs = p.sum.records;
    for (;;) {
        const auto after =
            std::upper_bound(p.frames.begin(), p.frames.end(), tick,
                             [&](uint32_t t, std::size_t i) { return t < recs[i].tick; });
        if (after == p.frames.begin()) return false;
        const std::size_t target = static_cast<std::size_t>(after - p.frames.begin()) - 1;
        std::size_t key = target;
        while (recs[p.frames[key]].type != record_type::key) key--;  // scan: frames[0] is one
        std::size_t i = p.shown != NONE && p.shown >= key && p.shown <= target ? p.shown + 1 : key;
        while (i <= target && p.apply(recs[p.frames[i]])) p.shown = i++;
        if (i > target) {
            p.list_turtles();
            return true;
        }
        // Frame i cannot be played: the recording ends before it, and the inflater's state is
        // lost, so the next try starts again at a key frame.
        p.frames.resize(i);
        p.shown = NONE;
        p.slots = {};
        p.list_turtles();
    }
}
