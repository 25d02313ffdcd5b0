// material.h: the one helper through which drawing code sets a material colour. Main thread,
// with the window's GL context current.
#pragma once

#include <GL/gl.h>

// The material property what (GL_EMISSION, GL_AMBIENT_AND_DIFFUSE...) of face, as (r, g, b, a).
inline void set_material(GLenum face, GLenum what, float r, float g, float b, float a) {
    const GLfloat c[] = {r, g, b, a};
    glMaterialfv(face, what, c);
}

// The front emission: the colour of lines, text and paint, which the light leaves alone.
inline void set_emission(float r, float g, float b, float a) {
    set_material(GL_FRONT, GL_EMISSION, r, g, b, a);
}
