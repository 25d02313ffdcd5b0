// picture_math.h: what both picture generators (make_images, make_viewer_images) compute
// with: colours, smooth steps and a lattice hash for noise.
#pragma once

#include <algorithm>
#include <cstdint>

namespace picture {

inline constexpr double PI = 3.141592653589793;
inline constexpr int SS = 4;  // samples per pixel along each axis

struct rgb {
    double r, g, b;
};
inline rgb operator*(rgb c, double k) { return {c.r * k, c.g * k, c.b * k}; }
inline rgb operator+(rgb a, rgb b) { return {a.r + b.r, a.g + b.g, a.b + b.b}; }
inline rgb mix(rgb a, rgb b, double t) { return a * (1.0 - t) + b * t; }

inline double clamp01(double v) { return std::min(1.0, std::max(0.0, v)); }
inline double smoothstep(double e0, double e1, double x) {
    const double t = clamp01((x - e0) / (e1 - e0));
    return t * t * (3.0 - 2.0 * t);
}

inline uint32_t hash(int x, int y, int seed) {
    uint32_t h = static_cast<uint32_t>(x) * 374761393u + static_cast<uint32_t>(y) * 668265263u +
                 static_cast<uint32_t>(seed) * 2246822519u;
    h = (h ^ (h >> 13)) * 1274126177u;
    return h ^ (h >> 16);
}
inline double hash01(int x, int y, int seed) { return (hash(x, y, seed) & 0xffffff) / 16777215.0; }

}  // namespace picture
