// image_files.cpp: screen captures as PNG files (libpng), with their texts, and the binary PPM
// reader.
#include "draw/image_files.h"

#include <GL/gl.h>
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>
#include <string>
#include <utility>

namespace {

// What libpng reported, and errno at that moment (the file system's reason for a failed write).
struct png_failure {
    char message[128] = "";
    int error_number = 0;
};

// libpng ends the process when an error handler returns, or when there is none and no jump was
// set; this one records the failure and jumps back into write_png.
[[noreturn]] void on_png_error(png_structp png, png_const_charp message) {
    auto *failure = static_cast<png_failure *>(png_get_error_ptr(png));
    failure->error_number = errno;
    std::snprintf(failure->message, sizeof failure->message, "%s", message);
    png_longjmp(png, 1);
}

// The encoder's whole run on an open file; false when libpng reported an error. libpng leaves
// through a long jump to the setjmp below, so this function holds nothing that needs destroying.
bool write_png(png_structp png, png_infop info, FILE *fp, int width, int height, png_bytepp rows,
               png_textp text, int ntext) {
    if (setjmp(png_jmpbuf(png)) != 0) return false;
    png_set_text(png, info, text, ntext);
    png_init_io(png, fp);
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_write_image(png, rows);
    png_write_end(png, info);
    return true;
}

}  // namespace

capture_texts make_capture_texts() {
    capture_texts t{};
    const char *user = std::getenv("USER");
    std::snprintf(t.author.data(), t.author.size(), "%s", user != nullptr ? user : "unknown");

    // gethostname may leave a cut name unterminated: the buffer has a spare zero at its end.
    std::array<char, 257> host{};
    if (gethostname(host.data(), host.size() - 1) != 0) host[0] = '\0';
    std::snprintf(t.source.data(), t.source.size(), "%s", host.data());

    const std::time_t now = std::time(nullptr);
    char when[64] = "";
    if (ctime_r(&now, when) == nullptr) when[0] = '\0';
    when[std::strcspn(when, "\n")] = '\0';
    std::snprintf(t.description.data(), t.description.size(), "%s", when);
    return t;
}

void saveImageToPNG(int width, int height, const char *filename) {
    if (width <= 0 || height <= 0) return;
    const std::size_t row_bytes = static_cast<std::size_t>(width) * 3;
    const std::size_t nbytes = static_cast<std::size_t>(width) * 4 * height;
    std::unique_ptr<unsigned char[]> pixels(new (std::nothrow) unsigned char[nbytes]);
    std::unique_ptr<unsigned char[]> rows_data(
        new (std::nothrow) unsigned char[row_bytes * height]);
    std::unique_ptr<png_bytep[]> rows(new (std::nothrow) png_bytep[height]);
    if (!pixels || !rows_data || !rows) {
        std::fprintf(stderr, "saveImageToPNG: cannot allocate the image buffers\n");
        return;
    }

    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadBuffer(GL_BACK);
    glReadPixels(0, 0, width, height, GL_RGB, GL_UNSIGNED_BYTE, pixels.get());
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    for (int j = 0; j < height; j++) {
        rows[j] = rows_data.get() + row_bytes * j;
        std::memcpy(rows[j], pixels.get() + row_bytes * (height - 1 - j), row_bytes);
    }

    FILE *fp = std::fopen(filename, "wb");
    if (fp == nullptr) {
        std::fprintf(stderr, "saveImageToPNG: cannot open file:%s\n", filename);
        return;
    }
    // After a failure only a regular file is removed, never a device or a pipe.
    struct stat st {};
    const bool regular_file = fstat(fileno(fp), &st) == 0 && S_ISREG(st.st_mode);
    png_failure failure;
    png_structp png_ptr =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, &failure, on_png_error, nullptr);
    if (png_ptr == nullptr) {
        std::fprintf(stderr, "saveImageToPNG: cannot create png_ptr\n");
        std::fclose(fp);
        return;
    }
    png_infop info_ptr = png_create_info_struct(png_ptr);
    if (info_ptr == nullptr) {
        std::fprintf(stderr, "saveImageToPNG: cannot create info_ptr\n");
        png_destroy_write_struct(&png_ptr, nullptr);
        std::fclose(fp);
        return;
    }

    capture_texts t = make_capture_texts();
    std::string software = CAPTURE_SOFTWARE;
    char k_author[] = "Author", k_software[] = "Software", k_source[] = "Source",
         k_description[] = "Description";
    std::array<png_text, 4> text{};
    const std::array<std::pair<char *, char *>, 4> entries = {{
        {k_author, t.author.data()},
        {k_software, software.data()},
        {k_source, t.source.data()},
        {k_description, t.description.data()},
    }};
    for (std::size_t i = 0; i < text.size(); i++) {
        text[i].compression = PNG_TEXT_COMPRESSION_zTXt;
        text[i].key = entries[i].first;
        text[i].text = entries[i].second;
        text[i].text_length = std::strlen(entries[i].second);
    }

    const bool written = write_png(png_ptr, info_ptr, fp, width, height, rows.get(), text.data(),
                                   static_cast<int>(text.size()));
    const bool write_refused = std::ferror(fp) != 0;
    png_destroy_write_struct(&png_ptr, &info_ptr);
    // A picture smaller than the stream's buffer reaches the file only here.
    errno = 0;
    const bool closed = std::fclose(fp) == 0;
    const int close_errno = errno;
    if (written && closed) return;

    const char *reason = "cannot close the file";
    if (!written) {
        reason = write_refused && failure.error_number != 0 ? std::strerror(failure.error_number)
                                                            : failure.message;
    } else if (close_errno != 0) {
        reason = std::strerror(close_errno);
    }
    if (regular_file) std::remove(filename);
    std::fprintf(stderr, "saveImageToPNG: cannot write file:%s: %s\n", filename, reason);
}

unsigned char *readPPMToImage(const char *filename, int *w, int *h) {
    FILE *fp = std::fopen(filename, "rb");
    if (fp == nullptr) {
        std::fprintf(stderr, "cannot open file:%s\n", filename);
        return nullptr;
    }
    std::unique_ptr<FILE, int (*)(FILE *)> file(fp, std::fclose);
    char line[256];
    if (std::fgets(line, sizeof line, fp) == nullptr || std::strncmp(line, "P6", 2) != 0) {
        return nullptr;
    }
    do {
        if (std::fgets(line, sizeof line, fp) == nullptr) return nullptr;
    } while (line[0] == '#');
    int width = 0, height = 0, maxval = 0;
    if (std::sscanf(line, "%d %d", &width, &height) != 2) return nullptr;
    if (std::fgets(line, sizeof line, fp) == nullptr || std::sscanf(line, "%d", &maxval) != 1) {
        return nullptr;
    }
    // 16384 pixels a side is far beyond any picture this program reads and keeps the size
    // computations below overflow-free.
    constexpr int max_side = 16384;
    if (width <= 0 || height <= 0 || width > max_side || height > max_side) return nullptr;

    *w = width;
    *h = height;
    std::printf("reading:%s width:%d height %d max:%d\n", filename, width, height, maxval);
    std::fflush(stdout);

    const std::size_t npix = static_cast<std::size_t>(width) * height;
    auto *image = static_cast<unsigned char *>(std::malloc(npix * 4));
    if (image == nullptr) {
        std::fprintf(stderr, "readPPMToImage: cannot allocate %zu bytes\n", npix * 4);
        return nullptr;
    }
    for (std::size_t k = 0; k < npix; k++) {
        unsigned char rgb[3];
        if (std::fread(rgb, 1, 3, fp) != 3) {
            std::free(image);
            return nullptr;
        }
        std::memcpy(image + (npix - 1 - k) * 3, rgb, 3);
    }
    return image;
}
