// tcpserver.cpp: the command server thread, its client table and the pacing of commands
// against frames.
#include "tcpserver.h"

tcpclient client_tab[MAX_CLIENT];
int nclient = 0;
std::atomic<int> accept_only_localhost{1};
int server_socket = -1;
std::mutex frame_rendering_mutex;

void rendering_started() { frame_rendering_mutex.lock(); }

void rendering_is_done() {
    for (auto &c : client_tab) c.nup = 0;
    frame_rendering_mutex.unlock();
}

int toggle_localhost_mode() { return accept_only_localhost.fetch_xor(1) ^ 1; }

void disconnect_client_for(int tid, int cl) {
    if (cl < 0 || cl >= MAX_CLIENT) return;
    if (client_tab[cl].tid == tid) client_tab[cl].to_be_disconnected = 1;
}
