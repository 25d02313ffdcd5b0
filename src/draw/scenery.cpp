// scenery.cpp: the key of the floor, walls and coins, and the off-screen copies of the window:
// the scenery's and the paint layer's.
#include "draw/scenery.h"

// Off-screen buffers and blits are core functions beyond the 1.x headers.
#define GL_GLEXT_PROTOTYPES 1
#include <GL/freeglut.h>

#include <algorithm>
#include <cstdio>

bool scenery_key::operator==(const scenery_key &o) const {
    return paint_generation == o.paint_generation && bird_view_mode == o.bird_view_mode &&
           battle_mode == o.battle_mode && view_fov_angle == o.view_fov_angle &&
           view_rotation_angle == o.view_rotation_angle && nwall == o.nwall && ncoin == o.ncoin &&
           std::equal(walls.begin(), walls.begin() + nwall, o.walls.begin()) &&
           std::equal(coins.begin(), coins.begin() + ncoin, o.coins.begin());
}

void read_scenery_key(scenery_key &key, uint64_t paint_generation) {
    key.paint_generation = paint_generation;
    key.bird_view_mode = bird_view_mode;
    key.battle_mode = battle_mode;
    key.view_fov_angle = view_fov_angle;
    key.view_rotation_angle = view_rotation_angle;
    // Walls are drawn only in battle mode, so outside it their records do not count.
    key.nwall = battle_mode ? std::clamp(nwall, 0, NWALL) : 0;
    for (int i = 0; i < key.nwall; i++) {
        key.walls[i] = {walls[i].startp, walls[i].endp, walls[i].normal, walls[i].status};
    }
    key.ncoin = std::clamp(ncoin, 0, NCOIN);
    for (int i = 0; i < key.ncoin; i++) {
        key.coins[i] = {coins[i].pos, coins[i].order, coins[i].status};
    }
}

namespace {

// Copies of the window live upside down: every blit to or from them flips, which leaves the
// picture the right way up and, in a software renderer whose window rows run the other way
// from an off-screen buffer's, lets the copies be plain memory copies instead of drawing a
// full-window quad. Colour is kept in the window's byte order (blue, green, red, alpha) for
// the same reason: given that order, the renderer picks the window's own pixel format.
struct window_copy {
    const char *what;    // for the message when a copy fails
    GLbitfield buffers;  // colour, and for the scenery depth
    bool tried = false;
    bool usable = false;
    gl_framebuffer fbo{};
    gl_renderbuffer depth{};  // when the copy keeps depths
};

window_copy scenery{"scenery copy failed: drawing the scenery every frame",
                    GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT};
window_copy paint_layer{"paint layer copy failed: drawing and reading it instead",
                        GL_COLOR_BUFFER_BIT};
window_copy hidden_target{"off-screen frame failed: drawing hidden frames into the window",
                          GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT};
gl_texture scenery_colour, hidden_colour;
GLuint frame_fbo = 0;  // where the frame draws: 0 the window, or hidden_target's buffer
long restores = 0;

// Errors left by earlier calls, so that the next check sees only its own.
void clear_gl_errors() {
    for (int i = 0; i < 32 && glGetError() != GL_NO_ERROR; i++) {
    }
}

// The window's depth format as a renderbuffer format (a depth blit needs equal formats).
GLenum window_depth_format() {
    GLint depth_bits = 0;
    glGetIntegerv(GL_DEPTH_BITS, &depth_bits);
    switch (depth_bits) {
    case 16: return GL_DEPTH_COMPONENT16;
    case 24: return GL_DEPTH_COMPONENT24;
    case 32: return GL_DEPTH_COMPONENT32;
    default: return 0;
    }
}

// The off-screen buffer of a copy around a colour texture of the window's size, with a depth
// buffer of the window's format when the copy keeps depths.
void create_copy(window_copy &c, const gl_texture &colour) {
    c.tried = true;
    const GLenum depth_format = window_depth_format();
    const bool with_depth = (c.buffers & GL_DEPTH_BUFFER_BIT) != 0;
    if (colour.get() == 0 || (with_depth && depth_format == 0)) return;
    clear_gl_errors();
    c.fbo = gl_framebuffer::generate();
    glBindFramebuffer(GL_FRAMEBUFFER, c.fbo.get());
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, colour.get(), 0);
    if (with_depth) {
        c.depth = gl_renderbuffer::generate();
        glBindRenderbuffer(GL_RENDERBUFFER, c.depth.get());
        glRenderbufferStorage(GL_RENDERBUFFER, depth_format, WINDOW_SIZE, WINDOW_SIZE);
        glBindRenderbuffer(GL_RENDERBUFFER, 0);
        glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER,
                                  c.depth.get());
    }
    c.usable = glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE &&
               glGetError() == GL_NO_ERROR;
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
}

// One flipped blit between the back buffer and a copy; false (and the copy given up) on a GL
// error.
bool blit(window_copy &c, bool to_window) {
    if (!c.usable) return false;
    clear_gl_errors();
    glBindFramebuffer(GL_READ_FRAMEBUFFER, to_window ? c.fbo.get() : frame_fbo);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, to_window ? frame_fbo : c.fbo.get());
    if (!to_window && frame_fbo == 0) glReadBuffer(GL_BACK);
    glBlitFramebuffer(0, 0, WINDOW_SIZE, WINDOW_SIZE, 0, WINDOW_SIZE, WINDOW_SIZE, 0, c.buffers,
                      GL_NEAREST);
    glBindFramebuffer(GL_FRAMEBUFFER, frame_fbo);
    if (glGetError() == GL_NO_ERROR) return true;
    std::fprintf(stderr, "%s\n", c.what);
    c.usable = false;
    return false;
}

}  // namespace

gl_texture make_window_copy_texture(const unsigned char *pixels) {
    return make_texture(GL_RGBA, WINDOW_SIZE, WINDOW_SIZE, GL_BGRA, pixels);
}

bool scenery_cache_store() {
    if (!scenery.tried) {
        scenery_colour = make_window_copy_texture(nullptr);
        create_copy(scenery, scenery_colour);
    }
    return blit(scenery, false);
}

bool scenery_cache_restore() {
    if (!blit(scenery, true)) return false;
    restores++;
    return true;
}

long scenery_restore_count() { return restores; }

bool paint_layer_take() {
    if (!paint_layer.tried) create_copy(paint_layer, bg_textures);
    return blit(paint_layer, false);
}

bool paint_layer_put_back() { return blit(paint_layer, true); }

bool hidden_frame_begin() {
    if (!hidden_target.tried) {
        hidden_colour = make_window_copy_texture(nullptr);
        create_copy(hidden_target, hidden_colour);
        if (!hidden_target.usable) std::fprintf(stderr, "%s\n", hidden_target.what);
    }
    if (!hidden_target.usable) return false;
    frame_fbo = hidden_target.fbo.get();
    glBindFramebuffer(GL_FRAMEBUFFER, frame_fbo);
    return true;
}

void hidden_frame_end() {
    frame_fbo = 0;
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
}
