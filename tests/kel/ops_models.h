// Small hand-built models for the tests of the model operations.
#ifndef ORVANDEL_TESTS_KEL_OPS_MODELS_H
#define ORVANDEL_TESTS_KEL_OPS_MODELS_H

#include <array>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "kel/kel.h"

using Vec3 = std::array<float, 3>;
using Tri = std::array<unsigned, 3>;

// A model with the given vertices (numbered from 1) and triangles, all in one
// group "default". Free it with kelDelete.
inline KelModel* makeModel(const std::vector<Vec3>& vertices, const std::vector<Tri>& triangles) {
    KelModel* m = static_cast<KelModel*>(calloc(1, sizeof(KelModel)));
    m->pathname = strdup("test.obj");
    m->numvertices = unsigned(vertices.size());
    m->vertices = static_cast<float*>(calloc(vertices.size() + 1, 3 * sizeof(float)));
    for (size_t i = 0; i < vertices.size(); i++) memcpy(&m->vertices[3 * (i + 1)], vertices[i].data(), sizeof(Vec3));
    m->numtriangles = unsigned(triangles.size());
    m->triangles = static_cast<KelTriangle*>(calloc(triangles.size() + 1, sizeof(KelTriangle)));
    KelGroup* group = kelAddGroup(m, "default");
    group->triangles = static_cast<unsigned*>(calloc(triangles.size() + 1, sizeof(unsigned)));
    for (size_t t = 0; t < triangles.size(); t++) {
        for (int k = 0; k < 3; k++) m->triangles[t].vindices[k] = triangles[t][k];
        group->triangles[group->numtriangles++] = unsigned(t);
    }
    return m;
}

// Entry i (1-based) of a table of 3-float entries.
inline Vec3 entry(const float* table, unsigned i) { return {table[3 * i], table[3 * i + 1], table[3 * i + 2]}; }

// A 1-based table of 3-float entries as given (entry 0 zero); free() it.
inline float* makeTable(const std::vector<Vec3>& entries) {
    float* table = static_cast<float*>(calloc(entries.size() + 1, 3 * sizeof(float)));
    for (size_t i = 0; i < entries.size(); i++) memcpy(&table[3 * (i + 1)], entries[i].data(), sizeof(Vec3));
    return table;
}

#endif  // ORVANDEL_TESTS_KEL_OPS_MODELS_H
