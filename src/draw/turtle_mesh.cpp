// turtle_mesh.cpp: the turtle model built from rings of vertices (spheres and a cone with the
// slices and stacks of the model table), then welded.
#include "draw/turtle_mesh.h"

#include <algorithm>
#include <cmath>

#include "world/geometry.h"

namespace {

inline constexpr double HEAD_X = 11.5;
inline constexpr double LEG_Y = 8.0;
inline constexpr double LEG_Z = -2.0;

// Appends a quad grid of rings: ring r has slices + 1 vertices from point(r, j), normals from
// normal(r, j). Faces are counter-clockwise seen from outside when rings run from the top down.
template <typename P, typename N>
void add_rings(solid_mesh &m, int rings, int slices, P point, N normal) {
    const std::size_t base = m.vertices.size();
    for (int r = 0; r <= rings; r++) {
        for (int j = 0; j <= slices; j++) {
            const auto p = point(r, j);
            const auto n = normal(r, j);
            m.vertices.push_back({static_cast<float>(n[0]), static_cast<float>(n[1]),
                                  static_cast<float>(n[2]), static_cast<float>(p[0]),
                                  static_cast<float>(p[1]), static_cast<float>(p[2])});
        }
    }
    for (int r = 0; r < rings; r++) {
        for (int j = 0; j < slices; j++) {
            const auto at = [&](int rr, int jj) {
                return static_cast<uint16_t>(base + rr * (slices + 1) + jj);
            };
            const uint16_t a = at(r, j), b = at(r + 1, j), c = at(r + 1, j + 1), d = at(r, j + 1);
            m.indices.insert(m.indices.end(), {a, b, c, a, c, d});
        }
    }
}

// A sphere of the given radius centred at (cx, cy, cz), scaled by (sx, sy, sz).
void add_sphere(solid_mesh &m, double radius, int slices, int stacks, double cx, double cy,
                double cz, double sx = 1.0, double sy = 1.0, double sz = 1.0) {
    const auto unit = [=](int r, int j) {
        const double phi = PI * r / stacks, theta = 2.0 * PI * j / slices;
        return std::array<double, 3>{std::sin(phi) * std::cos(theta),
                                     std::sin(phi) * std::sin(theta), std::cos(phi)};
    };
    add_rings(
        m, stacks, slices,
        [=](int r, int j) {
            const auto u = unit(r, j);
            return std::array<double, 3>{cx + radius * sx * u[0], cy + radius * sy * u[1],
                                         cz + radius * sz * u[2]};
        },
        [=](int r, int j) {
            const auto u = unit(r, j);
            const double n[3] = {u[0] / sx, u[1] / sy, u[2] / sz};
            const double l = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
            return std::array<double, 3>{n[0] / l, n[1] / l, n[2] / l};
        });
}

// A cone with its base at x = base_x, pointing backwards (-x) for length height; closed by its
// base disc.
void add_tail(solid_mesh &m, double radius, double height, int slices, int stacks, double base_x) {
    const double slant = std::hypot(radius, height);
    // Rings from the tip down to the base; around the axis, counter-clockwise seen from the tip.
    add_rings(
        m, stacks, slices,
        [=](int r, int j) {
            const double along = height * (stacks - r) / stacks;  // from the base
            const double rad = radius * r / stacks;
            const double theta = 2.0 * PI * j / slices;
            return std::array<double, 3>{base_x - along, rad * std::sin(theta),
                                         rad * std::cos(theta)};
        },
        [=](int /*r*/, int j) {
            const double theta = 2.0 * PI * j / slices;
            return std::array<double, 3>{-radius / slant, height / slant * std::sin(theta),
                                         height / slant * std::cos(theta)};
        });
    const std::size_t centre = m.vertices.size();
    m.vertices.push_back({1.0f, 0.0f, 0.0f, static_cast<float>(base_x), 0.0f, 0.0f});
    for (int j = 0; j <= slices; j++) {
        const double theta = 2.0 * PI * j / slices;
        m.vertices.push_back({1.0f, 0.0f, 0.0f, static_cast<float>(base_x),
                              static_cast<float>(radius * std::sin(theta)),
                              static_cast<float>(radius * std::cos(theta))});
    }
    for (int j = 0; j < slices; j++) {
        m.indices.insert(m.indices.end(),
                         {static_cast<uint16_t>(centre), static_cast<uint16_t>(centre + 2 + j),
                          static_cast<uint16_t>(centre + 1 + j)});
    }
}

bool same_vertex(const mesh_vertex &a, const mesh_vertex &b) {
    constexpr float eps = 1e-5f;
    return std::fabs(a.x - b.x) < eps && std::fabs(a.y - b.y) < eps && std::fabs(a.z - b.z) < eps &&
           std::fabs(a.nx - b.nx) < eps && std::fabs(a.ny - b.ny) < eps &&
           std::fabs(a.nz - b.nz) < eps;
}

// The rings repeat each pole once per slice and each seam vertex twice. Stores every vertex
// once, within its part (parts: bounds[p] .. bounds[p + 1]), so part ranges stay whole, and
// drops the faces that collapse to a line or a point, as the toolkit's own solids have none:
// two fifths fewer vertices and a ninth fewer faces to transform, nothing less drawn. Returns
// the parts' new bounds.
std::vector<std::size_t> weld(solid_mesh &m, const std::vector<std::size_t> &bounds) {
    std::vector<mesh_vertex> welded;
    std::vector<uint16_t> remap(m.vertices.size());
    std::vector<std::size_t> new_bounds;
    for (std::size_t p = 0; p + 1 < bounds.size(); p++) {
        const std::size_t part_begin = welded.size();
        new_bounds.push_back(part_begin);
        for (std::size_t i = bounds[p]; i < bounds[p + 1]; i++) {
            std::size_t j = part_begin;
            while (j < welded.size() && !same_vertex(welded[j], m.vertices[i])) j++;
            if (j == welded.size()) welded.push_back(m.vertices[i]);
            remap[i] = static_cast<uint16_t>(j);
        }
    }
    new_bounds.push_back(welded.size());
    std::vector<uint16_t> faces;
    for (std::size_t f = 0; f + 2 < m.indices.size(); f += 3) {
        const uint16_t a = remap[m.indices[f]], b = remap[m.indices[f + 1]],
                       c = remap[m.indices[f + 2]];
        const mesh_vertex &va = welded[a], &vb = welded[b], &vc = welded[c];
        const float ux = vb.x - va.x, uy = vb.y - va.y, uz = vb.z - va.z;
        const float wx = vc.x - va.x, wy = vc.y - va.y, wz = vc.z - va.z;
        const float cx = uy * wz - uz * wy, cy = uz * wx - ux * wz, cz = ux * wy - uy * wx;
        if (cx * cx + cy * cy + cz * cz > 1e-10f) faces.insert(faces.end(), {a, b, c});
    }
    m.vertices = std::move(welded);
    m.indices = std::move(faces);
    return new_bounds;
}

}  // namespace

const turtle_mesh &turtle_model() {
    static const turtle_mesh model = [] {
        turtle_mesh m;
        add_sphere(m, 10.0, 12, 12, 0.0, 0.0, 0.0, 1.0, 0.7, 0.5);  // shell, 20 x 14 x 10
        add_tail(m, 1.0, 6.0, 8, 4, -8.0);
        m.head_begin = m.vertices.size();
        add_sphere(m, 2.5, 8, 8, HEAD_X, 0.0, 0.0);
        for (int k = 0; k < 4; k++) {
            m.legs_begin[k] = m.vertices.size();
            add_sphere(m, 2.0, 8, 8, 0.0, k < 2 ? LEG_Y : -LEG_Y, LEG_Z);
        }
        m.legs_begin[4] = m.vertices.size();
        std::vector<std::size_t> bounds = {0, m.head_begin};
        bounds.insert(bounds.end(), m.legs_begin.begin(), m.legs_begin.end());
        bounds = weld(m, bounds);
        m.head_begin = bounds[1];
        std::copy(bounds.begin() + 2, bounds.end(), m.legs_begin.begin());
        return m;
    }();
    return model;
}

solid_mesh sphere_mesh(double radius, int slices, int stacks) {
    // Vertices as the toolkit makes them, in single precision: the top, the rings between the
    // poles (going round clockwise seen from the top), the bottom.
    solid_mesh m;
    if (slices < 1 || stacks < 2) return m;
    const float r = static_cast<float>(radius);
    const float around = 2.0f * static_cast<float>(PI) / static_cast<float>(-slices);
    const float down = static_cast<float>(PI) / static_cast<float>(stacks);
    m.vertices.push_back({0.0f, 0.0f, 1.0f, 0.0f, 0.0f, r});
    for (int i = 1; i < stacks; i++) {
        const float s2 = static_cast<float>(std::sin(down * i)),
                    c2 = static_cast<float>(std::cos(down * i));
        for (int j = 0; j < slices; j++) {
            const float s1 = j == 0 ? 0.0f : static_cast<float>(std::sin(around * j));
            const float c1 = j == 0 ? 1.0f : static_cast<float>(std::cos(around * j));
            const float x = c1 * s2, y = s1 * s2, z = c2;
            m.vertices.push_back({x, y, z, x * r, y * r, z * r});
        }
    }
    const auto bottom = static_cast<uint16_t>(m.vertices.size());
    m.vertices.push_back({0.0f, 0.0f, -1.0f, 0.0f, 0.0f, -r});
    // The faces of the toolkit's triangle strips, each with its vertices in the order the strip
    // hands them over; the strips' empty joining triangles are left out.
    const auto ring = [&](int i, int j) {
        return static_cast<uint16_t>(1 + i * slices + j % slices);
    };
    for (int j = 0; j < slices; j++)
        m.indices.insert(m.indices.end(), {ring(0, j), 0, ring(0, j + 1)});
    for (int i = 0; i + 2 < stacks; i++) {
        for (int j = 0; j < slices; j++) {
            const uint16_t up = ring(i, j), up_next = ring(i, j + 1), low = ring(i + 1, j),
                           low_next = ring(i + 1, j + 1);
            m.indices.insert(m.indices.end(), {low, up, low_next, low_next, up, up_next});
        }
    }
    for (int j = 0; j < slices; j++) {
        m.indices.insert(m.indices.end(), {bottom, ring(stacks - 2, j), ring(stacks - 2, j + 1)});
    }
    return m;
}
