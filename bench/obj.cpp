// Reading OBJ files of about two million triangles: kelReadOBJ against
// tinyobjloader, fast_obj and rapidobj (when built in: see obj.cmake) and a
// plain two-pass fscanf reader, in the same run.
//
// Four generated files: a grid of 1001 x 1001 vertices with positions,
// texture coordinates and normals (v/vt/vn triangles); the same grid with
// positions only; the grid with v/vt/vn quads, a group and a material every
// 1000 faces from a library of 50; and the positions grid in 100,000 parts
// as assemblies are exported, a group and a material (of 5000) every 20
// triangles. Each benchmark reports MB/s of
// file read; the counter peak_MiB is the high-water resident memory of a
// fresh process that reads the file once with that reader (this program run
// again with --peak), less that of a process that only starts. kel reads
// through its buffer, as by default; "kelmap" and "kelmap1" name kel
// mapping the file (mapInput) for --once and --paired.
//
// --once READER FILE reads FILE once and prints its triangle count and peak
// resident memory in KiB: the unit of tools/read-peers.sh's whole-process
// runs. --paired KEL PEER FILE PAIRS reads FILE with each of the two readers
// in turn, in this one process, after a first read by each that is not
// counted, and prints each pair's two wall times in microseconds: the unit
// of tools/read-peers.sh's in-process runs. --generate writes the four
// files (when missing), puts them in the page cache as a read from disk does
// (see cacheFromDisk) and prints their folder. --huge DIR writes a file of
// more than 4 GiB in DIR (about 4.5 GB; check the free space first), reads
// it with kel on every core and on one thread, checks what each read and
// removes it: by hand only, never in a benchmark run.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysinfo.h>
#include <sys/wait.h>
#include <tiny_obj_loader.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "bench/peak.h"
#include "kel/kel.h"

#if defined(ORVANDEL_HAVE_FAST_OBJ)
#include <fast_obj.h>
#endif
#if defined(ORVANDEL_HAVE_RAPIDOBJ)
#include <rapidobj/rapidobj.hpp>
#endif

// rapidobj takes no thread count: it starts one thread per processor that
// std::thread::hardware_concurrency reports, which libstdc++ asks
// get_nprocs. This definition takes the C library's place for the whole
// process, so a one-thread rapidobj read only needs `processors` set to 1.
static int processors = 0;
extern "C" int get_nprocs() noexcept { return processors > 0 ? processors : int(sysconf(_SC_NPROCESSORS_ONLN)); }

namespace {

const int kGrid = 1001;  // 2 * 1000 * 1000 triangles

std::string benchDir() {
    const char* tmp = getenv("TMPDIR");
    return std::string(tmp && *tmp ? tmp : "/tmp") + "/orvandel_bench_obj";
}

// The four files, by kind.
enum Kind { kTriangles, kPositions, kQuads, kParts };
const char* const kNames[] = {"grid_vtn_v1.obj", "grid_v_v1.obj", "grid_quads_v1.obj", "grid_parts_v1.obj"};
const char* const kLibraries[] = {nullptr, nullptr, "grid_quads_v1.mtl", "grid_parts_v1.mtl"};
const int kFacesPerGroup[] = {0, 0, 1000, 20}, kMaterials[] = {0, 0, 50, 5000};

// The file of a kind; another side than kGrid (the linear-growth files,
// triangles only) gets its side in the name.
std::string filePath(Kind kind, int side = kGrid) {
    if (side != kGrid) return benchDir() + "/grid_vtn_" + std::to_string(side) + ".obj";
    return benchDir() + "/" + kNames[kind];
}

size_t fileSize(const std::string& path) {
    struct stat s;
    return stat(path.c_str(), &s) == 0 ? size_t(s.st_size) : 0;
}

// Puts a file in the page cache as reading it from disk does: written back,
// dropped from the cache and read again. (Recent Linux kernels cache a
// file read from disk in large folios, while a file just written may stay
// in 4 KiB pages, which take a reader that maps the file about twice as
// long to map; models are mostly loaded from files written long before.)
void cacheFromDisk(const std::string& path) {
    int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0) return;
    fdatasync(fd);
    posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    static char block[1 << 20];
    while (read(fd, block, sizeof block) > 0) {
    }
    close(fd);
}

// A wavy grid, numbers written as exporters write them ("%.6f"); the quad
// file's positions span ten times as far, so they carry two integer digits.
void generate(Kind kind, int side = kGrid) {
    std::string path = filePath(kind, side);
    if (fileSize(path) > 0) return;
    mkdir(benchDir().c_str(), 0700);
    std::string partial = path + ".part";
    FILE* f = fopen(partial.c_str(), "w");
    if (!f) {
        fprintf(stderr, "bench_obj: can't write %s\n", partial.c_str());
        exit(1);
    }
    bool full = kind == kTriangles || kind == kQuads;
    double scale = kind == kQuads ? 10 : 1;
    const int materials = kMaterials[kind], facesPerGroup = kFacesPerGroup[kind];
    fprintf(f, "# %d x %d grid\n", side, side);
    if (const char* library = kLibraries[kind]) {
        FILE* mtl = fopen((benchDir() + "/" + library).c_str(), "w");
        if (!mtl) {
            fprintf(stderr, "bench_obj: can't write %s\n", library);
            exit(1);
        }
        for (int m = 0; m < materials; m++)
            fprintf(mtl, "newmtl m%d\nNs 32\nKa 0.1 0.1 0.1\nKd %.6f %.6f %.6f\nKs 0.5 0.5 0.5\n\n", m,
                    double(m) / materials, 1 - double(m) / materials, 0.5);
        fclose(mtl);
        fprintf(f, "mtllib %s\n", library);
    }
    for (int i = 0; i < side; i++)
        for (int j = 0; j < side; j++) {
            double x = i * 0.01 - 5, z = j * 0.01 - 5, y = 0.5 * std::sin(x * 1.3) * std::cos(z * 0.7);
            fprintf(f, "v %.6f %.6f %.6f\n", scale * x, scale * y, scale * z);
        }
    if (full) {
        for (int i = 0; i < side; i++)
            for (int j = 0; j < side; j++) fprintf(f, "vt %.6f %.6f\n", i / double(side - 1), j / double(side - 1));
        for (int i = 0; i < side; i++)
            for (int j = 0; j < side; j++) {
                double x = i * 0.01 - 5, z = j * 0.01 - 5;
                double dx = -0.65 * std::cos(x * 1.3) * std::cos(z * 0.7),
                       dz = 0.35 * std::sin(x * 1.3) * std::sin(z * 0.7);
                double l = std::sqrt(dx * dx + 1 + dz * dz);
                fprintf(f, "vn %.6f %.6f %.6f\n", dx / l, 1 / l, dz / l);
            }
    }
    if (!facesPerGroup) fprintf(f, "g grid\n");
    int faces = 0;
    for (int i = 0; i + 1 < side; i++)
        for (int j = 0; j + 1 < side; j++) {
            int a = i * side + j + 1, b = a + 1, c = a + side, d = c + 1;
            if (facesPerGroup && faces % facesPerGroup == 0) {
                int part = faces / facesPerGroup;
                fprintf(f, "g part%d\nusemtl m%d\n", part, part % materials);
            }
            faces += kind == kQuads ? 1 : 2;
            if (kind == kQuads) {
                fprintf(f, "f %d/%d/%d %d/%d/%d %d/%d/%d %d/%d/%d\n", a, a, a, c, c, c, d, d, d, b, b, b);
            } else if (full) {
                fprintf(f, "f %d/%d/%d %d/%d/%d %d/%d/%d\n", a, a, a, c, c, c, b, b, b);
                fprintf(f, "f %d/%d/%d %d/%d/%d %d/%d/%d\n", b, b, b, c, c, c, d, d, d);
            } else {
                fprintf(f, "f %d %d %d\nf %d %d %d\n", a, c, b, b, c, d);
            }
        }
    fclose(f);
    rename(partial.c_str(), path.c_str());
}

// --- The readers, each returning its triangle count -------------------------------

// kel with `threads` reading threads, 0 for its default (every core),
// reading the file through its buffer (the default) or mapping it.
KelModel* loadKel(const char* path, unsigned threads, bool map = false) {
    KelReadOptions options = {};
    options.threads = threads;
    options.mapInput = map;
    KelError error;
    KelModel* model = kelLoadOBJ(path, &options, &error);
    if (!model) {
        fprintf(stderr, "bench_obj: %s\n", error.message);
        exit(1);
    }
    return model;
}

size_t readKelThreads(const char* path, unsigned threads, bool map) {
    KelModel* m = loadKel(path, threads, map);
    size_t n = m->numtriangles;
    kelDelete(m);
    return n;
}
size_t readKel(const char* path) { return readKelThreads(path, 0, false); }
// From file to mesh (kelLoadMesh, default threads): vertex normals and
// texture coordinates where the file has them.
size_t readKelMesh(const char* path) {
    bool full = strstr(path, "vtn") || strstr(path, "quads");
    KelError error;
    KelMesh* mesh = kelLoadMesh(path, nullptr, full ? KEL_SMOOTH | KEL_TEXTURE : KEL_NONE, &error);
    if (!mesh) {
        fprintf(stderr, "bench_obj: %s\n", error.message);
        exit(1);
    }
    size_t n = mesh->numindices / 3;
    kelDeleteMesh(mesh);
    return n;
}
size_t readKel1(const char* path) { return readKelThreads(path, 1, false); }
size_t readKelMapped(const char* path) { return readKelThreads(path, 0, true); }
size_t readKelMapped1(const char* path) { return readKelThreads(path, 1, true); }

#if defined(ORVANDEL_HAVE_FAST_OBJ)
// fast_obj keeps polygons whole: a face of n corners counts n - 2 triangles.
size_t readFastObj(const char* path) {
    fastObjMesh* m = fast_obj_read(path);
    if (!m) return 0;
    size_t n = 0;
    for (unsigned i = 0; i < m->face_count; i++) n += m->face_vertices[i] - 2;
    fast_obj_destroy(m);
    return n;
}
#endif

#if defined(ORVANDEL_HAVE_RAPIDOBJ)
// rapidobj with `threads` threads (0 for one per processor); polygons whole
// as fast_obj keeps them.
size_t readRapidobjThreads(const char* path, int threads) {
    processors = threads;
    rapidobj::Result r = rapidobj::ParseFile(path);
    processors = 0;
    if (r.error) return 0;
    size_t n = 0;
    for (const rapidobj::Shape& s : r.shapes)
        for (size_t i = 0; i < s.mesh.num_face_vertices.size(); i++) n += s.mesh.num_face_vertices[i] - 2;
    return n;
}
size_t readRapidobj(const char* path) { return readRapidobjThreads(path, 0); }
size_t readRapidobj1(const char* path) { return readRapidobjThreads(path, 1); }
#endif

size_t readTinyobj(const char* path) {
    tinyobj::attrib_t attrib;
    std::vector<tinyobj::shape_t> shapes;
    std::vector<tinyobj::material_t> materials;
    std::string warn, err;
    if (!tinyobj::LoadObj(&attrib, &shapes, &materials, &warn, &err, path, nullptr, true)) return 0;
    size_t n = 0;
    for (const tinyobj::shape_t& s : shapes) n += s.mesh.num_face_vertices.size();
    return n;
}

// Two passes with the C library's stream scanner: count, allocate, rewind,
// fill. Knows the statements and face forms of the generated files.
struct ScanModel {
    std::vector<float> v, vt, vn;
    std::vector<unsigned> faces;  // 9 indices per triangle
};

size_t readFscanf(const char* path) {
    FILE* f = fopen(path, "r");
    if (!f) return 0;
    char token[128], line[256];
    size_t nv = 0, nvt = 0, nvn = 0, nf = 0;
    while (fscanf(f, "%127s", token) == 1) {
        if (strcmp(token, "v") == 0)
            nv++;
        else if (strcmp(token, "vt") == 0)
            nvt++;
        else if (strcmp(token, "vn") == 0)
            nvn++;
        else if (strcmp(token, "f") == 0)
            nf++;
        if (!fgets(line, sizeof line, f)) break;
    }
    ScanModel m;
    m.v.resize(3 * nv);
    m.vt.resize(2 * nvt);
    m.vn.resize(3 * nvn);
    m.faces.resize(9 * nf);
    rewind(f);
    float* v = m.v.data();
    float* vt = m.vt.data();
    float* vn = m.vn.data();
    unsigned* face = m.faces.data();
    while (fscanf(f, "%127s", token) == 1) {
        if (strcmp(token, "v") == 0) {
            if (fscanf(f, "%f %f %f", v, v + 1, v + 2) != 3) break;
            v += 3;
        } else if (strcmp(token, "vt") == 0) {
            if (fscanf(f, "%f %f", vt, vt + 1) != 2) break;
            vt += 2;
        } else if (strcmp(token, "vn") == 0) {
            if (fscanf(f, "%f %f %f", vn, vn + 1, vn + 2) != 3) break;
            vn += 3;
        } else if (strcmp(token, "f") == 0) {
            if (nvt) {
                if (fscanf(f, "%u/%u/%u %u/%u/%u %u/%u/%u", face, face + 1, face + 2, face + 3, face + 4, face + 5,
                           face + 6, face + 7, face + 8) != 9)
                    break;
            } else if (fscanf(f, "%u %u %u", face, face + 3, face + 6) != 3) {
                break;
            }
            face += 9;
        } else if (!fgets(line, sizeof line, f)) {
            break;
        }
    }
    fclose(f);
    return size_t(face - m.faces.data()) / 9;
}

using Reader = size_t (*)(const char*);
const std::map<std::string, Reader> readers = {
    {"kel", readKel},           {"kel1", readKel1},           {"kelmesh", readKelMesh},
    {"kelmap", readKelMapped},  {"kelmap1", readKelMapped1},  {"tinyobj", readTinyobj},
    {"fscanf", readFscanf},
#if defined(ORVANDEL_HAVE_FAST_OBJ)
    {"fast_obj", readFastObj},
#endif
#if defined(ORVANDEL_HAVE_RAPIDOBJ)
    {"rapidobj", readRapidobj}, {"rapidobj1", readRapidobj1},
#endif
    {"none", nullptr}};

void readFile(benchmark::State& state, const char* reader, Kind kind, int side) {
    std::string path = filePath(kind, side);
    generate(kind, side);
    cacheFromDisk(path);
    Reader read = readers.at(reader);
    size_t triangles = 0;
    for (auto _ : state) {
        triangles = read(path.c_str());
        benchmark::DoNotOptimize(triangles);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(fileSize(path)));
    state.counters["triangles"] = double(triangles);
    state.counters["file_MB"] = double(fileSize(path)) / 1e6;
    long base = peakKiB("none", path.c_str()), peak = peakKiB(reader, path.c_str());
    state.counters["peak_MiB"] = double(peak - base) / 1024.0;
}

void readBenchmark(benchmark::State& state, const char* reader, Kind kind) { readFile(state, reader, kind, kGrid); }

// Reading time against size: v/vt/vn triangle grids of about 25, 50, 100
// and 200 MB (sides 345, 487, 689 and 975). Linear growth shows as the same
// MB/s at every size.
void growthBenchmark(benchmark::State& state) { readFile(state, "kel", kTriangles, int(state.range(0))); }

// --- A file of more than 4 GiB (--huge, by hand) ------------------------------------

// 2^27 + 2^20 vertices (above 2^27, as unsigned 32-bit counts allow) of
// "v 0.aaaaaa -c.bbbbbb cc.aaaaaa" (about 4.4 GB) and 2^20 triangles
// whose last corners reach past vertex 2^27. Every number comes from the
// vertex's own index, so a check can write it again and compare.
const unsigned kHugeVertices = (1u << 27) + (1u << 20), kHugeTriangles = 1u << 20;

// The text of vertex i's three numbers.
void hugeNumbers(unsigned i, char* x, char* y, char* z) {
    unsigned a = i % 1000000, b = (i / 7) % 1000000, c = i / 1000000;
    snprintf(x, 16, "0.%06u", a);
    snprintf(y, 16, "-%u.%06u", c, b);
    snprintf(z, 16, "%u.%06u", c % 100, a);
}

void hugeCorners(unsigned t, unsigned* corners) {
    corners[0] = 1 + unsigned((uint64_t(t) * 2654435761u) % kHugeVertices);
    corners[1] = kHugeVertices - t;
    corners[2] = (1u << 27) + 1 + t;
}

// Digits of n before p; returns the new start.
char* digitsBefore(char* p, unsigned n) {
    do *--p = char('0' + n % 10);
    while (n /= 10);
    return p;
}

int hugeRun(const char* dir) {
    std::string path = std::string(dir) + "/orvandel_huge.obj";
    FILE* f = fopen(path.c_str(), "w");
    if (!f) {
        fprintf(stderr, "bench_obj: can't write %s\n", path.c_str());
        return 1;
    }
    // Written by hand: printf would take minutes over 4 GB.
    std::vector<char> out(size_t(1) << 20);
    size_t used = 0;
    auto flush = [&] {
        fwrite(out.data(), 1, used, f);
        used = 0;
    };
    auto write6 = [](char* p, unsigned n) {
        for (int k = 5; k >= 0; k--, n /= 10) p[k] = char('0' + n % 10);
    };
    for (unsigned i = 1; i <= kHugeVertices; i++) {
        if (out.size() - used < 64) flush();
        unsigned a = i % 1000000, b = (i / 7) % 1000000, c = i / 1000000;
        char* p = &out[used];
        char number[16];
        char* q;
        memcpy(p, "v 0.", 4);
        write6(p + 4, a);
        p += 10;
        memcpy(p, " -", 2);
        p += 2;
        q = digitsBefore(number + 16, c);
        memcpy(p, q, size_t(number + 16 - q));
        p += number + 16 - q;
        *p++ = '.';
        write6(p, b);
        p += 6;
        *p++ = ' ';
        q = digitsBefore(number + 16, c % 100);
        memcpy(p, q, size_t(number + 16 - q));
        p += number + 16 - q;
        *p++ = '.';
        write6(p, a);
        p += 6;
        *p++ = '\n';
        used = size_t(p - out.data());
    }
    for (unsigned t = 0; t < kHugeTriangles; t++) {
        if (out.size() - used < 64) flush();
        unsigned corners[3];
        hugeCorners(t, corners);
        used += size_t(snprintf(&out[used], 64, "f %u %u %u\n", corners[0], corners[1], corners[2]));
    }
    flush();
    bool written = fclose(f) == 0;
    size_t bytes = fileSize(path);
    printf("wrote %s: %.2f GiB, %u vertices, %u triangles\n", path.c_str(), double(bytes) / (1u << 30), kHugeVertices,
           kHugeTriangles);
    if (!written || bytes <= (size_t(4) << 30)) {
        fprintf(stderr, "bench_obj: the file is short (disk full?)\n");
        remove(path.c_str());
        return 1;
    }
    // Read on every core (two passes), then on one thread (one pass).
    long failures = 0;
    for (unsigned threads : {0u, 1u}) {
        KelReadOptions options = {};
        options.threads = threads;
        KelError error;
        auto start = std::chrono::steady_clock::now();
        KelModel* m = kelLoadOBJ(path.c_str(), &options, &error);
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (!m) {
            fprintf(stderr, "bench_obj: %s\n", error.message);
            failures++;
            continue;
        }
        // Counts, every 997th vertex and the last, every triangle.
        long wrong = 0;
        if (m->numvertices != kHugeVertices || m->numtriangles != kHugeTriangles) wrong++;
        auto checkVertex = [&](unsigned i) {
            char text[3][16];
            hugeNumbers(i, text[0], text[1], text[2]);
            for (int k = 0; k < 3; k++) {
                float expect = strtof(text[k], nullptr);
                if (memcmp(&expect, &m->vertices[3 * size_t(i) + k], sizeof expect) != 0) wrong++;
            }
        };
        if (wrong == 0) {
            for (unsigned i = 1; i <= kHugeVertices; i += 997) checkVertex(i);
            checkVertex(kHugeVertices);
        }
        for (unsigned t = 0; wrong == 0 && t < kHugeTriangles; t++) {
            unsigned corners[3];
            hugeCorners(t, corners);
            if (memcmp(corners, m->triangles[t].vindices, sizeof corners) != 0) wrong++;
        }
        printf("read with threads = %u in %.1f s (%.0f MB/s): %u vertices, %u triangles, %s\n", threads, seconds,
               double(bytes) / 1e6 / seconds, m->numvertices, m->numtriangles, wrong ? "WRONG" : "checked");
        failures += wrong;
        kelDelete(m);
    }
    remove(path.c_str());
    return failures ? 1 : 0;
}

}  // namespace

// The fscanf reader knows the triangle files' face forms only.
#define READ(name, reader, kind, iterations) \
    BENCHMARK_CAPTURE(readBenchmark, name, reader, kind)->Unit(benchmark::kMillisecond)->Iterations(iterations)
#if defined(ORVANDEL_HAVE_FAST_OBJ)
#define READ_FAST_OBJ(name, kind) READ(name, "fast_obj", kind, 3)
#else
#define READ_FAST_OBJ(name, kind)
#endif
#if defined(ORVANDEL_HAVE_RAPIDOBJ)
#define READ_RAPIDOBJ(name, kind)    \
    READ(name, "rapidobj", kind, 3); \
    READ(name##_1thread, "rapidobj1", kind, 3)
#else
#define READ_RAPIDOBJ(name, kind)
#endif
READ(kel_vtn, "kel", kTriangles, 3);
READ_FAST_OBJ(fast_obj_vtn, kTriangles);
READ_RAPIDOBJ(rapidobj_vtn, kTriangles);
READ(tinyobj_vtn, "tinyobj", kTriangles, 2);
READ(fscanf_vtn, "fscanf", kTriangles, 1);
READ(kel_v, "kel", kPositions, 3);
READ_FAST_OBJ(fast_obj_v, kPositions);
READ_RAPIDOBJ(rapidobj_v, kPositions);
READ(tinyobj_v, "tinyobj", kPositions, 2);
READ(fscanf_v, "fscanf", kPositions, 1);
READ(kel_quads, "kel", kQuads, 3);
READ_FAST_OBJ(fast_obj_quads, kQuads);
READ_RAPIDOBJ(rapidobj_quads, kQuads);
READ(tinyobj_quads, "tinyobj", kQuads, 2);
READ(kel_parts, "kel", kParts, 3);
READ(kel_parts_1thread, "kel1", kParts, 3);
READ_FAST_OBJ(fast_obj_parts, kParts);
READ_RAPIDOBJ(rapidobj_parts, kParts);
READ(tinyobj_parts, "tinyobj", kParts, 2);
BENCHMARK(growthBenchmark)->ArgName("side")->Arg(345)->Arg(487)->Arg(689)->Arg(975)->Unit(benchmark::kMillisecond);

// --paired: reads by two readers in turn, kel's first (see the top).
int pairedRuns(const char* kel, const char* peer, const char* path, int pairs) {
    auto first = readers.find(kel), second = readers.find(peer);
    if (first == readers.end() || second == readers.end() || !first->second || !second->second || pairs < 1) {
        fprintf(stderr, "bench_obj: --paired needs two readers of this build and a count of pairs\n");
        return 2;
    }
    auto timed = [path](Reader read) {
        auto start = std::chrono::steady_clock::now();
        size_t triangles = read(path);
        auto end = std::chrono::steady_clock::now();
        if (triangles == 0) {
            fprintf(stderr, "bench_obj: a reader read no triangles from %s\n", path);
            exit(1);
        }
        return long(std::chrono::duration_cast<std::chrono::microseconds>(end - start).count());
    };
    timed(first->second), timed(second->second);
    for (int i = 0; i < pairs; i++) {
        long us = timed(first->second);
        printf("%ld %ld\n", us, timed(second->second));
    }
    return 0;
}

int main(int argc, char** argv) {
    if (argc == 6 && strcmp(argv[1], "--paired") == 0) return pairedRuns(argv[2], argv[3], argv[4], atoi(argv[5]));
    bool once = argc == 4 && strcmp(argv[1], "--once") == 0;
    if (argc == 3 && strcmp(argv[1], "--huge") == 0) return hugeRun(argv[2]);
    if (argc == 2 && strcmp(argv[1], "--generate") == 0) {
        for (int kind = kTriangles; kind <= kParts; kind++) {
            generate(Kind(kind));
            cacheFromDisk(filePath(Kind(kind)));
        }
        printf("%s\n", benchDir().c_str());
        return 0;
    }
    if (once || (argc == 4 && strcmp(argv[1], "--peak") == 0)) {
        auto found = readers.find(argv[2]);
        if (found == readers.end()) {
            fprintf(stderr, "bench_obj: no reader %s in this build\n", argv[2]);
            return 2;
        }
        residentFiles();
        size_t triangles = found->second ? found->second(argv[3]) : 0;
        if (once && triangles == 0) {
            fprintf(stderr, "bench_obj: %s read no triangles from %s\n", argv[2], argv[3]);
            return 1;
        }
        if (once) printf("%zu ", triangles);
        long kib = highWaterKiB();
        printf("%ld\n", kib);
        return 0;
    }
#if !defined(ORVANDEL_HAVE_FAST_OBJ)
    printf("fast_obj: not built in (configure with -DORVANDEL_FAST_OBJ_DIR=<its folder>)\n");
#endif
#if !defined(ORVANDEL_HAVE_RAPIDOBJ)
    printf("rapidobj: not built in (configure with -DORVANDEL_RAPIDOBJ_DIR=<its folder>)\n");
#endif
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
