// unit_turtle_mesh.cpp: the turtle model without a window: index bounds and whole parts, no
// degenerate faces, unit normals, every part a closed surface wound outwards, and the parts where
// the frame's animation expects them.
#include <map>
#include <numeric>

#include "draw/turtle_mesh.h"
#include "support.h"

namespace {

using vec = std::array<double, 3>;
using key = std::array<long, 3>;  // a position rounded to 1e-4 field units

const mesh_vertex &vertex(std::size_t i) { return turtle_model().vertices[i]; }
vec at(std::size_t i) { return {vertex(i).x, vertex(i).y, vertex(i).z}; }
vec normal(std::size_t i) { return {vertex(i).nx, vertex(i).ny, vertex(i).nz}; }
vec sub(const vec &a, const vec &b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
double dot(const vec &a, const vec &b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
vec cross(const vec &a, const vec &b) {
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
key key_of(std::size_t i) {
    const vec p = at(i);
    return {std::lround(p[0] * 1e4), std::lround(p[1] * 1e4), std::lround(p[2] * 1e4)};
}
vec face_normal(std::size_t f) {  // of the face at indices f, f + 1, f + 2: twice its area long
    const std::vector<uint16_t> &i = turtle_model().indices;
    return cross(sub(at(i[f + 1]), at(i[f])), sub(at(i[f + 2]), at(i[f])));
}

// The part bounds: part 0 shell and tail, 1 head, 2..5 the legs; bounds[p] .. bounds[p + 1].
std::vector<std::size_t> part_bounds() {
    const turtle_mesh &m = turtle_model();
    std::vector<std::size_t> b = {0, m.head_begin};
    b.insert(b.end(), m.legs_begin.begin(), m.legs_begin.end());
    return b;
}
std::size_t part_of(std::size_t vertex) {
    static const std::vector<std::size_t> bounds = part_bounds();
    std::size_t p = 0;
    while (p + 2 < bounds.size() && vertex >= bounds[p + 1]) p++;
    return p;
}

vec centroid(std::size_t from, std::size_t to) {
    vec c{};
    for (std::size_t i = from; i < to; i++) {
        for (int k = 0; k < 3; k++) c[k] += at(i)[k] / double(to - from);
    }
    return c;
}

}  // namespace

// Indices, parts and faces: what the frame's one draw call and its head and leg moves rely on.
TEST(TurtleMesh, IndicesInBoundsPartsWholeAndNoDegenerateFace) {
    const turtle_mesh &m = turtle_model();
    ASSERT_TRUE(!m.indices.empty() && m.indices.size() % 3 == 0);
    ASSERT_EQ(part_bounds().back(), m.vertices.size());

    std::vector<bool> used(m.vertices.size(), false);
    for (std::size_t f = 0; f < m.indices.size(); f += 3) {
        const uint16_t a = m.indices[f], b = m.indices[f + 1], c = m.indices[f + 2];
        ASSERT_TRUE(a < m.vertices.size() && b < m.vertices.size() && c < m.vertices.size());
        EXPECT_TRUE(a != b && b != c && a != c) << "face " << f / 3;
        EXPECT_TRUE(part_of(b) == part_of(a) && part_of(c) == part_of(a))
            << "face " << f / 3 << " spans two parts: moving one tears it";
        EXPECT_GT(std::sqrt(dot(face_normal(f), face_normal(f))), 1e-4) << "face " << f / 3;
        used[a] = used[b] = used[c] = true;
    }
    EXPECT_EQ(std::count(used.begin(), used.end(), false), 0) << "vertices no face uses";
}

// Each part is a closed surface (shell and tail are two), wound counter-clockwise from outside,
// with unit normals that point outwards: back-face culling then hides nothing that shows.
TEST(TurtleMesh, PartsClosedWoundOutwardsWithUnitOutwardNormals) {
    const turtle_mesh &m = turtle_model();
    // Closed and consistently wound: within a part, every directed edge occurs once and its
    // reverse once. Edges are compared by position, since a cone's tip and rim keep one vertex
    // per normal. Every face's winding agrees with its vertices' normals.
    std::map<std::tuple<std::size_t, key, key>, int> edges;
    for (std::size_t f = 0; f < m.indices.size(); f += 3) {
        for (int e = 0; e < 3; e++) {
            const std::size_t i = m.indices[f + e];
            edges[{part_of(i), key_of(i), key_of(m.indices[f + (e + 1) % 3])}]++;
            EXPECT_NEAR(std::sqrt(dot(normal(i), normal(i))), 1.0, 1e-5) << i;
            EXPECT_GT(dot(face_normal(f), normal(i)), 0.0) << "face " << f / 3;
        }
    }
    int open_edges = 0;
    for (const auto &[edge, count] : edges) {
        const auto &[p, from, to] = edge;
        const auto reverse = edges.find({p, to, from});
        open_edges += count != 1 || reverse == edges.end() || reverse->second != 1;
    }
    EXPECT_EQ(open_edges, 0);

    // Each connected surface of a part encloses a positive volume, so the winding faces
    // outwards. (Legs lie on one another until the frame moves them: surfaces are per part.)
    std::map<std::pair<std::size_t, key>, int> id;
    for (std::size_t i = 0; i < m.vertices.size(); i++) {
        id.emplace(std::pair{part_of(i), key_of(i)}, static_cast<int>(id.size()));
    }
    const auto id_of = [&](std::size_t i) { return id.at({part_of(i), key_of(i)}); };
    std::vector<int> parent(id.size());
    std::iota(parent.begin(), parent.end(), 0);
    const std::function<int(int)> root = [&](int i) {
        return parent[i] == i ? i : parent[i] = root(parent[i]);
    };
    for (std::size_t f = 0; f < m.indices.size(); f += 3) {
        const int a = root(id_of(m.indices[f]));
        parent[root(id_of(m.indices[f + 1]))] = a;
        parent[root(id_of(m.indices[f + 2]))] = a;
    }
    std::map<int, double> volume;  // six times the signed volume of each surface
    for (std::size_t f = 0; f < m.indices.size(); f += 3) {
        volume[root(id_of(m.indices[f]))] +=
            dot(at(m.indices[f]), cross(at(m.indices[f + 1]), at(m.indices[f + 2])));
    }
    EXPECT_EQ(volume.size(), 7u) << "shell, tail, head and four legs";
    for (const auto &[surface, v6] : volume) EXPECT_GT(v6, 0.0) << "surface " << surface;
}

// The frame bobs [head_begin, legs_begin[0]) and swings the legs diagonally by their order.
TEST(TurtleMesh, HeadInFrontAndLegsLeftThenRightBelowTheShell) {
    const turtle_mesh &m = turtle_model();
    const vec head = centroid(m.head_begin, m.legs_begin[0]);
    for (std::size_t i = 0; i < m.head_begin; i++) EXPECT_LT(m.vertices[i].x, head[0]);
    for (int k = 0; k < 4; k++) {
        const vec leg = centroid(m.legs_begin[k], m.legs_begin[k + 1]);
        EXPECT_LT(leg[0], head[0]);
        EXPECT_TRUE(k < 2 ? leg[1] > 1.0 : leg[1] < -1.0) << "leg " << k;
        EXPECT_LT(leg[2], 0.0) << "leg " << k;
    }
}
