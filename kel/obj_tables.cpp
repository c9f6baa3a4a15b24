// The OBJ reader's table sizes: every table made once at the size the first
// pass counted, or (one pass) made large, grown as it fills, and cut to
// what was filled at the end.
#include <unistd.h>

#include <cassert>

#include "kel/obj_reader.h"

namespace kelobj {

bool allocateCountedTables(KelModel* model, bool smoothing, KelError* error) {
    // Every table zero-filled: numbers that fail to parse and index kinds a
    // face does not carry read as 0. The vertex and triangle tables are
    // always made, the triangles' materials whenever the model has
    // materials; the others only when the file has entries for them.
    KelModel* m = model;
    size_t perTriangle = m->numtriangles ? m->numtriangles : 1;
    struct {
        void** table;
        size_t count, size;
    } tables[] = {
        {reinterpret_cast<void**>(&m->vertices), 3 * (size_t(m->numvertices) + 1), sizeof(float)},
        {reinterpret_cast<void**>(&m->triangles), m->numtriangles, sizeof(KelTriangle)},
        {reinterpret_cast<void**>(&m->normals), m->numnormals ? 3 * (size_t(m->numnormals) + 1) : 0, sizeof(float)},
        {reinterpret_cast<void**>(&m->texcoords), m->numtexcoords ? 2 * (size_t(m->numtexcoords) + 1) : 0,
         sizeof(float)},
        {reinterpret_cast<void**>(&m->trimaterials), m->materials ? perTriangle : 0, sizeof(unsigned)},
        {reinterpret_cast<void**>(&m->smoothing), smoothing ? perTriangle : 0, sizeof(unsigned)},
        {reinterpret_cast<void**>(&m->objects), m->numobjects, sizeof(KelObject)},
        {reinterpret_cast<void**>(&m->lines), 2 * size_t(m->numlines), sizeof(unsigned)},
        {reinterpret_cast<void**>(&m->points), m->numpoints, sizeof(unsigned)},
    };
    for (size_t i = 0; i < sizeof tables / sizeof tables[0]; i++) {
        if (i >= 2 && tables[i].count == 0) continue;
        if (!(*tables[i].table = kelTryAlloc(tables[i].count, tables[i].size)))
            return kelSetMemoryError(error, tables[i].count, tables[i].size), false;
    }
    return true;
}

// One pass: doubles the room of a table of `*room` entries of `size` bytes
// (and an entry 0 when `oneBased`), or makes room for `least` in an empty
// one. The new room is not cleared. False, with the error set, when out of
// memory or past the largest count the model holds. Kept out of line, so
// that the statement readers around the rare growth stay small.
[[gnu::noinline]] static bool doubleRoom(KelError* error, void** table, unsigned* room, size_t size, bool oneBased,
                                         size_t least) {
    size_t more = *room ? 2 * size_t(*room) : least;
    if (more > 0xFFFFFFFEu) more = 0xFFFFFFFEu;  // the counts are unsigned
    size_t count = more + oneBased;
    void* grown = more > *room ? kelTryRealloc(*table, count * size) : nullptr;
    if (!grown) return kelSetMemoryError(error, count, size), false;
    kelAdviseHugePages(grown, count * size);
    *table = grown;
    *room = unsigned(more);
    return true;
}

bool growEntries(FillReader* r, const unsigned* read, int width) {
    assert(r->room == ROOM_GROWING);
    KelModel* m = r->model;
    float** table = read == &r->numvertices ? &m->vertices : read == &r->numnormals ? &m->normals : &m->texcoords;
    unsigned* room = read == &r->numvertices  ? &r->vertexRoom
                     : read == &r->numnormals ? &r->normalRoom
                                              : &r->texcoordRoom;
    unsigned before = *room;
    if (!doubleRoom(r->error, reinterpret_cast<void**>(table), room, width * sizeof(float), true, 1024)) return false;
    float* colors = r->colors->colors.load(std::memory_order_relaxed);
    if (table == &m->vertices && colors) {
        size_t floats = 3 * (size_t(*room) + 1);
        if (!(colors = static_cast<float*>(kelTryRealloc(colors, floats * sizeof(float)))))
            return kelSetMemoryError(r->error, floats, sizeof(float)), false;
        for (size_t i = 3 * (size_t(before) + 1); i < floats; i++) colors[i] = 1;
        r->colors->colors.store(colors, std::memory_order_relaxed);
    }
    return true;
}

// The triangle table's new room is cleared, as faces do not write every
// index; a group's list starts with room for 8: files of many small groups
// are common.
bool growTriangles(FillReader* r) {
    assert(r->room == ROOM_GROWING && r->span);
    KelModel* m = r->model;
    unsigned before = r->triangleRoom;
    if (r->triangle == r->triangleRoom) {
        if (!doubleRoom(r->error, reinterpret_cast<void**>(&m->triangles), &r->triangleRoom, sizeof(KelTriangle), false,
                        1024))
            return false;
        memset(m->triangles + before, 0, (r->triangleRoom - before) * sizeof(KelTriangle));
        // Every triangle stored writes its material and smoothing group.
        for (unsigned** table : {&m->trimaterials, &m->smoothing}) {
            if (!*table) continue;
            void* grown = kelTryRealloc(*table, size_t(r->triangleRoom) * sizeof(unsigned));
            if (!grown) return kelSetMemoryError(r->error, r->triangleRoom, sizeof(unsigned)), false;
            *table = static_cast<unsigned*>(grown);
        }
    }
    GroupSpan* span = r->span;
    return span->filled < span->count || doubleRoom(r->error, reinterpret_cast<void**>(&span->group->triangles),
                                                    &span->count, sizeof(unsigned), false, 8);
}

bool addTriangleTable(FillReader* r, unsigned** table) {
    assert(r->room == ROOM_GROWING && !*table);
    size_t count = r->triangleRoom ? r->triangleRoom : 1;
    if (!(*table = static_cast<unsigned*>(kelTryAlloc(count, sizeof(unsigned)))))
        return kelSetMemoryError(r->error, count, sizeof(unsigned)), false;
    return true;
}

bool growList(FillReader* r, const unsigned* count) {
    assert(r->room == ROOM_GROWING);
    KelModel* m = r->model;
    if (count == &r->numobjects)
        return doubleRoom(r->error, reinterpret_cast<void**>(&m->objects), &r->objectRoom, sizeof(KelObject), false,
                          16);
    if (count == &r->numlines)
        return doubleRoom(r->error, reinterpret_cast<void**>(&m->lines), &r->lineRoom, 2 * sizeof(unsigned), false,
                          256);
    return doubleRoom(r->error, reinterpret_cast<void**>(&m->points), &r->pointRoom, sizeof(unsigned), false, 256);
}

// `*block` cut to `bytes` (a cut that fails keeps the larger block).
template <typename T>
static void shrinkBlock(T** block, size_t bytes) {
    if (void* cut = realloc(*block, bytes)) *block = static_cast<T*>(cut);
}

// Normals and texture coordinates are kept only when entries were read, and
// every group has a triangle list.
bool cutGrownTables(FillReader* r) {
    KelModel* m = r->model;
    m->numvertices = r->numvertices, m->numnormals = r->numnormals, m->numtexcoords = r->numtexcoords;
    m->numtriangles = r->triangle;
    shrinkBlock(&m->vertices, 3 * (size_t(m->numvertices) + 1) * sizeof(float));
    if (m->colors) shrinkBlock(&m->colors, 3 * (size_t(m->numvertices) + 1) * sizeof(float));
    shrinkBlock(&m->triangles, (m->numtriangles ? m->numtriangles : 1) * sizeof(KelTriangle));
    if (!m->numnormals) free(m->normals), m->normals = nullptr;
    if (!m->numtexcoords) free(m->texcoords), m->texcoords = nullptr;
    if (m->normals) shrinkBlock(&m->normals, 3 * (size_t(m->numnormals) + 1) * sizeof(float));
    if (m->texcoords) shrinkBlock(&m->texcoords, 2 * (size_t(m->numtexcoords) + 1) * sizeof(float));
    size_t perTriangle = (m->numtriangles ? m->numtriangles : 1) * sizeof(unsigned);
    if (m->trimaterials) shrinkBlock(&m->trimaterials, perTriangle);
    if (m->smoothing) shrinkBlock(&m->smoothing, perTriangle);
    // Objects, lines and points are kept only when the file has them.
    m->numobjects = r->numobjects, m->numlines = r->numlines, m->numpoints = r->numpoints;
    if (!m->numobjects) free(m->objects), m->objects = nullptr;
    if (!m->numlines) free(m->lines), m->lines = nullptr;
    if (!m->numpoints) free(m->points), m->points = nullptr;
    if (m->objects) shrinkBlock(&m->objects, m->numobjects * sizeof(KelObject));
    if (m->lines) shrinkBlock(&m->lines, 2 * size_t(m->numlines) * sizeof(unsigned));
    if (m->points) shrinkBlock(&m->points, m->numpoints * sizeof(unsigned));
    for (size_t i = 0; i < r->plan->numspans; i++) {
        GroupSpan& span = r->plan->spans[i];
        span.group->numtriangles = span.filled;
        if (span.filled) shrinkBlock(&span.group->triangles, span.filled * sizeof(unsigned));
    }
    for (KelGroup* g = m->groups; g; g = g->next)
        if (!g->triangles && !(g->triangles = static_cast<unsigned*>(kelTryAlloc(1, sizeof(unsigned)))))
            return kelSetMemoryError(r->error, 1, sizeof(unsigned)), false;
    return true;
}

// One pass: every table made with room for more than input of this size
// usually holds (a vertex line or a triangle takes 16 bytes or more), so
// that they seldom grow. Large tables come straight from the system, and
// their pages that are never written cost nothing; still, no table asks for
// more than a sixteenth of the machine's memory, which the system grants
// even where it refuses room it could never back. False, with the error
// set, when out of memory.
bool reserveGrowingTables(FillReader* r, unsigned long long bytes) {
    KelModel* m = r->model;
    long pages = sysconf(_SC_PHYS_PAGES), pageSize = sysconf(_SC_PAGESIZE);
    unsigned long long memory = pages > 0 && pageSize > 0 ? (unsigned long long)pages * pageSize : 1ull << 30;
    unsigned long long most = memory / 16 / sizeof(KelTriangle);
    if (most > (1ull << 30)) most = 1ull << 30;  // counts are unsigned
    size_t entries = size_t(bytes / 16 < most ? bytes / 16 : most) + 1024;
    struct {
        void** table;
        unsigned* room;
        size_t count, size;
    } tables[] = {
        {reinterpret_cast<void**>(&m->vertices), &r->vertexRoom, entries + 1, 3 * sizeof(float)},
        {reinterpret_cast<void**>(&m->normals), &r->normalRoom, entries + 1, 3 * sizeof(float)},
        {reinterpret_cast<void**>(&m->texcoords), &r->texcoordRoom, entries + 1, 2 * sizeof(float)},
        {reinterpret_cast<void**>(&m->triangles), &r->triangleRoom, entries, sizeof(KelTriangle)},
    };
    for (auto& t : tables) {
        if (!(*t.table = kelTryAlloc(t.count, t.size))) return kelSetMemoryError(r->error, t.count, t.size), false;
        *t.room = unsigned(entries);
    }
    return true;
}

void finishTables(KelModel* model) {
    KelObject* objects = model->objects;
    for (unsigned i = 0; i < model->numobjects; i++)
        objects[i].count = (i + 1 < model->numobjects ? objects[i + 1].first : model->numtriangles) - objects[i].first;
    if (model->smoothing) {
        unsigned t = 0;
        while (t < model->numtriangles && model->smoothing[t] == 0) t++;
        if (t == model->numtriangles) free(model->smoothing), model->smoothing = nullptr;
    }
}

}  // namespace kelobj
