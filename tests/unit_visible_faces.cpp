// unit_visible_faces.cpp: the faces left out before drawing are exactly ones that cannot colour
// a pixel: turned away, or with no pixel centre inside. Checked against every pixel centre near
// thousands of random small faces.
#include <random>

#include "draw/visible_faces.h"
#include "support.h"

namespace {

// Object coordinates are window pixels: x and y map onto a 512-pixel viewport unchanged.
window_transform pixels_as_object_units() {
    window_transform t;
    t.m = {1.0 / 256.0, 0, 0, 0, 0, 1.0 / 256.0, 0, 0, 0, 0, 1.0, 0, -1.0, -1.0, 0, 1.0};
    t.width = t.height = 512.0;
    t.usable = true;
    return t;
}

// Twice the signed area of (a, b, p): positive when p lies left of a -> b.
double edge(const mesh_vertex &a, const mesh_vertex &b, double px, double py) {
    return (b.x - a.x) * (py - a.y) - (b.y - a.y) * (px - a.x);
}

// Whether the counter-clockwise face (a, b, c) contains a pixel centre, edges included.
bool covers_a_centre(const mesh_vertex &a, const mesh_vertex &b, const mesh_vertex &c) {
    for (double y = std::floor(std::min({a.y, b.y, c.y})) - 0.5; y <= std::max({a.y, b.y, c.y}) + 1;
         y++) {
        for (double x = std::floor(std::min({a.x, b.x, c.x})) - 0.5;
             x <= std::max({a.x, b.x, c.x}) + 1; x++) {
            if (edge(a, b, x, y) >= 0 && edge(b, c, x, y) >= 0 && edge(c, a, x, y) >= 0) {
                return true;
            }
        }
    }
    return false;
}

}  // namespace

TEST(VisibleFaces, OnlyFacesTurnedAwayOrCoveringNoPixelCentreAreLeftOut) {
    std::mt19937 random(5);
    std::uniform_real_distribution<double> place(40.0, 470.0), spread(-1.5, 1.5);
    std::vector<mesh_vertex> vertices;
    std::vector<uint16_t> indices, kept;
    for (int f = 0; f < 6000; f++) {
        const double x = place(random), y = place(random);
        // Faces from a tenth of a pixel to three across; some exactly on pixel centres.
        const double size = f % 3 == 0 ? 0.1 : 1.0;
        for (int k = 0; k < 3; k++) {
            double vx = x + size * spread(random), vy = y + size * spread(random);
            if (f % 7 == 0) vx = std::round(vx) + 0.5, vy = std::round(vy) + 0.5;
            vertices.push_back({0, 0, 1, static_cast<float>(vx), static_cast<float>(vy), 0});
            indices.push_back(static_cast<uint16_t>(vertices.size() - 1));
        }
    }
    select_visible_faces(vertices, indices, pixels_as_object_units(), kept);
    std::set<std::array<uint16_t, 3>> kept_faces;
    for (std::size_t i = 0; i + 2 < kept.size(); i += 3) {
        kept_faces.insert({kept[i], kept[i + 1], kept[i + 2]});
    }
    int drawn = 0, left_out_drawn = 0, turned_away_kept = 0;
    for (std::size_t i = 0; i + 2 < indices.size(); i += 3) {
        const mesh_vertex &a = vertices[indices[i]], &b = vertices[indices[i + 1]],
                          &c = vertices[indices[i + 2]];
        const bool front = edge(a, b, c.x, c.y) > 0;
        const bool draws = front && covers_a_centre(a, b, c);
        const bool was_kept = kept_faces.count({indices[i], indices[i + 1], indices[i + 2]}) > 0;
        drawn += draws;
        left_out_drawn += draws && !was_kept;
        turned_away_kept += edge(a, b, c.x, c.y) < -0.1 && was_kept;
    }
    EXPECT_GT(drawn, 1000) << "the random faces should often draw";
    EXPECT_EQ(left_out_drawn, 0);
    EXPECT_EQ(turned_away_kept, 0);
    EXPECT_LT(kept.size(), indices.size() / 2) << "most of these faces draw nothing";
}

// A face with a vertex outside the view volume may be clipped into new vertices, and an
// unknown transform tells nothing: the renderer decides those.
TEST(VisibleFaces, FacesAtTheViewsEdgeAndUnderAnUnknownTransformAreKept) {
    const std::vector<mesh_vertex> tiny = {{0, 0, 1, 600.0f, 10.2f, 0}, {0, 0, 1, 600.1f, 10.2f, 0},
                                           {0, 0, 1, 600.0f, 10.3f, 0}, {0, 0, 1, 10.2f, 10.2f, 0},
                                           {0, 0, 1, 10.3f, 10.2f, 0},  {0, 0, 1, 10.2f, 10.3f, 0}};
    const std::vector<uint16_t> faces = {0, 1, 2, 3, 4, 5};
    std::vector<uint16_t> kept;
    select_visible_faces(tiny, faces, pixels_as_object_units(), kept);
    EXPECT_EQ(kept, std::vector<uint16_t>({0, 1, 2}));
    window_transform unknown = pixels_as_object_units();
    unknown.usable = false;
    select_visible_faces(tiny, faces, unknown, kept);
    EXPECT_EQ(kept, faces);
}
