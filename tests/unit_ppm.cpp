// unit_ppm.cpp: the binary PPM reader: size, comments, pixel order, and what it refuses.
#include <unistd.h>

#include "draw/image_files.h"
#include "support.h"

namespace {

namespace ti = testing::internal;  // captured standard output and error

struct PpmTest : ::testing::Test {
    std::string path;
    int w = -1, h = -1;
    void SetUp() override {
        char tmpl[] = "/tmp/kelpmoor-ppm-XXXXXX";
        const int fd = mkstemp(tmpl);
        ASSERT_GE(fd, 0);
        close(fd);
        path = tmpl;
    }
    void TearDown() override { std::remove(path.c_str()); }
    // The file holding bytes, read back.
    unsigned char *read(const std::string &bytes) {
        FILE *fp = std::fopen(path.c_str(), "wb");
        std::fwrite(bytes.data(), 1, bytes.size(), fp);
        std::fclose(fp);
        return readPPMToImage(path.c_str(), &w, &h);
    }
};

}  // namespace

// Refusals first, while the size outputs are untouched.
TEST_F(PpmTest, RefusesOtherFormatsBadSizesShortDataAndAMissingFileAndReadsP6InReverse) {
    ti::CaptureStderr();
    for (const char *bad : {"P3\n1 1\n255\n0 0 0\n", "P6\n0 4\n255\n", "P6\nwide high\n255\n"}) {
        EXPECT_EQ(read(bad), nullptr) << bad;
    }
    EXPECT_EQ(ti::GetCapturedStderr(), "") << "refusals are silent";
    EXPECT_TRUE(w == -1 && h == -1);

    ti::CaptureStdout();
    EXPECT_EQ(read("P6\n2 2\n255\n" + std::string(9, 'x')), nullptr);  // one pixel short
    ti::GetCapturedStdout();

    const std::string missing = path + "-gone";
    ti::CaptureStderr();
    EXPECT_EQ(readPPMToImage(missing.c_str(), &w, &h), nullptr);
    EXPECT_EQ(ti::GetCapturedStderr(), "cannot open file:" + missing + "\n");

    // Comments skipped, pixels stored last first.
    std::string pixels, reversed;
    for (int k = 0; k < 6; k++) pixels += {char(10 * k), char(10 * k + 1), char(10 * k + 2)};
    for (int k = 5; k >= 0; k--) reversed += pixels.substr(3 * k, 3);
    ti::CaptureStdout();
    unsigned char *img = read("P6\n# made by hand\n# second comment\n3 2\n255\n" + pixels);
    EXPECT_EQ(ti::GetCapturedStdout(), "reading:" + path + " width:3 height 2 max:255\n");
    ASSERT_NE(img, nullptr);
    EXPECT_TRUE(w == 3 && h == 2) << w << " x " << h;
    EXPECT_EQ(std::string(reinterpret_cast<char *>(img), 18), reversed);
    std::free(img);
}
