// Helpers for the image reader tests: temporary files and BMP files built
// byte by byte.
#ifndef ORVANDEL_TESTS_IMAGE_FILES_H
#define ORVANDEL_TESTS_IMAGE_FILES_H

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

using Bytes = std::vector<unsigned char>;

// A name in the temporary directory that no other test process uses.
inline std::string tempPath(const char* name) {
    return testing::TempDir() + "orvandel_" + std::to_string(getpid()) + "_" + name;
}

// A file in the temporary directory, removed when the test ends.
struct TempFile {
    std::string path;
    explicit TempFile(const Bytes& content, const char* name = "image") : path(tempPath(name)) {
        FILE* f = fopen(path.c_str(), "wb");
        EXPECT_NE(f, nullptr);
        if (!content.empty()) fwrite(content.data(), 1, content.size(), f);
        fclose(f);
    }
    ~TempFile() { remove(path.c_str()); }
    const char* c_str() const { return path.c_str(); }
};

inline void put16(Bytes& b, size_t at, uint16_t v) {
    b[at] = v & 0xff;
    b[at + 1] = v >> 8;
}
inline void put32(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = (v >> (8 * i)) & 0xff;
}

// The fields of a BMP file; `data` is the pixel block as stored (padded rows).
struct BmpFields {
    int32_t width = 1;
    int32_t height = 1;
    uint16_t bits = 24;
    uint32_t compression = 0;
    uint32_t headerSize = 40;
    uint32_t colorsUsed = 0;
    Bytes palette;     // B, G, R, 0 entries, written right after the header
    uint32_t gap = 0;  // bytes between the palette and the pixel block
    Bytes data;
};

inline Bytes encodeBmp(const BmpFields& b) {
    size_t offset = 14 + b.headerSize + b.palette.size() + b.gap;
    // Room for the 40 header bytes written below even when headerSize is
    // shorter (such files are refused before their pixels).
    Bytes out(std::max<size_t>(offset, 54), 0);
    out[0] = 'B';
    out[1] = 'M';
    put32(out, 2, uint32_t(offset + b.data.size()));
    put32(out, 10, uint32_t(offset));
    put32(out, 14, b.headerSize);
    put32(out, 18, uint32_t(b.width));
    put32(out, 22, uint32_t(b.height));
    put16(out, 26, 1);
    put16(out, 28, b.bits);
    put32(out, 30, b.compression);
    put32(out, 46, b.colorsUsed);
    std::copy(b.palette.begin(), b.palette.end(), out.begin() + 14 + b.headerSize);
    out.insert(out.end(), b.data.begin(), b.data.end());
    return out;
}

// A pixel block of `rows` rows, each `width * bytesPerPixel` bytes from
// value(row, i) followed by padding bytes 0xEE up to a multiple of 4.
template <class F>
Bytes pixelBlock(int width, int rows, int bytesPerPixel, F value) {
    Bytes out;
    for (int r = 0; r < rows; ++r) {
        int n = width * bytesPerPixel;
        for (int i = 0; i < n; ++i) out.push_back(value(r, i));
        while (n++ % 4) out.push_back(0xEE);
    }
    return out;
}

#endif  // ORVANDEL_TESTS_IMAGE_FILES_H
