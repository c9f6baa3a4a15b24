// JSON text of the glTF writer: strings in UTF-8 and numbers.
#include <cmath>

#include "kel/glb.h"

namespace {

// The length of the valid UTF-8 sequence at p (its first byte 0x80 or
// above), or 0 when there is none: overlong forms, surrogates and code
// points past U+10FFFF are not valid.
size_t sequenceLength(const unsigned char* p) {
    const unsigned c = p[0];
    auto continues = [&](int i, unsigned low, unsigned high) { return p[i] >= low && p[i] <= high; };
    if (c >= 0xC2 && c <= 0xDF) return continues(1, 0x80, 0xBF) ? 2 : 0;
    if (c >= 0xE0 && c <= 0xEF) {
        unsigned low = c == 0xE0 ? 0xA0 : 0x80, high = c == 0xED ? 0x9F : 0xBF;
        return continues(1, low, high) && continues(2, 0x80, 0xBF) ? 3 : 0;
    }
    if (c >= 0xF0 && c <= 0xF4) {
        unsigned low = c == 0xF0 ? 0x90 : 0x80, high = c == 0xF4 ? 0x8F : 0xBF;
        return continues(1, low, high) && continues(2, 0x80, 0xBF) && continues(3, 0x80, 0xBF) ? 4 : 0;
    }
    return 0;
}

}  // namespace

void kelJsonString(std::string& out, const char* text) {
    static const char hex[] = "0123456789abcdef";
    out += '"';
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p;) {
        const unsigned c = *p;
        if (c >= 0x80) {
            // A NUL ends the text, so a sequence cut short by it fails its
            // continuation test before the end is passed.
            size_t n = sequenceLength(p);
            if (n) {
                out.append(reinterpret_cast<const char*>(p), n);
                p += n;
            } else {
                out += char(0xC0 | (c >> 6));
                out += char(0x80 | (c & 0x3F));
                p++;
            }
            continue;
        }
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20) {
            out += "\\u00";
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += char(c);
        }
        p++;
    }
    out += '"';
}

void kelJsonNumber(std::string& out, float value) {
    char text[kelNumberRoom];
    if (!std::isfinite(value)) value = 0;
    out.append(text, size_t(kelFormatShortest(text, value) - text));
}

void kelJsonCount(std::string& out, uint64_t value) {
    char text[kelNumberRoom];
    out.append(text, size_t(kelFormatUnsigned(text, value) - text));
}
