// The OBJ reader's first pass: the input split at statement starts into
// ranges, each counted on a thread of its own, then the ranges merged in
// file order into one plan (libraries read, groups created in the order
// they first appear), each group's list made at its size and each chunk
// given the material in force where it starts.
#include <cassert>
#include <new>

#include "kel/obj_reader.h"
#include "kel/obj_threads.h"

namespace kelobj {
namespace {

// The ranges of a first pass; frees them itself.
struct CountedRanges {
    CountedRange* items = nullptr;  // `count` constructed
    size_t count = 0;

    CountedRanges() = default;
    ~CountedRanges() {
        for (size_t i = 0; i < count; i++) items[i].~CountedRange();
        free(items);
    }
    CountedRanges(const CountedRanges&) = delete;
    CountedRanges& operator=(const CountedRanges&) = delete;
};

// Splits the input into at most `pieces` ranges that start at statement
// starts. False, with the error set, when out of memory.
bool splitInput(const ReadSetup& setup, size_t pieces, CountedRanges* ranges, KelError* error) {
    unsigned long long total = setup.input->total;
    if (!(ranges->items = static_cast<CountedRange*>(kelTryAlloc(pieces, sizeof(CountedRange)))))
        return kelSetMemoryError(error, pieces, sizeof(CountedRange)), false;
    for (size_t i = 0; i < pieces; i++) {
        unsigned long long begin = i ? kelFindStatementStart(setup.input, total / pieces * i) : 0;
        size_t count = ranges->count;
        if (count && begin <= ranges->items[count - 1].begin) continue;
        if (begin >= total && count) break;
        if (count) ranges->items[count - 1].end = begin;
        new (&ranges->items[ranges->count++]) CountedRange();
        ranges->items[count].begin = begin;
    }
    ranges->items[ranges->count - 1].end = total;
    return true;
}

// Whether the range's chunks cover it, one after the other: a range of a
// file cut short while it was counted ends early.
bool coversRange(const CountedRange& range) {
    unsigned long long at = range.begin;
    for (size_t i = 0; i < range.plan.numchunks; i++) {
        if (range.plan.chunks[i].offset != at) return false;
        at += range.plan.chunks[i].size;
    }
    return at == range.end;
}

// Appends the range's chunks and spans to `plan`: counts made absolute,
// groups made the model's (`groups`), the group in force at the range's
// start (`carried`) put in, and a group's spans within one chunk made one.
// A range whose chunks do not cover it fails the read as changed.
bool appendPlan(const ReadSetup& setup, Plan* plan, KelNameIndex* groups, CountedRange& range, KelGroup* carried,
                const unsigned base[7], KelError* error) {
    if (!coversRange(range)) return changedError(error, setup.name), false;
    for (size_t i = 0; i < range.plan.numchunks; i++) {
        ChunkPlan& from = range.plan.chunks[i];
        ChunkPlan* c = addChunk(plan, from.offset, from.size, error);
        if (!c) return false;
        c->vertices = from.vertices + base[0], c->normals = from.normals + base[1];
        c->texcoords = from.texcoords + base[2], c->triangles = from.triangles + base[3];
        c->objects = from.objects + base[4], c->lines = from.lines + base[5], c->points = from.points + base[6];
        c->lastSmoothing = from.lastSmoothing, c->smoothingSet = from.smoothingSet, c->marked = from.marked;
        c->lastMaterial = from.lastMaterial;
        from.lastMaterial = nullptr;  // now the plan's
        const GroupSpan* spans = range.plan.spans + from.firstSpan;
        for (size_t k = 0; k < from.numSpans; k++) {
            const char* name = (spans[k].group ? spans[k].group : carried)->name;
            GroupSpan* span = spanInChunk(plan, plan->numchunks - 1, kelNameSlot(groups, name), error);
            if (!span) return false;
            span->count += spans[k].count;
        }
    }
    return true;
}

// Puts the ranges together in file order, as one pass in order would have
// left the model: the libraries read (up to a range's error), the groups
// created in the order they first appear, the plan of every chunk.
bool mergeRanges(const ReadSetup& setup, CountedRanges& ranges, KelModel* model, Plan* plan, KelNameIndex* groups,
                 MaterialIndex* materials, KelError* error) {
    KelNameSlot* first = findOrAddGroup(model, groups, "default", error);
    if (!first) return false;
    KelGroup* carried = first->group;
    unsigned base[7] = {0, 0, 0, 0, 0, 0, 0};  // vertices, normals, texcoords, triangles, objects, lines, points
    for (size_t i = 0; i < ranges.count; i++) {
        CountedRange& range = ranges.items[i];
        assert(i == 0 || ranges.items[i - 1].end == range.begin);
        for (size_t k = 0; k < range.numlibraries; k++) {
            if (range.error.code != KEL_OK && range.libraries[k].offset >= range.errorOffset) break;
            KelError missing;
            LibraryRead read = readLibrary(setup, model, materials, range.libraries[k], &missing, error);
            if (read == LIBRARY_FAILED) return false;
            if (read == LIBRARY_MISSING && !useDefaultMaterial(setup, model, materials, missing, error)) return false;
        }
        if (range.error.code != KEL_OK) return *error = range.error, false;
        // The range's groups, oldest first: its list, newest first, turned round.
        KelGroup* oldest = nullptr;
        for (KelGroup *g = range.local->groups, *next; g; g = next) next = g->next, g->next = oldest, oldest = g;
        range.local->groups = oldest;
        for (KelGroup* g = oldest; g; g = g->next)
            if (!findOrAddGroup(model, groups, g->name, error)) return false;
        if (!appendPlan(setup, plan, groups, range, carried, base, error)) return false;
        if (range.last) carried = kelNameSlot(groups, range.last->name)->group;
        base[0] += range.local->numvertices, base[1] += range.local->numnormals;
        base[2] += range.local->numtexcoords, base[3] += range.local->numtriangles;
        base[4] += range.numobjects, base[5] += range.numlines, base[6] += range.numpoints;
        plan->smoothing = plan->smoothing || range.plan.smoothing;
    }
    model->numvertices = base[0], model->numnormals = base[1], model->numtexcoords = base[2];
    model->numtriangles = base[3];
    model->numobjects = base[4], model->numlines = base[5], model->numpoints = base[6];
    return true;
}

// Gives each chunk the material and smoothing group in force where it
// starts: those of the last usemtl and "s" before it.
void planChunkMaterials(Plan* plan, const MaterialIndex& materials) {
    unsigned material = 0, smoothing = 0;
    for (size_t i = 0; i < plan->numchunks; i++) {
        ChunkPlan& c = plan->chunks[i];
        c.material = material;
        c.smoothing = smoothing;
        if (c.smoothingSet) smoothing = c.lastSmoothing;
        if (!c.lastMaterial) continue;
        if (!lookupMaterial(materials, c.lastMaterial, &material)) material = 0;
    }
}

}  // namespace

// Threads take ranges in turn, four for each thread, so that one slowed by
// other work on the machine holds the pass up less.
bool firstPass(const ReadSetup& setup, Progress* progress, KelModel* model, Plan* plan, KelNameIndex* groups,
               MaterialIndex* materials, KelError* error) {
    assert(plan->numchunks == 0 && plan->numspans == 0);
    unsigned long long total = setup.input->total;
    size_t chunks = size_t(total / (setup.chunk ? setup.chunk : 1)) + 1;
    unsigned threads = threadCount(setup.options, total, chunks);
    size_t pieces = threads == 1 ? 1 : 4 * size_t(threads);
    if (pieces > chunks) pieces = chunks;
    CountedRanges ranges;
    if (!splitInput(setup, pieces, &ranges, error)) return false;
    std::atomic<size_t> nextRange{0};
    onThreads(progress, threads < ranges.count ? threads : unsigned(ranges.count), [&](unsigned thread) {
        for (size_t i; (i = nextRange++) < ranges.count && !progress->cancelled;)
            countRange(setup, progress, &ranges.items[i], thread == 0);
    });
    if (progress->cancelled || !mergeRanges(setup, ranges, model, plan, groups, materials, error)) return false;
    if (!makeGroupLists(model, plan, error)) return false;
    planChunkMaterials(plan, *materials);
    return true;
}

}  // namespace kelobj
