// client_io.h: the command server's client table, and one client's bytes: reading them into
// its buffer, splitting them into commands and executing those, and queuing the replies its
// socket has not taken yet. Server thread only (or the loop driven by hand), with
// frame_rendering_mutex held for reading and executing.
#pragma once

#include <netinet/in.h>

#include <array>
#include <atomic>
#include <chrono>
#include <string>

#include "server/net.h"

inline constexpr int MAX_CLIENT = 30;            // slots of client_tab: one per turtle slot
inline constexpr int DEFAULT_CLIENT_LIMIT = 10;  // clients served at once unless set otherwise
inline constexpr int CLIENT_BUFFER_SIZE = 512;   // 511 bytes plus the terminating zero
// Bytes of replies a client may leave unread before it is disconnected.
inline constexpr int CLIENT_OUTPUT_LIMIT = 64 * 1024;

struct tcpclient {
    Socket socket;                      // the connection, invalid while the slot is free
    sockaddr_in addr{};                 // peer as accepted
    int tid = -1;                       // turtle driven, -1 when free
    char buffer[CLIENT_BUFFER_SIZE]{};  // received, not yet executed; zero-terminated
    int len = 0;
    // World-changing commands since the end of the last frame. Changed under
    // frame_rendering_mutex; the server thread also reads it without the lock to build its wait.
    std::atomic<int> nup{0};
    std::atomic<int> to_be_disconnected{0};  // set by the main thread, read by the server thread
    // Server thread only below.
    int discarding = 0;  // 1 while the rest of an over-long command is being thrown away
    int pending = 0;     // 1 while complete commands of the last read may wait to be executed
    int gone = 0;        // 1 once its unsent output passed CLIENT_OUTPUT_LIMIT: zombie and close
    int out_start = 0;   // first unsent byte of out
    int out_len = 0;     // unsent bytes from out_start
    char out[CLIENT_OUTPUT_LIMIT];  // replies the socket did not take yet, in order
};

// Slots, nclient and every tid change on the server thread with frame_rendering_mutex held.
// Never destroyed, so that no descriptor closes at exit under a running server thread.
extern std::array<tcpclient, MAX_CLIENT> &client_tab;
// Set by set_field_commands_local_only() at start-up.
extern std::atomic<bool> field_commands_local_only;

using hold_clock = std::chrono::steady_clock;

// Queues a reply behind what client cl has not taken yet; a client that lets more than
// CLIENT_OUTPUT_LIMIT pile up is marked gone. Sent by flush_output, once for all the replies
// of a client's turn: one system call for each reply cost a flood more than its commands.
void reply(int cl, const std::string &line);
void flush_output(int cl);  // sends what the socket takes now; never blocks
// Reads once from client cl into its buffer: bytes read; 0 or less when closed or broken.
int receive_client_packet(int cl);
// Executes complete commands from the start of client cl's buffer, at most `budget` of them,
// stopping after a command once a frame waits for the lock or yield_at has passed. True when
// complete commands may remain.
bool try_to_exec(int cl, int budget, hold_clock::time_point yield_at);
