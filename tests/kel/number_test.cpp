// Number parsing against strtof, the reference: a table of hard cases (ties
// and near-ties at float precision, digit-count limits, forms only strtof
// takes) and millions of exporter-style numbers, random digit strings and
// decimals rounded from float midpoints. Every result must have strtof's
// bits and end where strtof's does.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "kel/kel_internal.h"

namespace {

// Parses `text` as a reader does (zero after it, padding readable) and
// compares with strtof; returns an empty string or what differs.
std::string check(const char* text) {
    char buffer[96] = {};
    size_t length = strlen(text);
    memcpy(buffer, text, length);
    float got = 12345.0f;
    const char* after = kelParseFloat(buffer, buffer + length, &got);
    char* strtofEnd;
    float expect = strtof(buffer, &strtofEnd);
    if (after != strtofEnd) return std::string(text) + ": ends at " + std::to_string(after - buffer);
    if (after == buffer) return got == 12345.0f ? "" : std::string(text) + ": stored a value";
    if (std::isnan(expect) ? std::isnan(got) : memcmp(&expect, &got, sizeof got) == 0) return "";
    char message[160];
    snprintf(message, sizeof message, "%s: read %a, strtof %a", text, double(got), double(expect));
    return message;
}

TEST(NumberTest, HardCasesReadAsStrtofReadsThem) {
    const char* cases[] = {
        // Ties between floats break to even; one digit further they do not.
        "16777217", "16777219", "-16777217", "33554434", "33554438", "8388608.5", "8388609.5", "4194304.25",
        "4194304.75", "0.5", "8388608.50000001", "8388608.49999999", "16777217.0000001", "16777216.9999999",
        // Fifteen digits (the inline path's limit), sixteen and more.
        "9999999.99999999", "1234567.12345678", "99999999.9999999", "12345678.12345678", "999999999999999",
        "90071995.99999999", "9999999999999999", "123456789012", "0.123456789", "0.30000001", "99999999.5",
        // Mantissas on either side of 2^24.
        "1.6777216", "-16777.216", "1677721.7", "0.33554431", "3355.4433",
        // Exporter forms, signs, zeros and the smallest fractions.
        "-19.995046", "0.000001", "-0.000001", "0.00000001", "0.00000000", "-0.000000", "-0", "0", "5.", ".25", "-.5",
        "+1.5", "12.345678", "-1.234567",
        // Exponents, extremes, and what only strtof reads.
        "1e2", "3.1E-2", "12.5e-3", "1e-45", "1.17549435e-38", "3.4028235e38", "3.4028236e38", "1e39", "inf", "-INF",
        "nan", "-nan", "0x1.8p1", "7.038531e-26",
        // Not numbers, or numbers with something after them.
        "-", ".", "-.", "+", "e5", "x", "1.5x", "1.2.3", "12,5", "1e", "1e+",
        // Six or four fraction digits (read from one load), something after them.
        "7.123456e-3", "1.123456x", "-0.654321/", "2.1234567", "3.12345 ", "4.123456.5", "-0.1234", "9.8765e1",
        "6.4321/", "0.00012",
        // White space ends a number; so does the end of the text.
        "2.5 ", "2.5\t", "2.5\r\n", "-3.25\n"};
    for (const char* text : cases) EXPECT_EQ(check(text), "");
}

TEST(NumberTest, ExporterStyleNumbersReadAsStrtofReadsThem) {
    std::mt19937_64 rng(2024);
    char text[48];
    // Random digit strings of 1 to 17 digits with the point anywhere up to
    // 10 places from the end, and a minus half the time.
    for (int i = 0; i < 1000000; i++) {
        uint64_t r = rng();
        int digits = 1 + int(r % 17), point = int((r >> 8) % 11), n = 0;
        if (r >> 63) text[n++] = '-';
        for (int d = 0; d < digits; d++) {
            if (d == digits - point && point > 0) text[n++] = '.';
            uint64_t s = rng();
            text[n++] = char('0' + s % 10);
        }
        text[n] = '\0';
        std::string failure = check(text);
        if (!failure.empty()) FAIL() << failure;
    }
    // Decimals rounded from the midpoints between neighbouring floats, at
    // 1 to 8 places: the numbers nearest a rounding boundary.
    std::uniform_real_distribution<double> logRange(-8, 8);
    for (int i = 0; i < 500000; i++) {
        float f = float(std::pow(10.0, logRange(rng)));
        double middle = (double(f) + double(std::nextafter(f, INFINITY))) / 2;
        snprintf(text, sizeof text, "%.*f", 1 + i % 8, middle);
        std::string failure = check(text);
        if (!failure.empty()) FAIL() << failure;
    }
    // Printed as exporters print them: "%.6f" of values across magnitudes.
    for (int i = 0; i < 500000; i++) {
        snprintf(text, sizeof text, "%.6f", (rng() & 1 ? -1 : 1) * std::pow(10.0, logRange(rng) / 2 + 1));
        std::string failure = check(text);
        if (!failure.empty()) FAIL() << failure;
    }
}

}  // namespace
