// http_content.cpp: what the web viewer server sends: the viewer page with its script list,
// the JSON documents of turtles, walls, coins and camera, the eight images, the two built-in
// scripts, and the routing of the live view's fixed paths. Documents are formatted from the
// frame's published snapshot, each at most once per frame, so one document never mixes two
// frames and formatting never holds up a frame.
#include <strings.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "server/httpd.h"

// Compiled in from images/ and web/ (cmake/images.cmake).
extern const unsigned char png_img0[], png_img1[], png_img2[], png_img3[], png_img4[], png_img5[],
    png_img6[], png_img7[];
extern const unsigned int png_img0_size, png_img1_size, png_img2_size, png_img3_size, png_img4_size,
    png_img5_size, png_img6_size, png_img7_size;
extern const char viewer_js[], three_min_js[], replay_js[];
extern const unsigned int viewer_js_size, three_min_js_size, replay_js_size;

std::array<std::string, MAX_JSCRIPT> msg_jscript_srcp;
int n_jscript = 0;

const char msg404[] =
    "<html><head><title>404 Not Found</title></head><body><h2>404 Not Found</h2>"
    "<h3>The document requested was not found.</h3></body></html>\n";

namespace {

constexpr int URI_COPY_CHARS = 1023;
constexpr int SCRIPT_TAG_CHARS = 2047;

const char msg_html_template1[] =
    "<html><head><title>Kelpmoor</title><meta http-equiv=\"Content-Type\" "
    "content=\"text/html; charset=utf-8\"/>\r\n"
    "<style>\r\n"
    "canvas { width: 100%; height: 100%; background-color: #002040; } \r\n"
    "a:link { color: #90ffff; text-decoration: none; } \r\n"
    "a:visited { color: #90ffff; text-decoration: none; } \r\n"
    "a:hover { color: #90ffff; text-decoration: underline; } \r\n"
    "</style>\r\n";

const char msg_html_template2[] =
    "</head><body onload=\"webGLStart();\" style=\"background-color: #002040; margin:0; \">\r\n"
    "<div id= \"score0\"></div><div id= \"score1\"></div><div id =\"score2\"></div>"
    "<div id= \"score3\"></div>\r\n"
    "<div id= \"score4\"></div><div id= \"score5\"></div><div id =\"score6\"></div>"
    "<div id= \"score7\"></div>\r\n"
    "<div id= \"score8\"></div><div id= \"score9\"></div><div id=\"score10\"></div>"
    "<div id=\"score11\"></div>\r\n"
    "<div id=\"score12\"></div><div id=\"score13\"></div><div id=\"score14\"></div>"
    "<div id=\"score15\"></div>\r\n"
    "<div id=\"score16\"></div><div id=\"score17\"></div><div id=\"score18\"></div>"
    "<div id=\"score19\"></div>\r\n"
    "<div id=\"score20\"></div><div id=\"score21\"></div><div id=\"score22\"></div>"
    "<div id=\"score23\"></div>\r\n"
    "<div id=\"score24\"></div><div id=\"score25\"></div><div id=\"score26\"></div>"
    "<div id=\"score27\"></div>\r\n"
    "<div id=\"score28\"></div><div id=\"score29\"><br/><div id=\"result\"></div>"
    "</body></html>\n";

const char *const msg_template_jscript_srcp[2] = {VIEWER_JS_PATH, THREE_JS_PATH};

// Appends "KEY":VALUE pairs; the first of an object is preceded by "{", later ones by ",".
struct json_object {
    std::string &out;
    bool first = true;
    template <typename T>
    void number(const char *key, T v) {
        start(key);
        append_number(out, v);
    }
    void boolean(const char *key, bool v) {
        start(key);
        out += v ? "true" : "false";
    }
    void start(const char *key) {
        out += first ? "{\"" : ",\"";
        first = false;
        out += key;
        out += "\":";
    }
    void end() { out += '}'; }
};

content_ptr shared(int mimetype, const void *data, unsigned int length) {
    auto c = std::make_unique<container>();
    c->mimetype = mimetype;
    c->data = static_cast<const unsigned char *>(data);
    c->length = static_cast<int>(length);
    return c;
}

// A text formatted once, by whichever request first needs it.
struct lazy_text {
    std::once_flag once;
    std::string text;
    template <typename F>
    const std::string &get(F make) {
        std::call_once(once, [&] { text = make(); });
        return text;
    }
};

// The documents of one published frame, formatted on demand and shared by every request that
// frame serves.
struct formatted_frame {
    explicit formatted_frame(frame_ptr s) : snap(std::move(s)) {}
    frame_ptr snap;
    lazy_text turtles, walls, coins;
    std::array<lazy_text, NTURTLE + 1> cameras;  // NTURTLE: the overview
};
using formatted_ptr = std::shared_ptr<formatted_frame>;

// The documents of the latest frame. Before any frame is published the world is copied under
// the lock, for this request alone.
formatted_ptr formatted_now() {
    frame_ptr snap = latest_frame();
    if (snap == nullptr) {
        auto own = std::make_shared<frame_snapshot>();
        {
            std::lock_guard lock(frame_rendering_mutex);
            take_snapshot(*own, nullptr);
        }
        return std::make_shared<formatted_frame>(std::move(own));
    }
    // Never destroyed: a connection still being served while the process exits may use it.
    struct shared_documents {
        std::mutex mutex;
        formatted_ptr current;
    };
    static shared_documents &latest = *new shared_documents;
    std::lock_guard lock(latest.mutex);
    if (latest.current == nullptr || latest.current->snap != snap) {
        latest.current = std::make_shared<formatted_frame>(std::move(snap));
    }
    return latest.current;
}

// A JSON body that points into the formatted frame it keeps alive.
content_ptr shared_json(const formatted_ptr &f, const std::string &text) {
    auto c = std::make_unique<container>();
    c->mimetype = MIME_JSON;
    c->data = reinterpret_cast<const unsigned char *>(text.data());
    c->length = static_cast<int>(text.size());
    c->malloced = 1;
    c->keep = f;
    return c;
}

// The slot a URI's first segment names in the snapshot, or -1.
int find_turtle_by_name(const frame_snapshot &s, const char *name) {
    if ((name[0] == '$' || name[0] == '~') && is_dec_number(name + 1)) {
        errno = 0;
        const long n = std::strtol(name + 1, nullptr, 10);
        if (errno == ERANGE || n >= s.ntmax) return -1;
        return (s.turtles[n].status & ST_ALIVE) ? static_cast<int>(n) : -1;
    }
    for (int t = 0; t < s.ntmax; t++) {
        if ((s.turtles[t].status & ST_ALIVE) && strcasecmp(s.turtles[t].name, name) == 0) return t;
    }
    return -1;
}

content_ptr generate_json_for_turtle() {
    const formatted_ptr f = formatted_now();
    const frame_snapshot &s = *f->snap;
    return shared_json(
        f, f->turtles.get([&] { return json_for_turtles(s.turtles.data(), s.ntmax, s.tick); }));
}

content_ptr generate_json_for_wall() {
    const formatted_ptr f = formatted_now();
    const frame_snapshot &s = *f->snap;
    return shared_json(f, f->walls.get([&] { return json_for_walls(s.walls.data(), s.nwall); }));
}

content_ptr generate_json_for_coin() {
    const formatted_ptr f = formatted_now();
    const frame_snapshot &s = *f->snap;
    return shared_json(f, f->coins.get([&] { return json_for_coins(s.coins.data(), s.ncoin); }));
}

// The camera of the turtle that `first` names (null: none), in the same frame as its name.
content_ptr generate_json_for_camera(const char *first) {
    const formatted_ptr f = formatted_now();
    const frame_snapshot &s = *f->snap;
    const int tid = first != nullptr ? find_turtle_by_name(s, first) : -1;
    const turtle_snapshot *t = tid >= 0 ? &s.turtles[tid] : nullptr;
    return shared_json(
        f, f->cameras[tid >= 0 ? tid : NTURTLE].get([&] { return json_for_camera(t); }));
}

// The live view's fixed paths (a query part is ignored); null for any other URI.
content_ptr generate_live(const char *uri) {
    if (std::strncmp(uri, "live/", 5) != 0) return nullptr;
    const std::string path(uri, std::strcspn(uri, "?"));
    if (path != "live/stream") return generate_live_floor(path.c_str());
    auto c = std::make_unique<container>();
    c->mimetype = MIME_EVENT_STREAM;
    c->stream = true;
    c->headers = std::string("Cache-Control: no-cache\r\n") + LIVE_HEADERS;
    return c;
}

}  // namespace

content_ptr owned_content(int mimetype, std::string text) {
    auto c = std::make_unique<container>();
    c->mimetype = mimetype;
    c->text = std::move(text);
    c->data = reinterpret_cast<const unsigned char *>(c->text.data());
    c->length = static_cast<int>(c->text.size());
    c->malloced = 1;
    return c;
}

const char *mime_type_name(int mimetype) {
    switch (mimetype) {
    case MIME_HTML: return "text/html";
    case MIME_PNG: return "image/png";
    case MIME_CSS: return "text/css";
    case MIME_JSON: return "application/json";
    case MIME_JAVASCRIPT: return "text/javascript";
    case MIME_EVENT_STREAM: return "text/event-stream";
    case MIME_OCTET_STREAM: return "application/octet-stream";
    default: return "text/plain";
    }
}

void set_jscript_src(const char *str) {
    if (str == nullptr || str[0] == '\0') return;
    constexpr std::size_t WORK_BYTES = 2048;
    const std::string work(str, strnlen(str, WORK_BYTES - 1));
    constexpr const char *SEPARATORS = " ;\"";

    std::array<std::string, MAX_JSCRIPT> tokens;
    int n = 0;
    std::size_t at = work.find_first_not_of(SEPARATORS);
    while (at != std::string::npos && n < MAX_JSCRIPT) {
        const std::size_t end = work.find_first_of(SEPARATORS, at);
        tokens[n++] = work.substr(at, end == std::string::npos ? std::string::npos : end - at);
        at = end == std::string::npos ? end : work.find_first_not_of(SEPARATORS, end);
    }
    if (n == 0) return;
    n_jscript = n;
    for (int i = 0; i < n; i++) {
        msg_jscript_srcp[i] = tokens[i];
        std::fprintf(stderr, "script: %s\n", msg_jscript_srcp[i].c_str());
    }
}

int is_dec_number(const char *str) {
    if (str == nullptr || str[0] == '\0') return 0;
    for (const char *p = str; *p != '\0'; p++) {
        if (*p < '0' || *p > '9') return 0;
    }
    return 1;
}

void append_json_escaped(std::string &out, std::string_view text) {
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += ch;
        } else if (c < 0x20 || c > 0x7e) {
            constexpr char HEX[] = "0123456789abcdef";
            out += "\\u00";
            out += HEX[c >> 4];
            out += HEX[c & 15];
        } else {
            out += ch;
        }
    }
}

std::string json_for_turtles(const turtle_view *t, int n, uint32_t time) {
    std::string out = "[";
    out.reserve(static_cast<std::size_t>(n) * 300 + 2);
    for (int i = 0; i < n; i++) {
        const turtle_view &v = t[i];
        const int type = (v.status & ST_DOUGHNUT) ? 2 : (v.status & ST_STONE) ? 3 : 1;
        if (i > 0) out += ", ";
        json_object o{out};
        o.number("tid", i);
        o.number("time", time);
        o.number("type", type);
        o.start("name");
        out += '"';
        append_json_escaped(out, std::string_view(v.name, strnlen(v.name, sizeof v.name)));
        out += '"';
        o.number("team", v.team);
        o.number("x", v.pos.x);
        o.number("y", v.pos.y);
        o.number("head", std::fmod(v.heading, 360.0));
        o.number("ttl", v.ttl);
        o.number("bx", v.bullet.x);
        o.number("by", v.bullet.y);
        o.number("bttf", v.bttf);
        o.number("score", v.score);
        o.number("ncoin", v.ncoin);
        o.boolean("alive", v.status & ST_ALIVE);
        o.boolean("firing", v.status & ST_BULLET);
        o.boolean("got_hit", v.event & EV_HIT);
        o.boolean("collide",
                  v.event & (EV_BUMP_TURTLE | EV_BUMP_DOUGHNUT | EV_BUMP_STONE | EV_BUMP_WALL));
        o.boolean("detected", v.event & (EV_FINDER | EV_RADAR));
        o.boolean("got_msg", v.event & EV_TEAM_MSG);
        o.end();
    }
    out += "]";
    return out;
}

std::string json_for_walls(const wall *w, int n) {
    std::string out = "[";
    out.reserve(static_cast<std::size_t>(n) * 100 + 2);
    bool first = true;
    for (int i = 0; i < n; i++) {
        if (w[i].status & WALL_BACK_FACE) continue;
        if (!first) out += ',';
        first = false;
        json_object o{out};
        o.number("x1", w[i].startp.x);
        o.number("y1", w[i].startp.y);
        o.number("x2", w[i].endp.x);
        o.number("y2", w[i].endp.y);
        o.number("nx", w[i].normal.x);
        o.number("ny", w[i].normal.y);
        o.end();
    }
    out += "]";
    return out;
}

std::string json_for_coins(const coin *c, int n) {
    std::string out = "[";
    bool first = true;
    for (int i = 0; i < n; i++) {
        if (!(c[i].status & COIN_ON_FIELD)) continue;
        if (!first) out += ',';
        first = false;
        json_object o{out};
        o.number("x", c[i].pos.x);
        o.number("y", c[i].pos.y);
        o.number("ord", c[i].order);
        o.end();
    }
    out += "]";
    return out;
}

std::string json_for_camera(const turtle_view *t) {
    double eye[3] = {0.0, 0.0, 450.0}, target[3] = {0.0, 0.0, 0.0};
    if (t != nullptr) {
        const double h = std::fmod(t->heading, 360.0) * PI / 180.0;
        eye[0] = t->pos.x, eye[1] = t->pos.y, eye[2] = 10.0;
        target[0] = t->pos.x + 100.0 * std::cos(h), target[1] = t->pos.y + 100.0 * std::sin(h);
        target[2] = 10.0;
    }
    std::string out;
    json_object o{out};
    o.number("x0", eye[0]);
    o.number("y0", eye[1]);
    o.number("z0", eye[2]);
    o.number("x1", target[0]);
    o.number("y1", target[1]);
    o.number("z1", target[2]);
    o.end();
    return out;
}

std::string generate_html() {
    std::string page = msg_html_template1;
    const int n = n_jscript > 0 ? n_jscript : 2;
    for (int i = 0; i < n; i++) {
        const char *url =
            n_jscript > 0 ? msg_jscript_srcp[i].c_str() : msg_template_jscript_srcp[i];
        char tag[SCRIPT_TAG_CHARS + 1];
        std::snprintf(tag, sizeof tag, "<script type=\"text/javascript\" src=\"%s\"></script>\r\n",
                      url);
        if (page.size() + std::strlen(tag) > static_cast<std::size_t>(HTML_PAGE_CHARS)) break;
        page += tag;
    }
    if (page.size() + sizeof msg_html_template2 - 1 <= static_cast<std::size_t>(HTML_PAGE_CHARS)) {
        page += msg_html_template2;
    }
    return page;
}

content_ptr generate_png(int id) {
    switch (id) {
    case 0: return shared(MIME_PNG, png_img0, png_img0_size);
    case 1: return shared(MIME_PNG, png_img1, png_img1_size);
    case 2: return shared(MIME_PNG, png_img2, png_img2_size);
    case 3: return shared(MIME_PNG, png_img3, png_img3_size);
    case 4: return shared(MIME_PNG, png_img4, png_img4_size);
    case 5: return shared(MIME_PNG, png_img5, png_img5_size);
    case 6: return shared(MIME_PNG, png_img6, png_img6_size);
    default: return shared(MIME_PNG, png_img7, png_img7_size);
    }
}

content_ptr generate_content(const char *uri) {
    if (uri[0] == '\0') return owned_content(MIME_HTML, generate_html());
    if (content_ptr rec = generate_recordings(uri)) return rec;
    if (content_ptr live = generate_live(uri)) return live;
    if (std::strcmp(uri, VIEWER_JS_PATH + 1) == 0) {
        return shared(MIME_JAVASCRIPT, viewer_js, viewer_js_size);
    }
    if (std::strcmp(uri, THREE_JS_PATH + 1) == 0) {
        return shared(MIME_JAVASCRIPT, three_min_js, three_min_js_size);
    }
    if (std::strcmp(uri, REPLAY_JS_PATH + 1) == 0) {
        return shared(MIME_JAVASCRIPT, replay_js, replay_js_size);
    }

    // Only the first segment and the last two matter, however many there are.
    const std::string copy(uri, strnlen(uri, URI_COPY_CHARS));
    std::string first, before_last, last;
    int k = 0;
    for (std::size_t at = 0; at < copy.size();) {
        const std::size_t end = std::min(copy.find('/', at), copy.size());
        if (end > at) {
            std::string seg = copy.substr(at, end - at);
            if (k == 0) first = seg;
            before_last = std::move(last);
            last = std::move(seg);
            k++;
        }
        at = end + 1;
    }
    if (k == 0) return owned_content(MIME_HTML, generate_html());

    const char *l = last.c_str();
    if (strcasecmp(l, "turtle") == 0) return generate_json_for_turtle();
    if (strcasecmp(l, "wall") == 0) return generate_json_for_wall();
    if (strcasecmp(l, "coin") == 0) return generate_json_for_coin();
    if (strcasecmp(l, "camera") == 0) return generate_json_for_camera(first.c_str());
    if (k >= 2 && strcasecmp(before_last.c_str(), "img") == 0) {
        const long n = std::strtol(l, nullptr, 10);
        return generate_png(n >= 0 && n <= 6 ? static_cast<int>(n) : 7);
    }
    return owned_content(MIME_HTML, generate_html());
}

void append_number(std::string &out, double v, int decimals) {
    char buf[400];  // the longest double in fixed notation, and its sign
    const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
    out.append(buf, r.ptr);
}
void append_number(std::string &out, long long v) {
    char buf[24];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, r.ptr);
}
void append_number(std::string &out, int v) { append_number(out, static_cast<long long>(v)); }
void append_number(std::string &out, uint32_t v) { append_number(out, static_cast<long long>(v)); }
