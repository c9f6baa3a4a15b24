#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

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

// Rasters small and large (past any first buffer, at sizes that are no
// power of two), with one- and two-byte samples: every byte lands in file
// order. A two-byte sample whose bytes are both b is b * 257, which scales to
// exactly b.
TEST(PpmReader, RowsStayInFileOrder) {
    struct Case {
        int width, height, maxval;
    };
    const Case cases[] = {{3, 4, 255}, {300, 211, 255}, {1, 70001, 255}, {150, 151, 65535}, {523, 3, 65535}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + " max " + std::to_string(c.maxval));
        Bytes expected;
        std::string file =
            "P6\n" + std::to_string(c.width) + " " + std::to_string(c.height) + "\n" + std::to_string(c.maxval) + "\n";
        for (int i = 0; i < c.width * c.height * 3; ++i) {
            unsigned char b = (unsigned char)(i * 7 + i / 251);
            expected.push_back(b);
            file += char(b);
            if (c.maxval > 255) file += char(b);
        }
        PpmRead r = readPpm(file);
        ASSERT_TRUE(r.ok) << r.err;
        EXPECT_EQ(r.width, c.width);
        EXPECT_EQ(r.height, c.height);
        EXPECT_TRUE(r.pixels == expected);
    }
}

// A pipe cannot seek or tell its size: its image is read all the same, and
// its size bounded by what comes through it.
TEST(PpmReader, PipesAreReadAsFilesAre) {
    const std::string path = tempPath("fifo.ppm");
    remove(path.c_str());
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    struct Case {
        std::string content;
        bool ok;
    };
    std::string big(3 * 200 * 100, '\x5a');
    const Case cases[] = {{"P6\n200 100 255\n" + big, true}, {"P6\n26754 26754 255\n\x01\x02\x03", false}};
    for (const Case& c : cases) {
        std::thread writer([&] {
            FILE* w = fopen(path.c_str(), "wb");
            if (!w) return;
            fwrite(c.content.data(), 1, c.content.size(), w);
            fclose(w);
        });
        int width = -7, height = -7;
        testing::internal::CaptureStderr();
        unsigned char* p = kelReadPPM(path.c_str(), &width, &height);
        std::string err = testing::internal::GetCapturedStderr();
        writer.join();
        EXPECT_EQ(p != nullptr, c.ok) << err;
        if (p) {
            EXPECT_EQ(width, 200);
            EXPECT_EQ(height, 100);
            EXPECT_EQ(Bytes(p, p + big.size()), Bytes(big.begin(), big.end()));
        } else {
            EXPECT_EQ(err, path + ": PPM image larger than the file\n");
        }
        free(p);
    }
    remove(path.c_str());
}

TEST(PpmReader, ShortRasterLeavesTheRestZero) {
    PpmRead r = readPpm("P6\n2 2 255\n\x09\x08\x07\x06");
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.pixels, (Bytes{9, 8, 7, 6, 0, 0, 0, 0, 0, 0, 0, 0}));
    // No raster at all, and a header ending without a line end.
    EXPECT_EQ(readPpm("P6 1 1 255").pixels, (Bytes{0, 0, 0}));
    // As many pixels as the file has bytes (header included) is the most a
    // file may claim: 12 pixels in 11 header bytes and one raster byte.
    Bytes twelve(36, 0);
    twelve[0] = 5;
    EXPECT_EQ(readPpm("P6\n4 3 255\n\x05").pixels, twelve);
    twelve[0] = 255;  // 0xffff of 65535 is full
    EXPECT_EQ(readPpm("P6 4 3 65535\n\xff\xff").pixels, twelve);
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
        // More pixels than bytes in the file: refused before memory for them
        // is taken.
        {"P6\n26754 26754 255\n\x01\x02\x03", "PPM image larger than the file"},
        {"P6\n4 3 255\n", "PPM image larger than the file"},
        {"P6\n2 7 65535\n", "PPM image larger than the file"},
        {"P6\n4 4 255\n" + std::string(4, '\x09'), "PPM image larger than the file"},
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
