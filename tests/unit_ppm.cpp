// unit_ppm.cpp: the binary PPM reader: size, comments, pixel order, and what it refuses.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "glutil.h"
#include "support.h"

namespace {

struct PpmTest : ::testing::Test {
    std::string path;
    void SetUp() override {
        char tmpl[] = "/tmp/kelpmoor-ppm-XXXXXX";
        const int fd = mkstemp(tmpl);
        ASSERT_GE(fd, 0);
        close(fd);
        path = tmpl;
    }
    void TearDown() override { std::remove(path.c_str()); }
    void write(const std::string &bytes) {
        FILE *fp = std::fopen(path.c_str(), "wb");
        ASSERT_NE(fp, nullptr);
        std::fwrite(bytes.data(), 1, bytes.size(), fp);
        std::fclose(fp);
    }
};

}  // namespace

TEST_F(PpmTest, ReadsP6SkippingCommentsAndStoresPixelsInReverse) {
    std::string pixels;
    for (int k = 0; k < 6; k++) pixels += {char(10 * k), char(10 * k + 1), char(10 * k + 2)};
    write("P6\n# made by hand\n# second comment\n3 2\n255\n" + pixels);
    int w = 0, h = 0;
    testing::internal::CaptureStdout();
    unsigned char *img = readPPMToImage(path.c_str(), &w, &h);
    const std::string out = testing::internal::GetCapturedStdout();
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(w, 3);
    EXPECT_EQ(h, 2);
    EXPECT_EQ(out, "reading:" + path + " width:3 height 2 max:255\n");
    for (int k = 0; k < 6; k++) {
        const unsigned char *triple = img + (5 - k) * 3;
        EXPECT_EQ(triple[0], 10 * k);
        EXPECT_EQ(triple[1], 10 * k + 1);
        EXPECT_EQ(triple[2], 10 * k + 2);
    }
    std::free(img);
}

TEST_F(PpmTest, RefusesOtherFormatsBadSizesAndShortData) {
    int w = -1, h = -1;
    testing::internal::CaptureStderr();
    write("P3\n1 1\n255\n0 0 0\n");
    EXPECT_EQ(readPPMToImage(path.c_str(), &w, &h), nullptr);
    write("P6\n0 4\n255\n");
    EXPECT_EQ(readPPMToImage(path.c_str(), &w, &h), nullptr);
    write("P6\nwide high\n255\n");
    EXPECT_EQ(readPPMToImage(path.c_str(), &w, &h), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << "refusals are silent";
    EXPECT_EQ(w, -1);
    EXPECT_EQ(h, -1);

    testing::internal::CaptureStdout();
    write("P6\n2 2\n255\n" + std::string(9, 'x'));  // one pixel short
    EXPECT_EQ(readPPMToImage(path.c_str(), &w, &h), nullptr);
    testing::internal::GetCapturedStdout();
}

TEST_F(PpmTest, MissingFileIsReported) {
    const std::string missing = path + "-gone";
    int w = 0, h = 0;
    testing::internal::CaptureStderr();
    EXPECT_EQ(readPPMToImage(missing.c_str(), &w, &h), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "cannot open file:" + missing + "\n");
}
