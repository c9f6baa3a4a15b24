// Reader for raw PPM ("P6") images.
//
// The header is read line by line: after the magic "P6" come the width, the
// height and the maximum value, spread over one or more lines (the magic
// line included); a line starting with "#" is a comment. The raster starts
// right after the line that completed the three numbers.
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kel/kel.h"

static bool isBlank(int c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

// Reads up to `room` decimal numbers (each after any blanks, an optional sign
// allowed) from the rest of the current line, stopping at the first that does
// not parse, then skips to the start of the next line. Magnitudes beyond
// INT_MAX are stored as INT_MAX + 1, which every later check refuses.
// Returns the count read; *atEnd tells whether the file ended on this line.
static int readLineNumbers(FILE* f, long long* values, int room, bool* atEnd) {
    int count = 0;
    int c = getc(f);
    while (count < room) {
        while (isBlank(c)) c = getc(f);
        bool negative = c == '-';
        if (c == '-' || c == '+') c = getc(f);
        if (c < '0' || c > '9') break;
        long long v = 0;
        for (; c >= '0' && c <= '9'; c = getc(f))
            if (v <= INT_MAX) v = v * 10 + (c - '0');
        if (v > INT_MAX) v = INT_MAX + 1LL;
        values[count++] = negative ? -v : v;
    }
    while (c != '\n' && c != EOF) c = getc(f);
    *atEnd = c == EOF;
    return count;
}

// Reads `count` big-endian two-byte samples and scales them from 0..maxval to
// 0..255. Returns the number of samples read.
static size_t readWideSamples(FILE* f, unsigned char* out, size_t count, unsigned maxval) {
    unsigned char buffer[8192];
    size_t done = 0;
    while (done < count) {
        size_t want = count - done < sizeof buffer / 2 ? count - done : sizeof buffer / 2;
        size_t got = fread(buffer, 2, want, f);
        for (size_t i = 0; i < got; ++i) {
            unsigned v = unsigned(buffer[2 * i]) << 8 | buffer[2 * i + 1];
            out[done + i] = v >= maxval ? 255 : (unsigned char)((v * 255u + maxval / 2) / maxval);
        }
        done += got;
        if (got < want) break;
    }
    return done;
}

unsigned char* kelReadPPM(const char* filename, int* width, int* height) {
    FILE* f = fopen(filename, "rb");
    if (!f) {
        fprintf(stderr, "%s: %s\n", filename, strerror(errno));
        return nullptr;
    }

    const char* problem = nullptr;
    int c1 = getc(f);
    int c2 = getc(f);
    long long values[3] = {0, 0, 0};  // width, height, maximum value
    int count = 0;
    bool atEnd = false;
    if (c1 != 'P' || c2 != '6') {
        problem = "Not a raw PPM file";
    } else {
        count = readLineNumbers(f, values, 3, &atEnd);
        while (count < 3 && !atEnd) {
            int c = getc(f);
            if (c == '#') {
                long long ignored;
                readLineNumbers(f, &ignored, 0, &atEnd);
                continue;
            }
            ungetc(c, f);
            count += readLineNumbers(f, values + count, 3 - count, &atEnd);
        }
        if (count < 3)
            problem = "Unexpected end of PPM header";
        else if (values[0] <= 0 || values[1] <= 0)
            problem = "Invalid PPM image size";
        else if (values[2] < 1 || values[2] > 65535)
            problem = "Invalid PPM maximum value";
        else if (uint64_t(values[0]) * uint64_t(values[1]) * 3 > uint64_t(INT_MAX))
            problem = "PPM image too large";  // sizes must stay within int
    }

    unsigned char* pixels = nullptr;
    if (!problem) {
        size_t bytes = size_t(values[0]) * size_t(values[1]) * 3;
        // Zero-filled: a short raster leaves the rest black.
        pixels = static_cast<unsigned char*>(calloc(bytes, 1));
        if (!pixels) {
            problem = "Cannot allocate PPM pixel memory";
        } else {
            size_t got =
                values[2] <= 255 ? fread(pixels, 1, bytes, f) : readWideSamples(f, pixels, bytes, unsigned(values[2]));
            (void)got;  // a short raster leaves the rest zero
        }
    }
    fclose(f);
    if (problem) {
        fprintf(stderr, "%s: %s\n", filename, problem);
        return nullptr;
    }
    *width = int(values[0]);
    *height = int(values[1]);
    return pixels;  // the caller owns it and frees it with free()
}
