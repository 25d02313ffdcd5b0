// bench_util.h: what the benchmark programs share: loopback connections, free ports, and the
// statistics they print.
#pragma once

#include <netinet/tcp.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "../tools/loopback.h"

namespace bench {

// A connection to 127.0.0.1:port with Nagle's delay off, or -1 when nobody accepts it.
inline int try_connect_loopback(int port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (!connect_loopback_socket(fd, port)) {
        close(fd);
        return -1;
    }
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

// The same, but the program ends if it cannot connect.
inline int connect_loopback(int port) {
    const int fd = try_connect_loopback(port);
    if (fd < 0) {
        std::perror("connect");
        std::_Exit(1);
    }
    return fd;
}

// A port nobody listens on right now.
inline int free_port() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr = loopback_address(0);
    socklen_t len = sizeof addr;
    bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
    getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len);
    close(fd);
    return ntohs(addr.sin_port);
}

// A socket listening on 127.0.0.1 on a free port, and that port; the program ends on failure.
inline int listen_loopback(int *port) {
    int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr = loopback_address(0);
    socklen_t len = sizeof addr;
    if (bind(listener, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 ||
        listen(listener, 1) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr *>(&addr), &len) != 0) {
        std::perror("listen");
        std::_Exit(1);
    }
    *port = ntohs(addr.sin_port);
    return listener;
}

inline double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

inline double percentile99(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, v.size() * 99 / 100)];
}

}  // namespace bench
