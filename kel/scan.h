// Scanning the text of OBJ and MTL statements: white space, tokens, line
// ends, digits and numbers. Every function scans [p, end), a chunk followed
// by the padding that kel/chunks.h describes.
#ifndef KEL_SCAN_H
#define KEL_SCAN_H

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "kel/number.h"

#if defined(__SSE2__) && !defined(KEL_NO_SIMD)
#include <emmintrin.h>
#endif

// --- Scanning [p, end) --------------------------------------------------------
// White space is what isspace() takes in the C locale; a line ends at '\n'
// (a "\r\n" pair included).

inline bool kelIsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

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
