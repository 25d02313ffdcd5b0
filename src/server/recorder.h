// recorder.h: recordings of the live view (docs/recording.md). A consumer of published frames
// beside the HTTP server: its recorder thread turns each new snapshot into one record with the
// stream's events (stream_events) and the floor's patches, and its writer thread appends whole
// records to the file from a bounded queue. The frame hands nothing to it beyond publishing.
//
// Threads: start_recorder and stop_recorder on the main thread (start-up, quitting, tests);
// recorder_toggle and the queries on any thread. None of them takes frame_rendering_mutex.
#pragma once

#include <cstdint>
#include <string>

inline constexpr std::size_t RECORD_QUEUE_BYTES = 16u << 20;  // records not yet written
inline constexpr int RECORD_FRAMES_PER_SECOND = 60;           // as the event stream
inline constexpr int RECORD_POLL_MS = 50;  // longest wait of the recorder thread between looks

// The directory recordings go to and are listed from: `dir`, or $HOME when null. With
// record_now, a recording begins with the first frame and a new one at every kill-all (a
// recording begun by recorder_toggle does the same). Starts both threads; 0, or -1 when they
// cannot be started. The thread prints "recording to %s...\n" for each file it begins.
int start_recorder(const char *dir, bool record_now);
// Ends the recording being made with an E record of `reason` ("quit", "stopped"), writes what
// the queue holds, closes the file and joins both threads. Idempotent.
void stop_recorder(const char *reason = "quit");
// The key r: stops the recording being made ("recording stopped: %s, %d ticks\n") or begins
// one. Done by the recorder thread at its next look; false when the recorder is not running.
bool recorder_toggle();

std::string recording_dir();   // where recordings are listed from; "" when there is none
std::string recording_path();  // of the file being written, "" for none
// What tests make of the disk and the writer, from now on.
struct recorder_limits {
    uint64_t file_bytes = 0;  // a write past this size fails as on a full disk; 0: no limit
    std::size_t queue_bytes = RECORD_QUEUE_BYTES;  // the writer is behind past this
    bool writer_paused = false;                    // the writer takes nothing from the queue
};
void set_recorder_limits(const recorder_limits &limits);
