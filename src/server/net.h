// net.h: TCP plumbing shared by the servers: a descriptor that closes itself, listening and
// accepting, EINTR-safe receive and non-blocking send, and peer addresses as text. Knows
// nothing of clients, commands or the world. Any thread; no lock involved.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/types.h>

#include <cstddef>
#include <utility>

// Owns one descriptor; closing it is the destructor's job.
class Socket {
public:
    Socket() = default;
    explicit Socket(int fd) : fd_(fd) {}
    Socket(Socket &&other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Socket &operator=(Socket &&other) noexcept {
        if (this != &other) {
            reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    Socket(const Socket &) = delete;
    Socket &operator=(const Socket &) = delete;
    ~Socket() { reset(); }

    int fd() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    void reset();  // closes now; not retried on EINTR (on Linux the descriptor is gone anyway)

private:
    int fd_ = -1;
};

// The step at which opening a listening socket failed; the caller words its own message.
enum class listen_failure { none, socket, bind, listen };

// An IPv4 TCP socket bound to port on every local address (port 0: a free one), with
// SO_REUSEADDR, close-on-exec, listening with backlog. Blocking unless made otherwise.
// Invalid on failure, with *failure saying where (also written, as none, on success).
Socket open_listener(unsigned short port, int backlog, listen_failure *failure);

// The port a socket is bound to (host order), or -1.
int local_port(int fd);

// Accepts one connection (close-on-exec), retrying on EINTR. Invalid on failure, errno kept.
Socket accept_peer(int listener, sockaddr_in *peer);

bool set_nonblocking(int fd);  // false when fcntl fails

// One recv, retried on EINTR: bytes read, 0 at the peer's end, -1 with errno.
ssize_t receive_some(int fd, void *buf, size_t size);

// One send that never blocks nor raises SIGPIPE, retried on EINTR: bytes taken by the
// socket, or -1 with errno (EAGAIN / EWOULDBLOCK: the socket is full for now).
ssize_t send_some(int fd, const void *data, size_t size);

// Sends all n bytes, waiting for room at most timeout_ms in all. False on an error or when the
// time runs out (some bytes may have gone).
bool send_all(int fd, const void *data, size_t size, int timeout_ms);

// A peer as the log lines print it: "%s %d" with host and port.
struct peer_text {
    char host[INET_ADDRSTRLEN];  // dotted address, empty if it cannot be formatted
    int port;                    // host byte order
};
peer_text format_peer(const sockaddr_in &addr);

// The peer is this machine itself: exactly 127.0.0.1. Other loopback addresses (127.0.0.2 ...)
// count as other hosts, so a test can play a remote client without a second machine.
bool peer_is_local_host(const sockaddr_in &addr);
