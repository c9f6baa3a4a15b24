// The slow path of number parsing: everything kelParseFloat's inline path
// leaves (exponents, long mantissas, signs, hexadecimal, inf and nan).
#include "kel/number.h"

#include <charconv>
#include <cstdlib>
#include <system_error>

const char* kelParseFloatSlow(const char* p, const char* end, float* out) {
    // Numbers as exporters write them ("-0.123456", "12.5e-3") take the
    // exact fast path: a decimal mantissa up to 2^24 and a power of ten up to
    // 10^10 are both exact floats, so one correctly rounded multiplication or
    // division gives the correctly rounded value, as strtof does. Other
    // decimals go to from_chars, which parses them exactly as strtof does,
    // and what only strtof takes (hexadecimal, inf and nan spelled out,
    // numbers out of float range) to strtof itself; the text ends in a NUL,
    // so strtof stops inside it.
    static const float powers[] = {1e0f, 1e1f, 1e2f, 1e3f, 1e4f, 1e5f, 1e6f, 1e7f, 1e8f, 1e9f, 1e10f};
    const char* q = p;
    bool negative = false;
    if (q < end && (*q == '-' || *q == '+')) negative = *q++ == '-';
    const char* digits = q;
    bool hex = q + 1 < end && q[0] == '0' && (q[1] == 'x' || q[1] == 'X');
    if (!hex) {
        static const uint32_t tens[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000};
        int count, fraction = 0;
        // Up to 8 significant digits in all; more take the slow path.
        uint32_t mantissa = kelDigits8(q, &count);
        q += count;
        if (count < 8 && *q == '.') {
            uint32_t digits8 = kelDigits8(++q, &fraction);
            q += fraction;
            if (count + fraction < 8) mantissa = mantissa * tens[fraction] + digits8;
            count += fraction;
        }
        if (count >= 8) count = 0;
        int scale = -fraction;
        if (count > 0) {
            bool exact = true;
            if (q < end && (*q == 'e' || *q == 'E')) {
                const char* e = q + 1;
                bool negativeExponent = e < end && *e == '-';
                if (e < end && (*e == '-' || *e == '+')) e++;
                if (e < end && kelIsDigit(*e)) {
                    int exponent = 0;
                    for (int n = 0; e < end && kelIsDigit(*e); e++, n++) {
                        if (n < 3)
                            exponent = exponent * 10 + (*e - '0');
                        else
                            exact = false;
                    }
                    scale += negativeExponent ? -exponent : exponent;
                    q = e;
                }
            }
            if (exact && mantissa <= (1u << 24) && scale >= -10 && scale <= 10) {
                float value = float(mantissa);
                value = scale < 0 ? value / powers[-scale] : value * powers[scale];
                *out = negative ? -value : value;
                return q;
            }
        }
        if (digits < end && (kelIsDigit(*digits) || *digits == '.')) {
            float value;
            std::from_chars_result r = std::from_chars(digits, end, value);
            if (r.ec == std::errc()) {
                *out = negative ? -value : value;
                return r.ptr;
            }
            if (r.ec == std::errc::invalid_argument) return p;
        }
    }
    if (digits == end || kelIsSpace(*digits) || *digits == '-' || *digits == '+') return p;
    char* after;
    float value = strtof(p, &after);
    if (after == p) return p;
    *out = value;
    return after;
}
