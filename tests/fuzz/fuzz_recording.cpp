// fuzz_recording.cpp: libFuzzer target for reading a recording: scan_recording and the
// recording_player seeking about in it. The first input byte chooses help that lets the
// fuzzer past the checks it cannot guess: bit 0 puts a valid header before the rest, bit 1
// makes every record's CRC right. Checks: the summary describes a prefix of the bytes, and
// whatever the player shows is a whole floor and turtles in valid slots, at a tick it was
// asked for or before.
#include <zlib.h>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "server/recording_file.h"

namespace {

[[noreturn]] void fail(const char *what, uint64_t detail) {
    std::fprintf(stderr, "fuzz_recording: %s: %llu\n", what,
                 static_cast<unsigned long long>(detail));
    std::abort();
}

uint32_t get32(const std::string &b, std::size_t at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; i--) v = v << 8 | static_cast<unsigned char>(b[at + i]);
    return v;
}

// Writes the right CRC after each record, walking them by their stored lengths.
void fix_crcs(std::string &b) {
    for (std::size_t at = RECORDING_HEADER_BYTES;
         at <= b.size() && b.size() - at >= RECORD_HEAD_BYTES + RECORD_CRC_BYTES;) {
        const uint32_t stored = get32(b, at + 9);
        if (b.size() - at - RECORD_HEAD_BYTES - RECORD_CRC_BYTES < stored) break;
        const std::size_t end = at + RECORD_HEAD_BYTES + stored;
        const auto crc = static_cast<uint32_t>(
            crc32(0, reinterpret_cast<const Bytef *>(b.data() + at), static_cast<uInt>(end - at)));
        for (int i = 0; i < 4; i++) b[end + i] = static_cast<char>(crc >> (8 * i));
        at = end + RECORD_CRC_BYTES;
    }
}

void check_shown(const recording_player &p, uint32_t asked) {
    if (p.floor().size() != FLOOR_BYTES) fail("floor size", p.floor().size());
    if (p.tick() > asked) fail("shows a later tick", p.tick());
    int last = -1;
    for (const recorded_turtle &t : p.turtles()) {
        if (t.id <= last || t.id >= NTURTLE) fail("turtle slot", static_cast<uint64_t>(t.id));
        last = t.id;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) return 0;
    const uint8_t help = data[0];
    std::string bytes = (help & 1) ? recording_header(1) : std::string();
    bytes.append(reinterpret_cast<const char *>(data + 1), size - 1);
    if (help & 2) fix_crcs(bytes);

    const auto s = scan_recording(bytes);
    if (s) {
        if (s->valid_bytes > bytes.size()) fail("valid bytes", s->valid_bytes);
        uint64_t at = RECORDING_HEADER_BYTES;
        for (const record_info &r : s->records) {
            if (r.offset != at) fail("record offset", r.offset);
            at += RECORD_HEAD_BYTES + r.stored + RECORD_CRC_BYTES;
        }
        if (at != s->valid_bytes) fail("records end", at);
    }
    recording_player p(bytes);
    if (!p.valid()) return 0;
    if (!s || s->records.empty()) fail("valid without a frame", 0);
    const uint32_t first = s->first_tick, last = s->last_tick;
    for (uint32_t t : {last, first, first + (last - first) / 2, UINT32_MAX, last, first}) {
        if (p.seek(t)) check_shown(p, t);
    }
    return 0;
}
