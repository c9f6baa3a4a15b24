// The OBJ reader's stages and the state each keeps. A read takes one of two
// roads:
//
//   two passes (several threads, or one pass given up):
//     first pass   obj_first_pass.cpp: the input split into ranges, each
//                  counted (obj_count.cpp) on a thread, the ranges merged
//                  into one Plan; the libraries read (obj_materials.cpp)
//     tables       obj_tables.cpp: every table made at its counted size
//     second pass  obj_second_pass.cpp: the planned chunks filled
//                  (obj_fill.cpp) on several threads, each into its part
//   one pass (one thread):
//                  obj_one_pass.cpp: the chunks filled (obj_fill.cpp) in
//                  file order into tables that grow (obj_tables.cpp)
//
// Groups and their spans are in obj_groups.cpp, face references in
// obj_refs.h, progress and the input's errors in obj_input.cpp, and the
// load calls that choose the road in obj.cpp.
#ifndef KEL_OBJ_READER_H
#define KEL_OBJ_READER_H

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "kel/kel_internal.h"

namespace kelobj {

constexpr unsigned kMaxThreads = 64;

// --- What one read shares ------------------------------------------------------

// The input of a read and how it is read; unchanged while the passes run.
struct ReadSetup {
    const char* name;               // the input as messages name it
    size_t chunk;                   // chunk size, for the material library too
    const KelReadOptions* options;  // never null
    KelChunks* input;               // the whole input, seekable
    KelWarnings warnings;           // where the read's messages go
    bool librariesOnDisk;           // libraries may be looked for beside `name` (false for nameless memory)
};

// Progress of a read, reported on the calling thread only, in bytes of the
// input: each pass reads every byte once, so the work is counted in units,
// `passes` for each input byte (one for each pass, the one pass counting
// each byte twice, strict reading once more), and reported as the bytes
// they stand for. Input of unknown size was read whole before: its bytes
// are all reported done from the start.
struct Progress {
    const KelReadOptions* options;
    unsigned long long total;                      // the input's bytes, which `done` rises to
    unsigned passes;                               // units of work for each input byte: 2, 3 with strict reading
    bool readWhole;                                // the input was read whole first (a pipe): all done already
    unsigned long long base = 0;                   // units counted before bytesDone (by strict reading)
    std::atomic<unsigned long long> bytesDone{0};  // units of work done since `base`, every thread together
    std::atomic<bool> cancelled{false};
    unsigned long long lastReported = 0;  // calling thread: a read in two passes after one counts bytesDone again
};

// Reports the bytes that base + `done` units of work stand for (never less
// than reported before, never more than progress->total; all of it with
// `done` ~0ull, at the end). False, with the read marked cancelled, when
// the callback asks to stop, and from then on without calling it again.
// Calling thread only.
bool reportProgress(Progress* progress, unsigned long long done);

// How one thread's reading counts in progress->bytesDone: each input byte
// `weight` units, as soon as it is read, also while a chunk grows
// (one statement longer than many chunks). The calling thread (`reports`)
// reports progress as it counts; every thread stops its chunks once the
// read is cancelled.
struct ChunkWatch {
    Progress* progress;
    unsigned weight;               // 1 in each of two passes, 2 in one pass
    bool reports;                  // the calling thread
    unsigned long long countedTo;  // input bytes before this offset are counted; set it where reading starts
};
// Counts the bytes before input offset `to` that are not counted yet (those
// from watch->countedTo on). Returns progress->bytesDone.
unsigned long long countBytesTo(ChunkWatch* watch, unsigned long long to);
// Sets `chunks` to be watched through `watch` (which must outlive them).
void watchChunks(KelChunks* chunks, ChunkWatch* watch);

// The error of chunked input that failed with `code`, with the system's
// reason (KEL_ERROR_CANCELLED sets none: the load call names it).
void inputError(KelError* error, const char* name, const KelChunks& chunks, int code);

// The error of input that changed while it was read: what one pass counted
// is not what the next finds.
void changedError(KelError* error, const char* name);

// The error of the statement at `at`, in the chunk of `chunks`, whose
// keyword [at, tokenEnd) starts with 'v' but names no vertex statement.
void unknownStatementError(KelError* error, const KelChunks& chunks, const char* at, const char* tokenEnd);

// A reader of planned chunks on one thread: shares the input, with a
// buffer of its own; close with kelCloseChunks.
KelChunks plannedChunkReader(const KelChunks& input);
// Loads the input's bytes [offset, offset + size) as the chunk of `chunks`,
// a plannedChunkReader; false, with the error set, when they cannot be read.
bool loadPlannedChunk(KelChunks* chunks, unsigned long long offset, size_t size, const char* name, KelError* error);

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

// A name index that frees itself.
struct OwnedNameIndex {
    KelNameIndex index = {};

    OwnedNameIndex() = default;
    ~OwnedNameIndex() { kelFreeNameIndex(&index); }
    OwnedNameIndex(const OwnedNameIndex&) = delete;
    OwnedNameIndex& operator=(const OwnedNameIndex&) = delete;
};

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

// --- The plan: what the first pass learns for the second --------------------------

// One group's triangles within one chunk; in one pass, the group's whole
// triangle list.
struct GroupSpan {
    KelGroup* group;
    unsigned first;     // where they start in group->triangles (set after the first pass)
    unsigned count;     // the room: triangles the first pass counted, or (one pass) the list's room
    unsigned filled;    // triangles stored
    unsigned material;  // the material the chunk last gave the group, when `assigned`
    bool assigned;
};

// What the first pass learns of a chunk, so that the second can fill the
// chunks in any order, on several threads.
struct ChunkPlan {
    unsigned long long offset;  // the chunk is the input's bytes [offset, offset + size)
    size_t size;
    unsigned vertices, normals, texcoords, triangles;  // entries before the chunk
    size_t firstSpan, numSpans;       // its groups' spans; the first is the group in force where it starts
    char* lastMaterial;               // owned: the name its last usemtl gives, or null
    unsigned material;                // the material in force where it starts (set after the first pass)
    bool unknownMaterial;             // the fill met a usemtl naming no material
    unsigned objects, lines, points;  // entries before the chunk (lines: segments)
    unsigned smoothing;               // the smoothing group in force where it starts (set after the first pass)
    unsigned lastSmoothing;           // the group its last "s" gives, when `smoothingSet`
    bool smoothingSet;
    bool marked;  // the chunk holds a '\r' or a backslash: the second pass searches it for line ends to rewrite
};

// The chunks and group spans of a read, in file order; frees them itself.
struct Plan {
    ChunkPlan* chunks = nullptr;
    size_t numchunks = 0, chunksCapacity = 0;
    GroupSpan* spans = nullptr;
    size_t numspans = 0, spansCapacity = 0;
    bool smoothing = false;  // some "s" names a group other than 0

    Plan() = default;
    ~Plan() { clear(); }
    Plan(const Plan&) = delete;
    Plan& operator=(const Plan&) = delete;
    void clear() {
        for (size_t i = 0; i < numchunks; i++) free(chunks[i].lastMaterial);
        free(chunks);
        free(spans);
        chunks = nullptr, spans = nullptr;
        numchunks = chunksCapacity = numspans = spansCapacity = 0;
    }
};

// Adds a chunk to the plan at `offset`, `size` bytes, with its counts
// before it; null, with the error set, when out of memory.
ChunkPlan* addChunk(Plan* plan, unsigned long long offset, size_t size, KelError* error);

// --- Groups and their spans (obj_groups.cpp) ----------------------------------------

// The slot of `name` in `index`, found or empty, with room to fill an
// empty one; null, with the error set, when out of memory.
KelNameSlot* reserveSlot(KelNameIndex* index, const char* name, KelError* error);
// The slot of the group named `name` in `index` (the model's groups by
// name), the group made (newest first in the model's list) when the model
// has none of that name; null, with the error set, when out of memory.
KelNameSlot* findOrAddGroup(KelModel* model, KelNameIndex* index, const char* name, KelError* error);
// Counting: the span of the group in `slot` (of an index whose stamps are
// those of `plan`'s chunks) in chunk `chunk`, the last of `plan`, found or
// added. `slot` null stands for the group in force where the range started.
// Null, with the error set, when out of memory.
GroupSpan* spanInChunk(Plan* plan, size_t chunk, KelNameSlot* slot, KelError* error);
// One pass: the span of the group in `slot` that stands for its whole
// list, found or added; null, with the error set, when out of memory.
GroupSpan* wholeListSpan(Plan* plan, KelNameSlot* slot, KelError* error);

// Filling a planned chunk: the chunk's spans, in the order the first pass
// met their groups, and the groups met so far.
struct ChunkGroups {
    const Plan* plan;
    const ChunkPlan* chunk;
    size_t spansMet;     // of the chunk's spans, those whose groups the fill has met
    bool spansIndexed;   // ... and noted in `met`, once the chunk names a group again
    OwnedNameIndex met;  // groups met in the chunk (stamped with its place in the plan), each with its span
};
// Starts filling `chunk`: its first span, the group in force where it
// starts, is met.
void startChunkGroups(ChunkGroups* groups, const Plan* plan, const ChunkPlan* chunk);
// The span of the group named `name` in the chunk. Null when the file
// changed since the first pass, or memory runs out (with the error set).
GroupSpan* filledSpan(ChunkGroups* groups, const char* name, KelError* error);

// Gives each group of `model` its triangle list at its counted size and
// each span its place in it. False, with the error set, when out of memory.
bool makeGroupLists(KelModel* model, Plan* plan, KelError* error);

// --- Materials and libraries (obj_materials.cpp) -------------------------------------

// The model's material table by name.
struct MaterialIndex {
    OwnedNameIndex byName;
    bool libraryMissing = false;  // an optional library could not be opened: unknown names give "default" silently
};
// kelLookupMaterial through `materials`.
bool lookupMaterial(const MaterialIndex& materials, const char* name, unsigned* index);

// An mtllib statement met by counting; the library is read once the pass
// is over, in file order.
struct LibraryNote {
    char* name;                 // owned
    unsigned long long offset;  // where the statement stands in the input
};
enum LibraryRead {
    LIBRARY_READ,
    LIBRARY_MISSING,  // optional, and not there: `missing` holds the warning's cause
    LIBRARY_FAILED,   // the read ends with the error set
};
// Reads the library a note names into the model, its materials after those
// already read (the first library named is the model's mtllibname), and
// indexes the materials: a name defined twice stands for its first.
LibraryRead readLibrary(const ReadSetup& setup, KelModel* model, MaterialIndex* materials, const LibraryNote& note,
                        KelError* missing, KelError* error);
// After LIBRARY_MISSING: sends the warning where setup.warnings says (with
// the mtllib line); a model without materials gets the "default" material
// alone, and from then on a usemtl that names no material gives "default"
// without a message. False, with the error set, when out of memory.
bool useDefaultMaterial(const ReadSetup& setup, KelModel* model, MaterialIndex* materials, const KelError& missing,
                        KelError* error);

// The end of a read: each group gets the material the read last gave it
// (the spans of `plan`), and the message of each usemtl that named no
// material is sent where setup.warnings says in file order, the chunks
// that held one read again.
void finishMaterials(const ReadSetup& setup, const Plan& plan, const MaterialIndex& materials);

// --- Counting (obj_count.cpp) -----------------------------------------------------

// A part of the input that one thread counts in the first pass, with what
// it learns there: its chunks' plans (counts relative to its start), the
// groups it creates (in a model of its own) and the libraries it names. A
// span or `last` group that is null stands for the group in force where
// the range starts.
struct CountedRange {
    unsigned long long begin = 0, end = 0;
    KelModel* local = nullptr;  // owned: the range's counts and groups, newest first
    Plan plan;
    LibraryNote* libraries = nullptr;  // owned
    size_t numlibraries = 0, librariesCapacity = 0;
    KelNameIndex groups = {};            // `local`'s groups
    KelGroup* last = nullptr;            // the group in force at its end (a group of `local`), or null
    KelError error = {};                 // its first error
    unsigned long long errorOffset = 0;  // where that error stands
    unsigned numobjects = 0, numlines = 0, numpoints = 0;  // counted in the range (lines: segments)

    CountedRange() = default;
    ~CountedRange();
    CountedRange(const CountedRange&) = delete;
    CountedRange& operator=(const CountedRange&) = delete;
};

// Counts one range, on the thread that took it: plans each chunk, creates
// the groups it meets in range->local and notes the libraries it names.
// The calling thread (`reports`) reports progress.
void countRange(const ReadSetup& setup, Progress* progress, CountedRange* range, bool reports);

// --- How tables are filled ---------------------------------------------------------

// Room each table has to be filled in, and how it is filled: tables made at
// the size the first pass counted (the room of a chunk is what the plan
// gives it), or tables that grow as one pass fills them.
enum TableRoom { ROOM_COUNTED, ROOM_GROWING };

// --- Filling (obj_fill.cpp) -------------------------------------------------------

// Why a read in one pass gives up for two: what one pass cannot read as two
// would.
enum TwoPassReason {
    NO_REASON,
    INDEX_AHEAD,         // a face names an entry further on
    LIBRARY_AFTER_USE,   // a library is named after a usemtl looked a material up
    LIBRARY_MISSING_OK,  // an optional library is missing: the warning is printed by two passes, once
    LATE_ENTRIES,        // texture coordinates or normals after faces that named them while there were none
};

// The colour table, made at the first vertex colour by whichever thread
// meets it.
struct ColorTable {
    std::mutex lock;
    std::atomic<float*> colors{nullptr};  // made under `lock`
};

// What one pass keeps besides a filling reader's state.
struct OnePass {
    KelNameIndex* groups;       // the model's groups by name, each with its whole-list span
    const ReadSetup* setup;     // for libraries read where they are named
    TwoPassReason reason;       // set: the one pass stops and two passes read the input
    bool usedMaterial;          // a usemtl was read
    bool unresolvedReferences;  // a face named texture coordinates or normals while there were none
    KelError indexError;        // the first index error, reported at the end unless two passes are needed
};

// A reader that fills tables, chunk by chunk.
struct FillReader {
    TableRoom room;
    KelModel* model;
    const char* name;   // the input as messages name it
    KelError* error;    // the first error of the chunks filled; index errors of one pass go to onePass->indexError
    KelChunks* chunks;  // the whole input (one pass) or the chunks loaded at their place (second pass)
    const char* begin;  // the chunk being filled
    const char* end;
    Plan* plan;
    ChunkPlan* current;  // the chunk being filled
    ColorTable* colors;
    MaterialIndex* materials;  // the model's materials; one pass reads libraries into it
    // Entries filled so far (the last index filled), and the room: entries
    // this reader may fill before the table grows (one pass) or the chunk's
    // counted entries end (second pass).
    unsigned numvertices, numnormals, numtexcoords;
    unsigned vertexRoom, normalRoom, texcoordRoom;
    unsigned triangle, triangleRoom;  // the next triangle slot, and the end of the room
    unsigned numobjects, objectRoom;  // objects, line segments and points: as the entries above
    unsigned numlines, lineRoom;
    unsigned numpoints, pointRoom;
    unsigned smoothing;        // current smoothing group
    GroupSpan* span;           // current group's span; null for one the first pass did not see
    unsigned material;         // current material
    int indexDigits;           // digits of the last index read, 1 to 7: the next is likely as long
    ChunkGroups* chunkGroups;  // second pass: the chunk's spans
    OnePass* onePass;          // one pass: what it keeps
};

// Fills the statements of the chunk [r->begin, r->end).
void fillStatements(FillReader* r);

// Marks the one pass given up for `reason`.
inline void needTwoPasses(FillReader* r, TwoPassReason reason) {
    if (r->onePass->reason == NO_REASON) r->onePass->reason = reason;
}

// --- Table sizes (obj_tables.cpp) -------------------------------------------------

// Every table made at the size the first pass counted, zero-filled: the
// triangles' materials when the model has materials, their smoothing groups
// when `smoothing`. False, with the error set, when out of memory.
bool allocateCountedTables(KelModel* model, bool smoothing, KelError* error);
// One pass: every table made with room for more than input of `bytes`
// usually holds. False, with the error set, when out of memory.
bool reserveGrowingTables(FillReader* r, unsigned long long bytes);
// One pass: more room in the table whose count is `*read` (its entries
// `width` floats), and in the colours with the vertices. False, with the
// error set, when out of memory.
bool growEntries(FillReader* r, const unsigned* read, int width);
// One pass: more room in the triangle table (and the triangles' materials
// and smoothing groups) or the current group's list, whichever is full.
// False, with the error set, when out of memory.
bool growTriangles(FillReader* r);
// One pass: a per-triangle table (trimaterials, smoothing) made for the
// triangle table's room, zero-filled. False, with the error set, when out of
// memory.
bool addTriangleTable(FillReader* r, unsigned** table);
// One pass: more room for objects, line segments or points, whichever
// `count` (&r->numobjects, &r->numlines or &r->numpoints) counts. False,
// with the error set, when out of memory.
bool growList(FillReader* r, const unsigned* count);
// One pass: each table cut to what was filled, as two passes make it.
// False, with the error set, when out of memory.
bool cutGrownTables(FillReader* r);
// The end of either road: each object's triangle count, and the smoothing
// table dropped when no triangle has a group other than 0.
void finishTables(KelModel* model);

// --- The passes ----------------------------------------------------------------------

// The first pass (obj_first_pass.cpp): counts, creates the groups in
// `groups` and the model, reads the libraries into `materials`, and plans
// every chunk. False, with the error set, when the read ends.
bool firstPass(const ReadSetup& setup, Progress* progress, KelModel* model, Plan* plan, KelNameIndex* groups,
               MaterialIndex* materials, KelError* error);
// The second pass (obj_second_pass.cpp): fills the planned chunks into
// tables made at their counted size. False, with the error set, when the
// read ends.
bool secondPass(const ReadSetup& setup, Progress* progress, KelModel* model, Plan* plan, MaterialIndex* materials,
                KelError* error);

// The strict pass (strict.cpp), before the others when the options ask for
// strict reading: every statement checked. False, with the error set (or
// the read cancelled), at the first the format does not allow.
bool strictPass(const ReadSetup& setup, Progress* progress, KelError* error);

// How a read in one pass ended.
enum OnePassEnd { ONE_PASS_READ, ONE_PASS_FAILED, ONE_PASS_GIVEN_UP };
// The one pass (obj_one_pass.cpp), for a read on one thread.
OnePassEnd readInOnePass(const ReadSetup& setup, Progress* progress, KelModel* model, KelError* error);

}  // namespace kelobj

#endif  // KEL_OBJ_READER_H
