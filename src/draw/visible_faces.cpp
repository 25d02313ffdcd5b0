// visible_faces.cpp: window coordinates of a mesh's vertices and the faces that can draw.
#include "draw/visible_faces.h"

#include <GL/gl.h>

#include <algorithm>
#include <cmath>

namespace {

// Window positions are computed here in double precision and by the renderer in single
// precision and then snapped to a 256th of a pixel; a margin of a 64th of a pixel is far wider
// than the two can differ by.
inline constexpr double MARGIN_PX = 1.0 / 64.0;
// Vertices this close to the eye plane, or behind it, leave the decision to the renderer.
inline constexpr double MIN_W = 1e-6;

struct window_point {
    double x, y;
    bool sure;  // in front of the eye and inside the view volume
};

// Added before truncating, so that it rounds down: every coordinate of a sure vertex lies
// above -1 (the viewport does not start left of or below the window's corner).
inline constexpr double POSITIVE = 16.0;

// True when the closed interval [lo, hi] contains a pixel centre (an integer plus a half).
bool holds_centre(double lo, double hi) {
    const double below = static_cast<double>(static_cast<long>(lo - 0.5 + POSITIVE)) - POSITIVE;
    const double lowest = below + (below + 0.5 >= lo ? 0.5 : 1.5);  // the first >= lo
    return lowest <= hi;
}

}  // namespace

window_transform current_window_transform() {
    window_transform t;
    GLdouble mv[16], p[16];
    GLint viewport[4];
    glGetDoublev(GL_MODELVIEW_MATRIX, mv);
    glGetDoublev(GL_PROJECTION_MATRIX, p);
    glGetIntegerv(GL_VIEWPORT, viewport);
    for (int c = 0; c < 4; c++) {
        for (int r = 0; r < 4; r++) {
            double sum = 0.0;
            for (int k = 0; k < 4; k++) sum += p[k * 4 + r] * mv[c * 4 + k];
            t.m[c * 4 + r] = sum;
        }
    }
    t.x = viewport[0];
    t.y = viewport[1];
    t.width = viewport[2];
    t.height = viewport[3];
    GLint front = GL_CCW;
    glGetIntegerv(GL_FRONT_FACE, &front);
    t.usable = front == GL_CCW && t.x >= 0 && t.y >= 0 && t.width > 0 && t.height > 0 &&
               std::all_of(t.m.begin(), t.m.end(), [](double v) { return std::isfinite(v); });
    return t;
}

void select_visible_faces(const std::vector<mesh_vertex> &vertices,
                          const std::vector<uint16_t> &indices, const window_transform &t,
                          std::vector<uint16_t> &out) {
    out.clear();
    if (!t.usable) {
        out = indices;
        return;
    }
    static std::vector<window_point> at;
    at.resize(vertices.size());
    const auto &m = t.m;
    const double half_w = 0.5 * t.width, half_h = 0.5 * t.height;
    for (std::size_t i = 0; i < vertices.size(); i++) {
        const double vx = vertices[i].x, vy = vertices[i].y, vz = vertices[i].z;
        const double cx = m[0] * vx + m[4] * vy + m[8] * vz + m[12];
        const double cy = m[1] * vx + m[5] * vy + m[9] * vz + m[13];
        const double cz = m[2] * vx + m[6] * vy + m[10] * vz + m[14];
        const double cw = m[3] * vx + m[7] * vy + m[11] * vz + m[15];
        // Only a vertex well inside the view volume has a window position the renderer agrees
        // with; a face with any other vertex may be clipped into new ones.
        const bool sure =
            cw > MIN_W && std::fabs(cx) < cw && std::fabs(cy) < cw && std::fabs(cz) < cw;
        // A vertex that is not sure gets the window's corner: its faces are kept whatever the
        // tests below make of it, and a position that overflowed never reaches them.
        const double inv = sure ? 1.0 / cw : 0.0;
        at[i] = sure ? window_point{half_w + (cx * inv) * half_w + t.x,
                                    half_h + (cy * inv) * half_h + t.y, true}
                     : window_point{t.x, t.y, false};
    }
    // Every face is written and the end moves past the kept ones only: no branch to mispredict
    // on faces that are kept or left out at random.
    out.resize(indices.size());
    uint16_t *next = out.data();
    for (std::size_t f = 0; f + 2 < indices.size(); f += 3) {
        const window_point &a = at[indices[f]], &b = at[indices[f + 1]], &c = at[indices[f + 2]];
        // Counter-clockwise in the window is the front; a face clearly turned away is culled by
        // the renderer anyway.
        const double twice_area = (b.x - a.x) * (c.y - a.y) - (c.x - a.x) * (b.y - a.y);
        const double x0 = std::min(std::min(a.x, b.x), c.x) - MARGIN_PX;
        const double x1 = std::max(std::max(a.x, b.x), c.x) + MARGIN_PX;
        const double y0 = std::min(std::min(a.y, b.y), c.y) - MARGIN_PX;
        const double y1 = std::max(std::max(a.y, b.y), c.y) + MARGIN_PX;
        // Bitwise on purpose: no branch per face in this loop.
        const bool draws =
            (static_cast<int>(twice_area >= -MARGIN_PX) & static_cast<int>(holds_centre(x0, x1)) &
             static_cast<int>(holds_centre(y0, y1))) != 0;
        const bool keep = !(a.sure & b.sure & c.sure) | draws;
        next[0] = indices[f];
        next[1] = indices[f + 1];
        next[2] = indices[f + 2];
        next += 3 * static_cast<int>(keep);
    }
    out.resize(static_cast<std::size_t>(next - out.data()));
}
