// support.cpp: the shared test helpers.
#include "support.h"

#include <dlfcn.h>
#include <link.h>

#include <cstring>
#include <mutex>

#include "server/tcpserver.h"

void reset_world() { field_reset_world(); }

namespace {

struct FreshWorld : testing::EmptyTestEventListener {
    void OnTestStart(const testing::TestInfo &) override {
        std::lock_guard lock(frame_rendering_mutex);
        reset_world();
    }
};
const bool fresh_world_before_each_test =
    (testing::UnitTest::GetInstance()->listeners().Append(new FreshWorld), true);

}  // namespace

void place(int tid, double x, double y, double heading, uint32_t kind, int team) {
    init_turtle(tid, tid, x, y, heading);
    ttl[tid].status |= kind;
    ttl[tid].team = team;
    if (tid >= ntmax) ntmax = tid + 1;
}

void fill_history(int tid) {
    for (int k = 0; k < NHISTORY; k++) {
        ttl[tid].pos[k] = {10.0 * k + 1, -5.0 * k};
        ttl[tid].col[k] = {0.1 * k, 0.5, 1.0 - 0.1 * k};
        ttl[tid].width[k] = 1.0 + k;
    }
}

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
