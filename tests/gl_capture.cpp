// gl_capture.cpp: the screen capture in a real window: the PNG file's header, texts and row
// order, the author text, and captures that cannot be written, which end nothing.
#include <GL/freeglut.h>
#include <png.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "draw/image_files.h"
#include "support.h"

namespace {

namespace fs = std::filesystem;

struct decoded {
    png_uint_32 width = 0, height = 0;
    int depth = 0, colour = 0, interlace = 0;
    std::vector<std::pair<std::string, std::string>> texts;  // zTXt only, in file order
    std::vector<std::vector<unsigned char>> rows;            // RGB, file order
    bool blue_at(int x, int file_row) const {                // a blue shell from above
        const unsigned char *p = &rows.at(file_row)[x * 3];
        return p[2] > 200 && p[0] < 60;
    }
};

decoded decode(const fs::path &path) {  // libpng aborts the test on a file that is not a PNG
    decoded d;
    FILE *fp = std::fopen(path.c_str(), "rb");
    if (fp == nullptr) return d;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, fp);
    png_read_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
    png_textp text = nullptr;
    for (int i = 0, n = png_get_text(png, info, &text, nullptr); i < n; i++) {
        if (text[i].compression == PNG_TEXT_COMPRESSION_zTXt) {
            d.texts.emplace_back(text[i].key, std::string(text[i].text, text[i].text_length));
        }
    }
    png_get_IHDR(png, info, &d.width, &d.height, &d.depth, &d.colour, &d.interlace, nullptr,
                 nullptr);
    png_bytepp rows = png_get_rows(png, info);
    for (png_uint_32 j = 0; j < d.height; j++) d.rows.emplace_back(rows[j], rows[j] + d.width * 3);
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(fp);
    return d;
}

// Asks for a capture into path and draws the frame that writes it: what it logged.
std::string capture_to(const std::string &path) {
    capture_request = path;
    testing::internal::CaptureStderr();
    display();
    return testing::internal::GetCapturedStderr();
}

struct CaptureTest : ::testing::Test {
    fs::path dir;
    void SetUp() override {
        open_test_window();
        char tmpl[] = "/tmp/kelpmoor-capture-test-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
    }
    void TearDown() override { fs::remove_all(dir); }
};

}  // namespace

TEST_F(CaptureTest, FileIsA512RgbPngWithItsFourTextsTopRowFirstAndAFailureIsReported) {
    setenv("HOME", dir.c_str(), 1);
    setenv("USER", "kelp-tester", 1);
    // A blue (team 3) turtle near the top edge, facing east, on a black floor.
    place(0, 0.5, 200.5, 0, 0, 3);
    elapsed_time = 4242;
    EXPECT_EQ(field_capture_screen(), 1);
    const std::time_t before = std::time(nullptr);
    display();
    const std::time_t after = std::time(nullptr);
    EXPECT_TRUE(capture_request.empty()) << "the request is served once";

    const decoded d = decode(dir / "kelpmoor-capture-4242.png");
    EXPECT_EQ(std::make_tuple(d.width, d.height, d.depth, d.colour, d.interlace),
              std::make_tuple(512u, 512u, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE));
    char host[257] = {};  // the source is the host name, cut to 127 characters
    gethostname(host, 256);
    ASSERT_EQ(d.texts.size(), 4u);
    const std::string &when = d.texts[3].second;
    EXPECT_EQ(d.texts, (std::vector<std::pair<std::string, std::string>>{
                           {"Author", "kelp-tester"},
                           {"Software", "kelpmoor for TAVI-RUNE by VX"},
                           {"Source", std::string(host).substr(0, 127)},
                           {"Description", when}}));
    // ctime text without its newline, taken while the frame was drawn (the first frame of a
    // loaded sanitizer build can take seconds).
    bool during_frame = false;
    for (std::time_t t = before; t <= after; t++) {
        char at[26];
        during_frame = during_frame || when == std::string(ctime_r(&t, at), 24);
    }
    EXPECT_TRUE(during_frame) << when;

    // Window row 456 (the turtle) is file row 55; window row 55 is file row 456.
    ASSERT_EQ(d.rows.size(), 512u);
    EXPECT_TRUE(d.blue_at(256, 55));
    EXPECT_EQ(d.rows[456][256 * 3] + d.rows[456][256 * 3 + 1] + d.rows[456][256 * 3 + 2], 0);

    // The author falls back and is cut; a capture into a missing directory leaves no file.
    unsetenv("USER");
    EXPECT_STREQ(make_capture_texts().author.data(), "unknown");
    setenv("USER", "a-user-name-much-longer-than-thirty-one-characters", 1);
    EXPECT_STREQ(make_capture_texts().author.data(), "a-user-name-much-longer-than-th");

    const fs::path target = dir / "no-such-dir" / "shot.png";
    EXPECT_EQ(capture_to(target), "saveImageToPNG: cannot open file:" + target.string() + "\n");
    EXPECT_FALSE(fs::exists(target));
    EXPECT_TRUE(capture_request.empty());
}

// Onto a full device: a busy picture fails inside libpng's writes, a small one only when the file
// is closed. Onto a regular file that outgrows the size limit: the partial file is removed. Each
// is one line naming the file; the device stays; the next frame and capture are whole.
TEST_F(CaptureTest, AWriteThatFailsIsOneLineLeavesNoPartialFileAndEndsNothing) {
    struct stat device {};
    ASSERT_EQ(stat("/dev/full", &device), 0);
    const std::string full_line =
        "saveImageToPNG: cannot write file:/dev/full: No space left on device\n";

    place(0, 0.5, 200.5, 0, 0, 3);  // a black floor and one turtle
    EXPECT_EQ(capture_to((dir / "small.png").string()), "");
    EXPECT_LT(fs::file_size(dir / "small.png"), static_cast<std::uintmax_t>(device.st_blksize))
        << "the small picture must fit the stream's buffer, so that only fclose sees the error";
    EXPECT_EQ(capture_to("/dev/full"), full_line);

    field_set_maze_mode();  // walls and tiles: a picture many buffers long
    EXPECT_EQ(capture_to((dir / "busy.png").string()), "");
    EXPECT_GT(fs::file_size(dir / "busy.png"), 4u * static_cast<std::uintmax_t>(device.st_blksize));
    EXPECT_EQ(capture_to("/dev/full"), full_line);
    EXPECT_TRUE(fs::is_character_file("/dev/full")) << "a device is never removed";

    // Writes past 4096 bytes fail with EFBIG while the limit stands.
    rlimit old_limit{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old_limit), 0);
    rlimit small_limit = old_limit;
    small_limit.rlim_cur = 4096;
    void (*old_handler)(int) = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small_limit), 0);
    const fs::path cut = dir / "cut.png";
    const std::string cut_line = capture_to(cut.string());
    setrlimit(RLIMIT_FSIZE, &old_limit);
    std::signal(SIGXFSZ, old_handler);
    EXPECT_EQ(cut_line, "saveImageToPNG: cannot write file:" + cut.string() + ": File too large\n");
    EXPECT_FALSE(fs::exists(cut));

    // A turtle in the middle of a maze cell, blue from above in the next capture.
    place(0, -207.5, -207.5, 0, 0, 3);
    EXPECT_EQ(capture_to((dir / "after.png").string()), "");
    EXPECT_TRUE(decode(dir / "after.png").blue_at(48, 511 - 48));
}
