// OBJ reader. A first pass over the input counts what it holds, creates the
// groups and reads the material library, every table is then allocated once
// at its final size, and a second pass fills them. Both passes read the
// input in chunks of whole statements and find statements the same way; the
// second never writes past what the first counted, even when the file
// changes between them. Errors travel back by return value: the reader
// records the first one in file order, stops, and frees everything it built.
//
// Both passes run on several threads. The first splits the input at
// statement starts into one range per thread; each range is counted on its
// own, and the ranges are then put together in file order. What it learns
// of each chunk (its place in the input, the counts before it, its groups'
// triangle counts, the material in force where it starts) lets the second
// pass fill the chunks in any order, each into its own part of every table,
// so the model is the same, bit for bit, on any number of threads.
//
// A read on one thread takes one pass instead, the second pass's reading
// with tables that grow as they fill. What that pass cannot read as the two
// would (an index to an entry further on, a library named after a material
// was used, texture coordinates or normals only after faces that name them,
// any error) makes it stop; the input is then read again in two passes, so
// the model, or the error, is the same either way.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "kel/kel_internal.h"

namespace {

constexpr unsigned kMaxThreads = 64;

// How a face writes its vertex references, decided by its first one: bit 0
// for texture coordinates, bit 1 for normals.
enum FaceForm { FORM_V = 0, FORM_VT = 1, FORM_VN = 2, FORM_VTN = 3 };

// One group's triangles within one chunk.
struct GroupSpan {
    KelGroup* group;
    unsigned first;     // where they start in group->triangles (set after the first pass)
    unsigned count;     // how many the first pass counted: the second pass's room
    unsigned filled;    // how many the second pass stored
    unsigned material;  // the material the chunk last gave the group, when `assigned`
    bool assigned;
};

// What the first pass learns of a chunk, so that the second can fill the
// chunks in any order, on several threads.
struct ChunkPlan {
    unsigned long long offset;  // the chunk is the input's bytes [offset, offset + size)
    size_t size;
    unsigned vertices, normals, texcoords, triangles;  // entries before the chunk
    size_t firstSpan, numSpans;  // its groups' spans; the first is the group in force where it starts
    char* lastMaterial;          // owned: the name its last usemtl gives, or null
    unsigned material;           // the material in force where it starts (set after the first pass)
    bool unknownMaterial;        // the second pass met a usemtl naming no material
};

struct Plan {
    ChunkPlan* chunks;  // owned
    size_t numchunks, chunksCapacity;
    GroupSpan* spans;  // owned
    size_t numspans, spansCapacity;
};

// An mtllib statement met in the first pass; the library is read once the
// pass is over, in file order.
struct LibraryNote {
    char* name;                 // owned
    unsigned long long offset;  // where the statement stands in the input
};

// A part of the input that one thread reads in the first pass, with what it
// learns there: its chunks' plans (counts relative to its start), the groups
// it creates (in a model of its own) and the libraries it names. A span or
// `last` group that is null stands for the group in force where it starts.
struct Range {
    unsigned long long begin, end;
    KelModel* local;  // owned: the range's counts and groups, newest first
    Plan plan;
    LibraryNote* libraries;  // owned
    size_t numlibraries, librariesCapacity;
    KelNameIndex groups;             // `local`'s groups
    KelGroup* last;                  // the group in force at its end (a group of `local`), or null
    KelError error;                  // its first error
    unsigned long long errorOffset;  // where that error stands
};

// The second pass's chunks, split into one run per thread, each [front,
// back). A thread fills its own run front to back; once it is empty, it
// takes from the back of the longest run left. So each thread writes the
// tables in a stretch of its own: threads that filled neighbouring chunks,
// and so the same new pages, slowed each other down by up to a fifth.
struct ChunkRuns {
    size_t front[kMaxThreads], back[kMaxThreads];
    unsigned count;
};

// What the threads of both passes share.
struct Shared {
    std::mutex lock;
    std::atomic<float*> colors{nullptr};       // made at the first vertex colour, under lock
    std::atomic<size_t> next{0};               // the next range to read (first pass)
    ChunkRuns runs = {};                       // the chunks left to fill (second pass), under lock
    std::atomic<size_t> firstError{SIZE_MAX};  // the chunk of `error`
    std::atomic<unsigned long long> done{0};   // input bytes read, both passes together
    std::atomic<bool> cancelled{false};
    unsigned long long shown = 0;  // the last progress reported: a read in two passes after one restarts `done`
    KelError error;                // the error of the earliest chunk that failed, under lock
};

// A reader of one pass, or of the second pass's chunks on one thread.
struct ObjReader {
    KelModel* model;                // owned until the read succeeds
    const char* name;               // the input as messages name it
    size_t chunk;                   // chunk size, for the material library too
    const KelReadOptions* options;  // never null
    KelError* error;                // never null; only its first error is kept
    KelChunks chunks;               // the whole input, or this thread's range (first pass) or chunk (second)
    const char* begin;              // the chunk being read
    const char* end;
    Plan* plan;
    Shared* shared;
    Range* range;                    // the range being read (first pass)
    unsigned long long errorOffset;  // where an unknown statement stands (first pass)
    // Entries read so far: the first pass's counts, or the second pass's
    // last filled index, and the room the chunk has (second pass).
    unsigned numvertices, numnormals, numtexcoords;
    unsigned vertexEnd, normalEnd, texcoordEnd;
    unsigned triangle, triangleEnd;  // the chunk's next and end triangle slots (second pass)
    KelGroup* group;                 // current group (first pass; null for the one in force where the range starts)
    GroupSpan* span;                 // current group's span in the chunk; null for one the first pass did not see
    // The model's groups by name, each with its span in the chunk that last
    // named it; in the second pass, the groups this thread has met.
    KelNameIndex* groups;
    KelNameIndex* materials;  // the model's material table by name
    size_t spansMet;          // the chunk's spans whose groups the second pass has met
    bool spansNoted;          // ... and noted in `groups`, once the chunk names a group again
    ChunkPlan* current;       // the chunk being read
    unsigned material;        // current material (second pass)
    bool libraryMissing;      // an optional library could not be opened: usemtl takes "default"
    // One pass (see onePass): the tables grow, and vertexEnd, normalEnd,
    // texcoordEnd, triangleEnd and each span's count are their room.
    bool onePass;
    bool needsTwoPasses;  // the one pass met what only two passes read as they should
    bool usedMaterial;    // a usemtl was read
    bool unresolved;      // a face named texture coordinates or normals while there were none
    int indexDigits;      // digits of the last index read, 1 to 7: the next is likely as long
};

unsigned long lineOf(const ObjReader& r, const char* at) { return kelChunkLine(&r.chunks, at); }

// --- Vertex references ----------------------------------------------------------
// A reference is one token: a vertex index, then optionally '/' and a
// texture-coordinate index, then '/' and a normal index ("v", "v/t", "v//n",
// "v/t/n"). Indices are integers as scanf's %d reads them; negative ones
// count back from the latest entry read.

// Whether a reference starts at p.
inline bool startsIndex(const char* p, const char* end) {
    if (p < end && kelIsDigit(*p)) return true;
    return p + 1 < end && (*p == '-' || *p == '+') && kelIsDigit(p[1]);
}

// The integer at p (optional sign, digits), saturating far beyond any table
// size. Returns p when there is none (*out then 0).
inline const char* parseIndex(const char* p, const char* end, long long* out) {
    *out = 0;
    if (!startsIndex(p, end)) return p;
    bool negative = *p == '-';
    if (!kelIsDigit(*p)) p++;
    int length;
    unsigned long long value = kelDigits8(p, &length);
    p += length;
    while (length == 8 && p < end) {
        uint32_t more = kelDigits8(p, &length);
        p += length;
        for (int i = 0; i < length; i++) value = value < 100000000000000ull ? value * 10 : value;
        if (value < 100000000000000ull) value += more;
    }
    *out = negative ? -(long long)value : (long long)value;
    return p;
}

// parseIndex with the common case, an unsigned index of up to 8 digits,
// read from one load. (Numbers are read a digit at a time, see
// kelParseFloat; for indices, one load measured 2 to 5% faster on the
// whole read.)
inline const char* readIndex(const char* p, const char* end, long long* out) {
    int length;
    uint32_t value = kelDigits8(p, &length);
    if (length > 0 && (length < 8 || !kelIsDigit(p[8]))) {
        *out = value;
        return p + length;
    }
    return parseIndex(p, end, out);
}

// readIndex for an index likely to have `*digits` digits, as the one
// before it had: the position after it is then p + *digits, which does not
// wait on the load of the digits, so the next index's load starts early.
// *digits becomes the count this index has.
inline const char* readIndexOfLength(const char* p, const char* end, long long* out, int* digits) {
    uint32_t value = kelDigitsOfLength(p, *digits);
    if (value != ~0u) {
        *out = value;
        return p + *digits;
    }
    const char* q = readIndex(p, end, out);
    if (q > p && q - p < 8 && kelIsDigit(*p)) *digits = int(q - p);
    return q;
}

struct Reference {
    long long index[3];  // vertex, texture coordinate, normal
    const char* at[3];   // where each index is written; null for one the token lacks
};

// The one parser of a reference: the token at p, which startsIndex accepts.
// Stores its indices by position and the face form the token writes: "//"
// anywhere makes it vertex//normal, else it is the longest of v/t/n, v/t and
// v that its numbers match. Returns the end of the token.
__attribute__((always_inline)) inline const char* parseReference(const char* p, const char* end, Reference* ref,
                                                                 FaceForm* form, int* digits) {
    ref->at[0] = p;
    ref->at[1] = ref->at[2] = nullptr;
    const char* q = readIndexOfLength(p, end, &ref->index[0], digits);
    FaceForm f = FORM_V;
    if (*q == '/') {  // the padding after a chunk makes reading at end safe
        const char* t = q + 1;
        if (*t == '/') {
            f = FORM_VN;
            q = readIndexOfLength(t + 1, end, &ref->index[2], digits);
            if (q != t + 1) ref->at[2] = t + 1;
        } else if ((q = readIndexOfLength(t, end, &ref->index[1], digits)) != t) {
            ref->at[1] = t;
            f = FORM_VT;
            const char* n = q + 1;
            const char* after;
            if (*q == '/' && (after = readIndexOfLength(n, end, &ref->index[2], digits)) != n) {
                ref->at[2] = n;
                f = FORM_VTN;
                q = after;
            }
        }
    }
    if (q < end && !kelIsSpace(*q)) {  // more in the token than a common reference holds
        const char* tokenEnd = kelTokenEnd(q, end);
        for (const char* c = p; c + 1 < tokenEnd; c++)
            if (c[0] == '/' && c[1] == '/') f = FORM_VN;
        q = tokenEnd;
    }
    *form = f;
    return q;
}

// Records that index `which` of a reference names no entry of its table.
[[gnu::cold, gnu::noinline]] unsigned outOfRange(ObjReader& r, const Reference& ref, int which) {
    static const char* const kinds[3] = {"vertex", "texture coordinate", "normal"};
    const char* written = ref.at[which];
    const char* digits = kelIsDigit(*written) ? written : written + 1;
    while (kelIsDigit(*digits)) digits++;
    unsigned long line = lineOf(r, written);
    kelSetError(r.error, KEL_ERROR_INDEX, line, "kelReadOBJ() failed: %s index %.*s out of range in \"%s\" line %lu.",
                kinds[which], int(digits - written), written, r.name, line);
    return 0;
}

// Turns index `which` of a reference into a table index; records an error
// (and returns 0) when it names no entry.
inline unsigned resolve(ObjReader& r, const Reference& ref, int which, unsigned sofar, unsigned total) {
    long long index = ref.index[which];
    if (index > 0 && index <= (long long)total) return unsigned(index);
    long long resolved = (long long)sofar + 1 + index;
    if (index < 0 && resolved >= 1) return unsigned(resolved);
    return outOfRange(r, ref, which);
}

// A face corner's table indices: vertex, texture coordinate and normal.
// Corners travel by value, so they stay in registers: copying arrays in
// memory made each 8-byte load wait on the two 4-byte stores before it.
struct Corner {
    unsigned v, t, n;
};

// The corner a reference gives a face of `form`: the members it takes from
// the reference, as table indices; the others keep their values in
// `before` (those of the face's previous reference). A texture coordinate
// or normal in a file without any reads as 0.
inline Corner resolveReference(ObjReader& r, const Reference& ref, FaceForm form, Corner before) {
    const KelModel* m = r.model;
    Corner c = before;
    c.v = resolve(r, ref, 0, r.numvertices, m->numvertices);
    if (form == FORM_V) return c;  // positions only: the commonest faces after v/t/n
    bool texture = (form & FORM_VT) && ref.at[1];
    bool normal = ref.at[2] && form == (ref.at[1] ? FORM_VTN : FORM_VN);
    if (texture && m->numtexcoords)
        c.t = resolve(r, ref, 1, r.numtexcoords, m->numtexcoords);
    else if (texture)
        r.unresolved = true;
    if (normal && m->numnormals)
        c.n = resolve(r, ref, 2, r.numnormals, m->numnormals);
    else if (normal)
        r.unresolved = true;
    return c;
}

// --- Statements ---------------------------------------------------------------------
// Each takes the position after its keyword and returns where the next
// statement may start; `fill` chooses the pass.

bool growTriangles(ObjReader& r);

__attribute__((always_inline)) inline void storeTriangle(ObjReader& r, FaceForm form, Corner a, Corner b, Corner c) {
    // Never full in the second pass, unless the file changed after the
    // first; in one pass, full until grown.
    GroupSpan* span = r.span;
    if (r.triangle == r.triangleEnd || !span || span->filled == span->count) {
        if (!r.onePass || !growTriangles(r)) return;
        span = r.span;
    }
    KelTriangle* t = &r.model->triangles[r.triangle];
    t->vindices[0] = a.v, t->vindices[1] = b.v, t->vindices[2] = c.v;
    if (form & FORM_VT) t->tindices[0] = a.t, t->tindices[1] = b.t, t->tindices[2] = c.t;
    if (form & FORM_VN) t->nindices[0] = a.n, t->nindices[1] = b.n, t->nindices[2] = c.n;
    span->group->triangles[span->first + span->filled++] = r.triangle++;
}

// A face: references, each one token, read across white space of any kind
// until a token that does not begin with a number (not consumed: its
// position is returned). N references make a fan of N - 2 triangles; one or
// two make one triangle that repeats the last reference. The first pass
// only counts the references.
const char* faceStatement(ObjReader& r, const char* p, bool fill) {
    const char* end = r.end;
    p = kelSkipSpace(p, end);
    if (!fill) {
        // The common face lines are counted by countLines; the rest one token at a time.
        unsigned references = 0;
        for (; startsIndex(p, end); p = kelSkipSpace(p, end)) {
            p = kelTokenEnd(p, end);
            references++;
        }
        unsigned triangles = references == 0 ? 0 : references < 3 ? 1 : references - 2;
        r.model->numtriangles += triangles;
        r.span->count += triangles;
        return p;
    }
    if (!startsIndex(p, end)) return p;
    if (r.onePass) {
        // Indices are checked against the entries read so far: one further
        // on makes an error, and the read goes on in two passes.
        KelModel* m = r.model;
        m->numvertices = r.numvertices, m->numnormals = r.numnormals, m->numtexcoords = r.numtexcoords;
    }
    Corner first = {0, 0, 0}, previous = {0, 0, 0}, current = {0, 0, 0};
    Reference ref;
    FaceForm form, ignored;
    int digits = r.indexDigits;
    p = parseReference(p, end, &ref, &form, &digits);
    for (int count = 1;; count++) {
        current = resolveReference(r, ref, form, current);
        if (count == 1) first = current;
        if (count >= 3) storeTriangle(r, form, first, previous, current);
        previous = current;
        p = kelSkipSpace(p, end);
        if (!startsIndex(p, end)) {
            if (count < 3) storeTriangle(r, form, first, previous, previous);
            r.indexDigits = digits;
            return p;
        }
        p = parseReference(p, end, &ref, &ignored, &digits);
    }
}

// The colour table, every entry 1, 1, 1, made by the first thread that needs
// it; null (with the error set) when out of memory.
float* makeColors(ObjReader& r) {
    std::lock_guard<std::mutex> hold(r.shared->lock);
    float* colors = r.shared->colors.load(std::memory_order_relaxed);
    if (colors) return colors;
    size_t floats = 3 * (size_t(r.onePass ? r.vertexEnd : r.model->numvertices) + 1);
    if (!(colors = static_cast<float*>(kelTryAlloc(floats, sizeof(float))))) {
        kelSetMemoryError(r.error, floats, sizeof(float));
        return nullptr;
    }
    for (size_t i = 0; i < floats; i++) colors[i] = 1;
    r.shared->colors.store(colors, std::memory_order_release);
    return colors;
}

// The numbers of a vertex: x, y and z as kelReadNumbers reads them, then, on
// the line of z, either a w (ignored) or exactly three more numbers, the
// colour scanners and exporters write. The colour table is made, at its
// final size and every entry 1, 1, 1, at the first colour. `index` is the
// vertex's entry, 0 when it has none. Returns the start of the line after
// z's.
const char* vertexNumbers(ObjReader& r, const char* p, float* xyz, unsigned index) {
    const char* end = r.end;
    const char* last = p;
    int n = 0;
    for (; n < 3; n++) {
        const char* q = kelSkipSpace(last, end);
        const char* after = kelParseFloat(q, end, &xyz[n]);
        if (after == q) break;
        last = after;
    }
    if (*last == '\n' && n == 3) return last + 1;  // most vertices: the line ends right after z
    // A number missing reads as 0. The tables of two passes are zero-filled,
    // but those of one pass grow without being cleared, and clearing each
    // entry before it is read costs more than this.
    for (int k = n; k < 3; k++) xyz[k] = 0;
    float rgb[4];
    int extra = 0;
    for (; n == 3 && extra < 4; extra++) {
        const char* q = last;
        while (*q != '\n' && kelIsSpace(*q)) q++;  // the zero after the chunk stops this
        const char* after = q < end && *q != '\n' ? kelParseFloat(q, end, &rgb[extra]) : q;
        if (after == q) break;
        last = after;
    }
    if (extra == 3 && index) {
        float* colors = r.shared->colors.load(std::memory_order_acquire);
        if (!colors) colors = makeColors(r);
        if (!colors) return end;
        memcpy(&colors[3 * size_t(index)], rgb, 3 * sizeof(float));
    }
    return kelSkipLine(last, end);
}

// One pass: doubles the room of a table of `*room` entries of `size` bytes
// (and an entry 0 when `oneBased`), or makes room for `least` in an empty
// one. The new room is not cleared. False, with the error set, when out of
// memory or past the largest count the model holds. Kept out of line, so
// that the statement readers around the rare growth stay small.
[[gnu::noinline]] bool doubleRoom(ObjReader& r, void** table, unsigned* room, size_t size, bool oneBased,
                                  size_t least) {
    size_t more = *room ? 2 * size_t(*room) : least;
    if (more > 0xFFFFFFFEu) more = 0xFFFFFFFEu;  // the counts are unsigned
    size_t count = more + oneBased;
    void* grown = more > *room ? kelTryRealloc(*table, count * size) : nullptr;
    if (!grown) return kelSetMemoryError(r.error, count, size), false;
    kelAdviseHugePages(grown, count * size);
    *table = grown;
    *room = unsigned(more);
    return true;
}

// One pass: doubles the room of the table whose count is `read` (its
// entries `width` floats, each written whole as it is read), and of the
// colours with the vertices. False, with the error set, when out of memory.
bool growEntries(ObjReader& r, const unsigned* read, int width) {
    KelModel* m = r.model;
    float** table = read == &r.numvertices ? &m->vertices : read == &r.numnormals ? &m->normals : &m->texcoords;
    unsigned* room = read == &r.numvertices ? &r.vertexEnd : read == &r.numnormals ? &r.normalEnd : &r.texcoordEnd;
    unsigned before = *room;
    if (!doubleRoom(r, reinterpret_cast<void**>(table), room, width * sizeof(float), true, 1024)) return false;
    float* colors = r.shared->colors.load(std::memory_order_relaxed);
    if (table == &m->vertices && colors) {
        size_t floats = 3 * (size_t(*room) + 1);
        if (!(colors = static_cast<float*>(kelTryRealloc(colors, floats * sizeof(float)))))
            return kelSetMemoryError(r.error, floats, sizeof(float)), false;
        for (size_t i = 3 * (size_t(before) + 1); i < floats; i++) colors[i] = 1;
        r.shared->colors.store(colors, std::memory_order_relaxed);
    }
    return true;
}

// One pass: doubles the room of the triangle table (clearing what it adds,
// as faces do not write every index), or of the current group's triangle
// list, whichever is full (a list starts with room for 8: files of many
// small groups are common). False, with the error set, when out of memory.
bool growTriangles(ObjReader& r) {
    KelModel* m = r.model;
    unsigned before = r.triangleEnd;
    if (r.triangle == r.triangleEnd) {
        if (!doubleRoom(r, reinterpret_cast<void**>(&m->triangles), &r.triangleEnd, sizeof(KelTriangle), false, 1024))
            return false;
        memset(m->triangles + before, 0, (r.triangleEnd - before) * sizeof(KelTriangle));
    }
    GroupSpan* span = r.span;
    return span->filled < span->count ||
           doubleRoom(r, reinterpret_cast<void**>(&span->group->triangles), &span->count, sizeof(unsigned), false, 8);
}

// "v", "vn" and "vt": the first pass counts them, the second reads their
// numbers; any other statement that starts with 'v' ends the read.
const char* vertexStatement(ObjReader& r, const char* p, const char* tokenEnd, bool fill) {
    KelModel* m = r.model;
    size_t length = size_t(tokenEnd - p);
    unsigned* read;
    unsigned room;
    float* table;
    int width = 3;
    if (length == 1) {
        read = &r.numvertices, room = r.vertexEnd, table = m->vertices;
    } else if (length == 2 && p[1] == 'n') {
        read = &r.numnormals, room = r.normalEnd, table = m->normals;
    } else if (length == 2 && p[1] == 't') {
        read = &r.numtexcoords, room = r.texcoordEnd, table = m->texcoords, width = 2;
    } else {
        if (r.error->code == KEL_OK) r.errorOffset = r.chunks.offset + size_t(p - r.chunks.data);
        kelSetError(r.error, KEL_ERROR_STATEMENT, lineOf(r, p), "kelFirstPass(): Unknown token \"%.*s\".", int(length),
                    p);
        return r.end;
    }
    if (!fill) {
        ++*read;
        return kelSkipLine(tokenEnd, r.end);
    }
    if (*read == room && r.onePass) return growEntries(r, read, width) ? vertexStatement(r, p, tokenEnd, true) : r.end;
    // Whatever follows the numbers on the line of the last one is dropped,
    // as the first pass drops the rest of the line.
    float scratch[3];
    float* entry = *read < room ? &table[width * ++*read] : scratch;
    if (length == 1) return vertexNumbers(r, tokenEnd, entry, entry == scratch ? 0 : *read);
    int numbers;
    p = kelReadNumbers(tokenEnd, r.end, entry, width, &numbers);
    for (; numbers < width; numbers++) entry[numbers] = 0;  // see vertexNumbers
    return p;
}

// Makes room for one more entry after the `count` of a growing array; false
// (the array unchanged, the error set) when out of memory.
template <typename T>
bool makeRoom(T** array, size_t count, size_t* capacity, KelError* error) {
    if (count < *capacity) return true;
    size_t more = *capacity ? 2 * *capacity : 16;
    void* grown = kelTryRealloc(*array, more * sizeof(T));
    if (!grown) return kelSetMemoryError(error, more, sizeof(T)), false;
    *array = static_cast<T*>(grown);
    *capacity = more;
    return true;
}

// The slot of `name` in `index`, found or empty, with room to fill an
// empty one; null, with the error set, when out of memory.
KelNameSlot* slotToFill(ObjReader& r, KelNameIndex* index, const char* name) {
    if (!kelReserveNameSlot(index))
        return kelSetMemoryError(r.error, 2 * index->capacity, sizeof(KelNameSlot)), nullptr;
    return kelNameSlot(index, name);
}

// The slot of the group named `name` in r.groups, the group made (newest
// first in the model's list) when the model has none of that name; null,
// with the error set, when out of memory.
KelNameSlot* namedGroup(ObjReader& r, const char* name) {
    KelNameIndex* index = r.groups;
    KelNameSlot* slot = slotToFill(r, index, name);
    if (!slot) return nullptr;
    if (!slot->name) {
        if (!(slot->group = kelTryNewGroup(r.model, name)))
            return kelSetMemoryError(r.error, 1, sizeof(KelGroup)), nullptr;
        kelFillNameSlot(index, slot, slot->group->name);
    }
    return slot;
}

// Adds a span for `group` to the chunk being read (first pass); null, with
// the error set, when out of memory.
GroupSpan* addSpan(ObjReader& r, KelGroup* group) {
    Plan* plan = r.plan;
    if (!makeRoom(&plan->spans, plan->numspans, &plan->spansCapacity, r.error)) return nullptr;
    GroupSpan* span = &plan->spans[plan->numspans++];
    *span = GroupSpan{group, 0, 0, 0, 0, false};
    r.current->numSpans++;
    return span;
}

// The stamp of a slot whose span lies in the chunk being read.
size_t chunkStamp(const ObjReader& r) { return size_t(r.current - r.plan->chunks) + 1; }

// First pass: the span of the group in `slot` in the chunk being read,
// found or added; null, with the error set, when out of memory.
GroupSpan* spanOf(ObjReader& r, KelNameSlot* slot) {
    size_t stamp = chunkStamp(r);
    if (slot->stamp != stamp) {
        if (!addSpan(r, slot->group)) return nullptr;
        slot->value = r.plan->numspans - 1;
        slot->stamp = stamp;
    }
    return &r.plan->spans[slot->value];
}

// Second pass: notes in r.groups that the group of span `index`, in the
// chunk being read, is met. False, with the error set, when out of memory.
bool noteMet(ObjReader& r, size_t index) {
    KelGroup* group = r.plan->spans[index].group;
    KelNameSlot* slot = slotToFill(r, r.groups, group->name);
    if (!slot) return false;
    if (!slot->name) kelFillNameSlot(r.groups, slot, group->name), slot->group = group;
    slot->value = index, slot->stamp = chunkStamp(r);
    return true;
}

// Second pass: the span of the group named `name` in the chunk being read.
// A group the chunk has not named before has the chunk's next span, as the
// first pass added them in the order it met their groups; the others are
// found through r.groups, which notes the groups met once the chunk names
// one again. Null when the file changed since, or memory runs out (with the
// error set).
GroupSpan* metSpan(ObjReader& r, const char* name) {
    Plan* plan = r.plan;
    const ChunkPlan* c = r.current;
    size_t next = c->firstSpan + r.spansMet;
    bool isNext = r.spansMet < c->numSpans && strcmp(plan->spans[next].group->name, name) == 0;
    if (!r.spansNoted && !isNext) {
        for (size_t i = c->firstSpan; i < next; i++)
            if (!noteMet(r, i)) return nullptr;
        r.spansNoted = true;
    }
    if (isNext) {
        r.spansMet++;
        return r.spansNoted && !noteMet(r, next) ? nullptr : &plan->spans[next];
    }
    const KelNameSlot* slot = kelNameSlot(r.groups, name);
    return slot && slot->name && slot->stamp == chunkStamp(r) ? &plan->spans[slot->value] : nullptr;
}

// One pass: the span of the group in `slot`, which stands for its whole
// triangle list (first 0, count its room): found, or added; null when
// memory runs out (with the error set).
GroupSpan* groupSpan(ObjReader& r, KelNameSlot* slot) {
    Plan* plan = r.plan;
    if (!slot->stamp) {
        if (!makeRoom(&plan->spans, plan->numspans, &plan->spansCapacity, r.error)) return nullptr;
        plan->spans[plan->numspans] = GroupSpan{slot->group, 0, 0, 0, 0, false};
        slot->value = plan->numspans++;
        slot->stamp = 1;
    }
    return &plan->spans[slot->value];
}

// A name read from the input, copied and NUL-terminated for the lookups and
// messages that take C strings: the input itself is not written, as a
// write there copies a page of a mapped file. Short names stay on the
// stack; `text` is null when a long one finds no memory (the error set).
struct NameCopy {
    char local[256];
    char* text;
    NameCopy(KelError* error, const char* name, const char* nameEnd) {
        size_t length = size_t(nameEnd - name);
        text = length < sizeof local ? local : kelTryCopyName(name, length);
        if (text == local) memcpy(local, name, length), local[length] = '\0';
        if (!text) kelSetMemoryError(error, length + 1, 1);
    }
    ~NameCopy() {
        if (text != local) free(text);
    }
    NameCopy(const NameCopy&) = delete;
    NameCopy& operator=(const NameCopy&) = delete;
};

// "g": the group's name is the whole rest of the line, the blanks after the
// keyword included, without the line end ("\n" or "\r\n"). The first pass
// creates the group; the second makes it current and gives it the current
// material; one pass does both.
const char* groupStatement(ObjReader& r, const char* tokenEnd, bool fill) {
    const char* lineEnd = kelSkipLine(tokenEnd, r.end);
    const char* next = lineEnd;
    if (lineEnd > tokenEnd && lineEnd[-1] == '\n') lineEnd--;
    while (lineEnd > tokenEnd && lineEnd[-1] == '\r') lineEnd--;
    NameCopy copy(r.error, tokenEnd, lineEnd);
    const char* p = copy.text;
    if (!p) {
        next = r.end;
    } else if (fill && r.onePass) {
        KelNameSlot* slot = namedGroup(r, p);
        if (!(r.span = slot ? groupSpan(r, slot) : nullptr))
            next = r.end;
        else
            r.span->material = r.material, r.span->assigned = true;
    } else if (fill) {
        r.span = metSpan(r, p);
        if (r.span) r.span->material = r.material, r.span->assigned = true;
    } else {
        KelNameSlot* slot = namedGroup(r, p);
        if (slot) r.group = slot->group;
        if (!slot || !(r.span = spanOf(r, slot))) next = r.end;
    }
    return next;
}

// Notes an mtllib statement of the first pass, at `at`.
void noteLibrary(ObjReader& r, const char* name, size_t length, const char* at) {
    Range* range = r.range;
    if (!makeRoom(&range->libraries, range->numlibraries, &range->librariesCapacity, r.error)) return;
    char* copy = kelTryCopyName(name, length);
    if (!copy) return kelSetMemoryError(r.error, length + 1, 1);
    range->libraries[range->numlibraries++] = {copy, r.chunks.offset + size_t(at - r.chunks.data)};
}

// Indexes the model's material table by name, the first material of a
// name standing for it as in kelLookupMaterial. False, with the error set,
// when out of memory.
bool indexMaterials(ObjReader& r) {
    KelNameIndex* index = r.materials;
    const KelModel* m = r.model;
    kelFreeNameIndex(index);
    for (unsigned i = 0; i < m->nummaterials; i++) {
        KelNameSlot* slot = slotToFill(r, index, m->materials[i].name);
        if (!slot) return false;
        if (!slot->name) kelFillNameSlot(index, slot, m->materials[i].name), slot->value = i;
    }
    return true;
}

// kelLookupMaterial through r.materials.
bool lookupMaterial(const ObjReader& r, const char* name, unsigned* index) {
    const KelNameSlot* slot = kelNameSlot(r.materials, name);
    if (!slot || !slot->name) return false;
    *index = unsigned(slot->value);
    return true;
}

// Reads the library a note names. A library that cannot be opened is an
// error, or with optionalLibrary a warning that leaves the model with only
// the "default" material. False when the read ends here.
bool loadLibrary(ObjReader& r, const LibraryNote& note) {
    KelModel* m = r.model;
    free(m->mtllibname);
    if (!(m->mtllibname = kelTryCopyName(note.name, strlen(note.name))))
        return kelSetMemoryError(r.error, strlen(note.name) + 1, 1), false;
    KelError libraryError = {};
    int status = kelLoadMTLChunks(m, m->mtllibname, r.chunk, r.options, &libraryError);
    r.libraryMissing = false;
    if (status == KEL_OK) return indexMaterials(r);
    if (status == KEL_ERROR_LIBRARY && r.options->optionalLibrary) {
        if (r.onePass) return r.needsTwoPasses = true, false;  // the warning is theirs to print
        printf("kelReadOBJ() warning: %s; every material is \"default\".\n", libraryError.message);
        r.libraryMissing = true;
        if (kelDefaultMaterials(m)) return indexMaterials(r);
        return kelSetMemoryError(r.error, 1, sizeof(KelMaterial)), false;
    }
    libraryError.line = status == KEL_ERROR_MEMORY ? 0 : kelLineAt(&r.chunks, note.offset);
    *r.error = libraryError;
    return false;
}

// One pass: reads the library named at `at` at once. The materials a usemtl
// already looked up may not be the ones it gives, so after one the read goes
// on in two passes. False when the read ends here.
bool oneLibrary(ObjReader& r, char* name, const char* at) {
    if (r.usedMaterial) return r.needsTwoPasses = true, false;
    return loadLibrary(r, LibraryNote{name, r.chunks.offset + size_t(at - r.chunks.data)});
}

// "usemtl": the first pass keeps the name of each chunk's last one (it gives
// the material in force where the next chunk starts); the second looks it
// up, makes it current and gives it to the current group.
void useMaterial(ObjReader& r, const char* name, size_t length, bool fill) {
    if (!fill) {
        char* copy = kelTryCopyName(name, length);
        if (!copy) return kelSetMemoryError(r.error, length + 1, 1);
        free(r.current->lastMaterial);
        r.current->lastMaterial = copy;
        return;
    }
    r.usedMaterial = true;
    r.material = 0;
    if (!r.libraryMissing && !lookupMaterial(r, name, &r.material)) r.current->unknownMaterial = true;
    if (r.span) r.span->material = r.material, r.span->assigned = true;
}

// "mtllib" (first pass or one pass) and "usemtl": the first word after the
// keyword names the library or material. Other statements that start with
// 'm' or 'u' are skipped.
const char* materialStatement(ObjReader& r, const char* p, const char* tokenEnd, bool fill) {
    bool library = (!fill || r.onePass) && kelIsWord(p, tokenEnd, "mtllib");
    bool use = kelIsWord(p, tokenEnd, "usemtl");
    const char* wordEnd = tokenEnd;
    const char* word = tokenEnd;
    if (library || use) word = kelLineWord(tokenEnd, r.end, &wordEnd);
    bool goOn = true;
    if (word != wordEnd) {
        NameCopy copy(r.error, word, wordEnd);
        char* name = copy.text;
        if (!name)
            goOn = false;
        else if (library && r.onePass)
            goOn = oneLibrary(r, name, p);
        else if (library)
            noteLibrary(r, name, size_t(wordEnd - word), p);
        else
            useMaterial(r, name, size_t(wordEnd - word), fill);
    }
    return goOn ? kelSkipLine(wordEnd, r.end) : r.end;
}

#if defined(__SSE2__) && !defined(KEL_NO_SIMD)
// The bits set in v (the build does not assume a popcnt instruction).
inline unsigned bitCount(uint64_t v) {
    v = v - ((v >> 1) & 0x5555555555555555ull);
    v = (v & 0x3333333333333333ull) + ((v >> 2) & 0x3333333333333333ull);
    v = (v + (v >> 4)) & 0x0F0F0F0F0F0F0F0Full;
    return unsigned((v * 0x0101010101010101ull) >> 56);
}

// The first pass over the common statements, whole lines at a time: "v ",
// "vt ", "vn ", comments, and faces whose references all start with a
// digit and that do not go on to the next line. Line ends and token starts
// come from the masks of 64 bytes at a time, so no line waits for the scan
// of the one before it. p is a statement start (after white space); returns
// the first statement left to the reader of single statements, which reads
// it as it always would.
template <KelTextMasks (*masksAt)(const char*, bool)>
__attribute__((always_inline)) inline const char* countLinesWith(ObjReader& r, const char* p) {
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
    r.model->numtriangles += counts[3];
    r.span->count += counts[3];
    return p;
}

__attribute__((target("avx2"))) const char* countLinesAvx2(ObjReader& r, const char* p) {
    return countLinesWith<kelTextMasksAvx2>(r, p);
}

// Processors with AVX2 (most x86-64 ones since 2013) take the masks 32
// bytes at a time: the first pass then takes about a third less time.
const char* countLines(ObjReader& r, const char* p) {
    static const bool avx2 = __builtin_cpu_supports("avx2");
    return avx2 ? countLinesAvx2(r, p) : countLinesWith<kelTextMasks>(r, p);
}
#endif

// The statements of one chunk, in either pass. Only "mtllib" and "usemtl" are matched whole; the others by
// their first letter ("v" by its first two).
void readStatements(ObjReader& r, bool fill) {
    const char* end = r.end;
    const char* p = kelSkipSpace(r.begin, end);
    // A statement that ends the read returns `end`; after an index error the
    // rest of the chunk is still scanned, and only the first error is kept.
    while (p < end) {
#if defined(__SSE2__) && !defined(KEL_NO_SIMD)
        if (!fill && (p = kelSkipSpace(countLines(r, p), end)) >= end) break;
#endif
        // Keywords are mostly one letter followed by a blank.
        const char* tokenEnd = kelIsSpace(p[1]) ? p + 1 : kelTokenEnd(p + 1, end);
        switch (*p) {
        case 'v': p = vertexStatement(r, p, tokenEnd, fill); break;
        case 'f': p = faceStatement(r, tokenEnd, fill); break;
        case 'g': p = groupStatement(r, tokenEnd, fill); break;
        case 'm':
        case 'u': p = materialStatement(r, p, tokenEnd, fill); break;
        default: p = kelSkipLine(tokenEnd, end); break;  // '#' comments and everything unsupported
        }
        p = kelSkipSpace(p, end);
    }
}

// Reports progress, on the calling thread only: `done` bytes of the two
// passes over the input. False, with the read marked cancelled, when the
// callback asks to stop.
bool keepGoing(const ObjReader& r, unsigned long long done) {
    if (!r.options->progress) return true;
    unsigned long long total = 2 * r.chunks.total;
    if (done > total) done = total;
    if (done < r.shared->shown) done = r.shared->shown;  // two passes after one start counting again
    r.shared->shown = done;
    if (r.options->progress(r.options->user, done, total) == 0) return true;
    r.shared->cancelled = true;
    return false;
}

// The error of chunked input that failed with `code`.
void inputError(ObjReader& r, int code) {
    switch (code) {
    case KEL_ERROR_MEMORY: kelSetMemoryError(r.error, r.chunks.capacity, 2); break;
    case KEL_ERROR_ENCODING:
        kelSetError(r.error, KEL_ERROR_ENCODING, 0,
                    "kelReadOBJ() failed: \"%s\" is UTF-16 text; kel reads ASCII or UTF-8.", r.name);
        break;
    default: kelSetError(r.error, KEL_ERROR_IO, 0, "kelReadOBJ() failed: can't open data file \"%s\".", r.name); break;
    }
}

// Starts the plan of the chunk just handed out: where it lies, the counts
// before it and the group in force where it starts.
bool planChunk(ObjReader& r) {
    Plan* plan = r.plan;
    if (!makeRoom(&plan->chunks, plan->numchunks, &plan->chunksCapacity, r.error)) return false;
    r.current = &plan->chunks[plan->numchunks++];
    *r.current = ChunkPlan{r.chunks.offset,
                           r.chunks.split,
                           r.numvertices,
                           r.numnormals,
                           r.numtexcoords,
                           r.model->numtriangles,
                           plan->numspans,
                           0,
                           nullptr,
                           0,
                           false};
    // Its first span is the group in force where it starts.
    r.span = r.group ? spanOf(r, kelNameSlot(r.groups, r.group->name)) : addSpan(r, nullptr);
    return r.span != nullptr;
}

// The first pass over one range, on the thread that took it: counts and
// plans each chunk, creates the groups it meets in a model of its own and
// notes the libraries it names.
void scanRange(const ObjReader& r, Range& range, bool reports) {
    ObjReader t = r;
    t.error = &range.error;
    t.range = &range;
    t.plan = &range.plan;
    t.group = nullptr;
    t.groups = &range.groups;
    t.errorOffset = range.begin;
    if (!(t.model = range.local = static_cast<KelModel*>(kelTryAlloc(1, sizeof(KelModel)))))
        return kelSetMemoryError(t.error, 1, sizeof(KelModel));
    if (kelOpenRangeChunks(&r.chunks, range.begin, range.end, r.chunk, &t.chunks) != KEL_OK)
        return kelSetMemoryError(t.error, r.chunk, 1);
    while (kelNextChunk(&t.chunks)) {
        if (!planChunk(t)) break;
        t.begin = t.chunks.data + t.chunks.start;
        t.end = t.chunks.data + t.chunks.split;
        readStatements(t, false);
        unsigned long long done = r.shared->done += t.chunks.split;
        if (range.error.code != KEL_OK || r.shared->cancelled || (reports && !keepGoing(r, done))) break;
    }
    if (t.chunks.error) inputError(t, t.chunks.error);
    range.errorOffset = range.error.code == KEL_ERROR_STATEMENT ? t.errorOffset : t.chunks.offset;
    range.last = t.group;
    t.model->numvertices = t.numvertices;
    t.model->numnormals = t.numnormals;
    t.model->numtexcoords = t.numtexcoords;
    kelCloseChunks(&t.chunks);
}

// One thread of the first pass: takes the next range until none is left or
// the read is cancelled. The calling thread (`reports`) also reports
// progress.
void scanRanges(const ObjReader& r, Range* ranges, size_t count, bool reports) {
    for (size_t i; (i = r.shared->next++) < count && !r.shared->cancelled;) scanRange(r, ranges[i], reports);
}

// The number of threads for a pass over `pieces` chunks: as asked, or as
// many as the machine has cores for input that is not small.
unsigned threadCount(const ObjReader& r, size_t pieces) {
    const unsigned long long small = 4ull << 20;
    unsigned want = r.options->threads;
    if (want == 0) want = r.chunks.total < small ? 1 : std::thread::hardware_concurrency();
    if (want > kMaxThreads) want = kMaxThreads;
    if (want > pieces) want = unsigned(pieces);
    return want ? want : 1;
}

// The threads that read the whole input: those of the first pass, and one
// alone for a read in one pass.
unsigned inputThreads(const ObjReader& r) {
    return threadCount(r, size_t(r.chunks.total / (r.chunk ? r.chunk : 1)) + 1);
}

// Runs `work(r, thread)` on `threads` threads numbered from 0, the calling
// thread (0, the one that reports) among them; fewer when a thread cannot
// be started. Once its own share is done, the calling thread goes on
// reporting progress until the others are done too.
template <typename Work>
void onThreads(const ObjReader& r, unsigned threads, Work work) {
    std::thread helpers[kMaxThreads];
    std::atomic<unsigned> finished{0};
    unsigned started = 0;
    for (; started + 1 < threads; started++) {
        try {
            helpers[started] = std::thread([&r, &work, &finished, started] {
                work(r, started + 1);
                finished++;
            });
        } catch (...) {
            break;
        }
    }
    work(r, 0u);
    while (r.options->progress && finished < started && keepGoing(r, r.shared->done))
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    for (unsigned i = 0; i < started; i++) helpers[i].join();
}

// Appends the range's chunks and spans to the reader's plan: counts made
// absolute, groups made the model's, the group in force at the range's
// start put in, and a group's spans within one chunk made one.
bool appendPlan(ObjReader& r, Range& range, KelGroup* carried, const unsigned base[4]) {
    Plan* plan = r.plan;
    for (size_t i = 0; i < range.plan.numchunks; i++) {
        if (!makeRoom(&plan->chunks, plan->numchunks, &plan->chunksCapacity, r.error)) return false;
        ChunkPlan& c = plan->chunks[plan->numchunks++];
        c = range.plan.chunks[i];
        range.plan.chunks[i].lastMaterial = nullptr;  // now the reader's
        c.vertices += base[0], c.normals += base[1], c.texcoords += base[2], c.triangles += base[3];
        const GroupSpan* spans = range.plan.spans + c.firstSpan;
        c.firstSpan = plan->numspans;
        size_t count = c.numSpans;
        c.numSpans = 0;
        r.current = &c;
        for (size_t k = 0; k < count; k++) {
            GroupSpan* span = spanOf(r, kelNameSlot(r.groups, (spans[k].group ? spans[k].group : carried)->name));
            if (!span) return false;
            span->count += spans[k].count;
        }
    }
    r.current = nullptr;
    return true;
}

// Puts the ranges together in file order, as one pass in order would have
// left the model: the libraries read (up to a range's error), the groups
// created in the order they first appear, the plan of every chunk.
bool mergeRanges(ObjReader& r, Range* ranges, size_t count) {
    KelModel* m = r.model;
    KelNameSlot* first = namedGroup(r, "default");
    if (!first) return false;
    KelGroup* carried = first->group;
    unsigned base[4] = {0, 0, 0, 0};
    for (size_t i = 0; i < count; i++) {
        Range& range = ranges[i];
        for (size_t k = 0; k < range.numlibraries; k++) {
            if (range.error.code != KEL_OK && range.libraries[k].offset >= range.errorOffset) break;
            if (!loadLibrary(r, range.libraries[k])) return false;
        }
        if (range.error.code != KEL_OK) return *r.error = range.error, false;
        // The range's groups, oldest first: its list, newest first, turned round.
        KelGroup* oldest = nullptr;
        for (KelGroup *g = range.local->groups, *next; g; g = next) next = g->next, g->next = oldest, oldest = g;
        range.local->groups = oldest;
        for (KelGroup* g = oldest; g; g = g->next)
            if (!namedGroup(r, g->name)) return false;
        if (!appendPlan(r, range, carried, base)) return false;
        if (range.last) carried = kelNameSlot(r.groups, range.last->name)->group;
        base[0] += range.local->numvertices, base[1] += range.local->numnormals;
        base[2] += range.local->numtexcoords, base[3] += range.local->numtriangles;
    }
    m->numvertices = base[0], m->numnormals = base[1], m->numtexcoords = base[2], m->numtriangles = base[3];
    return true;
}

void freeRange(Range& range) {
    if (range.local) kelDelete(range.local);
    kelFreeNameIndex(&range.groups);
    for (size_t i = 0; i < range.plan.numchunks; i++) free(range.plan.chunks[i].lastMaterial);
    free(range.plan.chunks);
    free(range.plan.spans);
    for (size_t i = 0; i < range.numlibraries; i++) free(range.libraries[i].name);
    free(range.libraries);
}

// First pass: the input split into ranges at statement starts, each read
// on its own; then, in file order, the libraries read and the ranges put
// together; then each group's triangle list made and each chunk's span
// given its place in it, and each chunk the material in force where it
// starts. Threads take ranges in turn, four for each thread, so that one
// slowed by other work on the machine holds the pass up less.
bool firstPass(ObjReader& r) {
    KelModel* m = r.model;
    unsigned long long total = r.chunks.total;
    unsigned threads = inputThreads(r);
    size_t pieces = threads == 1 ? 1 : 4 * size_t(threads), chunks = size_t(total / (r.chunk ? r.chunk : 1)) + 1;
    if (pieces > chunks) pieces = chunks;
    Range* ranges = static_cast<Range*>(kelTryAlloc(pieces, sizeof(Range)));  // zero-filled, freed below
    if (!ranges) return kelSetMemoryError(r.error, pieces, sizeof(Range)), false;
    size_t count = 0;
    for (size_t i = 0; i < pieces; i++) {
        unsigned long long begin = i ? kelFindStatementStart(&r.chunks, total / pieces * i) : 0;
        if (count && begin <= ranges[count - 1].begin) continue;
        if (begin >= total && count) break;
        if (count) ranges[count - 1].end = begin;
        ranges[count++].begin = begin;
    }
    ranges[count - 1].end = total;
    onThreads(
        r, threads < count ? threads : unsigned(count),
        [ranges, count](const ObjReader& reader, unsigned thread) { scanRanges(reader, ranges, count, thread == 0); });
    bool merged = !r.shared->cancelled && mergeRanges(r, ranges, count);
    for (size_t i = 0; i < count; i++) freeRange(ranges[i]);
    free(ranges);
    if (!merged) return false;

    for (KelGroup* g = m->groups; g; g = g->next) g->numtriangles = 0;
    Plan* plan = r.plan;
    for (size_t i = 0; i < plan->numspans; i++) plan->spans[i].group->numtriangles += plan->spans[i].count;
    for (KelGroup* g = m->groups; g; g = g->next) {
        if (!(g->triangles = static_cast<unsigned*>(kelTryAlloc(g->numtriangles, sizeof(unsigned)))))
            return kelSetMemoryError(r.error, g->numtriangles, sizeof(unsigned)), false;
        g->numtriangles = 0;
    }
    for (size_t i = 0; i < plan->numspans; i++) {
        GroupSpan& span = plan->spans[i];
        span.first = span.group->numtriangles;
        span.group->numtriangles += span.count;
    }
    unsigned material = 0;
    for (size_t i = 0; i < plan->numchunks; i++) {
        ChunkPlan& c = plan->chunks[i];
        c.material = material;
        if (!c.lastMaterial) continue;
        if (r.libraryMissing || !lookupMaterial(r, c.lastMaterial, &material)) material = 0;
    }
    return true;
}

// Every table zero-filled: numbers that fail to parse and index kinds a
// face does not carry read as 0. The vertex and triangle tables are always
// made; the others only when the file has entries for them.
bool allocateTables(ObjReader& r) {
    KelModel* m = r.model;
    struct {
        void** table;
        size_t count, size;
    } tables[] = {
        {reinterpret_cast<void**>(&m->vertices), 3 * (size_t(m->numvertices) + 1), sizeof(float)},
        {reinterpret_cast<void**>(&m->triangles), m->numtriangles, sizeof(KelTriangle)},
        {reinterpret_cast<void**>(&m->normals), m->numnormals ? 3 * (size_t(m->numnormals) + 1) : 0, sizeof(float)},
        {reinterpret_cast<void**>(&m->texcoords), m->numtexcoords ? 2 * (size_t(m->numtexcoords) + 1) : 0,
         sizeof(float)},
    };
    for (size_t i = 0; i < sizeof tables / sizeof tables[0]; i++) {
        if (i >= 2 && tables[i].count == 0) continue;
        if (!(*tables[i].table = kelTryAlloc(tables[i].count, tables[i].size)))
            return kelSetMemoryError(r.error, tables[i].count, tables[i].size), false;
    }
    return true;
}

// Second pass over one chunk, its bytes at [r.begin, r.end): fills its
// entries, triangles and group spans where the plan puts them. A chunk that
// does not fill exactly what the first pass counted changed in between.
void fillChunk(ObjReader& r, size_t index) {
    const Plan* plan = r.plan;
    const KelModel* m = r.model;
    ChunkPlan* c = &plan->chunks[index];
    const ChunkPlan* next = index + 1 < plan->numchunks ? c + 1 : nullptr;
    r.current = c;
    r.numvertices = c->vertices, r.vertexEnd = next ? next->vertices : m->numvertices;
    r.numnormals = c->normals, r.normalEnd = next ? next->normals : m->numnormals;
    r.numtexcoords = c->texcoords, r.texcoordEnd = next ? next->texcoords : m->numtexcoords;
    r.triangle = c->triangles, r.triangleEnd = next ? next->triangles : m->numtriangles;
    r.material = c->material;
    r.span = &plan->spans[c->firstSpan];
    r.spansMet = 1;
    r.spansNoted = false;
    readStatements(r, true);
    bool complete = r.numvertices == r.vertexEnd && r.numnormals == r.normalEnd && r.numtexcoords == r.texcoordEnd &&
                    r.triangle == r.triangleEnd;
    for (size_t i = 0; i < c->numSpans; i++)
        complete = complete && plan->spans[c->firstSpan + i].filled == plan->spans[c->firstSpan + i].count;
    if (!complete)
        kelSetError(r.error, KEL_ERROR_IO, 0, "kelReadOBJ() failed: \"%s\" changed while it was read.", r.name);
}

// A reader for one thread of the second pass: the shared input, a chunk
// buffer and an error of its own.
ObjReader threadReader(const ObjReader& r, KelError* error) {
    ObjReader t = r;
    t.error = error;
    t.chunks = KelChunks{};
    kelShareInput(&r.chunks, &t.chunks);
    return t;
}

// Loads chunk `index` into the thread's buffer; false with the error set
// when it cannot be read.
bool loadChunk(ObjReader& t, size_t index) {
    const ChunkPlan& c = t.plan->chunks[index];
    if (!kelReadChunkAt(&t.chunks, c.offset, c.size)) return inputError(t, t.chunks.error), false;
    t.begin = t.chunks.data + t.chunks.start;
    t.end = t.chunks.data + t.chunks.split;
    return true;
}

// The next chunk for `thread` to fill (see ChunkRuns), or SIZE_MAX when
// none is left.
size_t takeChunk(Shared* shared, unsigned thread) {
    std::lock_guard<std::mutex> hold(shared->lock);
    ChunkRuns& runs = shared->runs;
    if (runs.front[thread] < runs.back[thread]) return runs.front[thread]++;
    unsigned longest = 0;
    for (unsigned k = 1; k < runs.count; k++)
        if (runs.back[k] - runs.front[k] > runs.back[longest] - runs.front[longest]) longest = k;
    return runs.front[longest] < runs.back[longest] ? --runs.back[longest] : SIZE_MAX;
}

// One thread of the second pass: fills chunks until none is left or the
// read is cancelled, skipping those after one that failed. Thread 0, the
// calling thread, also reports progress.
void fillChunks(const ObjReader& r, unsigned thread) {
    Shared* shared = r.shared;
    KelError error = {};
    ObjReader t = threadReader(r, &error);
    KelNameIndex met = {};
    t.groups = &met;
    for (size_t i; (i = takeChunk(shared, thread)) != SIZE_MAX;) {
        if (shared->cancelled) break;
        if (i > shared->firstError) continue;
        if (loadChunk(t, i)) fillChunk(t, i);
        if (error.code != KEL_OK) {
            std::lock_guard<std::mutex> hold(shared->lock);
            if (i < shared->firstError) shared->error = error, shared->firstError = i;
            error = {};
        }
        unsigned long long done = shared->done += r.plan->chunks[i].size;
        if (thread == 0 && !keepGoing(r, done)) break;
    }
    kelFreeNameIndex(&met);
    kelCloseChunks(&t.chunks);
}

// Prints the message of each usemtl in [p, end) that names no material.
void printUnknownMaterials(const ObjReader& r, const char* p, const char* end) {
    for (p = kelSkipSpace(p, end); p < end; p = kelSkipSpace(p, end)) {
        const char* tokenEnd = kelTokenEnd(p, end);
        const char* wordEnd = tokenEnd;
        const char* word = kelIsWord(p, tokenEnd, "usemtl") ? kelLineWord(tokenEnd, end, &wordEnd) : tokenEnd;
        if (word != wordEnd) {
            NameCopy copy(r.error, word, wordEnd);
            unsigned found;
            if (copy.text && !lookupMaterial(r, copy.text, &found)) kelMaterialNotFound(copy.text);
        }
        p = kelSkipLine(wordEnd, end);
    }
}

// Prints, in file order, the message of each usemtl that named no
// material, reading again the chunks where the second pass met one.
void reportUnknownMaterials(const ObjReader& r) {
    KelError ignored = {};
    ObjReader t = threadReader(r, &ignored);
    for (size_t i = 0; i < r.plan->numchunks; i++)
        if (r.plan->chunks[i].unknownMaterial && loadChunk(t, i)) printUnknownMaterials(r, t.begin, t.end);
    kelCloseChunks(&t.chunks);
}

// The end of a read: each group gets the material the read last gave it,
// the message of each usemtl that named no material is printed, and the
// end reported.
bool finishRead(ObjReader& r) {
    for (size_t i = 0; i < r.plan->numspans; i++) {
        const GroupSpan& span = r.plan->spans[i];
        if (span.assigned) span.group->material = span.material;
    }
    reportUnknownMaterials(r);
    return keepGoing(r, 2 * r.chunks.total);
}

// Second pass: fills the chunks on as many threads as help.
bool secondPass(ObjReader& r) {
    Shared* shared = r.shared;
    unsigned threads = threadCount(r, r.plan->numchunks);
    size_t chunks = r.plan->numchunks;
    shared->runs.count = threads;
    for (unsigned k = 0; k < threads; k++) {
        shared->runs.front[k] = chunks * k / threads;
        shared->runs.back[k] = chunks * (k + 1) / threads;
    }
    onThreads(r, threads, fillChunks);
    r.model->colors = shared->colors;
    if (shared->firstError != SIZE_MAX) *r.error = shared->error;
    if (r.error->code != KEL_OK || shared->cancelled) return false;
    return finishRead(r);
}

// `*block` cut to `bytes` (a cut that fails keeps the larger block).
template <typename T>
void fit(T** block, size_t bytes) {
    if (void* cut = realloc(*block, bytes)) *block = static_cast<T*>(cut);
}

// One pass: each table cut to its count, as the two passes make it: normals
// and texture coordinates only when entries were read, and a triangle list
// for every group. False, with the error set, when out of memory.
bool fitTables(ObjReader& r) {
    KelModel* m = r.model;
    m->numvertices = r.numvertices, m->numnormals = r.numnormals, m->numtexcoords = r.numtexcoords;
    m->numtriangles = r.triangle;
    fit(&m->vertices, 3 * (size_t(m->numvertices) + 1) * sizeof(float));
    if (m->colors) fit(&m->colors, 3 * (size_t(m->numvertices) + 1) * sizeof(float));
    fit(&m->triangles, (m->numtriangles ? m->numtriangles : 1) * sizeof(KelTriangle));
    if (!m->numnormals) free(m->normals), m->normals = nullptr;
    if (!m->numtexcoords) free(m->texcoords), m->texcoords = nullptr;
    if (m->normals) fit(&m->normals, 3 * (size_t(m->numnormals) + 1) * sizeof(float));
    if (m->texcoords) fit(&m->texcoords, 2 * (size_t(m->numtexcoords) + 1) * sizeof(float));
    for (size_t i = 0; i < r.plan->numspans; i++) {
        GroupSpan& span = r.plan->spans[i];
        span.group->numtriangles = span.filled;
        if (span.filled) fit(&span.group->triangles, span.filled * sizeof(unsigned));
    }
    for (KelGroup* g = m->groups; g; g = g->next)
        if (!g->triangles && !(g->triangles = static_cast<unsigned*>(kelTryAlloc(1, sizeof(unsigned)))))
            return kelSetMemoryError(r.error, 1, sizeof(unsigned)), false;
    return true;
}

// One pass: every table made with room for more than input of this size
// usually holds (a vertex line or a triangle takes 16 bytes or more), so
// that they seldom grow. Large tables come straight from the system, and
// their pages that are never written cost nothing; still, no table asks for
// more than a sixteenth of the machine's memory, which the system grants
// even where it refuses room it could never back. False, with the error
// set, when out of memory.
bool reserveTables(ObjReader& r) {
    KelModel* m = r.model;
    long pages = sysconf(_SC_PHYS_PAGES), pageSize = sysconf(_SC_PAGESIZE);
    unsigned long long memory = pages > 0 && pageSize > 0 ? (unsigned long long)pages * pageSize : 1ull << 30;
    unsigned long long most = memory / 16 / sizeof(KelTriangle);
    if (most > (1ull << 30)) most = 1ull << 30;  // counts are unsigned
    size_t entries = size_t(r.chunks.total / 16 < most ? r.chunks.total / 16 : most) + 1024;
    struct {
        void** table;
        unsigned* room;
        size_t count, size;
    } tables[] = {
        {reinterpret_cast<void**>(&m->vertices), &r.vertexEnd, entries + 1, 3 * sizeof(float)},
        {reinterpret_cast<void**>(&m->normals), &r.normalEnd, entries + 1, 3 * sizeof(float)},
        {reinterpret_cast<void**>(&m->texcoords), &r.texcoordEnd, entries + 1, 2 * sizeof(float)},
        {reinterpret_cast<void**>(&m->triangles), &r.triangleEnd, entries, sizeof(KelTriangle)},
    };
    for (auto& t : tables) {
        if (!(*t.table = kelTryAlloc(t.count, t.size))) return kelSetMemoryError(r.error, t.count, t.size), false;
        *t.room = unsigned(entries);
    }
    return true;
}

// One pass, for a read on one thread: the second pass's reading, chunk by
// chunk in file order, into tables that grow as they fill, so the input is
// read once and nothing is counted first. False when the read ends early:
// an error, a cancel, or what only two passes read as they should
// (r.needsTwoPasses).
bool onePass(ObjReader& r) {
    KelModel* m = r.model;
    Plan* plan = r.plan;
    r.onePass = true;
    KelNameSlot* first = namedGroup(r, "default");
    if (!first || !(r.span = groupSpan(r, first)) || !reserveTables(r)) return false;
    while (kelNextChunk(&r.chunks)) {
        // Where each chunk lies, to find its usemtl statements again for
        // their messages.
        if (!makeRoom(&plan->chunks, plan->numchunks, &plan->chunksCapacity, r.error)) return false;
        r.current = &plan->chunks[plan->numchunks++];
        *r.current = ChunkPlan{r.chunks.offset, r.chunks.split, 0, 0, 0, 0, 0, 0, nullptr, 0, false};
        r.begin = r.chunks.data + r.chunks.start;
        r.end = r.chunks.data + r.chunks.split;
        readStatements(r, true);
        if (r.error->code != KEL_OK || r.needsTwoPasses) return false;
        if (!keepGoing(r, r.shared->done += 2 * r.chunks.split)) return false;  // the work of both passes
    }
    if (r.chunks.error) return inputError(r, r.chunks.error), false;
    // Faces that named texture coordinates or normals before there were any
    // read them as 0, which two passes do only when there are none at all.
    if (r.unresolved && (r.numtexcoords || r.numnormals)) return r.needsTwoPasses = true, false;
    m->colors = r.shared->colors;
    return fitTables(r) && finishRead(r);
}

// Both passes.
bool twoPasses(ObjReader& r) { return firstPass(r) && allocateTables(r) && secondPass(r); }

// A new, empty model named as the input; null (the error set) when out of
// memory.
KelModel* newModel(ObjReader& r) {
    KelModel* model = static_cast<KelModel*>(kelTryAlloc(1, sizeof(KelModel)));
    if (model && !(model->pathname = kelTryCopyName(r.name, strlen(r.name)))) free(model), model = nullptr;
    if (!model) kelSetMemoryError(r.error, 1, sizeof(KelModel));
    return model;
}

// Frees what a read built (`model`, unless null) and what its plan and
// indexes held.
void discardRead(ObjReader& r, KelModel* model) {
    Plan* plan = r.plan;
    Shared* shared = r.shared;
    if (model) {
        model->colors = shared->colors;
        kelDelete(model);
    }
    shared->colors = nullptr;
    for (size_t i = 0; i < plan->numchunks; i++) free(plan->chunks[i].lastMaterial);
    free(plan->chunks);
    free(plan->spans);
    *plan = Plan{};
    kelFreeNameIndex(r.groups);
    kelFreeNameIndex(r.materials);
}

// Reads the opened input into a new model; null on failure, with nothing
// held.
KelModel* readObj(ObjReader& r) {
    Plan plan = {};
    Shared shared;
    KelNameIndex groups = {}, materials = {};
    r.plan = &plan;
    r.shared = &shared;
    r.groups = &groups;
    r.materials = &materials;
    KelModel* model = newModel(r);
    bool read = false;
    if (model && inputThreads(r) == 1) {
        r.model = model;
        ObjReader start = r;
        read = onePass(r);
        if (!read && !shared.cancelled && (r.needsTwoPasses || r.error->code != KEL_ERROR_MEMORY)) {
            // Read again in two passes, into a new model; progress goes on
            // from where it stands.
            discardRead(r, model);
            shared.done = 0;
            KelChunks chunks = r.chunks;
            r = start;
            r.chunks = chunks;
            kelRewindChunks(&r.chunks);
            *r.error = {};
            r.model = model = newModel(r);
            read = model && twoPasses(r);
        }
    } else if (model) {
        r.model = model;
        read = twoPasses(r);
    }
    if (!read) {
        if (shared.cancelled)
            kelSetError(r.error, KEL_ERROR_CANCELLED, 0, "kelReadOBJ() cancelled reading \"%s\".", r.name);
        discardRead(r, model);
        model = nullptr;
    }
    kelCloseChunks(&r.chunks);
    discardRead(r, nullptr);
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
    ObjReader r = {};
    r.name = name;
    r.chunk = chunk;
    r.options = options ? options : &defaults;
    r.error = error;
    r.chunks = *chunks;
    r.chunks.copied = r.options->copyInput != 0;
    r.indexDigits = 1;
    if (r.chunks.seekable) return readObj(r);
    // A pipe is read whole into the buffer (the only chunk it gives) and
    // then read from there like input in memory.
    KelChunks pipe = r.chunks;
    KelModel* model = nullptr;
    if (!kelNextChunk(&pipe) && pipe.error) {
        r.chunks = pipe;
        inputError(r, pipe.error);
    } else if (kelOpenMemoryChunks(pipe.data, pipe.size, chunk, &r.chunks) != KEL_OK) {
        kelSetMemoryError(error, chunk, 1);
    } else {
        model = readObj(r);
    }
    kelCloseChunks(&pipe);
    return model;
}

}  // namespace

KelModel* kelLoadOBJChunks(const char* path, size_t chunk, const KelReadOptions* options, KelError* error) {
    KelChunks chunks;
    int status = kelOpenChunks(path, chunk, &chunks);
    return loadObj(&chunks, status, path, chunk, options, error);
}

KelModel* kelLoadOBJFromMemoryChunks(const void* data, size_t size, const char* name, size_t chunk,
                                     const KelReadOptions* options, KelError* error) {
    KelChunks chunks;
    int status = kelOpenMemoryChunks(data, size, chunk, &chunks);
    return loadObj(&chunks, status, name, chunk, options, error);
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
