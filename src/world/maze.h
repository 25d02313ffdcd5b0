// maze.h: field generation: boundary walls, the maze and stones. Works on the world tables,
// called with frame_rendering_mutex held. No GL.
#pragma once

#include <array>

inline constexpr int MAZE_VERTICES = 17;                                       // per axis
extern std::array<std::array<int, MAZE_VERTICES>, MAZE_VERTICES> maze_vertex;  // [x][y] sticks
void generate_boundary_wall();  // appends the 8 boundary records
void generate_maze();           // maze_vertex, up to 225 sticks (450 records), 4 doughnuts
void scatter_stone(int n);      // n attempts; a refused stone is not placed
