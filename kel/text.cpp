// Reading files in chunks, and the text scanning shared by the OBJ and MTL
// readers.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kel/kel_internal.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

static inline bool isDigit(char c) { return unsigned(c - '0') < 10; }

// Whether strtof may read a number that starts with c: digits, a sign, a
// point, or the "inf" and "nan" it spells out.
static bool mayStartNumber(char c) {
    return isDigit(c) || c == '-' || c == '+' || c == '.' || c == 'i' || c == 'I' || c == 'n' || c == 'N';
}

// The start of the last line in [data, data + size) whose first token is
// known and cannot be a number, searched from the end; 0 when there is none
// after data[0]. Every statement before that line ends before it: faces
// and the numbers of vertex, colour and shininess statements run on across
// line ends only while the next token is a number. A line of white space
// takes the first token of the lines after it, so a blank line between a
// face and its next number is no place to split either.
static size_t findSplit(const char* data, size_t size) {
    const char* end = data + size;
    const char* token = end;  // first token after the candidate line start; end when unknown
    for (const char* lineEnd = end; lineEnd > data;) {
        const char* newline = static_cast<const char*>(memrchr(data, '\n', size_t(lineEnd - data)));
        if (!newline) return 0;
        const char* t = newline + 1;
        while (t < lineEnd && kelIsSpace(*t)) t++;
        if (t < lineEnd) token = t;
        if (token < end && !mayStartNumber(*token)) return size_t(newline + 1 - data);
        lineEnd = newline;
    }
    return 0;
}

static size_t countLines(const char* p, size_t n) {
    size_t lines = 0, i = 0;
#if defined(__SSE2__)
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

bool kelOpenChunks(const char* path, size_t chunk, KelChunks* chunks) {
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    // A file smaller than a chunk gets a buffer of its size and a byte more,
    // so that the read which finds its end has room.
    struct stat info;
    bool regular = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    size_t capacity = chunk ? chunk : 1;
    if (regular && info.st_size >= 0 && size_t(info.st_size) < capacity) capacity = size_t(info.st_size) + 1;
    char* data = static_cast<char*>(malloc(capacity + kelTextPadding));
    if (!data) {
        close(fd);
        fprintf(stderr, "kel: out of memory (%zu bytes of text).\n", capacity);
        kelExit(1);
    }
    *chunks = {};
    chunks->fd = fd;
    chunks->data = data;
    chunks->capacity = capacity;
    chunks->chunk = capacity;
    chunks->seekable = regular;
    return true;
}

bool kelNextChunk(KelChunks* c) {
    if (c->failed) return false;
    if (c->split) {
        if (c->eof && c->split == c->size) return false;  // kept for a rewind
        c->data[c->split] = c->saved;
        c->offset += c->split;
        c->size -= c->split;
        memmove(c->data, c->data + c->split, c->size);
        c->split = 0;
    }
    for (size_t want = c->chunk;;) {
        while (!c->eof && c->size < want) {
            ssize_t got = read(c->fd, c->data + c->size, want - c->size);
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) {
                c->failed = true;
                return false;
            }
            c->eof = got == 0;
            c->size += size_t(got);
        }
        if (c->eof) {
            c->split = c->size;
            break;
        }
        if (c->seekable && (c->split = findSplit(c->data, c->size)) != 0) break;
        want = 2 * c->size;
        if (want <= c->capacity) continue;
        char* grown = static_cast<char*>(realloc(c->data, want + kelTextPadding));
        if (!grown) {
            fprintf(stderr, "kel: out of memory (%zu bytes of text).\n", want);
            kelExit(1);
        }
        c->data = grown;
        c->capacity = want;
    }
    memset(c->data + c->size, 0, kelTextPadding);
    c->saved = c->data[c->split];
    c->data[c->split] = '\0';
    return c->split != 0;
}

void kelRewindChunks(KelChunks* c) {
    if (c->offset == 0 && c->eof && c->split == c->size) {
        c->split = 0;  // the whole file is in the buffer
        return;
    }
    if (c->split) c->data[c->split] = c->saved;
    c->failed = c->failed || lseek(c->fd, 0, SEEK_SET) != 0;
    c->size = c->split = c->offset = 0;
    c->eof = false;
}

// Only an error message asks for a line number, so lines are not counted as
// chunks go by: the file's bytes before the chunk are read again here (a
// file read in more than one chunk can seek) and counted with the chunk's.
size_t kelChunkLine(const KelChunks* chunks, const char* at) {
    size_t line = 1 + countLines(chunks->data, size_t(at - chunks->data));
    char block[16384];
    for (size_t done = 0; done < chunks->offset;) {
        size_t want = chunks->offset - done < sizeof block ? chunks->offset - done : sizeof block;
        ssize_t got = pread(chunks->fd, block, want, off_t(done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;  // the count stays short: the message is all it serves
        line += countLines(block, size_t(got));
        done += size_t(got);
    }
    return line;
}

void kelCloseChunks(KelChunks* chunks) {
    if (chunks->data) {
        free(chunks->data);
        close(chunks->fd);
    }
    chunks->data = nullptr;
}

const char* kelLineWord(const char* p, const char* end, const char** wordEnd) {
    while (p < end && *p != '\n' && kelIsSpace(*p)) p++;
    *wordEnd = kelTokenEnd(p, end);
    return p;
}
