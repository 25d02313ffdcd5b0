// visible_faces.h: the triangles of a mesh that can colour a pixel, chosen on the processor
// before drawing. The software renderer pays for the setup of every front-facing triangle it
// is handed, and the turtles' legs and heads and the bullets lie a few pixels across on the
// field, so most of their faces cover no pixel centre and draw nothing. Leaving out only faces
// that certainly draw nothing (seen from behind, or with no pixel centre within reach) keeps
// every picture the same.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "draw/turtle_mesh.h"

// Object coordinates to window pixels: the projection times the modelview (column-major, as
// GL keeps them) and the viewport. usable is false when the transform is not one this
// selection understands; every face is then kept.
struct window_transform {
    std::array<double, 16> m{};
    double x = 0.0, y = 0.0, width = 0.0, height = 0.0;
    bool usable = false;
};

// The current GL matrices and viewport. Main thread, with the window's GL context current.
window_transform current_window_transform();

// Fills out with the triangles of indices over vertices, in their order, that may produce a
// fragment under t with back faces culled. Faces the decision is unsure of are kept.
void select_visible_faces(const std::vector<mesh_vertex> &vertices,
                          const std::vector<uint16_t> &indices, const window_transform &t,
                          std::vector<uint16_t> &out);
