// Parsing decimal numbers in the OBJ and MTL readers: digit runs and floats
// read exactly as strtof reads them, fast for the forms exporters write.
#ifndef KEL_NUMBER_H
#define KEL_NUMBER_H

#include <cstdint>
#include <cstring>

inline bool kelIsDigit(char c) { return unsigned(c - '0') < 10; }

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

// When exactly six digits stand at p (the fraction printf's "%f" writes,
// and most exporters with it), their value; else ~0u. One load, so the
// caller's position after them (p + 6) does not wait on the digits, as it
// would on a count of digits that a load gives.
inline uint32_t kelSixDigits(const char* p) {
    uint64_t v;
    memcpy(&v, p, 8);
    uint64_t nondigit = ((v + 0x4646464646464646ull) | (v - 0x3030303030303030ull)) & 0x8080808080808080ull;
    if ((nondigit & 0x0080808080808080ull) != 0x0080000000000000ull) return ~0u;
    v = (v & 0x00000F0F0F0F0F0Full) << 16;
    v = (v * 10 + (v >> 8)) & 0x00FF00FF00FF00FFull;
    v = (v * 100 + (v >> 16)) & 0x0000FFFF0000FFFFull;
    return uint32_t((v * 10000 + (v >> 32)) & 0xFFFFFFFFull);
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
    // The digits are taken one at a time. Converting eight at once from a
    // single load is fewer instructions, but the next load's address then
    // waits on the count of digits; here the loop's branches are predicted
    // and the next number's bytes are loaded early.
    static const double powers[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8};
    const char* q = p + (p < end && *p == '-');
    const char* digits = q;
    uint64_t mantissa = 0;  // wraps on long runs, which the count sends to the slow path
    for (; kelIsDigit(*q); q++) mantissa = mantissa * 10 + unsigned(*q - '0');  // the zero after a chunk stops it
    int count = int(q - digits), fraction = 0;
    if (*q == '.') {
        const char* first = ++q;
        if (const uint32_t six = kelSixDigits(first); six != ~0u) {
            mantissa = mantissa * 1000000 + six;
            q = first + 6;
        } else {
            for (; kelIsDigit(*q); q++) mantissa = mantissa * 10 + unsigned(*q - '0');
        }
        fraction = int(q - first);
    }
    // White space after the number is what isspace() takes in the C locale.
    bool followed = q < end && !(*q == ' ' || (*q >= '\t' && *q <= '\r'));
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
