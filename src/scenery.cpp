// scenery.cpp: the key of the floor, walls and coins, and their off-screen copy.
#include "scenery.h"

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

// The copy lives upside down: both blits flip, which leaves the picture the right way up and,
// in a software renderer whose window rows run the other way from an off-screen buffer's,
// lets both copies be plain memory copies (a tenth of drawing a full-window quad).
struct cache_buffers {
    bool tried = false;
    bool usable = false;
    GLuint fbo = 0, colour = 0, depth = 0;
};

cache_buffers buffers;
long restores = 0;

// Errors left by earlier calls, so that the next check sees only its own.
void clear_gl_errors() {
    for (int i = 0; i < 32 && glGetError() != GL_NO_ERROR; i++) {
    }
}

// The off-screen buffer, with the window's depth format (a depth blit needs equal formats).
void create_buffers() {
    buffers.tried = true;
    GLint depth_bits = 0;
    glGetIntegerv(GL_DEPTH_BITS, &depth_bits);
    GLenum depth_format = 0;
    switch (depth_bits) {
        case 16: depth_format = GL_DEPTH_COMPONENT16; break;
        case 24: depth_format = GL_DEPTH_COMPONENT24; break;
        case 32: depth_format = GL_DEPTH_COMPONENT32; break;
        default: return;
    }
    clear_gl_errors();
    // Colour as the window's byte order (blue, green, red, alpha): given that order, the
    // software renderer picks the window's own pixel format and copies rows as they are.
    glGenTextures(1, &buffers.colour);
    glBindTexture(GL_TEXTURE_2D, buffers.colour);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, WINDOW_SIZE, WINDOW_SIZE, 0, GL_BGRA,
                 GL_UNSIGNED_BYTE, nullptr);
    glBindTexture(GL_TEXTURE_2D, 0);
    glGenRenderbuffers(1, &buffers.depth);
    glBindRenderbuffer(GL_RENDERBUFFER, buffers.depth);
    glRenderbufferStorage(GL_RENDERBUFFER, depth_format, WINDOW_SIZE, WINDOW_SIZE);
    glBindRenderbuffer(GL_RENDERBUFFER, 0);
    glGenFramebuffers(1, &buffers.fbo);
    glBindFramebuffer(GL_FRAMEBUFFER, buffers.fbo);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, buffers.colour,
                           0);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, buffers.depth);
    buffers.usable = glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE &&
                     glGetError() == GL_NO_ERROR;
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
}

// One flipped blit of colour and depth; false (and the cache given up) on a GL error.
bool blit(GLuint from, GLuint to) {
    clear_gl_errors();
    glBindFramebuffer(GL_READ_FRAMEBUFFER, from);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, to);
    if (from == 0) glReadBuffer(GL_BACK);
    glBlitFramebuffer(0, 0, WINDOW_SIZE, WINDOW_SIZE, 0, WINDOW_SIZE, WINDOW_SIZE, 0,
                      GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT, GL_NEAREST);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    if (glGetError() == GL_NO_ERROR) return true;
    std::fprintf(stderr, "scenery copy failed: drawing the scenery every frame\n");
    buffers.usable = false;
    return false;
}

}  // namespace

bool scenery_cache_store() {
    if (!buffers.tried) create_buffers();
    return buffers.usable && blit(0, buffers.fbo);
}

bool scenery_cache_restore() {
    if (!buffers.usable || !blit(buffers.fbo, 0)) return false;
    restores++;
    return true;
}

long scenery_restore_count() { return restores; }
