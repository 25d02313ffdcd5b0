// textures.h: the embedded pictures, the icon texture slots, the floor tile, the floor icons and
// the brush-tip dab. Main thread only, with the window's GL context current (inside the frame,
// frame_rendering_mutex held, where the world is read).
#pragma once

#include <array>

#include "draw/gl_objects.h"

// ---- Embedded images (images/*.png, turned into arrays at build time by tools/png2cpp) ----
inline constexpr int ICON_SIZE = 32;                          // pixels per side of an icon
inline constexpr int ICON_BYTES = ICON_SIZE * ICON_SIZE * 4;  // RGBA, top row first
inline constexpr int BACKGROUND_SIZE = 200;                   // pixels per side of the floor tile
// RGB, bottom row first
inline constexpr int BACKGROUND_BYTES = BACKGROUND_SIZE * BACKGROUND_SIZE * 3;

extern const unsigned char doughnut_image32x32[ICON_BYTES];
extern const unsigned char stone_image32x32[ICON_BYTES];
extern const unsigned char coin_image32x32[ICON_BYTES];
extern const unsigned char ten_image32x32[ICON_BYTES];  // brush tip: white, shape in alpha
extern const unsigned char background_image200x200[BACKGROUND_BYTES];

// ---- Texture slots, created on first use ----
inline constexpr int TEX_DOUGHNUT = 0;
inline constexpr int TEX_STONE = 1;  // also wall faces and the help panel
inline constexpr int TEX_COIN = 2;
inline constexpr int TEX_TEN = 3;
inline constexpr int NOBJTEX = 4;

extern std::array<gl_texture, NOBJTEX> obj_textures;
// The slots' icons, bottom row first.
extern std::array<std::array<unsigned char, ICON_BYTES>, NOBJTEX> obj_text_image;
extern std::array<int, NOBJTEX> obj_tex_initialized;  // 1 once the slot's texture exists

void flip32x32icon(const unsigned char *pix, unsigned char *image);  // reverses the row order
void init_obj_tex(int i, const unsigned char *image);  // slot 0..3 from a 32 x 32 RGBA icon
void ensure_obj_tex(int slot);  // init_obj_tex with the slot's own icon, once

// Quads textured from one slot in the texture environment mode env_mode (GL_REPLACE,
// GL_MODULATE), back faces culled: begin binds and opens the quads, end closes and restores.
void begin_textured_quads(int slot, int env_mode);
void end_textured_quads();

// ---- Floor and icons ----
// The 200 x 200 tile three by three from the window's lower-left corner (flat projection).
void drawBackground();
// Icons covering (x - 10 .. x + 9, y - 10 .. y + 9) in field units.
void drawIcon_Coin(double x, double y, int order);  // height 1 + 1.5 order / (ncoin + 1)
void drawIcon_Stone(double x, double y);            // height 3
void drawIcon_Doughnut(double x, double y);         // height 2
// Batches of icon quads: begin sets the states of one call (texture slot, culling, blending)
// once, each quad adds only vertices, end restores the states. Nothing but quads of the same
// batch may be drawn between begin and end.
void beginIcons(int slot);
void drawIconQuad(double x, double y, double z);  // an icon's quad at height z
void endIcons();
double coinIconHeight(int order);  // 1 + 1.5 order / (ncoin + 1)

// One brush-tip dab of side size (at least 0.01) centred at (x, y), in exactly the colour
// (r, g, b) (emission; ambient and diffuse left black), alpha-blended into the back buffer under
// the flat painting projection.
void paint_Ten(double x, double y, double size, double r, double g, double b);
