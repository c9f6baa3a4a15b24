// Vector helpers, facet normals and crease-angle vertex normals.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kel/kel_internal.h"

float kelDot(const float* u, const float* v) {
    assert(u);
    assert(v);
    return u[0] * v[0] + u[1] * v[1] + u[2] * v[2];
}

void kelCross(const float* u, const float* v, float* n) {
    assert(u);
    assert(v);
    assert(n);
    n[0] = u[1] * v[2] - u[2] * v[1];
    n[1] = u[2] * v[0] - u[0] * v[2];
    n[2] = u[0] * v[1] - u[1] * v[0];
}

void kelNormalize(float* v) {
    assert(v);
    float s = v[0] * v[0] + v[1] * v[1] + v[2] * v[2];
    if (s == 0.0f || std::isinf(s)) {
        // The squared length under- or overflowed (or the vector is zero):
        // bring the largest component to 1 first so the length is
        // representable. A zero vector stays zero, a non-finite one as it is.
        float m = std::fmax(std::fabs(v[0]), std::fmax(std::fabs(v[1]), std::fabs(v[2])));
        if (m == 0.0f || !std::isfinite(m)) return;
        v[0] /= m;
        v[1] /= m;
        v[2] /= m;
        s = v[0] * v[0] + v[1] * v[1] + v[2] * v[2];
    }
    float l = float(std::sqrt(double(s)));
    v[0] /= l;
    v[1] /= l;
    v[2] /= l;
}

void kelFacetNormals(KelModel* model) {
    assert(model);
    assert(model->vertices);
    free(model->facetnorms);
    model->numfacetnorms = model->numtriangles;
    // Owned by the model from here on; kelDelete frees it.
    model->facetnorms = static_cast<float*>(kelAlloc(size_t(model->numfacetnorms) + 1, 3 * sizeof(float)));
    const float* vertices = model->vertices;
    for (unsigned t = 0; t < model->numtriangles; t++) {
        KelTriangle* triangle = &model->triangles[t];
        triangle->findex = t + 1;
        const float* p0 = &vertices[3 * size_t(triangle->vindices[0])];
        const float* p1 = &vertices[3 * size_t(triangle->vindices[1])];
        const float* p2 = &vertices[3 * size_t(triangle->vindices[2])];
        float u[3] = {p1[0] - p0[0], p1[1] - p0[1], p1[2] - p0[2]};
        float v[3] = {p2[0] - p0[0], p2[1] - p0[1], p2[2] - p0[2]};
        float* n = &model->facetnorms[3 * (size_t(t) + 1)];
        kelCross(u, v, n);
        kelNormalize(n);
    }
}

// One triangle corner in a vertex's list: the triangle (0-based) and which of
// its corners names the vertex, so a triangle that names one vertex at two
// corners gets a normal index at both.
struct KelNormalNode {
    unsigned index;
    unsigned char corner;
    unsigned char averaged;
};

void kelVertexNormals(KelModel* model, float angle) {
    assert(model);
    assert(model->facetnorms);
    // pi enters in single precision, so 90 degrees gives -4.371139e-8, not 0.
    const float threshold = float(std::cos(double(angle) * double(3.1415927f) / 180.0));
    const unsigned numvertices = model->numvertices;
    const unsigned numtriangles = model->numtriangles;
    KelTriangle* triangles = model->triangles;
    const float* facetnorms = model->facetnorms;

    free(model->normals);
    // At most one normal per corner; shrunk to the exact count at the end.
    float* normals = static_cast<float*>(kelAlloc(3 * size_t(numtriangles) + 1, 3 * sizeof(float)));

    // Per-vertex lists as one flat array: vertex i's nodes are
    // nodes[first[i] .. first[i + 1]). Each list runs from the corner added
    // last to the corner added first (the highest-numbered triangle first),
    // so it is filled walking the triangles backwards. A corner whose vertex
    // index names no vertex joins no list and gets normal index 0.
    size_t* first = static_cast<size_t*>(kelAlloc(size_t(numvertices) + 3, sizeof(size_t)));
    for (unsigned t = 0; t < numtriangles; t++)
        for (int k = 0; k < 3; k++) {
            unsigned v = triangles[t].vindices[k];
            if (v >= 1 && v <= numvertices) first[size_t(v) + 2]++;
        }
    // first[v + 1] becomes the start of vertex v's list; filling advances it
    // to the end, which leaves first[v] .. first[v + 1] as the list.
    for (size_t i = 3; i <= size_t(numvertices) + 2; i++) first[i] += first[i - 1];
    KelNormalNode* nodes =
        static_cast<KelNormalNode*>(kelAlloc(first[size_t(numvertices) + 2], sizeof(KelNormalNode)));
    for (unsigned t = numtriangles; t-- > 0;)
        for (int k = 3; k-- > 0;) {
            unsigned v = triangles[t].vindices[k];
            if (v >= 1 && v <= numvertices)
                nodes[first[size_t(v) + 1]++] = KelNormalNode{t, static_cast<unsigned char>(k), 0};
            else
                triangles[t].nindices[k] = 0;
        }

    unsigned m = 1;
    for (unsigned i = 1; i <= numvertices; i++) {
        KelNormalNode* begin = nodes + first[i];
        KelNormalNode* end = nodes + first[i + 1];
        if (begin == end) {
            fputs("kelVertexNormals(): vertex w/o a triangle\n", stderr);
            continue;
        }
        float average[3] = {0.0f, 0.0f, 0.0f};
        bool found = false;
        const float* head = &facetnorms[3 * size_t(triangles[begin->index].findex)];
        for (KelNormalNode* node = begin; node != end; node++) {
            const float* f = &facetnorms[3 * size_t(triangles[node->index].findex)];
            float d = kelDot(f, head);
            node->averaged = d > threshold;
            if (node->averaged) {
                average[0] += f[0];
                average[1] += f[1];
                average[2] += f[2];
                found = true;
            }
        }
        unsigned a = 0;
        if (found) {
            kelNormalize(average);  // a sum of zero stays the zero vector
            memcpy(&normals[3 * size_t(m)], average, sizeof average);
            a = m++;
        }
        for (KelNormalNode* node = begin; node != end; node++) {
            KelTriangle* triangle = &triangles[node->index];
            if (node->averaged) {
                triangle->nindices[node->corner] = a;
            } else {
                memcpy(&normals[3 * size_t(m)], &facetnorms[3 * size_t(triangle->findex)], 3 * sizeof(float));
                triangle->nindices[node->corner] = m++;
            }
        }
    }
    free(nodes);
    free(first);

    model->numnormals = m - 1;
    // The table keeps exactly numnormals + 1 entries; owned by the model.
    float* shrunk = static_cast<float*>(realloc(normals, 3 * sizeof(float) * size_t(m)));
    model->normals = shrunk ? shrunk : normals;
}
