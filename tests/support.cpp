// support.cpp: the shared test helpers.
#include "support.h"

#include <GL/freeglut.h>

#include "kelpmoor.h"

void reset_world() { field_reset_world(); }

void open_test_window() {
    static bool opened = false;
    if (!opened) {
        static char arg0[] = "kelpmoor_tests";
        static char *argv[] = {arg0, nullptr};
        field_open_window(1, argv);
        opened = true;
    }
    reset_world();
}

void draw_one_frame() {
    display_frame();
    glFinish();
}

std::array<unsigned char, 3> read_pixel(int x, int y) {
    std::array<unsigned char, 3> px{};
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadBuffer(GL_BACK);
    glReadPixels(x, y, 1, 1, GL_RGB, GL_UNSIGNED_BYTE, px.data());
    return px;
}
