// The OBJ reader's counting stage, the first pass over one range of the
// input: each chunk planned and counted (entries, triangles per group
// span), groups created, libraries and each chunk's last material noted.
#include <cassert>
#include <cstdint>

#include "kel/obj_reader.h"
#include "kel/obj_refs.h"

namespace kelobj {
namespace {

// Counts one range's chunks on one thread.
struct CountReader {
    const char* name;   // the input as messages name it
    KelError* error;    // the range's error
    KelChunks chunks;   // the range's chunks
    const char* begin;  // the chunk being counted
    const char* end;
    CountedRange* range;
    KelModel* local;                                 // the range's model: its groups, and its triangle count
    unsigned numvertices, numnormals, numtexcoords;  // entries counted in the range
    unsigned numobjects, numlines, numpoints;        // ... objects, line segments and points
    KelGroup* group;                 // current group (of `local`); null for the one in force at the start
    GroupSpan* span;                 // current group's span in the chunk
    unsigned long long errorOffset;  // where an unknown statement stands
};

// A face: references counted, one token each, across white space of any
// kind until a token that does not begin with a number (not consumed: its
// position is returned). N references make a fan of N - 2 triangles; one or
// two make one triangle.
const char* countFace(CountReader& r, const char* p) {
    const char* end = r.end;
    p = kelSkipSpace(p, end);
    unsigned references = 0;
    for (; startsIndex(p, end); p = kelSkipSpace(p, end)) {
        p = kelTokenEnd(p, end);
        references++;
    }
    unsigned triangles = references == 0 ? 0 : references < 3 ? 1 : references - 2;
    r.local->numtriangles += triangles;
    r.span->count += triangles;
    return p;
}

// "v", "vn" and "vt" are counted and the rest of the line skipped; any other
// statement that starts with 'v' ends the read.
const char* countVertex(CountReader& r, const char* p, const char* tokenEnd) {
    size_t length = size_t(tokenEnd - p);
    if (length == 1) {
        r.numvertices++;
    } else if (length == 2 && p[1] == 'n') {
        r.numnormals++;
    } else if (length == 2 && p[1] == 't') {
        r.numtexcoords++;
    } else {
        if (r.error->code == KEL_OK) r.errorOffset = r.chunks.offset + size_t(p - r.chunks.data);
        unknownStatementError(r.error, r.chunks, p, tokenEnd);
        return r.end;
    }
    return kelSkipLine(tokenEnd, r.end);
}

// "g": the group's name is the rest of the line with the blanks around it
// dropped (statementName). The group is created when new and made current.
const char* countGroup(CountReader& r, const char* tokenEnd) {
    const char *nameEnd, *next;
    const char* start = statementName(tokenEnd, r.end, &nameEnd, &next);
    NameCopy copy(r.error, start, nameEnd);
    if (!copy.text) return r.end;
    KelNameSlot* slot = findOrAddGroup(r.local, &r.range->groups, copy.text, r.error);
    if (slot) r.group = slot->group;
    Plan* plan = &r.range->plan;
    if (!slot || !(r.span = spanInChunk(plan, plan->numchunks - 1, slot, r.error))) return r.end;
    return next;
}

// "o", "s", "l" and "p": objects, line segments and points are counted;
// the chunk keeps the smoothing group its last "s" gives, which is the one
// in force where the next chunk starts.
const char* countOther(CountReader& r, const char* p, const char* tokenEnd) {
    const char* next;
    if (isKeyword(p, tokenEnd, 'o')) {
        r.numobjects++;
        return kelSkipLine(tokenEnd, r.end);
    }
    if (isKeyword(p, tokenEnd, 's')) {
        Plan* plan = &r.range->plan;
        ChunkPlan* chunk = &plan->chunks[plan->numchunks - 1];
        chunk->lastSmoothing = smoothingGroup(tokenEnd, r.end, &next);
        chunk->smoothingSet = true;
        if (chunk->lastSmoothing) plan->smoothing = true;
        return next;
    }
    if (isKeyword(p, tokenEnd, 'l') || isKeyword(p, tokenEnd, 'p')) {
        unsigned references = 0;
        next = lineReferences(tokenEnd, r.end, [&](const Reference&) { references++; });
        if (*p == 'p')
            r.numpoints += references;
        else if (references >= 2)
            r.numlines += references - 1;
        return next;
    }
    return kelSkipLine(tokenEnd, r.end);  // '#' comments and everything unsupported
}

// "mtllib": the library is noted, to be read once the pass is over.
void noteLibrary(CountReader& r, const char* name, size_t length, const char* at) {
    CountedRange* range = r.range;
    if (!makeRoom(&range->libraries, range->numlibraries, &range->librariesCapacity, r.error)) return;
    char* copy = kelTryCopyName(name, length);
    if (!copy) return kelSetMemoryError(r.error, length + 1, 1);
    range->libraries[range->numlibraries++] = {copy, r.chunks.offset + size_t(at - r.chunks.data)};
}

// "usemtl": the chunk keeps the name of its last one, which gives the
// material in force where the next chunk starts.
void noteLastMaterial(CountReader& r, const char* name, size_t length) {
    char* copy = kelTryCopyName(name, length);
    if (!copy) return kelSetMemoryError(r.error, length + 1, 1);
    ChunkPlan* chunk = &r.range->plan.chunks[r.range->plan.numchunks - 1];
    free(chunk->lastMaterial);
    chunk->lastMaterial = copy;
}

// "mtllib": every word after the keyword names a library; "usemtl": the
// rest of the line names the material (statementName). Other statements
// that start with 'm' or 'u' are skipped.
const char* countMaterialStatement(CountReader& r, const char* p, const char* tokenEnd) {
    if (kelIsWord(p, tokenEnd, "usemtl")) {
        const char *nameEnd, *next;
        const char* name = statementName(tokenEnd, r.end, &nameEnd, &next);
        if (name != nameEnd) noteLastMaterial(r, name, size_t(nameEnd - name));
        return next;
    }
    bool library = kelIsWord(p, tokenEnd, "mtllib");
    const char* wordEnd = tokenEnd;
    while (library && r.error->code == KEL_OK) {
        const char* word = kelLineWord(wordEnd, r.end, &wordEnd);
        if (word == wordEnd) break;
        noteLibrary(r, word, size_t(wordEnd - word), p);
    }
    return kelSkipLine(wordEnd, r.end);
}

#if defined(__SSE2__) && !defined(KEL_NO_SIMD)
// The bits set in v (the build does not assume a popcnt instruction).
inline unsigned bitCount(uint64_t v) {
    v = v - ((v >> 1) & 0x5555555555555555ull);
    v = (v & 0x3333333333333333ull) + ((v >> 2) & 0x3333333333333333ull);
    v = (v + (v >> 4)) & 0x0F0F0F0F0F0F0F0Full;
    return unsigned((v * 0x0101010101010101ull) >> 56);
}

// Counts the common statements, whole lines at a time: "v ", "vt ", "vn ",
// comments, and faces whose references all start with a digit and that do
// not go on to the next line. Line ends and token starts come from the
// masks of 64 bytes at a time, so no line waits for the scan of the one
// before it. p is a statement start (after white space); returns the first
// statement left to the reader of single statements, which counts it as
// it always would.
template <KelTextMasks (*masksAt)(const char*, bool)>
__attribute__((always_inline)) inline const char* countCommonLinesWith(CountReader& r, const char* p) {
    enum { VERTEX, NORMAL, TEXCOORD, FACE, COMMENT };
    const char* end = r.end;
    const char* base = nullptr;  // the masks are those of [base, base + 64)
    KelTextMasks masks = {};
    unsigned counts[4] = {0, 0, 0, 0};  // vertices, normals, texture coordinates, triangles
    for (;;) {
        int kind;
        if (p[0] == 'v' && p[1] == ' ')
            kind = VERTEX;
        else if (p[0] == 'v' && (p[1] == 'n' || p[1] == 't') && p[2] == ' ')
            kind = p[1] == 'n' ? NORMAL : TEXCOORD;
        else if (p[0] == 'f' && p[1] == ' ')
            kind = FACE;
        else if (p[0] == '#')
            kind = COMMENT;
        else
            break;
        // Windows follow each other 64 bytes apart, so the next one's masks
        // do not wait for this line's end. As each is taken, the input 2 KiB
        // further on is asked for: a mapped file's chunk comes from memory,
        // not from a copy in the cache, and the processor's own prefetching
        // stops at the end of each page (on two threads, 211 MB counted in 33
        // ms instead of 43).
        if (!base) masks = masksAt(base = p, true);
        while (p - base >= 64) __builtin_prefetch(base + 64 + 2048), masks = masksAt(base += 64, masks.spaceAtEnd);
        // Token starts up to the line end, not counting the keyword's.
        uint64_t from = (~0ull << (p - base)) << 1;
        unsigned tokens = 0;
        uint64_t nondigits = 0;
        const char* lineEnd = end;
        for (;;) {
            uint64_t newline = masks.newlines & from;
            uint64_t before = newline ? (newline & (0 - newline)) - 1 : ~0ull;
            tokens += bitCount(masks.tokens & from & before);
            nondigits |= masks.nondigits & from & before;
            if (newline) {
                lineEnd = base + __builtin_ctzll(newline);
                break;
            }
            if ((base += 64) >= end) break;
            __builtin_prefetch(base + 2048);
            masks = masksAt(base, masks.spaceAtEnd);
            from = ~0ull;
        }
        if (lineEnd >= end) break;  // the chunk's last line: no line end of its own
        const char* next = lineEnd + 1;
        if (kind == FACE) {
            // A face goes on across white space while tokens start with a number.
            if (nondigits || kelIsSpace(*next) || kelIsDigit(*next) || *next == '-' || *next == '+') break;
            counts[3] += tokens == 0 ? 0 : tokens < 3 ? 1 : tokens - 2;
        } else if (kind != COMMENT) {
            counts[kind]++;
        }
        p = next;
    }
    r.numvertices += counts[0], r.numnormals += counts[1], r.numtexcoords += counts[2];
    r.local->numtriangles += counts[3];
    r.span->count += counts[3];
    return p;
}

__attribute__((target("avx2"))) const char* countCommonLinesAvx2(CountReader& r, const char* p) {
    return countCommonLinesWith<kelTextMasksAvx2>(r, p);
}

// Processors with AVX2 (most x86-64 ones since 2013) take the masks 32
// bytes at a time: the first pass then takes about a third less time.
const char* countCommonLines(CountReader& r, const char* p) {
    static const bool avx2 = __builtin_cpu_supports("avx2");
    return avx2 ? countCommonLinesAvx2(r, p) : countCommonLinesWith<kelTextMasks>(r, p);
}
#endif

// The statements of one chunk. "mtllib", "usemtl", "o", "s", "l" and "p"
// are matched whole; the others by their first letter ("v" by its first
// two). A
// statement that ends the read returns `end`.
void countStatements(CountReader& r) {
    const char* end = r.end;
    const char* p = kelSkipSpace(r.begin, end);
    while (p < end) {
#if defined(__SSE2__) && !defined(KEL_NO_SIMD)
        if ((p = kelSkipSpace(countCommonLines(r, p), end)) >= end) break;
#endif
        // Keywords are mostly one letter followed by a blank.
        const char* tokenEnd = kelIsSpace(p[1]) ? p + 1 : kelTokenEnd(p + 1, end);
        switch (*p) {
        case 'v': p = countVertex(r, p, tokenEnd); break;
        case 'f': p = countFace(r, tokenEnd); break;
        case 'g': p = countGroup(r, tokenEnd); break;
        case 'm':
        case 'u': p = countMaterialStatement(r, p, tokenEnd); break;
        default: p = countOther(r, p, tokenEnd); break;
        }
        p = kelSkipSpace(p, end);
    }
}

// Starts the plan of the chunk just handed out: where it lies, the counts
// before it and the group in force where it starts.
bool planChunk(CountReader& r) {
    Plan* plan = &r.range->plan;
    ChunkPlan* chunk = addChunk(plan, r.chunks.offset, r.chunks.split, r.error);
    if (!chunk) return false;
    chunk->vertices = r.numvertices, chunk->normals = r.numnormals, chunk->texcoords = r.numtexcoords;
    chunk->triangles = r.local->numtriangles;
    chunk->objects = r.numobjects, chunk->lines = r.numlines, chunk->points = r.numpoints;
    chunk->marked = r.chunks.marked;
    KelNameSlot* slot = r.group ? kelNameSlot(&r.range->groups, r.group->name) : nullptr;
    r.span = spanInChunk(plan, plan->numchunks - 1, slot, r.error);
    return r.span != nullptr;
}

}  // namespace

CountedRange::~CountedRange() {
    if (local) kelDelete(local);
    kelFreeNameIndex(&groups);
    for (size_t i = 0; i < numlibraries; i++) free(libraries[i].name);
    free(libraries);
}

void countRange(const ReadSetup& setup, Progress* progress, CountedRange* range, bool reports) {
    CountReader r = {};
    r.name = setup.name;
    r.error = &range->error;
    r.range = range;
    r.errorOffset = range->begin;
    if (!(r.local = range->local = static_cast<KelModel*>(kelTryAlloc(1, sizeof(KelModel)))))
        return kelSetMemoryError(r.error, 1, sizeof(KelModel));
    if (kelOpenRangeChunks(setup.input, range->begin, range->end, setup.chunk, &r.chunks) != KEL_OK)
        return kelSetMemoryError(r.error, setup.chunk, 1);
    ChunkWatch watch = {progress, 1, reports, range->begin};
    watchChunks(&r.chunks, &watch);
    while (kelNextChunk(&r.chunks)) {
        if (!planChunk(r)) break;
        r.begin = r.chunks.data + r.chunks.start;
        r.end = r.chunks.data + r.chunks.split;
        countStatements(r);
        unsigned long long done = countBytesTo(&watch, r.chunks.offset + r.chunks.split);
        if (range->error.code != KEL_OK || progress->cancelled || (reports && !reportProgress(progress, done))) break;
    }
    if (r.chunks.error) inputError(r.error, r.name, r.chunks, r.chunks.error);
    range->errorOffset = range->error.code == KEL_ERROR_STATEMENT ? r.errorOffset : r.chunks.offset;
    range->last = r.group;
    r.local->numvertices = r.numvertices;
    r.local->numnormals = r.numnormals;
    r.local->numtexcoords = r.numtexcoords;
    range->numobjects = r.numobjects, range->numlines = r.numlines, range->numpoints = r.numpoints;
    kelCloseChunks(&r.chunks);
}

}  // namespace kelobj
