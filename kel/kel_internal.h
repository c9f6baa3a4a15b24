// Internals shared by the kel sources: assertions that stay on in every build,
// the one fatal-exit path, zero-filled allocation, reading files in chunks and
// the text-scanning helpers of the OBJ and MTL readers.
#ifndef KEL_KEL_INTERNAL_H
#define KEL_KEL_INTERNAL_H

// A null model or missing table is a programming error in every build, so the
// library's assertions fire in release builds too. <cassert> redefines assert
// each time it is included, following NDEBUG as it stands then.
#undef NDEBUG
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "kel/kel.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// Every fatal exit of the library (a file that cannot be opened or read, an
// unknown vertex statement, a face index outside its table, exhausted memory)
// calls kelExit after printing its message. exit.cpp holds nothing else and
// ends the process; a fuzz target defines its own kelExit, which the linker
// then takes instead of the archive's, to free the interrupted read with
// kelAbandonRead and jump back to its harness.
[[noreturn]] void kelExit(int status);

// Frees whatever an OBJ read that kelExit interrupted still holds (the model
// in progress, the open file and its buffer). Only a diverted kelExit calls it.
void kelAbandonRead();

// The mode word with every flag the model cannot serve dropped, in a fixed
// order, each dropped flag announced on stdout with its warning (one of
// seven: no facet normals, no normals, no texture coordinates, flat and
// smooth, colour without materials, material without materials, colour and
// material).
unsigned kelCheckMode(const KelModel* model, unsigned mode, const char* const warnings[7]);

// calloc that never returns null: out of memory ends the process.
void* kelAlloc(size_t count, size_t size);
// A heap copy of the first `length` bytes at `text`, NUL-terminated.
char* kelCopyName(const char* text, size_t length);

// A file read in chunks through one reused buffer, each chunk a run of
// whole statements: it ends where a line begins whose first token cannot
// continue the statement before it (no number starts with its first
// character), so a reader scans each chunk as if the file ended there. A
// chunk is followed by kelTextPadding readable bytes, the first of them
// zero: the zero stops the scanners and the C library's number parsers, and
// the rest lets a scanner load 16 bytes at any position up to the end. The
// bytes are writable; a reader may NUL-terminate a name in place while it
// uses it. Each chunk takes about `chunk` bytes; when no such line start is
// in them (one huge face or comment), it doubles until one is, or the file
// ends, so an unchanged file splits the same way on every pass. A file that
// fits one chunk, or that cannot seek (a pipe), is read once: the buffer
// then grows to hold all of it and a rewind hands out the same bytes.
constexpr size_t kelTextPadding = 64;
constexpr size_t kelChunkSize = size_t(1) << 20;
struct KelChunks {
    int fd;
    char* data;       // owned: capacity + kelTextPadding bytes
    size_t capacity;  // file bytes the buffer can hold
    size_t chunk;     // file bytes a chunk starts from
    size_t size;      // file bytes in the buffer
    size_t split;     // the chunk handed out is [data, data + split); 0 when none
    char saved;       // the byte at data[split], replaced by a zero
    size_t offset;    // file offset of data[0]
    bool seekable;    // a regular file: split into chunks and read again to rewind
    bool eof;
    bool failed;  // a read failed: the reader reports the file as unreadable
};
// Opens the file at `path` for chunks of about `chunk` bytes; false (and
// nothing held) when it cannot be opened.
bool kelOpenChunks(const char* path, size_t chunk, KelChunks* chunks);
// Hands out the next chunk, [chunks->data, chunks->data + chunks->split);
// false at the end of the file or when a read failed (chunks->failed).
bool kelNextChunk(KelChunks* chunks);
// Starts the file again from its first byte.
void kelRewindChunks(KelChunks* chunks);
// The line number of `at`, a position in the chunk handed out; counted
// only when asked (for an error message), which re-reads the file before
// the chunk.
size_t kelChunkLine(const KelChunks* chunks, const char* at);
// Closes the file and frees the buffer; safe to call again.
void kelCloseChunks(KelChunks* chunks);

// kelReadOBJ and kelReadMTL reading through chunks of about `chunk` bytes
// (the public functions use kelChunkSize; tests force small chunks).
KelModel* kelReadOBJChunks(const char* filename, size_t chunk);
void kelReadMTLChunks(KelModel* model, const char* name, size_t chunk);

// --- Scanning [p, end) --------------------------------------------------------
// White space is what isspace() takes in the C locale; a line ends at '\n'
// (a "\r\n" pair included).

inline bool kelIsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// The zero byte after a chunk (not white space) stops the loop.
inline const char* kelSkipSpace(const char* p, const char*) {
    while (kelIsSpace(*p)) p++;
    return p;
}

inline const char* kelTokenEnd(const char* p, const char* end) {
    while (p < end && !kelIsSpace(*p)) p++;
    return p;
}

// The line end ('\n') at or after p, or end. Lines are short, so the search
// is inline, 16 bytes at a time: the padding after a chunk makes every load
// that starts before end readable, and a line end found past end (the bytes
// after the chunk's zero may be the next chunk's) counts as end.
inline const char* kelLineEnd(const char* p, const char* end) {
#if defined(__SSE2__)
    const __m128i newline = _mm_set1_epi8('\n');
    for (; p < end; p += 16) {
        unsigned mask =
            unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), newline)));
        if (mask) {
            p += __builtin_ctz(mask);
            return p < end ? p : end;
        }
    }
    return end;
#else
    const void* newline = memchr(p, '\n', size_t(end - p));
    return newline ? static_cast<const char*>(newline) : end;
#endif
}

// Just past the line end at or after p, or end.
inline const char* kelSkipLine(const char* p, const char* end) {
    const char* lineEnd = kelLineEnd(p, end);
    return lineEnd < end ? lineEnd + 1 : end;
}

// The first white-space-delimited word between p and the end of its line:
// returns its start and stores its end in *wordEnd (start == *wordEnd when
// the rest of the line holds no word).
const char* kelLineWord(const char* p, const char* end, const char** wordEnd);

#include "kel/number.h"

// The numbers of a vertex, colour or shininess statement: reads up to n
// numbers, each after any white space, stopping at the first that does not
// parse (its slot keeps its value). Returns the position just past the line
// on which the last number read stands (the line of p when none was read),
// so whatever follows the numbers on that line is dropped.
inline const char* kelReadNumbers(const char* p, const char* end, float* out, int n) {
    const char* last = p;
    for (int i = 0; i < n; i++) {
        const char* q = kelSkipSpace(last, end);
        const char* after = kelParseFloat(q, end, &out[i]);
        if (after == q) break;
        last = after;
    }
    return kelSkipLine(last, end);
}

#endif  // KEL_KEL_INTERNAL_H
