// glutil.cpp: textures and icons, overlays and bitmap text, circles, PNG writing, PPM reading.
#include "glutil.h"

#include <GL/freeglut.h>
#include <png.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "kelpmoor.h"

std::array<unsigned int, NOBJTEX> obj_textures{};
std::array<std::array<unsigned char, ICON_BYTES>, NOBJTEX> obj_text_image{};
std::array<int, NOBJTEX> obj_tex_initialized{};

namespace {

inline constexpr double ICON_LOW = -10.0;        // icon quad from point - 10 ...
inline constexpr double ICON_HIGH = 9.0;         // ... to point + 9, field units
inline constexpr double STONE_HEIGHT = 3.0;      // floor icons' heights, field units
inline constexpr double DOUGHNUT_HEIGHT = 2.0;
inline constexpr double COIN_BASE_HEIGHT = 1.0;
inline constexpr double COIN_STACK_HEIGHT = 1.5;
inline constexpr double WALL_HEIGHT = 15.0;
inline constexpr double WALL_TEX_REPEAT = 1.0 / 32.0;  // texture repeats per field unit
inline constexpr double WALL_TEX_TOP = 15.0 / 32.0;    // share of the pattern's height shown
inline constexpr double MIN_DAB_SIZE = 0.01;
inline constexpr double DAB_HEIGHT = 0.1;
inline constexpr int NSIDE = 12;  // sides of the circle approximations

const std::array<const unsigned char *, NOBJTEX> slot_image = {
    doughnut_image32x32, stone_image32x32, coin_image32x32, ten_image32x32};

void ensure_slot(int i) {
    if (!obj_tex_initialized[i]) init_obj_tex(i, slot_image[i]);
}

void set_emission(float r, float g, float b, float a) {
    const GLfloat c[] = {r, g, b, a};
    glMaterialfv(GL_FRONT, GL_EMISSION, c);
}

void set_emission_and_colour(float r, float g, float b, float a) {
    const GLfloat c[] = {r, g, b, a};
    glMaterialfv(GL_FRONT, GL_EMISSION, c);
    glMaterialfv(GL_FRONT, GL_AMBIENT_AND_DIFFUSE, c);
}

}  // namespace

// ---- Batches: the states of one kind of quad set once around many quads ------------------

void beginIcons(int slot) {
    ensure_slot(slot);
    glEnable(GL_CULL_FACE);
    glCullFace(GL_BACK);
    glEnable(GL_BLEND);
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, obj_textures[slot]);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
    glBegin(GL_QUADS);
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
    glEnd();
    glBindTexture(GL_TEXTURE_2D, 0);
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_BLEND);
    glDisable(GL_CULL_FACE);
}

double coinIconHeight(int order) {
    return COIN_BASE_HEIGHT + COIN_STACK_HEIGHT * order / (ncoin + 1);
}

void beginStoneWalls() {
    ensure_slot(TEX_STONE);
    glEnable(GL_CULL_FACE);
    glCullFace(GL_BACK);
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, obj_textures[TEX_STONE]);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    glBegin(GL_QUADS);
}

void drawStoneWallFace(double x0, double y0, double x1, double y1, double nx, double ny) {
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

void endStoneWalls() {
    glEnd();
    glBindTexture(GL_TEXTURE_2D, 0);
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_CULL_FACE);
}

namespace {

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

struct help_line {
    double x, y, z;
    void *font;
    const char *text;
};

}  // namespace

// ---- Textures and icons -------------------------------------------------------------------

void flip32x32icon(const unsigned char *pix, unsigned char *image) {
    for (int k = 0; k < ICON_SIZE * ICON_SIZE; k++) {
        const int col = k % ICON_SIZE;
        const int row = k / ICON_SIZE;
        std::memcpy(image + ((ICON_SIZE - 1 - row) * ICON_SIZE + col) * 4, pix + k * 4, 4);
    }
}

void init_obj_tex(int i, const unsigned char *image) {
    flip32x32icon(image, obj_text_image[i].data());
    glGenTextures(1, &obj_textures[i]);
    glBindTexture(GL_TEXTURE_2D, obj_textures[i]);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, ICON_SIZE, ICON_SIZE, 0, GL_RGBA, GL_UNSIGNED_BYTE,
                 obj_text_image[i].data());
    glBindTexture(GL_TEXTURE_2D, 0);
    obj_tex_initialized[i] = 1;
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

void drawStoneWall(double x0, double y0, double x1, double y1, double nx, double ny) {
    beginStoneWalls();
    drawStoneWallFace(x0, y0, x1, y1, nx, ny);
    endStoneWalls();
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
    ensure_slot(TEX_TEN);
    if (size < MIN_DAB_SIZE) size = MIN_DAB_SIZE;
    const double h = size / 2.0;
    glEnable(GL_BLEND);
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, obj_textures[TEX_TEN]);
    set_emission_and_colour(static_cast<float>(r), static_cast<float>(g), static_cast<float>(b),
                            1.0f);
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

// ---- Bitmap text --------------------------------------------------------------------------

namespace {

// One display list per character of a font, holding the toolkit's bitmap for it. Calling the
// lists draws the same bitmaps with the same advances as the toolkit's per-character call,
// without its pixel-store changes around every character, which break the renderer's batching
// of consecutive bitmaps.
GLuint font_lists(void *fontname) {
    struct font_entry {
        void *font;
        GLuint base;
    };
    static std::array<font_entry, 3> built{};
    for (const font_entry &f : built) {
        if (f.font == fontname) return f.base;
    }
    for (font_entry &f : built) {
        if (f.font != nullptr) continue;
        const GLuint base = glGenLists(256);
        if (base == 0) return 0;
        for (int c = 0; c < 256; c++) {
            glNewList(base + c, GL_COMPILE);
            if (c != 0) glutBitmapCharacter(fontname, c);
            glEndList();
        }
        f = {fontname, base};
        return base;
    }
    return 0;
}

}  // namespace

void drawString(double x0, double y0, double z0, void *fontname, const char *str) {
    glRasterPos3d(x0, y0, z0);
    const GLuint base = font_lists(fontname);
    if (base == 0) {
        for (const char *p = str; *p != '\0'; p++) {
            glutBitmapCharacter(fontname, static_cast<unsigned char>(*p));
        }
        return;
    }
    glListBase(base);
    glCallLists(static_cast<GLsizei>(std::strlen(str)), GL_UNSIGNED_BYTE, str);
    glListBase(0);
}

// ---- Overlays -----------------------------------------------------------------------------

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

    ensure_slot(TEX_STONE);
    glEnable(GL_BLEND);
    glEnable(GL_CULL_FACE);
    glCullFace(GL_BACK);
    set_emission_and_colour(0.3f, 0.3f, 0.3f, 0.9f);
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, obj_textures[TEX_STONE]);
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

void fillCircle(double x0, double y0, double /*z0*/, double radius) {
    fan(x0, y0, radius, radius);
}

void drawCircle(double x0, double y0, double z0, double radius) {
    loop(x0, y0, z0, radius, radius);
}

// ---- Image files --------------------------------------------------------------------------

capture_texts make_capture_texts() {
    capture_texts t{};
    const char *user = std::getenv("USER");
    std::snprintf(t.author.data(), t.author.size(), "%s", user != nullptr ? user : "unknown");

    // gethostname may leave a cut name unterminated: the buffer has a spare zero at its end.
    std::array<char, 257> host{};
    if (gethostname(host.data(), host.size() - 1) != 0) host[0] = '\0';
    std::snprintf(t.source.data(), t.source.size(), "%s", host.data());

    const std::time_t now = std::time(nullptr);
    char when[64] = "";
    if (ctime_r(&now, when) == nullptr) when[0] = '\0';
    when[std::strcspn(when, "\n")] = '\0';
    std::snprintf(t.description.data(), t.description.size(), "%s", when);
    return t;
}

void saveImageToPNG(int width, int height, const char *filename) {
    if (width <= 0 || height <= 0) return;
    const std::size_t row_bytes = static_cast<std::size_t>(width) * 3;
    const std::size_t nbytes = static_cast<std::size_t>(width) * 4 * height;
    std::unique_ptr<unsigned char[]> pixels(new (std::nothrow) unsigned char[nbytes]);
    std::unique_ptr<unsigned char[]> rows_data(
        new (std::nothrow) unsigned char[row_bytes * height]);
    std::unique_ptr<png_bytep[]> rows(new (std::nothrow) png_bytep[height]);
    if (!pixels || !rows_data || !rows) {
        std::fprintf(stderr, "saveImageToPNG: cannot allocate the image buffers\n");
        return;
    }

    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadBuffer(GL_BACK);
    glReadPixels(0, 0, width, height, GL_RGB, GL_UNSIGNED_BYTE, pixels.get());
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    for (int j = 0; j < height; j++) {
        rows[j] = rows_data.get() + row_bytes * j;
        std::memcpy(rows[j], pixels.get() + row_bytes * (height - 1 - j), row_bytes);
    }

    FILE *fp = std::fopen(filename, "wb");
    if (fp == nullptr) {
        std::fprintf(stderr, "saveImageToPNG: cannot open file:%s\n", filename);
        return;
    }
    png_structp png_ptr = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr,
                                                  nullptr);
    if (png_ptr == nullptr) {
        std::fprintf(stderr, "saveImageToPNG: cannot create png_ptr\n");
        std::fclose(fp);
        return;
    }
    png_infop info_ptr = png_create_info_struct(png_ptr);
    if (info_ptr == nullptr) {
        std::fprintf(stderr, "saveImageToPNG: cannot create info_ptr\n");
        png_destroy_write_struct(&png_ptr, nullptr);
        std::fclose(fp);
        return;
    }

    capture_texts t = make_capture_texts();
    std::string software = CAPTURE_SOFTWARE;
    char k_author[] = "Author", k_software[] = "Software", k_source[] = "Source",
         k_description[] = "Description";
    std::array<png_text, 4> text{};
    const std::array<std::pair<char *, char *>, 4> entries = {{
        {k_author, t.author.data()},
        {k_software, software.data()},
        {k_source, t.source.data()},
        {k_description, t.description.data()},
    }};
    for (std::size_t i = 0; i < text.size(); i++) {
        text[i].compression = PNG_TEXT_COMPRESSION_zTXt;
        text[i].key = entries[i].first;
        text[i].text = entries[i].second;
        text[i].text_length = std::strlen(entries[i].second);
    }
    png_set_text(png_ptr, info_ptr, text.data(), static_cast<int>(text.size()));

    png_init_io(png_ptr, fp);
    png_set_IHDR(png_ptr, info_ptr, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png_ptr, info_ptr);
    png_write_image(png_ptr, rows.get());
    png_write_end(png_ptr, info_ptr);
    png_destroy_write_struct(&png_ptr, &info_ptr);
    std::fclose(fp);
}

unsigned char *readPPMToImage(const char *filename, int *w, int *h) {
    FILE *fp = std::fopen(filename, "rb");
    if (fp == nullptr) {
        std::fprintf(stderr, "cannot open file:%s\n", filename);
        return nullptr;
    }
    std::unique_ptr<FILE, int (*)(FILE *)> file(fp, std::fclose);
    char line[256];
    if (std::fgets(line, sizeof line, fp) == nullptr || std::strncmp(line, "P6", 2) != 0) {
        return nullptr;
    }
    do {
        if (std::fgets(line, sizeof line, fp) == nullptr) return nullptr;
    } while (line[0] == '#');
    int width = 0, height = 0, maxval = 0;
    if (std::sscanf(line, "%d %d", &width, &height) != 2) return nullptr;
    if (std::fgets(line, sizeof line, fp) == nullptr || std::sscanf(line, "%d", &maxval) != 1) {
        return nullptr;
    }
    // 16384 pixels a side is far beyond any picture this program reads and keeps the size
    // computations below overflow-free.
    constexpr int max_side = 16384;
    if (width <= 0 || height <= 0 || width > max_side || height > max_side) return nullptr;

    *w = width;
    *h = height;
    std::printf("reading:%s width:%d height %d max:%d\n", filename, width, height, maxval);
    std::fflush(stdout);

    const std::size_t npix = static_cast<std::size_t>(width) * height;
    auto *image = static_cast<unsigned char *>(std::malloc(npix * 4));
    if (image == nullptr) {
        std::fprintf(stderr, "readPPMToImage: cannot allocate %zu bytes\n", npix * 4);
        return nullptr;
    }
    for (std::size_t k = 0; k < npix; k++) {
        unsigned char rgb[3];
        if (std::fread(rgb, 1, 3, fp) != 3) {
            std::free(image);
            return nullptr;
        }
        std::memcpy(image + (npix - 1 - k) * 3, rgb, 3);
    }
    return image;
}
