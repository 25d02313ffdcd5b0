// glutil.h: textures and icons, overlays and bitmap text, circles, PNG writing, PPM reading.
// Main thread only, with the window's GL context current (from the frame or a test window),
// except readPPMToImage, which needs no context.
#pragma once

#include <array>

// ---- Embedded images (images/*.png, turned into arrays at build time by tools/png2cpp) ----
inline constexpr int ICON_SIZE = 32;                        // pixels per side of an icon
inline constexpr int ICON_BYTES = ICON_SIZE * ICON_SIZE * 4;  // RGBA, top row first
inline constexpr int BACKGROUND_SIZE = 200;                 // pixels per side of the floor tile
inline constexpr int BACKGROUND_BYTES = BACKGROUND_SIZE * BACKGROUND_SIZE * 3;  // RGB, bottom row first

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

extern std::array<unsigned int, NOBJTEX> obj_textures;  // texture names
extern std::array<std::array<unsigned char, ICON_BYTES>, NOBJTEX> obj_text_image;  // bottom row first
extern std::array<int, NOBJTEX> obj_tex_initialized;  // 1 once the slot's texture exists

void flip32x32icon(const unsigned char *pix, unsigned char *image);  // reverses the row order
void init_obj_tex(int i, const unsigned char *image);  // slot 0..3 from a 32 x 32 RGBA icon

// ---- Floor, walls and icons ----
// The 200 x 200 tile three by three from the window's lower-left corner (flat projection).
void drawBackground();
// A stone-textured face from height 0 to 15 along (x0, y0) -> (x1, y1), seen from the side
// the unit normal (nx, ny) points to; lit and tinted by the current material.
void drawStoneWall(double x0, double y0, double x1, double y1, double nx, double ny);
// Icons covering (x - 10 .. x + 9, y - 10 .. y + 9) in field units.
void drawIcon_Coin(double x, double y, int order);  // height 1 + 1.5 order / (ncoin + 1)
void drawIcon_Stone(double x, double y);            // height 3
void drawIcon_Doughnut(double x, double y);         // height 2
// Batches of the quads above: begin sets the states of one call (texture slot, culling,
// blending) once, each face or quad adds only vertices, end restores the states. Nothing but
// quads of the same batch may be drawn between begin and end.
void beginIcons(int slot);
void drawIconQuad(double x, double y, double z);  // an icon's quad at height z
void endIcons();
double coinIconHeight(int order);  // 1 + 1.5 order / (ncoin + 1)
void beginStoneWalls();
void drawStoneWallFace(double x0, double y0, double x1, double y1, double nx, double ny);
void endStoneWalls();
// One brush-tip dab of side size (at least 0.01) centred at (x, y), in exactly the colour
// (r, g, b) (emission; ambient and diffuse left black), alpha-blended into the back buffer under
// the flat painting projection.
void paint_Ten(double x, double y, double size, double r, double g, double b);

// ---- Bitmap text ----
// Raster position (x0, y0, z0) through the current matrices, then each character in the
// toolkit's bitmap font (GLUT_BITMAP_HELVETICA_12, _18 or GLUT_BITMAP_9_BY_15). The colour
// is the lit colour of the raster position: callers set the material emission first.
void drawString(double x0, double y0, double z0, void *fontname, const char *str);
// Between begin and end, drawString takes the raster position and colour at once but leaves
// the pixels of opaque text to endStringBatch, which draws them all together with the depth
// test in force then. For text that nothing translucent drawn in between may cover.
void beginStringBatch();
void endStringBatch();

// ---- Overlays (3-D scene, heights 30 .. 35) ----
void drawHelp();     // key list on a translucent stone panel
void drawWarming();  // the communication-error text

// ---- Circles: 12-sided, from shared sine and cosine tables built by the first call ----
void fillOval(double x0, double y0, double z0, double rx, double ry);  // drawn at z = 0
void drawOval(double x0, double y0, double z0, double r1, double r2);  // outline at z0
void fillCircle(double x0, double y0, double z0, double radius);       // drawn at z = 0
void drawCircle(double x0, double y0, double z0, double radius);       // outline at z0

// ---- Image files ----
// Writes the back buffer's (0, 0, width, height) as an 8-bit RGB PNG, top row first, with the
// zTXt texts Author, Software, Source and Description. Failures are reported on stderr.
void saveImageToPNG(int width, int height, const char *filename);
// The texts of a capture: USER (or "unknown") cut to 31 bytes, the host name cut to 127,
// the local time in ctime's 24-character form without its newline.
struct capture_texts {
    std::array<char, 32> author;
    std::array<char, 128> source;
    std::array<char, 32> description;
};
capture_texts make_capture_texts();
inline constexpr char CAPTURE_SOFTWARE[] = "kelpmoor for TAVI-RUNE by VX";
// Binary "P6" PPM: a new width x height x 4 byte buffer (free() it) holding the pixels as RGB
// triples in reverse order, or nullptr (cannot open, not P6, bad size or truncated data).
unsigned char *readPPMToImage(const char *filename, int *w, int *h);
