// Scanning the text of OBJ and MTL statements: white space, tokens, line
// ends, digits and numbers. Every function scans [p, end), a chunk followed
// by the padding that kel/chunks.h describes.
#ifndef KEL_SCAN_H
#define KEL_SCAN_H

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__) && !defined(KEL_NO_SIMD)
#include <emmintrin.h>
#endif

// --- Scanning [p, end) --------------------------------------------------------
// White space is what isspace() takes in the C locale; a line ends at '\n'
// (a "\r\n" pair included).

inline bool kelIsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
inline bool kelIsDigit(char c) { return unsigned(c - '0') < 10; }

// Whether the token [p, tokenEnd) is `word`.
inline bool kelIsWord(const char* p, const char* tokenEnd, const char* word) {
    size_t length = strlen(word);
    return size_t(tokenEnd - p) == length && memcmp(p, word, length) == 0;
}

// The zero byte after a chunk (not white space) stops the loop.
inline const char* kelSkipSpace(const char* p, const char*) {
    while (kelIsSpace(*p)) p++;
    return p;
}

inline const char* kelTokenEnd(const char* p, const char* end) {
    while (p < end && !kelIsSpace(*p)) p++;
    return p;
}

// The decimal digits at p, at most 8 of them, as a number; *length gets how
// many there are (0 when p holds none). Loads 8 bytes at p, which the
// padding after a chunk allows anywhere up to its end.
inline uint32_t kelDigits8(const char* p, int* length) {
    uint64_t v;
    memcpy(&v, p, 8);
    // A byte is a digit when neither byte + 0x46 nor byte - 0x30 reaches
    // 0x80; carries and borrows only start at bytes that are not digits, so
    // they never hide the first one.
    uint64_t nondigit = ((v + 0x4646464646464646ull) | (v - 0x3030303030303030ull)) & 0x8080808080808080ull;
    int n = nondigit ? __builtin_ctzll(nondigit) >> 3 : 8;
    *length = n;
    if (n == 0) return 0;
    // The first digit is the lowest byte: shifting the digits to the top
    // leaves leading zeros, then pairs, quads and octets are combined.
    v = (v & 0x0F0F0F0F0F0F0F0Full) << (64 - 8 * n);
    v = (v * 10 + (v >> 8)) & 0x00FF00FF00FF00FFull;
    v = (v * 100 + (v >> 16)) & 0x0000FFFF0000FFFFull;
    return uint32_t((v * 10000 + (v >> 32)) & 0xFFFFFFFFull);
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

// Parses one number at p exactly as strtof would (no leading white space).
// Returns the position after it, or p when there is none (out untouched).
const char* kelParseFloatSlow(const char* p, const char* end, float* out);

inline const char* kelParseFloat(const char* p, const char* end, float* out) {
    // Numbers as exporters write them ("-0.123456") are parsed here: up to 7
    // significant digits and a power of ten up to 10^7 are exact floats, so
    // one correctly rounded division gives the correctly rounded value, as
    // strtof does. Anything else, or anything followed by more than white
    // space, takes the slow path.
    static const float powers[] = {1e0f, 1e1f, 1e2f, 1e3f, 1e4f, 1e5f, 1e6f, 1e7f};
    static const uint32_t tens[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000};
    const char* q = p + (p < end && *p == '-');
    int count, fraction = 0;
    uint32_t mantissa = kelDigits8(q, &count);
    q += count;
    if (*q == '.') {  // the padding makes q == end safe
        uint32_t digits = kelDigits8(q + 1, &fraction);
        q += 1 + fraction;
        mantissa = mantissa * tens[fraction < 8 ? fraction : 0] + digits;
    }
    if (count + fraction == 0 || count + fraction > 7 || (q < end && !kelIsSpace(*q)))
        return kelParseFloatSlow(p, end, out);
    float value = float(mantissa) / powers[fraction];
    *out = *p == '-' ? -value : value;
    return q;
}

// The numbers of a vertex, colour or shininess statement: reads up to n
// numbers, each after any white space, stopping at the first that does not
// parse (its slot keeps its value). Returns the position just past the line
// on which the last number read stands (the line of p when none was read),
// so whatever follows the numbers on that line is dropped.
inline const char* kelReadNumbers(const char* p, const char* end, float* out, int n) {
    const char* last = p;
    for (int i = 0; i < n; i++) {
        const char* q = kelSkipSpace(last, end);
        const char* after = kelParseFloat(q, end, &out[i]);
        if (after == q) break;
        last = after;
    }
    return kelSkipLine(last, end);
}

#endif  // KEL_SCAN_H
