// overlays.cpp: the help and communication-error screens, and the circle and oval routines.
#include "draw/overlays.h"

#include <GL/freeglut.h>

#include <array>
#include <cmath>

#include "draw/font.h"
#include "draw/material.h"
#include "draw/textures.h"
#include "world/world.h"

namespace {

inline constexpr int NSIDE = 12;  // sides of the circle approximations

std::array<double, NSIDE> sine_tab{};
std::array<double, NSIDE> cosine_tab{};
int first_call = 1;

void init_sc_tab() {
    double angle = 0.0;
    for (int k = 0; k < NSIDE; k++) {
        sine_tab[k] = std::sin(angle);
        cosine_tab[k] = std::cos(angle);
        angle += 0.5235987755982988;
    }
    first_call = 0;
}

void fan(double x0, double y0, double a, double b) {
    if (first_call) init_sc_tab();
    glBegin(GL_TRIANGLE_FAN);
    glVertex2d(x0, y0);
    for (int k = 0; k <= NSIDE; k++) {
        glVertex2d(x0 + a * cosine_tab[k % NSIDE], y0 + b * sine_tab[k % NSIDE]);
    }
    glEnd();
}

void loop(double x0, double y0, double z0, double a, double b) {
    if (first_call) init_sc_tab();
    glBegin(GL_LINE_LOOP);
    for (int k = 0; k < NSIDE; k++) {
        glVertex3d(x0 + a * cosine_tab[k], y0 + b * sine_tab[k], z0);
    }
    glEnd();
}

// Emission and ambient-and-diffuse alike: a colour that shows whatever the light.
void set_emission_and_colour(float r, float g, float b, float a) {
    set_emission(r, g, b, a);
    set_material(GL_FRONT, GL_AMBIENT_AND_DIFFUSE, r, g, b, a);
}

struct help_line {
    double x, y, z;
    void *font;
    const char *text;
};

}  // namespace

void drawHelp() {
    static const help_line lines[] = {
        {-168.96, 163.84, 32.0, GLUT_BITMAP_HELVETICA_18, "Kelpmoor"},
        {-168.96, 128.0, 35.0, GLUT_BITMAP_HELVETICA_12, nullptr},  // the copyright notice
        {-140.8, 102.4, 35.0, GLUT_BITMAP_9_BY_15, "c  clear screen"},
        {-140.8, 75.15, 35.0, GLUT_BITMAP_9_BY_15, "z  erase zombie"},
        {-140.8, 47.9, 35.0, GLUT_BITMAP_9_BY_15, "!  toggle graphics/battle mode"},
        {-140.8, 20.65, 35.0, GLUT_BITMAP_9_BY_15, "@  toggle public/private mode"},
        {-140.8, -6.6, 35.0, GLUT_BITMAP_9_BY_15, "p  capture screen"},
        {-140.8, -33.85, 35.0, GLUT_BITMAP_9_BY_15, "3  toggle birds-eye view mode"},
        {-102.4, -61.1, 35.0, GLUT_BITMAP_9_BY_15, "+ - zoom  < > rotate"},
        {-140.8, -88.35, 35.0, GLUT_BITMAP_9_BY_15, "M  toggle maze mode"},
        {-140.8, -115.6, 35.0, GLUT_BITMAP_9_BY_15, "h  help (show this screen)"},
        {-140.8, -142.85, 35.0, GLUT_BITMAP_9_BY_15, "K  kill all turtles"},
        {-140.8, -170.1, 35.0, GLUT_BITMAP_9_BY_15, "Q  exit"},
        {-102.4, -194.56, 35.0, GLUT_BITMAP_9_BY_15, "Press ESC to dismiss this screen"},
    };
    constexpr double half = 204.8;
    constexpr double repeats = 15.0;

    ensure_obj_tex(TEX_STONE);
    glEnable(GL_BLEND);
    glEnable(GL_CULL_FACE);
    glCullFace(GL_BACK);
    set_emission_and_colour(0.3f, 0.3f, 0.3f, 0.9f);
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, obj_textures[TEX_STONE].get());
    glColor3d(1.0, 1.0, 1.0);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    glBegin(GL_QUADS);
    glNormal3d(0.0, 0.0, 1.0);
    glTexCoord2d(0.0, 0.0);
    glVertex3d(-half, -half, 30.0);
    glTexCoord2d(repeats, 0.0);
    glVertex3d(half, -half, 30.0);
    glTexCoord2d(repeats, repeats);
    glVertex3d(half, half, 30.0);
    glTexCoord2d(0.0, repeats);
    glVertex3d(-half, half, 30.0);
    glEnd();
    glBindTexture(GL_TEXTURE_2D, 0);
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_CULL_FACE);

    set_emission_and_colour(1.0f, 0.2f, 0.1f, 0.9f);
    for (const help_line &l : lines) {
        drawString(l.x, l.y, l.z, l.font, l.text != nullptr ? l.text : copyright);
    }
    set_emission(0.0f, 0.0f, 0.0f, 1.0f);
    glDisable(GL_BLEND);
}

void drawWarming() {
    constexpr double x = -230.4;
    constexpr double z = 30.0;
    set_emission_and_colour(1.0f, 0.1f, 0.0f, 1.0f);
    drawString(x, 128.0, z, GLUT_BITMAP_HELVETICA_18, "COMMUNICATION ERROR !");
    drawString(x, 102.4, z, GLUT_BITMAP_HELVETICA_12,
               "TCP communication ports cannot be opened because they are already in use.");
    drawString(x, 76.8, z, GLUT_BITMAP_HELVETICA_12,
               "It seems another Kelpmoor is running on this computer.");
    drawString(x, 51.2, z, GLUT_BITMAP_HELVETICA_12,
               "Quit this program by pressing Q and check the running programs in background.");
    set_emission(0.0f, 0.0f, 0.0f, 1.0f);
}

// ---- Circles ------------------------------------------------------------------------------

void fillOval(double x0, double y0, double /*z0*/, double rx, double ry) { fan(x0, y0, rx, ry); }

void drawOval(double x0, double y0, double z0, double r1, double r2) { loop(x0, y0, z0, r1, r2); }

void fillCircle(double x0, double y0, double /*z0*/, double radius) { fan(x0, y0, radius, radius); }

void drawCircle(double x0, double y0, double z0, double radius) {
    loop(x0, y0, z0, radius, radius);
}
