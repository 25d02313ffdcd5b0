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
#include "support.h"
#include "turtle.h"

namespace {

using rgb8 = std::array<unsigned char, 3>;

rgb8 at_field(double x, double y) { return read_pixel(field_to_pixel(x), field_to_pixel(y)); }

void expect_near(const rgb8 &got, int r, int g, int b, int tol, const char *what) {
    EXPECT_NEAR(got[0], r, tol) << what;
    EXPECT_NEAR(got[1], g, tol) << what;
    EXPECT_NEAR(got[2], b, tol) << what;
}

int place_turtle(int tid, double x, double y, double heading, int team) {
    init_turtle(tid, 0, x, y, heading);
    ttl[tid].team = team;
    ntmax = std::max(ntmax, tid + 1);
    return tid;
}

int place_object(int tid, double x, double y, uint32_t kind) {
    init_turtle(tid, -1, x, y, 0.0);
    ttl[tid].status = ST_ALIVE | kind;
    ntmax = std::max(ntmax, tid + 1);
    return tid;
}

void put_coin(int c, double x, double y, int order) {
    coins[c].id = c;
    coins[c].pos = {x, y};
    coins[c].order = order;
    coins[c].status = COIN_ON_FIELD;
    ncoin = std::max(ncoin, c + 1);
}

// Pixels in window rectangle [x0, x1) x [y0, y1) for which pred holds.
int count_pixels(int x0, int y0, int x1, int y1, const std::function<bool(const rgb8 &)> &pred) {
    const int w = x1 - x0, h = y1 - y0;
    std::vector<unsigned char> px(static_cast<std::size_t>(w) * h * 3);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadBuffer(GL_BACK);
    glReadPixels(x0, y0, w, h, GL_RGB, GL_UNSIGNED_BYTE, px.data());
    int n = 0;
    for (std::size_t i = 0; i < px.size(); i += 3) {
        if (pred({px[i], px[i + 1], px[i + 2]})) n++;
    }
    return n;
}

bool is_bright(const rgb8 &p) { return std::min({p[0], p[1], p[2]}) > 150; }
bool is_red(const rgb8 &p) { return p[0] > 200 && p[1] < 140 && p[2] < 140; }

// One polygon, line or bitmap of a frame as GL feedback reports it, in drawing order.
struct prim {
    GLfloat token;
    std::vector<std::array<GLfloat, 3>> v;  // window x, y and depth
};

std::vector<prim> frame_feedback() {
    std::vector<GLfloat> buf(4 << 20);
    glFeedbackBuffer(static_cast<GLsizei>(buf.size()), GL_3D, buf.data());
    glRenderMode(GL_FEEDBACK);
    display_frame();
    const GLint n = glRenderMode(GL_RENDER);
    EXPECT_GT(n, 0) << "feedback buffer overflowed";
    std::vector<prim> out;
    for (GLint i = 0; i < n;) {
        const GLfloat token = buf[i++];
        int nv = 1;
        if (token == GL_POLYGON_TOKEN) {
            nv = static_cast<int>(buf[i++]);
        } else if (token == GL_LINE_TOKEN || token == GL_LINE_RESET_TOKEN) {
            nv = 2;
        } else if (token == GL_PASS_THROUGH_TOKEN) {
            i++;
            continue;
        }
        prim p{token, {}};
        for (int k = 0; k < nv; k++, i += 3) p.v.push_back({buf[i], buf[i + 1], buf[i + 2]});
        out.push_back(p);
    }
    return out;
}

// Index of the first polygon lying wholly inside the window box, or -1.
int first_polygon_in(const std::vector<prim> &prims, double x0, double y0, double x1, double y1) {
    for (std::size_t i = 0; i < prims.size(); i++) {
        if (prims[i].token != GL_POLYGON_TOKEN) continue;
        const bool inside = std::all_of(prims[i].v.begin(), prims[i].v.end(), [&](auto &v) {
            return v[0] >= x0 && v[0] <= x1 && v[1] >= y0 && v[1] <= y1;
        });
        if (inside) return static_cast<int>(i);
    }
    return -1;
}

// An icon's quad at field point (x, y): window box (x - 10 .. x + 9) + 256, a little slack.
int first_icon_at(const std::vector<prim> &prims, double x, double y) {
    return first_polygon_in(prims, x + 245.5, y + 245.5, x + 265.5, y + 265.5);
}

}  // namespace

TEST(PaintLayer, FreshFloorTakesTheFieldColourAndIsKeptUntilTheNextClear) {
    open_test_window();
    field_set_color(0.2, 0.4, 0.6);
    draw_one_frame();
    expect_near(at_field(100, 100), 51, 102, 153, 2, "fresh floor");

    // A colour change that does not clear must not show: the floor comes from the paint layer.
    bgcol = {1.0, 0.0, 0.0};
    draw_one_frame();
    draw_one_frame();
    expect_near(at_field(-200, 50), 51, 102, 153, 2, "restored floor");

    field_clear();
    draw_one_frame();
    expect_near(at_field(-200, 50), 255, 0, 0, 2, "floor after a clear");
}

TEST(PaintLayer, TurtlesAreNotBakedIntoTheLayerButPenWorkIs) {
    open_test_window();
    place_turtle(0, 0.5, 0.5, 0.0, 0);
    draw_one_frame();
    const rgb8 body = at_field(0.5, 0.5);
    EXPECT_GT(body[1], 200) << "turtle drawn";

    // Pen work lands on the layer and stays after the turtle has gone on.
    place_turtle(1, -150.5, -100.5, 0.0, 0);
    turtle_pen_down(1);
    turtle_step_forward(1, 60.0);
    ttl[0].status = 0;
    draw_one_frame();
    turtle_pen_up(1);
    turtle_jump(1, 150.0, 150.0);
    draw_one_frame();
    draw_one_frame();
    expect_near(at_field(0.5, 0.5), 0, 0, 0, 0, "where the turtle stood");
    const rgb8 trail = at_field(-130.5, -100.5);
    EXPECT_GT(trail[0], 200) << "the red pen trail is still on the floor";
    EXPECT_LT(trail[1], 60);
}

TEST(Turtles, BodyIsDrawnInTeamColourAtItsPlaceFacingItsHeading) {
    open_test_window();
    // Team 1 faces north, team 3 faces east; their pen colours (red) must not show.
    place_turtle(0, -100.5, 100.5, 90.0, 1);
    place_turtle(1, 100.5, -100.5, 0.0, 3);
    draw_one_frame();
    // Seen from straight above under the light along -z: diffuse plus 0.6 x ambient 0.2.
    expect_near(at_field(-100.5, 100.5), 200, 86, 255, 12, "team 1 shell");
    expect_near(at_field(100.5, -100.5), 29, 29, 255, 12, "team 3 shell");

    const rgb8 floor{0, 0, 0};
    EXPECT_NE(at_field(-100.5, 100.5 + 11.5), floor) << "head of the north-facing turtle";
    EXPECT_EQ(at_field(-100.5 + 12.5, 100.5), floor) << "nothing east of it";
    EXPECT_NE(at_field(100.5 + 11.5, -100.5), floor) << "head of the east-facing turtle";
    EXPECT_EQ(at_field(100.5, -100.5 + 12.5), floor) << "nothing north of it";
}

TEST(Turtles, StonesAndDoughnutsAreDrawnBeforeEveryTurtle) {
    open_test_window();
    place_turtle(0, -60.0, -60.0, 0.0, 0);
    place_turtle(1, 60.0, -60.0, 0.0, 2);
    place_object(2, 60.0, 60.0, ST_STONE);
    place_object(3, -60.0, 60.0, ST_DOUGHNUT);
    const std::vector<prim> prims = frame_feedback();
    const int stone = first_icon_at(prims, 60.0, 60.0);
    const int doughnut = first_icon_at(prims, -60.0, 60.0);
    const int turtle0 = first_polygon_in(prims, 171, 171, 221, 221);
    const int turtle1 = first_polygon_in(prims, 291, 171, 341, 221);
    ASSERT_GE(stone, 0);
    ASSERT_GE(doughnut, 0);
    ASSERT_GE(turtle0, 0);
    ASSERT_GE(turtle1, 0);
    EXPECT_LT(stone, turtle0);
    EXPECT_LT(doughnut, turtle0);
    EXPECT_LT(stone, turtle1);
    EXPECT_LT(doughnut, turtle1);
}

TEST(Coins, StackInOrderWithACarriedCoinOnTop) {
    open_test_window();
    // Coin slots and stacking orders differ on purpose; coin 3 is not on the field.
    put_coin(0, -100.0, 0.0, 2);
    put_coin(1, 0.0, 0.0, 0);
    put_coin(2, 100.0, 0.0, 1);
    put_coin(3, 0.0, 150.0, 3);
    coins[3].status = 0;
    place_turtle(0, 0.0, -150.0, 0.0, 0);
    ttl[0].ncoin = 1;
    const std::vector<prim> prims = frame_feedback();
    const int by_order[] = {first_icon_at(prims, 0.0, 0.0), first_icon_at(prims, 100.0, 0.0),
                            first_icon_at(prims, -100.0, 0.0)};
    ASSERT_GE(by_order[0], 0);
    EXPECT_LT(by_order[0], by_order[1]);
    EXPECT_LT(by_order[1], by_order[2]);
    EXPECT_EQ(first_icon_at(prims, 0.0, 150.0), -1) << "a coin off the field is not drawn";

    // Heights 1 + 1.5 order / (ncoin + 1): a smaller depth is nearer the camera above.
    const int carried = first_icon_at(prims, 0.0, -150.0);
    ASSERT_GE(carried, 0);
    const auto depth = [&](int i) { return prims[i].v[0][2]; };
    EXPECT_GT(depth(by_order[0]), depth(by_order[1]));
    EXPECT_GT(depth(by_order[1]), depth(by_order[2]));
    EXPECT_GT(depth(by_order[2]), depth(carried));
}

TEST(Labels, AppearOnlyWithTheirFlagsAndNeverForObjects) {
    open_test_window();
    place_turtle(0, 0.5, 0.5, 0.0, 0);
    std::snprintf(ttl[0].name, sizeof ttl[0].name, "MMMM");
    place_object(1, 150.5, 150.5, ST_STONE);
    std::snprintf(ttl[1].name, sizeof ttl[1].name, "MMMM");
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

    disp_name = disp_score = 0;
    draw_one_frame();
    EXPECT_EQ(score_px(0.5, 0.5), 0);
    EXPECT_EQ(name_px(0.5, 0.5), 0);

    disp_name = 1;
    draw_one_frame();
    EXPECT_EQ(score_px(0.5, 0.5), 0);
    EXPECT_GT(name_px(0.5, 0.5), 20);

    disp_score = 1;
    disp_name = 0;
    draw_one_frame();
    EXPECT_GT(score_px(0.5, 0.5), 10);
    EXPECT_EQ(name_px(0.5, 0.5), 0);

    disp_name = 1;
    draw_one_frame();
    EXPECT_EQ(score_px(150.5, 150.5), 0) << "no score for a stone";
    EXPECT_EQ(name_px(150.5, 150.5), 0) << "no name for a stone";
}

TEST(Beams, ShowForOneFrameInBattleModeOnly) {
    open_test_window();
    place_turtle(0, -100.5, 0.5, 0.0, 0);
    place_turtle(1, 100.5, 0.5, 0.0, 0);
    place_turtle(2, -100.5, -120.5, 0.0, 0);
    const auto reddish = [](const rgb8 &p) { return p[0] > 200 && p[1] < 170 && p[2] < 170; };
    const auto bluish = [](const rgb8 &p) { return p[2] > 200 && p[0] < 170 && p[1] < 170; };

    // Outside battle mode the targets wait and nothing is drawn.
    ttl[0].target_of_finder = 1;
    ttl[0].target_of_rader = 2;
    draw_one_frame();
    EXPECT_FALSE(reddish(at_field(0.5, 0.5)));
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
    const auto error_letters_on_panel = [] { return count_pixels(53, 384, 86, 400, is_red); };
    const auto error_letters_off_panel = [] { return count_pixels(26, 384, 50, 400, is_red); };
    const rgb8 black{0, 0, 0};

    draw_one_frame();
    EXPECT_EQ(at_field(180, -200), black);

    disp_help = 1;
    draw_one_frame();
    EXPECT_NE(at_field(180, -200), black) << "panel";
    EXPECT_EQ(at_field(230, 230), black) << "outside the panel";
    EXPECT_GT(count_pixels(field_to_pixel(-141), field_to_pixel(102), field_to_pixel(0),
                           field_to_pixel(114), is_red),
              20)
        << "first key line";
    EXPECT_EQ(error_letters_on_panel(), 0);

    socket_error_occurred = 1;
    draw_one_frame();
    EXPECT_GT(error_letters_on_panel(), 10);
    EXPECT_GT(error_letters_off_panel(), 10);

    disp_help = 0;
    draw_one_frame();
    EXPECT_EQ(at_field(180, -200), black);
    EXPECT_GT(error_letters_off_panel(), 10);
}

namespace {

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

std::array<GLfloat, 4> raster_position() {
    std::array<GLfloat, 4> p{};
    glGetFloatv(GL_CURRENT_RASTER_POSITION, p.data());
    return p;
}

// The text material of a label, with an ambient term so the light's share shows.
void text_material(float alpha) {
    const GLfloat emission[] = {0.3f, 0.6f, 0.2f, 1.0f};
    const GLfloat ambient_diffuse[] = {0.9f, 0.4f, 0.5f, alpha};
    glMaterialfv(GL_FRONT, GL_EMISSION, emission);
    glMaterialfv(GL_FRONT, GL_AMBIENT_AND_DIFFUSE, ambient_diffuse);
    glNormal3d(0.0, 0.0, 0.0);
}

}  // namespace

// drawString must put exactly the toolkit's bitmap pixels, in the lit colour of the raster
// position, at its depth, clipped at the window's edges, and move the raster position alike.
TEST(Text, DrawnLikeTheToolkitsBitmapCharacters) {
    open_test_window();
    // A turtle under the texts: its shell hides the parts drawn below its top.
    place_turtle(0, 20.5, 20.5, 30.0, 2);
    std::string sample;
    for (int c = 32; c < 127; c++) sample += static_cast<char>(c);
    sample += "\xe9\xfc\xdf\xc5";
    struct placement {
        double x, y, z;
        const char *what;
    };
    const placement places[] = {
        {-250.3, 100.7, 16.0, "fractional position above everything"},
        {-40.0, 18.25, 2.0, "partly hidden by the turtle"},
        {-31.6, -240.5, 35.0, "running past the right edge"},
        {-200.49, -10.51, 0.0, "on the floor"},
    };
    void *const fonts[] = {GLUT_BITMAP_HELVETICA_12, GLUT_BITMAP_HELVETICA_18,
                           GLUT_BITMAP_9_BY_15};
    for (int bird = 0; bird <= 1; bird++) {
        bird_view_mode = bird;
        view_rotation_angle = 17.5;
        draw_one_frame();
        const auto no_text = window_pixels();
        for (void *font : fonts) {
            for (const placement &p : places) {
                for (const float alpha : {1.0f, 0.5f}) {
                    const std::string what = std::string(p.what) + (bird ? ", bird's-eye" : "") +
                                             (alpha < 1.0f ? ", blended" : "");
                    draw_one_frame();
                    text_material(alpha);
                    if (alpha < 1.0f) glEnable(GL_BLEND);
                    glRasterPos3d(p.x, p.y, p.z);
                    for (unsigned char c : sample) glutBitmapCharacter(font, c);
                    const auto expected_raster = raster_position();
                    const auto expected = window_pixels();
                    EXPECT_GT(differing_pixels(expected, no_text), 200) << what;

                    draw_one_frame();
                    text_material(alpha);
                    if (alpha < 1.0f) glEnable(GL_BLEND);
                    drawString(p.x, p.y, p.z, font, sample.c_str());
                    glDisable(GL_BLEND);
                    EXPECT_EQ(raster_position(), expected_raster) << what;
                    const auto got = window_pixels();
                    EXPECT_EQ(differing_pixels(got, expected), 0) << what;
                }
            }
        }
    }

    // The states around the text are as they were.
    draw_one_frame();
    GLfloat before[16], after[16];
    glGetFloatv(GL_MODELVIEW_MATRIX, before);
    glMatrixMode(GL_MODELVIEW);
    drawString(0.0, 0.0, 16.0, GLUT_BITMAP_HELVETICA_12, "state");
    glGetFloatv(GL_MODELVIEW_MATRIX, after);
    EXPECT_TRUE(std::equal(before, before + 16, after));
    GLint mode = 0;
    glGetIntegerv(GL_MATRIX_MODE, &mode);
    EXPECT_EQ(mode, GL_MODELVIEW);
    EXPECT_TRUE(glIsEnabled(GL_LIGHTING));
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
    EXPECT_FALSE(glIsEnabled(GL_ALPHA_TEST));

    // A raster position outside the view draws nothing.
    draw_one_frame();
    const auto plain = window_pixels();
    text_material(1.0f);
    drawString(0.0, 0.0, 500.0, GLUT_BITMAP_HELVETICA_18, "out of view");
    EXPECT_EQ(differing_pixels(window_pixels(), plain), 0);
}

TEST(Text, BrushDabShowsExactlyItsColour) {
    open_test_window();
    draw_one_frame();
    paint_Ten(0.5, 0.5, 24.0, 1.0, 0.5, 0.0);
    expect_near(at_field(0.5, 0.5), 255, 128, 0, 2, "orange dab centre");
    paint_Ten(100.5, 100.5, 24.0, 0.2, 0.4, 0.6);
    expect_near(at_field(100.5, 100.5), 51, 102, 153, 2, "blue-grey dab centre");
}

// A wall's cap covers exactly the hexagon one polygon through its six corners covers.
TEST(Walls, CapCoversTheSamePixelsAsOnePolygon) {
    open_test_window();
    battle_mode = 1;
    const double sx = -60.3, sy = 10.7, ex = 70.2, ey = -20.4;
    const double len = std::hypot(ex - sx, ey - sy);
    const double nx = -(ey - sy) / len, ny = (ex - sx) / len;
    const auto walls_only_mine = [&] {
        nwall = 0;
        setup_wall(sx, sy, ex, ey, nx, ny, 0);
        setup_wall(ex, ey, sx, sy, -nx, -ny, WALL_BACK_FACE);
    };
    walls_only_mine();
    draw_one_frame();
    draw_one_frame();
    const auto walls_drawn = window_pixels();

    nwall = 0;
    draw_one_frame();
    const auto floor_only = window_pixels();
    const GLfloat diffuse[] = {0.5f, 0.5f, 0.3f, 1.0f}, ambient[] = {0.45f, 0.45f, 0.27f, 1.0f},
                  black[] = {0.0f, 0.0f, 0.0f, 1.0f};
    glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, diffuse);
    glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT, ambient);
    glMaterialfv(GL_FRONT_AND_BACK, GL_EMISSION, black);
    glBegin(GL_POLYGON);
    glNormal3d(0.0, 0.0, 1.0);
    const double corners[6][2] = {{sx - ny, sy + nx},           {sx + nx, sy + ny},
                                  {ex + nx, ey + ny},           {ex + ny, ey - nx},
                                  {ex - 2.0 * nx, ey - 2.0 * ny}, {sx - 2.0 * nx, sy - 2.0 * ny}};
    for (const auto &c : corners) glVertex3d(c[0], c[1], 15.0);
    glEnd();
    glFinish();
    const auto one_polygon = window_pixels();
    EXPECT_GT(differing_pixels(one_polygon, floor_only), 300) << "the cap shows";
    EXPECT_EQ(differing_pixels(walls_drawn, one_polygon), 0);
}
