// frame.cpp: one frame of the field: the paint layer, the per-frame steps in their order, the
// camera, and the drawing of the floor, coins, turtles, beams and labels (walls: walls.cpp).
#include <GL/freeglut.h>
#include <GL/glu.h>
#include <malloc.h>

#include <algorithm>
#include <array>
#include <cassert>
#include <cmath>
#include <cstdio>
#include <vector>

#include "draw/battle.h"
#include "draw/floor_readback.h"
#include "draw/font.h"
#include "draw/frame.h"
#include "draw/image_files.h"
#include "draw/material.h"
#include "draw/mesh_draw.h"
#include "draw/overlays.h"
#include "draw/paint.h"
#include "draw/scenery.h"
#include "draw/textures.h"
#include "draw/turtle_mesh.h"
#include "draw/walls.h"
#include "world/field.h"
#include "world/frame_rules.h"
#include "world/published.h"

namespace {

inline constexpr double HALF_FIELD = 256.0;  // field units from the centre to an edge
inline constexpr double TOP_NEAR = 409.6;    // clip planes of both cameras, field units
inline constexpr double TOP_FAR = 614.4;
inline constexpr double BIRD_FAR = 1024.0;
inline constexpr double EYE_DISTANCE = 512.0;  // camera height (top) and offsets (bird's-eye)
inline constexpr double BODY_HEIGHT = 5.0;     // turtle model centre, and beams, above the floor
inline constexpr double LABEL_HEIGHT = 16.0;
inline constexpr double PHASE_PER_SLOT = 0.3;     // radians of walking phase between slots
inline constexpr double LEG_PERIOD_DIV = 7.0;     // ticks per radian of the leg swing
inline constexpr double HEAD_PERIOD_DIV = 28.0;   // ticks per radian of the head bob
inline constexpr int TURTLES_PER_FLUSH = 10;      // slots drawn between hand-overs to the renderer
inline constexpr int HEAP_KEPT_BYTES = 64 << 20;  // freed heap kept for reuse, bytes
inline constexpr int HEAP_MMAP_BYTES = 16 << 20;  // smaller blocks come from the heap, bytes

const color team_colors[NTEAM] = {
    {0.2, 1.0, 0.1}, {0.7, 0.3, 1.0}, {0.5, 0.9, 0.9}, {0.1, 0.1, 1.0}, {0.8, 0.9, 0.0}};

void set_flat_projection() {
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluOrtho2D(-HALF_FIELD, HALF_FIELD, -HALF_FIELD, HALF_FIELD);
}

// True while the paint layer holds its picture upside down, as a blit takes it; false after
// the plain copy. The layer's quads turn their texture coordinates to match.
bool paint_layer_flipped = false;

// Texture t coordinate of the paint layer's row at height v (0 bottom, 1 top).
double layer_t(double v) { return paint_layer_flipped ? 1.0 - v : v; }

// The paint layer back in the window, under which new strokes land: a blit, or a full-window
// quad.
void restore_paint_layer() {
    if (paint_layer_flipped && paint_layer_put_back()) return;
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluOrtho2D(0.0, 1.0, 0.0, 1.0);
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, bg_textures.get());
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
    glBegin(GL_QUADS);
    glTexCoord2d(0.0, layer_t(0.0));
    glVertex3d(0.0, 0.0, 0.0);
    glTexCoord2d(1.0, layer_t(0.0));
    glVertex3d(1.0, 0.0, 0.0);
    glTexCoord2d(1.0, layer_t(1.0));
    glVertex3d(1.0, 1.0, 0.0);
    glTexCoord2d(0.0, layer_t(1.0));
    glVertex3d(0.0, 1.0, 0.0);
    glEnd();
    glBindTexture(GL_TEXTURE_2D, 0);
    glDisable(GL_TEXTURE_2D);
    glLoadIdentity();
    gluOrtho2D(-HALF_FIELD, HALF_FIELD, -HALF_FIELD, HALF_FIELD);
}

// A fresh floor (with the tiles in battle mode) that becomes the paint layer in this frame.
void recreate_floor() {
    glClearColor(static_cast<float>(bgcol.r), static_cast<float>(bgcol.g),
                 static_cast<float>(bgcol.b), 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    if (battle_mode) drawBackground();
    turtle_field_is_cleared = 1;
}

void save_paint_layer() {
    paint_layer_flipped = paint_layer_take();
    if (paint_layer_flipped) return;
    glBindTexture(GL_TEXTURE_2D, bg_textures.get());
    glReadBuffer(GL_BACK);
    glCopyTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, 0, 0, WINDOW_SIZE, WINDOW_SIZE, 0);
    glBindTexture(GL_TEXTURE_2D, 0);
}

// The turtles' new pen work on the paint layer, as the frame's rules decided it. The layer is
// put back into the back buffer only when something is to be drawn on it, since the frame
// clears the back buffer afterwards anyway and a full-window quad is dear in a software
// renderer.
void paint_new_work(const frame_report &rep, bool floor_is_fresh) {
    if (!floor_is_fresh && !rep.painted) return;
    if (!floor_is_fresh) restore_paint_layer();
    for (int t = 0; t < rep.npaint; t++) draw_paint_report(rep.paint[t]);
    save_paint_layer();
}

// The camera of the scenery key's view.
void set_camera(const scenery_key &key) {
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    if (key.bird_view_mode) {
        gluPerspective(key.view_fov_angle, 1.0, TOP_NEAR, BIRD_FAR);
    } else {
        glOrtho(-HALF_FIELD, HALF_FIELD, -HALF_FIELD, HALF_FIELD, TOP_NEAR, TOP_FAR);
    }
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    if (key.bird_view_mode) {
        gluLookAt(0.0, -EYE_DISTANCE, EYE_DISTANCE, 0.0, 0.0, 0.0, 0.0, 1.0, 0.0);
        glRotated(key.view_rotation_angle, 0.0, 0.0, 1.0);
    } else {
        gluLookAt(0.0, 0.0, EYE_DISTANCE, 0.0, 0.0, 0.0, 0.0, 1.0, 0.0);
    }
}

void draw_floor() {
    glEnable(GL_CULL_FACE);
    glCullFace(GL_BACK);
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, bg_textures.get());
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
    glBegin(GL_QUADS);
    glNormal3d(0.0, 0.0, 1.0);
    glTexCoord2d(0.0, layer_t(0.0));
    glVertex3d(-HALF_FIELD, -HALF_FIELD, 0.0);
    glTexCoord2d(1.0, layer_t(0.0));
    glVertex3d(HALF_FIELD, -HALF_FIELD, 0.0);
    glTexCoord2d(1.0, layer_t(1.0));
    glVertex3d(HALF_FIELD, HALF_FIELD, 0.0);
    glTexCoord2d(0.0, layer_t(1.0));
    glVertex3d(-HALF_FIELD, HALF_FIELD, 0.0);
    glEnd();
    glBindTexture(GL_TEXTURE_2D, 0);
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_CULL_FACE);
}

// The coins of the scenery key on the field in ascending order, so the newest lies on top.
void draw_coins(const scenery_key &key) {
    static std::array<int, NCOIN> coin_list;  // order -> coin index, or -1
    coin_list.fill(-1);
    for (int c = 0; c < key.ncoin; c++) {
        if (!(key.coins[c].status & COIN_ON_FIELD)) continue;
        const int order = key.coins[c].order;
        assert(order >= 0 && order < NCOIN);
        if (order >= 0 && order < NCOIN) coin_list[order] = c;
    }
    bool any = false;
    for (int i = 0; i < key.ncoin; i++) {
        const int c = coin_list[i];
        if (c == -1) continue;
        if (!any) beginIcons(TEX_COIN);
        any = true;
        drawIconQuad(key.coins[c].pos.x, key.coins[c].pos.y, coinIconHeight(key.coins[c].order));
    }
    if (any) endIcons();
}

// Labels and beams take their colour from the emission; a zero normal keeps the light of the
// last drawn surface out of it.
void draw_label(double x, double y, const char *text, float emission_alpha_after) {
    glNormal3d(0.0, 0.0, 0.0);
    set_material(GL_FRONT, GL_EMISSION, 0.7f, 0.7f, 0.7f, 1.0f);
    drawString(x, y, LABEL_HEIGHT, GLUT_BITMAP_HELVETICA_12, text);
    set_material(GL_FRONT, GL_EMISSION, 0.0f, 0.0f, 0.0f, emission_alpha_after);
}

// A beam line and its colour (finder or radar).
struct beam_line {
    position from, to;
    float r, g, b;
};

// Beam lines waiting to be drawn, in the order the slots produced them: two per slot at most.
std::array<beam_line, 2 * NTURTLE> beams;
int nbeam = 0;

// In the frame's turtle passes, beams and labels wait and are drawn together at the passes'
// end: each on its own costs the renderer a change of all its states. They are opaque and
// keep their order, so only something translucent drawn in between could tell the difference.
bool passes_batched = false;

// One draw for all waiting lines: the material changes between vertices travel with them.
void draw_beam_lines() {
    if (nbeam == 0) return;
    glLineWidth(1.0f);
    glNormal3d(0.0, 0.0, 0.0);
    glBegin(GL_LINES);
    for (int i = 0; i < nbeam; i++) {
        const beam_line &l = beams[i];
        set_material(GL_FRONT, GL_EMISSION, l.r, l.g, l.b, 1.0f);
        set_material(GL_FRONT, GL_AMBIENT_AND_DIFFUSE, l.r, l.g, l.b, 1.0f);
        glVertex3d(l.from.x, l.from.y, BODY_HEIGHT);
        glVertex3d(l.to.x, l.to.y, BODY_HEIGHT);
    }
    glEnd();
    set_material(GL_FRONT, GL_EMISSION, 0.0f, 0.0f, 0.0f, 0.0f);
    nbeam = 0;
}

void add_beam_line(position from, position to, float r, float g, float b) {
    assert(nbeam < static_cast<int>(beams.size()));
    if (nbeam < static_cast<int>(beams.size())) beams[nbeam++] = {from, to, r, g, b};
    if (!passes_batched) draw_beam_lines();
}

void begin_turtle_passes() {
    passes_batched = true;
    beginStringBatch();
}

void end_turtle_passes() {
    draw_beam_lines();
    endStringBatch();
    passes_batched = false;
}

// The floor, walls and coins: drawn, or put back with their depths from the copy of an
// earlier frame with the same scenery. A copy is taken only when the same scenery was drawn
// twice in a row, so frames in which it keeps changing pay nothing for it.
uint64_t paint_generation = 0;  // counts the frames that changed the paint layer
scenery_key key_now, key_drawn_last, key_cached;
bool cache_valid = false;

void set_depth_test() {
    glEnable(GL_DEPTH_TEST);
    // What is drawn later at the same height wins (the error text over the help panel).
    glDepthFunc(GL_LEQUAL);
}

// In the top view the floor fills the window pixel for pixel, so the paint layer can be
// copied in instead of drawn, with the depth the floor would leave: it lies halfway between
// the near and far planes. False when the copy cannot be made.
bool put_top_view_floor(bool rendering) {
    if (!rendering || key_now.bird_view_mode || !paint_layer_flipped || !paint_layer_put_back()) {
        return false;
    }
    glClearDepth((EYE_DISTANCE - TOP_NEAR) / (TOP_FAR - TOP_NEAR));
    glClear(GL_DEPTH_BUFFER_BIT);
    glClearDepth(1.0);
    return true;
}

// The floor, walls and coins are drawn from the scenery key alone, so two frames with equal
// keys draw the same scenery.
void draw_scenery() {
    // Feedback and selection frames rasterise nothing, so they neither use nor take a copy.
    GLint render_mode = GL_RENDER;
    glGetIntegerv(GL_RENDER_MODE, &render_mode);
    const bool rendering = render_mode == GL_RENDER;
    read_scenery_key(key_now, paint_generation);
    if (rendering && cache_valid && key_now == key_cached && scenery_cache_restore()) {
        set_depth_test();
        set_camera(key_now);
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
        return;
    }
    const bool floor_copied = put_top_view_floor(rendering);
    if (!floor_copied) glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    set_depth_test();
    set_camera(key_now);
    if (!floor_copied) draw_floor();
    // The software renderer shades a frame only once it is handed over; handing over the
    // finished parts lets its threads shade them while the rest is still being submitted.
    glFlush();
    if (key_now.battle_mode) draw_walls(key_now);

    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    draw_coins(key_now);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glFlush();

    if (!rendering) return;
    if (key_now == key_drawn_last && scenery_cache_store()) {
        key_cached = key_now;
        cache_valid = true;
    }
    key_drawn_last = key_now;
}

}  // namespace

// The renderer allocates and frees its per-frame command memory; returning it to the system
// at every frame costs page faults in the next.
void keep_freed_memory() {
    mallopt(M_TRIM_THRESHOLD, HEAP_KEPT_BYTES);
    mallopt(M_MMAP_THRESHOLD, HEAP_MMAP_BYTES);
}

void display_frame() {
    // Everything the frame reads of the world, the floor's flags and colour included, is read
    // under the lock.
    const frame_turn turn;
    set_flat_projection();
    const bool floor_is_fresh = turtle_field_is_cleared != 1;
    if (floor_is_fresh) recreate_floor();

    static frame_report rep;
    field_advance_frame(rep);
    paint_new_work(rep, floor_is_fresh);
    floor_readback(rep, floor_is_fresh || rep.painted, floor_is_fresh, paint_layer_flipped);
    // The viewers' copy is taken as soon as the rules have run, not after the drawing.
    publish_frame(&rep);

    if (floor_is_fresh || rep.painted) paint_generation++;
    draw_scenery();

    begin_turtle_passes();
    for (int i = 0; i < rep.nslots; i++) {
        const slot_view &v = rep.slots[i];
        draw_battle_bullet(v.battle);
        draw_turtle(v);
        if (v.drawn && v.ttl > 0) glDisable(GL_BLEND);  // the dying body was blended
        if (!is_object(v.tid) && v.tid % TURTLES_PER_FLUSH == TURTLES_PER_FLUSH - 1) glFlush();
    }
    end_turtle_passes();
    // Fireballs and hit flashes are translucent: drawn last, in the slots' order, over the
    // batched beams and labels, which are flushed once rather than for each of them.
    for (int i = 0; i < rep.nslots; i++) draw_battle_glow(rep.slots[i].battle);

    if (disp_help) drawHelp();
    if (socket_error_occurred) drawWarming();
    glDisable(GL_DEPTH_TEST);
}

void write_requested_capture() {
    if (!capture_request.empty()) {
        saveImageToPNG(WINDOW_SIZE, WINDOW_SIZE, capture_request.c_str());
        capture_request.clear();
    }
}

void display() {
    display_frame();
    write_requested_capture();
    glutSwapBuffers();
    frame_drawn();
}

void set_ttl_color(int team) {
    const color &c = team_colors[((team % NTEAM) + NTEAM) % NTEAM];
    const float r = static_cast<float>(c.r), g = static_cast<float>(c.g),
                b = static_cast<float>(c.b);
    set_material(GL_FRONT, GL_DIFFUSE, r, g, b, 1.0f);
    set_material(GL_FRONT, GL_AMBIENT, 0.6f * r, 0.6f * g, 0.6f * b, 1.0f);
    set_emission(0.0f, 0.0f, 0.0f, 0.0f);
}

void draw_turtle_body(const slot_view &view, double x, double y, double angle, double delta1,
                      double delta2) {
    const uint32_t st = view.status;
    if (st & ST_STONE) {
        drawIcon_Stone(x, y);
        return;
    }
    if (st & ST_DOUGHNUT) {
        drawIcon_Doughnut(x, y);
        return;
    }
    if (view.ncoin > 0) drawIcon_Coin(x, y, ncoin);

    glPushMatrix();
    glTranslated(x, y, BODY_HEIGHT);
    glRotated(angle, 0.0, 0.0, 1.0);
    set_ttl_color(view.team);

    // Head and legs moved for this frame: the head bobs by delta2; diagonal legs swing
    // together along the body (left rear with right front, left front with right rear).
    const turtle_mesh &m = turtle_model();
    static std::vector<mesh_vertex> v;
    v = m.vertices;
    const auto shift = [&](std::size_t from, std::size_t to, double dx, double dz) {
        for (std::size_t i = from; i < to; i++) {
            v[i].x += static_cast<GLfloat>(dx);
            v[i].z += static_cast<GLfloat>(dz);
        }
    };
    shift(m.head_begin, m.legs_begin[0], 0.0, delta2);
    const double leg_x[4] = {delta1 - 5.0, 5.0 - delta1, -5.0 - delta1, delta1 + 5.0};
    for (int k = 0; k < 4; k++) shift(m.legs_begin[k], m.legs_begin[k + 1], leg_x[k], 0.0);

    draw_closed_mesh(v, m.indices);

    glPopMatrix();
}

void draw_beam(const slot_view &v) {
    if (v.finder.on) add_beam_line(v.pos, v.finder.to, 1.0f, 0.4f, 0.4f);
    if (v.radar.on) add_beam_line(v.pos, v.radar.to, 0.4f, 0.4f, 1.0f);
}

void draw_turtle(const slot_view &v) {
    if (!v.drawn) return;
    if (v.ttl > 0) glEnable(GL_BLEND);

    const double tick = static_cast<double>(elapsed_time.load());
    const double phase = PHASE_PER_SLOT * v.tid;
    const double delta1 = std::sin(tick / LEG_PERIOD_DIV + phase);
    const double delta2 = std::sin(tick / HEAD_PERIOD_DIV + phase);

    draw_beam(v);
    const double x = v.pos.x, y = v.pos.y;
    draw_turtle_body(v, x, y, v.heading, delta1, delta2);

    if (!(v.status & (ST_STONE | ST_DOUGHNUT))) {
        if (disp_score) {
            char text[16];
            std::snprintf(text, sizeof text, "%d", v.score);
            draw_label(x - 12.0, y + 10.0, text, 1.0f);
        }
        if (disp_name) draw_label(x - 12.0, y - 22.0, v.name, 0.0f);
    }
}
