// The main loop under a real window: the timer's pace, the title, the window's fixed size.
#include <GL/freeglut.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "kelpmoor.h"
#include "support.h"
#include "turtle.h"

namespace {

// Runs the toolkit's event loop for about `seconds`, one event at a time.
void run_loop_for(double seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
        glutMainLoopEvent();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

}  // namespace

TEST(MainLoop, TimerTicksSlowlyWhenNothingMovesAndFastOtherwise) {
    open_test_window();
    run_loop_for(0.2);  // let the window settle
    uint32_t start = elapsed_time;
    run_loop_for(1.0);
    const uint32_t idle_ticks = elapsed_time - start;
    EXPECT_GE(idle_ticks, 6u);  // 80 ms period: about 12.5 a second
    EXPECT_LE(idle_ticks, 20u);

    ASSERT_GE(generate_turtle(0, 0), 0);
    run_loop_for(0.2);
    start = elapsed_time;
    run_loop_for(1.0);
    const uint32_t busy_ticks = elapsed_time - start;
    // 8 ms period: about 125 a second on an idle machine, far fewer on a loaded one with a
    // sanitizer build, but always well above the idle pace.
    EXPECT_GE(busy_ticks, 25u);
}

TEST(MainLoop, TitleFollowsPrivateModeAtTheNextTick) {
    open_test_window();
    EXPECT_EQ(std::strncmp(window_title, "Kelpmoor @ ", 11), 0);
    field_toggle_private_mode();
    EXPECT_EQ(menuitem_need_to_change, 1);
    for (int i = 0; i < 40 && menuitem_need_to_change; i++) run_loop_for(0.05);
    EXPECT_EQ(menuitem_need_to_change, 0);
}

TEST(MainLoop, WindowSnapsBackTo512) {
    open_test_window();
    glutReshapeWindow(300, 200);
    run_loop_for(0.5);
    EXPECT_EQ(glutGet(GLUT_WINDOW_WIDTH), WINDOW_SIZE);
    EXPECT_EQ(glutGet(GLUT_WINDOW_HEIGHT), WINDOW_SIZE);
}
