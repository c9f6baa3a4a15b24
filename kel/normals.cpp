// Vector helpers, facet normals, and vertex normals by crease angle or by
// smoothing group.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kel/kel_internal.h"

#if defined(__SSE2__) && !defined(KEL_NO_SIMD)
#include <emmintrin.h>
#endif

namespace {

float dot(const float* u, const float* v) { return u[0] * v[0] + u[1] * v[1] + u[2] * v[2]; }

void cross(const float* u, const float* v, float* n) {
    n[0] = u[1] * v[2] - u[2] * v[1];
    n[1] = u[2] * v[0] - u[0] * v[2];
    n[2] = u[0] * v[1] - u[1] * v[0];
}

// Brings the largest component of v to 1 when its squared length under- or
// overflows, so the length becomes representable. False for a zero or
// non-finite vector, which is left as it is.
[[gnu::noinline]] bool rescale(float* v) {
    float m = std::fmax(std::fabs(v[0]), std::fmax(std::fabs(v[1]), std::fabs(v[2])));
    if (m == 0.0f || !std::isfinite(m)) return false;
    v[0] /= m;
    v[1] /= m;
    v[2] /= m;
    return true;
}

inline void normalize(float* v) {
    float s = dot(v, v);
    if ((s == 0.0f || std::isinf(s)) && !rescale(v)) return;
    if (s == 0.0f || std::isinf(s)) s = dot(v, v);
    // The single-precision root of a float is the double-precision root
    // rounded to single precision: the same value, computed faster.
    float l = std::sqrt(s);
#if defined(__SSE2__) && !defined(KEL_NO_SIMD)
    // The three quotients in one instruction; each lane is the same IEEE
    // division as the scalar one.
    __m128 q = _mm_div_ps(_mm_setr_ps(v[0], v[1], v[2], 0.0f), _mm_set1_ps(l));
    v[0] = _mm_cvtss_f32(q);
    v[1] = _mm_cvtss_f32(_mm_shuffle_ps(q, q, 1));
    v[2] = _mm_cvtss_f32(_mm_shuffle_ps(q, q, 2));
#else
    v[0] /= l;
    v[1] /= l;
    v[2] /= l;
#endif
}

// The facet normal of triangle t into its entry of model->facetnorms, and
// t + 1 into the triangle's findex.
inline void facetNormal(KelModel* model, unsigned t) {
    KelTriangle* triangle = &model->triangles[t];
    // Stored only when it changes: a repeated call then leaves the triangle
    // table clean in the cache, with nothing to write back.
    if (triangle->findex != t + 1) triangle->findex = t + 1;
    const float* p0 = &model->vertices[3 * size_t(triangle->vindices[0])];
    const float* p1 = &model->vertices[3 * size_t(triangle->vindices[1])];
    const float* p2 = &model->vertices[3 * size_t(triangle->vindices[2])];
    float u[3] = {p1[0] - p0[0], p1[1] - p0[1], p1[2] - p0[2]};
    float v[3] = {p2[0] - p0[0], p2[1] - p0[1], p2[2] - p0[2]};
    float* n = &model->facetnorms[3 * (size_t(t) + 1)];
    cross(u, v, n);
    normalize(n);
}

#if defined(__SSE2__) && !defined(KEL_NO_SIMD)
// The point at p as (x, y, z, 0), loading nothing past p[2].
inline __m128 loadPoint(const float* p) {
    __m128 xy = _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)));
    return _mm_movelh_ps(xy, _mm_load_ss(p + 2));
}

// facetNormal for triangles t to t + 3 at once, lane by lane the same
// operations and so the same results. False, with no normal written, when
// one of them has a squared length of zero or infinity, which only
// facetNormal rescales.
inline bool facetNormals4(KelModel* model, unsigned t) {
    KelTriangle* triangles = &model->triangles[t];
    __m128 p[3][4];  // corner k of triangle i as (x, y, z, 0)
    for (int i = 0; i < 4; i++) {
        if (triangles[i].findex != t + i + 1) triangles[i].findex = t + i + 1;
        for (int k = 0; k < 3; k++) p[k][i] = loadPoint(&model->vertices[3 * size_t(triangles[i].vindices[k])]);
    }
    // Each corner's rows become its x, y and z in the four triangles.
    for (int k = 0; k < 3; k++) _MM_TRANSPOSE4_PS(p[k][0], p[k][1], p[k][2], p[k][3]);
    __m128 ux = _mm_sub_ps(p[1][0], p[0][0]), uy = _mm_sub_ps(p[1][1], p[0][1]), uz = _mm_sub_ps(p[1][2], p[0][2]);
    __m128 vx = _mm_sub_ps(p[2][0], p[0][0]), vy = _mm_sub_ps(p[2][1], p[0][1]), vz = _mm_sub_ps(p[2][2], p[0][2]);
    __m128 nx = _mm_sub_ps(_mm_mul_ps(uy, vz), _mm_mul_ps(uz, vy));
    __m128 ny = _mm_sub_ps(_mm_mul_ps(uz, vx), _mm_mul_ps(ux, vz));
    __m128 nz = _mm_sub_ps(_mm_mul_ps(ux, vy), _mm_mul_ps(uy, vx));
    __m128 s = _mm_add_ps(_mm_add_ps(_mm_mul_ps(nx, nx), _mm_mul_ps(ny, ny)), _mm_mul_ps(nz, nz));
    __m128 extreme = _mm_or_ps(_mm_cmpeq_ps(s, _mm_setzero_ps()), _mm_cmpeq_ps(s, _mm_set1_ps(INFINITY)));
    if (_mm_movemask_ps(extreme)) return false;
    __m128 l = _mm_sqrt_ps(s);
    __m128 n0 = _mm_div_ps(nx, l), n1 = _mm_div_ps(ny, l), n2 = _mm_div_ps(nz, l), n3 = _mm_setzero_ps();
    _MM_TRANSPOSE4_PS(n0, n1, n2, n3);  // now triangle i's normal is ni, as (x, y, z, 0)
    // Stored as x0 y0 z0 x1, y1 z1 x2 y2, z2 x3 y3 z3.
    float* out = &model->facetnorms[3 * (size_t(t) + 1)];
    __m128 z0x1 = _mm_shuffle_ps(n0, n1, _MM_SHUFFLE(0, 0, 2, 2));
    __m128 z2x3 = _mm_shuffle_ps(n2, n3, _MM_SHUFFLE(0, 0, 2, 2));
    _mm_storeu_ps(out, _mm_shuffle_ps(n0, z0x1, _MM_SHUFFLE(2, 0, 1, 0)));
    _mm_storeu_ps(out + 4, _mm_shuffle_ps(n1, n2, _MM_SHUFFLE(1, 0, 2, 1)));
    _mm_storeu_ps(out + 8, _mm_shuffle_ps(z2x3, n3, _MM_SHUFFLE(2, 1, 2, 0)));
    return true;
}
#endif

// Scratch tables of one call, freed by the destructor: each is allocated
// before the model is changed, so that running out of memory leaves it
// as it was.
struct Scratch {
    void* blocks[3] = {nullptr, nullptr, nullptr};
    int used = 0;
    bool failed = false;
    Scratch() = default;
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    ~Scratch() {
        for (int i = 0; i < used; i++) free(blocks[i]);
    }
    // A table of `count` entries of T, zero-filled when `zero`,
    // written before it is read otherwise; null (and failed set) when out
    // of memory.
    template <typename T>
    T* table(size_t count, bool zero = false) {
        void* p = zero ? kelTryAlloc(count, sizeof(T)) : kelTryAllocUninitialized(count, sizeof(T));
        if (!p) failed = true;
        return static_cast<T*>(blocks[used++] = p);
    }
};

// The new normal table of `count` + 1 entries from one of room for more,
// shrunk when the system allows; the model owns it from here on.
void replaceNormals(KelModel* model, float* normals, unsigned count) {
    free(model->normals);
    model->numnormals = count;
    float* shrunk = static_cast<float*>(realloc(normals, 3 * sizeof(float) * (size_t(count) + 1)));
    model->normals = shrunk ? shrunk : normals;
}

}  // namespace

float kelDot(const float* u, const float* v) {
    assert(u);
    assert(v);
    return dot(u, v);
}

void kelCross(const float* u, const float* v, float* n) {
    assert(u);
    assert(v);
    assert(n);
    cross(u, v, n);
}

void kelNormalize(float* v) {
    assert(v);
    normalize(v);
}

int kelFacetNormals(KelModel* model) {
    assert(model);
    assert(model->vertices);
    // A table of the right size is reused; otherwise it is replaced (owned
    // by the model from here on; kelDelete frees it).
    if (!model->facetnorms || model->numfacetnorms != model->numtriangles) {
        float* table = static_cast<float*>(kelTryAlloc(size_t(model->numtriangles) + 1, 3 * sizeof(float)));
        if (!table) return KEL_ERROR_MEMORY;
        free(model->facetnorms);
        model->numfacetnorms = model->numtriangles;
        model->facetnorms = table;
    }
    unsigned t = 0;
#if defined(__SSE2__) && !defined(KEL_NO_SIMD)
    for (; t + 4 <= model->numtriangles; t += 4)
        if (!facetNormals4(model, t))
            for (unsigned i = t; i < t + 4; i++) facetNormal(model, i);
#endif
    for (; t < model->numtriangles; t++) facetNormal(model, t);
    return KEL_OK;
}

namespace {

// Creates the vertex normals into `normals` (room for one per corner) and
// returns how many, or 0 with nothing changed when out of memory (*failed
// set); *alone gets the count of vertices without a triangle. Corner k of
// triangle t is numbered c = 3 t + k, held in an Id whose top bit is free
// for the corner's averaged flag.
template <typename Id>
unsigned vertexNormals(KelModel* model, float threshold, float* normals, bool* failed, unsigned* alone) {
    const Id averaged = Id(1) << (8 * sizeof(Id) - 1);
    const Id end = averaged - 1;
    const unsigned numvertices = model->numvertices;
    const unsigned numtriangles = model->numtriangles;
    KelTriangle* triangles = model->triangles;
    const float* facetnorms = model->facetnorms;

    // One singly linked list of corners per vertex, in two flat arrays:
    // head[v] is the first corner of vertex v's list and next[c] the corner
    // after c (or `end`). Pushing every corner on the front, triangles in
    // order, leaves each list running from the highest-numbered triangle
    // down. A corner whose vertex index names no vertex joins no list and
    // gets normal index 0.
    Scratch scratch;
    Id* head = scratch.table<Id>(size_t(numvertices) + 1);
    Id* next = scratch.table<Id>(3 * size_t(numtriangles) + 1);
    if ((*failed = scratch.failed)) return 0;
    for (size_t i = 0; i <= numvertices; i++) head[i] = end;
    for (unsigned t = 0; t < numtriangles; t++)
        for (int k = 0; k < 3; k++) {
            unsigned v = triangles[t].vindices[k];
            if (v >= 1 && v <= numvertices) {
                Id c = Id(3) * t + Id(k);
                next[c] = head[v];
                head[v] = c;
            } else {
                triangles[t].nindices[k] = 0;
            }
        }

    auto facet = [&](Id c) { return &facetnorms[3 * size_t(triangles[c / 3].findex)]; };
    unsigned m = 1;
    *alone = 0;
    for (unsigned i = 1; i <= numvertices; i++) {
        if (head[i] == end) {
            ++*alone;
            continue;
        }
        // Every corner whose facet normal lies within the threshold of the
        // head's is averaged (the head with itself too); the others each
        // keep a copy of their facet normal.
        float average[3] = {0.0f, 0.0f, 0.0f};
        bool found = false;
        const float* h = facet(head[i]);
        for (Id c = head[i]; c != end; c = next[c] & ~averaged) {
            const float* f = facet(c);
            if (dot(f, h) > threshold) {
                next[c] |= averaged;
                average[0] += f[0];
                average[1] += f[1];
                average[2] += f[2];
                found = true;
            }
        }
        unsigned a = 0;
        if (found) {
            normalize(average);  // a sum of zero stays the zero vector
            memcpy(&normals[3 * size_t(m)], average, sizeof average);
            a = m++;
        }
        for (Id c = head[i]; c != end; c = next[c] & ~averaged) {
            unsigned* nindex = &triangles[c / 3].nindices[c % 3];
            if (next[c] & averaged) {
                *nindex = a;
            } else {
                memcpy(&normals[3 * size_t(m)], facet(c), 3 * sizeof(float));
                *nindex = m++;
            }
        }
    }
    return m - 1;
}

}  // namespace

int kelVertexNormals(KelModel* model, float angle) {
    assert(model);
    assert(model->facetnorms);
    // pi enters in single precision, so 90 degrees gives -4.371139e-8, not 0.
    const float threshold = float(std::cos(double(angle) * double(3.1415927f) / 180.0));

    // At most one normal per corner; only the entries written are touched,
    // and the table is shrunk to the exact count at the end.
    size_t corners = 3 * size_t(model->numtriangles);
    float* normals = static_cast<float*>(kelTryAllocUninitialized(corners + 1, 3 * sizeof(float)));
    if (!normals) return KEL_ERROR_MEMORY;
    bool failed;
    unsigned alone;
    unsigned count = corners < 0x7FFFFFFF ? vertexNormals<uint32_t>(model, threshold, normals, &failed, &alone)
                                          : vertexNormals<uint64_t>(model, threshold, normals, &failed, &alone);
    if (failed) {
        free(normals);
        return KEL_ERROR_MEMORY;
    }
    replaceNormals(model, normals, count);
    // One message for them all: a point cloud with a face would otherwise
    // give a line per point.
    if (alone == 1)
        kelMessage(stderr, "kelVertexNormals(): vertex w/o a triangle");
    else if (alone > 1)
        kelMessage(stderr, "kelVertexNormals(): %u vertices w/o a triangle", alone);
    return KEL_OK;
}

namespace {

// Creates the smoothing-group normals into `normals` (room for one per
// corner) and returns how many, or 0 with nothing changed when out of
// memory (*failed set). Corner k of triangle t is c = 3 t + k. The
// corners of each vertex are gathered in one flat array (vertex v's run
// starts at start[v]), then sorted by smoothing group: a run of one nonzero
// group shares one normal, and each corner of group 0 gets its own copy of
// its facet normal. Sorting keeps a vertex in many groups linear-logarithmic.
template <typename Id>
unsigned smoothingNormals(KelModel* model, float* normals, bool* failed) {
    const unsigned numvertices = model->numvertices;
    const unsigned numtriangles = model->numtriangles;
    KelTriangle* triangles = model->triangles;
    const float* facetnorms = model->facetnorms;
    const unsigned* smoothing = model->smoothing;
    auto group = [&](Id c) { return smoothing ? smoothing[c / 3] : 0u; };
    auto facet = [&](Id c) { return &facetnorms[3 * size_t(triangles[c / 3].findex)]; };

    // Counts per vertex, then run ends, then (filling backwards) run starts.
    // Both tables are had before a corner's normal index changes.
    Scratch scratch;
    size_t* start = scratch.table<size_t>(size_t(numvertices) + 2, true);
    if ((*failed = scratch.failed)) return 0;
    for (unsigned t = 0; t < numtriangles; t++)
        for (unsigned v : triangles[t].vindices)
            if (v >= 1 && v <= numvertices) start[v + 1]++;
    for (size_t v = 1; v <= size_t(numvertices) + 1; v++) start[v] += start[v - 1];
    size_t used = start[numvertices + 1];
    for (size_t v = 0; v <= numvertices; v++) start[v] = start[v + 1];
    Id* corners = scratch.table<Id>(used + 1);
    if ((*failed = scratch.failed)) return 0;
    for (size_t c = 3 * size_t(numtriangles); c-- > 0;) {
        unsigned v = triangles[c / 3].vindices[c % 3];
        if (v >= 1 && v <= numvertices)
            corners[--start[v]] = Id(c);
        else
            triangles[c / 3].nindices[c % 3] = 0;  // a corner that names no vertex gets no normal
    }

    unsigned m = 1;
    for (unsigned v = 1; v <= numvertices; v++) {
        Id* first = corners + start[v];
        Id* last = corners + start[v + 1];
        std::sort(first, last, [&](Id a, Id b) { return group(a) != group(b) ? group(a) < group(b) : a < b; });
        for (Id* c = first; c < last;) {
            Id* runEnd = c + 1;
            if (group(*c) != 0)
                while (runEnd < last && group(*runEnd) == group(*c)) runEnd++;
            float sum[3] = {0.0f, 0.0f, 0.0f};
            for (Id* r = c; r < runEnd; r++) {
                const float* f = facet(*r);
                sum[0] += f[0];
                sum[1] += f[1];
                sum[2] += f[2];
            }
            // A single corner keeps its facet normal as it is.
            if (runEnd - c > 1) normalize(sum);
            memcpy(&normals[3 * size_t(m)], sum, sizeof sum);
            for (; c < runEnd; c++) triangles[*c / 3].nindices[*c % 3] = m;
            m++;
        }
    }
    return m - 1;
}

}  // namespace

int kelSmoothingGroupNormals(KelModel* model) {
    assert(model);
    assert(model->facetnorms);
    size_t corners = 3 * size_t(model->numtriangles);
    float* normals = static_cast<float*>(kelTryAllocUninitialized(corners + 1, 3 * sizeof(float)));
    if (!normals) return KEL_ERROR_MEMORY;
    bool failed;
    unsigned count = corners < 0xFFFFFFFF ? smoothingNormals<uint32_t>(model, normals, &failed)
                                          : smoothingNormals<uint64_t>(model, normals, &failed);
    if (failed) {
        free(normals);
        return KEL_ERROR_MEMORY;
    }
    replaceNormals(model, normals, count);
    return KEL_OK;
}
