// The OBJ reader's second pass: every table made at the size the first pass
// counted, then the planned chunks filled on as many threads as help, each
// chunk into the part of every table its plan gives it, so the model is the
// same, bit for bit, on any number of threads.
#include <cassert>
#include <cstdint>

#include "kel/obj_reader.h"
#include "kel/obj_threads.h"

namespace kelobj {
namespace {

// The chunks left to fill, split into one run per thread, each [front,
// back). A thread fills its own run front to back; once it is empty, it
// takes from the back of the longest run left. So each thread writes the
// tables in a stretch of its own: threads that filled neighbouring chunks,
// and so the same new pages, slowed each other down by up to a fifth.
struct ChunkRuns {
    size_t front[kMaxThreads], back[kMaxThreads];
    unsigned count;
};

// What the threads of the second pass share.
struct FillShared {
    std::mutex lock;
    ChunkRuns runs = {};                       // under lock
    std::atomic<size_t> firstError{SIZE_MAX};  // the chunk of `error`
    KelError error = {};                       // the error of the earliest chunk that failed, under lock
};

// The next chunk for `thread` to fill (see ChunkRuns), or SIZE_MAX when
// none is left.
size_t takeChunk(FillShared* shared, unsigned thread) {
    std::lock_guard<std::mutex> hold(shared->lock);
    ChunkRuns& runs = shared->runs;
    if (runs.front[thread] < runs.back[thread]) return runs.front[thread]++;
    unsigned longest = 0;
    for (unsigned k = 1; k < runs.count; k++)
        if (runs.back[k] - runs.front[k] > runs.back[longest] - runs.front[longest]) longest = k;
    return runs.front[longest] < runs.back[longest] ? --runs.back[longest] : SIZE_MAX;
}

// Fills chunk `index`, loaded at [r.begin, r.end): its entries, triangles
// and group spans where the plan puts them. A chunk that does not fill
// exactly what the first pass counted changed in between.
void fillChunk(FillReader& r, size_t index) {
    const Plan* plan = r.plan;
    const KelModel* m = r.model;
    ChunkPlan* c = &plan->chunks[index];
    const ChunkPlan* next = index + 1 < plan->numchunks ? c + 1 : nullptr;
    r.current = c;
    r.numvertices = c->vertices, r.vertexRoom = next ? next->vertices : m->numvertices;
    r.numnormals = c->normals, r.normalRoom = next ? next->normals : m->numnormals;
    r.numtexcoords = c->texcoords, r.texcoordRoom = next ? next->texcoords : m->numtexcoords;
    r.triangle = c->triangles, r.triangleRoom = next ? next->triangles : m->numtriangles;
    r.numobjects = c->objects, r.objectRoom = next ? next->objects : m->numobjects;
    r.numlines = c->lines, r.lineRoom = next ? next->lines : m->numlines;
    r.numpoints = c->points, r.pointRoom = next ? next->points : m->numpoints;
    assert(r.numvertices <= r.vertexRoom && r.numnormals <= r.normalRoom && r.numtexcoords <= r.texcoordRoom &&
           r.triangle <= r.triangleRoom && r.numobjects <= r.objectRoom && r.numlines <= r.lineRoom &&
           r.numpoints <= r.pointRoom);
    r.material = c->material;
    r.smoothing = c->smoothing;
    r.span = &plan->spans[c->firstSpan];
    startChunkGroups(r.chunkGroups, plan, c);
    fillStatements(&r);
    bool complete = r.numvertices == r.vertexRoom && r.numnormals == r.normalRoom && r.numtexcoords == r.texcoordRoom &&
                    r.triangle == r.triangleRoom && r.numobjects == r.objectRoom && r.numlines == r.lineRoom &&
                    r.numpoints == r.pointRoom;
    if (!complete) changedError(r.error, r.name);
    // Each triangle stored went to a span with room, and the chunk's spans
    // have room for its triangles alone: all its triangles stored, every
    // span is full.
    for (size_t i = 0; i < c->numSpans; i++)
        assert(!complete || plan->spans[c->firstSpan + i].filled == plan->spans[c->firstSpan + i].count);
}

// One thread of the second pass: fills chunks until none is left or the
// read is cancelled, skipping those after one that failed. Thread 0, the
// calling thread, also reports progress.
void fillChunks(const ReadSetup& setup, Progress* progress, FillShared* shared, const FillReader& start,
                unsigned thread) {
    KelError error = {};
    ChunkGroups groups;
    KelChunks chunks = plannedChunkReader(*setup.input);
    FillReader r = start;
    r.error = &error;
    r.chunks = &chunks;
    r.chunkGroups = &groups;
    ChunkWatch watch = {progress, 1, thread == 0, 0};
    watchChunks(&chunks, &watch);
    for (size_t i; (i = takeChunk(shared, thread)) != SIZE_MAX;) {
        if (progress->cancelled) break;
        if (i > shared->firstError) continue;
        const ChunkPlan& c = r.plan->chunks[i];
        watch.countedTo = c.offset;
        chunks.plain = !c.marked;  // the first pass found no line end to rewrite in it
        if (loadPlannedChunk(&chunks, c.offset, c.size, r.name, &error)) {
            r.begin = chunks.data + chunks.start;
            r.end = chunks.data + chunks.split;
            fillChunk(r, i);
        }
        if (error.code != KEL_OK) {
            std::lock_guard<std::mutex> hold(shared->lock);
            if (i < shared->firstError) shared->error = error, shared->firstError = i;
            error = {};
        }
        unsigned long long done = countBytesTo(&watch, c.offset + c.size);
        if (thread == 0 && !reportProgress(progress, done)) break;
    }
    kelCloseChunks(&chunks);
}

}  // namespace

bool secondPass(const ReadSetup& setup, Progress* progress, KelModel* model, Plan* plan, MaterialIndex* materials,
                KelError* error) {
    if (!allocateCountedTables(model, plan->smoothing, error)) return false;
    FillShared shared;
    size_t chunks = plan->numchunks;
    unsigned threads = threadCount(setup.options, setup.input->total, chunks);
    shared.runs.count = threads;
    for (unsigned k = 0; k < threads; k++) {
        shared.runs.front[k] = chunks * k / threads;
        shared.runs.back[k] = chunks * (k + 1) / threads;
    }
    ColorTable colors;
    FillReader start = {};
    start.room = ROOM_COUNTED;
    start.model = model;
    start.name = setup.name;
    start.plan = plan;
    start.colors = &colors;
    start.materials = materials;
    start.indexDigits = 1;
    unsigned long long before = progress->bytesDone;
    onThreads(progress, threads, [&](unsigned thread) { fillChunks(setup, progress, &shared, start, thread); });
    model->colors = colors.colors;
    if (shared.firstError != SIZE_MAX) *error = shared.error;
    if (error->code != KEL_OK || progress->cancelled) return false;
    unsigned long long planned = 0;
    for (size_t i = 0; i < chunks; i++) planned += plan->chunks[i].size;
    assert(progress->bytesDone - before == planned);  // every planned byte counted once
    (void)before, (void)planned;
    finishTables(model);
    finishMaterials(setup, *plan, *materials);
    return reportProgress(progress, ~0ull);
}

}  // namespace kelobj
