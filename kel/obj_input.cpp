// The OBJ reader's input as every stage meets it: progress reported as it
// is read, the errors of input that fails, and chunks read again at the
// place a plan gives them.
#include <cassert>

#include "kel/obj_reader.h"

namespace kelobj {

bool reportProgress(Progress* progress, unsigned long long done) {
    const KelReadOptions* options = progress->options;
    if (!options->progress || progress->cancelled) return !progress->cancelled;
    unsigned long long total = progress->total, units = progress->base + done;
    unsigned long long bytes = progress->readWhole || done == ~0ull ? total : units / progress->passes;
    if (bytes > total) bytes = total;
    if (bytes < progress->lastReported) bytes = progress->lastReported;
    progress->lastReported = bytes;
    if (options->progress(options->user, bytes, total) == 0) return true;
    progress->cancelled = true;
    return false;
}

unsigned long long countBytesTo(ChunkWatch* watch, unsigned long long to) {
    Progress* progress = watch->progress;
    if (to <= watch->countedTo) return progress->bytesDone;
    unsigned long long more = watch->weight * (to - watch->countedTo);
    watch->countedTo = to;
    unsigned long long done = progress->bytesDone += more;
    assert(progress->base + done <= progress->passes * progress->total);  // no byte counted twice in a pass
    return done;
}

// KelReadWatch::reached for a ChunkWatch.
static int chunkReached(void* user, unsigned long long reached) {
    ChunkWatch* watch = static_cast<ChunkWatch*>(user);
    Progress* progress = watch->progress;
    if (progress->cancelled) return KEL_ERROR_CANCELLED;
    unsigned long long done = countBytesTo(watch, reached);
    return !watch->reports || reportProgress(progress, done) ? KEL_OK : KEL_ERROR_CANCELLED;
}

void watchChunks(KelChunks* chunks, ChunkWatch* watch) { chunks->watch = KelReadWatch{chunkReached, watch}; }

void inputError(KelError* error, const char* name, const KelChunks& chunks, int code) {
    switch (code) {
    case KEL_ERROR_CANCELLED: break;
    case KEL_ERROR_MEMORY: kelSetMemoryError(error, chunks.capacity, 2); break;
    case KEL_ERROR_ENCODING:
        kelSetError(error, KEL_ERROR_ENCODING, 0,
                    "kelReadOBJ() failed: \"%s\" is UTF-16 text; kel reads ASCII or UTF-8.", name);
        break;
    case KEL_ERROR_LIMIT:
        kelSetError(error, KEL_ERROR_LIMIT, 0, "kelReadOBJ() failed: \"%s\" is larger than the %llu bytes allowed.",
                    name, chunks.maxInput);
        break;
    default:
        kelSetSystemError(error, KEL_ERROR_IO, chunks.systemError, "kelReadOBJ() failed: can't read data file \"%s\".",
                          name);
        break;
    }
}

void changedError(KelError* error, const char* name) {
    kelSetError(error, KEL_ERROR_IO, 0, "kelReadOBJ() failed: \"%s\" changed while it was read.", name);
}

void unknownStatementError(KelError* error, const KelChunks& chunks, const char* at, const char* tokenEnd) {
    kelSetError(error, KEL_ERROR_STATEMENT, kelChunkLine(&chunks, at), "kelFirstPass(): Unknown token \"%.*s\".",
                int(tokenEnd - at), at);
}

KelChunks plannedChunkReader(const KelChunks& input) {
    KelChunks chunks = {};
    kelShareInput(&input, &chunks);
    return chunks;
}

bool loadPlannedChunk(KelChunks* chunks, unsigned long long offset, size_t size, const char* name, KelError* error) {
    if (kelReadChunkAt(chunks, offset, size)) return true;
    inputError(error, name, *chunks, chunks->error);
    return false;
}

}  // namespace kelobj
