// From OBJ file to GPU-ready arrays on the generated 2M-triangle files
// (bench_obj --generate writes them): kelMakeMesh against the two merges a
// user writes by hand, and kelLoadMesh against fast_obj's read alone (when
// built in: see obj.cmake), each pairing measured in turn in one run.
//
// - make: the v/vt/vn model read once; per round kelMakeMesh (default
//   threads), meshoptimizer's path (the corners de-indexed into one stream
//   each, meshopt_generateVertexRemapMulti, meshopt_remapVertexBuffer per
//   stream, meshopt_remapIndexBuffer) and a std::unordered_map keyed on the
//   index triple, all from the same corners in drawing order.
// - load: per round kelLoadMesh (default threads, KEL_SMOOTH | KEL_TEXTURE
//   where the file has normals and texture coordinates) and fast_obj_read
//   of the same file.
// - peak: the high-water resident memory of a fresh process that runs
//   kelLoadMesh, and of one that runs kelLoadOBJ, on each file (this
//   program again with --peak), less that of one that only starts.
//
// Usage: bench_mesh [ROUNDS] (default 9): prints each pairing's median
// times, the median of the per-round ratios and their lowest and highest.
#include <meshoptimizer.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "bench/peak.h"
#include "kel/kel.h"

#if defined(ORVANDEL_HAVE_FAST_OBJ)
#include <fast_obj.h>
#endif

namespace {

std::string benchDir() {
    const char* tmp = getenv("TMPDIR");
    return std::string(tmp && *tmp ? tmp : "/tmp") + "/orvandel_bench_obj";
}
const char* const kFiles[] = {"grid_vtn_v1.obj", "grid_v_v1.obj", "grid_quads_v1.obj", "grid_parts_v1.obj"};
const unsigned kMode = KEL_SMOOTH | KEL_TEXTURE;
// What each file has: the positions-only files are made with positions only.
unsigned modeOf(const std::string& path) {
    return path.find("_v_") != std::string::npos || path.find("parts") != std::string::npos ? KEL_NONE : kMode;
}

KelModel* load(const std::string& path) {
    KelError error;
    KelModel* model = kelLoadOBJ(path.c_str(), nullptr, &error);
    if (!model) {
        fprintf(stderr, "bench_mesh: %s (run bench_obj --generate first)\n", error.message);
        exit(1);
    }
    return model;
}

// The corners in drawing order, as the peers take them.
struct Corners {
    std::vector<unsigned> v, n, t;
};
Corners cornersOf(const KelModel* m) {
    Corners c;
    for (const KelGroup* g = m->groups; g; g = g->next)
        for (unsigned i = 0; i < g->numtriangles; i++) {
            const KelTriangle& t = m->triangles[g->triangles[i]];
            for (int k = 0; k < 3; k++) {
                c.v.push_back(t.vindices[k]);
                c.n.push_back(t.nindices[k]);
                c.t.push_back(t.tindices[k]);
            }
        }
    return c;
}

// What each merge returns: vertex count and a checksum of the indices.
struct Result {
    size_t vertices;
    unsigned long long sum;
};

Result makeKel(const KelModel* m, const Corners&) {
    KelMesh* mesh = kelMakeMesh(m, kMode, nullptr);
    Result r = {mesh->numvertices, 0};
    for (unsigned i = 0; i < mesh->numindices; i++) r.sum += mesh->indices[i];
    kelDeleteMesh(mesh);
    return r;
}

Result makeMeshopt(const KelModel* m, const Corners& c) {
    size_t count = c.v.size();
    std::vector<float> p(3 * count), n(3 * count), t(2 * count);
    for (size_t i = 0; i < count; i++) {
        memcpy(&p[3 * i], &m->vertices[3 * size_t(c.v[i])], 3 * sizeof(float));
        memcpy(&n[3 * i], &m->normals[3 * size_t(c.n[i])], 3 * sizeof(float));
        memcpy(&t[2 * i], &m->texcoords[2 * size_t(c.t[i])], 2 * sizeof(float));
    }
    meshopt_Stream streams[] = {{p.data(), 3 * sizeof(float), 3 * sizeof(float)},
                                {n.data(), 3 * sizeof(float), 3 * sizeof(float)},
                                {t.data(), 2 * sizeof(float), 2 * sizeof(float)}};
    std::vector<unsigned> remap(count);
    size_t unique = meshopt_generateVertexRemapMulti(remap.data(), nullptr, count, count, streams, 3);
    std::vector<float> positions(3 * unique), normals(3 * unique), texcoords(2 * unique);
    meshopt_remapVertexBuffer(positions.data(), p.data(), count, 3 * sizeof(float), remap.data());
    meshopt_remapVertexBuffer(normals.data(), n.data(), count, 3 * sizeof(float), remap.data());
    meshopt_remapVertexBuffer(texcoords.data(), t.data(), count, 2 * sizeof(float), remap.data());
    std::vector<unsigned> indices(count);
    meshopt_remapIndexBuffer(indices.data(), nullptr, count, remap.data());
    Result r = {unique, 0};
    for (unsigned i : indices) r.sum += i;
    return r;
}

struct TripleHash {
    size_t operator()(const std::array<unsigned, 3>& k) const {
        return std::hash<unsigned long long>()((static_cast<unsigned long long>(k[0]) << 32) ^ k[1] ^
                                               (static_cast<unsigned long long>(k[2]) << 16));
    }
};

Result makeMap(const KelModel* m, const Corners& c) {
    std::unordered_map<std::array<unsigned, 3>, unsigned, TripleHash> ids;
    ids.reserve(m->numvertices);
    std::vector<float> positions, normals, texcoords;
    std::vector<unsigned> indices;
    indices.reserve(c.v.size());
    for (size_t i = 0; i < c.v.size(); i++) {
        auto [at, added] = ids.try_emplace({c.v[i], c.n[i], c.t[i]}, unsigned(ids.size()));
        if (added) {
            positions.insert(positions.end(), &m->vertices[3 * size_t(c.v[i])], &m->vertices[3 * size_t(c.v[i]) + 3]);
            normals.insert(normals.end(), &m->normals[3 * size_t(c.n[i])], &m->normals[3 * size_t(c.n[i]) + 3]);
            texcoords.insert(texcoords.end(), &m->texcoords[2 * size_t(c.t[i])], &m->texcoords[2 * size_t(c.t[i]) + 2]);
        }
        indices.push_back(at->second);
    }
    Result r = {ids.size(), 0};
    for (unsigned i : indices) r.sum += i;
    return r;
}

template <typename F>
double seconds(F f) {
    auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// One pairing's line: both medians, and the ratios' median, lowest and
// highest.
void report(const char* what, const char* peer, const std::vector<double>& ours, const std::vector<double>& theirs) {
    std::vector<double> ratios;
    for (size_t i = 0; i < ours.size(); i++) ratios.push_back(ours[i] / theirs[i]);
    printf("| %s | %.1f ms | %s %.1f ms | %.3f (%.3f to %.3f) |\n", what, 1e3 * median(ours), peer,
           1e3 * median(theirs), median(ratios), *std::min_element(ratios.begin(), ratios.end()),
           *std::max_element(ratios.begin(), ratios.end()));
    fflush(stdout);
}

void makeRounds(int rounds) {
    std::string path = benchDir() + "/" + kFiles[0];
    KelModel* m = load(path);
    Corners c = cornersOf(m);
    Result a = makeKel(m, c), b = makeMeshopt(m, c), d = makeMap(m, c);  // a first run each, not counted
    if (a.vertices != b.vertices || a.vertices != d.vertices || a.sum != d.sum) {
        fprintf(stderr, "bench_mesh: the merges disagree (%zu, %zu, %zu vertices)\n", a.vertices, b.vertices,
                d.vertices);
        exit(1);
    }
    std::vector<double> kel, meshopt, map;
    for (int i = 0; i < rounds; i++) {
        kel.push_back(seconds([&] { makeKel(m, c); }));
        meshopt.push_back(seconds([&] { makeMeshopt(m, c); }));
        kel.push_back(seconds([&] { makeKel(m, c); }));
        map.push_back(seconds([&] { makeMap(m, c); }));
    }
    // Each peer pairs with the kel run just before it.
    std::vector<double> kelA, kelB;
    for (size_t i = 0; i < kel.size(); i++) (i % 2 ? kelB : kelA).push_back(kel[i]);
    printf("%s: %u triangles, %zu vertices\n", kFiles[0], m->numtriangles, a.vertices);
    report("kelMakeMesh", "meshoptimizer's remap", kelA, meshopt);
    report("kelMakeMesh", "std::unordered_map", kelB, map);
    kelDelete(m);
}

#if defined(ORVANDEL_HAVE_FAST_OBJ)
void loadRounds(int rounds) {
    for (const char* file : kFiles) {
        std::string path = benchDir() + "/" + file;
        auto kel = [&] {
            KelError error;
            KelMesh* mesh = kelLoadMesh(path.c_str(), nullptr, modeOf(path), &error);
            if (!mesh) {
                fprintf(stderr, "bench_mesh: %s (run bench_obj --generate first)\n", error.message);
                exit(1);
            }
            kelDeleteMesh(mesh);
        };
        auto fast = [&] { fast_obj_destroy(fast_obj_read(path.c_str())); };
        kel(), fast();
        std::vector<double> ours, theirs;
        for (int i = 0; i < rounds; i++) {
            ours.push_back(seconds(kel));
            theirs.push_back(seconds(fast));
        }
        std::string what = std::string("kelLoadMesh ") + file;
        report(what.c_str(), "fast_obj read", ours, theirs);
    }
}
#endif

int peakRun(const char* what, const char* path) {
    residentFiles();
    if (strcmp(what, "mesh") == 0) {
        kelDeleteMesh(kelLoadMesh(path, nullptr, modeOf(path), nullptr));
    } else if (strcmp(what, "obj") == 0) {
        KelModel* m = kelLoadOBJ(path, nullptr, nullptr);
        if (m) kelDelete(m);
    }
    long kib = highWaterKiB();
    printf("%ld\n", kib);
    return 0;
}

void peaks(int rounds) {
    for (const char* file : kFiles) {
        std::string path = benchDir() + "/" + file;
        std::vector<double> mesh, obj, ratios;
        for (int i = 0; i < rounds; i++) {
            double base = double(peakKiB("none", path.c_str()));
            mesh.push_back((double(peakKiB("mesh", path.c_str())) - base) / 1024);
            obj.push_back((double(peakKiB("obj", path.c_str())) - base) / 1024);
            ratios.push_back(mesh.back() / obj.back());
        }
        printf("| peak %s | kelLoadMesh %.1f MiB | kelLoadOBJ %.1f MiB | %.4f (%.4f to %.4f) |\n", file, median(mesh),
               median(obj), median(ratios), *std::min_element(ratios.begin(), ratios.end()),
               *std::max_element(ratios.begin(), ratios.end()));
        fflush(stdout);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && strcmp(argv[1], "--peak") == 0) return peakRun(argv[2], argv[3]);
    int rounds = argc > 1 ? atoi(argv[1]) : 9;
    if (rounds < 1) rounds = 9;
    printf("| measure | kel (median) | peer (median) | kel / peer: median (lowest to highest) |\n|---|---|---|---|\n");
    makeRounds(rounds);
#if defined(ORVANDEL_HAVE_FAST_OBJ)
    loadRounds(rounds);
#else
    printf("fast_obj: not built in (configure with -DORVANDEL_FAST_OBJ_DIR=<its folder>)\n");
#endif
    peaks(rounds);
    return 0;
}
