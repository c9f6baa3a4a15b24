// Reading a file, or bytes in memory, in chunks of whole statements.
#include "kel/chunks.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "kel/alloc.h"
#include "kel/chars.h"
#include "kel/chunk_lines.h"

#ifndef MADV_POPULATE_READ  // Linux 5.14; older kernels refuse them, and pages are then mapped as they are read
#define MADV_POPULATE_READ 22
#define MADV_POPULATE_WRITE 23
#endif

// Takes a buffer for input of `known` bytes (or unknown, for a pipe): a chunk,
// or less when the whole input is smaller, with a byte more so that the read
// which finds its end has room.
static int startChunks(KelChunks* c, size_t chunk, bool known, unsigned long long total) {
    size_t capacity = chunk ? chunk : 1;
    if (known && total < capacity) capacity = size_t(total) + 1;
    c->data = static_cast<char*>(kelTryAlloc(capacity + kelTextPadding, 1));
    if (!c->data) return KEL_ERROR_MEMORY;
    c->capacity = capacity;
    c->chunk = capacity;
    c->seekable = known;
    c->total = known ? total : 0;
    c->limit = known ? total : ~0ull;
    c->ownsInput = true;
    return KEL_OK;
}

int kelOpenChunks(const char* path, size_t chunk, KelChunks* chunks) {
    *chunks = {};
    chunks->fd = -1;
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        chunks->systemError = errno;
        return KEL_ERROR_OPEN;
    }
    // A directory opens, but holds no text to read.
    struct stat info;
    bool known = fstat(fd, &info) == 0;
    if (known && S_ISDIR(info.st_mode)) {
        close(fd);
        chunks->systemError = EISDIR;
        return KEL_ERROR_OPEN;
    }
    bool regular = known && S_ISREG(info.st_mode) && info.st_size >= 0;
    int status = startChunks(chunks, chunk, regular, regular ? (unsigned long long)info.st_size : 0);
    if (status != KEL_OK) {
        close(fd);
        return status;
    }
    chunks->fd = fd;
    return KEL_OK;
}

int kelLimitChunks(KelChunks* c, unsigned long long maxInput) {
    if (maxInput == 0) return KEL_OK;
    if (c->seekable) return c->total > maxInput ? KEL_ERROR_LIMIT : KEL_OK;
    c->maxInput = maxInput;
    c->limit = maxInput + 1;
    return KEL_OK;
}

int kelOpenMemoryChunks(const void* data, size_t size, size_t chunk, KelChunks* chunks) {
    *chunks = {};
    chunks->fd = -1;
    chunks->memory = size ? static_cast<const char*>(data) : "";
    chunks->memorySize = size;
    return startChunks(chunks, chunk, true, size);
}

// Reads up to n bytes of input at input offset `at` into `into`; the
// count, 0 at the end of the input, or -1 when the read failed. A file
// that can seek is read with pread, so that ranges read it at once.
static long readAt(const KelChunks* c, char* into, size_t n, unsigned long long at) {
    unsigned long long left = at < c->limit ? c->limit - at : 0;
    if (n > left) n = size_t(left);
    if (c->memory) {
        size_t inMemory = at < c->memorySize ? size_t(c->memorySize - at) : 0;
        if (n > inMemory) n = inMemory;
        memcpy(into, c->memory + at, n);
        return long(n);
    }
    for (;;) {
        ssize_t got = c->seekable ? pread(c->fd, into, n, off_t(at)) : read(c->fd, into, n);
        if (got >= 0 || errno != EINTR) return long(got);
    }
}

static long readMore(KelChunks* c, size_t want) { return readAt(c, c->data + c->size, want, c->offset + c->size); }

// Ends the chunks with a read or mapping that failed: KEL_ERROR_IO and its
// errno. Returns false.
static bool failedRead(KelChunks* c) {
    c->error = KEL_ERROR_IO;
    c->systemError = errno;
    return false;
}

void kelShareInput(const KelChunks* input, KelChunks* reader) {
    reader->fd = input->fd;
    reader->memory = input->memory;
    reader->memorySize = input->memorySize;
    reader->total = reader->limit = input->total;
    reader->seekable = true;
    reader->ownsInput = false;
    reader->copied = input->copied;
    if (!reader->chunk) reader->chunk = input->chunk;  // the size the watch's steps are measured in
}

int kelOpenRangeChunks(const KelChunks* input, unsigned long long begin, unsigned long long end, size_t chunk,
                       KelChunks* range) {
    *range = {};
    int status = startChunks(range, chunk, true, end - begin);
    kelShareInput(input, range);
    range->offset = range->begin = begin;
    range->limit = end;
    return status;
}

// The input read a window at a time, for byte-by-byte scans that look a
// byte ahead or back.
struct ByteWindow {
    const KelChunks* input;
    unsigned long long base;
    long size;
    char bytes[4096];
};

// The input's byte at `at`, or -1 past its end.
static int byteAt(ByteWindow* w, unsigned long long at) {
    if (at < w->base || at >= w->base + (unsigned long long)w->size) {
        w->base = at;
        w->size = readAt(w->input, w->bytes, sizeof w->bytes, at);
        if (w->size <= 0) return w->size = 0, -1;
    }
    return static_cast<unsigned char>(w->bytes[at - w->base]);
}

unsigned long long kelFindStatementStart(const KelChunks* input, unsigned long long from) {
    ByteWindow w = {input, 0, 0, {}};
    bool seekingToken = false;         // past a line end, looking for the first token after it
    unsigned long long candidate = 0;  // the line start after that line end
    for (unsigned long long at = from;; at++) {
        int ch = byteAt(&w, at);
        if (ch < 0) return input->total;
        if (ch == '\n' || (ch == '\r' && byteAt(&w, at + 1) != '\n')) {
            // A line end: joined by a backslash before it, the line goes on.
            unsigned long long before = ch == '\n' && at > 0 && byteAt(&w, at - 1) == '\r' ? at - 1 : at;
            bool joined = before > 0 && byteAt(&w, before - 1) == '\\';
            if (!seekingToken && !joined) seekingToken = true, candidate = at + 1;
            continue;
        }
        if (!seekingToken || kelIsSpace(char(ch))) continue;
        if (ch == '\\') {
            int next = byteAt(&w, at + 1);
            if (next < 0 || kelJoinsLines(char(next))) continue;  // a backslash that joins lines is a blank
        }
        if (!kelMayStartNumber(char(ch))) return candidate;
        seekingToken = false;  // a number may go on the statement before: look further
    }
}

// Makes the buffer hold `capacity` input bytes and the padding; false
// (chunks->error set) when out of memory.
static bool growBuffer(KelChunks* c, size_t capacity) {
    char* grown = static_cast<char*>(kelTryRealloc(c->data, capacity + kelTextPadding));
    if (!grown) {
        c->error = KEL_ERROR_MEMORY;
        return false;
    }
    c->data = grown;
    c->capacity = capacity;
    return true;
}

// Hands out [data, data + split): zeroes the padding and the byte at split
// (kept in `saved`), and at the input's start skips a UTF-8 byte-order mark
// or refuses a UTF-16 one. False when refused.
static bool handOut(KelChunks* c) {
    memset(c->data + c->size, 0, kelTextPadding);
    c->saved = c->data[c->split];
    c->data[c->split] = '\0';
    c->marked = c->seekable && !c->plain && kelJoinLines(c->data, c->data + c->split, c->saved);
    c->start = 0;
    if (c->offset == 0 && c->split >= 2) {
        const unsigned char* b = reinterpret_cast<const unsigned char*>(c->data);
        if ((b[0] == 0xFF && b[1] == 0xFE) || (b[0] == 0xFE && b[1] == 0xFF)) {
            c->error = KEL_ERROR_ENCODING;
            return false;
        }
        if (c->split >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF) c->start = 3;
    }
    return true;
}

// --- Mapped input -------------------------------------------------------------
// A regular file is mapped, private and writable, rather than copied into
// the buffer, and each chunk is handed out where it lies: the copy cost as
// much as counting the lines of what it copied. The padding after a chunk
// then lies over the first bytes of the next, which are kept in `under`
// and put back before the next chunk is handed out (those writes copy a
// page of the file into memory of our own). A page of zeros after the
// file's last one gives the last chunk its padding. Once a chunk has been
// read its pages are let go, so the file takes no more memory than the
// buffer would; the pages of a chunk are mapped in one call as it is handed
// out. A file cut short by another process while it is read may stop the
// process with SIGBUS, as mapped files do.

static size_t pageSize() { return size_t(sysconf(_SC_PAGESIZE)); }

// Maps the file of `c`; false when it is not a non-empty regular file or
// cannot be mapped (it is then read into the buffer).
static bool mapInput(KelChunks* c) {
    c->mapTried = true;
    if (c->copied || c->fd < 0 || !c->seekable || c->total == 0 || c->total > SIZE_MAX / 2) return false;
    size_t page = pageSize();
    size_t fileBytes = (size_t(c->total) + page - 1) / page * page;
    size_t size = fileBytes + page;
    void* region = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (region == MAP_FAILED) return false;
    if (mmap(region, fileBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_FIXED, c->fd, 0) == MAP_FAILED) {
        munmap(region, size);
        return false;
    }
    free(c->data);
    c->data = nullptr;
    c->capacity = 0;
    c->mapping = static_cast<char*>(region);
    c->mappingSize = size;
    return true;
}

// Whether the chunks of `c` come from its mapping (mapped at the first one).
static bool mapped(KelChunks* c) { return c->mapping || (!c->mapTried && mapInput(c)); }

// Puts back the input bytes under the chunk's padding and lets go of the
// pages that only the chunk and those before it hold. A file read from
// disk is cached in folios of up to 2 MiB, and mapping a page of one maps
// the whole folio: the pages of earlier chunks in the folio this chunk
// starts in came back with it, and are let go again (else they held 7 MiB
// more at the peak of a 76 MB read).
static void releaseMapped(KelChunks* c) {
    if (!c->padded) return;
    memcpy(c->data + c->size, c->under, kelTextPadding);
    c->padded = false;
    const uintptr_t page = pageSize(), folio = uintptr_t(2) << 20;
    uintptr_t from = uintptr_t(c->mapping) + (uintptr_t(c->data - c->mapping) & ~(folio - 1));
    uintptr_t to = uintptr_t(c->data + c->size) & ~(page - 1);
    if (to > from) madvise(reinterpret_cast<void*>(from), to - from, MADV_DONTNEED);
}

// Maps the pages [begin, end) of the mapping as `advice` asks; false when
// they lie past the file's end or cannot be read.
static bool mapPages(uintptr_t begin, uintptr_t end, int advice) {
    return end <= begin || madvise(reinterpret_cast<void*>(begin), end - begin, advice) == 0 ||
           (errno != EFAULT && errno != EIO);
}

// Maps the pages of input bytes [at, at + n) and the padding after them:
// read-only, but those from `writeFrom` on as copies of our own, which the
// padding will be written on (a write to a page mapped read-only copies it
// with a flush of every thread's TLB). False when the file has grown
// shorter than they reach, or cannot be read.
static bool populate(KelChunks* c, unsigned long long at, size_t n, unsigned long long writeFrom) {
    uintptr_t page = pageSize();
    uintptr_t from = uintptr_t(c->mapping + at) & ~(page - 1);
    uintptr_t to = uintptr_t(c->mapping + at + n + kelTextPadding);
    if (to > uintptr_t(c->mapping + c->mappingSize)) to = uintptr_t(c->mapping + c->mappingSize);
    uintptr_t split = uintptr_t(c->mapping + writeFrom) & ~(page - 1);
    if (split < from) split = from;
    if (split > to) split = to;
    return mapPages(split, to, MADV_POPULATE_WRITE) && mapPages(from, split, MADV_POPULATE_READ);
}

// Tells the watch how far the input is read; false (c->error set) when the
// watch ends the chunks.
static bool tellWatch(KelChunks* c, unsigned long long reached) {
    int code = c->watch.reached ? c->watch.reached(c->watch.user, reached) : KEL_OK;
    if (code != KEL_OK) c->error = code;
    return code == KEL_OK;
}

// The bytes a growing chunk is read in between calls of the watch.
static size_t watchStep(const KelChunks* c) { return kelWatchChunks * (c->chunk ? c->chunk : 1); }

// populate for the bytes [at + from, at + n) of a chunk that starts at
// `at`, in steps with a call of the watch after each when `watched`. False
// (c->error set) when a page cannot be read or the watch ends the chunks.
static bool populateWatched(KelChunks* c, unsigned long long at, size_t from, size_t n, unsigned long long writeFrom,
                            bool watched) {
    size_t step = watched ? watchStep(c) : n;
    do {
        size_t piece = n - from < step ? n - from : step;
        if (!populate(c, at + from, piece, writeFrom)) return failedRead(c);
        from += piece;
        if (watched && !tellWatch(c, at + from)) return false;
    } while (from < n);
    return true;
}

// Hands out input bytes [at, at + n) of the mapping as the chunk.
static bool handOutMapped(KelChunks* c, unsigned long long at, size_t n) {
    c->data = c->mapping + at;
    c->offset = size_t(at);
    c->size = c->split = n;
    memcpy(c->under, c->data + n, kelTextPadding);
    c->padded = true;
    return handOut(c);
}

// kelNextChunk for mapped input: the window of a chunk's bytes from where
// the last one ended, doubled until it holds a place to split. Pages
// mapped for a smaller window stay mapped as it doubles.
static bool nextMappedChunk(KelChunks* c) {
    releaseMapped(c);
    unsigned long long at = c->offset + c->split;
    if (c->eof) return false;
    unsigned long long left = at < c->limit ? c->limit - at : 0;
    size_t mappedBytes = 0;
    for (size_t want = c->chunk;; want *= 2) {
        size_t n = left < want ? size_t(left) : want;
        // The chunk most likely ends in the window's last line.
        if (!populateWatched(c, at, mappedBytes, n, at + n - (n < 4096 ? n : 4096), want > c->chunk)) return false;
        mappedBytes = n;
        size_t split = n == left ? n : kelFindSplit(c->mapping + at, n);
        c->eof = n == left;
        if (split) return handOutMapped(c, at, split);
        if (c->eof) return false;
    }
}

// --- Chunks ---------------------------------------------------------------------

bool kelNextChunk(KelChunks* c) {
    if (c->error) return false;
    if (mapped(c)) return nextMappedChunk(c);
    if (c->split) {
        if (c->eof && c->split == c->size) return false;  // kept for a rewind
        c->data[c->split] = c->saved;
        c->offset += c->split;
        c->size -= c->split;
        memmove(c->data, c->data + c->split, c->size);
        c->split = 0;
    }
    const size_t step = watchStep(c);
    for (size_t want = c->chunk;;) {
        while (!c->eof && c->size < want) {
            size_t ask = want - c->size < step ? want - c->size : step;
            long got = readMore(c, ask);
            if (got < 0) return failedRead(c);
            c->eof = got == 0;
            c->size += size_t(got);
            if (c->maxInput && c->offset + c->size > c->maxInput) {
                c->error = KEL_ERROR_LIMIT;
                return false;
            }
            // A chunk that grows tells the watch as each step is read.
            if (want > c->chunk && !tellWatch(c, c->offset + c->size)) return false;
        }
        if (c->eof) {
            c->split = c->size;
            if (!c->seekable) c->total = c->offset + c->size;
            break;
        }
        if (c->seekable && (c->split = kelFindSplit(c->data, c->size)) != 0) break;
        want = 2 * c->size;
        if (want > c->capacity && !growBuffer(c, want)) return false;
    }
    return handOut(c) && c->split != 0;
}

bool kelReadChunkAt(KelChunks* c, unsigned long long offset, size_t size) {
    if (mapped(c)) {
        releaseMapped(c);
        if (offset > c->total) offset = c->total;
        if (size > c->total - offset) size = size_t(c->total - offset);
        if (!populateWatched(c, offset, 0, size, offset + size, size > watchStep(c))) return false;
        c->eof = true;
        return handOutMapped(c, offset, size);
    }
    if ((!c->data || c->capacity < size) && !growBuffer(c, size)) return false;
    size_t got = 0, step = watchStep(c);
    while (got < size) {
        long n = readAt(c, c->data + got, size - got < step ? size - got : step, offset + got);
        if (n < 0) return failedRead(c);
        if (n == 0) break;
        got += size_t(n);
        if (size > step && !tellWatch(c, offset + got)) return false;
    }
    c->offset = size_t(offset);
    c->size = c->split = got;
    c->eof = true;
    return handOut(c);
}

void kelRewindChunks(KelChunks* c) {
    if (c->mapping) {
        releaseMapped(c);
        c->offset = c->begin;
        c->size = c->split = 0;
        c->eof = false;
        return;
    }
    if (c->offset == c->begin && c->eof && c->split == c->size) {
        c->split = 0;  // the whole input is in the buffer
        return;
    }
    if (c->split) c->data[c->split] = c->saved;
    if (!c->seekable) c->error = KEL_ERROR_IO;  // a pipe is rewound only when read whole
    c->size = c->split = 0;
    c->offset = c->begin;
    c->eof = false;
}

// Only an error message asks for a line number, so lines are not counted as
// chunks go by: the input before the position is read again here.
unsigned long kelLineAt(const KelChunks* input, unsigned long long offset) {
    unsigned long line = 1;
    if (input->memory) {
        char after = offset < input->memorySize ? input->memory[offset] : '\0';
        return line + kelCountLineEnds(input->memory, size_t(offset), after);
    }
    char block[16384 + 1];  // a byte more: the one after the block, for a '\r' at its end
    for (unsigned long long done = 0; done < offset;) {
        size_t want = offset - done < sizeof block - 1 ? size_t(offset - done) : sizeof block - 1;
        long got = readAt(input, block, want + 1, done);
        if (got <= 0) break;  // the count stays short: the message is all it serves
        size_t counted = size_t(got) < want ? size_t(got) : want;
        line += kelCountLineEnds(block, counted, size_t(got) > counted ? block[counted] : '\0');
        done += counted;
    }
    return line;
}

// Seekable input is counted from the input, whose line ends are as they
// were before kelJoinLines rewrote the chunk; the chunk of input that cannot
// seek is not rewritten.
unsigned long kelChunkLine(const KelChunks* chunks, const char* at) {
    if (chunks->seekable) return kelLineAt(chunks, chunks->offset + size_t(at - chunks->data));
    return kelLineAt(chunks, chunks->offset) + kelCountLineEnds(chunks->data, size_t(at - chunks->data), *at);
}

void kelCloseChunks(KelChunks* chunks) {
    if (!chunks->data && !chunks->mapping) return;  // never opened, or closed already
    if (chunks->mapping)
        munmap(chunks->mapping, chunks->mappingSize);
    else
        free(chunks->data);
    if (chunks->ownsInput && chunks->fd >= 0) close(chunks->fd);
    chunks->data = chunks->mapping = nullptr;
}
