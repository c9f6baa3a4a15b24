// Face references: the token of one face corner read into its indices. A
// reference is one token: a vertex index, then optionally '/' and a
// texture-coordinate index, then '/' and a normal index ("v", "v/t", "v//n",
// "v/t/n"). Indices are integers as scanf's %d reads them; negative ones
// count back from the latest entry read.
#ifndef KEL_OBJ_REFS_H
#define KEL_OBJ_REFS_H

#include <cstdint>

#include "kel/scan.h"

namespace kelobj {

// How a face writes its vertex references, decided by its first one: bit 0
// for texture coordinates, bit 1 for normals.
enum FaceForm { FORM_V = 0, FORM_VT = 1, FORM_VN = 2, FORM_VTN = 3 };

// Whether a reference starts at p.
inline bool startsIndex(const char* p, const char* end) {
    if (p < end && kelIsDigit(*p)) return true;
    return p + 1 < end && (*p == '-' || *p == '+') && kelIsDigit(p[1]);
}

// The integer at p (optional sign, digits), saturating far beyond any table
// size. Returns p when there is none (*out then 0).
inline const char* parseIndex(const char* p, const char* end, long long* out) {
    *out = 0;
    if (!startsIndex(p, end)) return p;
    bool negative = *p == '-';
    if (!kelIsDigit(*p)) p++;
    int length;
    unsigned long long value = kelDigits8(p, &length);
    p += length;
    while (length == 8 && p < end) {
        uint32_t more = kelDigits8(p, &length);
        p += length;
        for (int i = 0; i < length; i++) value = value < 100000000000000ull ? value * 10 : value;
        if (value < 100000000000000ull) value += more;
    }
    *out = negative ? -(long long)value : (long long)value;
    return p;
}

// parseIndex with the common case, an unsigned index of up to 8 digits,
// read from one load. (Numbers are read a digit at a time, see
// kelParseFloat; for indices, one load measured 2 to 5% faster on the
// whole read.)
inline const char* readIndex(const char* p, const char* end, long long* out) {
    int length;
    uint32_t value = kelDigits8(p, &length);
    if (length > 0 && (length < 8 || !kelIsDigit(p[8]))) {
        *out = value;
        return p + length;
    }
    return parseIndex(p, end, out);
}

// readIndex for an index likely to have `*digits` digits, as the one
// before it had: the position after it is then p + *digits, which does not
// wait on the load of the digits, so the next index's load starts early.
// *digits becomes the count this index has.
inline const char* readIndexOfLength(const char* p, const char* end, long long* out, int* digits) {
    uint32_t value = kelDigitsOfLength(p, *digits);
    if (value != ~0u) {
        *out = value;
        return p + *digits;
    }
    const char* q = readIndex(p, end, out);
    if (q > p && q - p < 8 && kelIsDigit(*p)) *digits = int(q - p);
    return q;
}

struct Reference {
    long long index[3];  // vertex, texture coordinate, normal
    const char* at[3];   // where each index is written; null for one the token lacks
};

// The one parser of a reference: the token at p, which startsIndex accepts.
// Stores its indices by position and the face form the token writes: "//"
// anywhere makes it vertex//normal, else it is the longest of v/t/n, v/t and
// v that its numbers match. Returns the end of the token.
__attribute__((always_inline)) inline const char* parseReference(const char* p, const char* end, Reference* ref,
                                                                 FaceForm* form, int* digits) {
    ref->at[0] = p;
    ref->at[1] = ref->at[2] = nullptr;
    const char* q = readIndexOfLength(p, end, &ref->index[0], digits);
    FaceForm f = FORM_V;
    if (*q == '/') {  // the padding after a chunk makes reading at end safe
        const char* t = q + 1;
        if (*t == '/') {
            f = FORM_VN;
            q = readIndexOfLength(t + 1, end, &ref->index[2], digits);
            if (q != t + 1) ref->at[2] = t + 1;
        } else if ((q = readIndexOfLength(t, end, &ref->index[1], digits)) != t) {
            ref->at[1] = t;
            f = FORM_VT;
            const char* n = q + 1;
            const char* after;
            if (*q == '/' && (after = readIndexOfLength(n, end, &ref->index[2], digits)) != n) {
                ref->at[2] = n;
                f = FORM_VTN;
                q = after;
            }
        }
    }
    if (q < end && !kelIsSpace(*q)) {  // more in the token than a common reference holds
        const char* tokenEnd = kelTokenEnd(q, end);
        for (const char* c = p; c + 1 < tokenEnd; c++)
            if (c[0] == '/' && c[1] == '/') f = FORM_VN;
        q = tokenEnd;
    }
    *form = f;
    return q;
}

// The references of an "l" or "p" statement: the tokens on the rest of its
// line, up to the first that does not start with a number, each handed to
// `each` parsed. Unlike a face's, they end with their line. Returns the
// start of the next line.
template <typename Each>
inline const char* lineReferences(const char* p, const char* end, Each each) {
    int digits = 1;
    for (;;) {
        while (p < end && *p != '\n' && kelIsSpace(*p)) p++;
        if (!startsIndex(p, end)) break;
        Reference ref;
        FaceForm form;
        p = parseReference(p, end, &ref, &form, &digits);
        each(ref);
    }
    return kelSkipLine(p, end);
}

// The group an "s" statement names after its keyword: "off" and 0 are none
// (0), as is a word that is no number; a number past the largest count
// stays at it. *next becomes the start of the next line.
inline unsigned smoothingGroup(const char* p, const char* end, const char** next) {
    const char* wordEnd;
    const char* word = kelLineWord(p, end, &wordEnd);
    *next = kelSkipLine(wordEnd, end);
    long long value;
    if (parseIndex(word, wordEnd, &value) != wordEnd || value < 0) return 0;
    return value > 0xFFFFFFFFll ? 0xFFFFFFFFu : unsigned(value);
}

// The name a "g", "o" or "usemtl" statement gives: the rest of its line
// with the blanks around it dropped (inner blanks kept). Returns its start
// and stores its end and the start of the next line.
inline const char* statementName(const char* p, const char* end, const char** nameEnd, const char** next) {
    const char* lineEnd = kelLineEnd(p, end);
    *next = kelSkipLine(lineEnd, end);
    while (p < lineEnd && kelIsSpace(*p)) p++;
    while (lineEnd > p && kelIsSpace(lineEnd[-1])) lineEnd--;
    *nameEnd = lineEnd;
    return p;
}

// Whether the token [p, tokenEnd) is the one-letter keyword `c`.
inline bool isKeyword(const char* p, const char* tokenEnd, char c) { return tokenEnd == p + 1 && *p == c; }

// A face corner's table indices: vertex, texture coordinate and normal.
// Corners travel by value, so they stay in registers: copying arrays in
// memory made each 8-byte load wait on the two 4-byte stores before it.
struct Corner {
    unsigned v, t, n;
};

}  // namespace kelobj

#endif  // KEL_OBJ_REFS_H
