// Reader for uncompressed 8- and 24-bit Windows BMP images.
//
// The file's numbers are little-endian; on a big-endian host the fields in
// use are swapped after they are copied out of the header blocks. Pixel rows
// are read in chunks of whole rows and converted from B, G, R (or palette
// indices) to tightly packed R, G, B in the order bottom row first.
#include "image/bmp.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

int hostIsBigEndian = 0;

void detectHostByteOrder() {
    uint16_t one = 1;
    unsigned char first;
    memcpy(&first, &one, 1);
    hostIsBigEndian = first == 0;
}

void swapBytes32(uint32_t* value) {
    uint32_t v = *value;
    *value = (v >> 24) | ((v >> 8) & 0xff00u) | ((v << 8) & 0xff0000u) | (v << 24);
}

void swapBytes16(uint16_t* value) { *value = uint16_t((*value >> 8) | (*value << 8)); }

static uint32_t field32(const unsigned char* p) {
    uint32_t v;
    memcpy(&v, p, 4);
    if (hostIsBigEndian) swapBytes32(&v);
    return v;
}

static uint16_t field16(const unsigned char* p) {
    uint16_t v;
    memcpy(&v, p, 2);
    if (hostIsBigEndian) swapBytes16(&v);
    return v;
}

// Bytes of file read per fread while converting rows: big enough that the
// call overhead vanishes, small enough to stay in cache while converted.
enum { kChunkBytes = 256 * 1024 };

// Converts one file row of `width` pixels to R, G, B. `palette` is null for
// 24-bit rows, else 256 entries of R, G, B.
static void convertRow(const unsigned char* src, unsigned char* dst, size_t width, const unsigned char* palette) {
    if (palette) {
        for (size_t x = 0; x < width; ++x, dst += 3) {
            const unsigned char* c = palette + 3 * size_t(src[x]);
            dst[0] = c[0];
            dst[1] = c[1];
            dst[2] = c[2];
        }
    } else {
        for (size_t x = 0; x < width; ++x, src += 3, dst += 3) {
            unsigned char b = src[0], g = src[1], r = src[2];
            dst[0] = r;
            dst[1] = g;
            dst[2] = b;
        }
    }
}

void readBmpImage(const char* path, BmpImage* image) {
    detectHostByteOrder();

    FILE* f = fopen(path, "rb");
    if (!f) {
        printf("Could not open file '%s'\n", path);
        return;
    }

    unsigned char magic[2] = {0, 0};
    if (fread(magic, 2, 1, f) != 1 || magic[0] != 'B' || magic[1] != 'M') {
        printf("Error reading BMP file, file type incorrect\n");
        fclose(f);
        return;
    }

    unsigned char fileHeader[12];
    if (fread(fileHeader, sizeof fileHeader, 1, f) != 1) {
        printf("Error reading BMP file header\n");
        fclose(f);
        return;
    }
    uint32_t pixelOffset = field32(fileHeader + 8);

    // The first 40 bytes of the information header; longer headers (108 or
    // 124 bytes) carry only fields this reader does not need after them.
    unsigned char info[40];
    uint32_t headerSize = 0;
    if (fread(info, sizeof info, 1, f) == 1) headerSize = field32(info);
    if (headerSize < 40) {
        printf("Error reading BMP Information record\n");
        fclose(f);
        return;
    }
    int32_t width = int32_t(field32(info + 4));
    int32_t height = int32_t(field32(info + 8));
    uint16_t bitsPerPixel = field16(info + 14);
    uint32_t compression = field32(info + 16);
    uint32_t colorsUsed = field32(info + 32);

    if (compression != 0) {
        printf("Sorry, this code cannot read compressed image files\n");
        fclose(f);
        return;
    }
    if (bitsPerPixel != 8 && bitsPerPixel != 24) {
        printf("Sorry, this code can only read 8 bit or 24 bit image files\n");
        fclose(f);
        return;
    }
    size_t bytesPerPixel = bitsPerPixel / 8;

    // A negative height marks a top-down file: its rows are stored top row
    // first and are put in place bottom row first.
    bool topDown = height < 0;
    if (width < 0 || height == INT32_MIN) {
        printf("Error reading BMP file, invalid image size\n");
        fclose(f);
        return;
    }
    uint64_t rows = topDown ? uint64_t(-int64_t(height)) : uint64_t(height);
    uint64_t pixelCount = uint64_t(width) * rows;
    // The result must stay addressable with the int sizes callers and GL use.
    if (pixelCount * 3 > uint64_t(INT32_MAX)) {
        printf("Error reading BMP file, invalid image size\n");
        fclose(f);
        return;
    }
    // Every pixel takes at least one byte of the file, so a picture with more
    // pixels than the file has bytes cannot be in it. This bounds the
    // allocation by the file's size; a file merely cut short inside its rows
    // is still read as far as it goes.
    long fileSize = fseek(f, 0, SEEK_END) == 0 ? ftell(f) : -1;
    if (fileSize < 0 || pixelCount > uint64_t(fileSize)) {
        printf("Error reading BMP file, image larger than the file\n");
        fclose(f);
        return;
    }

    // The colour table follows the information header, with colorsUsed
    // entries (0 meaning 256) of blue, green, red, reserved. Entries the file
    // does not hold stay black.
    unsigned char palette[256 * 3];
    if (bitsPerPixel == 8) {
        memset(palette, 0, sizeof palette);
        size_t entries = colorsUsed == 0 || colorsUsed > 256 ? 256 : colorsUsed;
        unsigned char table[256 * 4];
        size_t got = 0;
        if (fseek(f, long(14 + uint64_t(headerSize)), SEEK_SET) == 0) got = fread(table, 4, entries, f);
        if (got == 0) printf("Error reading BMP Color Table\n");
        for (size_t i = 0; i < got; ++i) {
            palette[3 * i + 0] = table[4 * i + 2];
            palette[3 * i + 1] = table[4 * i + 1];
            palette[3 * i + 2] = table[4 * i + 0];
        }
    }

    image->width = width;
    image->height = int32_t(rows);
    size_t outRow = size_t(width) * 3;
    // Zero-filled, so rows a short file does not hold are black. At least one
    // byte, so an empty picture still gets a distinct array.
    image->pixels = static_cast<unsigned char*>(calloc(pixelCount ? size_t(pixelCount) * 3 : 1, 1));
    if (!image->pixels) {
        printf("Error allocating pixel memory\n");
        fclose(f);
        return;
    }

    size_t dataBytes = size_t(width) * bytesPerPixel;
    size_t stride = (dataBytes + 3) & ~size_t(3);
    size_t chunkRows = stride && stride < kChunkBytes ? kChunkBytes / stride : 1;
    if (chunkRows > rows) chunkRows = size_t(rows);
    unsigned char* chunk = static_cast<unsigned char*>(malloc(chunkRows * stride + 1));
    if (!chunk) {
        printf("Error allocating pixel memory\n");
        fclose(f);
        return;
    }

    const unsigned char* map = bitsPerPixel == 8 ? palette : nullptr;
    bool complete = fseek(f, long(pixelOffset), SEEK_SET) == 0;
    for (size_t row = 0; complete && row < rows;) {
        size_t want = rows - row < chunkRows ? size_t(rows - row) : chunkRows;
        // A partial row at the end of the file is not counted, nor used.
        size_t got = stride ? fread(chunk, stride, want, f) : 0;
        for (size_t i = 0; i < got; ++i, ++row) {
            size_t dst = topDown ? size_t(rows) - 1 - row : row;
            convertRow(chunk + i * stride, image->pixels + dst * outRow, size_t(width), map);
        }
        complete = got == want;
    }
    if (!complete) printf("Error reading BMP pixels\n");
    free(chunk);
    fclose(f);
}
