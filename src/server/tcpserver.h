// tcpserver.h: the command server. Client table, the thread that accepts and reads clients,
// splits their bytes into commands, paces world-changing ones against frames and sends the
// replies. The language itself is server/commands.h.
#pragma once

#include <netinet/in.h>

#include <atomic>
#include <string>

inline constexpr int MAX_CLIENT = 30;            // slots of client_tab: one per turtle slot
inline constexpr int DEFAULT_CLIENT_LIMIT = 10;  // clients served at once unless set otherwise
inline constexpr int CLIENT_BUFFER_SIZE = 512;   // 511 bytes plus the terminating zero
inline constexpr int COMMAND_PORT = 2222;
// Bytes of replies a client may leave unread before it is disconnected.
inline constexpr int CLIENT_OUTPUT_LIMIT = 64 * 1024;

struct tcpclient {
    int socket = -1;                    // connected socket, -1 when the slot is free
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
    int gone = 0;        // 1 once its unsent output passed CLIENT_OUTPUT_LIMIT: zombie and close
    int out_start = 0;   // first unsent byte of out
    int out_len = 0;     // unsent bytes from out_start
    char out[CLIENT_OUTPUT_LIMIT];  // replies the socket did not take yet, in order
};

// Slots, nclient and every tid change on the server thread with frame_rendering_mutex held.
extern tcpclient client_tab[MAX_CLIENT];
extern int nclient;        // slots in use, 0..client_limit()
extern int server_socket;  // listening socket, -1 when the port failed

// ---- Main thread ----
// Opens the port on every address, links the server to the world's frames and disconnections,
// and starts the server thread; on failure writes the init_socket() message, calls
// field_set_socket_error() and starts nothing. Once per process. Only 127.0.0.1 is served
// while private_mode is 1.
void start_tcp_server(int port);  // port 0 picks a free one (tests)
int tcp_server_port();            // the bound port, or -1 before start or after a failure

// Classroom options, set at start-up; they take effect at the next connection or command.
void set_client_limit(int limit);  // 1..MAX_CLIENT clients at once (DEFAULT_CLIENT_LIMIT)
int client_limit();
// When on, the commands that change the whole field answer ERR unless the client is on the
// local host (peer_is_local_host). Off at start.
void set_field_commands_local_only(bool on);

// ---- Fuzzing and tests, with no server thread started ----
// The client loop driven by hand: the same reading, splitting, executing and replying as the
// server thread's, on sockets the caller made (a socket pair). Both take frame_rendering_mutex.
int adopt_client(int fd);   // fd taken into a free slot as accepted, turtle spawned; slot or -1
bool serve_client(int cl);  // one read and its commands; false once the client is closed
