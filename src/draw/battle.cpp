// battle.cpp: bullets, impact bursts, explosion fireballs and hit flashes, drawn from the
// frame's report.
#include "draw/battle.h"

#include <GL/freeglut.h>

#include "draw/mesh_draw.h"

namespace {

inline constexpr double BATTLE_HEIGHT = 3.0;  // centre of every battle sphere above the floor
inline constexpr double BULLET_RADIUS = 5.0;
inline constexpr double BALL_RADIUS = 15.0;  // bursts, fireballs and flashes
inline constexpr int SPHERE_DIVISIONS = 16;  // slices and stacks
inline constexpr float FIREBALL_ALPHA = 0.8f;

void set_colours(float diffuse_r, float diffuse_g, float diffuse_b, float ambient_r,
                 float ambient_g, float ambient_b, float alpha) {
    const GLfloat diffuse[] = {diffuse_r, diffuse_g, diffuse_b, alpha};
    const GLfloat ambient[] = {ambient_r, ambient_g, ambient_b, alpha};
    glMaterialfv(GL_FRONT, GL_DIFFUSE, diffuse);
    glMaterialfv(GL_FRONT, GL_AMBIENT, ambient);
}

// The bullet's own colours, for its body, its burst and its flash.
void set_bullet_colours(float alpha) { set_colours(1.0f, 0.9f, 0.5f, 1.0f, 0.8f, 0.0f, alpha); }

// The toolkit's sphere rebuilds its vertices and strips at every call and draws each strip on
// its own; a fight draws some thirty a frame, so each size is built once, the same triangles,
// and drawn with one call.
const solid_mesh &bullet_sphere() {
    static const solid_mesh m = sphere_mesh(BULLET_RADIUS, SPHERE_DIVISIONS, SPHERE_DIVISIONS);
    return m;
}
const solid_mesh &ball_sphere() {  // bursts, fireballs and flashes
    static const solid_mesh m = sphere_mesh(BALL_RADIUS, SPHERE_DIVISIONS, SPHERE_DIVISIONS);
    return m;
}

void sphere_at(position p, const solid_mesh &m) {
    glPushMatrix();
    glTranslated(p.x, p.y, BATTLE_HEIGHT);
    // A translucent ball, too, shows its near side only.
    draw_closed_mesh(m.vertices, m.indices);
    glPopMatrix();
}

}  // namespace

void draw_battle_bullet(const battle_draw &b) {
    if (!b.bullet && !b.burst) return;
    set_bullet_colours(1.0f);
    if (b.bullet) sphere_at(b.bullet_at, bullet_sphere());
    if (b.burst) sphere_at(b.burst_at, ball_sphere());
}

void draw_battle_glow(const battle_draw &b) {
    if (!b.fireball() && b.flash_bttf <= 0) return;
    glEnable(GL_BLEND);
    if (b.fireball()) {
        set_colours(1.0f, 0.2f, 0.0f, 1.0f, 0.2f, 0.0f, FIREBALL_ALPHA);
        sphere_at(b.explosion_at, ball_sphere());
    }
    if (b.flash_bttf > 0) {
        set_bullet_colours(static_cast<float>(b.flash_alpha()));
        sphere_at(b.flash_at, ball_sphere());
    }
    glDisable(GL_BLEND);
}
