// gl_frame.cpp: the frame in a real window: paint layer, turtles, objects, coins, labels, beams
// and overlays, checked by reading pixels back and, for drawing order, by GL feedback.
#include <GL/freeglut.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "glutil.h"
#include "kelpmoor.h"
#include "scenery.h"
#include "support.h"
#include "turtle.h"

namespace {

using rgb8 = std::array<unsigned char, 3>;
const rgb8 black{0, 0, 0};

rgb8 at_field(double x, double y) { return read_pixel(field_to_pixel(x), field_to_pixel(y)); }

void expect_near(const rgb8 &got, int r, int g, int b, int tol, const char *what) {
    EXPECT_NEAR(got[0], r, tol) << what;
    EXPECT_NEAR(got[1], g, tol) << what;
    EXPECT_NEAR(got[2], b, tol) << what;
}

void place_turtle(int tid, double x, double y, int team, int owner = 0, uint32_t kind = 0) {
    init_turtle(tid, owner, x, y, 0.0);
    ttl[tid].team = team;
    if (kind != 0) ttl[tid].status = ST_ALIVE | kind;
    ntmax = std::max(ntmax, tid + 1);
}

std::vector<unsigned char> window_pixels() {
    std::vector<unsigned char> px(static_cast<std::size_t>(WINDOW_SIZE) * WINDOW_SIZE * 3);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadBuffer(GL_BACK);
    glReadPixels(0, 0, WINDOW_SIZE, WINDOW_SIZE, GL_RGB, GL_UNSIGNED_BYTE, px.data());
    return px;
}

int differing_pixels(const std::vector<unsigned char> &a, const std::vector<unsigned char> &b) {
    int n = 0;
    for (std::size_t i = 0; i < a.size(); i += 3) {
        n += a[i] != b[i] || a[i + 1] != b[i + 1] || a[i + 2] != b[i + 2];
    }
    return n;
}

// Pixels in window rectangle [x0, x1) x [y0, y1) for which pred holds.
int count_pixels(int x0, int y0, int x1, int y1, const std::function<bool(const rgb8 &)> &pred) {
    const std::vector<unsigned char> px = window_pixels();
    int n = 0;
    for (int y = y0; y < y1; y++) {
        for (int x = x0; x < x1; x++) {
            const unsigned char *p = &px[(static_cast<std::size_t>(y) * WINDOW_SIZE + x) * 3];
            n += pred({p[0], p[1], p[2]});
        }
    }
    return n;
}

bool is_bright(const rgb8 &p) { return std::min({p[0], p[1], p[2]}) > 150; }
bool is_red(const rgb8 &p) { return p[0] > 200 && p[1] < 140 && p[2] < 140; }

// The polygons of a frame as GL feedback reports them, in drawing order: window x, y, depth.
std::vector<std::vector<std::array<GLfloat, 3>>> frame_polygons() {
    std::vector<GLfloat> buf(4 << 20);
    glFeedbackBuffer(static_cast<GLsizei>(buf.size()), GL_3D, buf.data());
    glRenderMode(GL_FEEDBACK);
    display_frame();
    const GLint n = glRenderMode(GL_RENDER);
    EXPECT_GT(n, 0) << "feedback buffer overflowed";
    std::vector<std::vector<std::array<GLfloat, 3>>> out;
    for (GLint i = 0; i < n;) {
        const GLfloat token = buf[i++];
        int nv = 1;
        if (token == GL_POLYGON_TOKEN) {
            nv = static_cast<int>(buf[i++]);
        } else if (token == GL_LINE_TOKEN || token == GL_LINE_RESET_TOKEN) {
            nv = 2;
        } else if (token == GL_PASS_THROUGH_TOKEN) {
            nv = 0;
            i++;
        }
        std::vector<std::array<GLfloat, 3>> v;
        for (int k = 0; k < nv; k++, i += 3) v.push_back({buf[i], buf[i + 1], buf[i + 2]});
        out.push_back(token == GL_POLYGON_TOKEN ? v : decltype(v){});
    }
    return out;
}

// Index of the first polygon lying wholly inside the window box around field point (x, y)
// (half-width r), or -1.
int first_polygon_at(const std::vector<std::vector<std::array<GLfloat, 3>>> &polys, double x,
                     double y, double r = 10.5) {
    for (std::size_t i = 0; i < polys.size(); i++) {
        const bool inside = !polys[i].empty() &&
                            std::all_of(polys[i].begin(), polys[i].end(), [&](auto &v) {
                                return std::abs(v[0] - 256 - x) <= r &&
                                       std::abs(v[1] - 256 - y) <= r;
                            });
        if (inside) return static_cast<int>(i);
    }
    return -1;
}

}  // namespace

TEST(PaintLayer, FloorIsKeptUntilAClearAndPenWorkStaysButTurtlesDoNot) {
    open_test_window();
    field_set_color(0.2, 0.4, 0.6);
    place_turtle(0, 0.5, 0.5, 0);
    draw_one_frame();
    expect_near(at_field(100, 100), 51, 102, 153, 2, "fresh floor");
    EXPECT_GT(at_field(0.5, 0.5)[1], 200) << "turtle drawn";

    // A colour change without a clear must not show: the floor comes from the paint layer.
    bgcol = {1.0, 0.0, 0.0};
    place_turtle(1, -150.5, -100.5, 0);
    turtle_pen_down(1);
    turtle_step_forward(1, 60.0);
    ttl[0].status = 0;
    draw_one_frame();
    turtle_pen_up(1);
    turtle_jump(1, 150.0, 150.0);
    draw_one_frame();
    draw_one_frame();
    expect_near(at_field(-200, 50), 51, 102, 153, 2, "restored floor");
    expect_near(at_field(0.5, 0.5), 51, 102, 153, 2, "where the turtle stood");
    const rgb8 trail = at_field(-130.5, -100.5);
    EXPECT_GT(trail[0], 200) << "the red pen trail is still on the floor";
    EXPECT_LT(trail[1], 60);

    field_clear();
    draw_one_frame();
    expect_near(at_field(-200, 50), 255, 0, 0, 2, "floor after a clear");
}

TEST(Turtles, BodyInTeamColourAtItsPlaceAndObjectsDrawnBeforeTurtles) {
    open_test_window();
    // Pen colours (red) must not show. Seen from above: diffuse plus 0.6 x ambient 0.2.
    place_turtle(0, -100.5, 100.5, 1);
    place_turtle(1, 100.5, -100.5, 3);
    draw_one_frame();
    expect_near(at_field(-100.5, 100.5), 200, 86, 255, 12, "team 1 shell");
    expect_near(at_field(100.5, -100.5), 29, 29, 255, 12, "team 3 shell");
    EXPECT_EQ(at_field(-100.5, 100.5 + 12.5), black) << "nothing beside it";

    reset_world();
    place_turtle(0, -60.0, -60.0, 0);
    place_turtle(1, 60.0, -60.0, 2);
    place_turtle(2, 60.0, 60.0, 0, -1, ST_STONE);
    place_turtle(3, -60.0, 60.0, 0, -1, ST_DOUGHNUT);
    const auto polys = frame_polygons();
    const int stone = first_polygon_at(polys, 60.0, 60.0);
    const int doughnut = first_polygon_at(polys, -60.0, 60.0);
    const int turtle0 = first_polygon_at(polys, -60.0, -60.0, 25.0);
    const int turtle1 = first_polygon_at(polys, 60.0, -60.0, 25.0);
    ASSERT_TRUE(stone >= 0 && doughnut >= 0 && turtle0 >= 0 && turtle1 >= 0);
    EXPECT_LT(std::max(stone, doughnut), std::min(turtle0, turtle1));
}

TEST(Coins, StackInOrderWithACarriedCoinOnTop) {
    open_test_window();
    // Coin slots and stacking orders differ on purpose; coin 3 is not on the field.
    const double xs[] = {-100.0, 0.0, 100.0, 0.0}, ys[] = {0.0, 0.0, 0.0, 150.0};
    const int orders[] = {2, 0, 1, 3};
    for (int c = 0; c < 4; c++) {
        coins[c].id = c;
        coins[c].pos = {xs[c], ys[c]};
        coins[c].order = orders[c];
        coins[c].status = c < 3 ? COIN_ON_FIELD : 0;
    }
    ncoin = 4;
    place_turtle(0, 0.0, -150.0, 0);
    ttl[0].ncoin = 1;
    const auto polys = frame_polygons();
    const int by_order[] = {first_polygon_at(polys, 0.0, 0.0),
                            first_polygon_at(polys, 100.0, 0.0),
                            first_polygon_at(polys, -100.0, 0.0),
                            first_polygon_at(polys, 0.0, -150.0)};
    EXPECT_EQ(first_polygon_at(polys, 0.0, 150.0), -1) << "a coin off the field is not drawn";
    // Drawn in order, each higher (a smaller depth: nearer the camera above); carried last.
    for (int k = 0; k < 3; k++) {
        ASSERT_GE(by_order[k], 0);
        ASSERT_GE(by_order[k + 1], 0);
        EXPECT_GT(polys[by_order[k]][0][2], polys[by_order[k + 1]][0][2]) << k;
        if (k < 2) {
            EXPECT_LT(by_order[k], by_order[k + 1]) << k;
        }
    }
}

TEST(Labels, AppearOnlyWithTheirFlagsAndNeverForObjects) {
    open_test_window();
    place_turtle(0, 0.5, 0.5, 0);
    place_turtle(1, 150.5, 150.5, 0, -1, ST_STONE);
    for (int t = 0; t < 2; t++) std::snprintf(ttl[t].name, sizeof ttl[t].name, "MMMM");
    ttl[1].score = 555;
    // Score above the turtle from (x - 12, y + 10), name below from (x - 12, y - 22).
    const auto score_px = [](double x, double y) {
        return count_pixels(field_to_pixel(x - 13), field_to_pixel(y + 9),
                            field_to_pixel(x + 30), field_to_pixel(y + 24), is_bright);
    };
    const auto name_px = [](double x, double y) {
        return count_pixels(field_to_pixel(x - 13), field_to_pixel(y - 25),
                            field_to_pixel(x + 40), field_to_pixel(y - 11), is_bright);
    };
    for (int flags = 0; flags < 4; flags++) {
        disp_name = flags & 1;
        disp_score = flags >> 1;
        draw_one_frame();
        const int name = name_px(0.5, 0.5), score = score_px(0.5, 0.5);
        EXPECT_TRUE(disp_name ? name > 20 : name == 0) << flags << ": " << name;
        EXPECT_TRUE(disp_score ? score > 10 : score == 0) << flags << ": " << score;
    }
    EXPECT_EQ(score_px(150.5, 150.5) + name_px(150.5, 150.5), 0) << "no label for a stone";
}

TEST(Beams, ShowForOneFrameInBattleModeOnly) {
    open_test_window();
    place_turtle(0, -100.5, 0.5, 0);
    place_turtle(1, 100.5, 0.5, 0);
    place_turtle(2, -100.5, -120.5, 0);
    const auto reddish = [](const rgb8 &p) { return p[0] > 200 && p[1] < 170 && p[2] < 170; };
    const auto bluish = [](const rgb8 &p) { return p[2] > 200 && p[0] < 170 && p[1] < 170; };

    // Outside battle mode the targets wait and nothing is drawn.
    ttl[0].target_of_finder = 1;
    ttl[0].target_of_rader = 2;
    draw_one_frame();
    EXPECT_FALSE(reddish(at_field(-50.5, 0.5)));
    EXPECT_EQ(ttl[0].target_of_finder, 1);
    EXPECT_EQ(ttl[0].target_of_rader, 2);

    battle_mode = 1;
    field_clear();
    draw_one_frame();
    EXPECT_TRUE(reddish(at_field(-50.5, 0.5))) << "finder line to turtle 1";
    EXPECT_TRUE(bluish(at_field(-100.5, -60.5))) << "radar line to turtle 2";
    EXPECT_EQ(ttl[0].target_of_finder, -1);
    EXPECT_EQ(ttl[0].target_of_rader, -1);

    draw_one_frame();
    EXPECT_FALSE(reddish(at_field(-50.5, 0.5))) << "gone in the next frame";
    EXPECT_FALSE(bluish(at_field(-100.5, -60.5)));
}

TEST(Overlays, HelpPanelAndErrorTextDrawnOverIt) {
    open_test_window();
    // "COMMUNICATION ERROR !" starts at x = -230.4, baseline y = 128; the help panel begins at
    // x = -204.8, so the letters right of it lie on the panel (the help's own red text on that
    // line starts further right, at -168.96).
    const auto error_on_panel = [] { return count_pixels(53, 384, 86, 400, is_red); };
    const auto error_off_panel = [] { return count_pixels(26, 384, 50, 400, is_red); };
    disp_help = 1;
    draw_one_frame();
    EXPECT_NE(at_field(180, -200), black) << "panel";
    EXPECT_EQ(at_field(230, 230), black) << "outside the panel";
    EXPECT_GT(count_pixels(115, 358, 256, 370, is_red), 20) << "first key line";
    EXPECT_EQ(error_on_panel(), 0);

    socket_error_occurred = 1;
    draw_one_frame();
    EXPECT_GT(error_on_panel(), 10);
    EXPECT_GT(error_off_panel(), 10);

    disp_help = 0;
    draw_one_frame();
    EXPECT_EQ(at_field(180, -200), black);
    EXPECT_GT(error_off_panel(), 10);
}

// drawString puts exactly the toolkit's bitmap pixels, in the lit colour of the raster
// position, at its depth, clipped at the window's edges, and moves the raster position alike.
TEST(Text, DrawnLikeTheToolkitsBitmapCharactersAndTheDabInItsColour) {
    open_test_window();
    place_turtle(0, 20.5, 20.5, 2);  // its shell hides the parts of texts drawn below its top
    std::string sample;
    for (int c = 32; c < 127; c++) sample += static_cast<char>(c);
    sample += "\xe9\xfc\xdf\xc5";
    const double places[][3] = {{-250.3, 100.7, 16.0}, {-40.0, 18.25, 2.0}, {-31.6, -240.5, 35.0}};
    const auto text_material = [] {  // with an ambient term so the light's share shows
        const GLfloat emission[] = {0.3f, 0.6f, 0.2f, 1.0f}, ambient[] = {0.9f, 0.4f, 0.5f, 1.0f};
        glMaterialfv(GL_FRONT, GL_EMISSION, emission);
        glMaterialfv(GL_FRONT, GL_AMBIENT_AND_DIFFUSE, ambient);
        glNormal3d(0.0, 0.0, 0.0);
    };
    draw_one_frame();
    const auto no_text = window_pixels();
    for (void *font : {GLUT_BITMAP_HELVETICA_12, GLUT_BITMAP_9_BY_15}) {
        for (const auto &p : places) {
            draw_one_frame();
            text_material();
            glRasterPos3d(p[0], p[1], p[2]);
            for (unsigned char c : sample) glutBitmapCharacter(font, c);
            std::array<GLfloat, 4> expected_raster{}, raster{};
            glGetFloatv(GL_CURRENT_RASTER_POSITION, expected_raster.data());
            const auto expected = window_pixels();
            EXPECT_GT(differing_pixels(expected, no_text), 200) << p[0];

            draw_one_frame();
            text_material();
            drawString(p[0], p[1], p[2], font, sample.c_str());
            glGetFloatv(GL_CURRENT_RASTER_POSITION, raster.data());
            EXPECT_EQ(raster, expected_raster) << p[0];
            EXPECT_EQ(differing_pixels(window_pixels(), expected), 0) << p[0];
        }
    }
    // A raster position outside the view draws nothing.
    draw_one_frame();
    text_material();
    drawString(0.0, 0.0, 500.0, GLUT_BITMAP_HELVETICA_18, "out of view");
    EXPECT_EQ(differing_pixels(window_pixels(), no_text), 0);

    draw_one_frame();
    paint_Ten(100.5, 100.5, 24.0, 1.0, 0.5, 0.0);
    expect_near(at_field(100.5, 100.5), 255, 128, 0, 2, "orange dab centre");
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
    place_turtle(0, 0.5, -247.0, 1);
    place_turtle(1, 100.5, 100.5, 2);
    for (int c = 0; c < 3; c++) {
        coins[c].id = c;
        coins[c].pos = {-100.0 + 60.0 * c, 50.0};
        coins[c].order = c;
        coins[c].status = COIN_ON_FIELD;
    }
    ncoin = 3;
    // Drawn, drawn and copied, put back; each over a magenta window at the far depth.
    const auto three_frames = [](const char *what, long put_back = 1) {
        std::array<std::vector<unsigned char>, 3> f;
        const long restored = scenery_restore_count();
        for (auto &px : f) {
            glPushAttrib(GL_COLOR_BUFFER_BIT);
            glClearColor(1.0f, 0.0f, 1.0f, 1.0f);
            glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
            glPopAttrib();
            draw_one_frame();
            px = window_pixels();
        }
        EXPECT_EQ(scenery_restore_count(), restored + put_back) << what;
        EXPECT_EQ(differing_pixels(f[0], f[2]), 0) << what;
    };
    three_frames("start");
    three_frames("nothing changed", 3);

    const std::pair<const char *, std::function<void()>> changes[] = {
        {"coin moved", [] { coins[1].pos.x += 40.0; }},
        {"coin picked up", [] { coins[2].status = 0; }},
        {"wall gone", [] { nwall -= 2; }},
        {"camera turned", [] { view_rotation_angle += 10.0; }},
        {"zoomed", [] { view_fov_angle = 40.0; }},
        {"battle mode off", [] { battle_mode = 0; }},
        {"painted",
         [] {
             turtle_pen_down(1);
             turtle_step_forward(1, 60.0);
         }},
        {"floor cleared", [] { field_set_color(0.3, 0.3, 0.3), field_clear(); }},
        {"top view", [] { bird_view_mode = 0; }},
    };
    for (const auto &[what, change] : changes) {
        change();
        three_frames(what);
    }
}
