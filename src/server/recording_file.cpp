// recording_file.cpp: the records of docs/recording.md as the recorder makes them, and the scan
// of a recording's record heads. The player is in recording_player.cpp.
#include "server/recording_file.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "server/httpd.h"
#include "server/json_read.h"

namespace {

// Deflate levels: a key frame is mostly floor and must be cheap to make; the frames between are
// small and mostly JSON much like the frame before, where more effort pays.
constexpr int KEY_FRAME_LEVEL = 3;
constexpr int FRAME_LEVEL = 6;
constexpr int WINDOW_BITS = -15;  // raw deflate, 32 KiB window
constexpr int PATCH_TILE = 32;    // pixels a side of the pieces a patch is recorded in
constexpr std::size_t ROW_BYTES = static_cast<std::size_t>(FLOOR_SIDE) * 3;

void put16(std::string &out, uint32_t v) {
    out += static_cast<char>(v & 0xff);
    out += static_cast<char>((v >> 8) & 0xff);
}
void put32(std::string &out, uint32_t v) {
    put16(out, v & 0xffff);
    put16(out, v >> 16);
}
uint32_t get32(const unsigned char *p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

uint32_t crc_of(const char *data, std::size_t n) {
    return static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef *>(data), static_cast<uInt>(n)));
}

// The record's head, then payload, then the CRC of both.
std::string make_record(record_type type, uint32_t tick, uint32_t ms, std::string_view payload,
                        uint32_t size) {
    std::string r;
    r.reserve(RECORD_HEAD_BYTES + payload.size() + RECORD_CRC_BYTES);
    r += static_cast<char>(type);
    put32(r, tick);
    put32(r, ms);
    put32(r, static_cast<uint32_t>(payload.size()));
    put32(r, size);
    r += payload;
    put32(r, crc_of(r.data(), r.size()));
    return r;
}

// The event's JSON alone, when the caller passes it as the stream sends it.
std::string_view bare_json(std::string_view e) {
    if (e.starts_with("data: ")) e.remove_prefix(6);
    while (!e.empty() && e.back() == '\n') e.remove_suffix(1);
    return e;
}

std::size_t tiles_of(const floor_rect &r) {
    return static_cast<std::size_t>((r.w + PATCH_TILE - 1) / PATCH_TILE) *
           ((r.h + PATCH_TILE - 1) / PATCH_TILE);
}

bool fits_floor(const floor_patch &p) {
    const floor_rect &r = p.rect;
    return !r.empty() && r.x >= 0 && r.y >= 0 && r.x + r.w <= FLOOR_SIDE &&
           r.y + r.h <= FLOOR_SIDE && p.rgb.size() == static_cast<std::size_t>(r.w) * r.h * 3;
}

}  // namespace

std::string recording_header(int64_t started_ms) {
    std::string h(RECORDING_MAGIC.begin(), RECORDING_MAGIC.end());
    put32(h, RECORDING_VERSION);
    put32(h, 0);
    const auto v = static_cast<uint64_t>(started_ms);
    put32(h, static_cast<uint32_t>(v));
    put32(h, static_cast<uint32_t>(v >> 32));
    return h;
}

struct recording_encoder::impl {
    z_stream z{};
    bool started = false;  // a key frame has been made
    uint32_t key_ms = 0;   // of the last key frame
    std::vector<unsigned char> floor = std::vector<unsigned char>(FLOOR_BYTES, 0);
    std::string content, payload;

    impl() {
        if (deflateInit2(&z, KEY_FRAME_LEVEL, Z_DEFLATED, WINDOW_BITS, 8, Z_DEFAULT_STRATEGY) !=
            Z_OK) {
            throw std::bad_alloc();
        }
    }
    ~impl() { deflateEnd(&z); }

    // Deflates content at `level` up to a sync flush into payload. The stream is byte-aligned
    // with nothing pending after every record, so a change of level writes nothing of its own.
    void deflate_content(int level) {
        payload.resize(deflateBound(&z, static_cast<uLong>(content.size())) + 64);
        z.next_out = reinterpret_cast<Bytef *>(payload.data());
        z.avail_out = static_cast<uInt>(payload.size());
        deflateParams(&z, level, Z_DEFAULT_STRATEGY);
        z.next_in = reinterpret_cast<Bytef *>(content.data());
        z.avail_in = static_cast<uInt>(content.size());
        for (;;) {
            deflate(&z, Z_SYNC_FLUSH);
            if (z.avail_out != 0) break;
            const std::size_t done = payload.size();
            payload.resize(done * 2);
            z.next_out = reinterpret_cast<Bytef *>(payload.data() + done);
            z.avail_out = static_cast<uInt>(payload.size() - done);
        }
        payload.resize(payload.size() - z.avail_out);
    }

    // Patch fp as XOR patches of the pieces that changed (each tile of it cut to where its
    // pixels differ from the floor's), then laid on the floor: a patch is the union of whatever
    // was painted since the last one, often as wide as the field and almost all unchanged.
    void put_changed_tiles(const floor_patch &fp) {
        const floor_rect &r = fp.rect;
        const std::size_t stride = static_cast<std::size_t>(r.w) * 3;
        for (int ty = 0; ty < r.h; ty += PATCH_TILE) {
            for (int tx = 0; tx < r.w; tx += PATCH_TILE) {
                const int w = std::min(PATCH_TILE, r.w - tx), h = std::min(PATCH_TILE, r.h - ty);
                const auto old_at = [&](int x, int y) {
                    return &floor[(r.y + ty + y) * ROW_BYTES + (r.x + tx + x) * 3];
                };
                const auto new_at = [&](int x, int y) {
                    return &fp.rgb[(ty + y) * stride + (tx + x) * 3];
                };
                int x0 = w, x1 = -1, y0 = h, y1 = -1;
                for (int y = 0; y < h; y++) {
                    const unsigned char *o = old_at(0, y), *n = new_at(0, y);
                    if (std::memcmp(o, n, w * 3) == 0) continue;
                    int first = 0, last = w - 1;
                    while (std::memcmp(o + first * 3, n + first * 3, 3) == 0) first++;
                    while (std::memcmp(o + last * 3, n + last * 3, 3) == 0) last--;
                    x0 = std::min(x0, first);
                    x1 = std::max(x1, last);
                    y0 = std::min(y0, y);
                    y1 = y;
                }
                if (x1 < 0) continue;
                put16(content, r.x + tx + x0);
                put16(content, r.y + ty + y0);
                put16(content, x1 - x0 + 1);
                put16(content, y1 - y0 + 1);
                for (int y = y0; y <= y1; y++) {
                    const unsigned char *o = old_at(x0, y), *n = new_at(x0, y);
                    for (int i = 0; i < (x1 - x0 + 1) * 3; i++) content += char(o[i] ^ n[i]);
                }
            }
        }
        lay(fp);
    }

    void lay(const floor_patch &fp) {
        const floor_rect &r = fp.rect;
        const std::size_t stride = static_cast<std::size_t>(r.w) * 3;
        for (int row = 0; row < r.h; row++) {
            std::memcpy(&floor[(r.y + row) * ROW_BYTES + r.x * 3], &fp.rgb[row * stride], stride);
        }
    }

    void put_json(std::string_view json) {
        content.clear();
        put32(content, static_cast<uint32_t>(json.size()));
        content += json;
    }
};

recording_encoder::recording_encoder() : p_(std::make_unique<impl>()) {}
recording_encoder::~recording_encoder() = default;

const std::vector<unsigned char> &recording_encoder::floor() const { return p_->floor; }

bool recording_encoder::key_frame_due(uint32_t ms) const {
    return !p_->started || ms - p_->key_ms >= KEY_FRAME_MS;
}

std::string recording_encoder::frame(uint32_t tick, uint32_t ms, std::string_view full_json,
                                     std::string_view delta_json,
                                     std::span<const floor_patch> patches) {
    impl &p = *p_;
    const bool key = key_frame_due(ms);
    full_json = bare_json(full_json);
    delta_json = bare_json(delta_json);
    std::string no_change;
    if (delta_json.empty()) {
        no_change = "{\"tick\":" + std::to_string(tick) + ",\"full\":false}";
        delta_json = no_change;
    }
    std::size_t size = 4 + (key ? full_json.size() + FLOOR_BYTES : delta_json.size());
    for (const floor_patch &fp : patches) {
        if (!key && fits_floor(fp)) size += fp.rgb.size() + 8 * tiles_of(fp.rect);
    }
    if (size > RECORD_MAX_BYTES) return {};

    p.put_json(key ? full_json : delta_json);
    for (const floor_patch &fp : patches) {
        if (!fits_floor(fp)) continue;
        if (key)
            p.lay(fp);
        else
            p.put_changed_tiles(fp);
    }
    if (key) {
        p.content.append(reinterpret_cast<const char *>(p.floor.data()), p.floor.size());
        deflateReset(&p.z);
        p.started = true;
        p.key_ms = ms;
    }
    p.deflate_content(key ? KEY_FRAME_LEVEL : FRAME_LEVEL);
    return make_record(key ? record_type::key : record_type::frame, tick, ms, p.payload,
                       static_cast<uint32_t>(p.content.size()));
}

std::string marker_record(uint32_t tick, uint32_t ms, std::string_view json) {
    return make_record(record_type::marker, tick, ms, json, static_cast<uint32_t>(json.size()));
}

std::string end_record(uint32_t tick, uint32_t ms, std::string_view json) {
    return make_record(record_type::end, tick, ms, json, static_cast<uint32_t>(json.size()));
}

std::optional<recording_summary> scan_recording(std::string_view bytes) {
    const auto *b = reinterpret_cast<const unsigned char *>(bytes.data());
    if (bytes.size() < RECORDING_HEADER_BYTES ||
        !std::equal(RECORDING_MAGIC.begin(), RECORDING_MAGIC.end(), bytes.begin()) ||
        get32(b + 8) != RECORDING_VERSION) {
        return std::nullopt;
    }
    recording_summary s;
    s.started_ms = static_cast<int64_t>(get32(b + 16) | static_cast<uint64_t>(get32(b + 20)) << 32);
    s.valid_bytes = RECORDING_HEADER_BYTES;
    bool framed = false;
    for (std::size_t at = RECORDING_HEADER_BYTES; !s.ended;) {
        if (bytes.size() - at < RECORD_HEAD_BYTES + RECORD_CRC_BYTES) break;
        record_info r;
        r.type = static_cast<record_type>(bytes[at]);
        r.tick = get32(b + at + 1);
        r.ms = get32(b + at + 5);
        r.stored = get32(b + at + 9);
        r.size = get32(b + at + 13);
        r.offset = at;
        const bool frame = r.type == record_type::key || r.type == record_type::frame;
        const bool plain = r.type == record_type::marker || r.type == record_type::end;
        if ((!frame && !plain) || (plain && r.stored != r.size) ||
            (r.type == record_type::frame && !framed) || r.stored > RECORD_MAX_BYTES ||
            r.size > RECORD_MAX_BYTES) {
            break;
        }
        const std::size_t end = at + RECORD_HEAD_BYTES + r.stored;
        if (bytes.size() - at - RECORD_HEAD_BYTES - RECORD_CRC_BYTES < r.stored ||
            crc_of(bytes.data() + at, end - at) != get32(b + end)) {
            break;
        }
        if (frame) {
            if (!framed) s.first_tick = r.tick;
            s.last_tick = r.tick;
            framed = true;
        } else if (r.type == record_type::end) {
            s.ended = true;
        } else if (auto m = json_parse(bytes.substr(at + RECORD_HEAD_BYTES, r.stored))) {
            const json_value *tick = m->get("tick"), *kind = m->get("kind"), *text = m->get("text");
            if (kind != nullptr && kind->is(json_value::kind::string)) {
                recording_marker mk{r.tick, kind->text, {}};
                if (tick != nullptr && tick->is(json_value::kind::number) && tick->number >= 0 &&
                    tick->number <= UINT32_MAX) {
                    mk.tick = static_cast<uint32_t>(tick->number);
                }
                if (text != nullptr && text->is(json_value::kind::string)) mk.text = text->text;
                s.markers.push_back(std::move(mk));
            }
        }
        s.records.push_back(r);
        at = end + RECORD_CRC_BYTES;
        s.valid_bytes = at;
    }
    std::erase_if(s.markers,
                  [&](const recording_marker &m) { return !framed || m.tick > s.last_tick; });
    return s;
}

std::string marker_json(uint32_t tick, std::string_view kind, std::string_view text) {
    std::string o = "{\"tick\":" + std::to_string(tick) + ",\"kind\":\"";
    append_json_escaped(o, kind);
    o += "\",\"text\":\"";
    append_json_escaped(o, text);
    return o + "\"}";
}
