#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "image_files.h"
#include "kel/kel.h"

namespace {

struct PpmRead {
    Bytes pixels;
    bool ok = false;
    int width = -7, height = -7;  // untouched on failure
    std::string err;
};

PpmRead readPpm(const std::string& content, const char* name = "ppm") {
    TempFile file(Bytes(content.begin(), content.end()), name);
    PpmRead r;
    testing::internal::CaptureStderr();
    unsigned char* p = kelReadPPM(file.c_str(), &r.width, &r.height);
    r.err = testing::internal::GetCapturedStderr();
    if (p) {
        r.ok = true;
        r.pixels.assign(p, p + size_t(r.width) * size_t(r.height) * 3);
        free(p);
    }
    return r;
}

const std::string raster = "\x01\x02\x03\xfd\xfe\xff";

TEST(PpmReader, HeaderLayoutsGiveTheSameImage) {
    const std::string long_comment = "# " + std::string(200, '9') + " 7 7 7\n";
    const char* headers[] = {
        "P6\n2 1 255\n",
        "P6 2 1 255\n",
        "P6 2\n1 255\n",
        "P6\n2\n1\n255\n",
        "P6\n2 1\n255\n",
        "P6\n2\n1 255\n",
        "P6\n# made by hand\n2 1\n# between\n255\n",
        "P6\r\n2 1\r\n255\r\n",
        "P6\n\n  \t2   1  \n\n255\n",
        "P6\n2 1 255 anything after the numbers\n",
        "P6 # magic-line comment\n2 1 255\n",
    };
    for (const char* header : headers) {
        SCOPED_TRACE(header);
        PpmRead r = readPpm(header + raster);
        ASSERT_TRUE(r.ok) << r.err;
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.width, 2);
        EXPECT_EQ(r.height, 1);
        EXPECT_EQ(r.pixels, Bytes(raster.begin(), raster.end()));
    }
    // A comment longer than any line buffer is skipped whole.
    PpmRead r = readPpm("P6\n" + long_comment + "2 1 255\n" + raster);
    EXPECT_EQ(r.width, 2);
    EXPECT_EQ(r.pixels, Bytes(raster.begin(), raster.end()));
}

TEST(PpmReader, RowsStayInFileOrder) {
    std::string data;
    for (int i = 0; i < 3 * 4 * 3; ++i) data += char(i);
    PpmRead r = readPpm("P6\n3 4\n255\n" + data);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.width, 3);
    EXPECT_EQ(r.height, 4);
    EXPECT_EQ(r.pixels, Bytes(data.begin(), data.end()));
}

TEST(PpmReader, ShortRasterLeavesTheRestZero) {
    PpmRead r = readPpm("P6\n2 2 255\n\x09\x08\x07\x06");
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.pixels, (Bytes{9, 8, 7, 6, 0, 0, 0, 0, 0, 0, 0, 0}));
    // No raster at all, and a header ending without a line end.
    EXPECT_EQ(readPpm("P6 1 1 255").pixels, (Bytes{0, 0, 0}));
}

TEST(PpmReader, TwoByteSamplesAreScaledToEightBits) {
    std::string big = std::string("\x00\x00\xff\xff\x80\x00", 6);
    PpmRead r = readPpm("P6\n1 1\n65535\n" + big);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.pixels, (Bytes{0, 255, 128}));

    // maxval 1000: 500 is half way, 1200 above the maximum is full.
    std::string samples = std::string("\x01\xf4\x04\xb0\x00\x02", 6) + std::string("\x03\xe8\x00", 3);
    r = readPpm("P6\n2 1\n1000\n" + samples);
    ASSERT_TRUE(r.ok);
    // The fifth sample's second byte is missing: it and the rest stay zero.
    EXPECT_EQ(r.pixels, (Bytes{128, 255, 1, 255, 0, 0}));
}

TEST(PpmReader, MaxvalBelow255KeepsTheBytes) {
    PpmRead r = readPpm("P6\n1 1\n15\n\x0f\x07\x20");
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.pixels, (Bytes{15, 7, 32}));
}

TEST(PpmReader, RefusedFilesReturnNullAndLeaveTheSize) {
    struct Case {
        std::string content;
        const char* message;
    };
    const Case cases[] = {
        {"P3\n2 1\n255\n1 2 3 4 5 6\n", "Not a raw PPM file"},
        {"", "Not a raw PPM file"},
        {"P", "Not a raw PPM file"},
        {"P6", "Unexpected end of PPM header"},
        {"P6\n2 1\n", "Unexpected end of PPM header"},
        {"P6\n# nothing but comments\n#\n", "Unexpected end of PPM header"},
        {"P6\n2 one 255\n", "Unexpected end of PPM header"},
        {"P6\n0 1 255\n", "Invalid PPM image size"},
        {"P6\n2 -1 255\n", "Invalid PPM image size"},
        {"P6\n2 1 0\n", "Invalid PPM maximum value"},
        {"P6\n2 1 65536\n", "Invalid PPM maximum value"},
        {"P6\n2 1 -255\n", "Invalid PPM maximum value"},
        {"P6\n30000 30000 255\n", "PPM image too large"},
        {"P6\n99999999999999999999 1 255\n", "PPM image too large"},
        {"P6\n4294967297 1 255\n", "PPM image too large"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.content);
        PpmRead r = readPpm(c.content, "refused.ppm");
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.err, tempPath("refused.ppm") + ": " + c.message + "\n");
        EXPECT_EQ(r.width, -7);
        EXPECT_EQ(r.height, -7);
    }
}

TEST(PpmReader, MissingFileReportsTheSystemError) {
    int w = -7, h = -7;
    testing::internal::CaptureStderr();
    EXPECT_EQ(kelReadPPM("no/such/image.ppm", &w, &h), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "no/such/image.ppm: No such file or directory\n");
    EXPECT_EQ(w, -7);
}

}  // namespace
