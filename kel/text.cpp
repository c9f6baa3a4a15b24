// Whole-file loading and the text scanning shared by the OBJ and MTL readers.
#include <sys/stat.h>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kel/kel_internal.h"

bool kelLoadText(const char* path, KelText* text) {
    FILE* file = fopen(path, "rb");
    if (!file) return false;
    // The size is a hint: the loop also reads files whose size stat cannot
    // tell (pipes) or that grow while being read.
    struct stat info;
    size_t capacity = 1 << 16;
    if (fstat(fileno(file), &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0)
        capacity = size_t(info.st_size) + 1;
    char* data = static_cast<char*>(kelAlloc(capacity, 1));
    size_t size = 0;
    for (;;) {
        size_t wanted = capacity - 1 - size;
        size_t got = fread(data + size, 1, wanted, file);
        size += got;
        if (got < wanted) break;
        int c = fgetc(file);
        if (c == EOF) break;
        capacity *= 2;
        char* grown = static_cast<char*>(realloc(data, capacity));
        if (!grown) {
            fprintf(stderr, "kel: out of memory reading \"%s\".\n", path);
            kelExit(1);
        }
        data = grown;
        data[size++] = char(c);
    }
    bool ok = !ferror(file);
    fclose(file);
    if (!ok) {
        free(data);
        return false;
    }
    data[size] = '\0';
    text->data = data;
    text->size = size;
    return true;
}

const char* kelSkipLine(const char* p, const char* end) {
    const void* newline = memchr(p, '\n', size_t(end - p));
    return newline ? static_cast<const char*>(newline) + 1 : end;
}

const char* kelLineWord(const char* p, const char* end, const char** wordEnd) {
    while (p < end && *p != '\n' && kelIsSpace(*p)) p++;
    *wordEnd = kelTokenEnd(p, end);
    return p;
}

const char* kelParseFloat(const char* p, const char* end, float* out) {
    // from_chars parses decimal numbers exactly as strtof does; the rarer forms
    // strtof also takes (a leading '+', hexadecimal, inf and nan spelled out,
    // numbers out of float range) go to strtof itself. The text ends in a NUL,
    // so strtof stops inside it.
    const char* q = p;
    if (q < end && (*q == '-' || *q == '+')) q++;
    bool plainDecimal = q < end && ((*q >= '0' && *q <= '9') || *q == '.') &&
                        !(*q == '0' && q + 1 < end && (q[1] == 'x' || q[1] == 'X'));
    if (plainDecimal && *p != '+') {
        float value;
        std::from_chars_result r = std::from_chars(p, end, value);
        if (r.ec == std::errc()) {
            *out = value;
            return r.ptr;
        }
        if (r.ec == std::errc::invalid_argument) return p;
    }
    if (q == end || kelIsSpace(*q)) return p;
    char* after;
    float value = strtof(p, &after);
    if (after == p) return p;
    *out = value;
    return after;
}

const char* kelReadNumbers(const char* p, const char* end, float* out, int n) {
    const char* last = p;
    for (int i = 0; i < n; i++) {
        const char* q = kelSkipSpace(last, end);
        const char* after = kelParseFloat(q, end, &out[i]);
        if (after == q) break;
        last = after;
    }
    return kelSkipLine(last, end);
}
