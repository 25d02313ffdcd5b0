// gl_hidden_window.cpp: the field goes on while its window cannot be seen: with the window
// unmapped (under Xvfb, by xdotool), paced commands are answered at the timer's pace and what
// a turtle paints meanwhile is on the floor once the window shows again.
#include <GL/freeglut.h>

#include <chrono>
#include <thread>

#include "server/tcpserver.h"
#include "support.h"

// The window's X id (a GLX drawable), from libGL; <GL/glx.h> would bring X11's macros, which
// clash with the test framework's names.
extern "C" unsigned long glXGetCurrentDrawable();

namespace {

void pump_for(double seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
        glutMainLoopEvent();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

bool xdotool(const char *action, unsigned long window) {
    const std::string command =
        std::string("xdotool ") + action + " --sync " + std::to_string(window) + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

TEST(HiddenWindow, PacedCommandsAreAnsweredAndPaintLands) {
    if (std::system("command -v xdotool >/dev/null 2>&1") != 0) GTEST_SKIP() << "no xdotool";
    open_test_window();
    start_tcp_server(0);
    ASSERT_GT(tcp_server_port(), 0);
    pump_for(0.3);
    const unsigned long window = glXGetCurrentDrawable();
    ASSERT_TRUE(xdotool("windowunmap", window));
    pump_for(0.2);

    LoopClient c(tcp_server_port());
    c.idle = [] { glutMainLoopEvent(); };
    for (const char *setup : {"J -100 -50", "T E", "K 1 1 1", "W 3", "P D"}) {
        ASSERT_EQ(c.ask(setup).find("OK"), 0u) << setup;
    }
    const unsigned long ticks_before = elapsed_time;
    for (int i = 0; i < 10; i++) ASSERT_EQ(c.ask("F 20").find("OK"), 0u) << "step " << i;
    EXPECT_GE(elapsed_time - ticks_before, 10u);  // one step a frame, a frame a tick
    ASSERT_EQ(c.ask("P U").find("OK"), 0u);

    ASSERT_TRUE(xdotool("windowmap", window));
    pump_for(0.3);
    display_frame();
    const auto px = window_pixels();
    for (double x : {-90.0, -20.0, 50.0, 75.0}) {  // the body stands at 100
        int bright = 0;
        for (double y = -52; y <= -48; y++)
            bright += std::min({pixel_at(px, x, y)[0], pixel_at(px, x, y)[1],
                                pixel_at(px, x, y)[2]}) > 200;
        EXPECT_GT(bright, 0) << "no line at x " << x;
    }
}

}  // namespace
