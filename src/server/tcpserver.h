// tcpserver.h: the command server. Client table, the thread that accepts and reads clients,
// splits their bytes into commands, paces world-changing ones against frames and sends the
// replies. The language itself is server/commands.h.
#pragma once

#include "server/client_io.h"

inline constexpr int COMMAND_PORT = 2222;

extern int nclient;        // slots in use, 0..client_limit()
extern int server_socket;  // listening socket, -1 when the port failed

// ---- Main thread ----
// Opens the port on every address, links the server to the world's frames and disconnections,
// and starts the server thread; on failure writes the init_socket() message, calls
// field_set_socket_error() and starts nothing. Once per process. Only 127.0.0.1 is served
// while private_mode is 1.
void start_tcp_server(int port);  // port 0 picks a free one (tests)
int tcp_server_port();            // the bound port, or -1 before start or after a failure
// Asks the server thread to stop, joins it, then closes every client (turtles left as they are)
// and the listening socket. Main thread, lock not held; nothing when the server never started.
void stop_tcp_server();

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
