// The writers' output (see kel/out.h).
#include "kel/out.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kel/kel_internal.h"

namespace {

constexpr size_t kBufferSize = 1 << 18;

void writeAll(KelOut* out, const char* p, size_t left) {
    while (out->ok && left) {
        ssize_t n = write(out->fd, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            out->ok = false;
            out->systemError = n < 0 ? errno : EIO;
        } else {
            p += n;
            left -= size_t(n);
        }
    }
}

void flush(KelOut* out) {
    writeAll(out, out->buffer, out->length);
    out->length = 0;
    KelSaveProgress* progress = out->progress;
    if (out->ok && progress && progress->report && progress->report(progress->user, progress->done, progress->total)) {
        progress->cancelled = true;
        out->ok = false;
    }
}

}  // namespace

char* kelRoom(KelOut* out, size_t n) {
    if (out->length + n > kBufferSize) flush(out);
    return out->buffer + out->length;
}

void kelPut(KelOut* out, const char* text, size_t n) {
    if (n > kBufferSize / 2) {
        flush(out);
        writeAll(out, text, n);
        return;
    }
    char* p = kelRoom(out, n);
    memcpy(p, text, n);
    kelDone(out, p + n);
}

void kelPut(KelOut* out, const char* text) { kelPut(out, text, strlen(text)); }

char* kelFormatUnsigned(char* p, uint64_t value) {
    char digits[20];
    int n = 0;
    do {
        digits[n++] = char('0' + value % 10);
        value /= 10;
    } while (value);
    while (n) *p++ = digits[--n];
    return p;
}

// The bytes printf("%f", double(f)) gives. A float is m * 2^e with m below
// 2^24, so f * 10^6 = m * 10^6 * 2^e is found exactly in 64 bits and rounded
// half to even like printf; values of 2^40 and more, infinities and
// not-a-number go to snprintf itself.
char* kelFormatFixed(char* p, float f) {
    uint32_t bits;
    memcpy(&bits, &f, sizeof bits);
    uint32_t exponent = (bits >> 23) & 0xFF;
    if (exponent >= 127 + 40) return p + snprintf(p, kelNumberRoom, "%f", double(f));
    if (bits >> 31) *p++ = '-';
    uint64_t mantissa = bits & 0x7FFFFF;
    int shift = 149;  // f = mantissa * 2^-shift
    if (exponent) {
        mantissa |= 0x800000;
        shift = 150 - int(exponent);
    }
    uint64_t r = mantissa * 1000000;  // below 2^44
    if (shift <= 0) {
        r <<= -shift;  // at most 16 places: below 2^60
    } else if (shift >= 64) {
        r = 0;  // below 2^-20
    } else {
        uint64_t q = r >> shift;
        uint64_t rest = r & ((uint64_t(1) << shift) - 1);
        uint64_t half = uint64_t(1) << (shift - 1);
        if (rest > half || (rest == half && (q & 1))) q++;
        r = q;
    }
    p = kelFormatUnsigned(p, r / 1000000);
    *p++ = '.';
    uint32_t fraction = uint32_t(r % 1000000);
    for (int i = 5; i >= 0; i--) {
        p[i] = char('0' + fraction % 10);
        fraction /= 10;
    }
    return p + 6;
}

namespace {

// A copy of path with symbolic links resolved when it names one, so the
// link itself is not replaced; the caller frees it. Null when out of memory.
char* resolveTarget(const char* path) {
    struct stat info;
    if (lstat(path, &info) == 0 && S_ISLNK(info.st_mode)) {
        char* resolved = realpath(path, nullptr);
        if (resolved) return resolved;
    }
    return kelTryCopyName(path, strlen(path));
}

void release(KelOut* out) {
    free(out->buffer);
    free(out->target);
    free(out->temp);
    out->buffer = out->target = out->temp = nullptr;
}

// A name beside `path` that no file has yet: `path`, the kind ("tmp",
// "old") and a serial number. Null when out of memory.
char* besideName(const char* path, const char* kind, unsigned attempt) {
    static std::atomic<unsigned> serial;
    size_t size = strlen(path) + 64;
    char* name = static_cast<char*>(kelTryAlloc(size, 1));
    if (name) snprintf(name, size, "%s.%s-%ld-%u-%u", path, kind, long(getpid()), serial++, attempt);
    return name;
}

}  // namespace

int kelOpenOut(KelOut* out, const char* path, KelSaveProgress* progress, bool exact) {
    *out = KelOut{-1, resolveTarget(path), nullptr, nullptr, 0, true, 0, progress, exact};
    if (!out->target) return KEL_ERROR_MEMORY;
    struct stat info;
    bool exists = stat(out->target, &info) == 0;
    if (exists && !S_ISREG(info.st_mode)) {
        out->fd = ::open(out->target, O_WRONLY | O_TRUNC | O_CLOEXEC);
    } else {
        for (unsigned attempt = 0; attempt < 100 && out->fd < 0; attempt++) {
            free(out->temp);
            if (!(out->temp = besideName(out->target, "tmp", attempt))) {
                release(out);
                return KEL_ERROR_MEMORY;
            }
            out->fd = ::open(out->temp, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (out->fd < 0 && errno != EEXIST) break;
        }
        // A replaced file keeps its permissions.
        if (out->fd >= 0 && exists) fchmod(out->fd, info.st_mode & 07777);
    }
    if (out->fd >= 0 && (out->buffer = static_cast<char*>(kelTryAlloc(kBufferSize, 1)))) return KEL_OK;
    int status = out->fd < 0 ? KEL_ERROR_OPEN : KEL_ERROR_MEMORY;
    if (out->fd < 0) out->systemError = errno;
    if (out->fd >= 0) close(out->fd);
    if (out->fd >= 0 && out->temp) unlink(out->temp);
    release(out);
    return status;
}

void kelAbandonOut(KelOut* out) {
    if (!out) return;
    close(out->fd);
    if (out->temp) unlink(out->temp);
    release(out);
}

bool kelCompleteOut(KelOut* out) {
    flush(out);
    if (close(out->fd) != 0 && out->ok) out->ok = false, out->systemError = errno;
    out->fd = -1;
    if (!out->ok) {
        if (out->temp) unlink(out->temp);
        release(out);
    }
    return out->ok;
}

int kelPlaceOuts(KelOut* first, KelOut* second) {
    // The first file's earlier version keeps a second name (a hard link)
    // until the second file is in place.
    char* keep = nullptr;
    int status = KEL_OK;
    bool firstExisted = false;
    if (first && first->temp) {
        struct stat info;
        firstExisted = stat(first->target, &info) == 0;
        for (unsigned attempt = 0; firstExisted && !keep && status == KEL_OK && attempt < 100; attempt++) {
            if (!(keep = besideName(first->target, "old", attempt))) {
                status = KEL_ERROR_MEMORY;
            } else if (link(first->target, keep) != 0) {
                free(keep), keep = nullptr;
                if (errno != EEXIST) break;  // no second name here: the file is replaced without one
            }
        }
        if (status == KEL_OK && rename(first->temp, first->target) != 0)
            status = KEL_ERROR_IO, second->systemError = errno;
        if (status != KEL_OK) unlink(first->temp);
    }
    if (second->temp) {
        if (status == KEL_OK && rename(second->temp, second->target) != 0) {
            status = KEL_ERROR_IO;
            second->systemError = errno;
            if (keep)
                rename(keep, first->target), free(keep), keep = nullptr;
            else if (first && first->temp && !firstExisted)
                unlink(first->target);
        }
        if (status != KEL_OK) unlink(second->temp);
    }
    if (keep) unlink(keep);
    free(keep);
    if (first) release(first);
    release(second);
    return status;
}

namespace {

// The two digits of 0 to 99.
const char kPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// The decimal digits of `whole`, two at a time from the right; one digit,
// as most numbers of a model have before the point, at once.
char* putWhole(char* p, uint32_t whole) {
    if (whole < 10) {
        *p = char('0' + whole);
        return p + 1;
    }
    int digits = 2;
    for (uint32_t limit = 100; digits < 10 && whole >= limit; limit *= 10) digits++;
    char* q = p + digits;
    for (; whole >= 100; whole /= 100) memcpy(q -= 2, &kPairs[2 * (whole % 100)], 2);
    if (whole >= 10)
        memcpy(q - 2, &kPairs[2 * whole], 2);
    else
        q[-1] = char('0' + whole);
    return p + digits;
}

// kelFormatShortest through std::to_chars, for any float: in scientific form
// it gives the fewest significant digits that read back as f
// ("d.ddde+XX"); they are written in fixed form instead when that is no
// longer (trailing zeros of a whole number are no digits of their own:
// "100" has the one digit of "1e+02").
char* shortestByToChars(char* p, float f) {
    char text[48];
    char* end = std::to_chars(text, text + sizeof text - 1, f, std::chars_format::scientific).ptr;
    *end = '\0';
    const char* e = static_cast<const char*>(memchr(text, 'e', size_t(end - text)));
    if (!e) return static_cast<char*>(memcpy(p, text, size_t(end - text))) + (end - text);  // inf, nan
    const char* q = text;
    if (*q == '-') *p++ = *q++;
    char digits[16];
    int n = 0;
    for (; q < e; q++)
        if (*q != '.') digits[n++] = *q;
    int exponent = atoi(e + 1);
    // Fixed is "ddd000" (exponent >= n - 1), "dd.dd", or "0.000dd"; when
    // that is longer, the mantissa and exponent as to_chars wrote them.
    size_t fixed = size_t(exponent >= n - 1 ? exponent + 1 : exponent >= 0 ? n + 1 : n + 1 - exponent);
    const char* start = text + (text[0] == '-');
    if (fixed > size_t(end - start)) {
        memcpy(p, start, size_t(end - start));
        return p + (end - start);
    }
    if (exponent < 0) {
        *p++ = '0';
        *p++ = '.';
        for (int i = -1; i > exponent; i--) *p++ = '0';
        memcpy(p, digits, size_t(n));
        return p + n;
    }
    for (int i = 0; i < n || i <= exponent; i++) {
        if (i == exponent + 1) *p++ = '.';
        *p++ = i < n ? digits[i] : '0';
    }
    return p;
}

}  // namespace

char* kelFormatShortest(char* p, float f) {
    // Most numbers of a model lie between 0.001 and 2^24. There the
    // decimals that read back as f are those strictly inside the interval
    // halfway to its neighbouring floats (its ends too when f's last bit is
    // 0, as reading rounds ties to even). f and both ends, times 10^k
    // (k <= 11), are exact doubles: at most 25 significant bits times at
    // most 26 (10^k = 2^k 5^k). At the first k where the interval is at
    // least 2 wide, the whole numbers inside run from L to H; each digit
    // dropped while some multiple of 10 stays inside shortens the text by
    // one (below 2^24 no digit before the point is spare), and the whole
    // number nearest f 10^k, kept within L..H, is the one written. Fixed form is written when no longer than
    // scientific. Other numbers go to std::to_chars.
    static const double powers[12] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10, 1e11};
    float a = std::fabs(f);
    if (!(a >= 1e-3f && a < 16777216.0f)) return shortestByToChars(p, f);
    uint32_t bits;
    memcpy(&bits, &a, sizeof bits);
    float below, above;
    uint32_t belowBits = bits - 1, aboveBits = bits + 1;
    memcpy(&below, &belowBits, sizeof below);
    memcpy(&above, &aboveBits, sizeof above);
    const double lowEnd = (double(a) + double(below)) * 0.5, highEnd = (double(a) + double(above)) * 0.5;
    const bool ends = (bits & 1) == 0;  // whether the ends themselves read back as f
    // The first k with (highEnd - lowEnd) 10^k >= 2: from the width's
    // binary exponent e, k = ceil((1 - e) log10 2), 1233 / 4096 standing for
    // log10 2, and one more when that falls short.
    const double width = highEnd - lowEnd;
    uint64_t widthBits;
    memcpy(&widthBits, &width, sizeof widthBits);
    int e = int((widthBits >> 52) & 0x7FF) - 1023;
    int k = ((1 - e) * 1233 + 4095) >> 12;
    if (k < 12 && width * powers[k] < 2) k++;
    if (k >= 12) return shortestByToChars(p, f);
    // f 10^k stays below 20 f / width < 2^30: whole numbers of 32 bits.
    const double l = lowEnd * powers[k], h = highEnd * powers[k];
    if (h >= 4294967295.0) return shortestByToChars(p, f);
    uint32_t low = uint32_t(l), high = uint32_t(h);  // positive: truncation is the floor
    if (double(low) < l || (double(low) == l && !ends)) low++;
    if (double(high) == h && !ends) high--;
    // Two digits at a time while a multiple of 100 stays inside, then one:
    // two single steps could not both follow a step of two that failed.
    for (; k > 1 && (low + 99) / 100 <= high / 100; k -= 2) low = (low + 99) / 100, high /= 100;
    if (k > 0 && (low + 9) / 10 <= high / 10) low = (low + 9) / 10, high /= 10, k--;
    uint32_t m = uint32_t(double(a) * powers[k] + 0.5);
    m = m < low ? low : m > high ? high : m;
    if (m < 1) return shortestByToChars(p, f);  // not met: the interval holds no 0
    // A whole number of six or more digits may be shorter as "de+0x".
    if (k == 0 && m >= 100000) {
        int zeros = 0;
        for (uint32_t rest = m; rest % 10 == 0; rest /= 10) zeros++;
        int significant = (m >= 10000000 ? 8 : m >= 1000000 ? 7 : 6) - zeros;
        if (significant + (significant > 1) + 4 < significant + zeros) return shortestByToChars(p, f);
    }
    if (f < 0) *p++ = '-';
    // For k > 0 the whole part is a's: a whole number between a and m / 10^k
    // would read back as f with k = 0. The digits go straight to their place,
    // two at a time from the right, the fraction's k with its leading zeros.
    const uint32_t whole = k ? uint32_t(a) : m;
    uint32_t fraction = m - uint32_t(whole * powers[k]);
    p = putWhole(p, whole);
    if (!k) return p;
    *p++ = '.';
    if (k <= 8 && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__) {
        // The fraction as eight digits, leading zeros included, made in a
        // register from four pairs found side by side; its last k are
        // stored (the room after a number takes the eight bytes).
        uint32_t high4 = fraction / 10000, low4 = fraction % 10000;
        uint16_t pair[4];
        memcpy(&pair[0], &kPairs[2 * (high4 / 100)], 2);
        memcpy(&pair[1], &kPairs[2 * (high4 % 100)], 2);
        memcpy(&pair[2], &kPairs[2 * (low4 / 100)], 2);
        memcpy(&pair[3], &kPairs[2 * (low4 % 100)], 2);
        uint64_t eight =
            uint64_t(pair[0]) | uint64_t(pair[1]) << 16 | uint64_t(pair[2]) << 32 | uint64_t(pair[3]) << 48;
        eight >>= 8 * (8 - k);  // the first digit is the lowest byte
        memcpy(p, &eight, 8);
        return p + k;
    }
    char* q = p + k;
    for (int i = 0; i + 1 < k; i += 2, fraction /= 100) memcpy(q -= 2, &kPairs[2 * (fraction % 100)], 2);
    if (k & 1) p[0] = char('0' + fraction);
    return p + k;
}

char* kelFormatNumbers(const KelOut* out, char* p, const float* v, int components) {
    for (int c = 0; c < components; c++) {
        *p++ = ' ';
        p = kelFormatNumber(out, p, v[c]);
    }
    return p;
}

void kelPutNumbers(KelOut* out, const char* keyword, size_t keywordLength, const float* v, int components) {
    char* p = kelRoom(out, keywordLength + (size_t(components) + 1) * kelNumberRoom);
    memcpy(p, keyword, keywordLength);
    p = kelFormatNumbers(out, p + keywordLength, v, components);
    *p++ = '\n';
    kelDone(out, p);
}

void kelPutCount(KelOut* out, const char* prefix, unsigned count, const char* suffix) {
    kelPut(out, prefix);
    char* p = kelRoom(out, kelNumberRoom);
    kelDone(out, kelFormatUnsigned(p, count));
    kelPut(out, suffix);
}

const char kelAuthorLines[] =
    "#  Orvandel team\n"
    "#  team@orvandel.example\n"
    "#  https://orvandel.example\n";

int kelSaveFailure(KelError* error, int status, const KelSaveProgress* progress, const KelSaveMessages& messages,
                   const char* path, int systemError) {
    if (status == KEL_ERROR_MEMORY) {
        kelSetMemoryError(error, kBufferSize, 1);
    } else if (progress && progress->cancelled) {
        status = KEL_ERROR_CANCELLED;
        kelSetError(error, status, 0, "kelWriteOBJ() cancelled writing \"%s\".", path);
    } else {
        if (status == KEL_OK) status = KEL_ERROR_IO;
            // The messages are formats with the path alone.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
        kelSetSystemError(error, status, systemError, status == KEL_ERROR_OPEN ? messages.open : messages.write, path);
#pragma GCC diagnostic pop
    }
    return status;
}
