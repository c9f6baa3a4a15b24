// Reading a file, or bytes in memory, in chunks of whole statements.
#ifndef KEL_CHUNKS_H
#define KEL_CHUNKS_H

#include <cstddef>

// Input read in chunks through one reused buffer (a regular file: where they
// lie in a mapping of it), each chunk a run of whole statements: it ends
// where a line begins whose first token cannot continue the statement before
// it (no number starts with its first character), so a reader scans each
// chunk as if the input ended there. A chunk is followed by kelTextPadding
// readable bytes, the first of them zero: the zero stops the scanners and
// the C library's number parsers, and the rest lets a scanner load 16 bytes
// at any position up to the end. The bytes are writable, but a write may
// copy a page of a mapped file: readers copy what they need to change. Each
// chunk takes about `chunk` bytes; when no such line start is in them (one
// huge face or comment), it doubles until one is, or the input ends, so
// unchanged input splits the same way on every pass. Input that fits one
// chunk, or a file that cannot seek (a pipe), is read once: the buffer then
// grows to hold all of it and a rewind hands out the same bytes.
//
// The input's first chunk starts after a UTF-8 byte-order mark; input that
// starts with a UTF-16 one is refused (KEL_ERROR_ENCODING).
//
// A line ends at '\n', "\r\n" or a lone '\r' (old Mac files); a backslash
// right before a line end joins the next line to its own. Chunks of
// seekable input are rewritten in place so that readers need to know only
// '\n': each lone '\r' becomes '\n', and a joining backslash and the line
// end after it become blanks, every byte at its place. No chunk ends inside
// a "\r\n" or after a joining backslash. The chunk of input that cannot seek
// (read whole, then read as memory) is handed out as it is.
constexpr size_t kelTextPadding = 64;
constexpr size_t kelChunkSize = size_t(1) << 20;
// A chunk that grows (a statement longer than a chunk) is read, or mapped,
// in steps of this many chunks' bytes, with a call of the watch after each.
constexpr size_t kelWatchChunks = 16;

// Told as a chunk grows: `reached` is the input offset up to which input is
// read (or, mapped, paged in). Called at least every kelWatchChunks chunks'
// bytes while one chunk grows past its size (a statement longer than a
// chunk), and as a chunk read at its place (kelReadChunkAt) longer than that
// is read. Returns KEL_OK to go on, or an error code, which ends the chunks
// with that error (a cancelled read, a limit on the input's size).
struct KelReadWatch {
    int (*reached)(void* user, unsigned long long reached);
    void* user;
};

struct KelChunks {
    int fd;              // the file, or -1 for input in memory
    const char* memory;  // input in memory (not owned), or null
    size_t memorySize;
    char* data;                // owned: capacity + kelTextPadding bytes; mapped: the chunk in `mapping`
    size_t capacity;           // input bytes the buffer can hold
    size_t chunk;              // input bytes a chunk starts from
    size_t size;               // input bytes in the buffer
    size_t start;              // the chunk handed out is [data + start, data + split): start skips a byte-order mark
    size_t split;              // 0 when no chunk is handed out
    char saved;                // the byte at data[split], replaced by a zero
    size_t offset;             // input offset of data[0]
    unsigned long long total;  // bytes of the whole input: known at the open, or once a pipe is read whole
    unsigned long long begin, limit;  // the part of the input read: [begin, limit); all of it unless a range
    bool seekable;                    // a regular file or memory: split into chunks, read at any offset
    bool ownsInput;                   // kelCloseChunks closes the file (not so for a range)
    bool eof;
    int error;  // KEL_OK, or why the last kelNextChunk failed: KEL_ERROR_IO, _MEMORY, _ENCODING, _LIMIT or the watch's
    int systemError;              // the errno of the system call that failed (the open, or a read), or 0
    unsigned long long maxInput;  // input that cannot seek fails with KEL_ERROR_LIMIT past this many bytes; 0: none
    KelReadWatch watch;           // null `reached`: none
    // A regular file is mapped instead of read into the buffer (see
    // chunks.cpp): `data` then points into the mapping, at the chunk.
    char* mapping;  // owned: private, writable; null when the file is read into the buffer
    size_t mappingSize;
    bool mapTried;  // mapping was tried (once, at the first chunk)
    bool copied;    // read into the buffer even a file that could be mapped
    bool marked;    // the chunk handed out held a '\r' or a backslash (see kelJoinLines)
    bool plain;     // set by a reader that knows the chunks it asks for hold neither: they are not searched
    bool padded;    // the chunk's padding lies over input bytes, kept in `under`
    char under[kelTextPadding];
};
// Opens the file at `path` for chunks of about `chunk` bytes. Returns KEL_OK,
// KEL_ERROR_OPEN (chunks->systemError set; EISDIR for a directory) or
// KEL_ERROR_MEMORY; nothing is held on failure.
int kelOpenChunks(const char* path, size_t chunk, KelChunks* chunks);
// The same for `size` bytes at `data`, which must stay valid until the
// chunks are closed.
int kelOpenMemoryChunks(const void* data, size_t size, size_t chunk, KelChunks* chunks);
// Limits the input to `maxInput` bytes (0: no limit): KEL_ERROR_LIMIT when
// its size is known and larger; input whose size is unknown (a pipe) then
// fails with KEL_ERROR_LIMIT as soon as more is read, and no more than one
// byte more is. Otherwise KEL_OK.
int kelLimitChunks(KelChunks* chunks, unsigned long long maxInput);
// Makes `reader` (all zero) read the input of `input`, which must be
// seekable: its file or memory, its size and how it is read, owning none of
// it (kelCloseChunks leaves the input open).
void kelShareInput(const KelChunks* input, KelChunks* reader);
// Opens the part [begin, end) of input opened with kelOpenChunks or
// kelOpenMemoryChunks (which must be seekable and stay open) as chunks of
// their own, for reading parts on several threads at once. `begin` must be
// a statement start (kelFindStatementStart). Returns KEL_OK or
// KEL_ERROR_MEMORY.
int kelOpenRangeChunks(const KelChunks* input, unsigned long long begin, unsigned long long end, size_t chunk,
                       KelChunks* range);
// The first line start at or after `from` where a statement starts: one whose
// first token (after any blank lines) cannot continue the statement before
// it, and whose line end before it no backslash joins. The input's size
// when there is none after `from`.
unsigned long long kelFindStatementStart(const KelChunks* input, unsigned long long from);
// Hands out the next chunk; false at the end of the input or on a failure
// (chunks->error).
bool kelNextChunk(KelChunks* chunks);
// Reads the input's bytes [offset, offset + size) into the buffer as the
// chunk handed out (the buffer grows to hold them; its first chunk skips a
// byte-order mark), for chunks whose place a first pass found. Safe on
// several threads at once, each with its own KelChunks sharing the input
// (kelShareInput). False (chunks->error set) when the read fails; a file
// that has since grown shorter gives a shorter chunk, or when it is mapped
// an error (KEL_ERROR_IO).
bool kelReadChunkAt(KelChunks* chunks, unsigned long long offset, size_t size);
// Starts the input again from its first byte.
void kelRewindChunks(KelChunks* chunks);
// The line number of `at`, a position in the chunk handed out; counted
// only when asked (for an error message), which re-reads the input before
// it. Every line end counts, a joined one and a lone '\r' too.
unsigned long kelChunkLine(const KelChunks* chunks, const char* at);
// The line number of input offset `offset` (of seekable input).
unsigned long kelLineAt(const KelChunks* input, unsigned long long offset);
// Closes the file and frees the buffer; safe to call again.
void kelCloseChunks(KelChunks* chunks);

#endif  // KEL_CHUNKS_H
