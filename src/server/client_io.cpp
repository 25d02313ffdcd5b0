// client_io.cpp: one client's bytes: reading, splitting into commands, replies (see client_io.h).
#include "server/client_io.h"

#include <cerrno>
#include <cstring>

#include "server/commands.h"
#include "server/net.h"
#include "world/world.h"

std::array<tcpclient, MAX_CLIENT> &client_tab = *new std::array<tcpclient, MAX_CLIENT>;
std::atomic<bool> field_commands_local_only{false};

void reply(int cl, const std::string &line) {
    const int n = static_cast<int>(line.size());
    tcpclient &c = client_tab[cl];
    if (c.gone) return;
    if (c.out_len + n > CLIENT_OUTPUT_LIMIT) {
        c.gone = 1;
        c.out_start = c.out_len = 0;
        return;
    }
    if (c.out_start + c.out_len + n > CLIENT_OUTPUT_LIMIT) {
        std::memmove(c.out, c.out + c.out_start, c.out_len);
        c.out_start = 0;
    }
    std::memcpy(c.out + c.out_start + c.out_len, line.data(), n);
    c.out_len += n;
}

void flush_output(int cl) {
    tcpclient &c = client_tab[cl];
    while (c.out_len > 0) {
        ssize_t r = send_some(c.socket.fd(), c.out + c.out_start, c.out_len);
        if (r < 0) {
            // A broken connection is noticed by the next read; its replies are dropped.
            if (errno != EAGAIN && errno != EWOULDBLOCK) c.out_len = 0;
            break;
        }
        c.out_start += static_cast<int>(r);
        c.out_len -= static_cast<int>(r);
    }
    if (c.out_len == 0) c.out_start = 0;
}

int receive_client_packet(int cl) {
    tcpclient &c = client_tab[cl];
    int room = CLIENT_BUFFER_SIZE - 1 - c.len;
    if (room == 0) {
        // The buffer holds one 511-character command (try_to_exec leaves it full for no other
        // reason): only a separator may follow it, and it takes the terminating zero's place.
        char next;
        ssize_t n = receive_some(c.socket.fd(), &next, 1);
        if (n <= 0) return static_cast<int>(n);
        auto byte = static_cast<unsigned char>(next);
        if (byte == '\n' || byte == ';') {
            c.buffer[c.len++] = next;
        } else if (byte >= 32 && byte < 128) {
            c.len = 0;
            c.buffer[0] = '\0';
            c.discarding = 1;
        }
        return 1;
    }
    ssize_t n = receive_some(c.socket.fd(), c.buffer + c.len, room);
    if (n <= 0) return static_cast<int>(n);
    c.len += static_cast<int>(n);
    c.buffer[c.len] = '\0';
    return static_cast<int>(n);
}

bool try_to_exec(int cl, int budget, hold_clock::time_point yield_at) {
    tcpclient &c = client_tab[cl];
    int i = 0;
    int consumed = 0;
    if (c.discarding) {
        while (i < c.len && c.buffer[i] != '\n' && c.buffer[i] != ';') i++;
        if (i == c.len) {
            c.len = 0;
            c.buffer[0] = '\0';
            return false;
        }
        c.discarding = 0;
        reply(cl, answer_back(c.tid, command_result{}));  // ERR for the thrown-away command
        consumed = ++i;
    }
    const bool may_change_field = !field_commands_local_only || peer_is_local_host(c.addr);
    char cmd[CLIENT_BUFFER_SIZE];
    int cmd_len = 0;
    int cmd_start = 0;  // buffer index of the pending command's first byte
    bool stopped = false;
    for (; i < c.len && !stopped; i++) {
        if (c.gone) {
            c.len = 0;  // the client is closed at the end of this pass
            c.buffer[0] = '\0';
            return false;
        }
        auto byte = static_cast<unsigned char>(c.buffer[i]);
        if (byte == '\n' || byte == ';') {
            if (cmd_len == 0) continue;
            cmd[cmd_len] = '\0';
            bool paced = false;
            const std::string line = execute_command(cl, c.tid, cmd, &paced, may_change_field);
            if (paced) c.nup++;
            reply(cl, line);
            consumed = i + 1;
            cmd_len = 0;
            stopped = --budget <= 0 || frame_is_waiting() || hold_clock::now() >= yield_at;
        } else if (byte < 32 || byte >= 128 || (byte == ' ' && cmd_len == 0)) {
            continue;
        } else {
            if (cmd_len == 0) cmd_start = i;
            cmd[cmd_len++] = static_cast<char>(byte);
        }
    }
    c.len -= consumed;
    std::memmove(c.buffer, c.buffer + consumed, c.len);
    c.buffer[c.len] = '\0';
    if (stopped) return true;
    cmd_start -= consumed;
    if (c.len == CLIENT_BUFFER_SIZE - 1) {
        // Full without a separator. Bytes before the pending command only make room; a
        // command that fills the buffer by itself waits for its separator (see
        // receive_client_packet), anything else is thrown away.
        int drop = cmd_len == 0 ? c.len : cmd_start;
        c.len -= drop;
        std::memmove(c.buffer, c.buffer + drop, c.len);
    }
    c.buffer[c.len] = '\0';
    return false;
}
