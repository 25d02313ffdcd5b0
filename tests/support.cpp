// support.cpp: the shared test helpers.
#include "support.h"

#include <GL/freeglut.h>
#include <dlfcn.h>
#include <link.h>

#include <cstring>

#include "kelpmoor.h"

void reset_world() { field_reset_world(); }

// Keeps the GL driver loaded until the process ends: it is unloaded at exit otherwise, before
// the leak check, whose reports then cannot name its frames for tests/lsan.supp to match.
static void pin_gl_driver() {
    dl_iterate_phdr(
        [](dl_phdr_info *info, size_t, void *) -> int {
            if (info->dlpi_name != nullptr && std::strstr(info->dlpi_name, "_dri.so") != nullptr) {
                dlopen(info->dlpi_name, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
            }
            return 0;
        },
        nullptr);
}

void open_test_window() {
    static bool opened = false;
    if (!opened) {
        static char arg0[] = "kelpmoor_tests";
        static char *argv[] = {arg0, nullptr};
        field_open_window(1, argv);
        pin_gl_driver();
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
