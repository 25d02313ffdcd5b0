// loopback.h: the loopback client socket that the tests and the benchmarks share: the address
// 127.0.0.1:port and a connection to it.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>

inline sockaddr_in loopback_address(int port) {  // port 0: any free port, for bind
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return addr;
}

// Connects fd to 127.0.0.1:port; false when nobody accepts it.
inline bool connect_loopback_socket(int fd, int port) {
    const sockaddr_in addr = loopback_address(port);
    return ::connect(fd, reinterpret_cast<const sockaddr *>(&addr), sizeof addr) == 0;
}
