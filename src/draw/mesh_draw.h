// mesh_draw.h: one draw call for a closed mesh: its back faces culled (hidden anyway), and the
// faces that cannot colour a pixel not even handed over (visible_faces.h). Main thread, with
// the window's GL context current.
#pragma once

#include <GL/gl.h>

#include <vector>

#include "draw/turtle_mesh.h"
#include "draw/visible_faces.h"

inline void draw_closed_mesh(const std::vector<mesh_vertex> &vertices,
                             const std::vector<uint16_t> &indices) {
    static std::vector<uint16_t> faces;
    select_visible_faces(vertices, indices, current_window_transform(), faces);
    glEnable(GL_CULL_FACE);
    glCullFace(GL_BACK);
    glInterleavedArrays(GL_N3F_V3F, 0, vertices.data());
    glDrawElements(GL_TRIANGLES, static_cast<GLsizei>(faces.size()), GL_UNSIGNED_SHORT,
                   faces.data());
    glDisableClientState(GL_VERTEX_ARRAY);
    glDisableClientState(GL_NORMAL_ARRAY);
    glDisable(GL_CULL_FACE);
}
