// The model operations on generated meshes: normals, welding, texture
// coordinates and the OBJ writer, each beside a peer in the same run (a
// plain pass written here, meshoptimizer's exact-match vertex remap, or a
// plain fprintf writer of the same text).
#include <benchmark/benchmark.h>
#include <meshoptimizer.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "kel/kel.h"

namespace {

// A wavy height field of about `triangles` triangles (two per grid square),
// all in one group.
KelModel* gridModel(long triangles) {
    unsigned side = unsigned(std::sqrt(triangles / 2.0));
    unsigned n = side + 1;
    KelModel* m = static_cast<KelModel*>(calloc(1, sizeof(KelModel)));
    m->numvertices = n * n;
    m->vertices = static_cast<float*>(calloc(size_t(m->numvertices) + 1, 3 * sizeof(float)));
    for (unsigned y = 0; y < n; y++)
        for (unsigned x = 0; x < n; x++) {
            float* v = &m->vertices[3 * (size_t(y) * n + x + 1)];
            v[0] = x * 0.01f;
            v[1] = y * 0.01f;
            v[2] = 0.2f * std::sin(x * 0.05f) * std::cos(y * 0.07f);
        }
    m->numtriangles = 2 * side * side;
    m->triangles = static_cast<KelTriangle*>(calloc(m->numtriangles, sizeof(KelTriangle)));
    KelGroup* group = kelAddGroup(m, "grid");
    group->triangles = static_cast<unsigned*>(malloc(sizeof(unsigned) * m->numtriangles));
    for (unsigned y = 0; y < side; y++)
        for (unsigned x = 0; x < side; x++) {
            unsigned a = y * n + x + 1, b = a + 1, c = a + n, d = c + 1;
            unsigned t = 2 * (y * side + x);
            m->triangles[t] = KelTriangle{{a, b, d}, {}, {}, 0};
            m->triangles[t + 1] = KelTriangle{{a, d, c}, {}, {}, 0};
            group->triangles[t] = t;
            group->triangles[t + 1] = t + 1;
        }
    group->numtriangles = m->numtriangles;
    return m;
}

void setTriangles(benchmark::State& state, const KelModel* m) {
    state.SetItemsProcessed(int64_t(state.iterations()) * m->numtriangles);
    state.counters["triangles"] = m->numtriangles;
}

// --- Normals -------------------------------------------------------------------

void BM_FacetNormals(benchmark::State& state) {
    KelModel* m = gridModel(state.range(0));
    for (auto _ : state) {
        kelFacetNormals(m);
        benchmark::DoNotOptimize(m->facetnorms);
    }
    setTriangles(state, m);
    kelDelete(m);
}

// Cross product and normalisation per triangle into a preallocated table.
void BM_PlainFacetNormals(benchmark::State& state) {
    KelModel* m = gridModel(state.range(0));
    std::vector<float> out(3 * (size_t(m->numtriangles) + 1));
    for (auto _ : state) {
        const float* v = m->vertices;
        for (unsigned t = 0; t < m->numtriangles; t++) {
            const unsigned* c = m->triangles[t].vindices;
            const float *p0 = &v[3 * c[0]], *p1 = &v[3 * c[1]], *p2 = &v[3 * c[2]];
            float ux = p1[0] - p0[0], uy = p1[1] - p0[1], uz = p1[2] - p0[2];
            float vx = p2[0] - p0[0], vy = p2[1] - p0[1], vz = p2[2] - p0[2];
            float nx = uy * vz - uz * vy, ny = uz * vx - ux * vz, nz = ux * vy - uy * vx;
            float l = std::sqrt(nx * nx + ny * ny + nz * nz);
            float* n = &out[3 * (size_t(t) + 1)];
            n[0] = nx / l;
            n[1] = ny / l;
            n[2] = nz / l;
        }
        benchmark::DoNotOptimize(out.data());
    }
    setTriangles(state, m);
    kelDelete(m);
}

void BM_VertexNormals90(benchmark::State& state) {
    KelModel* m = gridModel(state.range(0));
    kelFacetNormals(m);
    for (auto _ : state) {
        kelVertexNormals(m, 90);
        benchmark::DoNotOptimize(m->normals);
    }
    setTriangles(state, m);
    kelDelete(m);
}

// Adds each facet normal to its three vertices, then normalises every vertex.
void BM_PlainVertexNormals(benchmark::State& state) {
    KelModel* m = gridModel(state.range(0));
    kelFacetNormals(m);
    std::vector<float> normals(3 * (size_t(m->numvertices) + 1));
    for (auto _ : state) {
        std::fill(normals.begin(), normals.end(), 0.0f);
        for (unsigned t = 0; t < m->numtriangles; t++) {
            const KelTriangle& tri = m->triangles[t];
            const float* f = &m->facetnorms[3 * size_t(tri.findex)];
            for (unsigned v : tri.vindices) {
                float* n = &normals[3 * size_t(v)];
                n[0] += f[0];
                n[1] += f[1];
                n[2] += f[2];
            }
        }
        for (size_t i = 1; i <= m->numvertices; i++) {
            float* n = &normals[3 * i];
            float l = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
            if (l > 0) {
                n[0] /= l;
                n[1] /= l;
                n[2] /= l;
            }
        }
        benchmark::DoNotOptimize(normals.data());
    }
    setTriangles(state, m);
    kelDelete(m);
}

// --- Welding -------------------------------------------------------------------

// `count` vectors in the unit cube: with `duplicated`, count / 2 distinct
// ones each present twice, shuffled; otherwise all distinct.
std::vector<float> weldInput(size_t count, bool duplicated) {
    std::mt19937 rng(42);
    std::uniform_real_distribution<float> unit(0, 1);
    size_t distinct = duplicated ? count / 2 : count;
    std::vector<float> v;
    v.reserve(3 * count);
    for (size_t i = 0; i < distinct; i++)
        for (int c = 0; c < 3; c++) v.push_back(unit(rng));
    if (duplicated) {
        v.insert(v.end(), v.begin(), v.end());
        std::vector<size_t> order(count);
        for (size_t i = 0; i < count; i++) order[i] = i;
        std::shuffle(order.begin(), order.end(), rng);
        std::vector<float> shuffled(3 * count);
        for (size_t i = 0; i < count; i++) memcpy(&shuffled[3 * i], &v[3 * order[i]], 3 * sizeof(float));
        v.swap(shuffled);
    }
    return v;
}

void BM_Weld(benchmark::State& state) {
    size_t count = size_t(state.range(0));
    std::vector<float> input = weldInput(count, state.range(1));
    KelModel* m = static_cast<KelModel*>(calloc(1, sizeof(KelModel)));
    unsigned kept = 0;
    for (auto _ : state) {
        state.PauseTiming();
        free(m->vertices);
        m->numvertices = unsigned(count);
        m->vertices = static_cast<float*>(malloc(3 * sizeof(float) * (count + 1)));
        memcpy(&m->vertices[3], input.data(), input.size() * sizeof(float));
        state.ResumeTiming();
        kelWeld(m, 1e-6f);
        kept = m->numvertices;
    }
    state.counters["kept"] = kept;
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(count));
    kelDelete(m);
}

void BM_MeshoptRemap(benchmark::State& state) {
    size_t count = size_t(state.range(0));
    std::vector<float> input = weldInput(count, state.range(1));
    std::vector<unsigned> remap(count);
    size_t unique = 0;
    for (auto _ : state) {
        unique = meshopt_generateVertexRemap(remap.data(), nullptr, count, input.data(), count, 3 * sizeof(float));
        benchmark::DoNotOptimize(remap.data());
    }
    state.counters["kept"] = double(unique);
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(count));
}

// --- Texture coordinates ---------------------------------------------------------

void BM_LinearTexture(benchmark::State& state) {
    KelModel* m = gridModel(state.range(0));
    for (auto _ : state) {
        kelLinearTexture(m);
        benchmark::DoNotOptimize(m->texcoords);
    }
    setTriangles(state, m);
    kelDelete(m);
}

// --- Writing ---------------------------------------------------------------------

const char kOut[] = "/dev/shm/orvandel_bench_ops.obj";
const char kPlainOut[] = "/dev/shm/orvandel_bench_ops_plain.obj";

// The same text as kelWriteOBJ with KEL_SMOOTH | KEL_TEXTURE, through fprintf.
void plainWrite(const KelModel* m, const char* path) {
    FILE* f = fopen(path, "w");
    fprintf(f, "#  \n#  Wavefront OBJ generated by KEL library\n#  \n#  KEL library\n");
    fprintf(f, "#  Orvandel team\n#  team@orvandel.example\n#  https://orvandel.example\n#  \n");
    fprintf(f, "\n# %d vertices\n", m->numvertices);
    for (size_t i = 1; i <= m->numvertices; i++)
        fprintf(f, "v %f %f %f\n", m->vertices[3 * i], m->vertices[3 * i + 1], m->vertices[3 * i + 2]);
    fprintf(f, "\n# %d normals\n", m->numnormals);
    for (size_t i = 1; i <= m->numnormals; i++)
        fprintf(f, "vn %f %f %f\n", m->normals[3 * i], m->normals[3 * i + 1], m->normals[3 * i + 2]);
    fprintf(f, "\n# %d texcoords\n", m->numtexcoords);
    for (size_t i = 1; i <= m->numtexcoords; i++)
        fprintf(f, "vt %f %f\n", m->texcoords[2 * i], m->texcoords[2 * i + 1]);
    fprintf(f, "\n# %d groups\n# %d faces (triangles)\n\n", m->numgroups, m->numtriangles);
    for (const KelGroup* g = m->groups; g; g = g->next) {
        fprintf(f, "g %s\n", g->name);
        for (unsigned i = 0; i < g->numtriangles; i++) {
            const KelTriangle& t = m->triangles[g->triangles[i]];
            fprintf(f, "f %d/%d/%d %d/%d/%d %d/%d/%d\n", t.vindices[0], t.tindices[0], t.nindices[0], t.vindices[1],
                    t.tindices[1], t.nindices[1], t.vindices[2], t.tindices[2], t.nindices[2]);
        }
        fprintf(f, "\n");
    }
    fclose(f);
}

KelModel* writerModel(long triangles) {
    KelModel* m = gridModel(triangles);
    kelFacetNormals(m);
    kelVertexNormals(m, 90);
    kelLinearTexture(m);
    return m;
}

std::string slurp(const char* path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void BM_WriteOBJ(benchmark::State& state) {
    KelModel* m = writerModel(state.range(0));
    // Both writers must give the same bytes.
    kelWriteOBJ(m, kOut, KEL_SMOOTH | KEL_TEXTURE);
    plainWrite(m, kPlainOut);
    std::string ours = slurp(kOut);
    if (ours != slurp(kPlainOut)) state.SkipWithError("kelWriteOBJ and the fprintf writer differ");
    for (auto _ : state) kelWriteOBJ(m, kOut, KEL_SMOOTH | KEL_TEXTURE);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(ours.size()));
    setTriangles(state, m);
    remove(kOut);
    remove(kPlainOut);
    kelDelete(m);
}

// An exact save of the same model: the shortest text of every number, the
// faces in table order. Its peer is BM_WriteOBJ.
void BM_SaveOBJExact(benchmark::State& state) {
    KelModel* m = writerModel(state.range(0));
    KelSaveOptions options = {1, nullptr, nullptr, nullptr};
    for (auto _ : state)
        if (kelSaveOBJWithOptions(m, kOut, KEL_SMOOTH | KEL_TEXTURE, &options, nullptr) != KEL_OK)
            state.SkipWithError("the exact save failed");
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(slurp(kOut).size()));
    setTriangles(state, m);
    remove(kOut);
    kelDelete(m);
}

void BM_PlainFprintfWriter(benchmark::State& state) {
    KelModel* m = writerModel(state.range(0));
    for (auto _ : state) plainWrite(m, kPlainOut);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(slurp(kPlainOut).size()));
    setTriangles(state, m);
    remove(kPlainOut);
    kelDelete(m);
}

}  // namespace

// The machine is shared, so runs are best compared by their fastest
// repetition: --benchmark_repetitions=N reports a "min" line per benchmark.
double fastest(const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); }

#define MESH_SIZES \
    Arg(100000)->Arg(500000)->Arg(2000000)->Unit(benchmark::kMillisecond)->ComputeStatistics("min", fastest)
BENCHMARK(BM_FacetNormals)->MESH_SIZES;
BENCHMARK(BM_PlainFacetNormals)->MESH_SIZES;
BENCHMARK(BM_VertexNormals90)->MESH_SIZES;
BENCHMARK(BM_PlainVertexNormals)->MESH_SIZES;
// Vertex counts, and whether half are duplicates (1) or all are distinct (0).
#define WELD_SIZES                       \
    ArgNames({"vertices", "duplicated"}) \
        ->Args({250000, 1})              \
        ->Args({500000, 1})              \
        ->Args({1000000, 1})             \
        ->Args({2000000, 1})             \
        ->Args({2000000, 0})             \
        ->Unit(benchmark::kMillisecond)  \
        ->ComputeStatistics("min", fastest)
BENCHMARK(BM_Weld)->WELD_SIZES;
BENCHMARK(BM_MeshoptRemap)->WELD_SIZES;
BENCHMARK(BM_LinearTexture)->MESH_SIZES;
#define WRITE_SIZES Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)->ComputeStatistics("min", fastest)
BENCHMARK(BM_WriteOBJ)->WRITE_SIZES;
BENCHMARK(BM_SaveOBJExact)->WRITE_SIZES;
BENCHMARK(BM_PlainFprintfWriter)->WRITE_SIZES;

BENCHMARK_MAIN();
