// Scanning the text of OBJ and MTL statements: white space, tokens, line
// ends, digits and numbers. Every function scans [p, end), a chunk followed
// by the padding that kel/chunks.h describes.
#ifndef KEL_SCAN_H
#define KEL_SCAN_H

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "kel/chars.h"
#include "kel/number.h"

#if defined(__SSE2__) && !defined(KEL_NO_SIMD)
#include <immintrin.h>
#endif

// --- Scanning [p, end) --------------------------------------------------------
// White space is what isspace() takes in the C locale; a line ends at '\n'
// (a "\r\n" pair included; the chunks have made every other line end one,
// see kel/chunks.h).

// Whether the token [p, tokenEnd) is `word`.
inline bool kelIsWord(const char* p, const char* tokenEnd, const char* word) {
    size_t length = strlen(word);
    return size_t(tokenEnd - p) == length && memcmp(p, word, length) == 0;
}

// The zero byte after a chunk (not white space) stops the loop.
inline const char* kelSkipSpace(const char* p, const char*) {
    if (p[0] == ' ' && uint8_t(p[1]) > ' ') return p + 1;  // the one blank between two tokens
    while (uint8_t(*p) <= ' ' && kelIsSpace(*p)) p++;      // most bytes are above ' ': one test
    return p;
}

inline const char* kelTokenEnd(const char* p, const char* end) {
    while (p < end && !kelIsSpace(*p)) p++;
    return p;
}

// The line end ('\n') at or after p, or end. Lines are short, so the search
// is inline, 16 bytes at a time: the padding after a chunk makes every load
// that starts before end readable, and a line end found past end (the bytes
// after the chunk's zero may be the next chunk's) counts as end.
inline const char* kelLineEnd(const char* p, const char* end) {
#if defined(__SSE2__) && !defined(KEL_NO_SIMD)
    const __m128i newline = _mm_set1_epi8('\n');
    for (; p < end; p += 16) {
        unsigned mask =
            unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), newline)));
        if (mask) {
            p += __builtin_ctz(mask);
            return p < end ? p : end;
        }
    }
    return end;
#else
    const void* newline = memchr(p, '\n', size_t(end - p));
    return newline ? static_cast<const char*>(newline) : end;
#endif
}

// Just past the line end at or after p, or end.
inline const char* kelSkipLine(const char* p, const char* end) {
    const char* lineEnd = kelLineEnd(p, end);
    return lineEnd < end ? lineEnd + 1 : end;
}

// The first white-space-delimited word between p and the end of its line:
// returns its start and stores its end in *wordEnd (start == *wordEnd when
// the rest of the line holds no word).
const char* kelLineWord(const char* p, const char* end, const char** wordEnd);

// The numbers of a vertex, colour or shininess statement: reads up to n
// numbers, each after any white space, stopping at the first that does not
// parse (its slot keeps its value; *read, when given, gets how many were
// read). Returns the position just past the line on which the last number
// read stands (the line of p when none was read), so whatever follows the
// numbers on that line is dropped.
inline const char* kelReadNumbers(const char* p, const char* end, float* out, int n, int* read = nullptr) {
    const char* last = p;
    int i = 0;
    for (; i < n; i++) {
        const char* q = kelSkipSpace(last, end);
        const char* after = kelParseFloat(q, end, &out[i]);
        if (after == q) break;
        last = after;
    }
    if (read) *read = i;
    // Most lines end right after the last number: then the next line's
    // start does not wait on a search for the line end.
    if (i == n && *last == '\n') return last + 1;
    return kelSkipLine(last, end);
}

#if defined(__SSE2__) && !defined(KEL_NO_SIMD)
// --- Text as bit masks ------------------------------------------------------------

// Bytes of b in [lo, lo + n) as a 16-bit mask.
inline unsigned kelInRange(__m128i b, char lo, int n) {
    __m128i shifted = _mm_xor_si128(_mm_sub_epi8(b, _mm_set1_epi8(lo)), _mm_set1_epi8(char(0x80)));
    return unsigned(_mm_movemask_epi8(_mm_cmplt_epi8(shifted, _mm_set1_epi8(char(n ^ 0x80)))));
}

// 64 bytes of text as bit masks, bit i standing for byte i.
struct KelTextMasks {
    uint64_t newlines;
    uint64_t tokens;     // token starts: bytes that are not white space, after one that is
    uint64_t nondigits;  // token starts that are not digits
    bool spaceAtEnd;     // the last byte is white space
};

// The masks of the 64 bytes at p, 16 at a time; `afterSpace` tells whether
// the byte before p is white space.
__attribute__((always_inline)) inline KelTextMasks kelTextMasks(const char* p, bool afterSpace) {
    uint64_t newlines = 0, space = 0, digits = 0;
    for (int i = 0; i < 4; i++) {
        __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
        unsigned blank = kelInRange(b, '\t', 5) | unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(b, _mm_set1_epi8(' '))));
        newlines |= uint64_t(unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(b, _mm_set1_epi8('\n'))))) << (16 * i);
        space |= uint64_t(blank) << (16 * i);
        digits |= uint64_t(kelInRange(b, '0', 10)) << (16 * i);
    }
    uint64_t tokens = ~space & ((space << 1) | uint64_t(afterSpace));
    return {newlines, tokens, tokens & ~digits, bool(space >> 63)};
}

// The same masks 32 bytes at a time, for callers compiled for AVX2 (check
// __builtin_cpu_supports("avx2") first).
__attribute__((target("avx2"), always_inline)) inline uint64_t kelMask32(__m256i m) {
    return uint64_t(uint32_t(_mm256_movemask_epi8(m)));
}

__attribute__((target("avx2"), always_inline)) inline uint64_t kelInRange32(__m256i b, char lo, int n) {
    __m256i shifted = _mm256_xor_si256(_mm256_sub_epi8(b, _mm256_set1_epi8(lo)), _mm256_set1_epi8(char(0x80)));
    return kelMask32(_mm256_cmpgt_epi8(_mm256_set1_epi8(char(n ^ 0x80)), shifted));
}

__attribute__((target("avx2"))) inline KelTextMasks kelTextMasksAvx2(const char* p, bool afterSpace) {
    uint64_t newlines = 0, space = 0, digits = 0;
    for (int i = 0; i < 2; i++) {
        __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32 * i));
        newlines |= kelMask32(_mm256_cmpeq_epi8(b, _mm256_set1_epi8('\n'))) << (32 * i);
        space |= (kelInRange32(b, '\t', 5) | kelMask32(_mm256_cmpeq_epi8(b, _mm256_set1_epi8(' ')))) << (32 * i);
        digits |= kelInRange32(b, '0', 10) << (32 * i);
    }
    uint64_t tokens = ~space & ((space << 1) | uint64_t(afterSpace));
    return {newlines, tokens, tokens & ~digits, bool(space >> 63)};
}
#endif

#endif  // KEL_SCAN_H
