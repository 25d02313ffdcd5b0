// window.cpp: the main thread: window and start-up, the repeating timer, reshape and the
// pop-up menu. The keys' actions live in world/controls.cpp, the frame in frame.cpp.
#include <GL/freeglut.h>
#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "draw/frame.h"
#include "draw/scenery.h"
#include "world/field.h"
#include "world/published.h"

char window_title[256] = "";
gl_texture bg_textures;
std::vector<unsigned char> bg_tex_buffer;

namespace {

inline constexpr std::size_t BG_TEX_BUFFER_BYTES = 1048576;

// The toolkit draws no frame while the window cannot be seen, and the field stops with it:
// every client that changed the world would wait for a frame that never comes. The timer
// draws those frames itself: whenever the window is reported hidden or covered, and whenever
// the redisplay it asked for at the last tick has not happened.
bool window_shown = true;
bool redisplay_pending = false;

void show_frame() {
    redisplay_pending = false;
    display();
}

void create_paint_layer() {
    bg_tex_buffer.assign(BG_TEX_BUFFER_BYTES, 0);  // four bytes a pixel
    bg_textures = make_window_copy_texture(bg_tex_buffer.data());
}

// On two cores the software renderer's drawing threads cost more in hand-overs than they win
// for most frames: drawing on the main thread gave the steadiest frames there (frames that
// redraw the whole scenery are the exception), and it leaves a core to the command server.
// A value the user set stands.
void choose_renderer_threads() {
    if (std::thread::hardware_concurrency() <= 2) setenv("LP_NUM_THREADS", "0", 0);
}

// Keeps the GL driver loaded until the process ends: it is unloaded at exit otherwise, before
// the leak check of the sanitizer build, whose reports then cannot name the driver's frames
// for tests/lsan.supp to match.
void pin_gl_driver() {
    dl_iterate_phdr(
        [](dl_phdr_info *info, size_t, void *) -> int {
            if (info->dlpi_name != nullptr && std::strstr(info->dlpi_name, "_dri.so") != nullptr) {
                dlopen(info->dlpi_name, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
            }
            return 0;
        },
        nullptr);
}

}  // namespace

void field_open_window(int argc, char **argv) {
    choose_renderer_threads();
    glutInit(&argc, argv);
    glutInitDisplayMode(GLUT_RGB | GLUT_DOUBLE | GLUT_DEPTH);
    glutInitWindowSize(WINDOW_SIZE, WINDOW_SIZE);
    glutInitWindowPosition(0, 10);

    char host[257] = "";
    if (gethostname(host, sizeof host - 1) == 0) {
        std::snprintf(window_title, sizeof window_title, "Kelpmoor @ %.200s", host);
    } else {
        std::snprintf(window_title, sizeof window_title, "Kelpmoor @ ???");
    }
    char title[300];
    std::snprintf(title, sizeof title, "Private %s", window_title);
    glutCreateWindow(title);
    glClearColor(static_cast<float>(bgcol.r), static_cast<float>(bgcol.g),
                 static_cast<float>(bgcol.b), 1.0f);

    glutDisplayFunc(show_frame);
    glutWindowStatusFunc(window_status);
    glutKeyboardFunc(keyboardfunc);
    glutCreateMenu(menufunc);
    for (const menu_entry &e : field_menu) glutAddMenuEntry(e.title, e.value);
    glutAttachMenu(GLUT_RIGHT_BUTTON);
    glutReshapeFunc(reshapefunc);

    create_paint_layer();
    keep_freed_memory();
    pin_gl_driver();

    const GLfloat diffuse[] = {1.0f, 1.0f, 1.0f, 1.0f};
    const GLfloat light_position[] = {0.0f, 0.0f, 256.0f, 0.0f};
    glLightfv(GL_LIGHT0, GL_DIFFUSE, diffuse);
    glLightfv(GL_LIGHT0, GL_POSITION, light_position);
    glEnable(GL_LIGHTING);
    glEnable(GL_LIGHT0);
    glViewport(0, 0, WINDOW_SIZE, WINDOW_SIZE);

    glutTimerFunc(TIMER_FAST_MS, timerfunc, 0);

    std::lock_guard<std::mutex> lock(frame_rendering_mutex);
    field_reset_world();
}

void timerfunc(int /*dummy*/) {
    elapsed_time++;
    int period_ms = TIMER_SLOW_MS;
    bool retitle = false;
    {
        std::lock_guard<std::mutex> lock(frame_rendering_mutex);
        period_ms = field_timer_period_ms();
        retitle = menuitem_need_to_change != 0;
        menuitem_need_to_change = 0;
    }
    glutTimerFunc(period_ms, timerfunc, 0);
    if (window_shown && !redisplay_pending) {
        redisplay_pending = true;
        glutPostRedisplay();
    } else {
        display_hidden();
    }
    if (retitle) change_menuitem();
}

void window_status(int state) {
    window_shown = state != GLUT_HIDDEN && state != GLUT_FULLY_COVERED;
}

void display_hidden() {
    const bool offscreen = hidden_frame_begin();
    display_frame();
    write_requested_capture();
    if (offscreen) hidden_frame_end();
    frame_drawn();
}

void change_menuitem() {
    char title[300];
    std::snprintf(title, sizeof title, private_mode ? "Private %s" : "Public %s", window_title);
    glutSetWindowTitle(title);
}

void reshapefunc(int /*x*/, int /*y*/) {
    glutReshapeWindow(WINDOW_SIZE, WINDOW_SIZE);
    glutPostRedisplay();
}

void menufunc(int value) {
    menu_action(value);
    glutPostRedisplay();
}
