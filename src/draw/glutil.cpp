// glutil.cpp: textures and icons, overlays and bitmap text, circles, PNG writing, PPM reading.
#include "draw/glutil.h"

// Off-screen buffers for the glyph atlas are core functions beyond the 1.x headers.
#define GL_GLEXT_PROTOTYPES 1
#include <GL/freeglut.h>
#include <png.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "world/world.h"

std::array<unsigned int, NOBJTEX> obj_textures{};
std::array<std::array<unsigned char, ICON_BYTES>, NOBJTEX> obj_text_image{};
std::array<int, NOBJTEX> obj_tex_initialized{};

namespace {

inline constexpr double ICON_LOW = -10.0;        // icon quad from point - 10 ...
inline constexpr double ICON_HIGH = 9.0;         // ... to point + 9, field units
inline constexpr double STONE_HEIGHT = 3.0;      // floor icons' heights, field units
inline constexpr double DOUGHNUT_HEIGHT = 2.0;
inline constexpr double COIN_BASE_HEIGHT = 1.0;
inline constexpr double COIN_STACK_HEIGHT = 1.5;
inline constexpr double WALL_HEIGHT = 15.0;
inline constexpr double WALL_TEX_REPEAT = 1.0 / 32.0;  // texture repeats per field unit
inline constexpr double WALL_TEX_TOP = 15.0 / 32.0;    // share of the pattern's height shown
inline constexpr double MIN_DAB_SIZE = 0.01;
inline constexpr double DAB_HEIGHT = 0.1;
inline constexpr int NSIDE = 12;  // sides of the circle approximations

const std::array<const unsigned char *, NOBJTEX> slot_image = {
    doughnut_image32x32, stone_image32x32, coin_image32x32, ten_image32x32};

void ensure_slot(int i) {
    if (!obj_tex_initialized[i]) init_obj_tex(i, slot_image[i]);
}

void set_emission(float r, float g, float b, float a) {
    const GLfloat c[] = {r, g, b, a};
    glMaterialfv(GL_FRONT, GL_EMISSION, c);
}

void set_emission_and_colour(float r, float g, float b, float a) {
    const GLfloat c[] = {r, g, b, a};
    glMaterialfv(GL_FRONT, GL_EMISSION, c);
    glMaterialfv(GL_FRONT, GL_AMBIENT_AND_DIFFUSE, c);
}

}  // namespace

// ---- Batches: the states of one kind of quad set once around many quads ------------------

namespace {

// Quads textured from one slot in the given texture mode, back faces culled.
void begin_slot_quads(int slot, GLint env_mode) {
    ensure_slot(slot);
    glEnable(GL_CULL_FACE);
    glCullFace(GL_BACK);
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, obj_textures[slot]);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, env_mode);
    glBegin(GL_QUADS);
}

void end_slot_quads() {
    glEnd();
    glBindTexture(GL_TEXTURE_2D, 0);
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_CULL_FACE);
}

}  // namespace

void beginIcons(int slot) {
    glEnable(GL_BLEND);
    begin_slot_quads(slot, GL_REPLACE);
}

void drawIconQuad(double x, double y, double z) {
    glNormal3d(0.0, 0.0, 1.0);
    glTexCoord2d(0.0, 0.0);
    glVertex3d(x + ICON_LOW, y + ICON_LOW, z);
    glTexCoord2d(1.0, 0.0);
    glVertex3d(x + ICON_HIGH, y + ICON_LOW, z);
    glTexCoord2d(1.0, 1.0);
    glVertex3d(x + ICON_HIGH, y + ICON_HIGH, z);
    glTexCoord2d(0.0, 1.0);
    glVertex3d(x + ICON_LOW, y + ICON_HIGH, z);
}

void endIcons() {
    end_slot_quads();
    glDisable(GL_BLEND);
}

double coinIconHeight(int order) {
    return COIN_BASE_HEIGHT + COIN_STACK_HEIGHT * order / (ncoin + 1);
}

void beginStoneWalls() { begin_slot_quads(TEX_STONE, GL_MODULATE); }

void drawStoneWallFace(double x0, double y0, double x1, double y1, double nx, double ny) {
    const double s = std::hypot(x1 - x0, y1 - y0) * WALL_TEX_REPEAT;
    glNormal3d(nx, ny, 0.0);
    glTexCoord2d(0.0, 0.0);
    glVertex3d(x0, y0, 0.0);
    glTexCoord2d(0.0, WALL_TEX_TOP);
    glVertex3d(x0, y0, WALL_HEIGHT);
    glTexCoord2d(s, WALL_TEX_TOP);
    glVertex3d(x1, y1, WALL_HEIGHT);
    glTexCoord2d(s, 0.0);
    glVertex3d(x1, y1, 0.0);
}

void endStoneWalls() { end_slot_quads(); }

namespace {

std::array<double, NSIDE> sine_tab{};
std::array<double, NSIDE> cosine_tab{};
int first_call = 1;

void init_sc_tab() {
    double angle = 0.0;
    for (int k = 0; k < NSIDE; k++) {
        sine_tab[k] = std::sin(angle);
        cosine_tab[k] = std::cos(angle);
        angle += 0.5235987755982988;
    }
    first_call = 0;
}

void fan(double x0, double y0, double a, double b) {
    if (first_call) init_sc_tab();
    glBegin(GL_TRIANGLE_FAN);
    glVertex2d(x0, y0);
    for (int k = 0; k <= NSIDE; k++) {
        glVertex2d(x0 + a * cosine_tab[k % NSIDE], y0 + b * sine_tab[k % NSIDE]);
    }
    glEnd();
}

void loop(double x0, double y0, double z0, double a, double b) {
    if (first_call) init_sc_tab();
    glBegin(GL_LINE_LOOP);
    for (int k = 0; k < NSIDE; k++) {
        glVertex3d(x0 + a * cosine_tab[k], y0 + b * sine_tab[k], z0);
    }
    glEnd();
}

struct help_line {
    double x, y, z;
    void *font;
    const char *text;
};

}  // namespace

// ---- Textures and icons -------------------------------------------------------------------

void flip32x32icon(const unsigned char *pix, unsigned char *image) {
    for (int k = 0; k < ICON_SIZE * ICON_SIZE; k++) {
        const int col = k % ICON_SIZE;
        const int row = k / ICON_SIZE;
        std::memcpy(image + ((ICON_SIZE - 1 - row) * ICON_SIZE + col) * 4, pix + k * 4, 4);
    }
}

void init_obj_tex(int i, const unsigned char *image) {
    flip32x32icon(image, obj_text_image[i].data());
    glGenTextures(1, &obj_textures[i]);
    glBindTexture(GL_TEXTURE_2D, obj_textures[i]);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, ICON_SIZE, ICON_SIZE, 0, GL_RGBA, GL_UNSIGNED_BYTE,
                 obj_text_image[i].data());
    glBindTexture(GL_TEXTURE_2D, 0);
    obj_tex_initialized[i] = 1;
}

void drawBackground() {
    const double corners[] = {-256.0, -56.0, 144.0};
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    for (double y : corners) {
        for (double x : corners) {
            glRasterPos3d(x, y, 0.0);
            glDrawPixels(BACKGROUND_SIZE, BACKGROUND_SIZE, GL_RGB, GL_UNSIGNED_BYTE,
                         background_image200x200);
        }
    }
}

void drawStoneWall(double x0, double y0, double x1, double y1, double nx, double ny) {
    beginStoneWalls();
    drawStoneWallFace(x0, y0, x1, y1, nx, ny);
    endStoneWalls();
}

void drawIcon_Coin(double x, double y, int order) {
    beginIcons(TEX_COIN);
    drawIconQuad(x, y, coinIconHeight(order));
    endIcons();
}

void drawIcon_Stone(double x, double y) {
    glColor3d(1.0, 1.0, 1.0);
    beginIcons(TEX_STONE);
    drawIconQuad(x, y, STONE_HEIGHT);
    endIcons();
}

void drawIcon_Doughnut(double x, double y) {
    glColor3d(1.0, 1.0, 1.0);
    beginIcons(TEX_DOUGHNUT);
    drawIconQuad(x, y, DOUGHNUT_HEIGHT);
    endIcons();
}

void paint_Ten(double x, double y, double size, double r, double g, double b) {
    ensure_slot(TEX_TEN);
    if (size < MIN_DAB_SIZE) size = MIN_DAB_SIZE;
    const double h = size / 2.0;
    glEnable(GL_BLEND);
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, obj_textures[TEX_TEN]);
    // The dab shows exactly its colour: the light adds nothing to the emission.
    set_emission(static_cast<float>(r), static_cast<float>(g), static_cast<float>(b), 1.0f);
    const GLfloat black[] = {0.0f, 0.0f, 0.0f, 1.0f};
    glMaterialfv(GL_FRONT, GL_AMBIENT_AND_DIFFUSE, black);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    glBegin(GL_QUADS);
    glTexCoord2d(0.0, 0.0);
    glVertex3d(x - h, y - h, DAB_HEIGHT);
    glTexCoord2d(0.0, 1.0);
    glVertex3d(x - h, y + h, DAB_HEIGHT);
    glTexCoord2d(1.0, 1.0);
    glVertex3d(x + h, y + h, DAB_HEIGHT);
    glTexCoord2d(1.0, 0.0);
    glVertex3d(x + h, y - h, DAB_HEIGHT);
    glEnd();
    glBindTexture(GL_TEXTURE_2D, 0);
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_BLEND);
}

// ---- Bitmap text --------------------------------------------------------------------------

namespace {

// Bitmaps are slow in a software renderer, so each font's characters are drawn once with the
// toolkit's own bitmap call into an off-screen buffer and read back into an alpha texture; a
// text is then drawn as one textured quad per character on the very pixels the bitmaps would
// cover. Unusual caller states that the quads cannot reproduce use the toolkit's call.
inline constexpr int GLYPH_CELL = 48;    // atlas pixels per character cell and side
inline constexpr int GLYPH_ORIGIN = 12;  // raster position inside its cell, from the lower left
inline constexpr int ATLAS_COLUMNS = 16;  // 16 x 16 cells: characters 0 .. 255
inline constexpr int ATLAS_SIZE = GLYPH_CELL * ATLAS_COLUMNS;  // pixels per side
inline constexpr int NGLYPH = ATLAS_COLUMNS * ATLAS_COLUMNS;
inline constexpr float BITMAP_EPSILON = 1.0e-4f;  // the renderer's nudge before it floors a
                                                  // bitmap's window position

struct glyph {
    int x = 0, y = 0, w = 0, h = 0;  // box of the character's set pixels in the atlas
    int dx = 0, dy = 0;              // that box's lower-left corner from the raster position
    int advance = 0;                 // raster position's move, pixels
};

struct font_atlas {
    void *font = nullptr;
    bool built = false;
    GLuint texture = 0;  // 0 when the atlas could not be made
    std::array<glyph, NGLYPH> glyphs{};
};

// Every character of the font drawn by the toolkit at the origin of its cell, read back as
// one byte per pixel (non-zero where a bit was set). False when no off-screen buffer exists.
bool render_glyph_cells(void *font, std::vector<unsigned char> &pixels) {
    GLint previous_fbo = 0;
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &previous_fbo);
    GLuint colour = 0, fbo = 0;
    glGenTextures(1, &colour);
    glBindTexture(GL_TEXTURE_2D, colour);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, ATLAS_SIZE, ATLAS_SIZE, 0, GL_RGBA, GL_UNSIGNED_BYTE,
                 nullptr);
    glBindTexture(GL_TEXTURE_2D, 0);
    glGenFramebuffers(1, &fbo);
    glBindFramebuffer(GL_FRAMEBUFFER, fbo);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, colour, 0);
    const bool complete = glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
    if (complete) {
        glPushAttrib(GL_ALL_ATTRIB_BITS);
        glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
        glViewport(0, 0, ATLAS_SIZE, ATLAS_SIZE);
        for (GLenum cap : {GL_LIGHTING, GL_DEPTH_TEST, GL_BLEND, GL_TEXTURE_2D, GL_ALPHA_TEST,
                           GL_SCISSOR_TEST, GL_STENCIL_TEST, GL_FOG, GL_COLOR_LOGIC_OP}) {
            glDisable(cap);
        }
        glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
        glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
        glClear(GL_COLOR_BUFFER_BIT);
        glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
        for (int c = 1; c < NGLYPH; c++) {
            glWindowPos2i((c % ATLAS_COLUMNS) * GLYPH_CELL + GLYPH_ORIGIN,
                          (c / ATLAS_COLUMNS) * GLYPH_CELL + GLYPH_ORIGIN);
            glutBitmapCharacter(font, c);
        }
        pixels.assign(static_cast<std::size_t>(ATLAS_SIZE) * ATLAS_SIZE, 0);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(0, 0, ATLAS_SIZE, ATLAS_SIZE, GL_RED, GL_UNSIGNED_BYTE, pixels.data());
        glPopClientAttrib();
        glBindFramebuffer(GL_FRAMEBUFFER, static_cast<GLuint>(previous_fbo));
        glPopAttrib();
    }
    glBindFramebuffer(GL_FRAMEBUFFER, static_cast<GLuint>(previous_fbo));
    glDeleteFramebuffers(1, &fbo);
    glDeleteTextures(1, &colour);
    return complete;
}

// The boxes of the set pixels of every cell; false if a character reaches its cell's edge
// (the cell would be too small to hold it).
bool measure_glyphs(void *font, const std::vector<unsigned char> &pixels, font_atlas &a) {
    for (int c = 0; c < NGLYPH; c++) {
        const int cx = (c % ATLAS_COLUMNS) * GLYPH_CELL, cy = (c / ATLAS_COLUMNS) * GLYPH_CELL;
        int x0 = GLYPH_CELL, y0 = GLYPH_CELL, x1 = -1, y1 = -1;
        for (int j = 0; j < GLYPH_CELL; j++) {
            for (int i = 0; i < GLYPH_CELL; i++) {
                if (pixels[static_cast<std::size_t>(cy + j) * ATLAS_SIZE + cx + i] == 0) continue;
                x0 = std::min(x0, i);
                y0 = std::min(y0, j);
                x1 = std::max(x1, i);
                y1 = std::max(y1, j);
            }
        }
        glyph &g = a.glyphs[c];
        g.advance = c == 0 ? 0 : glutBitmapWidth(font, c);
        if (x1 < 0) continue;
        if (x0 == 0 || y0 == 0 || x1 == GLYPH_CELL - 1 || y1 == GLYPH_CELL - 1) return false;
        g = {cx + x0, cy + y0, x1 - x0 + 1, y1 - y0 + 1, x0 - GLYPH_ORIGIN, y0 - GLYPH_ORIGIN,
             g.advance};
    }
    return true;
}

void build_atlas(font_atlas &a) {
    a.built = true;
    std::vector<unsigned char> pixels;
    if (!render_glyph_cells(a.font, pixels) || !measure_glyphs(a.font, pixels, a)) return;
    for (unsigned char &p : pixels) p = p != 0 ? 255 : 0;
    glGenTextures(1, &a.texture);
    glBindTexture(GL_TEXTURE_2D, a.texture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_ALPHA8, ATLAS_SIZE, ATLAS_SIZE, 0, GL_ALPHA,
                 GL_UNSIGNED_BYTE, pixels.data());
    glPopClientAttrib();
    glBindTexture(GL_TEXTURE_2D, 0);
}

// The atlas of one of the toolkit's fonts, built on first use; nullptr when there is none.
const font_atlas *atlas_of(void *fontname) {
    static std::array<font_atlas, 3> atlases{};
    for (font_atlas &a : atlases) {
        if (a.font == nullptr) a.font = fontname;
        if (a.font != fontname) continue;
        if (!a.built) build_atlas(a);
        return a.texture != 0 ? &a : nullptr;
    }
    return nullptr;
}

// States under which a bitmap's fragments differ from a plain coloured, alpha-tested quad's.
bool quads_match_bitmaps(const GLfloat raster_colour[4]) {
    return raster_colour[3] > 0.0f && !glIsEnabled(GL_TEXTURE_2D) && !glIsEnabled(GL_ALPHA_TEST) &&
           !glIsEnabled(GL_FOG);
}

// Window-coordinate quads of glyphs, drawn with the states they need and the caller's states
// restored afterwards.
struct glyph_quad {
    GLuint texture;
    GLfloat colour[4];
    float x0, y0, x1, y1, z;  // window pixels and depth
    float s0, t0, s1, t1;     // atlas texture coordinates
};

// The quads of the characters of str from the raster position; returns the advance, pixels.
int glyph_quads_of(const font_atlas &a, const GLfloat raster[4], const GLfloat colour[4],
                   const char *str, std::vector<glyph_quad> &out) {
    constexpr float texel = 1.0f / ATLAS_SIZE;
    const int x = static_cast<int>(std::floor(raster[0] + BITMAP_EPSILON));
    const int y = static_cast<int>(std::floor(raster[1] + BITMAP_EPSILON));
    int advance = 0;
    for (const char *p = str; *p != '\0'; p++) {
        const glyph &g = a.glyphs[static_cast<unsigned char>(*p)];
        if (g.w > 0) {
            glyph_quad q{a.texture, {colour[0], colour[1], colour[2], colour[3]}, 0, 0, 0, 0,
                         raster[2], g.x * texel, g.y * texel, (g.x + g.w) * texel,
                         (g.y + g.h) * texel};
            q.x0 = static_cast<float>(x + advance + g.dx);
            q.y0 = static_cast<float>(y + g.dy);
            q.x1 = q.x0 + g.w;
            q.y1 = q.y0 + g.h;
            out.push_back(q);
        }
        advance += g.advance;
    }
    return advance;
}

void draw_quads(const std::vector<glyph_quad> &quads) {
    if (quads.empty()) return;
    GLint viewport[4], matrix_mode = GL_MODELVIEW, env_mode = GL_MODULATE;
    glGetIntegerv(GL_VIEWPORT, viewport);
    glGetIntegerv(GL_MATRIX_MODE, &matrix_mode);
    glGetTexEnviv(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, &env_mode);
    GLfloat current_colour[4];
    glGetFloatv(GL_CURRENT_COLOR, current_colour);
    const bool lit = glIsEnabled(GL_LIGHTING);

    // Window coordinates, with a vertex's z passing through as its window depth.
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glOrtho(viewport[0], viewport[0] + viewport[2], viewport[1], viewport[1] + viewport[3], 0.0,
            -1.0);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    if (lit) glDisable(GL_LIGHTING);
    glEnable(GL_TEXTURE_2D);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    glEnable(GL_ALPHA_TEST);
    glAlphaFunc(GL_GREATER, 0.0f);

    // One run of quads per atlas.
    for (std::size_t i = 0; i < quads.size();) {
        const GLuint texture = quads[i].texture;
        glBindTexture(GL_TEXTURE_2D, texture);
        glBegin(GL_QUADS);
        for (; i < quads.size() && quads[i].texture == texture; i++) {
            const glyph_quad &q = quads[i];
            glColor4fv(q.colour);
            glTexCoord2f(q.s0, q.t0);
            glVertex3f(q.x0, q.y0, q.z);
            glTexCoord2f(q.s1, q.t0);
            glVertex3f(q.x1, q.y0, q.z);
            glTexCoord2f(q.s1, q.t1);
            glVertex3f(q.x1, q.y1, q.z);
            glTexCoord2f(q.s0, q.t1);
            glVertex3f(q.x0, q.y1, q.z);
        }
        glEnd();
    }

    glColor4fv(current_colour);
    glDisable(GL_ALPHA_TEST);
    glBindTexture(GL_TEXTURE_2D, 0);
    glDisable(GL_TEXTURE_2D);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, env_mode);
    if (lit) glEnable(GL_LIGHTING);
    glPopMatrix();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(static_cast<GLenum>(matrix_mode));
}

// Quads of a batch, drawn at its end; empty and closed outside a batch.
std::vector<glyph_quad> batch;
bool batch_open = false;

}  // namespace

void drawString(double x0, double y0, double z0, void *fontname, const char *str) {
    glRasterPos3d(x0, y0, z0);
    GLint valid = 0;
    glGetIntegerv(GL_CURRENT_RASTER_POSITION_VALID, &valid);
    if (!valid) return;
    GLfloat raster[4], colour[4];
    glGetFloatv(GL_CURRENT_RASTER_POSITION, raster);
    glGetFloatv(GL_CURRENT_RASTER_COLOR, colour);
    const font_atlas *a = atlas_of(fontname);
    // A batch holds only opaque text, whose pixels do not depend on the blending in force.
    if (a != nullptr && quads_match_bitmaps(colour) && (!batch_open || colour[3] >= 1.0f)) {
        static std::vector<glyph_quad> single;
        std::vector<glyph_quad> &quads = batch_open ? batch : single;
        const int advance = glyph_quads_of(*a, raster, colour, str, quads);
        if (!batch_open) {
            draw_quads(single);
            single.clear();
        }
        // The raster position moves on as the characters would have moved it.
        glBitmap(0, 0, 0.0f, 0.0f, static_cast<float>(advance), 0.0f, nullptr);
        return;
    }
    for (const char *p = str; *p != '\0'; p++) {
        glutBitmapCharacter(fontname, static_cast<unsigned char>(*p));
    }
}

void beginStringBatch() { batch_open = true; }

void endStringBatch() {
    draw_quads(batch);
    batch.clear();
    batch_open = false;
}

// ---- Overlays -----------------------------------------------------------------------------

void drawHelp() {
    static const help_line lines[] = {
        {-168.96, 163.84, 32.0, GLUT_BITMAP_HELVETICA_18, "Kelpmoor"},
        {-168.96, 128.0, 35.0, GLUT_BITMAP_HELVETICA_12, nullptr},  // the copyright notice
        {-140.8, 102.4, 35.0, GLUT_BITMAP_9_BY_15, "c  clear screen"},
        {-140.8, 75.15, 35.0, GLUT_BITMAP_9_BY_15, "z  erase zombie"},
        {-140.8, 47.9, 35.0, GLUT_BITMAP_9_BY_15, "!  toggle graphics/battle mode"},
        {-140.8, 20.65, 35.0, GLUT_BITMAP_9_BY_15, "@  toggle public/private mode"},
        {-140.8, -6.6, 35.0, GLUT_BITMAP_9_BY_15, "p  capture screen"},
        {-140.8, -33.85, 35.0, GLUT_BITMAP_9_BY_15, "3  toggle birds-eye view mode"},
        {-102.4, -61.1, 35.0, GLUT_BITMAP_9_BY_15, "+ - zoom  < > rotate"},
        {-140.8, -88.35, 35.0, GLUT_BITMAP_9_BY_15, "M  toggle maze mode"},
        {-140.8, -115.6, 35.0, GLUT_BITMAP_9_BY_15, "h  help (show this screen)"},
        {-140.8, -142.85, 35.0, GLUT_BITMAP_9_BY_15, "K  kill all turtles"},
        {-140.8, -170.1, 35.0, GLUT_BITMAP_9_BY_15, "Q  exit"},
        {-102.4, -194.56, 35.0, GLUT_BITMAP_9_BY_15, "Press ESC to dismiss this screen"},
    };
    constexpr double half = 204.8;
    constexpr double repeats = 15.0;

    ensure_slot(TEX_STONE);
    glEnable(GL_BLEND);
    glEnable(GL_CULL_FACE);
    glCullFace(GL_BACK);
    set_emission_and_colour(0.3f, 0.3f, 0.3f, 0.9f);
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, obj_textures[TEX_STONE]);
    glColor3d(1.0, 1.0, 1.0);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    glBegin(GL_QUADS);
    glNormal3d(0.0, 0.0, 1.0);
    glTexCoord2d(0.0, 0.0);
    glVertex3d(-half, -half, 30.0);
    glTexCoord2d(repeats, 0.0);
    glVertex3d(half, -half, 30.0);
    glTexCoord2d(repeats, repeats);
    glVertex3d(half, half, 30.0);
    glTexCoord2d(0.0, repeats);
    glVertex3d(-half, half, 30.0);
    glEnd();
    glBindTexture(GL_TEXTURE_2D, 0);
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_CULL_FACE);

    set_emission_and_colour(1.0f, 0.2f, 0.1f, 0.9f);
    for (const help_line &l : lines) {
        drawString(l.x, l.y, l.z, l.font, l.text != nullptr ? l.text : copyright);
    }
    set_emission(0.0f, 0.0f, 0.0f, 1.0f);
    glDisable(GL_BLEND);
}

void drawWarming() {
    constexpr double x = -230.4;
    constexpr double z = 30.0;
    set_emission_and_colour(1.0f, 0.1f, 0.0f, 1.0f);
    drawString(x, 128.0, z, GLUT_BITMAP_HELVETICA_18, "COMMUNICATION ERROR !");
    drawString(x, 102.4, z, GLUT_BITMAP_HELVETICA_12,
               "TCP communication ports cannot be opened because they are already in use.");
    drawString(x, 76.8, z, GLUT_BITMAP_HELVETICA_12,
               "It seems another Kelpmoor is running on this computer.");
    drawString(x, 51.2, z, GLUT_BITMAP_HELVETICA_12,
               "Quit this program by pressing Q and check the running programs in background.");
    set_emission(0.0f, 0.0f, 0.0f, 1.0f);
}

// ---- Circles ------------------------------------------------------------------------------

void fillOval(double x0, double y0, double /*z0*/, double rx, double ry) { fan(x0, y0, rx, ry); }

void drawOval(double x0, double y0, double z0, double r1, double r2) { loop(x0, y0, z0, r1, r2); }

void fillCircle(double x0, double y0, double /*z0*/, double radius) {
    fan(x0, y0, radius, radius);
}

void drawCircle(double x0, double y0, double z0, double radius) {
    loop(x0, y0, z0, radius, radius);
}

// ---- Image files --------------------------------------------------------------------------

capture_texts make_capture_texts() {
    capture_texts t{};
    const char *user = std::getenv("USER");
    std::snprintf(t.author.data(), t.author.size(), "%s", user != nullptr ? user : "unknown");

    // gethostname may leave a cut name unterminated: the buffer has a spare zero at its end.
    std::array<char, 257> host{};
    if (gethostname(host.data(), host.size() - 1) != 0) host[0] = '\0';
    std::snprintf(t.source.data(), t.source.size(), "%s", host.data());

    const std::time_t now = std::time(nullptr);
    char when[64] = "";
    if (ctime_r(&now, when) == nullptr) when[0] = '\0';
    when[std::strcspn(when, "\n")] = '\0';
    std::snprintf(t.description.data(), t.description.size(), "%s", when);
    return t;
}

void saveImageToPNG(int width, int height, const char *filename) {
    if (width <= 0 || height <= 0) return;
    const std::size_t row_bytes = static_cast<std::size_t>(width) * 3;
    const std::size_t nbytes = static_cast<std::size_t>(width) * 4 * height;
    std::unique_ptr<unsigned char[]> pixels(new (std::nothrow) unsigned char[nbytes]);
    std::unique_ptr<unsigned char[]> rows_data(
        new (std::nothrow) unsigned char[row_bytes * height]);
    std::unique_ptr<png_bytep[]> rows(new (std::nothrow) png_bytep[height]);
    if (!pixels || !rows_data || !rows) {
        std::fprintf(stderr, "saveImageToPNG: cannot allocate the image buffers\n");
        return;
    }

    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadBuffer(GL_BACK);
    glReadPixels(0, 0, width, height, GL_RGB, GL_UNSIGNED_BYTE, pixels.get());
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    for (int j = 0; j < height; j++) {
        rows[j] = rows_data.get() + row_bytes * j;
        std::memcpy(rows[j], pixels.get() + row_bytes * (height - 1 - j), row_bytes);
    }

    FILE *fp = std::fopen(filename, "wb");
    if (fp == nullptr) {
        std::fprintf(stderr, "saveImageToPNG: cannot open file:%s\n", filename);
        return;
    }
    png_structp png_ptr = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr,
                                                  nullptr);
    if (png_ptr == nullptr) {
        std::fprintf(stderr, "saveImageToPNG: cannot create png_ptr\n");
        std::fclose(fp);
        return;
    }
    png_infop info_ptr = png_create_info_struct(png_ptr);
    if (info_ptr == nullptr) {
        std::fprintf(stderr, "saveImageToPNG: cannot create info_ptr\n");
        png_destroy_write_struct(&png_ptr, nullptr);
        std::fclose(fp);
        return;
    }

    capture_texts t = make_capture_texts();
    std::string software = CAPTURE_SOFTWARE;
    char k_author[] = "Author", k_software[] = "Software", k_source[] = "Source",
         k_description[] = "Description";
    std::array<png_text, 4> text{};
    const std::array<std::pair<char *, char *>, 4> entries = {{
        {k_author, t.author.data()},
        {k_software, software.data()},
        {k_source, t.source.data()},
        {k_description, t.description.data()},
    }};
    for (std::size_t i = 0; i < text.size(); i++) {
        text[i].compression = PNG_TEXT_COMPRESSION_zTXt;
        text[i].key = entries[i].first;
        text[i].text = entries[i].second;
        text[i].text_length = std::strlen(entries[i].second);
    }
    png_set_text(png_ptr, info_ptr, text.data(), static_cast<int>(text.size()));

    png_init_io(png_ptr, fp);
    png_set_IHDR(png_ptr, info_ptr, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png_ptr, info_ptr);
    png_write_image(png_ptr, rows.get());
    png_write_end(png_ptr, info_ptr);
    png_destroy_write_struct(&png_ptr, &info_ptr);
    std::fclose(fp);
}

unsigned char *readPPMToImage(const char *filename, int *w, int *h) {
    FILE *fp = std::fopen(filename, "rb");
    if (fp == nullptr) {
        std::fprintf(stderr, "cannot open file:%s\n", filename);
        return nullptr;
    }
    std::unique_ptr<FILE, int (*)(FILE *)> file(fp, std::fclose);
    char line[256];
    if (std::fgets(line, sizeof line, fp) == nullptr || std::strncmp(line, "P6", 2) != 0) {
        return nullptr;
    }
    do {
        if (std::fgets(line, sizeof line, fp) == nullptr) return nullptr;
    } while (line[0] == '#');
    int width = 0, height = 0, maxval = 0;
    if (std::sscanf(line, "%d %d", &width, &height) != 2) return nullptr;
    if (std::fgets(line, sizeof line, fp) == nullptr || std::sscanf(line, "%d", &maxval) != 1) {
        return nullptr;
    }
    // 16384 pixels a side is far beyond any picture this program reads and keeps the size
    // computations below overflow-free.
    constexpr int max_side = 16384;
    if (width <= 0 || height <= 0 || width > max_side || height > max_side) return nullptr;

    *w = width;
    *h = height;
    std::printf("reading:%s width:%d height %d max:%d\n", filename, width, height, maxval);
    std::fflush(stdout);

    const std::size_t npix = static_cast<std::size_t>(width) * height;
    auto *image = static_cast<unsigned char *>(std::malloc(npix * 4));
    if (image == nullptr) {
        std::fprintf(stderr, "readPPMToImage: cannot allocate %zu bytes\n", npix * 4);
        return nullptr;
    }
    for (std::size_t k = 0; k < npix; k++) {
        unsigned char rgb[3];
        if (std::fread(rgb, 1, 3, fp) != 3) {
            std::free(image);
            return nullptr;
        }
        std::memcpy(image + (npix - 1 - k) * 3, rgb, 3);
    }
    return image;
}
