// gl_live.cpp: the live view and its recordings with real frames. The floor picture against
// what a client painted, the event stream's later events and how soon a step shows, a stream
// viewer that never reads; recordings read back with the file library: what the live view
// showed at a tick is what the recording shows there, through a kill-all, frames dropped for a
// writer that fell behind, and a disk that fills up.
#include <sys/stat.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "server/httpd.h"
#include "server/recorder.h"
#include "server/recording_file.h"
#include "server/tcpserver.h"
#include "support.h"

namespace {

using clock_type = std::chrono::steady_clock;

// Frames at the stream's rate at most, each a tick later, as the timer has them; counted.
long frames = 0;
clock_type::time_point last_frame;
void frame() {
    const auto now = clock_type::now();
    if (now - last_frame < std::chrono::milliseconds(17)) return;
    last_frame = now;
    elapsed_time++;
    display();
    frames++;
}
void frames_for(int ms) {
    const auto end = clock_type::now() + std::chrono::milliseconds(ms);
    while (clock_type::now() < end) {
        frame();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

struct Client : LoopClient {
    explicit Client(int port) : LoopClient(port) { idle = frame; }
    void run(std::initializer_list<const char *> commands) {
        for (const char *c : commands) ASSERT_EQ(ask(c).substr(0, 2), "OK") << c;
    }
};

// The status line and body of GET /path on a new connection.
std::string get(const std::string &path, std::string *status = nullptr) {
    const std::string r = Client(httpd_port()).respond("GET /" + path + " HTTP/1.1\r\n\r\n");
    if (status != nullptr) *status = r.substr(0, r.find("\r\n"));
    const size_t body = r.find("\r\n\r\n");
    return body == std::string::npos ? "" : r.substr(body + 4);
}

double number_after(const std::string &text, const std::string &key, size_t from = 0) {
    const size_t at = text.find(key, from);
    return at == std::string::npos ? -1e9 : std::atof(text.c_str() + at + key.size());
}

// What the live documents showed once the field had settled.
struct seen {
    uint32_t tick = 0;
    std::string turtles;      // the turtle document
    std::vector<rgb8> floor;  // /live/floor.png
};
seen look() {
    frames_for(300);  // the floor's read-back and the recorder catch up
    seen s;
    s.turtles = get("turtle");
    s.tick = static_cast<uint32_t>(number_after(s.turtles, "\"time\":"));
    s.floor = png_pixels(get("live/floor.png"), FLOOR_SIDE, FLOOR_SIDE);
    return s;
}

// The recording at the tick of `s` shows its living turtles where, and with the scores, the
// turtle document had them, and the floor /live/floor.png had.
void expect_shows(recording_player &p, const seen &s, const char *when) {
    ASSERT_TRUE(p.seek(s.tick)) << when;
    int alive = 0;
    for (size_t at = s.turtles.find("{\"tid\":"); at != std::string::npos;
         at = s.turtles.find("{\"tid\":", at + 1)) {
        const std::string o = s.turtles.substr(at, s.turtles.find('}', at) - at);
        if (o.find("\"alive\":true") == std::string::npos) continue;
        alive++;
        const int tid = static_cast<int>(number_after(o, "{\"tid\":"));
        const auto t = std::find_if(p.turtles().begin(), p.turtles().end(),
                                    [&](const recorded_turtle &r) { return r.id == tid; });
        ASSERT_NE(t, p.turtles().end()) << when << ": slot " << tid;
        EXPECT_NEAR(t->x, number_after(o, "\"x\":"), 0.006) << when;
        EXPECT_NEAR(t->y, number_after(o, "\"y\":"), 0.006) << when;
        EXPECT_EQ(t->score, number_after(o, "\"score\":")) << when;
    }
    EXPECT_EQ(static_cast<int>(p.turtles().size()), alive) << when;
    ASSERT_EQ(s.floor.size() * 3, FLOOR_BYTES) << when;
    EXPECT_EQ(std::memcmp(p.floor().data(), s.floor.data(), FLOOR_BYTES), 0)
        << when << ": the floor differs";
}

std::vector<rgb8> floor_picture() { return png_pixels(get("live/floor.png"), 512, 512); }
bool red(rgb8 p) { return p[0] > 200 && p[1] < 60 && p[2] < 60; }
bool floor_blue(rgb8 p) { return p[0] < 10 && p[1] < 10 && p[2] > 110 && p[2] < 145; }
rgb8 floor_at(const std::vector<rgb8> &px, int x, int y) {
    return px.at((255 - y) * 512 + x + 256);
}

class Live : public ::testing::Test {
protected:
    void SetUp() override {
        open_test_window();
        static const bool started = (start_httpd(0), start_tcp_server(0), true);
        ASSERT_TRUE(started && httpd_port() > 0 && tcp_server_port() > 0);
    }
};

class Recorder : public Live {
protected:
    void SetUp() override {
        Live::SetUp();
        char dir_template[] = "/tmp/kelpmoor-recording-XXXXXX";
        ASSERT_NE(mkdtemp(dir_template), nullptr);
        dir = dir_template;
        ASSERT_EQ(start_recorder(dir.c_str(), true), 0);
        ASSERT_TRUE(eventually([] { return !recording_path().empty(); }, frame));
    }
    void TearDown() override {
        stop_recorder();
        set_recorder_limits({});
    }
    std::string dir;
};

}  // namespace

TEST_F(Live, FloorPictureShowsThePaintOnTheFloorColourUntilCleared) {
    Client c(tcp_server_port());
    c.run({"H 0 0 0.5", "J 0 0", "T E", "K 1 0 0", "W 3", "P D", "F 40", "T L 90", "F 40", "T L 90",
           "F 40", "T L 90", "F 40", "P U", "J -100 -100"});
    std::vector<rgb8> px;
    ASSERT_TRUE(eventually(
        [&] { return !(px = floor_picture()).empty() && red(floor_at(px, 0, 20)); }, frame));
    for (auto [x, y] : {std::pair{20, 0}, {40, 20}, {20, 40}, {0, 20}}) {
        EXPECT_TRUE(red(floor_at(px, x, y))) << x << " " << y;
    }
    for (auto [x, y] : {std::pair{20, 20}, {-200, 150}, {100, -250}, {255, 255}}) {
        EXPECT_TRUE(floor_blue(floor_at(px, x, y))) << x << " " << y;
    }
    ASSERT_EQ(c.ask("C F").substr(0, 2), "OK");
    const long before = frames;
    ASSERT_TRUE(eventually(
        [&] { return !(px = floor_picture()).empty() && floor_blue(floor_at(px, 40, 20)); },
        frame));
    EXPECT_LT(frames - before, 60) << "gone within a second of frames";
}

// After the whole first event (its form: docs/http.md, checked by clients_http_reference), a
// step shows in the event of the next frame or the one after.
TEST_F(Live, StreamShowsEachStepWithinTwoFrames) {
    Client c(tcp_server_port());
    c.run({"J 0 0", "T E"});
    Client v(httpd_port());
    v.send("GET /live/stream HTTP/1.1\r\n\r\n");
    ASSERT_TRUE(v.take_through("\r\n\r\n"));
    ASSERT_TRUE(v.take_through("\n\n"));
    for (int step = 1; step <= 3; step++) {
        ASSERT_EQ(c.ask("F 10").substr(0, 2), "OK");
        const long at_reply = frames;
        const std::string x = "\"x\":" + std::to_string(10 * step) + ".00,";
        std::string event;
        while (event.find(x) == std::string::npos && frames - at_reply <= 3) {
            event = v.take_through("\n\n", 100).value_or("");
        }
        EXPECT_NE(event.find(x), std::string::npos) << step;
        EXPECT_LE(frames - at_reply, 2) << step;
        EXPECT_NE(event.find("\"full\":false"), std::string::npos) << event;
        EXPECT_EQ(event.find("\"walls\""), std::string::npos) << "unchanged walls are left out";
    }
}

// A viewer that takes nothing is let go once its backlog is 5 s old; a reading viewer gets an
// event for (nearly) every frame meanwhile.
TEST_F(Live, AViewerThatNeverReadsIsDroppedAndOthersKeepUp) {
    locked([] {
        for (int i = 0; i < 25; i++) generate_turtle(-1, ST_SYSTEM);  // robots: every frame moves
        return 0;
    });
    LoopClient stuck(httpd_port(), nullptr, 4096);
    stuck.send("GET /live/stream HTTP/1.1\r\n\r\n");
    Client reader(httpd_port());
    reader.send("GET /live/stream HTTP/1.1\r\n\r\n");
    ASSERT_TRUE(reader.take_through("\n\n"));
    ASSERT_TRUE(eventually([] { return httpd_streams() == 2; }, frame));
    const long start = frames;
    long events = 0;
    testing::internal::CaptureStderr();
    while (httpd_streams() == 2 && frames - start < 2000) {
        if (reader.take_through("\n\n", 50)) events++;
    }
    expect_logged({"stream viewer too far behind: dropped"});
    EXPECT_EQ(httpd_streams(), 1);
    // A frame held up by the stuck viewer would stop the count for the whole backlog; slow
    // builds under load still draw several frames a second.
    EXPECT_GT(frames - start, 25) << "the frames went on while the viewer fell behind";
    EXPECT_GT(events, (frames - start) / 2) << "the reading viewer kept up";
}

// Painting, a clear, battle mode, a kill: the recording shows each instant as the live view
// did, its listing names the markers, and a kill-all ends it and begins the next.
TEST_F(Recorder, PlaysBackWhatTheLiveViewShowedAndListsItsMarkers) {
    Client ann(tcp_server_port()), bob(tcp_server_port());
    ann.run({"N 61 6e 6e", "C F", "J -40 0", "T E", "K 1 0 0", "W 3", "P D", "F 40", "T L 90",
             "F 40", "P U"});
    bob.run({"N 62 6f 62", "J 40 0", "T N", "K 0 1 0", "P D", "F 30", "P U"});
    const seen painted = look();
    ann.run({"J -40 0", "T E"});
    bob.run({"J 40 0"});
    ann.run({"!"});
    const auto bob_dying = [] {
        const std::string doc = get("turtle");
        return number_after(doc, "\"ttl\":", doc.find("\"name\":\"bob\"")) > 0;
    };
    for (int shot = 0; shot < 8 && !bob_dying(); shot++) {
        ann.run({"X"});
        frames_for(1200);  // the bullet's flight and the hit flash
    }
    frames_for(1000);  // the explosion runs out
    const seen fought = look();
    const std::string first = recording_path();
    locked([] { return field_kill_all_turtles(), 0; });
    ASSERT_TRUE(eventually([&] { return recording_path() != first; }, frame));
    const std::string second = recording_path();
    frames_for(100);

    const std::string name = first.substr(first.rfind('/') + 1);
    std::string status;
    const std::string listing = get("live/recordings");
    const size_t entry = listing.find("{\"name\":\"" + name + "\"");
    ASSERT_NE(entry, std::string::npos) << listing;
    const std::string mine = listing.substr(entry, listing.find("]}", entry) - entry);
    for (const char *m :
         {"\"kind\":\"clear\",\"text\":\"floor cleared\"",
          "\"kind\":\"mode\",\"text\":\"battle on\"", "\"kind\":\"kill\",\"text\":\"bob\"",
          "\"kind\":\"explosion\",\"text\":\"bob\"",
          "\"kind\":\"kill-all\",\"text\":\"kill-all\""}) {
        EXPECT_NE(mine.find(m), std::string::npos) << m << " in " << mine;
    }
    EXPECT_EQ(mine.find("\"kind\":\"kill\",\"text\":\"ann\""), std::string::npos) << mine;
    EXPECT_NE(listing.find(second.substr(second.rfind('/') + 1)), std::string::npos)
        << "the recording being written is listed";

    EXPECT_EQ(get("live/recordings/" + name), read_file(first));
    for (const char *bad : {"live/recordings/../../etc/passwd",
                            "live/recordings/..%2f"
                            "x.krec",
                            "live/recordings/kelpmoor-%2e%2e.krec", "replay/../kelpmoor-1.krec",
                            "live/recordings/kelpmoor-none.krec"}) {
        get(bad, &status);
        EXPECT_EQ(status, "HTTP/1.1 404 Not Found") << bad;
    }
    EXPECT_EQ(get("replay/" + name), generate_html());

    recording_player p(read_file(first));
    ASSERT_TRUE(p.valid());
    EXPECT_TRUE(p.summary().ended);
    expect_shows(p, painted, "painted");
    expect_shows(p, fought, "after the fight");
    EXPECT_GT(number_after(fought.turtles, "\"score\":"), 100) << "ann's hits scored";
}

// While the writer takes nothing, frames are dropped whole, with one line; the frames recorded
// after them still add up to the floor and the field the live view showed.
TEST_F(Recorder, FramesDroppedForAWriterBehindLeaveTheRestWhole) {
    Client ann(tcp_server_port());
    ann.run({"K 1 1 0", "W 5", "J -100 -100", "P D", "F 50"});
    frames_for(200);
    testing::internal::CaptureStderr();
    set_recorder_limits({0, 0, true});
    ann.run({"T L 90", "F 80", "T L 90", "F 60"});
    frames_for(300);
    set_recorder_limits({});
    ann.run({"T L 45", "F 30", "P U"});
    const seen after = look();
    const std::string file = recording_path();
    stop_recorder();
    const std::string log = testing::internal::GetCapturedStderr();
    const size_t behind = log.find("recording falls behind");
    EXPECT_NE(behind, std::string::npos) << log;
    EXPECT_EQ(log.find("recording falls behind", behind + 1), std::string::npos) << "said once";
    recording_player p(read_file(file));
    ASSERT_TRUE(p.valid());
    expect_shows(p, after, "after the drops");
}

// A disk that fills stops the recording with one line; the arena goes on and the file plays
// up to its last whole frame.
TEST_F(Recorder, AFullDiskStopsTheRecordingWithOneLineAndTheArenaRunsOn) {
    const std::string file = recording_path();
    Client ann(tcp_server_port());
    ann.run({"P D"});
    testing::internal::CaptureStderr();
    set_recorder_limits({8192, RECORD_QUEUE_BYTES, false});
    for (int i = 0; i < 400 && !recording_path().empty(); i++) ann.run({"T L 7", "F 3"});
    frames_for(200);
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(log, "recording stopped: " + file + ": " + std::strerror(ENOSPC) + "\n");
    ann.run({"F 10", "T R 30", "F 10"});
    const std::string bytes = read_file(file);
    EXPECT_LE(bytes.size(), 8192u);
    recording_player p(bytes);
    ASSERT_TRUE(p.valid());
    EXPECT_FALSE(p.summary().ended);
    EXPECT_TRUE(p.seek(p.summary().last_tick));
}
