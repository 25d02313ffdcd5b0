// recording_file.h: the recording file format of docs/recording.md: making records and reading
// a recording back. Plain data, files and zlib: no threads, no world, no sockets, so the
// recorder, the command-line tool and the tests share it.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "world/published.h"

inline constexpr std::array<char, 8> RECORDING_MAGIC = {'K', 'E', 'L', 'P', 'R', 'E', 'C', '\n'};
inline constexpr uint32_t RECORDING_VERSION = 1;
inline constexpr std::size_t RECORDING_HEADER_BYTES = 24;
inline constexpr std::size_t RECORD_HEAD_BYTES = 17;  // type, tick, ms, stored, size
inline constexpr std::size_t RECORD_CRC_BYTES = 4;
inline constexpr uint32_t RECORD_MAX_BYTES = 64u << 20;  // longest payload, stored or inflated
inline constexpr uint32_t KEY_FRAME_MS = 15000;          // a key frame this often
inline constexpr std::size_t FLOOR_BYTES =
    static_cast<std::size_t>(FLOOR_SIDE) * FLOOR_SIDE * 3;  // the whole floor, RGB

enum class record_type : char { key = 'K', frame = 'F', marker = 'M', end = 'E' };

// ---- Writing ----
// The file's first 24 bytes.
std::string recording_header(int64_t started_ms);

// Makes the records of one recording, each as the whole bytes to append, so that a writer
// writes a record at once or drops it whole. Keeps the floor as recorded so far and the
// deflate stream of the current key frame.
class recording_encoder {
public:
    recording_encoder();
    ~recording_encoder();
    recording_encoder(const recording_encoder &) = delete;
    recording_encoder &operator=(const recording_encoder &) = delete;

    // One frame: full_json is the stream's whole event of this frame, delta_json its event
    // from the frame recorded before (each bare or as the stream sends it); patches are the
    // floor's new pixels since then (world/published.h), applied in order. Returns a key frame
    // record for the first frame and when KEY_FRAME_MS have passed since the last key frame,
    // else a frame record with the changed pixels as XOR patches (only the pieces that
    // changed). An empty delta_json is taken as {"tick":T,"full":false}. "" (nothing to write,
    // nothing changed) when the record would be longer than RECORD_MAX_BYTES.
    std::string frame(uint32_t tick, uint32_t ms, std::string_view full_json,
                      std::string_view delta_json, std::span<const floor_patch> patches);
    // Whether a frame at `ms` would be a key frame: only then is full_json read.
    bool key_frame_due(uint32_t ms) const;
    const std::vector<unsigned char> &floor() const;  // FLOOR_BYTES, top row first

private:
    struct impl;
    std::unique_ptr<impl> p_;
};

// Uncompressed records: a marker's object (marker_json, as M records and the listing carry
// it) and the end's {"ticks","reason"}.
std::string marker_json(uint32_t tick, std::string_view kind, std::string_view text);
std::string marker_record(uint32_t tick, uint32_t ms, std::string_view json);
std::string end_record(uint32_t tick, uint32_t ms, std::string_view json);

// ---- Reading ----
struct record_info {
    record_type type{};
    uint32_t tick = 0, ms = 0, stored = 0, size = 0;
    uint64_t offset = 0;  // of the record's first byte in the file
};

struct recording_marker {
    uint32_t tick = 0;
    std::string kind, text;
};

// What the record heads of a recording say, up to its last whole record.
struct recording_summary {
    int64_t started_ms = 0;
    uint32_t first_tick = 0, last_tick = 0;  // of the first and last frame (K or F)
    uint64_t valid_bytes = 0;                // the header and every whole record
    bool ended = false;                      // an E record closes it
    std::vector<record_info> records;        // every whole record, in file order
    std::vector<recording_marker> markers;   // up to the last frame's tick
};

// Reads and checks a recording's heads and CRCs (not the inflated contents). Null when the
// bytes are not a recording of this version (magic, version); a torn or damaged tail only
// ends the summary early.
std::optional<recording_summary> scan_recording(std::string_view bytes);

// One turtle as a recording shows it at a tick.
struct recorded_turtle {
    int id = 0;
    std::string name, status, kind;
    double x = 0, y = 0, heading = 0;
    int score = 0, team = 0, ncoin = 0;
};

// Plays a recording held in memory: the floor and the turtles after the last frame at or
// before a tick.
class recording_player {
public:
    explicit recording_player(std::string bytes);  // bytes: the whole file
    ~recording_player();
    recording_player(const recording_player &) = delete;
    recording_player &operator=(const recording_player &) = delete;

    bool valid() const;  // the bytes are a recording with at least one frame
    const recording_summary &summary() const;
    bool seek(uint32_t tick);                         // false when no frame is at or before tick
    uint32_t tick() const;                            // of the frame shown
    const std::vector<unsigned char> &floor() const;  // FLOOR_BYTES, top row first
    const std::vector<recorded_turtle> &turtles() const;  // by id

private:
    struct impl;
    std::unique_ptr<impl> p_;
};
