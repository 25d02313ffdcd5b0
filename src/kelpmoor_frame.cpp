// kelpmoor_frame.cpp: one frame of the field: the paint layer, the per-frame steps in their
// order, the camera, and the drawing of the floor, walls, coins, turtles, beams and labels.
#include <GL/freeglut.h>
#include <GL/glu.h>

#include <cassert>
#include <cmath>
#include <cstdio>

#include "glutil.h"
#include "kelpmoor.h"
#include "paint.h"
#include "tcpserver.h"

namespace {

inline constexpr double HALF_FIELD = 256.0;     // field units from the centre to an edge
inline constexpr double TOP_NEAR = 409.6;       // clip planes of both cameras, field units
inline constexpr double TOP_FAR = 614.4;
inline constexpr double BIRD_FAR = 1024.0;
inline constexpr double EYE_DISTANCE = 512.0;   // camera height (top) and offsets (bird's-eye)
inline constexpr double BODY_HEIGHT = 5.0;      // turtle model centre, and beams, above the floor
inline constexpr double LABEL_HEIGHT = 16.0;
inline constexpr double PHASE_PER_SLOT = 0.3;   // radians of walking phase between slots
inline constexpr double LEG_PERIOD_DIV = 7.0;   // ticks per radian of the leg swing
inline constexpr double HEAD_PERIOD_DIV = 28.0; // ticks per radian of the head bob

const color team_colors[NTEAM] = {
    {0.2, 1.0, 0.1}, {0.7, 0.3, 1.0}, {0.5, 0.9, 0.9}, {0.1, 0.1, 1.0}, {0.8, 0.9, 0.0}};

void set_material(GLenum face, GLenum what, float r, float g, float b, float a) {
    const GLfloat c[] = {r, g, b, a};
    glMaterialfv(face, what, c);
}

void set_flat_projection() {
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluOrtho2D(-HALF_FIELD, HALF_FIELD, -HALF_FIELD, HALF_FIELD);
}

// The paint layer as a full-window quad, or a fresh floor (with the tiles in battle mode).
void restore_or_recreate_floor() {
    if (turtle_field_is_cleared == 1) {
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        gluOrtho2D(0.0, 1.0, 0.0, 1.0);
        glEnable(GL_TEXTURE_2D);
        glBindTexture(GL_TEXTURE_2D, bg_textures);
        glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
        glBegin(GL_QUADS);
        glTexCoord2d(0.0, 0.0);
        glVertex3d(0.0, 0.0, 0.0);
        glTexCoord2d(1.0, 0.0);
        glVertex3d(1.0, 0.0, 0.0);
        glTexCoord2d(1.0, 1.0);
        glVertex3d(1.0, 1.0, 0.0);
        glTexCoord2d(0.0, 1.0);
        glVertex3d(0.0, 1.0, 0.0);
        glEnd();
        glBindTexture(GL_TEXTURE_2D, 0);
        glDisable(GL_TEXTURE_2D);
        glLoadIdentity();
        gluOrtho2D(-HALF_FIELD, HALF_FIELD, -HALF_FIELD, HALF_FIELD);
    } else {
        glClearColor(static_cast<float>(bgcol.r), static_cast<float>(bgcol.g),
                     static_cast<float>(bgcol.b), 1.0f);
        glClear(GL_COLOR_BUFFER_BIT);
        if (battle_mode) drawBackground();
        turtle_field_is_cleared = 1;
        field_is_painted = 1;
    }
}

void save_paint_layer() {
    glBindTexture(GL_TEXTURE_2D, bg_textures);
    glReadBuffer(GL_BACK);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glCopyTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, 0, 0, WINDOW_SIZE, WINDOW_SIZE, 0);
    glBindTexture(GL_TEXTURE_2D, 0);
}

void set_camera() {
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    if (bird_view_mode) {
        gluPerspective(view_fov_angle, 1.0, TOP_NEAR, BIRD_FAR);
    } else {
        glOrtho(-HALF_FIELD, HALF_FIELD, -HALF_FIELD, HALF_FIELD, TOP_NEAR, TOP_FAR);
    }
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    if (bird_view_mode) {
        gluLookAt(0.0, -EYE_DISTANCE, EYE_DISTANCE, 0.0, 0.0, 0.0, 0.0, 1.0, 0.0);
        glRotated(view_rotation_angle, 0.0, 0.0, 1.0);
    } else {
        gluLookAt(0.0, 0.0, EYE_DISTANCE, 0.0, 0.0, 0.0, 0.0, 1.0, 0.0);
    }
}

void draw_floor() {
    glEnable(GL_CULL_FACE);
    glCullFace(GL_BACK);
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, bg_textures);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
    glBegin(GL_QUADS);
    glNormal3d(0.0, 0.0, 1.0);
    glTexCoord2d(0.0, 0.0);
    glVertex3d(-HALF_FIELD, -HALF_FIELD, 0.0);
    glTexCoord2d(1.0, 0.0);
    glVertex3d(HALF_FIELD, -HALF_FIELD, 0.0);
    glTexCoord2d(1.0, 1.0);
    glVertex3d(HALF_FIELD, HALF_FIELD, 0.0);
    glTexCoord2d(0.0, 1.0);
    glVertex3d(-HALF_FIELD, HALF_FIELD, 0.0);
    glEnd();
    glBindTexture(GL_TEXTURE_2D, 0);
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_CULL_FACE);
}

// Coins on the field in ascending order, so the newest lies on top.
void draw_coins() {
    coin_list.fill(-1);
    for (int c = 0; c < ncoin; c++) {
        if (!(coins[c].status & COIN_ON_FIELD)) continue;
        const int order = coins[c].order;
        assert(order >= 0 && order < NCOIN);
        if (order >= 0 && order < NCOIN) coin_list[order] = c;
    }
    for (int i = 0; i < ncoin; i++) {
        const int c = coin_list[i];
        if (c != -1 && (coins[c].status & COIN_ON_FIELD)) {
            drawIcon_Coin(coins[c].pos.x, coins[c].pos.y, coins[c].order);
        }
    }
}

bool is_object(int t) { return (ttl[t].status & (ST_STONE | ST_DOUGHNUT)) != 0; }

// Labels and beams take their colour from the emission; a zero normal keeps the light of the
// last drawn surface out of it.
void draw_label(double x, double y, const char *text, float emission_alpha_after) {
    glNormal3d(0.0, 0.0, 0.0);
    set_material(GL_FRONT, GL_EMISSION, 0.7f, 0.7f, 0.7f, 1.0f);
    drawString(x, y, LABEL_HEIGHT, GLUT_BITMAP_HELVETICA_12, text);
    set_material(GL_FRONT, GL_EMISSION, 0.0f, 0.0f, 0.0f, emission_alpha_after);
}

void draw_beam_line(int tid, int target, float r, float g, float b) {
    set_material(GL_FRONT, GL_EMISSION, r, g, b, 1.0f);
    set_material(GL_FRONT, GL_AMBIENT_AND_DIFFUSE, r, g, b, 1.0f);
    glLineWidth(1.0f);
    glNormal3d(0.0, 0.0, 0.0);
    glBegin(GL_LINES);
    glVertex3d(ttl[tid].pos[0].x, ttl[tid].pos[0].y, BODY_HEIGHT);
    glVertex3d(ttl[target].pos[0].x, ttl[target].pos[0].y, BODY_HEIGHT);
    glEnd();
    set_material(GL_FRONT, GL_EMISSION, 0.0f, 0.0f, 0.0f, 0.0f);
}

}  // namespace

void display_frame() {
    field_is_painted = 0;
    set_flat_projection();
    restore_or_recreate_floor();

    rendering_started();
    // Coin events (update_coin_event) take their place here, before the team boards.
    refresh_teaminfo();
    for (int t = 0; t < ntmax; t++) paint_by_turtle(t);
    if (field_is_painted) save_paint_layer();

    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glEnable(GL_DEPTH_TEST);
    // What is drawn later at the same height wins (the error text over the help panel).
    glDepthFunc(GL_LEQUAL);
    set_camera();
    draw_floor();
    if (battle_mode) draw_walls();

    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    draw_coins();
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);

    for (int t = 0; t < ntmax; t++) {
        if (is_object(t)) draw_turtle(t);
    }
    for (int t = 0; t < ntmax; t++) {
        if (!is_object(t)) draw_turtle(t);
    }

    if (disp_help) drawHelp();
    if (socket_error_occurred) drawWarming();
    glDisable(GL_DEPTH_TEST);
    rendering_is_done();
}

void display() {
    display_frame();
    if (!capture_request.empty()) {
        saveImageToPNG(WINDOW_SIZE, WINDOW_SIZE, capture_request.c_str());
        capture_request.clear();
    }
    glutSwapBuffers();
}

void set_ttl_color(int tid) {
    const color &c = team_colors[((ttl[tid].team % NTEAM) + NTEAM) % NTEAM];
    const float r = static_cast<float>(c.r), g = static_cast<float>(c.g),
                b = static_cast<float>(c.b);
    set_material(GL_FRONT, GL_DIFFUSE, r, g, b, 1.0f);
    set_material(GL_FRONT, GL_AMBIENT, 0.6f * r, 0.6f * g, 0.6f * b, 1.0f);
}

void draw_turtle_body(int tid, double x, double y, double angle, double delta1, double delta2) {
    const uint32_t st = ttl[tid].status;
    if (st & ST_STONE) {
        drawIcon_Stone(x, y);
        return;
    }
    if (st & ST_DOUGHNUT) {
        drawIcon_Doughnut(x, y);
        return;
    }
    if (ttl[tid].ncoin > 0) drawIcon_Coin(x, y, ncoin);

    glPushMatrix();
    glTranslated(x, y, BODY_HEIGHT);
    glRotated(angle, 0.0, 0.0, 1.0);
    set_ttl_color(tid);

    glPushMatrix();  // head
    glTranslated(11.5, 0.0, delta2);
    glutSolidSphere(2.5, 8, 8);
    glPopMatrix();

    // Diagonal legs swing together: left rear with right front, left front with right rear.
    const double legs[4][2] = {
        {delta1 - 5.0, 8.0}, {5.0 - delta1, 8.0}, {-5.0 - delta1, -8.0}, {delta1 + 5.0, -8.0}};
    for (const auto &leg : legs) {
        glPushMatrix();
        glTranslated(leg[0], leg[1], -2.0);
        glutSolidSphere(2.0, 8, 8);
        glPopMatrix();
    }

    glPushMatrix();  // shell: 20 long, 14 wide, 10 high
    glEnable(GL_NORMALIZE);
    glScaled(1.0, 0.7, 0.5);
    glutSolidSphere(10.0, 12, 12);
    glDisable(GL_NORMALIZE);
    glPopMatrix();

    glPushMatrix();  // tail, pointing backwards
    glTranslated(-8.0, 0.0, 0.0);
    glRotated(-90.0, 0.0, 1.0, 0.0);
    glutSolidCone(1.0, 6.0, 8, 4);
    glPopMatrix();

    glPopMatrix();
}

void draw_beam(int tid) {
    turtle &t = ttl[tid];
    if (t.target_of_finder >= 0 && t.target_of_finder < NTURTLE) {
        draw_beam_line(tid, t.target_of_finder, 1.0f, 0.4f, 0.4f);
    }
    if (t.target_of_finder >= 0) t.target_of_finder = -1;
    if (t.target_of_rader >= 0 && t.target_of_rader < NTURTLE) {
        draw_beam_line(tid, t.target_of_rader, 0.4f, 0.4f, 1.0f);
    }
    if (t.target_of_rader >= 0) t.target_of_rader = -1;
}

void draw_walls() {
    set_material(GL_FRONT_AND_BACK, GL_DIFFUSE, 0.5f, 0.5f, 0.3f, 1.0f);
    set_material(GL_FRONT_AND_BACK, GL_AMBIENT, 0.45f, 0.45f, 0.27f, 1.0f);
    for (int i = 0; i < nwall; i++) {
        const wall &w = walls[i];
        const position s = w.startp, e = w.endp, n = w.normal;
        drawStoneWall(s.x + n.x, s.y + n.y, e.x + n.x, e.y + n.y, n.x, n.y);
        if (w.status & WALL_BACK_FACE) continue;
        glBegin(GL_POLYGON);
        glNormal3d(0.0, 0.0, 1.0);
        glVertex3d(s.x - n.y, s.y + n.x, 15.0);
        glVertex3d(s.x + n.x, s.y + n.y, 15.0);
        glVertex3d(e.x + n.x, e.y + n.y, 15.0);
        glVertex3d(e.x + n.y, e.y - n.x, 15.0);
        glVertex3d(e.x - 2.0 * n.x, e.y - 2.0 * n.y, 15.0);
        glVertex3d(s.x - 2.0 * n.x, s.y - 2.0 * n.y, 15.0);
        glEnd();
    }
}

void draw_turtle(int tid) {
    turtle &t = ttl[tid];
    // The bullet step of battle (flight, hits, the wall-impact burst) comes first, here, for
    // every slot with ST_BULLET, in use or not.
    if (!(t.status & ST_ALIVE)) return;
    if (t.ttl > 0) glEnable(GL_BLEND);

    const double tick = static_cast<double>(elapsed_time.load());
    const double phase = PHASE_PER_SLOT * tid;
    const double delta1 = std::sin(tick / LEG_PERIOD_DIV + phase);
    const double delta2 = std::sin(tick / HEAD_PERIOD_DIV + phase);

    if (battle_mode) draw_beam(tid);
    const double x = t.pos[0].x, y = t.pos[0].y;
    draw_turtle_body(tid, x, y, t.heading, delta1, delta2);

    if (!is_object(tid)) {
        if (disp_score) {
            char text[16];
            std::snprintf(text, sizeof text, "%d", t.score);
            draw_label(x - 12.0, y + 10.0, text, 1.0f);
        }
        if (disp_name) draw_label(x - 12.0, y - 22.0, t.name, 0.0f);
    }
    // The explosion and hit-flash steps of battle come here, then the robot step for
    // ST_SYSTEM slots that are not doughnuts.
}
