// textures.cpp: the icon texture slots, the floor tile, the floor icons and the brush-tip dab.
#include "draw/textures.h"

#include <GL/gl.h>

#include <cstring>

#include "draw/material.h"
#include "world/world.h"

std::array<gl_texture, NOBJTEX> obj_textures{};
std::array<std::array<unsigned char, ICON_BYTES>, NOBJTEX> obj_text_image{};
std::array<int, NOBJTEX> obj_tex_initialized{};

namespace {

inline constexpr double ICON_LOW = -10.0;    // icon quad from point - 10 ...
inline constexpr double ICON_HIGH = 9.0;     // ... to point + 9, field units
inline constexpr double STONE_HEIGHT = 3.0;  // floor icons' heights, field units
inline constexpr double DOUGHNUT_HEIGHT = 2.0;
inline constexpr double COIN_BASE_HEIGHT = 1.0;
inline constexpr double COIN_STACK_HEIGHT = 1.5;
inline constexpr double MIN_DAB_SIZE = 0.01;
inline constexpr double DAB_HEIGHT = 0.1;

const std::array<const unsigned char *, NOBJTEX> slot_image = {
    doughnut_image32x32, stone_image32x32, coin_image32x32, ten_image32x32};

}  // namespace

void flip32x32icon(const unsigned char *pix, unsigned char *image) {
    for (int k = 0; k < ICON_SIZE * ICON_SIZE; k++) {
        const int col = k % ICON_SIZE;
        const int row = k / ICON_SIZE;
        std::memcpy(image + ((ICON_SIZE - 1 - row) * ICON_SIZE + col) * 4, pix + k * 4, 4);
    }
}

void init_obj_tex(int i, const unsigned char *image) {
    flip32x32icon(image, obj_text_image[i].data());
    obj_textures[i] =
        make_texture(GL_RGBA, ICON_SIZE, ICON_SIZE, GL_RGBA, obj_text_image[i].data());
    obj_tex_initialized[i] = 1;
}

void ensure_obj_tex(int slot) {
    if (!obj_tex_initialized[slot]) init_obj_tex(slot, slot_image[slot]);
}

void begin_textured_quads(int slot, int env_mode) {
    ensure_obj_tex(slot);
    glEnable(GL_CULL_FACE);
    glCullFace(GL_BACK);
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, obj_textures[slot].get());
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, env_mode);
    glBegin(GL_QUADS);
}

void end_textured_quads() {
    glEnd();
    glBindTexture(GL_TEXTURE_2D, 0);
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_CULL_FACE);
}

void drawBackground() {
    const double corners[] = {-256.0, -56.0, 144.0};
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    for (double y : corners) {
        for (double x : corners) {
            glRasterPos3d(x, y, 0.0);
            glDrawPixels(BACKGROUND_SIZE, BACKGROUND_SIZE, GL_RGB, GL_UNSIGNED_BYTE,
                         background_image200x200);
        }
    }
}

void beginIcons(int slot) {
    glEnable(GL_BLEND);
    begin_textured_quads(slot, GL_REPLACE);
}

void drawIconQuad(double x, double y, double z) {
    glNormal3d(0.0, 0.0, 1.0);
    glTexCoord2d(0.0, 0.0);
    glVertex3d(x + ICON_LOW, y + ICON_LOW, z);
    glTexCoord2d(1.0, 0.0);
    glVertex3d(x + ICON_HIGH, y + ICON_LOW, z);
    glTexCoord2d(1.0, 1.0);
    glVertex3d(x + ICON_HIGH, y + ICON_HIGH, z);
    glTexCoord2d(0.0, 1.0);
    glVertex3d(x + ICON_LOW, y + ICON_HIGH, z);
}

void endIcons() {
    end_textured_quads();
    glDisable(GL_BLEND);
}

double coinIconHeight(int order) {
    return COIN_BASE_HEIGHT + COIN_STACK_HEIGHT * order / (ncoin + 1);
}

void drawIcon_Coin(double x, double y, int order) {
    beginIcons(TEX_COIN);
    drawIconQuad(x, y, coinIconHeight(order));
    endIcons();
}

void drawIcon_Stone(double x, double y) {
    glColor3d(1.0, 1.0, 1.0);
    beginIcons(TEX_STONE);
    drawIconQuad(x, y, STONE_HEIGHT);
    endIcons();
}

void drawIcon_Doughnut(double x, double y) {
    glColor3d(1.0, 1.0, 1.0);
    beginIcons(TEX_DOUGHNUT);
    drawIconQuad(x, y, DOUGHNUT_HEIGHT);
    endIcons();
}

void paint_Ten(double x, double y, double size, double r, double g, double b) {
    ensure_obj_tex(TEX_TEN);
    if (size < MIN_DAB_SIZE) size = MIN_DAB_SIZE;
    const double h = size / 2.0;
    glEnable(GL_BLEND);
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, obj_textures[TEX_TEN].get());
    // The dab shows exactly its colour: the light adds nothing to the emission.
    set_emission(static_cast<float>(r), static_cast<float>(g), static_cast<float>(b), 1.0f);
    set_material(GL_FRONT, GL_AMBIENT_AND_DIFFUSE, 0.0f, 0.0f, 0.0f, 1.0f);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    glBegin(GL_QUADS);
    glTexCoord2d(0.0, 0.0);
    glVertex3d(x - h, y - h, DAB_HEIGHT);
    glTexCoord2d(0.0, 1.0);
    glVertex3d(x - h, y + h, DAB_HEIGHT);
    glTexCoord2d(1.0, 1.0);
    glVertex3d(x + h, y + h, DAB_HEIGHT);
    glTexCoord2d(1.0, 0.0);
    glVertex3d(x + h, y - h, DAB_HEIGHT);
    glEnd();
    glBindTexture(GL_TEXTURE_2D, 0);
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_BLEND);
}
