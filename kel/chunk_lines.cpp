// Line ends in chunked text: where a chunk may end, the chunk rewritten so
// that every line end is '\n', and line ends counted for messages.
#include "kel/chunk_lines.h"

#include <cstring>

#if defined(__SSE2__) && !defined(KEL_NO_SIMD)
#include <emmintrin.h>
#endif

// The byte that ends the last line ending before `lineEnd` ('\n', or a
// lone '\r'), searched back to `data`; null when there is none. A '\r' as
// the last byte before `end` (the window's end, whose next byte is not
// known) counts as lone: a split is never made right after it.
static const char* lastLineEnd(const char* data, const char* lineEnd, const char* end) {
    const char* newline = static_cast<const char*>(memrchr(data, '\n', size_t(lineEnd - data)));
    const char* from = newline ? newline + 1 : data;
    const char* cr = static_cast<const char*>(memrchr(from, '\r', size_t(lineEnd - from)));
    if (cr && (cr + 1 < lineEnd || lineEnd == end)) return cr;
    return newline;
}

// Whether the line end at `at` (in [data, ...)) is joined: a backslash
// stands right before it ("\\\n", "\\\r\n" or "\\\r").
static bool joinedAt(const char* data, const char* at) {
    const char* before = at;
    if (*at == '\n' && before > data && before[-1] == '\r') before--;
    return before > data && before[-1] == '\\';
}

// The first token in [p, lineEnd), past white space and joining
// backslashes; lineEnd when there is none. A backslash as the window's last
// byte (before `end`) may join lines too.
static const char* firstToken(const char* p, const char* lineEnd, const char* end) {
    while (p < lineEnd && (kelIsSpace(*p) || (*p == '\\' && (p + 1 == end || kelJoinsLines(p[1]))))) p++;
    return p;
}

// Every statement before the line found ends before it: faces and the
// numbers of vertex, colour and shininess statements run on across line
// ends only while the next token is a number. A line of white space takes
// the first token of the lines after it, so a blank line between a face
// and its next number is no place to split either; nor is a line end that a
// backslash joins.
size_t kelFindSplit(const char* data, size_t size) {
    const char* end = data + size;
    const char* token = end;  // first token after the candidate line start; end when unknown
    for (const char* lineEnd = end; lineEnd > data;) {
        const char* at = lastLineEnd(data, lineEnd, end);
        if (!at) return 0;
        const char* t = firstToken(at + 1, lineEnd, end);
        if (t < lineEnd) token = t;
        if (!joinedAt(data, at) && token < end && !kelMayStartNumber(*token)) return size_t(at + 1 - data);
        lineEnd = at;
    }
    return 0;
}

// The '\n' bytes in [p, p + n).
static size_t countNewlines(const char* p, size_t n) {
    size_t lines = 0, i = 0;
#if defined(__SSE2__) && !defined(KEL_NO_SIMD)
    // Each byte of `sum` counts the line ends in its column, for up to 255
    // blocks of 16 bytes; the sum of absolute differences adds the columns.
    const __m128i newline = _mm_set1_epi8('\n');
    while (n - i >= 16) {
        size_t blocks = (n - i) / 16 < 255 ? (n - i) / 16 : 255;
        __m128i sum = _mm_setzero_si128();
        for (size_t b = 0; b < blocks; b++, i += 16)
            sum = _mm_sub_epi8(sum, _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i)), newline));
        __m128i total = _mm_sad_epu8(sum, _mm_setzero_si128());
        lines += size_t(_mm_cvtsi128_si32(total)) + size_t(_mm_extract_epi16(total, 4));
    }
#endif
    for (; i < n; i++) lines += p[i] == '\n';
    return lines;
}

size_t kelCountLineEnds(const char* p, size_t n, char after) {
    size_t lines = countNewlines(p, n);
    for (const char* cr = p; (cr = static_cast<const char*>(memchr(cr, '\r', size_t(p + n - cr)))); cr++)
        lines += (cr + 1 < p + n ? cr[1] : after) != '\n';
    return lines;
}

// The next '\r' or backslash in [p, end), or end.
static char* findLineMark(char* p, char* end) {
#if defined(__SSE2__) && !defined(KEL_NO_SIMD)
    const __m128i cr = _mm_set1_epi8('\r'), backslash = _mm_set1_epi8('\\');
    // Most text holds neither: 64 bytes a test, then the 16 that hold one.
    for (; end - p >= 64; p += 64) {
        __m128i any = _mm_setzero_si128();
        for (int i = 0; i < 4; i++) {
            __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
            any = _mm_or_si128(any, _mm_or_si128(_mm_cmpeq_epi8(b, cr), _mm_cmpeq_epi8(b, backslash)));
        }
        if (_mm_movemask_epi8(any)) break;
    }
    for (; end - p >= 16; p += 16) {
        __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        unsigned mask = unsigned(_mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(b, cr), _mm_cmpeq_epi8(b, backslash))));
        if (mask) return p + __builtin_ctz(mask);
    }
#endif
    while (p < end && *p != '\r' && *p != '\\') p++;
    return p;
}

bool kelJoinLines(char* p, char* end, char after) {
    bool marked = (p = findLineMark(p, end)) < end;
    for (; p < end; p = findLineMark(p, end)) {
        char next = p + 1 < end ? p[1] : after;
        if (*p == '\r') {
            if (next != '\n') *p = '\n';
            p++;
        } else if (kelJoinsLines(next) && p + 1 < end) {
            bool crlf = next == '\r' && (p + 2 < end ? p[2] : after) == '\n' && p + 2 < end;
            p[0] = p[1] = ' ';
            if (crlf) p[2] = ' ';
            p += crlf ? 3 : 2;
        } else {
            p++;
        }
    }
    return marked;
}
