// walls.cpp: the walls of battle mode: stone faces and their caps, in one batch each.
#include "draw/walls.h"

#include <GL/gl.h>

#include <cmath>

#include "draw/material.h"
#include "draw/textures.h"
#include "world/world.h"

namespace {

inline constexpr double WALL_TEX_REPEAT = 1.0 / 32.0;  // texture repeats per field unit
// Share of the stone pattern's height a face shows: one repeat per 32 units, as along it.
inline constexpr double WALL_TEX_TOP = WALL_HEIGHT * WALL_TEX_REPEAT;

// A stone-textured face from the floor to WALL_HEIGHT along (x0, y0) -> (x1, y1), seen from the
// side the unit normal (nx, ny) points to; lit and tinted by the current material. Only
// between begin_textured_quads(TEX_STONE, GL_MODULATE) and end_textured_quads().
void draw_wall_face(double x0, double y0, double x1, double y1, double nx, double ny) {
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

// A record's cap: its six corners, a convex hexagon, as the long middle in two triangles and a
// small one at each end. A fan from one corner would lay four long slivers over the same
// pixels, and the renderer's cost grows with the slivers, not the pixels. Only inside
// glBegin(GL_TRIANGLES).
void draw_wall_cap(const scenery_key::wall_view &w) {
    const position s = w.s, e = w.e, n = w.n;
    const position p[6] = {{s.x - n.y, s.y + n.x},
                           {s.x + n.x, s.y + n.y},
                           {e.x + n.x, e.y + n.y},
                           {e.x + n.y, e.y - n.x},
                           {e.x - 2.0 * n.x, e.y - 2.0 * n.y},
                           {s.x - 2.0 * n.x, s.y - 2.0 * n.y}};
    static constexpr int cap_triangles[4][3] = {{0, 1, 5}, {1, 2, 4}, {1, 4, 5}, {2, 3, 4}};
    for (const auto &tri : cap_triangles) {
        for (int k : tri) glVertex3d(p[k].x, p[k].y, WALL_HEIGHT);
    }
}

void set_wall_material() {
    set_emission(0.0f, 0.0f, 0.0f, 0.0f);
    set_material(GL_FRONT_AND_BACK, GL_DIFFUSE, 0.5f, 0.5f, 0.3f, 1.0f);
    set_material(GL_FRONT_AND_BACK, GL_AMBIENT, 0.45f, 0.45f, 0.27f, 1.0f);
}

}  // namespace

void draw_walls(const scenery_key &key) {
    set_wall_material();
    if (key.nwall == 0) return;
    // Faces first, then the caps: one batch each instead of two state changes per record.
    begin_textured_quads(TEX_STONE, GL_MODULATE);
    for (int i = 0; i < key.nwall; i++) {
        const position s = key.walls[i].s, e = key.walls[i].e, n = key.walls[i].n;
        draw_wall_face(s.x + n.x, s.y + n.y, e.x + n.x, e.y + n.y, n.x, n.y);
    }
    end_textured_quads();
    glBegin(GL_TRIANGLES);
    glNormal3d(0.0, 0.0, 1.0);
    for (int i = 0; i < key.nwall; i++) {
        if (!(key.walls[i].status & WALL_BACK_FACE)) draw_wall_cap(key.walls[i]);
    }
    glEnd();
}
