// Reader for raw PPM ("P6") images.
//
// The header is read line by line: after the magic "P6" come the width, the
// height and the maximum value, spread over one or more lines (the magic
// line included); a line starting with "#" is a comment. The raster starts
// right after the line that completed the three numbers.
//
// Every pixel takes at least one byte of the file, so an image with more
// pixels than the file has bytes is refused, and the raster is read into a
// buffer that grows as it arrives: memory follows the bytes the file holds,
// never the size its header claims. A raster merely cut short is still read
// as far as it goes. Nothing here seeks, so pipes are read as files are.
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kel/alloc.h"
#include "kel/kel.h"

static bool isBlank(int c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

// The file and the count of header bytes taken from it so far.
struct PpmInput {
    FILE* f;
    unsigned long long used;
};

static int nextByte(PpmInput* in) {
    int c = getc(in->f);
    if (c != EOF) ++in->used;
    return c;
}

// Reads up to `room` decimal numbers (each after any blanks, an optional sign
// allowed) from the rest of the current line, stopping at the first that does
// not parse, then skips to the start of the next line. Magnitudes beyond
// INT_MAX are stored as INT_MAX + 1, which every later check refuses.
// Returns the count read; *atEnd tells whether the file ended on this line.
static int readLineNumbers(PpmInput* in, long long* values, int room, bool* atEnd) {
    int count = 0;
    int c = nextByte(in);
    while (count < room) {
        while (isBlank(c)) c = nextByte(in);
        bool negative = c == '-';
        if (c == '-' || c == '+') c = nextByte(in);
        if (c < '0' || c > '9') break;
        long long v = 0;
        for (; c >= '0' && c <= '9'; c = nextByte(in))
            if (v <= INT_MAX) v = v * 10 + (c - '0');
        if (v > INT_MAX) v = INT_MAX + 1LL;
        values[count++] = negative ? -v : v;
    }
    while (c != '\n' && c != EOF) c = nextByte(in);
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

// Reads up to `bytes` bytes of 8-bit samples (or of 16-bit samples scaled to
// 8 bits when maxval > 255) into a heap buffer that starts small and doubles
// while the file keeps giving samples. Stores the bytes filled and the file
// bytes they took; returns the buffer (the caller frees it with free()), or
// null when memory ran out.
static unsigned char* readRaster(FILE* f, size_t bytes, unsigned maxval, size_t* filled, unsigned long long* used) {
    const size_t firstRoom = 64 * 1024;
    size_t room = bytes < firstRoom ? bytes : firstRoom;
    unsigned char* out = static_cast<unsigned char*>(malloc(room));
    size_t done = 0;
    while (out) {
        size_t want = room - done;
        size_t got = maxval <= 255 ? fread(out + done, 1, want, f) : readWideSamples(f, out + done, want, maxval);
        done += got;
        if (got < want || done == bytes) break;
        room = bytes - room < room ? bytes : 2 * room;
        unsigned char* grown = static_cast<unsigned char*>(realloc(out, room));
        if (!grown) free(out);
        out = grown;
    }
    *filled = done;
    *used = maxval <= 255 ? done : 2 * (unsigned long long)done;
    return out;
}

unsigned char* kelReadPPM(const char* filename, int* width, int* height) {
    FILE* f = fopen(filename, "rb");
    if (!f) {
        kelMessage(stderr, "%s: %s", filename, strerror(errno));
        return nullptr;
    }

    const char* problem = nullptr;
    PpmInput in = {f, 0};
    int c1 = nextByte(&in);
    int c2 = nextByte(&in);
    long long values[3] = {0, 0, 0};  // width, height, maximum value
    int count = 0;
    bool atEnd = false;
    if (c1 != 'P' || c2 != '6') {
        problem = "Not a raw PPM file";
    } else {
        count = readLineNumbers(&in, values, 3, &atEnd);
        while (count < 3 && !atEnd) {
            int c = nextByte(&in);
            if (c == '#') {
                long long ignored;
                readLineNumbers(&in, &ignored, 0, &atEnd);
                continue;
            }
            if (c != EOF) {
                ungetc(c, f);
                --in.used;
            }
            count += readLineNumbers(&in, values + count, 3 - count, &atEnd);
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
        size_t filled = 0;
        unsigned long long rasterUsed = 0;
        pixels = readRaster(f, bytes, unsigned(values[2]), &filled, &rasterUsed);
        if (pixels && uint64_t(values[0]) * uint64_t(values[1]) > in.used + rasterUsed) {
            free(pixels);
            pixels = nullptr;
            problem = "PPM image larger than the file";
        } else if (pixels && filled < bytes) {
            // A short raster leaves the rest black.
            unsigned char* whole = static_cast<unsigned char*>(realloc(pixels, bytes));
            if (!whole) free(pixels);
            pixels = whole;
            if (pixels) memset(pixels + filled, 0, bytes - filled);
        }
        if (!pixels && !problem) problem = "Cannot allocate PPM pixel memory";
    }
    fclose(f);
    if (problem) {
        kelMessage(stderr, "%s: %s", filename, problem);
        return nullptr;
    }
    *width = int(values[0]);
    *height = int(values[1]);
    return pixels;  // the caller owns it and frees it with free()
}
