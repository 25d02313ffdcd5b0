// net_socket.cpp: the shared TCP plumbing: sending that never blocks, sending all of a text
// within a time limit, and the command port's messages when it cannot be opened.
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "server/net.h"
#include "server/tcpserver.h"
#include "support.h"

namespace {

// A connected pair of stream sockets with small buffers, so that they fill quickly.
std::pair<Socket, Socket> small_pair() {
    int fds[2];
    EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    int size = 4096;
    for (int fd : fds) setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    return {Socket(fds[0]), Socket(fds[1])};
}

}  // namespace

TEST(Net, SendingNeverBlocksAndSendAllKeepsToItsTime) {
    auto [a, b] = small_pair();
    const std::string big(1 << 20, 'k');

    // Nobody reads: one send takes what fits and the next is refused at once, although the
    // socket itself blocks; send_all gives up after its time.
    ssize_t first = send_some(a.fd(), big.data(), big.size());
    EXPECT_TRUE(first > 0 && first < static_cast<ssize_t>(big.size()));
    EXPECT_TRUE(send_some(a.fd(), big.data(), big.size()) < 0 && errno == EAGAIN);
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(send_all(a.fd(), big.data(), big.size(), 50));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));

    // A reader empties the other end: everything arrives, in order.
    auto [c, d] = small_pair();
    std::string got;
    std::thread reader([&, fd = d.fd()] {
        char buf[8192];
        ssize_t n;
        while ((n = receive_some(fd, buf, sizeof buf)) > 0) got.append(buf, n);
    });
    std::string text;
    for (int i = 0; i < 100000; i++) text += std::to_string(i) + ";";
    EXPECT_TRUE(send_all(c.fd(), text.data(), text.size(), 10000));
    c.reset();  // the reader sees the end
    reader.join();
    EXPECT_EQ(got, text);
}

// The command port cannot be opened: its message, no port, the field's socket warning. In a
// child process of its own (which runs this test again from the start), since a server may run
// in this one.
TEST(Net, ABusyCommandPortIsReported) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    listen_failure failure;
    Socket busy = open_listener(0, 1, &failure);
    ASSERT_TRUE(busy.valid() && failure == listen_failure::none);
    const int port = local_port(busy.fd());
    EXPECT_EXIT(
        {
            start_tcp_server(port);
            std::exit(tcp_server_port() == -1 && socket_error_occurred ? 0 : 1);
        },
        testing::ExitedWithCode(0),
        "^init_socket\\(\\): cannot bind to port [0-9]+\n$");  // the child's own busy port
}
