// gl_battle.cpp: a frame during a fight shows the bullet and the fireball where the world has
// them; the battle spheres are the toolkit's own, pixel for pixel.
#include <GL/freeglut.h>
#include <GL/glu.h>

#include "draw/battle.h"
#include "support.h"
#include "world/battle.h"

namespace {

bool yellow(rgb8 p) { return p[0] > 200 && p[1] > 150 && p[2] < p[1] - 40; }
bool fiery(rgb8 p) { return p[0] > 150 && p[1] < 0.6 * p[0] && p[2] < 0.4 * p[0]; }

// A grey floor seen by the bird's-eye camera, turned so that the spheres' seams show.
void bird_view_on_grey() {
    glClearColor(0.3f, 0.3f, 0.3f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glEnable(GL_DEPTH_TEST);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(55.0, 1.0, 409.6, 1024.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    gluLookAt(0.0, -512.0, 512.0, 0.0, 0.0, 0.0, 0.0, 1.0, 0.0);
    glRotated(33.0, 0.0, 0.0, 1.0);
}

// The toolkit's sphere with the bullet's colours at (x, y, 3), back faces culled.
void toolkit_sphere(double x, double y, double radius, float alpha) {
    const GLfloat diffuse[] = {1.0f, 0.9f, 0.5f, alpha}, ambient[] = {1.0f, 0.8f, 0.0f, alpha};
    glMaterialfv(GL_FRONT, GL_DIFFUSE, diffuse);
    glMaterialfv(GL_FRONT, GL_AMBIENT, ambient);
    if (alpha < 1.0f) glEnable(GL_BLEND);
    glEnable(GL_CULL_FACE);
    glCullFace(GL_BACK);
    glPushMatrix();
    glTranslated(x, y, 3.0);
    glutSolidSphere(radius, 16, 16);
    glPopMatrix();
    glDisable(GL_CULL_FACE);
    glDisable(GL_BLEND);
}

}  // namespace

TEST(BattlePicture, AFrameShowsTheBulletAndTheFireballAtTheirPlaces) {
    open_test_window();
    field_set_battle_mode();
    place(0, -120, -40, 0);
    place(1, 100, 100, 0, 0, 2);
    ASSERT_EQ(turtle_fire(0), 0);
    for (int i = 0; i < 30; i++) display_frame();
    const position bullet = ttl[0].bullet;  // the next frame draws it here, then moves it
    start_to_kill(1);
    display_frame();
    const std::vector<rgb8> px = window_pixels();
    const auto at = [&](double x, double y) { return pixel_at(px, x, y); };
    EXPECT_TRUE(yellow(at(bullet.x, bullet.y)) && !yellow(at(bullet.x + 12, bullet.y)));
    EXPECT_TRUE(fiery(at(100, 100)) && fiery(at(111, 100)) && fiery(at(100, 89)));
    EXPECT_FALSE(fiery(at(120, 100)) || fiery(at(-120, -40)) || yellow(at(0, 150)));
}

// The spheres are built once rather than by the toolkit at every call, and faces that cannot
// colour a pixel are left out before drawing; the picture must not tell. Places all over the
// field, some cut by the window's edge, put the faces at every fraction of a pixel.
TEST(BattlePicture, BulletsAndFlashesAreTheToolkitsSpheresPixelForPixel) {
    open_test_window();
    int in_view = 0;
    std::size_t at_edge = 0;
    for (double x = -300.0; x <= 300.0; x += 120.0) {
        for (double y = -300.0; y <= 300.0; y += 120.0) {
            battle_draw bullet, flash;
            bullet.bullet = true;
            bullet.bullet_at = {x, y};
            flash.flash_bttf = 17;
            flash.flash_at = {x + 30.0, y};

            bird_view_on_grey();
            draw_battle_bullet(bullet);
            draw_battle_glow(flash);
            const std::vector<rgb8> ours = window_pixels();

            bird_view_on_grey();
            toolkit_sphere(x, y, 5.0, 1.0f);
            toolkit_sphere(x + 30.0, y, 15.0, 17.0f / 25.0f);
            const std::vector<rgb8> theirs = window_pixels();

            std::size_t differing = 0, lit = 0;
            for (std::size_t i = 0; i < ours.size(); i++) {
                differing += ours[i] != theirs[i];
                const bool colour = theirs[i][0] != theirs[i][2];  // the grey floor: red = blue
                const std::size_t row = i / WINDOW_SIZE, column = i % WINDOW_SIZE;
                lit += colour;
                at_edge += colour && (row == 0 || column == 0 || row == WINDOW_SIZE - 1 ||
                                      column == WINDOW_SIZE - 1);
            }
            in_view += lit > 100;
            EXPECT_EQ(differing, 0u) << "at " << x << ", " << y;
        }
    }
    EXPECT_GE(in_view, 16);
    EXPECT_GT(at_edge, 0u) << "no sphere cut by the window's edge";
}
