// turtle_mesh.h: indexed triangle meshes built without GL, each drawn with one call: the turtle
// model in the turtle's own frame (+x forward, z = 0 at the body centre: a shell, a tail, a head
// and four legs; the frame moves only the head and leg vertices), and plain spheres for the
// battle. Any thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

struct mesh_vertex {
    float nx, ny, nz, x, y, z;  // unit normal, then position: the layout of GL_N3F_V3F
};
static_assert(sizeof(mesh_vertex) == 6 * sizeof(float), "packed as GL_N3F_V3F");

struct solid_mesh {
    std::vector<mesh_vertex> vertices;
    std::vector<uint16_t> indices;  // triangles, counter-clockwise seen from outside
};

// Parts: [0, head_begin) the shell and tail, [head_begin, legs_begin[0]) the head, leg k
// [legs_begin[k], legs_begin[k + 1]); legs 0 and 1 on the left (+y), 2 and 3 on the right, all
// at x = 0 (the frame moves them fore and aft). Every triangle lies within one part.
struct turtle_mesh : solid_mesh {
    std::size_t head_begin = 0;
    std::array<std::size_t, 5> legs_begin{};
};

const turtle_mesh &turtle_model();  // built once, on the first call

// A sphere about the origin with the toolkit's slices and stacks, every vertex stored once.
solid_mesh sphere_mesh(double radius, int slices, int stacks);
