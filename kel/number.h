// Parsing decimal numbers in the OBJ and MTL readers: digit runs and floats
// read exactly as strtof reads them, fast for the forms exporters write.
#ifndef KEL_NUMBER_H
#define KEL_NUMBER_H

#include <cstdint>
#include <cstring>

#include "kel/chars.h"

// Eight bytes of text, loaded from p: the padding after a chunk allows a
// load anywhere up to its end.
inline uint64_t kelLoad8(const char* p) {
    uint64_t v;
    memcpy(&v, p, 8);
    return v;
}

// Bit 7 of each byte of v set where the byte is not a decimal digit. A byte
// is a digit when neither byte + 0x46 nor byte - 0x30 reaches 0x80; carries
// and borrows only start at bytes that are not digits, so they never hide
// the first one (the bits after it may be wrong).
inline uint64_t kelNonDigits(uint64_t v) {
    return ((v + 0x4646464646464646ull) | (v - 0x3030303030303030ull)) & 0x8080808080808080ull;
}

// The value of the first n (1 to 8) bytes of v, digits: the first digit is
// the lowest byte, so shifting the digits to the top leaves leading zeros,
// then pairs, quads and octets are combined.
inline uint32_t kelDigitsValue(uint64_t v, int n) {
    v = (v & 0x0F0F0F0F0F0F0F0Full) << (64 - 8 * n);
    v = (v * 10 + (v >> 8)) & 0x00FF00FF00FF00FFull;
    v = (v * 100 + (v >> 16)) & 0x0000FFFF0000FFFFull;
    return uint32_t((v * 10000 + (v >> 32)) & 0xFFFFFFFFull);
}

// The decimal digits at p, at most 8 of them, as a number; *length gets how
// many there are (0 when p holds none).
inline uint32_t kelDigits8(const char* p, int* length) {
    uint64_t v = kelLoad8(p), nondigit = kelNonDigits(v);
    int n = nondigit ? __builtin_ctzll(nondigit) >> 3 : 8;
    *length = n;
    return n ? kelDigitsValue(v, n) : 0;
}

// When exactly n (1 to 7) digits stand at p, their value; else ~0u. With n
// known beforehand (a constant, or the length of the number before), the
// caller's position after them, p + n, does not wait on the load of the
// digits, as it would on a count the load gives.
inline uint32_t kelDigitsOfLength(const char* p, int n) {
    uint64_t v = kelLoad8(p), stop = 1ull << (8 * n + 7);  // the byte after the digits
    return (kelNonDigits(v) & (2 * stop - 1)) == stop ? kelDigitsValue(v, n) : ~0u;
}

// Parses one number at p exactly as strtof would (no leading white space).
// Returns the position after it, or p when there is none (out untouched).
// The text must go on readable for 16 bytes past end, with a zero at end.
const char* kelParseFloatSlow(const char* p, const char* end, float* out);

inline const char* kelParseFloat(const char* p, const char* end, float* out) {
    // Numbers as exporters write them ("-19.995046") are parsed here: an
    // optional minus, digits, optionally a point and at most 8 more digits,
    // at most 15 digits in all, then white space or the end. With m the
    // digits as an integer and k the fraction digits, the value is
    // x = m / 10^k. Both m < 10^15 < 2^53 and 10^k are exact doubles, and
    // float(double(m) / 10^k) is the correctly rounded float, as strtof
    // gives: the double quotient is within 2^-53 x of x, and x is farther
    // than that from every float rounding boundary it is not on (on one, x
    // is a double and the quotient exact, so ties break as in strtof). The
    // boundaries near x are the midpoints h 2^e, h odd, h < 2^25, x < 2^(e+25),
    // and |x - h 2^e| = |m - h 2^e 10^k| / 10^k. When e >= -k the numerator
    // is a nonzero integer: the gap is at least 10^-k = x / m > 2^-53 x.
    // When e < -k, with j = -e - k, it is |m 2^j - h 5^k| / (2^j 10^k), at
    // least x / (m 2^j), and m 2^j = x 10^k 2^(-e-k) < 2^25 5^k < 2^44 for
    // k <= 8. The values lie between 1e-8 and 1e15: no subnormals, no
    // overflow. Anything else, or anything followed by more than white
    // space, takes the slow path.
    //
    // The digits are taken one at a time, but for fractions of the common
    // lengths. Converting eight at once from a single load is fewer
    // instructions, but the next load's address then waits on the count of
    // digits; here the loop's branches are predicted and the next number's
    // bytes are loaded early, as they are after a fraction of a length
    // tried (see kelDigitsOfLength).
    static const double powers[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8};
    const char* q = p + (p < end && *p == '-');
    const char* digits = q;
    uint64_t mantissa = 0;  // wraps on long runs, which the count sends to the slow path
    for (; kelIsDigit(*q); q++) mantissa = mantissa * 10 + unsigned(*q - '0');  // the zero after a chunk stops it
    int count = int(q - digits), fraction = 0;
    if (*q == '.') {
        const char* first = ++q;
        // The fractions exporters write most: six digits (printf's "%f"),
        // or four.
        uint32_t six = kelDigitsOfLength(first, 6), four = six == ~0u ? kelDigitsOfLength(first, 4) : ~0u;
        if (six != ~0u) {
            mantissa = mantissa * 1000000 + six;
            q = first + 6;
        } else if (four != ~0u) {
            mantissa = mantissa * 10000 + four;
            q = first + 4;
        } else {
            for (; kelIsDigit(*q); q++) mantissa = mantissa * 10 + unsigned(*q - '0');
        }
        fraction = int(q - first);
    }
    bool followed = q < end && !kelIsSpace(*q);
    if (count + fraction == 0 || count + fraction > 15 || fraction > 8 || followed)
        return kelParseFloatSlow(p, end, out);
    // Up to 2^24, m and 10^k (k <= 8) are exact floats too, and the one
    // correctly rounded float division is faster than the double one.
    static const float floatPowers[] = {1e0f, 1e1f, 1e2f, 1e3f, 1e4f, 1e5f, 1e6f, 1e7f, 1e8f};
    float value = mantissa <= (1u << 24) ? float(int32_t(mantissa)) / floatPowers[fraction]
                                         : float(double(int64_t(mantissa)) / powers[fraction]);
    *out = *p == '-' ? -value : value;
    return q;
}

#endif  // KEL_NUMBER_H
