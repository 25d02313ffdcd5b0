// gl_threads.cpp: every thread at once: the real frame loop, several clients driving turtles
// through the command server, and the operator's keys and menu, for the thread sanitizer build
// to watch. Every command must get its one reply while the field changes under it.
#include <GL/freeglut.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "draw/frame.h"
#include "server/tcpserver.h"
#include "support.h"
#include "world/field.h"

namespace {

constexpr int CLIENTS = 3;
constexpr int ROUNDS = 12;  // passes over the command list per client

// Every kind of command: moves, pen and paint, text, team board, sensors, queries.
const char *const commands[] = {
    "F 6",       "T L 17",  "P D", "K 1 0.5 0", "W 2",      "L B",   "B 3",   "L -",
    "S 4869",    "N 41 42", "I 2", "U hello",   "Q B",      "E 80",  "Q F",   "Q R 1",
    "Q W",       "Q P",     "Q D", "Q N",       "J 40 -30", "G 5 5", "Y + 2", "C F 0",
    "H 0 0 0.2", "P U",     ".",   "!",         "Q A",      "! U",   "Q T"};
constexpr int PER_ROUND = sizeof commands / sizeof commands[0];

// Sends the list ROUNDS times, one command at a time; returns the replies that were well formed.
int drive_turtle(int port) {
    LoopClient c(port);
    int good = 0;
    for (int r = 0; r < ROUNDS; r++) {
        for (const char *command : commands) {
            const auto reply = (c.send(std::string(command) + "\n"), c.line(30000));
            if (!reply) return good;
            good += reply->find(" @ ") != std::string::npos;
        }
    }
    return good;
}

TEST(Threads, FrameLoopClientsAndKeysTogether) {
    open_test_window();
    start_tcp_server(0);
    ASSERT_GT(tcp_server_port(), 0);

    std::atomic<int> replies{0};
    std::atomic<int> finished{0};
    std::vector<std::thread> clients;
    for (int i = 0; i < CLIENTS; i++) {
        clients.emplace_back([&] {
            replies += drive_turtle(tcp_server_port());
            finished++;
        });
    }
    // Keys that change what the frame and the server read; none of them ends a client.
    const char keys[] = "ns3!b<+co>;z.-h\x1b@@!3nsb";
    const int menu[] = {1, 2, 3, 3, 4, 4, 7};
    int k = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(100);
    while (finished < CLIENTS && std::chrono::steady_clock::now() < deadline) {
        glutMainLoopEvent();
        keyboardfunc(static_cast<unsigned char>(keys[k % (sizeof keys - 1)]), 0, 0);
        if (k % 8 == 0) menu_action(menu[(k / 8) % (sizeof menu / sizeof menu[0])]);
        k++;
        // Keys far faster than any hand, yet leaving the lock free most of the time: a loop
        // that takes it back at once could starve the server thread.
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    for (auto &t : clients) t.join();
    EXPECT_EQ(replies.load(), CLIENTS * ROUNDS * PER_ROUND);
    EXPECT_GT(k, 10);  // the keys really were pressed while clients were served

    // Kill-all from the keyboard empties the field; the loop goes on.
    keyboardfunc('K', 0, 0);
    for (int i = 0; i < 20; i++) glutMainLoopEvent();
    int alive = -1;
    locked([&] { return qf_n_turtle(&alive); });
    EXPECT_EQ(alive, 0);
}

}  // namespace
