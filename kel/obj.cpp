// The OBJ reader's load calls: the input opened (a pipe read whole first),
// then read in one pass on one thread, or in two passes on several (see
// kel/obj_reader.h for the stages). A one-pass read that meets what only two
// passes read as they should reads the input again in two passes, so the
// model, or the error, is the same either way. Errors travel back by return
// value: the reader records the first one in file order, stops, and frees
// everything it built.
#include <cstdio>
#include <cstdlib>

#include "kel/obj_reader.h"
#include "kel/obj_threads.h"
#include "kel/strict.h"

namespace kelobj {
namespace {

// A new, empty model named as the input; null (the error set) when out of
// memory.
KelModel* newModel(const char* name, KelError* error) {
    KelModel* model = static_cast<KelModel*>(kelTryAlloc(1, sizeof(KelModel)));
    if (model && !(model->pathname = kelTryCopyName(name, strlen(name)))) free(model), model = nullptr;
    if (!model) kelSetMemoryError(error, 1, sizeof(KelModel));
    return model;
}

// Both passes, into `model`.
bool readInTwoPasses(const ReadSetup& setup, Progress* progress, KelModel* model, KelError* error) {
    Plan plan;
    OwnedNameIndex groups;
    MaterialIndex materials;
    return firstPass(setup, progress, model, &plan, &groups.index, &materials, error) &&
           secondPass(setup, progress, model, &plan, &materials, error);
}

// Reads the opened input into a new model (`readWhole`: input of unknown
// size, read whole first); null on failure, with nothing held.
KelModel* readObj(const ReadSetup& setup, bool readWhole, KelError* error) {
    Progress progress;
    progress.options = setup.options;
    unsigned long long total = setup.input->total;
    progress.total = total;
    progress.passes = setup.options->strict ? 3 : 2;
    progress.readWhole = readWhole;
    size_t chunks = size_t(total / (setup.chunk ? setup.chunk : 1)) + 1;
    KelModel* model = nullptr;
    bool read = false;
    if (!setup.options->strict || strictPass(setup, &progress, error)) model = newModel(setup.name, error);
    if (model && threadCount(setup.options, total, chunks) == 1) {
        OnePassEnd end = readInOnePass(setup, &progress, model, error);
        read = end == ONE_PASS_READ;
        if (end == ONE_PASS_GIVEN_UP) {
            // Read again in two passes, into a new model; progress goes on
            // from where it stands.
            kelDelete(model);
            progress.bytesDone = 0;
            kelRewindChunks(setup.input);
            *error = {};
            model = newModel(setup.name, error);
            read = model && readInTwoPasses(setup, &progress, model, error);
        }
    } else if (model) {
        read = readInTwoPasses(setup, &progress, model, error);
    }
    if (!read && progress.cancelled)
        kelSetError(error, KEL_ERROR_CANCELLED, 0, "kelReadOBJ() cancelled reading \"%s\".", setup.name);
    if (!read && model) kelDelete(model), model = nullptr;
    return model;
}

// Progress while input of unknown size is read whole: the bytes read so
// far, of a total not known yet (0).
struct WholeRead {
    const KelReadOptions* options;
    bool cancelled;
};

int wholeReadReached(void* user, unsigned long long reached) {
    WholeRead* read = static_cast<WholeRead*>(user);
    if (!read->options->progress || read->options->progress(read->options->user, reached, 0) == 0) return KEL_OK;
    read->cancelled = true;
    return KEL_ERROR_CANCELLED;
}

// Reads input opened (or not) with `status` into a new model. `name` null
// stands for input in memory that has no name: messages name it
// "<memory>", and no library is looked for on disk.
KelModel* loadObj(KelChunks* chunks, int status, const char* name, size_t chunk, const KelReadOptions* options,
                  KelError* error) {
    KelError local;
    if (!error) error = &local;
    *error = {};
    static const KelReadOptions defaults = {};
    if (!options) options = &defaults;
    bool named = name != nullptr;
    if (!named) name = "<memory>";
    if (status == KEL_OK) status = kelLimitChunks(chunks, options->maxInput);
    switch (status) {
    case KEL_OK: break;
    case KEL_ERROR_OPEN:
        kelSetSystemError(error, KEL_ERROR_OPEN, chunks->systemError,
                          "kelReadOBJ() failed: can't open data file \"%s\".", name);
        return nullptr;
    case KEL_ERROR_LIMIT:
        chunks->maxInput = options->maxInput;
        inputError(error, name, *chunks, status);
        kelCloseChunks(chunks);
        return nullptr;
    default: kelSetMemoryError(error, chunk, 1); return nullptr;
    }
    ReadSetup setup = {name, chunk, options, chunks, {options->warning, options->user}, named};
    // A file is read through the buffer unless the caller asks for a
    // mapping: another process may change it meanwhile.
    chunks->copied = options->copyInput || !options->mapInput;
    KelModel* model = nullptr;
    if (chunks->seekable) {
        model = readObj(setup, false, error);
        kelCloseChunks(chunks);
        return model;
    }
    // Input of unknown size (a pipe, a device) is read whole into the buffer
    // (the only chunk it gives), watched so that a callback can end it,
    // and then read from there like input in memory.
    WholeRead whole = {options, false};
    chunks->watch = KelReadWatch{wholeReadReached, &whole};
    KelChunks memory;
    if (!kelNextChunk(chunks) && chunks->error) {
        inputError(error, name, *chunks, chunks->error);
        if (whole.cancelled) kelSetError(error, KEL_ERROR_CANCELLED, 0, "kelReadOBJ() cancelled reading \"%s\".", name);
    } else if (kelOpenMemoryChunks(chunks->data, chunks->size, chunk, &memory) != KEL_OK) {
        kelSetMemoryError(error, chunk, 1);
    } else {
        setup.input = &memory;
        model = readObj(setup, true, error);
        kelCloseChunks(&memory);
    }
    kelCloseChunks(chunks);
    return model;
}

}  // namespace
}  // namespace kelobj

KelModel* kelLoadOBJChunks(const char* path, size_t chunk, const KelReadOptions* options, KelError* error) {
    KelChunks chunks;
    int status = kelOpenChunks(path, chunk, &chunks);
    return kelobj::loadObj(&chunks, status, path, chunk, options, error);
}

KelModel* kelLoadOBJFromMemoryChunks(const void* data, size_t size, const char* name, size_t chunk,
                                     const KelReadOptions* options, KelError* error) {
    KelChunks chunks;
    int status = kelOpenMemoryChunks(data, size, chunk, &chunks);
    return kelobj::loadObj(&chunks, status, name, chunk, options, error);
}

KelModel* kelLoadOBJ(const char* path, const KelReadOptions* options, KelError* error) {
    return kelLoadOBJChunks(path, kelChunkSize, options, error);
}

KelModel* kelLoadOBJFromMemory(const void* data, size_t size, const char* name, const KelReadOptions* options,
                               KelError* error) {
    return kelLoadOBJFromMemoryChunks(data, size, name, kelChunkSize, options, error);
}

KelModel* kelReadOBJ(const char* filename) {
    KelError error;
    KelModel* model = kelLoadOBJ(filename, nullptr, &error);
    if (!model) {
        // An unknown statement has always been reported on stdout.
        kelPrintError(error.code == KEL_ERROR_STATEMENT ? stdout : stderr, &error);
        exit(1);
    }
    return model;
}
