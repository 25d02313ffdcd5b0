// make_viewer_images: draws the browser viewer's eight pictures into images/ (run by hand from
// the source tree: make_viewer_images [DIR]). Clients may check the files by size, so each is
// written with exactly the byte length, pixel size and chunk sequence (IHDR, bKGD, IDAT, IEND,
// 8-bit RGBA) that the viewer's files have always had: the picture is deflated, and the part
// of the filtered rows that the size leaves room for goes out as stored blocks.
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "picture_math.h"

namespace {

using namespace picture;

struct rgba {
    double r, g, b, a;
};

double vnoise(double x, double y, double cell, int seed) {
    const double fx = x / cell, fy = y / cell;
    const int ix = static_cast<int>(std::floor(fx)), iy = static_cast<int>(std::floor(fy));
    const double tx = smoothstep(0, 1, fx - ix), ty = smoothstep(0, 1, fy - iy);
    const double a = hash01(ix, iy, seed), b = hash01(ix + 1, iy, seed);
    const double c = hash01(ix, iy + 1, seed), d = hash01(ix + 1, iy + 1, seed);
    return (a * (1 - tx) + b * tx) * (1 - ty) + (c * (1 - tx) + d * tx) * ty;
}
double fbm(double x, double y, int octaves, double cell, int seed) {
    double sum = 0, amp = 0.5, norm = 0;
    for (int o = 0; o < octaves; o++) {
        sum += amp * vnoise(x, y, cell, seed + o * 17);
        norm += amp;
        amp *= 0.5;
        cell /= 2;
    }
    return sum / norm - 0.5;
}

using shader = std::function<rgba(double, double)>;

// Supersampled RGBA, top row first; colour averaged by coverage so soft edges keep their hue.
// alpha_levels > 0 rounds the alpha to that many steps (a glow needs no more).
std::vector<unsigned char> render(int size, const shader &f, int alpha_levels) {
    std::vector<unsigned char> px(static_cast<size_t>(size) * size * 4);
    for (int y = 0; y < size; y++) {
        for (int x = 0; x < size; x++) {
            rgb acc{0, 0, 0}, plain{0, 0, 0};
            double alpha = 0;
            for (int j = 0; j < SS; j++) {
                for (int i = 0; i < SS; i++) {
                    const rgba s = f(x + (i + 0.5) / SS, y + (j + 0.5) / SS);
                    acc = acc + rgb{s.r, s.g, s.b} * s.a;
                    plain = plain + rgb{s.r, s.g, s.b};
                    alpha += s.a;
                }
            }
            const rgb c = alpha > 1e-9 ? acc * (1.0 / alpha) : plain * (1.0 / (SS * SS));
            unsigned char *p = &px[(static_cast<size_t>(y) * size + x) * 4];
            p[0] = static_cast<unsigned char>(std::lround(clamp01(c.r) * 255));
            p[1] = static_cast<unsigned char>(std::lround(clamp01(c.g) * 255));
            p[2] = static_cast<unsigned char>(std::lround(clamp01(c.b) * 255));
            double a = clamp01(alpha / (SS * SS));
            if (alpha_levels > 0) a = std::round(a * alpha_levels) / alpha_levels;
            p[3] = static_cast<unsigned char>(std::lround(a * 255));
        }
    }
    return px;
}

// ---- The turtle skins: 64 x 64, x right, y down ----

const rgb SHELL{0.45, 0.28, 0.12}, SPOT{0.20, 0.11, 0.05}, CREAM{0.96, 0.89, 0.70};
const rgb RIM{0.85, 0.10, 0.10}, LENS{0.08, 0.08, 0.12}, FOOT{0.80, 0.72, 0.52};
const rgba CLEAR{0, 0, 0, 0};

rgba opaque(rgb c) { return {c.r, c.g, c.b, 1.0}; }

// A dome of shell seen from the side: the upper half of an ellipse, darker at its rim, with
// dark spots.
bool shell_side(double x, double y, double cx, rgb &out) {
    const double ex = (x - cx) / 22.0, ey = (y - 40.0) / 22.0;
    if (y > 40.0 || ex * ex + ey * ey > 1.0) return false;
    const double d = std::sqrt(ex * ex + ey * ey);
    rgb c = SHELL * (1.05 - 0.45 * d * d + 0.3 * fbm(x, y, 3, 8, 3));
    const double sx = std::fmod(x + 64.0, 11.0) - 5.5, sy = std::fmod(y + 64.0, 9.0) - 4.5;
    if (sx * sx + sy * sy < 6.0 + 3.0 * hash01(static_cast<int>(x / 11), 0, 9)) c = SPOT;
    if (d > 0.93) c = SPOT * 1.4;
    out = c;
    return true;
}

// Red-rimmed dark glasses centred at (cx, cy), radius r.
bool glasses(double x, double y, double cx, double cy, double r, rgb &out) {
    const double d = std::hypot(x - cx, y - cy);
    if (d > r) return false;
    out = d > r * 0.7 ? RIM : LENS + rgb{0.5, 0.5, 0.6} * (d < r * 0.25 ? 0.6 : 0.0);
    return true;
}

// The head seen from the side at (cx, cy), facing `dir` (-1 left, +1 right).
bool head_side(double x, double y, double cx, double cy, int dir, rgb &out) {
    const double ex = (x - cx) / 10.0, ey = (y - cy) / 9.0;
    if (ex * ex + ey * ey > 1.0) {
        // the neck
        if (std::abs(y - cy - 4) < 4 && (x - cx) * dir < 0 && std::abs(x - cx) < 14) {
            out = CREAM * 0.85;
            return true;
        }
        return false;
    }
    if (glasses(x, y, cx + dir * 4.0, cy - 2.5, 3.6, out)) return true;
    out = CREAM * (1.05 - 0.25 * (ex * ex + ey * ey));
    if (std::abs(y - cy - 4.5) < 0.7 && (x - cx) * dir > 2) out = SPOT;  // the mouth
    return true;
}

bool foot(double x, double y, double cx, rgb &out) {
    const double ex = (x - cx) / 6.0, ey = (y - 47.0) / 8.0;
    if (ex * ex + ey * ey > 1.0) return false;
    out = FOOT * (1.0 - 0.3 * ey);
    if (y > 52 && std::fmod(x + 64.0, 3.0) < 0.8) out = SPOT * 1.6;  // toes
    return true;
}

rgba side_skin(double x, double y, int head_dir, bool with_feet) {
    rgb c;
    const double head_x = head_dir < 0 ? 9.0 : 55.0;
    if (head_side(x, y, head_x, 34.0, head_dir, c)) return opaque(c);
    if (shell_side(x, y, 32.0, c)) return opaque(c);
    if (with_feet && (foot(x, y, 20.0, c) || foot(x, y, 44.0, c))) return opaque(c);
    // The plastron: a cream band under the shell.
    if (y >= 40.0 && y < 44.0 && std::abs(x - 32.0) < 21.0) return opaque(CREAM * 0.8);
    return CLEAR;
}

rgba skin_side_left(double x, double y) { return side_skin(x, y, -1, false); }
rgba skin_side_right(double x, double y) { return side_skin(x, y, +1, true); }
rgba skin_side_left_feet(double x, double y) { return side_skin(x, y, -1, true); }

rgba skin_front(double x, double y) {
    rgb c;
    if (foot(x, y, 16.0, c) || foot(x, y, 48.0, c)) return opaque(c);
    const double d = std::hypot(x - 32.0, y - 28.0);
    if (d > 20.0) {
        if (shell_side(x, y, 32.0, c)) return opaque(c);  // the shell behind the face
        return CLEAR;
    }
    if (glasses(x, y, 24.0, 24.0, 6.5, c) || glasses(x, y, 40.0, 24.0, 6.5, c)) return opaque(c);
    if (std::abs(y - 24.0) < 0.9 && std::abs(x - 32.0) < 3.0) return opaque(RIM);  // the bridge
    // A smile: an arc below the glasses.
    const double s = std::hypot(x - 32.0, y - 30.0);
    if (std::abs(s - 9.0) < 0.9 && y > 33.0) return opaque(SPOT);
    const double cheek = std::hypot(x - 32.0 - (x < 32 ? -12.0 : 12.0), y - 36.0);
    rgb face = CREAM * (1.05 - 0.3 * (d / 20.0) * (d / 20.0));
    if (cheek < 3.5) face = mix(face, rgb{0.95, 0.55, 0.50}, 0.5);
    return opaque(face);
}

rgba skin_rear(double x, double y) {
    rgb c;
    if (foot(x, y, 18.0, c) || foot(x, y, 46.0, c)) return opaque(c);
    // The tail: a small dark cone between the feet.
    if (y > 40.0 && y < 52.0 && std::abs(x - 32.0) < (52.0 - y) * 0.35) return opaque(SPOT);
    if (shell_side(x, y, 32.0, c)) return opaque(c);
    if (y >= 40.0 && y < 43.0 && std::abs(x - 32.0) < 21.0) return opaque(CREAM * 0.8);
    return CLEAR;
}

// ---- Glows: 32 x 32, one colour fading to transparent ----

shader glow(rgb colour) {
    return [colour](double x, double y) {
        const double d = std::hypot(x - 16.0, y - 16.0) / 16.0;
        const double a = std::pow(clamp01(1.0 - d), 1.6);
        return rgba{colour.r, colour.g, colour.b, a};
    };
}

// ---- Granite: 64 x 64, opaque, grains of three minerals and a dark rim ----

rgba granite(double x, double y) {
    const double g = fbm(x, y, 3, 6, 71);
    const double grain = hash01(static_cast<int>(x * 0.8), static_cast<int>(y * 0.8), 73);
    rgb c = rgb{0.55, 0.54, 0.52} * (1.0 + 0.35 * g);
    if (grain > 0.86)
        c = rgb{0.18, 0.18, 0.19};  // dark mica
    else if (grain < 0.10)
        c = rgb{0.80, 0.76, 0.72};  // feldspar
    else if (grain < 0.16)
        c = rgb{0.62, 0.52, 0.48};  // pinkish grains
    c = c * (0.92 + 0.16 * hash01(static_cast<int>(x * 4), static_cast<int>(y * 4), 79));
    const double edge = std::min(std::min(x, 64.0 - x), std::min(y, 64.0 - y));
    c = c * (0.35 + 0.65 * smoothstep(0.0, 4.0, edge));
    return opaque(c);
}

// ---- PNG writing with an exact file size ----

void put32(std::vector<unsigned char> &out, uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<unsigned char>(v >> s));
}

void chunk(std::vector<unsigned char> &out, const char *type, const std::vector<unsigned char> &d) {
    put32(out, static_cast<uint32_t>(d.size()));
    const size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), d.begin(), d.end());
    put32(out, static_cast<uint32_t>(
                   crc32(0, out.data() + start, static_cast<uInt>(out.size() - start))));
}

// Each row with the filter that gives the smallest sum of absolute differences.
std::vector<unsigned char> filter_rows(int size, const std::vector<unsigned char> &px) {
    const int stride = size * 4;
    std::vector<unsigned char> out;
    std::vector<unsigned char> zero(stride, 0);
    for (int y = 0; y < size; y++) {
        const unsigned char *row = &px[static_cast<size_t>(y) * stride];
        const unsigned char *up = y > 0 ? row - stride : zero.data();
        std::vector<unsigned char> best;
        long best_cost = -1;
        for (int f = 0; f < 5; f++) {
            std::vector<unsigned char> r(1, static_cast<unsigned char>(f));
            long cost = 0;
            for (int i = 0; i < stride; i++) {
                const int a = i >= 4 ? row[i - 4] : 0, b = up[i], c = i >= 4 ? up[i - 4] : 0;
                int pred = 0;
                if (f == 1) pred = a;
                if (f == 2) pred = b;
                if (f == 3) pred = (a + b) / 2;
                if (f == 4) {
                    const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b);
                    const int pc = std::abs(p - c);
                    pred = (pa <= pb && pa <= pc) ? a : (pb <= pc ? b : c);
                }
                const unsigned char v = static_cast<unsigned char>(row[i] - pred);
                r.push_back(v);
                cost += v < 128 ? v : 256 - v;
            }
            if (best_cost < 0 || cost < best_cost) best_cost = cost, best = r;
        }
        out.insert(out.end(), best.begin(), best.end());
    }
    return out;
}

// The zlib stream of `raw` whose first `deflated` bytes are compressed at level 9 and whose
// remaining bytes are stored.
std::vector<unsigned char> zstream(const std::vector<unsigned char> &raw, size_t deflated) {
    z_stream z{};
    deflateInit(&z, 9);
    std::vector<unsigned char> out(raw.size() * 2 + 1024);
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    z.next_in = const_cast<unsigned char *>(raw.data());
    z.avail_in = static_cast<uInt>(deflated);
    deflate(&z, Z_NO_FLUSH);
    deflateParams(&z, 0, Z_DEFAULT_STRATEGY);
    z.avail_in = static_cast<uInt>(raw.size() - deflated);
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

bool write_png(const std::string &path, int size, const std::vector<unsigned char> &px,
               size_t file_bytes) {
    constexpr size_t FIXED = 8 + 25 + 18 + 12 + 12;  // signature and all but the IDAT data
    const std::vector<unsigned char> raw = filter_rows(size, px);
    const size_t want = file_bytes - FIXED;
    // Fewer deflated bytes make the stream longer; step down from "all" to the exact length.
    std::vector<unsigned char> z;
    size_t lo = 0, hi = raw.size();
    while (hi - lo > 64) {  // the largest prefix whose stream is still at least `want` bytes
        const size_t mid = (lo + hi) / 2;
        if (zstream(raw, mid).size() >= want)
            lo = mid;
        else
            hi = mid;
    }
    bool found = false;
    for (size_t k = std::min(raw.size(), hi + 64); k + 128 > lo && k > 0; k--) {
        z = zstream(raw, k);
        if (z.size() == want) {
            found = true;
            break;
        }
    }
    if (!found) {
        std::fprintf(stderr,
                     "make_viewer_images: %s: no stream of %zu bytes (picture deflates "
                     "to %zu)\n",
                     path.c_str(), want, zstream(raw, raw.size()).size());
        return false;
    }

    std::vector<unsigned char> file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    std::vector<unsigned char> ihdr;
    put32(ihdr, static_cast<uint32_t>(size));
    put32(ihdr, static_cast<uint32_t>(size));
    ihdr.insert(ihdr.end(), {8, 6, 0, 0, 0});  // 8 bits, RGBA, deflate, adaptive, no interlace
    chunk(file, "IHDR", ihdr);
    chunk(file, "bKGD", {0, 255, 0, 255, 0, 255});  // white
    chunk(file, "IDAT", z);
    chunk(file, "IEND", {});
    FILE *fp = std::fopen(path.c_str(), "wb");
    if (fp == nullptr) return false;
    const bool ok = std::fwrite(file.data(), 1, file.size(), fp) == file.size();
    if (std::fclose(fp) != 0 || !ok) return false;
    std::printf("wrote %s (%zu bytes)\n", path.c_str(), file.size());
    return true;
}

}  // namespace

int main(int argc, char **argv) {
    const std::string dir = argc > 1 ? argv[1] : "images";
    struct picture {
        const char *name;
        int size;
        shader draw;
        size_t bytes;
        int alpha_levels;
    };
    const picture pictures[] = {
        {"viewer0.png", 64, skin_side_left, 4240, 0},
        {"viewer1.png", 64, skin_front, 4896, 0},
        {"viewer2.png", 64, skin_side_right, 3326, 0},
        {"viewer3.png", 64, skin_rear, 4181, 0},
        {"viewer4.png", 64, skin_side_left_feet, 3319, 0},
        {"viewer5.png", 32, glow({1, 1, 1}), 481, 12},
        {"viewer6.png", 32, glow({1.0, 0.25, 0.15}), 691, 16},
        {"viewer7.png", 64, granite, 11961, 0},
    };
    bool ok = true;
    for (const picture &p : pictures) {
        ok &=
            write_png(dir + "/" + p.name, p.size, render(p.size, p.draw, p.alpha_levels), p.bytes);
    }
    return ok ? 0 : 1;
}
