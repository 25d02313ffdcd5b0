// http_floor.cpp: the floor pictures of the live view. The patches the frame hands over are
// laid into one picture of the whole floor; each picture a request asks for (the whole floor,
// or what changed since a version) is encoded once, outside the frame, and shared by every
// request for it until the floor changes again.
#include <png.h>

#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>

#include "server/httpd.h"

namespace {

constexpr std::size_t HISTORY = 512;  // versions whose rectangles since/V can still add up
constexpr std::size_t ROW_BYTES = static_cast<std::size_t>(FLOOR_SIDE) * 3;
constexpr uint64_t WHOLE = UINT64_MAX;  // cache key of the whole picture

// One picture as sent: the rectangle's pixels until encoded, then the PNG file.
struct floor_picture {
    std::once_flag once;
    floor_rect rect;
    std::vector<unsigned char> rgb;  // rows of rect, top first; emptied once encoded
    std::string png;
};

std::mutex floor_mutex;  // guards everything below; never held while encoding
std::vector<unsigned char> canvas(ROW_BYTES *FLOOR_SIDE, 0);
uint64_t version = 0;
std::deque<std::pair<uint64_t, floor_rect>> history;          // newest last
std::map<uint64_t, std::shared_ptr<floor_picture>> pictures;  // of `version`, by since-version

void absorb_locked() {
    for (floor_patch &p : take_floor_patches()) {
        const floor_rect &r = p.rect;
        if (r.x < 0 || r.y < 0 || r.x + r.w > FLOOR_SIDE || r.y + r.h > FLOOR_SIDE ||
            p.rgb.size() != static_cast<std::size_t>(r.w) * r.h * 3) {
            continue;
        }
        for (int row = 0; row < r.h; row++) {
            std::memcpy(&canvas[(r.y + row) * ROW_BYTES + r.x * 3], &p.rgb[row * r.w * 3],
                        static_cast<std::size_t>(r.w) * 3);
        }
        version = p.version;
        history.emplace_back(p.version, r);
        if (history.size() > HISTORY) history.pop_front();
        pictures.clear();
    }
}

// What changed after version `since`; the whole floor when the history does not reach back
// that far or `since` is not a version yet.
floor_rect changed_since(uint64_t since) {
    const floor_rect whole{0, 0, FLOOR_SIDE, FLOOR_SIDE};
    if (since > version) return whole;
    if (since == version) return {};
    if (history.empty() || history.front().first > since + 1) return whole;
    floor_rect r;
    for (const auto &[v, rect] : history) {
        if (v > since) r = rect_union(r, rect);
    }
    return r;
}

std::shared_ptr<floor_picture> picture_locked(uint64_t key, const floor_rect &r) {
    auto &p = pictures[key];
    if (p == nullptr) {
        p = std::make_shared<floor_picture>();
        p->rect = r;
        p->rgb.resize(static_cast<std::size_t>(r.w) * r.h * 3);
        for (int row = 0; row < r.h; row++) {
            std::memcpy(&p->rgb[row * r.w * 3], &canvas[(r.y + row) * ROW_BYTES + r.x * 3],
                        static_cast<std::size_t>(r.w) * 3);
        }
    }
    return p;
}

void append_png_bytes(png_structp png, png_bytep data, png_size_t n) {
    static_cast<std::string *>(png_get_io_ptr(png))->append(reinterpret_cast<char *>(data), n);
}

// Reads "live/floor/since/V": V as a version, false when it is not a number.
bool since_version(const char *path, uint64_t *v) {
    constexpr const char *PREFIX = "live/floor/since/";
    const std::size_t n = std::strlen(PREFIX);
    if (std::strncmp(path, PREFIX, n) != 0 || !is_dec_number(path + n)) return false;
    errno = 0;
    const unsigned long long x = std::strtoull(path + n, nullptr, 10);
    *v = errno == ERANGE ? UINT64_MAX - 1 : x;
    return true;
}

}  // namespace

std::string encode_png_rgb(const unsigned char *rgb, int w, int h, std::size_t stride) {
    std::string out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (png == nullptr) return out;
    png_infop info = png_create_info_struct(png);
    if (info == nullptr || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return {};
    }
    png_set_write_fn(png, &out, append_png_bytes, nullptr);
    png_set_IHDR(png, info, static_cast<png_uint_32>(w), static_cast<png_uint_32>(h), 8,
                 PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int row = 0; row < h; row++) {
        png_write_row(png, const_cast<png_bytep>(rgb + stride * row));
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

uint64_t floor_absorb() {
    std::lock_guard lock(floor_mutex);
    absorb_locked();
    return version;
}

content_ptr generate_live_floor(const char *path) {
    uint64_t since = 0;
    const bool whole = std::strcmp(path, "live/floor.png") == 0;
    if (!whole && !since_version(path, &since)) return nullptr;
    std::shared_ptr<floor_picture> pic;
    uint64_t now = 0;
    floor_rect r;
    {
        std::lock_guard lock(floor_mutex);
        absorb_locked();
        now = version;
        r = whole ? floor_rect{0, 0, FLOOR_SIDE, FLOOR_SIDE} : changed_since(since);
        const bool all = r == floor_rect{0, 0, FLOOR_SIDE, FLOOR_SIDE};
        if (!r.empty()) pic = picture_locked(all ? WHOLE : since, r);
    }
    auto c = std::make_unique<container>();
    c->mimetype = MIME_PNG;
    c->malloced = 1;
    char lines[160];
    std::snprintf(lines, sizeof lines, "X-Floor-Version: %llu\r\n",
                  static_cast<unsigned long long>(now));
    c->headers = lines;
    if (!whole) {
        std::snprintf(lines, sizeof lines, "X-Floor-Rect: %d %d %d %d\r\n", r.x, r.y, r.w, r.h);
        c->headers += lines;
    }
    c->headers += std::string("Cache-Control: no-cache\r\n") + LIVE_HEADERS;
    if (pic != nullptr) {
        std::call_once(pic->once, [&] {
            pic->png = encode_png_rgb(pic->rgb.data(), r.w, r.h, static_cast<std::size_t>(r.w) * 3);
            pic->rgb = {};
        });
        c->data = reinterpret_cast<const unsigned char *>(pic->png.data());
        c->length = static_cast<int>(pic->png.size());
        c->keep = pic;
    }
    return c;
}
