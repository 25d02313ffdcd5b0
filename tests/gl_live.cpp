// gl_live.cpp: the live view with real frames: the floor picture against what a client painted,
// the event stream's first and later events and how soon a step shows, and a stream viewer that
// never reads.
#include <chrono>

#include "server/httpd.h"
#include "server/tcpserver.h"
#include "support.h"

namespace {

using clock_type = std::chrono::steady_clock;

// Frames at the stream's rate at most, counted.
long frames = 0;
clock_type::time_point last_frame;
void frame() {
    const auto now = clock_type::now();
    if (now - last_frame < std::chrono::milliseconds(17)) return;
    last_frame = now;
    display();
    frames++;
}

class Live : public ::testing::Test {
protected:
    void SetUp() override {
        open_test_window();
        static const bool started = (start_httpd(0), start_tcp_server(0), true);
        ASSERT_TRUE(started && httpd_port() > 0 && tcp_server_port() > 0);
    }
};

struct Client : LoopClient {
    explicit Client(int port) : LoopClient(port) { idle = frame; }
};

// The floor picture as RGB rows, top first; empty when it is not a 512 x 512 PNG.
std::vector<rgb8> floor_picture() {
    return png_pixels(Client(httpd_port()).get("live/floor.png"), 512, 512);
}
rgb8 floor_at(const std::vector<rgb8> &px, int x, int y) {
    return px.at((255 - y) * 512 + x + 256);
}
bool red(rgb8 p) { return p[0] > 200 && p[1] < 60 && p[2] < 60; }
bool floor_blue(rgb8 p) { return p[0] < 10 && p[1] < 10 && p[2] > 110 && p[2] < 145; }

}  // namespace

TEST_F(Live, FloorPictureShowsThePaintOnTheFloorColourUntilCleared) {
    Client c(tcp_server_port());
    for (const char *cmd : {"H 0 0 0.5", "J 0 0", "T E", "K 1 0 0", "W 3", "P D", "F 40", "T L 90",
                            "F 40", "T L 90", "F 40", "T L 90", "F 40", "P U", "J -100 -100"}) {
        ASSERT_EQ(c.ask(cmd).substr(0, 2), "OK") << cmd;
    }
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

// The first event is whole; a step shows in the event of the next frame or the one after.
TEST_F(Live, StreamStartsWholeThenShowsEachStepWithinTwoFrames) {
    Client c(tcp_server_port());
    ASSERT_EQ(c.ask("J 0 0").substr(0, 2), "OK");
    ASSERT_EQ(c.ask("T E").substr(0, 2), "OK");
    Client v(httpd_port());
    v.send("GET /live/stream HTTP/1.1\r\n\r\n");
    const std::string head = v.take_through("\r\n\r\n").value_or("");
    EXPECT_NE(head.find("Content-Type: text/event-stream\r\n"), std::string::npos) << head;
    const std::string first = v.take_through("\n\n").value_or("");
    EXPECT_EQ(first.rfind("data: {\"tick\":", 0), 0u) << first;
    for (const char *key : {"\"full\":true", "\"modes\":{", "\"labels\":{", "\"floor\":{",
                            "\"walls\":[[", "\"coins\":[", "\"x\":0.00,\"y\":0.00"}) {
        EXPECT_NE(first.find(key), std::string::npos) << key;
    }
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
