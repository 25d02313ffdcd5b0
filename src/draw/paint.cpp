// paint.cpp: draws the painter's decisions into the back buffer under the frame's flat
// -256..256 projection: lines, points, filled polygons, brush dabs and printed text.
// Colours are the front material's emission, so the light never tints paint.
#include <GL/freeglut.h>

#include <cmath>

#include "draw/font.h"
#include "draw/material.h"
#include "draw/paint.h"
#include "draw/textures.h"

namespace {

// GL refuses widths and point sizes that are not positive; such a pen draws one pixel wide,
// as any width below one does.
GLfloat gl_pen_size(double w) {
    return std::isfinite(w) && w > 0.0 ? static_cast<GLfloat>(w) : 1.0f;
}

void draw_pen_shape(const pen_shape &shape) {
    GLenum mode = GL_LINES;
    switch (shape.kind) {
    case pen_kind::none: return;
    case pen_kind::fill: mode = GL_POLYGON; break;
    case pen_kind::point:
        mode = GL_POINTS;
        glPointSize(gl_pen_size(shape.size));
        break;
    case pen_kind::line:
        mode = GL_LINES;
        glLineWidth(gl_pen_size(shape.size));
        break;
    }
    if (shape.nvertex == 0) {
        return;
    }
    glBegin(mode);
    for (int i = 0; i < shape.nvertex; ++i) {
        const pen_vertex &v = shape.vertex[i];
        set_emission(static_cast<float>(v.r), static_cast<float>(v.g), static_cast<float>(v.b),
                     1.0f);
        glVertex2d(v.x, v.y);
    }
    glEnd();
}

}  // namespace

void draw_paint_report(const paint_report &rep) {
    if (!rep.alive) {
        return;
    }
    set_material(GL_FRONT, GL_AMBIENT_AND_DIFFUSE, 0.0f, 0.0f, 0.0f, 0.0f);
    draw_pen_shape(rep.pen);
    if (rep.brush != brush_work::none) {
        paint_by_brush(rep.stroke, rep.brush == brush_work::close ? 1 : 0, paint_Ten);
    }
    if (rep.text) {
        set_emission(static_cast<float>(rep.msg_col.r), static_cast<float>(rep.msg_col.g),
                     static_cast<float>(rep.msg_col.b), 1.0f);
        drawString(rep.msg_pos.x, rep.msg_pos.y, 0.0, GLUT_BITMAP_HELVETICA_12, rep.msg);
    }
    set_emission(0.0f, 0.0f, 0.0f, 0.0f);
}
