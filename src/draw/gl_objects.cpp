// gl_objects.cpp: creating and deleting GL names, and making textures.
#include "draw/gl_objects.h"

// Off-screen buffers are core functions beyond the 1.x headers.
#define GL_GLEXT_PROTOTYPES 1
#include <GL/gl.h>
#include <GL/glext.h>

unsigned int gl_generate(gl_kind kind) {
    GLuint name = 0;
    switch (kind) {
    case gl_kind::texture: glGenTextures(1, &name); break;
    case gl_kind::framebuffer: glGenFramebuffers(1, &name); break;
    case gl_kind::renderbuffer: glGenRenderbuffers(1, &name); break;
    }
    return name;
}

void gl_delete(gl_kind kind, unsigned int name) {
    if (name == 0) return;
    switch (kind) {
    case gl_kind::texture: glDeleteTextures(1, &name); break;
    case gl_kind::framebuffer: glDeleteFramebuffers(1, &name); break;
    case gl_kind::renderbuffer: glDeleteRenderbuffers(1, &name); break;
    }
}

gl_texture make_texture(int internal_format, int width, int height, unsigned int format,
                        const void *pixels, bool clamp) {
    gl_texture t = gl_texture::generate();
    glBindTexture(GL_TEXTURE_2D, t.get());
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    if (clamp) {
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    }
    glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexImage2D(GL_TEXTURE_2D, 0, internal_format, width, height, 0, format, GL_UNSIGNED_BYTE,
                 pixels);
    glPopClientAttrib();
    glBindTexture(GL_TEXTURE_2D, 0);
    return t;
}
