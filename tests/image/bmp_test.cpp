#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "image/bmp.h"
#include "image_files.h"

namespace {

// The result of one read: the record afterwards and what was printed.
struct Read {
    BmpImage image;
    std::string out;
    Bytes pixels() const {
        size_t n = image.pixels ? size_t(image.width) * size_t(image.height) * 3 : 0;
        return Bytes(image.pixels, image.pixels + n);
    }
};

// A record that no successful read leaves behind.
unsigned char sentinelBytes[3] = {1, 2, 3};
const BmpImage sentinel = {77, 88, sentinelBytes};

Read readFile(const char* path) {
    Read r{sentinel, {}};
    testing::internal::CaptureStdout();
    readBmpImage(path, &r.image);
    r.out = testing::internal::GetCapturedStdout();
    return r;
}

struct ReadOwned : Read {
    explicit ReadOwned(const Bytes& file) : Read(readFile(TempFile(file, "bmp").c_str())) {}
    ~ReadOwned() {
        if (image.pixels != sentinel.pixels) free(image.pixels);
    }
};

unsigned char value24(int row, int i) { return static_cast<unsigned char>(row * 37 + i * 5 + 1); }

// The R, G, B rows expected from a 24-bit block made with value24, the file's
// row r landing in row rowOf(r).
Bytes expected24(int width, int rows, bool topDown = false) {
    Bytes out(size_t(width) * rows * 3);
    for (int r = 0; r < rows; ++r) {
        unsigned char* dst = &out[size_t(topDown ? rows - 1 - r : r) * width * 3];
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c) dst[3 * x + c] = value24(r, 3 * x + 2 - c);
    }
    return out;
}

BmpFields file24(int width, int height) {
    BmpFields b;
    b.width = width;
    b.height = height;
    b.data = pixelBlock(width, std::abs(height), 3, value24);
    return b;
}

// A 256-entry palette where entry i is blue i, green 255 - i, red i ^ 0x55.
Bytes palette(size_t entries) {
    Bytes p;
    for (size_t i = 0; i < entries; ++i) p.insert(p.end(), {uint8_t(i), uint8_t(255 - i), uint8_t(i ^ 0x55), 0});
    return p;
}
Bytes paletteColor(int i) { return {uint8_t(i ^ 0x55), uint8_t(255 - i), uint8_t(i)}; }

unsigned char index8(int row, int i) { return static_cast<unsigned char>(row * 11 + i * 3); }

BmpFields file8(int width, int height, size_t entries = 256) {
    BmpFields b;
    b.width = width;
    b.height = height;
    b.bits = 8;
    b.palette = palette(entries);
    b.colorsUsed = entries == 256 ? 0 : uint32_t(entries);
    b.data = pixelBlock(width, height, 1, index8);
    return b;
}

Bytes expected8(int width, int height, size_t entries = 256) {
    Bytes out;
    for (int r = 0; r < height; ++r)
        for (int x = 0; x < width; ++x) {
            int i = index8(r, x);
            Bytes c = size_t(i) < entries ? paletteColor(i) : Bytes{0, 0, 0};
            out.insert(out.end(), c.begin(), c.end());
        }
    return out;
}

TEST(BmpReader, TwentyFourBitRowsDropPaddingAndSwapToRgb) {
    for (int width = 1; width <= 5; ++width)
        for (int height = 1; height <= 3; ++height) {
            SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
            ReadOwned r(encodeBmp(file24(width, height)));
            EXPECT_EQ(r.out, "");
            EXPECT_EQ(r.image.width, width);
            EXPECT_EQ(r.image.height, height);
            EXPECT_EQ(r.pixels(), expected24(width, height));
        }
    BmpFields one;
    one.data = {1, 2, 3, 0};
    EXPECT_EQ(ReadOwned(encodeBmp(one)).pixels(), (Bytes{3, 2, 1}));
}

TEST(BmpReader, EightBitIndicesMapThroughThePalette) {
    for (int width = 1; width <= 5; ++width) {
        SCOPED_TRACE(width);
        ReadOwned r(encodeBmp(file8(width, 3)));
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.pixels(), expected8(width, 3));
    }
    BmpFields b = file8(1, 1);
    b.palette[4 * 7 + 0] = 10;  // blue
    b.palette[4 * 7 + 1] = 20;  // green
    b.palette[4 * 7 + 2] = 30;  // red
    b.data = {7, 0, 0, 0};
    EXPECT_EQ(ReadOwned(encodeBmp(b)).pixels(), (Bytes{30, 20, 10}));
}

TEST(BmpReader, RowsWiderThanOldFixedBufferAreRead) {
    ReadOwned wide24(encodeBmp(file24(1100, 3)));
    EXPECT_EQ(wide24.out, "");
    EXPECT_EQ(wide24.pixels(), expected24(1100, 3));
    ReadOwned wide8(encodeBmp(file8(3101, 2)));
    EXPECT_EQ(wide8.out, "");
    EXPECT_EQ(wide8.pixels(), expected8(3101, 2));
}

TEST(BmpReader, ManyRowsSpanSeveralReads) {
    ReadOwned r(encodeBmp(file24(301, 700)));
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.pixels(), expected24(301, 700));
}

TEST(BmpReader, PaletteIsTakenAfterTheHeaderWithItsEntryCount) {
    // Longer information headers put the palette further on.
    for (uint32_t header : {40u, 108u, 124u}) {
        SCOPED_TRACE(header);
        BmpFields b = file8(5, 2);
        b.headerSize = header;
        EXPECT_EQ(ReadOwned(encodeBmp(b)).pixels(), expected8(5, 2));
    }
    // Two entries used: other indices are black; the pixels follow the
    // shorter table, or a gap when the offset says so.
    for (uint32_t gap : {0u, 9u}) {
        BmpFields b = file8(4, 3, 2);
        b.gap = gap;
        b.data = pixelBlock(4, 3, 1, [](int r, int i) { return uint8_t((r + i) % 3); });
        Bytes want;
        for (int r = 0; r < 3; ++r)
            for (int i = 0; i < 4; ++i) {
                Bytes c = (r + i) % 3 < 2 ? paletteColor((r + i) % 3) : Bytes{0, 0, 0};
                want.insert(want.end(), c.begin(), c.end());
            }
        ReadOwned r(encodeBmp(b));
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.pixels(), want);
    }
}

TEST(BmpReader, PixelsAreReadFromTheStatedOffset) {
    BmpFields b = file24(3, 2);
    b.gap = 21;
    Bytes file = encodeBmp(b);
    std::fill(file.begin() + 54, file.begin() + 54 + 21, 0xAB);
    EXPECT_EQ(ReadOwned(file).pixels(), expected24(3, 2));
}

TEST(BmpReader, TopDownFilesAreStoredBottomRowFirst) {
    ReadOwned r(encodeBmp(file24(3, -4)));
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.image.width, 3);
    EXPECT_EQ(r.image.height, 4);
    EXPECT_EQ(r.pixels(), expected24(3, 4, true));
}

TEST(BmpReader, UnreadableFormatsLeaveTheRecordUnchanged) {
    struct Case {
        const char* name;
        void (*edit)(BmpFields&);
        const char* message;
    };
    const Case cases[] = {
        {"rle8", [](BmpFields& b) { b.compression = 1; }, "Sorry, this code cannot read compressed image files\n"},
        {"bitfields", [](BmpFields& b) { b.compression = 3; }, "Sorry, this code cannot read compressed image files\n"},
        {"1 bit", [](BmpFields& b) { b.bits = 1; }, "Sorry, this code can only read 8 bit or 24 bit image files\n"},
        {"4 bit", [](BmpFields& b) { b.bits = 4; }, "Sorry, this code can only read 8 bit or 24 bit image files\n"},
        {"16 bit", [](BmpFields& b) { b.bits = 16; }, "Sorry, this code can only read 8 bit or 24 bit image files\n"},
        {"32 bit", [](BmpFields& b) { b.bits = 32; }, "Sorry, this code can only read 8 bit or 24 bit image files\n"},
        {"core header", [](BmpFields& b) { b.headerSize = 12; }, "Error reading BMP Information record\n"},
        {"negative width", [](BmpFields& b) { b.width = -2; }, "Error reading BMP file, invalid image size\n"},
        {"lowest height", [](BmpFields& b) { b.height = INT32_MIN; }, "Error reading BMP file, invalid image size\n"},
        {"overflowing size", [](BmpFields& b) { b.width = b.height = 0x40000000; },
         "Error reading BMP file, invalid image size\n"},
        {"size past the file", [](BmpFields& b) { b.width = b.height = 4000; },
         "Error reading BMP file, image larger than the file\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BmpFields b = file24(4, 4);
        c.edit(b);
        ReadOwned r(encodeBmp(b));
        EXPECT_EQ(r.out, c.message);
        EXPECT_EQ(r.image.width, sentinel.width);
        EXPECT_EQ(r.image.height, sentinel.height);
        EXPECT_EQ(r.image.pixels, sentinel.pixels);
    }
    Bytes notBmp = encodeBmp(file24(1, 1));
    notBmp[1] = 'A';
    ReadOwned r(notBmp);
    EXPECT_EQ(r.out, "Error reading BMP file, file type incorrect\n");
    EXPECT_EQ(r.image.pixels, sentinel.pixels);
}

TEST(BmpReader, MissingFileLeavesTheRecordUnchanged) {
    Read r = readFile("no such image.bmp");
    EXPECT_EQ(r.out, "Could not open file 'no such image.bmp'\n");
    EXPECT_EQ(r.image.width, sentinel.width);
    EXPECT_EQ(r.image.pixels, sentinel.pixels);
}

// Every proper prefix of an 8-bit file fails with the message of the block it
// ends in; once the header is whole the record gets the size and a
// zero-filled array, whatever rows the file still holds.
TEST(BmpReader, TruncationAtEveryByteIsReportedByItsBlock) {
    const int width = 3, height = 2;
    Bytes full = encodeBmp(file8(width, height));
    const size_t tableEnd = 54 + 1024, stride = 4;
    Bytes want = expected8(width, height);
    for (size_t n = 0; n < full.size(); ++n) {
        SCOPED_TRACE(n);
        ReadOwned r(Bytes(full.begin(), full.begin() + n));
        if (n < 2) {
            EXPECT_EQ(r.out, "Error reading BMP file, file type incorrect\n");
        } else if (n < 14) {
            EXPECT_EQ(r.out, "Error reading BMP file header\n");
        } else if (n < 54) {
            EXPECT_EQ(r.out, "Error reading BMP Information record\n");
        } else {
            ASSERT_NE(r.image.pixels, sentinel.pixels);
            EXPECT_EQ(r.image.width, width);
            EXPECT_EQ(r.image.height, height);
            std::string table = n < 58 ? "Error reading BMP Color Table\n" : "";
            EXPECT_EQ(r.out, table + "Error reading BMP pixels\n");
            size_t rowsRead = n < tableEnd ? 0 : (n - tableEnd) / stride;
            Bytes got = r.pixels();
            for (size_t row = 0; row < size_t(height); ++row) {
                Bytes rowGot(got.begin() + row * width * 3, got.begin() + (row + 1) * width * 3);
                Bytes rowWant = row < rowsRead
                                    ? Bytes(want.begin() + row * width * 3, want.begin() + (row + 1) * width * 3)
                                    : Bytes(width * 3, 0);
                EXPECT_EQ(rowGot, rowWant) << "row " << row;
            }
        }
    }
}

TEST(BmpReader, FileCutInsideTheRowsKeepsTheRowsBefore) {
    const int width = 5, height = 4;
    Bytes full = encodeBmp(file24(width, height));
    const size_t stride = 16;
    full.resize(54 + 2 * stride + 7);
    ReadOwned r(full);
    EXPECT_EQ(r.out, "Error reading BMP pixels\n");
    EXPECT_EQ(r.image.height, height);
    Bytes want = expected24(width, height);
    std::fill(want.begin() + 2 * width * 3, want.end(), 0);
    EXPECT_EQ(r.pixels(), want);

    // A top-down file keeps its first rows at the top.
    BmpFields top = file24(width, -height);
    Bytes cut = encodeBmp(top);
    cut.resize(54 + stride);
    ReadOwned t(cut);
    EXPECT_EQ(t.out, "Error reading BMP pixels\n");
    want = expected24(width, height, true);
    std::fill(want.begin(), want.begin() + 3 * width * 3, 0);
    EXPECT_EQ(t.pixels(), want);
}

TEST(BmpReader, EmptyPictures) {
    ReadOwned noWidth(encodeBmp(file24(0, 3)));
    EXPECT_EQ(noWidth.out, "Error reading BMP pixels\n");
    EXPECT_EQ(noWidth.image.width, 0);
    EXPECT_EQ(noWidth.image.height, 3);

    ReadOwned noRows(encodeBmp(file24(6, 0)));
    EXPECT_EQ(noRows.out, "");
    EXPECT_EQ(noRows.image.width, 6);
    EXPECT_EQ(noRows.image.height, 0);
    EXPECT_NE(noRows.image.pixels, nullptr);
}

TEST(BmpReader, ByteOrderHelpers) {
    detectHostByteOrder();
    uint16_t one = 1;
    EXPECT_EQ(hostIsBigEndian, *reinterpret_cast<unsigned char*>(&one) == 0);
    uint32_t v32 = 0x11223344u;
    swapBytes32(&v32);
    EXPECT_EQ(v32, 0x44332211u);
    uint16_t v16 = 0xA1B2u;
    swapBytes16(&v16);
    EXPECT_EQ(v16, 0xB2A1u);
}

}  // namespace
