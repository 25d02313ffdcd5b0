// make_images: draws the field's pictures into images/ (run by hand from the source tree:
// make_images [DIR]). Every picture is computed: shapes are height fields lit from the upper
// left and sampled 4 x 4 times per pixel, which gives the icons their soft edges.
#include <png.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "picture_math.h"

namespace {

using namespace picture;

constexpr int ICON = 32;
constexpr int TILE = 200;

// What one sample of a picture holds: colour and coverage.
struct sample {
    rgb c;
    double a;
};

// Value noise on a lattice of the given cell size that repeats every `period` cells.
double vnoise(double x, double y, double cell, int period, int seed) {
    const double fx = x / cell, fy = y / cell;
    const int ix = static_cast<int>(std::floor(fx)), iy = static_cast<int>(std::floor(fy));
    const double tx = smoothstep(0, 1, fx - ix), ty = smoothstep(0, 1, fy - iy);
    auto at = [&](int i, int j) {
        return hash(((i % period) + period) % period, ((j % period) + period) % period, seed) /
               4294967295.0;
    };
    const double a = at(ix, iy), b = at(ix + 1, iy), c = at(ix, iy + 1), d = at(ix + 1, iy + 1);
    return (a * (1 - tx) + b * tx) * (1 - ty) + (c * (1 - tx) + d * tx) * ty;
}

// Fractal noise, -0.5 .. 0.5 roughly; tileable over `size` pixels when every octave's cell
// divides it.
double fbm(double x, double y, double size, int octaves, double cell, int seed) {
    double sum = 0, amp = 0.5, norm = 0;
    for (int o = 0; o < octaves; o++) {
        const int period = static_cast<int>(std::lround(size / cell));
        sum += amp * vnoise(x, y, cell, std::max(1, period), seed + o * 17);
        norm += amp;
        amp *= 0.5;
        cell /= 2.0;
    }
    return sum / norm - 0.5;
}

// Lambert plus a little ambient and a specular glint, light from the upper left and above.
// (nx, ny) in picture coordinates: x right, y down.
double lambert(double nx, double ny, double nz) {
    const double lx = -0.45, ly = -0.55, lz = 0.70;
    const double ll = std::sqrt(lx * lx + ly * ly + lz * lz);
    return std::max(0.0, (nx * lx + ny * ly + nz * lz) / ll);
}
double glint(double nx, double ny, double nz, double power) {
    // Half vector between the light and a viewer straight above.
    double hx = -0.45, hy = -0.55, hz = 0.70 + 1.0;
    const double hl = std::sqrt(hx * hx + hy * hy + hz * hz);
    hx /= hl, hy /= hl, hz /= hl;
    return std::pow(std::max(0.0, nx * hx + ny * hy + nz * hz), power);
}

// Normal of a height field h(x, y) by central differences.
void normal_of(const std::function<double(double, double)> &h, double x, double y, double &nx,
               double &ny, double &nz) {
    const double e = 0.25;
    const double dx = (h(x + e, y) - h(x - e, y)) / (2 * e);
    const double dy = (h(x, y + e) - h(x, y - e)) / (2 * e);
    const double l = std::sqrt(dx * dx + dy * dy + 1.0);
    nx = -dx / l, ny = -dy / l, nz = 1.0 / l;
}

using shader = std::function<sample(double, double)>;

// Supersamples an RGBA icon, top row first. Colours are averaged weighted by coverage, so edge
// pixels keep the object's colour and take the softness in alpha.
std::vector<unsigned char> render_icon(const shader &f) {
    std::vector<unsigned char> px(ICON * ICON * 4);
    for (int y = 0; y < ICON; y++) {
        for (int x = 0; x < ICON; x++) {
            rgb acc{0, 0, 0};
            double alpha = 0, wsum = 0;
            rgb plain{0, 0, 0};
            for (int j = 0; j < SS; j++) {
                for (int i = 0; i < SS; i++) {
                    const sample s = f(x + (i + 0.5) / SS, y + (j + 0.5) / SS);
                    acc = acc + s.c * s.a;
                    plain = plain + s.c;
                    alpha += s.a;
                    wsum += 1;
                }
            }
            const rgb c = alpha > 1e-9 ? acc * (1.0 / alpha) : plain * (1.0 / wsum);
            unsigned char *p = &px[(y * ICON + x) * 4];
            p[0] = static_cast<unsigned char>(std::lround(clamp01(c.r) * 255));
            p[1] = static_cast<unsigned char>(std::lround(clamp01(c.g) * 255));
            p[2] = static_cast<unsigned char>(std::lround(clamp01(c.b) * 255));
            p[3] = static_cast<unsigned char>(std::lround(clamp01(alpha / wsum) * 255));
        }
    }
    return px;
}

bool write_png(const std::string &path, int w, int h, bool alpha,
               const std::vector<unsigned char> &px) {
    png_image img{};
    img.version = PNG_IMAGE_VERSION;
    img.width = w;
    img.height = h;
    img.format = alpha ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB;
    if (!png_image_write_to_file(&img, path.c_str(), 0, px.data(), 0, nullptr)) {
        std::fprintf(stderr, "make_images: %s: %s\n", path.c_str(), img.message);
        return false;
    }
    std::printf("wrote %s\n", path.c_str());
    return true;
}

constexpr double CX = 16.0, CY = 16.0;  // centre of every icon, pixels

// A ring doughnut with pink icing and sprinkles, on a faint shadow.
sample doughnut(double x, double y) {
    constexpr double R = 9.3, r = 5.6;  // ring radius and tube radius
    auto torus = [&](double px, double py) {
        const double u = std::hypot(px - CX, py - CY) - R;
        return std::abs(u) < r ? std::sqrt(r * r - u * u) : 0.0;
    };
    const double d = std::hypot(x - CX, y - CY);
    const double u = d - R;
    if (std::abs(u) >= r) {
        // Soft shadow below and to the right of the ring.
        const double su = std::hypot(x - CX - 1.3, y - CY - 1.6) - R;
        const double sh = (1.0 - smoothstep(r - 1.5, r + 1.8, std::abs(su))) * 0.30;
        return {{0.05, 0.04, 0.03}, sh};
    }
    double nx, ny, nz;
    normal_of(torus, x, y, nx, ny, nz);
    const double lit = 0.30 + 0.85 * lambert(nx, ny, nz);
    const double ang = std::atan2(y - CY, x - CX);
    const double top = torus(x, y) / r;  // 1 on the ridge, 0 at the rims
    // The icing covers the upper part of the tube with a wavy, dripping edge.
    const double edge = 0.80 + 0.07 * std::sin(ang * 7.0 + 0.6) + 0.04 * std::sin(ang * 13.0);
    const double icing = smoothstep(edge - 0.06, edge + 0.06, top);
    const rgb dough = mix(rgb{0.62, 0.36, 0.15}, rgb{0.88, 0.62, 0.32}, smoothstep(0.0, 0.5, top));
    rgb pink{0.96, 0.50, 0.68};
    rgb c = mix(dough * lit, pink * lit + rgb{1, 1, 1} * (0.55 * glint(nx, ny, nz, 24)), icing);
    // Sprinkles: short bars on the icing, each two pixels long.
    static const std::array<rgb, 4> colours = {rgb{1.0, 0.97, 0.85}, rgb{1.0, 0.85, 0.15},
                                               rgb{0.25, 0.80, 0.95}, rgb{0.45, 0.90, 0.35}};
    for (int k = 0; k < 11; k++) {
        const double a = k * (2 * PI / 11) + 0.35 * hash01(k, 1, 7);
        const double rr = R + (hash01(k, 2, 7) - 0.5) * 3.2;
        const double sx = CX + rr * std::cos(a), sy = CY + rr * std::sin(a);
        const double dir = hash01(k, 3, 7) * PI;
        const double along = (x - sx) * std::cos(dir) + (y - sy) * std::sin(dir);
        const double across = -(x - sx) * std::sin(dir) + (y - sy) * std::cos(dir);
        if (std::abs(along) < 1.2 && std::abs(across) < 0.55 && icing > 0.5) {
            c = colours[k % colours.size()] * (0.55 + 0.5 * lit);
        }
    }
    return {c, 1.0};
}

// A rounded granite boulder. Its surroundings are transparent but keep a mortar colour, which
// walls (drawn without blending) show between the stones.
double boulder_radius(double ang) {
    return 14.6 + 0.9 * std::sin(3.0 * ang + 1.1) + 0.5 * std::sin(5.0 * ang + 2.3) +
           0.3 * std::sin(7.0 * ang + 0.4);
}
double boulder_height(double x, double y) {
    const double d = std::hypot(x - CX, y - CY);
    const double rr = boulder_radius(std::atan2(y - CY, x - CX));
    if (d >= rr) return 0.0;
    const double t = d / rr;
    return 7.0 * std::pow(1.0 - t * t, 0.45) + 0.9 * fbm(x, y, 32, 3, 8, 11);
}
sample stone(double x, double y) {
    const double d = std::hypot(x - CX, y - CY);
    const double rr = boulder_radius(std::atan2(y - CY, x - CX));
    const double grain = fbm(x, y, 32, 3, 4, 5);
    if (d >= rr) {
        const rgb mortar = rgb{0.30, 0.29, 0.27} * (0.9 + 0.4 * grain);
        return {mortar, 0.0};
    }
    double nx, ny, nz;
    normal_of(boulder_height, x, y, nx, ny, nz);
    const double lit = 0.28 + 0.85 * lambert(nx, ny, nz);
    const double speck = hash01(static_cast<int>(x * 2), static_cast<int>(y * 2), 3);
    rgb base = mix(rgb{0.50, 0.49, 0.46}, rgb{0.66, 0.63, 0.57}, 0.5 + grain);
    if (speck > 0.93) base = base * 0.72;  // dark mica
    if (speck < 0.04) base = base * 1.18;  // quartz
    const rgb c = base * lit + rgb{1, 1, 1} * (0.12 * glint(nx, ny, nz, 16));
    return {c, 1.0};
}

// A gold coin: raised rim, recessed field, an embossed star; faint shadow.
double star_distance(double x, double y) {
    // Positive inside the five-pointed star of outer radius 6.2, inner radius 2.6.
    const double ang = std::atan2(y - CY, x - CX) + PI / 2;  // a point straight up
    const double d = std::hypot(x - CX, y - CY);
    const double seg = 2 * PI / 5;
    double a = std::fmod(ang, seg);
    if (a < 0) a += seg;
    a = 1.0 - std::abs(a - seg / 2) / (seg / 2);  // 0 at a point, 1 between points
    const double edge = 6.2 * (1 - a) + 2.6 * a;
    return edge - d;
}
double coin_height(double x, double y) {
    constexpr double R = 13.2;
    const double d = std::hypot(x - CX, y - CY);
    if (d >= R) return 0.0;
    double h = 2.0;
    const double rim = smoothstep(R - 3.2, R - 2.2, d);     // raised rim
    h += 1.2 * rim * (1.0 - smoothstep(R - 1.2, R, d));     // rounded outer edge
    h += 0.9 * smoothstep(-0.6, 0.6, star_distance(x, y));  // the star
    return h;
}
sample coin(double x, double y) {
    constexpr double R = 13.2;
    const double d = std::hypot(x - CX, y - CY);
    if (d >= R) {
        const double sd = std::hypot(x - CX - 1.2, y - CY - 1.5);
        return {{0.05, 0.04, 0.0}, (1.0 - smoothstep(R - 1.5, R + 1.5, sd)) * 0.35};
    }
    double nx, ny, nz;
    normal_of(coin_height, x, y, nx, ny, nz);
    const double lit = 0.35 + 0.80 * lambert(nx, ny, nz);
    const rgb gold{0.98, 0.76, 0.18};
    rgb c = gold * lit + rgb{1.0, 0.95, 0.75} * (0.65 * glint(nx, ny, nz, 12));
    if (d > R - 0.9) c = c * 0.75;  // the edge seen from above is darker
    return {c, 1.0};
}

// The brush tip: an elongated, slanted impression, heavier at its lower right, with a soft
// edge and faint bristle streaks. White, so the stroke colour comes through unchanged.
sample ten(double x, double y) {
    const double a = PI / 4;  // slant: from the upper left to the lower right
    const double u = (x - CX) * std::cos(a) + (y - CY) * std::sin(a);   // along the slant
    const double v = -(x - CX) * std::sin(a) + (y - CY) * std::cos(a);  // across it
    const double len = 14.0;
    const double t = clamp01((u + len) / (2 * len));  // 0 at the upper left, 1 at the lower right
    const double half = 3.6 + 3.4 * std::sin(PI * std::pow(t, 0.8)) * (0.6 + 0.4 * t);
    const double e = std::pow(u / len, 2) + std::pow(v / half, 2);  // < 1 inside
    double alpha = 1.0 - smoothstep(0.62, 1.0, e);
    const double streak = 0.88 + 0.12 * std::sin(v * 2.6 + 0.8 * std::sin(u * 0.7));
    alpha *= (e < 0.62) ? 1.0 : streak;
    return {{1.0, 1.0, 1.0}, alpha};
}

// The battle floor: dark slate plates, 50 pixels square, with grooves and worn bevels. The
// tile repeats seamlessly: every pattern's period divides 200.
std::vector<unsigned char> render_background() {
    constexpr int PLATE = 50;
    std::vector<unsigned char> px(TILE * TILE * 3);
    for (int y = 0; y < TILE; y++) {
        for (int x = 0; x < TILE; x++) {
            const int gx = x / PLATE, gy = y / PLATE;
            const int lx = x % PLATE, ly = y % PLATE;
            const double tone = (hash01(gx, gy, 21) - 0.5) * 0.10;
            const double grain = fbm(x, y, TILE, 4, 25, 31);
            const double fine = fbm(x, y, TILE, 2, 5, 41);
            rgb c = rgb{0.205, 0.235, 0.270} * (1.0 + tone + 0.55 * grain + 0.25 * fine);
            // A faint, long vein through each plate.
            const double vein = std::abs(fbm(x, y, TILE, 3, 50, 51 + gx + 4 * gy));
            if (vein < 0.012) c = c * 1.10;
            // Grooves between plates: two pixels at the left and bottom of each plate; the
            // plate's upper and left edges catch the light, its lower and right edges do not.
            const bool groove = lx < 2 || ly >= PLATE - 2;
            if (groove) {
                c = rgb{0.085, 0.095, 0.11} * (1.0 + 0.3 * fine);
            } else if (ly == 0 || lx == 2) {
                c = c * 1.30;
            } else if (ly == PLATE - 3 || lx == PLATE - 1) {
                c = c * 0.70;
            }
            unsigned char *p = &px[(y * TILE + x) * 3];
            p[0] = static_cast<unsigned char>(std::lround(clamp01(c.r) * 255));
            p[1] = static_cast<unsigned char>(std::lround(clamp01(c.g) * 255));
            p[2] = static_cast<unsigned char>(std::lround(clamp01(c.b) * 255));
        }
    }
    return px;
}

}  // namespace

int main(int argc, char **argv) {
    const std::string dir = argc > 1 ? argv[1] : "images";
    bool ok = true;
    ok &= write_png(dir + "/doughnut.png", ICON, ICON, true, render_icon(doughnut));
    ok &= write_png(dir + "/stone.png", ICON, ICON, true, render_icon(stone));
    ok &= write_png(dir + "/coin.png", ICON, ICON, true, render_icon(coin));
    ok &= write_png(dir + "/ten.png", ICON, ICON, true, render_icon(ten));
    ok &= write_png(dir + "/background.png", TILE, TILE, false, render_background());
    return ok ? 0 : 1;
}
