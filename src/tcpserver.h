// tcpserver.h: the command server. Client table, the thread that accepts and reads clients,
// pacing of world-changing commands against frames, the command language and its replies.
#pragma once

#include <netinet/in.h>

#include <atomic>
#include <mutex>
#include <string>

inline constexpr int MAX_CLIENT = 10;
inline constexpr int CLIENT_BUFFER_SIZE = 512;  // 511 bytes plus the terminating zero
inline constexpr int COMMAND_PORT = 2222;

struct tcpclient {
    int socket;               // connected socket, -1 when the slot is free
    sockaddr_in addr;         // peer as accepted
    int tid;                  // turtle driven, -1 when free
    char buffer[CLIENT_BUFFER_SIZE];  // received, not yet executed; zero-terminated
    int len;
    int nup;                  // world-changing commands since the end of the last frame
    std::atomic<int> to_be_disconnected;  // set by the main thread, read by the server thread
};

extern tcpclient client_tab[MAX_CLIENT];
extern int nclient;
extern std::atomic<int> accept_only_localhost;
extern int server_socket;
// The one lock: held by the server thread while it executes a batch, by the frame from
// rendering_started to rendering_is_done, and by world-changing key and menu actions.
extern std::mutex frame_rendering_mutex;

// ---- Main thread ----
void start_tcp_server(int port);      // port 0 picks a free one (tests)
int tcp_server_port();                // the bound port, or -1
void rendering_started();             // locks frame_rendering_mutex
void rendering_is_done();             // every nup = 0, then unlocks
int toggle_localhost_mode();          // the new value of accept_only_localhost
// Marks client cl for disconnection at the server's next pass if it still drives turtle tid.
// Any thread; cl < 0 does nothing.
void disconnect_client_for(int tid, int cl);
