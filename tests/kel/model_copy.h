// A plain copy of everything a model holds, for checking that a call which
// ran out of memory left the model exactly as it was; and the loop that
// fails each allocation of a call in turn.
#ifndef ORVANDEL_TESTS_KEL_MODEL_COPY_H
#define ORVANDEL_TESTS_KEL_MODEL_COPY_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kel/alloc.h"
#include "kel/kel.h"

// Every table as plain values, and the table pointers themselves: a call
// that fails must neither change an entry nor replace a table.
struct ModelCopy {
    std::vector<const void*> pointers;
    std::vector<unsigned> counts;
    std::vector<float> floats;
    std::vector<unsigned> indices;
    std::vector<std::string> names;

    explicit ModelCopy(const KelModel* m) {
        pointers = {m->vertices,     m->normals, m->texcoords, m->facetnorms, m->colors,   m->triangles,
                    m->trimaterials, m->lines,   m->points,    m->groups,     m->materials};
        counts = {m->numvertices,  m->numnormals, m->numtexcoords, m->numfacetnorms, m->numtriangles,
                  m->nummaterials, m->numgroups,  m->numlines,     m->numpoints};
        auto addFloats = [&](const float* table, unsigned count, int width) {
            if (table) floats.insert(floats.end(), table, table + size_t(width) * (size_t(count) + 1));
        };
        addFloats(m->vertices, m->numvertices, 3);
        addFloats(m->normals, m->numnormals, 3);
        addFloats(m->texcoords, m->numtexcoords, 2);
        addFloats(m->facetnorms, m->numfacetnorms, 3);
        addFloats(m->colors, m->numvertices, 3);
        for (unsigned t = 0; t < m->numtriangles; t++) {
            const KelTriangle& tri = m->triangles[t];
            for (int k = 0; k < 3; k++)
                indices.insert(indices.end(), {tri.vindices[k], tri.nindices[k], tri.tindices[k]});
            indices.push_back(tri.findex);
        }
        if (m->lines) indices.insert(indices.end(), m->lines, m->lines + 2 * size_t(m->numlines));
        if (m->points) indices.insert(indices.end(), m->points, m->points + m->numpoints);
        for (const KelGroup* g = m->groups; g; g = g->next) {
            names.push_back(g->name);
            pointers.push_back(g);
            indices.push_back(g->material);
            if (g->triangles) indices.insert(indices.end(), g->triangles, g->triangles + g->numtriangles);
        }
    }
    bool operator==(const ModelCopy& o) const {
        // Floats compare by value: the test models hold no NaN.
        return pointers == o.pointers && counts == o.counts && floats == o.floats && indices == o.indices &&
               names == o.names;
    }
};

// Runs `call(m)` with allocation n failing, for n = 1, 2, ..., until a call
// gets through without reaching the failing allocation; every call that
// met it must return KEL_ERROR_MEMORY and leave the model as it was, and
// the last must return KEL_OK. Returns how many allocations the call makes.
template <typename Call>
unsigned long expectEveryFailedAllocationKeepsTheModel(KelModel* m, Call call, const std::string& what) {
    for (unsigned long n = 1;; n++) {
        const ModelCopy before(m);
        kelFailingAllocation = n;
        int result = call(m);
        bool failed = kelFailingAllocation == 0;
        kelFailingAllocation = 0;
        if (!failed) {
            EXPECT_EQ(result, KEL_OK) << what;
            return n - 1;
        }
        EXPECT_EQ(result, KEL_ERROR_MEMORY) << what << ", allocation " << n;
        EXPECT_TRUE(ModelCopy(m) == before) << what << ": changed after allocation " << n << " failed";
        if (n > 100) {
            ADD_FAILURE() << what << " never gets through";
            return n;
        }
    }
}

#endif  // ORVANDEL_TESTS_KEL_MODEL_COPY_H
