// The bit masks the first pass counts lines with: for random text of the
// bytes that matter (digits, blanks of every kind, line ends, letters, '/',
// signs, zero and bytes above 127), each mask against one worked out a byte
// at a time, for both the 16-byte and the 32-byte versions.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>

#include "kel/scan.h"

#if defined(__SSE2__) && !defined(KEL_NO_SIMD)
namespace {

bool isBlank(unsigned char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

TEST(KelTextMasks, MarkLineEndsAndTokenStartsAsAByteByByteScanDoes) {
    const char alphabet[] = "0123456789 \t\n\v\f\r/-+.vf#\0\x80\xff";
    std::mt19937 rng(7);
    char text[64];
    bool avx2 = __builtin_cpu_supports("avx2");
    for (int round = 0; round < 20000; round++) {
        for (char& c : text) c = alphabet[rng() % (sizeof alphabet - 1)];
        bool afterSpace = rng() & 1;
        uint64_t newlines = 0, tokens = 0, nondigits = 0;
        for (int i = 0; i < 64; i++) {
            unsigned char c = static_cast<unsigned char>(text[i]);
            bool previousBlank = i ? isBlank(static_cast<unsigned char>(text[i - 1])) : afterSpace;
            if (c == '\n') newlines |= uint64_t(1) << i;
            if (!isBlank(c) && previousBlank) {
                tokens |= uint64_t(1) << i;
                if (c < '0' || c > '9') nondigits |= uint64_t(1) << i;
            }
        }
        bool spaceAtEnd = isBlank(static_cast<unsigned char>(text[63]));
        KelTextMasks narrow = kelTextMasks(text, afterSpace);
        ASSERT_EQ(narrow.newlines, newlines) << round;
        ASSERT_EQ(narrow.tokens, tokens) << round;
        ASSERT_EQ(narrow.nondigits, nondigits) << round;
        ASSERT_EQ(narrow.spaceAtEnd, spaceAtEnd) << round;
        if (!avx2) continue;
        KelTextMasks wide = kelTextMasksAvx2(text, afterSpace);
        ASSERT_EQ(wide.newlines, newlines) << round;
        ASSERT_EQ(wide.tokens, tokens) << round;
        ASSERT_EQ(wide.nondigits, nondigits) << round;
        ASSERT_EQ(wide.spaceAtEnd, spaceAtEnd) << round;
    }
}

}  // namespace
#endif
