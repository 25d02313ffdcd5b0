// font.cpp: bitmap text: each font's glyph atlas, built once from the toolkit's own bitmaps,
// and text drawn from it as textured quads, alone or in batches.
#include "draw/font.h"

#include "draw/gl_objects.h"

// Off-screen buffers for the glyph atlas are core functions beyond the 1.x headers.
#define GL_GLEXT_PROTOTYPES 1
#include <GL/freeglut.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

namespace {

// Bitmaps are slow in a software renderer, so each font's characters are drawn once with the
// toolkit's own bitmap call into an off-screen buffer and read back into an alpha texture; a
// text is then drawn as one textured quad per character on the very pixels the bitmaps would
// cover. Unusual caller states that the quads cannot reproduce use the toolkit's call.
inline constexpr int GLYPH_CELL = 48;     // atlas pixels per character cell and side
inline constexpr int GLYPH_ORIGIN = 12;   // raster position inside its cell, from the lower left
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
    gl_texture texture;  // empty when the atlas could not be made
    std::array<glyph, NGLYPH> glyphs{};
};

// Every character of the font drawn by the toolkit at the origin of its cell, read back as
// one byte per pixel (non-zero where a bit was set). False when no off-screen buffer exists.
bool render_glyph_cells(void *font, std::vector<unsigned char> &pixels) {
    GLint previous_fbo = 0;
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &previous_fbo);
    const gl_texture colour = make_texture(GL_RGBA8, ATLAS_SIZE, ATLAS_SIZE, GL_RGBA, nullptr);
    const gl_framebuffer fbo = gl_framebuffer::generate();
    glBindFramebuffer(GL_FRAMEBUFFER, fbo.get());
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, colour.get(), 0);
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
        g = {cx + x0,           cy + y0,           x1 - x0 + 1, y1 - y0 + 1,
             x0 - GLYPH_ORIGIN, y0 - GLYPH_ORIGIN, g.advance};
    }
    return true;
}

void build_atlas(font_atlas &a) {
    a.built = true;
    std::vector<unsigned char> pixels;
    if (!render_glyph_cells(a.font, pixels) || !measure_glyphs(a.font, pixels, a)) return;
    for (unsigned char &p : pixels) p = p != 0 ? 255 : 0;
    a.texture = make_texture(GL_ALPHA8, ATLAS_SIZE, ATLAS_SIZE, GL_ALPHA, pixels.data(), true);
}

// The atlas of one of the toolkit's fonts, built on first use; nullptr when there is none.
const font_atlas *atlas_of(void *fontname) {
    static std::array<font_atlas, 3> atlases{};
    for (font_atlas &a : atlases) {
        if (a.font == nullptr) a.font = fontname;
        if (a.font != fontname) continue;
        if (!a.built) build_atlas(a);
        return a.texture.get() != 0 ? &a : nullptr;
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
            glyph_quad q{a.texture.get(),
                         {colour[0], colour[1], colour[2], colour[3]},
                         0,
                         0,
                         0,
                         0,
                         raster[2],
                         g.x * texel,
                         g.y * texel,
                         (g.x + g.w) * texel,
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
