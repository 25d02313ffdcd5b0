// floor_readback.cpp: reads the changed part of the paint layer back for the viewers, from an
// off-screen buffer around the layer's texture, so that any frame can read it whatever the back
// buffer holds.
#include "draw/floor_readback.h"

#define GL_GLEXT_PROTOTYPES 1
#include <GL/freeglut.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>

#include "draw/gl_objects.h"
#include "draw/scenery.h"

namespace {

using clock_type = std::chrono::steady_clock;

constexpr floor_rect WHOLE_FLOOR{0, 0, FLOOR_SIDE, FLOOR_SIDE};
constexpr double EDGE_PIXELS = 2.0;        // beyond a shape's own extent: rasterisation, smoothing
constexpr double TEXT_CHAR_PIXELS = 12.0;  // widest glyph of the painter's font
constexpr double TEXT_ABOVE = 14.0, TEXT_BELOW = 5.0;  // pixels around the text's baseline

floor_rect dirty;
bool whole_due = true;  // the viewers have nothing yet
clock_type::time_point last_read;
// The off-screen buffer around the paint layer's texture, made at the first read and again
// whenever the layer is a new texture.
struct layer_reader {
    gl_framebuffer fbo;
    GLuint texture = 0;  // the texture fbo was made for
    bool usable = false;
};
layer_reader reader;
constexpr std::size_t KEPT_TIMES = 4096;
std::vector<double> step_times, read_times;

void keep_time(std::vector<double> &times, clock_type::time_point start) {
    if (times.size() == KEPT_TIMES) times.erase(times.begin());
    times.push_back(std::chrono::duration<double, std::micro>(clock_type::now() - start).count());
}

// Field bounds (units) widened by margin, as picture pixels clamped to the picture.
struct field_box {
    double x0 = INFINITY, y0 = INFINITY, x1 = -INFINITY, y1 = -INFINITY;
    bool bad = false;
    void add(double x, double y, double margin) {
        if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(margin)) {
            bad = true;
            return;
        }
        x0 = std::min(x0, x - margin), x1 = std::max(x1, x + margin);
        y0 = std::min(y0, y - margin), y1 = std::max(y1, y + margin);
    }
    floor_rect pixels() const {
        if (bad) return WHOLE_FLOOR;
        if (x0 > x1) return {};
        const double half = FLOOR_SIDE / 2.0;
        const int c0 = static_cast<int>(std::clamp(std::floor(x0) + half, 0.0, 1.0 * FLOOR_SIDE));
        const int c1 =
            static_cast<int>(std::clamp(std::floor(x1) + half + 1, 0.0, 1.0 * FLOOR_SIDE));
        const int r0 =
            static_cast<int>(std::clamp(half - 1 - std::floor(y1), 0.0, 1.0 * FLOOR_SIDE));
        const int r1 = static_cast<int>(std::clamp(half - std::floor(y0), 0.0, 1.0 * FLOOR_SIDE));
        if (c1 <= c0 || r1 <= r0) return {};
        return {c0, r0, c1 - c0, r1 - r0};
    }
};

field_box dab_box;  // the brush's dabs of the report being measured
void record_dab(double x, double y, double size, double, double, double) {
    dab_box.add(x, y, std::fabs(size) / 2.0 + EDGE_PIXELS);
}

// The reader for the paint layer as it is now; false when the GL cannot make one.
bool ready_reader() {
    if (reader.texture == bg_textures.get()) return reader.usable;
    reader.texture = bg_textures.get();
    reader.fbo = gl_framebuffer::generate();
    GLint previous = 0;
    glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING, &previous);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, reader.fbo.get());
    glFramebufferTexture2D(GL_READ_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, reader.texture,
                           0);
    reader.usable = glCheckFramebufferStatus(GL_READ_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
    glBindFramebuffer(GL_READ_FRAMEBUFFER, static_cast<GLuint>(previous));
    return reader.usable;
}

// The picture rows r.y .. r.y + h - 1, top first, from the layer's texture. Leaves no binding
// or pixel store changed.
floor_patch read_rect(const floor_rect &r, bool flipped) {
    static_assert(FLOOR_SIDE == WINDOW_SIZE, "the picture is the paint layer pixel for pixel");
    floor_patch p;
    p.rect = r;
    const std::size_t row_bytes = static_cast<std::size_t>(r.w) * 3;
    p.rgb.resize(row_bytes * r.h);
    glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glPixelStorei(GL_PACK_ROW_LENGTH, 0);
    glPixelStorei(GL_PACK_SKIP_ROWS, 0);
    glPixelStorei(GL_PACK_SKIP_PIXELS, 0);
    // A flipped layer's texture rows run top down as the picture's do; a plain one's bottom up.
    const int first_row = flipped ? r.y : FLOOR_SIDE - r.y - r.h;
    if (ready_reader()) {
        GLint previous = 0;
        glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING, &previous);
        glBindFramebuffer(GL_READ_FRAMEBUFFER, reader.fbo.get());
        glReadBuffer(GL_COLOR_ATTACHMENT0);
        glReadPixels(r.x, first_row, r.w, r.h, GL_RGB, GL_UNSIGNED_BYTE, p.rgb.data());
        glBindFramebuffer(GL_READ_FRAMEBUFFER, static_cast<GLuint>(previous));
    } else {
        std::vector<unsigned char> all(static_cast<std::size_t>(FLOOR_SIDE) * FLOOR_SIDE * 3);
        GLint previous = 0;
        glGetIntegerv(GL_TEXTURE_BINDING_2D, &previous);
        glBindTexture(GL_TEXTURE_2D, bg_textures.get());
        glGetTexImage(GL_TEXTURE_2D, 0, GL_RGB, GL_UNSIGNED_BYTE, all.data());
        glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(previous));
        for (int i = 0; i < r.h; i++) {
            std::memcpy(&p.rgb[row_bytes * i], &all[((first_row + i) * FLOOR_SIDE + r.x) * 3],
                        row_bytes);
        }
    }
    glPopClientAttrib();
    if (!flipped) {
        for (int i = 0; i < r.h / 2; i++) {
            std::swap_ranges(p.rgb.begin() + row_bytes * i, p.rgb.begin() + row_bytes * (i + 1),
                             p.rgb.begin() + row_bytes * (r.h - 1 - i));
        }
    }
    return p;
}

}  // namespace

floor_rect paint_report_bounds(const paint_report &rep) {
    if (!rep.alive) return {};
    field_box box;
    const pen_shape &pen = rep.pen;
    if (pen.kind != pen_kind::none) {
        const double margin =
            (pen.kind == pen_kind::fill ? 0.0 : std::fabs(pen.size) / 2.0) + EDGE_PIXELS;
        for (int i = 0; i < pen.nvertex; i++) box.add(pen.vertex[i].x, pen.vertex[i].y, margin);
    }
    if (rep.brush != brush_work::none) {
        dab_box = {};
        paint_by_brush(rep.stroke, rep.brush == brush_work::close ? 1 : 0, record_dab);
        box.bad = box.bad || dab_box.bad;
        if (dab_box.x0 <= dab_box.x1) {
            box.add(dab_box.x0, dab_box.y0, 0.0);
            box.add(dab_box.x1, dab_box.y1, 0.0);
        }
    }
    if (rep.text) {
        const double width =
            TEXT_CHAR_PIXELS * static_cast<double>(strnlen(rep.msg, sizeof rep.msg));
        box.add(rep.msg_pos.x - EDGE_PIXELS, rep.msg_pos.y - TEXT_BELOW, 0.0);
        box.add(rep.msg_pos.x + width + EDGE_PIXELS, rep.msg_pos.y + TEXT_ABOVE, 0.0);
    }
    return box.pixels();
}

void floor_readback(const frame_report &rep, bool painted, bool fresh, bool flipped) {
    const auto start = clock_type::now();
    if (fresh) whole_due = true;
    if (painted && !fresh) {
        for (int t = 0; t < rep.npaint; t++) {
            dirty = rect_union(dirty, paint_report_bounds(rep.paint[t]));
        }
    }
    if (whole_due) dirty = WHOLE_FLOOR;
    const bool due = !dirty.empty() &&
                     start - last_read >= std::chrono::milliseconds(1000 / FLOOR_READS_PER_SECOND);
    if (due) {
        last_read = start;
        const auto read_start = clock_type::now();
        floor_patch p = read_rect(dirty, flipped);
        keep_time(read_times, read_start);
        dirty = {};
        whole_due = !publish_floor_patch(std::move(p));
    }
    if (painted || due) keep_time(step_times, start);
}

std::vector<double> floor_readback_times() { return step_times; }
std::vector<double> floor_read_times() { return read_times; }
