// httpd.h: the web viewer server. The listening thread and one thread per connection
// (httpd.cpp), the request reader (http_request.cpp), the content: the viewer page, the JSON
// documents of the field, the images and scripts (http_content.cpp), the floor pictures
// (http_floor.cpp) and the event stream with its writer thread (http_stream.cpp).
//
// Threads: start_httpd, stop_httpd and set_jscript_src run on the main thread. Everything else
// runs on the HTTP threads, which read the frames the frame publishes (world/published.h) and
// never take frame_rendering_mutex while a frame loop publishes; before the first frame is
// published (tests without a window) the documents copy the world under it instead.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "server/net.h"
#include "world/published.h"
#include "world/world.h"

inline constexpr int HTTP_PORT = 2280;
inline constexpr int MAX_JSCRIPT = 10;
inline constexpr int HTTP_RECEIVE_BYTES = 2048;    // one receive is one request
inline constexpr int HTTP_URI_CHARS = 1001;        // longest URI taken from a request line
inline constexpr int HTTP_PIECE_BYTES = 1024;      // a body is sent in pieces of this size
inline constexpr int HTTP_IDLE_BUDGET_MS = 60000;  // all idle waits of one connection together
inline constexpr int HTTP_MAX_CONNECTIONS = 64;    // connection threads at once
inline constexpr int HTML_PAGE_CHARS = 3265;       // longest viewer page
inline constexpr int STREAM_EVENTS_PER_SECOND = 60;
inline constexpr int STREAM_HEARTBEAT_MS = 15000;  // a comment line when nothing changes
inline constexpr int STREAM_BACKLOG_MS = 5000;     // a viewer this far behind is dropped
inline constexpr int MAX_STREAMS = 512;            // stream viewers at once

// Content type codes of container::mimetype.
inline constexpr int MIME_HTML = 1;
inline constexpr int MIME_PNG = 2;
inline constexpr int MIME_CSS = 3;
inline constexpr int MIME_JSON = 4;
inline constexpr int MIME_JAVASCRIPT = 5;
inline constexpr int MIME_EVENT_STREAM = 6;
inline constexpr int MIME_OCTET_STREAM = 7;

// The header line every /live response carries, so that a page from elsewhere may read them.
inline constexpr const char *LIVE_HEADERS =
    "Access-Control-Expose-Headers: X-Floor-Version, X-Floor-Rect\r\n";

// The two script URLs the page names when the command line sets none: the viewer's own
// script and three.js, both served from the program itself.
inline constexpr const char *VIEWER_JS_PATH = "/js/viewer.js";
inline constexpr const char *THREE_JS_PATH = "/js/three.min.js";
// The replay player, which the viewer's script loads from beside itself when it plays a recording.
inline constexpr const char *REPLAY_JS_PATH = "/js/replay.js";

extern const char msg404[];  // the not-found page, 136 bytes

// One response body.
struct container {
    int mimetype = 0;
    const unsigned char *data = nullptr;  // into `text` or `keep` when malloced, else static data
    int length = 0;                       // bytes of data
    int malloced = 0;                     // 1: the body is owned, released with the container
    std::string text;
    std::shared_ptr<const void> keep;  // what data points into when it is shared
    std::string headers;               // header lines after Server (each ending CR LF)
    bool stream = false;               // the event stream: the connection becomes a viewer
    bool not_found = false;            // answered as a missing document (404)
};
using content_ptr = std::unique_ptr<container>;
const char *mime_type_name(int mimetype);  // the Content-Type value; "text/plain" when unknown

// ---- Script list (main thread, start-up) ----
extern std::array<std::string, MAX_JSCRIPT> msg_jscript_srcp;  // script URLs from the command line
extern int n_jscript;  // entries in use; 0 = the built-in defaults

// Replaces the script list with the tokens of str (separated by runs of space, ';' and '"'),
// at most 10; writes "script: %s\n" for each. Null or empty: nothing.
void set_jscript_src(const char *str);

// ---- Server (main thread) ----
// Opens the port on every address and starts the server thread, which writes the "listening"
// line and accepts. When no socket can be made writes "cannot create socket" and starts
// nothing; when the port cannot be bound or listened to writes the httpd() message, calls
// field_set_socket_error() and starts nothing. Returns 0 when the thread started, else -1.
// A failed accept() writes "cannot accept connection" (an aborted connection writes nothing)
// and is tried again shortly when it can pass (interrupted, out of descriptors, buffers or
// memory, a protocol or permission error); after any other failure the thread ends and the
// port, still bound, takes no more connections until stop_httpd.
int start_httpd(int port);  // port 0 picks a free one (tests)
int httpd_port();           // the bound port, or -1 before start or after a failure
int httpd_connections();    // connection threads running now
int httpd_streams();        // stream viewers now
// Asks every HTTP thread to end and waits for them (at most about 2 s): the listening
// thread, the connection threads and the stream writer; their sockets are closed. Idempotent.
void stop_httpd();

// ---- Request reader (pure; any thread) ----
enum http_method { HTTP_GET = 0, HTTP_HEAD = 1, HTTP_POST = 2 };
struct http_request {
    int method = HTTP_GET;
    std::string uri;  // without the leading "/"; the query part stays
    int keep = 1;     // 1: keep the connection open after the response; -1: close it
};
// Reads one receive's bytes. False when the connection must end without a response: no line
// feed, a request line of 2 characters or fewer, or a method other than GET, HEAD and POST.
bool parse_request(const char *bytes, std::size_t n, http_request &out);

// ---- Responses (connection threads; tests call them on a socket pair) ----
// Sends the response to req with body (null: the 404 response): its header lines and body
// pieces of at most HTTP_PIECE_BYTES gathered into one write, and further writes only for what
// a full socket did not take. False, after writing "error sending data to client", when a
// write fails or the socket's send timeout runs out; part of the response may have gone.
bool send_response(int fd, const http_request &req, const container *body);

// ---- Content (any thread; takes the lock only to copy) ----
// The body for a URI as parse_request gives it. Never null (not_found for a 404).
content_ptr generate_content(const char *uri);
int is_dec_number(const char *str);  // 1: non-empty and decimal digits only
content_ptr generate_png(int id);    // 0..6 that image, any other id image 7

// What the documents are formatted from: a turtle as the frame published it.
using turtle_view = turtle_snapshot;
std::string json_for_turtles(const turtle_view *t, int n, uint32_t time);
std::string json_for_walls(const wall *w, int n);
std::string json_for_coins(const coin *c, int n);
std::string json_for_camera(const turtle_view *t);  // null: the overview
std::string generate_html();
// Appends text as the inside of a JSON string: '"' and '\' escaped, bytes below 0x20 and
// above 0x7e as \u00XX.
void append_json_escaped(std::string &out, std::string_view text);
// Numbers as printf's "%.*lf" and "%d" write them (std::to_chars promises the same text),
// without parsing a format: the turtle document is most of a viewer's polling.
void append_number(std::string &out, double v, int decimals = 6);
void append_number(std::string &out, long long v);
void append_number(std::string &out, int v);
void append_number(std::string &out, uint32_t v);

// ---- Recordings (http_recordings.cpp; the files are the recorder's, server/recorder.h) ----
// /live/recordings (the listing), /live/recordings/NAME (the file) and /replay/NAME (the
// viewer page, which plays NAME); null for any other URI, not_found for a bad or missing NAME.
content_ptr generate_recordings(const char *uri);
content_ptr owned_content(int mimetype, std::string text);  // a response holding its own text
bool recording_name_ok(std::string_view name);  // kelpmoor-*.krec of letters, digits, - and _

// ---- Live view (http_floor.cpp, http_stream.cpp) ----
// /live/floor.png and /live/floor/since/V; null for any other URI.
content_ptr generate_live_floor(const char *uri);
// The floor's version as far as the servers have taken its patches; takes them.
uint64_t floor_absorb();
// Encodes 8-bit RGB rows (top first, `stride` bytes apart) as a PNG file.
std::string encode_png_rgb(const unsigned char *rgb, int w, int h, std::size_t stride);

// The stream's events from consecutive snapshots: `next` gives the event that takes a viewer
// from the previous snapshot to this one ("" when nothing it shows changed), `full` the event
// that gives a new viewer everything (the last snapshot passed to next). Each is one
// "data: {JSON}\n\n".
class stream_events {
public:
    std::string next(const frame_snapshot &now);
    std::string full() const;
    bool started() const { return last_ != nullptr; }
    struct shown;  // the formatted pieces of one snapshot

private:
    std::shared_ptr<const shown> last_;
};
// Hands a connection whose stream headers were sent to the stream writer (started on first
// use). False when the writer is stopped or full: the caller closes it.
bool stream_adopt(Socket &&s);
void stream_stop();   // ends the writer and closes every stream; adoption is refused then
void stream_start();  // adoption allowed again (the writer starts with the first stream)
