// gl_capture.cpp: screen capture from a real window: the PNG file's chunks, header, texts and
// row order, the author text, and a capture that cannot be written.
#include <png.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "glutil.h"
#include "kelpmoor.h"
#include "support.h"
#include "turtle.h"

namespace {

namespace fs = std::filesystem;

struct chunk {
    std::string type;
    std::vector<unsigned char> data;
};

uint32_t be32(const unsigned char *p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

std::vector<unsigned char> slurp(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The chunks after the 8-byte signature, in file order.
std::vector<chunk> chunks_of(const std::vector<unsigned char> &file) {
    std::vector<chunk> out;
    for (std::size_t i = 8; i + 12 <= file.size();) {
        const uint32_t len = be32(&file[i]);
        if (i + 12 + len > file.size()) break;
        out.push_back({std::string(file.begin() + i + 4, file.begin() + i + 8),
                       {file.begin() + i + 8, file.begin() + i + 8 + len}});
        i += 12 + len;
    }
    return out;
}

struct decoded {
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
    png_bytepp rows = png_get_rows(png, info);
    const png_uint_32 w = png_get_image_width(png, info), h = png_get_image_height(png, info);
    for (png_uint_32 j = 0; j < h; j++) d.rows.emplace_back(rows[j], rows[j] + w * 3);
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
    const std::vector<unsigned char> bytes = slurp(file);
    ASSERT_GT(bytes.size(), 8u);
    const unsigned char signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    EXPECT_EQ(std::memcmp(bytes.data(), signature, 8), 0);

    const std::vector<chunk> chunks = chunks_of(bytes);
    ASSERT_GE(chunks.size(), 7u);
    EXPECT_EQ(chunks[0].type, "IHDR");
    for (int i = 1; i <= 4; i++) EXPECT_EQ(chunks[i].type, "zTXt") << "chunk " << i;
    for (std::size_t i = 5; i + 1 < chunks.size(); i++) EXPECT_EQ(chunks[i].type, "IDAT");
    EXPECT_EQ(chunks.back().type, "IEND");
    const std::vector<unsigned char> &ihdr = chunks[0].data;
    ASSERT_EQ(ihdr.size(), 13u);
    EXPECT_EQ(be32(&ihdr[0]), 512u);
    EXPECT_EQ(be32(&ihdr[4]), 512u);
    EXPECT_EQ(ihdr[8], 8) << "bit depth";
    EXPECT_EQ(ihdr[9], 2) << "RGB";
    EXPECT_EQ(ihdr[10], 0);
    EXPECT_EQ(ihdr[11], 0);
    EXPECT_EQ(ihdr[12], 0) << "not interlaced";

    const decoded d = decode(file);
    ASSERT_EQ(d.texts.size(), 4u);
    EXPECT_EQ(d.texts[0].first, "Author");
    EXPECT_EQ(d.texts[0].second, "kelp-tester");
    EXPECT_EQ(d.texts[1].first, "Software");
    EXPECT_EQ(d.texts[1].second, "kelpmoor for TAVI-RUNE by VX");
    EXPECT_EQ(d.texts[2].first, "Source");
    EXPECT_EQ(d.texts[2].second, host_name());
    EXPECT_EQ(d.texts[3].first, "Description");
    const std::string &when = d.texts[3].second;
    EXPECT_TRUE(std::regex_match(when, std::regex(R"([A-Z][a-z]{2} [A-Z][a-z]{2} [ 1-3]\d \d\d:\d\d:\d\d \d{4})")))
        << when;
    char expect_before[26], expect_after[26];
    ctime_r(&before, expect_before);
    ctime_r(&after, expect_after);
    EXPECT_TRUE(when == std::string(expect_before, 24) || when == std::string(expect_after, 24));

    // Window row 456 (the turtle) is file row 55; window row 55 is file row 456.
    ASSERT_EQ(d.rows.size(), 512u);
    const unsigned char *turtle_px = &d.rows[55][256 * 3];
    EXPECT_GT(turtle_px[2], 200);
    EXPECT_LT(turtle_px[0], 60);
    const unsigned char *floor_px = &d.rows[456][256 * 3];
    EXPECT_EQ(floor_px[0] + floor_px[1] + floor_px[2], 0);
}

TEST_F(CaptureTest, AuthorTextFallsBackAndIsCut) {
    unsetenv("USER");
    EXPECT_STREQ(make_capture_texts().author.data(), "unknown");
    setenv("USER", "a-user-name-much-longer-than-thirty-one-characters", 1);
    EXPECT_STREQ(make_capture_texts().author.data(), "a-user-name-much-longer-than-th");
    EXPECT_EQ(std::string(make_capture_texts().source.data()), host_name());
}

TEST_F(CaptureTest, MissingDirectoryIsReportedAndLeavesNoFile) {
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
