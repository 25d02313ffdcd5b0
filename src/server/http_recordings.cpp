// http_recordings.cpp: the recordings as the viewer port offers them: the listing of the
// recording directory, each file, and the viewer page that plays one. Files are mapped, not
// read: a listing scans each file once per size and time, and a file is sent from its mapping.
#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <map>
#include <mutex>

#include "server/httpd.h"
#include "server/recorder.h"
#include "server/recording_file.h"

namespace {

constexpr std::size_t NAME_CHARS = 100;  // longest name served
constexpr const char *LISTING = "live/recordings";
constexpr const char *FILE_PREFIX = "live/recordings/";
constexpr const char *REPLAY_PREFIX = "replay/";

// A file mapped whole, read-only, unmapped with its last holder.
struct mapped_file {
    void *at = MAP_FAILED;
    std::size_t size = 0;
    mapped_file() = default;
    mapped_file(const mapped_file &) = delete;
    mapped_file &operator=(const mapped_file &) = delete;
    ~mapped_file() {
        if (at != MAP_FAILED) ::munmap(at, size);
    }
    std::string_view bytes() const {
        return at == MAP_FAILED ? std::string_view()
                                : std::string_view(static_cast<char *>(at), size);
    }
};

// The file as it stands now (a regular file of at most INT_MAX bytes), or null.
std::shared_ptr<mapped_file> map_file(const std::string &path, struct stat *st) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return nullptr;
    auto m = std::make_shared<mapped_file>();
    if (::fstat(fd, st) == 0 && S_ISREG(st->st_mode) && st->st_size > 0 && st->st_size <= INT_MAX) {
        m->size = static_cast<std::size_t>(st->st_size);
        m->at = ::mmap(nullptr, m->size, PROT_READ, MAP_PRIVATE, fd, 0);
    }
    ::close(fd);
    return m->at == MAP_FAILED ? nullptr : m;
}

struct listed {
    off_t size = 0;
    timespec mtime{};
    std::string json;  // "" when the file is not a recording
};
std::mutex cache_mutex;
std::map<std::string, listed> cache;  // by path

std::string listing_entry(const std::string &name, const struct stat &st,
                          const recording_summary &s) {
    std::string o = "{\"name\":\"";
    append_json_escaped(o, name);
    o += "\",\"started\":";
    append_number(o, static_cast<long long>(s.started_ms / 1000));
    o += ",\"ticks\":";
    append_number(o, s.last_tick - s.first_tick);
    o += ",\"bytes\":";
    append_number(o, static_cast<long long>(st.st_size));
    o += ",\"markers\":[";
    for (std::size_t i = 0; i < s.markers.size(); i++) {
        if (i > 0) o += ',';
        o += marker_json(s.markers[i].tick, s.markers[i].kind, s.markers[i].text);
    }
    return o + "]}";
}

// The listing entry of one file, scanned again only when its size or time changed.
std::string entry_for(const std::string &dir, const std::string &name) {
    const std::string path = dir + "/" + name;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return {};
    {
        std::lock_guard lock(cache_mutex);
        const auto it = cache.find(path);
        if (it != cache.end() && it->second.size == st.st_size &&
            it->second.mtime.tv_sec == st.st_mtim.tv_sec &&
            it->second.mtime.tv_nsec == st.st_mtim.tv_nsec) {
            return it->second.json;
        }
    }
    std::string json;
    if (const auto m = map_file(path, &st)) {
        if (const auto s = scan_recording(m->bytes())) json = listing_entry(name, st, *s);
    }
    std::lock_guard lock(cache_mutex);
    cache[path] = {st.st_size, st.st_mtim, json};
    return json;
}

content_ptr owned_json(std::string text) {
    content_ptr c = owned_content(MIME_JSON, std::move(text));
    c->headers = std::string("Cache-Control: no-cache\r\n") + LIVE_HEADERS;
    return c;
}

content_ptr listing() {
    const std::string dir = recording_dir();
    std::vector<std::string> names;
    if (DIR *d = dir.empty() ? nullptr : ::opendir(dir.c_str())) {
        while (const dirent *e = ::readdir(d)) {
            if (recording_name_ok(e->d_name)) names.emplace_back(e->d_name);
        }
        ::closedir(d);
    }
    std::sort(names.begin(), names.end());
    std::string out = "[";
    for (const std::string &n : names) {
        const std::string e = entry_for(dir, n);
        if (e.empty()) continue;
        if (out.size() > 1) out += ',';
        out += e;
    }
    return owned_json(out + "]");
}

content_ptr not_found() {
    auto c = std::make_unique<container>();
    c->not_found = true;
    return c;
}

content_ptr recording_file(const std::string &name) {
    const std::string dir = recording_dir();
    struct stat st {};
    std::shared_ptr<mapped_file> m;
    if (dir.empty() || !recording_name_ok(name) || !(m = map_file(dir + "/" + name, &st)) ||
        !m->bytes().starts_with(std::string_view(RECORDING_MAGIC.data(), RECORDING_MAGIC.size()))) {
        return not_found();
    }
    auto c = std::make_unique<container>();
    c->mimetype = MIME_OCTET_STREAM;
    c->data = reinterpret_cast<const unsigned char *>(m->at);
    c->length = static_cast<int>(m->size);
    c->malloced = 1;
    c->keep = m;
    c->headers = std::string("Cache-Control: no-cache\r\n") + LIVE_HEADERS;
    return c;
}

}  // namespace

bool recording_name_ok(std::string_view name) {
    constexpr std::string_view HEAD = "kelpmoor-", TAIL = ".krec";
    if (name.size() > NAME_CHARS || name.size() <= HEAD.size() + TAIL.size() ||
        !name.starts_with(HEAD) || !name.ends_with(TAIL)) {
        return false;
    }
    const std::string_view middle =
        name.substr(HEAD.size(), name.size() - HEAD.size() - TAIL.size());
    return std::all_of(middle.begin(), middle.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
               c == '-' || c == '_';
    });
}

content_ptr generate_recordings(const char *uri) {
    const std::string path(uri, std::strcspn(uri, "?"));
    if (path == LISTING) return listing();
    if (path.starts_with(FILE_PREFIX)) return recording_file(path.substr(std::strlen(FILE_PREFIX)));
    if (path.starts_with(REPLAY_PREFIX)) {
        if (!recording_name_ok(path.substr(std::strlen(REPLAY_PREFIX)))) return not_found();
        return owned_content(MIME_HTML, generate_html());
    }
    return nullptr;
}
