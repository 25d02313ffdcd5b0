// net.cpp: the shared TCP plumbing (see net.h).
#include "server/net.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

void Socket::reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

Socket open_listener(unsigned short port, int backlog, listen_failure *failure) {
    *failure = listen_failure::socket;
    Socket s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!s.valid()) return {};
    int one = 1;
    setsockopt(s.fd(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    addr.sin_port = htons(port);
    *failure = listen_failure::bind;
    if (bind(s.fd(), reinterpret_cast<sockaddr *>(&addr), sizeof addr) < 0) return {};
    *failure = listen_failure::listen;
    if (listen(s.fd(), backlog) < 0) return {};
    *failure = listen_failure::none;
    return s;
}

int local_port(int fd) {
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    if (getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len) != 0) return -1;
    return ntohs(addr.sin_port);
}

Socket accept_peer(int listener, sockaddr_in *peer) {
    socklen_t len = sizeof *peer;
    int fd;
    do {
        fd = accept4(listener, reinterpret_cast<sockaddr *>(peer), &len, SOCK_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    return Socket(fd);
}

bool set_nonblocking(int fd) {
    int flags = fcntl(fd, F_GETFL);
    return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

ssize_t receive_some(int fd, void *buf, size_t size) {
    ssize_t n;
    do {
        n = ::recv(fd, buf, size, 0);
    } while (n < 0 && errno == EINTR);
    return n;
}

ssize_t send_some(int fd, const void *data, size_t size) {
    ssize_t n;
    do {
        n = ::send(fd, data, size, MSG_DONTWAIT | MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    return n;
}

bool send_all(int fd, const void *data, size_t size, int timeout_ms) {
    using clock = std::chrono::steady_clock;
    const auto end = clock::now() + std::chrono::milliseconds(timeout_ms);
    const char *p = static_cast<const char *>(data);
    while (size > 0) {
        ssize_t n = send_some(fd, p, size);
        if (n >= 0) {
            p += n;
            size -= static_cast<size_t>(n);
            continue;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK) return false;
        auto left = std::chrono::ceil<std::chrono::milliseconds>(end - clock::now());
        if (left.count() <= 0) return false;
        pollfd p_out{fd, POLLOUT, 0};
        if (poll(&p_out, 1, static_cast<int>(left.count())) < 0 && errno != EINTR) return false;
    }
    return true;
}

peer_text format_peer(const sockaddr_in &addr) {
    peer_text t{};
    if (inet_ntop(AF_INET, &addr.sin_addr, t.host, sizeof t.host) == nullptr) t.host[0] = '\0';
    t.port = ntohs(addr.sin_port);
    return t;
}

bool peer_is_local_host(const sockaddr_in &addr) {
    return addr.sin_addr.s_addr == htonl(INADDR_LOOPBACK);
}
