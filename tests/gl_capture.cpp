// gl_capture.cpp: screen capture from a real window: the PNG file's signature, header, texts and
// row order, the author text, and a capture that cannot be written.
#include <png.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "glutil.h"
#include "kelpmoor.h"
#include "support.h"
#include "turtle.h"

namespace {

namespace fs = std::filesystem;

struct decoded {
    png_uint_32 width = 0, height = 0;
    int depth = 0, colour = 0, interlace = 0;
    std::vector<std::pair<std::string, std::string>> texts;  // zTXt only, in file order
    std::vector<std::vector<unsigned char>> rows;            // RGB, file order
};

decoded decode(const fs::path &path) {
    decoded d;
    FILE *fp = std::fopen(path.c_str(), "rb");
    if (fp == nullptr) return d;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, fp);
    png_read_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
    png_textp text = nullptr;
    const int ntext = png_get_text(png, info, &text, nullptr);
    for (int i = 0; i < ntext; i++) {
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

std::string host_name() {
    std::array<char, 257> host{};
    gethostname(host.data(), host.size() - 1);
    return std::string(host.data()).substr(0, 127);
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

TEST_F(CaptureTest, FileIsA512RgbPngWithItsFourTextsTopRowFirst) {
    setenv("HOME", dir.c_str(), 1);
    setenv("USER", "kelp-tester", 1);
    // A blue (team 3) turtle near the top edge, facing east, on a black floor.
    init_turtle(0, 0, 0.5, 200.5, 0.0);
    ttl[0].team = 3;
    ntmax = 1;
    elapsed_time = 4242;
    EXPECT_EQ(field_capture_screen(), 1);
    const std::time_t before = std::time(nullptr);
    display();
    const std::time_t after = std::time(nullptr);
    EXPECT_TRUE(capture_request.empty()) << "the request is served once";

    const fs::path file = dir / "kelpmoor-capture-4242.png";
    std::ifstream in(file, std::ios::binary);
    char signature[8] = {};
    in.read(signature, 8);
    EXPECT_EQ(std::string(signature, 8), "\x89PNG\r\n\x1a\n");

    const decoded d = decode(file);
    EXPECT_EQ(std::make_tuple(d.width, d.height, d.depth, d.colour, d.interlace),
              std::make_tuple(512u, 512u, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE));
    const std::vector<std::pair<std::string, std::string>> texts = {
        {"Author", "kelp-tester"}, {"Software", "kelpmoor for TAVI-RUNE by VX"},
        {"Source", host_name()}};
    ASSERT_EQ(d.texts.size(), 4u);
    EXPECT_EQ(std::vector(d.texts.begin(), d.texts.begin() + 3), texts);
    EXPECT_EQ(d.texts[3].first, "Description");
    const std::string &when = d.texts[3].second;
    char expect_before[26], expect_after[26];
    ctime_r(&before, expect_before);
    ctime_r(&after, expect_after);
    // ctime text without its newline, taken while the frame was drawn.
    EXPECT_TRUE(when == std::string(expect_before, 24) || when == std::string(expect_after, 24))
        << when;

    // Window row 456 (the turtle) is file row 55; window row 55 is file row 456.
    ASSERT_EQ(d.rows.size(), 512u);
    const unsigned char *turtle_px = &d.rows[55][256 * 3];
    EXPECT_GT(turtle_px[2], 200);
    EXPECT_LT(turtle_px[0], 60);
    const unsigned char *floor_px = &d.rows[456][256 * 3];
    EXPECT_EQ(floor_px[0] + floor_px[1] + floor_px[2], 0);
}

TEST_F(CaptureTest, AuthorFallsBackAndIsCutAndAMissingDirectoryLeavesNoFile) {
    unsetenv("USER");
    EXPECT_STREQ(make_capture_texts().author.data(), "unknown");
    setenv("USER", "a-user-name-much-longer-than-thirty-one-characters", 1);
    EXPECT_STREQ(make_capture_texts().author.data(), "a-user-name-much-longer-than-th");

    const fs::path target = dir / "no-such-dir" / "shot.png";
    capture_request = target.string();
    testing::internal::CaptureStderr();
    display();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "saveImageToPNG: cannot open file:" + target.string() + "\n");
    EXPECT_FALSE(fs::exists(target));
    EXPECT_TRUE(capture_request.empty());

    // The next capture works again.
    capture_request = (dir / "shot.png").string();
    display();
    EXPECT_TRUE(fs::exists(dir / "shot.png"));
}
