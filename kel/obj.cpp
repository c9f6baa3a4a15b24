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

// Reads the opened input into a new model; null on failure, with nothing
// held.
KelModel* readObj(const ReadSetup& setup, KelError* error) {
    Progress progress;
    progress.options = setup.options;
    progress.total = 2 * setup.input->total;
    unsigned long long total = setup.input->total;
    size_t chunks = size_t(total / (setup.chunk ? setup.chunk : 1)) + 1;
    KelModel* model = newModel(setup.name, error);
    bool read = false;
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

// Reads input opened (or not) with `status` into a new model.
KelModel* loadObj(KelChunks* chunks, int status, const char* name, size_t chunk, const KelReadOptions* options,
                  KelError* error) {
    KelError local;
    if (!error) error = &local;
    *error = {};
    if (status == KEL_ERROR_OPEN) {
        kelSetError(error, KEL_ERROR_OPEN, 0, "kelReadOBJ() failed: can't open data file \"%s\".", name);
        return nullptr;
    }
    if (status == KEL_ERROR_MEMORY) {
        kelSetMemoryError(error, chunk, 1);
        return nullptr;
    }
    static const KelReadOptions defaults = {};
    ReadSetup setup = {name, chunk, options ? options : &defaults, chunks};
    chunks->copied = setup.options->copyInput != 0;
    KelModel* model = nullptr;
    if (chunks->seekable) {
        model = readObj(setup, error);
        kelCloseChunks(chunks);
        return model;
    }
    // A pipe is read whole into the buffer (the only chunk it gives) and
    // then read from there like input in memory.
    KelChunks memory;
    if (!kelNextChunk(chunks) && chunks->error) {
        inputError(error, name, *chunks, chunks->error);
    } else if (kelOpenMemoryChunks(chunks->data, chunks->size, chunk, &memory) != KEL_OK) {
        kelSetMemoryError(error, chunk, 1);
    } else {
        setup.input = &memory;
        model = readObj(setup, error);
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
        fprintf(error.code == KEL_ERROR_STATEMENT ? stdout : stderr, "%s\n", error.message);
        exit(1);
    }
    return model;
}
