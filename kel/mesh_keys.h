// The key search that both ways of making a mesh share: the keys (one per
// distinct index combination), the parts of the positions that threads
// search, and the work they share; and kelLoadMesh's way of making the
// index array in place of the triangle table.
#ifndef KEL_MESH_KEYS_H
#define KEL_MESH_KEYS_H

#include <cstddef>
#include <cstdint>

#include "kel/kel_internal.h"

namespace kelmesh {

// One distinct combination of indices. `next` links the keys of one
// position while they are being found (local number + 1, 0 at the end of
// the chain) and holds the key's vertex number once they are ranked.
struct Key {
    unsigned v, n, t;
    unsigned next;
};

// A fault found in a part, at corner `corner` in drawing order.
struct Fault {
    int code = KEL_OK;
    uint64_t corner = UINT64_MAX;
    unsigned triangle = 0, index = 0, count = 0;
    const char* kind = nullptr;  // "vertex", ...; null for a triangle that the group names out of range
    const KelGroup* group = nullptr;
};

struct Part {
    unsigned lo, span;  // the positions lo to lo + span of this part; the last one's reaches every index
    Key* keys;          // owned: the part's keys in first-use order
    unsigned* firsts;   // owned: the corner (in drawing order) that first used each key; null for one part alone
    unsigned numkeys, capacity;
    Fault fault;
};

// What the threads share: the model, what the mode takes from it, and the
// work.
struct Job {
    const KelModel* model;
    bool useNormals, useFacets, useTexcoords, useColors;
    const KelGroup** groups;  // owned: the groups with triangles, in list order
    uint64_t* bases;          // owned: the first corner of each of them
    size_t numgroups;
    unsigned numcorners;
    unsigned* head;     // owned: per position, its newest key (local number + 1), 0 for none
    unsigned* indices;  // the mesh's: a corner's local key, then its vertex
    Part* parts;        // owned
    unsigned numparts;
    KelMesh* mesh;
};

// Doubles the part's room for keys; false when out of memory.
bool grow(Part& part);

// The local number of the key of corner k of `triangle` (number t, at
// `corner` in drawing order, position v), the key added when new; false
// with part.fault set for an index outside its table or when out of memory.
inline bool lookupKey(const Job& job, Part& part, unsigned corner, const KelTriangle& triangle, unsigned t, unsigned k,
                      unsigned v, unsigned* id) {
    const KelModel* model = job.model;
    const unsigned numnormals = job.useFacets ? model->numfacetnorms : model->numnormals;
    if (v > model->numvertices) {
        part.fault = {KEL_ERROR_INDEX, corner, t, v, model->numvertices, "vertex", nullptr};
        return false;
    }
    unsigned n = job.useNormals ? (job.useFacets ? triangle.findex : triangle.nindices[k]) : 0;
    unsigned tc = job.useTexcoords ? triangle.tindices[k] : 0;
    if (n > numnormals || tc > model->numtexcoords) {
        bool normal = n > numnormals;
        part.fault = {KEL_ERROR_INDEX,
                      corner,
                      t,
                      normal ? n : tc,
                      normal ? numnormals : model->numtexcoords,
                      normal ? (job.useFacets ? "facet normal" : "normal") : "texture coordinate",
                      nullptr};
        return false;
    }
    unsigned* head = job.head;
    unsigned h = head[v];
    while (h && (part.keys[h - 1].n != n || part.keys[h - 1].t != tc)) h = part.keys[h - 1].next;
    if (!h) {
        if (part.numkeys == part.capacity && !grow(part)) {
            part.fault.code = KEL_ERROR_MEMORY;
            return false;
        }
        if (part.firsts) part.firsts[part.numkeys] = corner;
        part.keys[part.numkeys] = Key{v, n, tc, head[v]};
        h = head[v] = ++part.numkeys;
    }
    *id = h - 1;
    return true;
}

// A stretch of consecutive triangles of the table that a group draws in
// one piece.
struct Run {
    unsigned first, count;
};

// The drawing order as runs of consecutive triangles, in *runs (owned by
// the caller; *numruns of them), when they draw every triangle of the table
// once and there are at most one per eight triangles, so that they take
// less room than the group lists they stand for; else *runs is null (a
// loaded model's groups always draw each triangle once, but may take
// turns too often). False, with the error set, when out of memory.
bool tableRuns(const KelModel* model, Run** runs, size_t* numruns, KelError* error);

// Whether the runs follow each other in the table.
bool inTableOrder(const Run* runs, size_t numruns);

// kelLoadMesh's way when the groups draw every triangle of the table once
// (in runs, see tableRuns): one thread walks the triangles in table order,
// finds each corner's key (one part holds them all, numbered in the order
// of that walk) and writes the three key numbers at the front of the
// triangle table itself, 12 bytes where a 40-byte triangle was, so never
// over one not yet read. The pages between that front and the next
// triangle to read are given back to the system as it goes, and the table
// becomes the index array: so the mesh takes little more memory than the
// model did. Returns the index array, or null with part.fault set (the
// table then holds nothing of use).
unsigned* streamKeys(Job& job, Part& part, KelTriangle* triangles, unsigned count);

// After streamKeys, for runs out of table order: the index array (in
// mesh->indices, the local keys of the table's corners) put in drawing
// order, and each key's vertex number, its rank in the order drawing first
// uses the keys, in its `next`. False when out of memory.
bool putInDrawingOrder(Job& job, Part& part, const Run* runs, size_t numruns);

// Copies of the model's materials into the mesh; false, with the error set,
// when out of memory.
bool copyMaterials(const KelModel* model, KelMesh* mesh, KelError* error);

// The mesh's ranges (mesh_ranges.cpp): the runs of one material in each of
// the job's groups, in drawing order, with the groups' names in the same
// allocation. False, with the error set, when out of memory or at a
// material outside the model's table.
bool makeRanges(const Job& job, KelMesh* mesh, KelError* error);

}  // namespace kelmesh

#endif  // KEL_MESH_KEYS_H
