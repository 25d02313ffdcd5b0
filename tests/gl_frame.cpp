// gl_frame.cpp: the frame in a real window: paint layer, what turtles paint, turtles, objects,
// coins, labels, beams and overlays, checked by reading pixels back and, for drawing order, by
// GL feedback; the scenery copies; the main loop around it: the timer's pace, the title, the
// window's size, and frames while the window is unmapped (xdotool under Xvfb). The screen
// capture is in gl_capture.cpp.
#include <GL/freeglut.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "draw/font.h"
#include "draw/image_files.h"
#include "draw/overlays.h"
#include "draw/scenery.h"
#include "draw/textures.h"
#include "server/tcpserver.h"
#include "support.h"
#include "world/coins.h"

// The window's X id, from libGL (<GL/glx.h> brings X11 macros that clash with gtest's names).
extern "C" unsigned long glXGetCurrentDrawable();

namespace {

using pixels = std::vector<rgb8>;
using pixel_test = std::function<bool(const rgb8 &)>;
const rgb8 black{0, 0, 0};

int to_pixel(double v) { return static_cast<int>(v + 256.0); }  // field to window, top view
rgb8 at_field(double x, double y) { return pixel_at(window_pixels(), x, y); }
bool near(const rgb8 &got, const rgb8 &want, int tol) {
    return std::abs(got[0] - want[0]) <= tol && std::abs(got[1] - want[1]) <= tol &&
           std::abs(got[2] - want[2]) <= tol;
}
bool is_bright(const rgb8 &p) { return std::min({p[0], p[1], p[2]}) > 150; }
bool is_red(const rgb8 &p) { return p[0] > 200 && p[1] < 140 && p[2] < 140; }
bool is_black(const rgb8 &p) { return p[0] < 8 && p[1] < 8 && p[2] < 8; }

void put_coin(int c, double x, double y, int order, bool on_field = true) {
    coins[c] = coin{c, {x, y}, order, nullptr, on_field ? COIN_ON_FIELD : 0u};
    ncoin = std::max(ncoin, c + 1);
}

int differing_pixels(const pixels &a, const pixels &b) {
    int n = 0;
    for (std::size_t i = 0; i < a.size(); i++) n += a[i] != b[i];
    return n;
}

// Pixels in window rectangle [x0, x1) x [y0, y1) for which pred holds.
int count_pixels(int x0, int y0, int x1, int y1, const pixel_test &pred) {
    const pixels px = window_pixels();
    int n = 0;
    for (int y = y0; y < y1; y++) {
        for (int x = x0; x < x1; x++) n += pred(px[static_cast<std::size_t>(y) * WINDOW_SIZE + x]);
    }
    return n;
}
int count_around(double x, double y, int rx, int ry, const pixel_test &pred) {
    return count_pixels(to_pixel(x) - rx, to_pixel(y) - ry, to_pixel(x) + rx + 1,
                        to_pixel(y) + ry + 1, pred);
}

// The polygons of a frame as GL feedback reports them, in drawing order: window x, y, depth.
using polygon = std::vector<std::array<GLfloat, 3>>;
std::vector<polygon> frame_polygons() {
    std::vector<GLfloat> buf(4 << 20);
    glFeedbackBuffer(static_cast<GLsizei>(buf.size()), GL_3D, buf.data());
    glRenderMode(GL_FEEDBACK);
    display_frame();
    const GLint n = glRenderMode(GL_RENDER);
    EXPECT_GT(n, 0) << "feedback buffer overflowed";
    std::vector<polygon> out;
    for (GLint i = 0; i < n;) {
        const GLfloat token = buf[i++];
        const bool line = token == GL_LINE_TOKEN || token == GL_LINE_RESET_TOKEN;
        const int nv = token == GL_POLYGON_TOKEN        ? static_cast<int>(buf[i++])
                       : token == GL_PASS_THROUGH_TOKEN ? 0
                       : line                           ? 2
                                                        : 1;
        polygon v;
        for (int k = 0; k < nv; k++, i += 3) v.push_back({buf[i], buf[i + 1], buf[i + 2]});
        if (token == GL_PASS_THROUGH_TOKEN) i++;
        if (token == GL_POLYGON_TOKEN) out.push_back(v);
    }
    return out;
}

// Index of the first polygon lying wholly within r of field point (x, y), or -1.
int first_polygon_at(const std::vector<polygon> &polys, double x, double y, double r = 10.5) {
    for (std::size_t i = 0; i < polys.size(); i++) {
        if (!polys[i].empty() && std::all_of(polys[i].begin(), polys[i].end(), [&](auto &v) {
                return std::abs(v[0] - 256 - x) <= r && std::abs(v[1] - 256 - y) <= r;
            })) {
            return int(i);
        }
    }
    return -1;
}

// Runs the toolkit's event loop for about `seconds`, one event at a time.
void run_loop_for(double seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
        glutMainLoopEvent();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

// Point s of the signature: a looped trochoid along the bottom of the field.
position signature_point(double s) {
    return {-190.0 + 9.0 * s - 20.0 * std::sin(s), -175.0 - 20.0 * std::cos(s)};
}

// Turtle tid, placed, coloured and given a line style, puts its pen down and walks `steps`
// steps of `length`, turning by `turn` after each; a frame after the pen goes down and after
// every step.
void walk(int tid, position at, color col, double width, int (*style)(int), int steps,
          double length, double turn) {
    place(tid, at.x, at.y);
    turtle_set_color(tid, col.r, col.g, col.b);
    turtle_line_width(tid, width);
    if (style != nullptr) style(tid);
    turtle_pen_down(tid);
    display_frame();
    for (int i = 0; i < steps; ++i) {
        ASSERT_EQ(turtle_step_forward(tid, length), 0) << tid << " step " << i;
        display_frame();
        turtle_turn(tid, turn);
    }
}

}  // namespace

// The floor is kept until a clear, pen work stays and turtles do not; every style of painting.
TEST(PaintLayer, FloorIsKeptUntilAClearPenWorkStaysAndEveryStyleShows) {
    open_test_window();
    field_set_color(0.2, 0.4, 0.6);
    place(0, 0.5, 0.5);
    display_frame();
    EXPECT_PRED3(near, at_field(100, 100), (rgb8{51, 102, 153}), 2) << "fresh floor";
    EXPECT_GT(at_field(0.5, 0.5)[1], 200) << "turtle drawn";

    // A colour change without a clear must not show: the floor comes from the paint layer.
    bgcol = {1.0, 0.0, 0.0};
    place(1, -150.5, -100.5);
    turtle_pen_down(1);
    turtle_step_forward(1, 60.0);
    ttl[0].status = 0;
    display_frame();
    turtle_pen_up(1);
    turtle_jump(1, 150.0, 150.0);
    display_frame();
    display_frame();
    EXPECT_PRED3(near, at_field(-200, 50), (rgb8{51, 102, 153}), 2) << "restored floor";
    EXPECT_PRED3(near, at_field(0.5, 0.5), (rgb8{51, 102, 153}), 2) << "where the turtle stood";
    EXPECT_PRED3(near, at_field(-130.5, -100.5), (rgb8{255, 0, 0}), 55)
        << "the red pen trail, still on the floor";

    field_clear();
    display_frame();
    EXPECT_PRED3(near, at_field(-200, 50), (rgb8{255, 0, 0}), 2) << "floor after a clear";

    // Every style at once, driven the way clients drive turtles, one command batch per frame,
    // on a black floor. With KELPMOOR_PAINTING_PNG set, the final frame is also saved there
    // (docs/painting.png).
    field_set_color(0.0, 0.0, 0.0);  // which clears the floor
    display_frame();
    walk(0, {-220, 40}, {0.2, 1, 0.4}, 3, nullptr, 4, 130, 90);                 // a square
    walk(1, {50, 40}, {0.2, 0.5, 1}, 1, turtle_set_fill_poly, 3, 160, 120);     // a filled triangle
    walk(2, {-200, -20}, {1, 0.85, 0.1}, 6, turtle_set_point_mode, 16, 25, 0);  // a row of points
    place(3, -200, -80);  // a line of text; the turtle walks on with the pen up
    turtle_set_color(3, 1, 1, 1);
    ASSERT_EQ(turtle_print_string(3, "Kelpmoor turtles paint the floor"), 0);
    display_frame();
    ASSERT_EQ(turtle_step_forward(3, 240), 0);
    display_frame();
    place(4, signature_point(0).x, signature_point(0).y);  // a brush signature
    turtle_set_color(4, 1, 0, 0);
    turtle_set_brush(4);
    turtle_pen_down(4);
    for (double s = 0.3; s <= 36.0; s += 0.3) {
        display_frame();
        position p = signature_point(s);
        turtle_line_width(4, 5.0 + 4.0 * std::sin(s * 0.35));
        ASSERT_EQ(turtle_jump(4, p.x, p.y), 0);
    }
    display_frame();
    turtle_pen_up(4);
    display_frame();

    const rgb8 green{51, 255, 102};
    const auto is_green = [&](const rgb8 &p) { return p == green; };
    EXPECT_EQ(count_around(-150, 40, 0, 10, is_green), 3);  // the square's sides, 3 pixels wide
    EXPECT_EQ(count_around(-150, 170, 0, 10, is_green), 3);
    EXPECT_EQ(at_field(-90, 120), green);
    EXPECT_TRUE(is_black(at_field(-150, 100)));          // and its empty inside
    EXPECT_EQ(at_field(130, 86), (rgb8{51, 128, 255}));  // inside the triangle
    EXPECT_EQ(at_field(180, 160), black);                // outside its right edge
    for (int x = -175; x <= 175; x += 25) {
        EXPECT_EQ(at_field(x + 2, -18), (rgb8{255, 217, 26})) << x;  // six pixels square
        EXPECT_TRUE(is_black(at_field(x + 12, -20))) << x;           // no line between
    }
    // The text in x -200..0, y -80..-68, and nothing 20 below, clear of the descenders.
    const auto is_white = [](const rgb8 &p) { return p == rgb8{255, 255, 255}; };
    EXPECT_GT(count_pixels(56, 176, 256, 188, is_white), 200);
    EXPECT_EQ(count_pixels(56, 156, 256, 168, [](const rgb8 &p) { return !is_black(p); }), 0);
    for (double s = 3.0; s <= 33.0; s += 2.5) {  // the signature's running part
        const position p = signature_point(s);
        EXPECT_GT(count_around(p.x, p.y, 3, 10, [](const rgb8 &c) { return c[0] > 150; }), 0) << s;
    }

    if (const char *file = std::getenv("KELPMOOR_PAINTING_PNG")) {
        saveImageToPNG(WINDOW_SIZE, WINDOW_SIZE, file);
    }
}

// Turtles in their team colours, stones and doughnuts drawn before turtles, coins stacked in
// their order with a carried coin on top; labels and beams.
TEST(Objects, TeamColoursDrawingOrderLabelsAndBeams) {
    open_test_window();
    // Pen colours (red) must not show. Seen from above: diffuse plus 0.6 x ambient 0.2.
    place(0, -60.5, -60.5, 0, 0, 1);
    place(1, 60.5, -60.5, 0, 0, 3);
    place(2, 60.0, 60.0, 0, ST_STONE);
    place(3, -60.0, 60.0, 0, ST_DOUGHNUT);
    place(4, 0.0, -150.0);
    ttl[4].ncoin = 1;
    // Coins at x, y with their order: slots and orders differ on purpose; coin 3 is not on
    // the field.
    const double at[4][3] = {{-100, 0, 2}, {0, 0, 0}, {100, 0, 1}, {0, 150, 3}};
    for (int c = 0; c < 4; c++) put_coin(c, at[c][0], at[c][1], static_cast<int>(at[c][2]), c < 3);
    display_frame();
    EXPECT_PRED3(near, at_field(-60.5, -60.5), (rgb8{200, 86, 255}), 12) << "team 1 shell";
    EXPECT_PRED3(near, at_field(60.5, -60.5), (rgb8{29, 29, 255}), 12) << "team 3 shell";
    EXPECT_EQ(at_field(-60.5, -60.5 + 12.5), black) << "nothing beside it";

    const auto polys = frame_polygons();
    const int stone = first_polygon_at(polys, 60, 60), doughnut = first_polygon_at(polys, -60, 60);
    const int turtle0 = first_polygon_at(polys, -60.5, -60.5, 25.0),
              turtle1 = first_polygon_at(polys, 60.5, -60.5, 25.0);
    ASSERT_TRUE(stone >= 0 && doughnut >= 0 && turtle0 >= 0 && turtle1 >= 0);
    EXPECT_LT(std::max(stone, doughnut), std::min(turtle0, turtle1));

    const int by_order[] = {first_polygon_at(polys, 0, 0), first_polygon_at(polys, 100, 0),
                            first_polygon_at(polys, -100, 0), first_polygon_at(polys, 0, -150)};
    EXPECT_EQ(first_polygon_at(polys, 0.0, 150.0), -1) << "a coin off the field is not drawn";
    // Drawn in order, each higher (a smaller depth: nearer the camera above); carried last.
    for (int k = 0; k < 3; k++) {
        ASSERT_TRUE(by_order[k] >= 0 && by_order[k + 1] >= 0) << k;
        EXPECT_GT(polys[by_order[k]][0][2], polys[by_order[k + 1]][0][2]) << k;
        EXPECT_TRUE(k == 2 || by_order[k] < by_order[k + 1]) << k;
    }

    // Labels appear only with their flags and never for objects; beams for one frame in battle
    // mode only.
    reset_world();
    ncoin = 0;
    place(0, 0.5, 0.5);
    place(1, 150.5, 150.5, 0, ST_STONE);
    for (int t = 0; t < 2; t++) std::snprintf(ttl[t].name, sizeof ttl[t].name, "MMMM");
    ttl[1].score = 555;
    // Bright pixels of the score above the thing at (x, y), from (x - 12, y + 10), or of its
    // name below it, from (x - 12, y - 22).
    const auto label_px = [](double x, double y, bool score) {
        const double y0 = y + (score ? 9 : -25);
        return count_pixels(to_pixel(x - 13), to_pixel(y0), to_pixel(x + 40), to_pixel(y0 + 15),
                            is_bright);
    };
    for (int flags = 0; flags < 4; flags++) {
        disp_name = flags & 1;
        disp_score = flags >> 1;
        display_frame();
        const int name = label_px(0.5, 0.5, false), score = label_px(0.5, 0.5, true);
        EXPECT_TRUE(disp_name ? name > 20 : name == 0) << flags << ": " << name;
        EXPECT_TRUE(disp_score ? score > 10 : score == 0) << flags << ": " << score;
    }
    EXPECT_EQ(label_px(150.5, 150.5, true) + label_px(150.5, 150.5, false), 0) << "stone";

    // Beams show for one frame, in battle mode only.
    place(2, -100.5, 0.5);
    place(3, 100.5, 0.5);
    place(4, -100.5, -120.5);
    // A frame, then whether the finder line to turtle 3 (reddish) and the radar line to
    // turtle 4 (bluish) show halfway along.
    const auto beams = [] {
        display_frame();
        const rgb8 f = at_field(-50.5, 0.5), r = at_field(-100.5, -60.5);
        return std::pair(f[0] > 200 && f[1] < 170 && f[2]<170, r[2]> 200 && r[0] < 170 &&
                         r[1] < 170);
    };
    ttl[2].target_of_finder = 3;
    ttl[2].target_of_rader = 4;
    EXPECT_EQ(beams(), std::pair(false, false)) << "outside battle mode";
    EXPECT_TRUE(ttl[2].target_of_finder == 3 && ttl[2].target_of_rader == 4) << "targets wait";

    battle_mode = 1;
    field_clear();
    EXPECT_EQ(beams(), std::pair(true, true));
    EXPECT_TRUE(ttl[2].target_of_finder == -1 && ttl[2].target_of_rader == -1);
    EXPECT_EQ(beams(), std::pair(false, false)) << "gone in the next frame";
}

// The help panel and the error text drawn over it; text drawn like the toolkit's bitmap
// characters, and the brush dab in its colour.
TEST(Overlays, HelpPanelErrorTextTextAndDab) {
    open_test_window();
    // "COMMUNICATION ERROR !" starts at x = -230.4, baseline y = 128; the help panel begins at
    // x = -204.8, so the letters right of it lie on the panel (the help's own red text on that
    // line starts further right, at -168.96). A frame, then: whether the panel shows, and the
    // red pixels (up to 11) where the error's letters lie on the panel and left of it.
    const auto overlays = [] {
        display_frame();
        return std::tuple(at_field(180, -200) != black,
                          std::min(count_pixels(53, 384, 86, 400, is_red), 11),
                          std::min(count_pixels(26, 384, 50, 400, is_red), 11));
    };
    disp_help = 1;
    EXPECT_EQ(overlays(), std::tuple(true, 0, 0));
    EXPECT_EQ(at_field(230, 230), black) << "outside the panel";
    EXPECT_GT(count_pixels(115, 358, 256, 370, is_red), 20) << "first key line";
    socket_error_occurred = 1;
    EXPECT_EQ(overlays(), std::tuple(true, 11, 11));
    disp_help = 0;
    EXPECT_EQ(overlays(), std::tuple(false, 11, 11));

    // drawString puts exactly the toolkit's bitmap pixels, in the lit colour of the raster
    // position, at its depth, clipped at the window's edges, and moves the raster position
    // alike.
    socket_error_occurred = 0;
    place(0, 20.5, 20.5, 0, 0, 2);  // its shell hides the parts of texts drawn below its top
    std::string sample = "\xe9\xfc\xdf\xc5";  // and every printable ASCII character
    for (int c = 32; c < 127; c++) sample += static_cast<char>(c);
    // A frame with text drawn over it in a material with an ambient term, so that the light's
    // share shows: the window's pixels and the raster position after the text.
    const auto text_frame = [](const std::function<void()> &text) {
        display_frame();
        const GLfloat emission[] = {0.3f, 0.6f, 0.2f, 1.0f}, ambient[] = {0.9f, 0.4f, 0.5f, 1.0f};
        glMaterialfv(GL_FRONT, GL_EMISSION, emission);
        glMaterialfv(GL_FRONT, GL_AMBIENT_AND_DIFFUSE, ambient);
        glNormal3d(0.0, 0.0, 0.0);
        text();
        std::array<GLfloat, 4> raster{};
        glGetFloatv(GL_CURRENT_RASTER_POSITION, raster.data());
        return std::pair(window_pixels(), raster);
    };
    const auto no_text = text_frame([] {}).first;
    const double places[][3] = {{-250.3, 100.7, 16.0}, {-40.0, 18.25, 2.0}, {-31.6, -240.5, 35.0}};
    for (void *font : {GLUT_BITMAP_HELVETICA_12, GLUT_BITMAP_9_BY_15}) {
        for (const auto &p : places) {
            const auto [expected, expected_raster] = text_frame([&] {
                glRasterPos3d(p[0], p[1], p[2]);
                for (unsigned char c : sample) glutBitmapCharacter(font, c);
            });
            EXPECT_GT(differing_pixels(expected, no_text), 200) << p[0];
            const auto [got, raster] =
                text_frame([&] { drawString(p[0], p[1], p[2], font, sample.c_str()); });
            EXPECT_EQ(raster, expected_raster) << p[0];
            EXPECT_EQ(differing_pixels(got, expected), 0) << p[0];
        }
    }
    const auto out_of_view =
        text_frame([] { drawString(0.0, 0.0, 500.0, GLUT_BITMAP_HELVETICA_18, "out of view"); });
    EXPECT_EQ(differing_pixels(out_of_view.first, no_text), 0) << "raster position out of view";

    display_frame();
    paint_Ten(100.5, 100.5, 24.0, 1.0, 0.5, 0.0);
    EXPECT_PRED3(near, at_field(100.5, 100.5), (rgb8{255, 128, 0}), 2) << "orange dab centre";
}

// The floor, walls and coins of a frame are put back from a copy while they stay the same.
// Such a frame must equal a drawn one, whatever the buffers held before (depths included: a
// turtle stands half hidden behind the near wall), and after any change the next frame must
// be drawn, not put back.
TEST(Scenery, KeptCopyShowsTheSameFrameAndEveryChangeShowsAtOnce) {
    open_test_window();
    field_set_battle_mode();
    bird_view_mode = 1;
    elapsed_time = 5;
    place(0, 0.5, -247.0, 0, 0, 1);
    place(1, 100.5, 100.5, 0, 0, 2);
    for (int c = 0; c < 3; c++) put_coin(c, -100.0 + 60.0 * c, 50.0, c);
    // Drawn, drawn and copied, put back; each over a magenta window at the far depth.
    const auto three_frames = [](const char *what, long put_back = 1) {
        std::array<pixels, 3> f;
        const long restored = scenery_restore_count();
        for (auto &px : f) {
            glPushAttrib(GL_COLOR_BUFFER_BIT);
            glClearColor(1.0f, 0.0f, 1.0f, 1.0f);
            glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
            glPopAttrib();
            display_frame();
            px = window_pixels();
        }
        EXPECT_EQ(scenery_restore_count(), restored + put_back) << what;
        EXPECT_EQ(differing_pixels(f[0], f[2]), 0) << what;
    };
    three_frames("start");
    three_frames("nothing changed", 3);

    const std::pair<const char *, std::function<void()>> changes[] = {
        {"coin moved", [] { coins[1].pos.x += 40.0; }},
        {"coin scattered", [] { field_scatter_coin(1); }},
        {"coin picked up", [] { coins[2].status = 0; }},
        {"wall gone", [] { nwall -= 2; }},
        {"camera turned", [] { view_rotation_angle += 10.0; }},
        {"zoomed", [] { view_fov_angle = 40.0; }},
        {"battle mode off", [] { battle_mode = 0; }},
        {"painted", [] { turtle_pen_down(1), turtle_step_forward(1, 60.0); }},
        {"floor cleared", [] { field_set_color(0.3, 0.3, 0.3), field_clear(); }},
        {"top view", [] { bird_view_mode = 0; }},
    };
    for (const auto &[what, change] : changes) {
        change();
        three_frames(what);
    }
}

TEST(MainLoop, TitleAndWindowSize) {
    open_test_window();
    // The title follows private mode at the next tick; a resized window snaps back to 512.
    EXPECT_EQ(std::strncmp(window_title, "Kelpmoor @ ", 11), 0);
    field_toggle_private_mode();
    EXPECT_EQ(menuitem_need_to_change, 1);
    for (int i = 0; i < 40 && menuitem_need_to_change; i++) run_loop_for(0.05);
    EXPECT_EQ(menuitem_need_to_change, 0);

    glutReshapeWindow(300, 200);
    run_loop_for(0.5);
    EXPECT_EQ(glutGet(GLUT_WINDOW_WIDTH), WINDOW_SIZE);
    EXPECT_EQ(glutGet(GLUT_WINDOW_HEIGHT), WINDOW_SIZE);
}

// With the window unmapped, paced commands are answered a frame each, and the line painted
// meanwhile is on the floor once the window shows again.
TEST(MainLoop, FieldGoesOnWhileTheWindowIsUnmapped) {
    open_test_window();
    start_tcp_server(0);
    run_loop_for(0.3);
    const std::string window = " --sync " + std::to_string(glXGetCurrentDrawable());
    ASSERT_EQ(std::system(("xdotool windowunmap" + window).c_str()), 0);
    LoopClient c(tcp_server_port());
    c.idle = [] { glutMainLoopEvent(); };
    const uint32_t start = elapsed_time;
    for (const char *command :
         {"J -100 -50", "T E", "K 1 1 1", "W 3", "P D", "F 50", "F 50", "F 50", "F 50", "P U"}) {
        ASSERT_EQ(c.ask(command).substr(0, 2), "OK") << command;
    }
    EXPECT_GE(elapsed_time - start, 5u);  // a frame, so a tick, for each paced command
    ASSERT_EQ(std::system(("xdotool windowmap" + window).c_str()), 0);
    run_loop_for(0.3);
    display_frame();
    for (double x : {-90.0, -20.0, 50.0, 75.0}) {  // the body stands at 100
        EXPECT_GT(count_around(x, -50, 0, 2, is_bright), 0) << "no line at x " << x;
    }
}
