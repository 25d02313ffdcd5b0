// image_files.h: screen captures written as PNG files, and the binary PPM reader.
// saveImageToPNG: main thread, between frames, with the window's GL context current; it takes
// no lock. make_capture_texts and readPPMToImage: any thread, no GL context needed.
#pragma once

#include <array>

// Writes the back buffer's (0, 0, width, height) as an 8-bit RGB PNG, top row first, with the
// zTXt texts Author, Software, Source and Description. Never ends the program: any failure
// (the file cannot be opened, libpng or the file system refuses a write, the close fails) is
// reported as one line on stderr naming the file, and a regular file left half written is
// removed.
void saveImageToPNG(int width, int height, const char *filename);

// The texts of a capture: USER (or "unknown") cut to 31 bytes, the host name cut to 127,
// the local time in ctime's 24-character form without its newline.
struct capture_texts {
    std::array<char, 32> author;
    std::array<char, 128> source;
    std::array<char, 32> description;
};
capture_texts make_capture_texts();
inline constexpr char CAPTURE_SOFTWARE[] = "kelpmoor for TAVI-RUNE by VX";

// Binary "P6" PPM: a new width x height x 4 byte buffer (free() it) holding the pixels as RGB
// triples in reverse order, or nullptr (cannot open, not P6, bad size or truncated data).
unsigned char *readPPMToImage(const char *filename, int *w, int *h);
