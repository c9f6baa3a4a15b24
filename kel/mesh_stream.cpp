// kelLoadMesh's way of making a mesh from a model it lets go: the triangle
// table turned into the index array in place, on one thread, then put in
// drawing order.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "kel/mesh_keys.h"

namespace kelmesh {

unsigned* streamKeys(Job& job, Part& part, KelTriangle* triangles, unsigned count) {
    unsigned* out = reinterpret_cast<unsigned*>(triangles);
    const uintptr_t page = uintptr_t(sysconf(_SC_PAGESIZE));
    uintptr_t released = 0;  // pages are given back up to here
    for (unsigned t = 0; t < count; t++) {
        const KelTriangle triangle = triangles[t];  // a copy: its place is written over below
        unsigned ids[3];
        for (unsigned k = 0; k < 3; k++)
            if (!lookupKey(job, part, 3 * t + k, triangle, t, k, triangle.vindices[k], &ids[k])) return nullptr;
        memcpy(&out[3 * size_t(t)], ids, sizeof ids);
        if ((t & 0xFFFF) == 0xFFFF || t + 1 == count) {
            uintptr_t written = uintptr_t(&out[3 * (size_t(t) + 1)]), unread = uintptr_t(&triangles[t + 1]);
            uintptr_t from = (written + page - 1) & ~(page - 1), to = unread & ~(page - 1);
            if (from < released) from = released;
            if (from < to) {
                madvise(reinterpret_cast<void*>(from), to - from, MADV_DONTNEED);
                released = to;
            }
        }
    }
    // Shrunk to the indices (a shrink that fails keeps the larger block).
    unsigned* indices = static_cast<unsigned*>(realloc(triangles, 3 * sizeof(unsigned) * size_t(count)));
    return indices ? indices : out;
}

bool tableRuns(const KelModel* model, Run** runs, size_t* numruns, KelError* error) {
    *runs = nullptr;
    size_t count = 0;
    uint64_t drawn = 0;
    for (const KelGroup* g = model->groups; g; g = g->next) {
        for (unsigned i = 0; i < g->numtriangles; i++)
            if (i == 0 || g->triangles[i] != g->triangles[i - 1] + 1) count++;
        drawn += g->numtriangles;
    }
    if (drawn != model->numtriangles || count == 0 || count > model->numtriangles / 8 + 1) return true;
    // The runs, then a copy sorted by their first triangle to check that
    // they tile the table.
    Run* block = static_cast<Run*>(kelTryAlloc(2 * count, sizeof(Run)));
    if (!block) return kelSetMemoryError(error, 2 * count, sizeof(Run)), false;
    Run* run = block;
    for (const KelGroup* g = model->groups; g; g = g->next)
        for (unsigned i = 0; i < g->numtriangles; i++) {
            if (i == 0 || g->triangles[i] != g->triangles[i - 1] + 1) *run++ = Run{g->triangles[i], 0};
            run[-1].count++;
        }
    Run* sorted = block + count;
    std::copy(block, block + count, sorted);
    std::sort(sorted, sorted + count, [](const Run& a, const Run& b) { return a.first < b.first; });
    uint64_t next = 0;
    for (size_t i = 0; i < count && sorted[i].first == next; i++) next += sorted[i].count;
    if (next != model->numtriangles) {
        free(block);
        return true;
    }
    *runs = block;
    *numruns = count;
    return true;
}

bool inTableOrder(const Run* runs, size_t numruns) {
    for (size_t i = 1; i < numruns; i++)
        if (runs[i].first != runs[i - 1].first + runs[i - 1].count) return false;
    return true;
}

bool putInDrawingOrder(Job& job, Part& part, const Run* runs, size_t numruns) {
    unsigned* rank = static_cast<unsigned*>(kelTryAlloc(size_t(part.numkeys) + 1, sizeof(unsigned)));
    unsigned* out = static_cast<unsigned*>(kelTryAlloc(job.numcorners, sizeof(unsigned)));
    if (!rank || !out) {
        free(rank);
        free(out);
        return false;
    }
    memset(rank, 0xFF, sizeof(unsigned) * part.numkeys);
    const unsigned* in = job.mesh->indices;
    unsigned next = 0, *to = out;
    for (size_t r = 0; r < numruns; r++) {
        const unsigned* from = &in[3 * size_t(runs[r].first)];
        for (size_t c = 0; c < 3 * size_t(runs[r].count); c++) {
            unsigned& vertex = rank[from[c]];
            if (vertex == UINT32_MAX) vertex = next++;
            *to++ = vertex;
        }
    }
    for (unsigned j = 0; j < part.numkeys; j++) part.keys[j].next = rank[j];
    free(rank);
    free(job.mesh->indices);
    job.mesh->indices = out;
    return true;
}

}  // namespace kelmesh
